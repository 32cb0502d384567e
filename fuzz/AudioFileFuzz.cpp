// WAV and AIFF files as the importer reads them, from hostile bytes. Input: the file.
// Checks: a decoded file has channels of equal length and finite samples; a refusal says
// why. (The rate is the analyser's to judge: it refuses rates it cannot analyse.)

#include <cmath>
#include <span>
#include <string>

#include "analysis/AudioFile.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvo::AudioFileData decoded;
    std::string message;
    if (!tarvo::decodeAudioBytes(std::span<const uint8_t>(data, size), decoded, message)) {
        TARVO_FUZZ_CHECK(!message.empty());
        return 0;
    }
    TARVO_FUZZ_CHECK(decoded.channelCount() > 0);
    for (const auto& channel : decoded.samples) {
        TARVO_FUZZ_CHECK(channel.size() == decoded.frameCount());
        for (float sample : channel) TARVO_FUZZ_CHECK(std::isfinite(sample));
    }
    return 0;
}
