// The analyser, fed hostile audio: extreme and non-finite samples, huge and tiny sample
// rates, single samples. Input: a rate choice (u8; 255 reads the rate as f64 from the next
// bytes), a sample level (f32, 0 for raw), then 32-bit samples: as raw floats when the level
// is 0, otherwise as signed integers scaled by it.
// Checks: the analyser returns a finite value; a refusal returns 1 and leaves the Blob as it
// was; an accepted input gives a normalised Blob with finite, ordered knots and finite derived
// values. On a sample of accepted inputs: the same input gives the same Blob again.

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "analysis/AudioAnalysis.h"
#include "engine/Blob.h"
#include "fuzz/FuzzInput.h"

using tarvo::Blob;

namespace {

// Rates a file can claim, the edges of what the analyser takes and beyond.
constexpr double rates[] = {44100.0,
                            48000.0,
                            8000.0,
                            1000.0,
                            999.999,
                            6.0e6,
                            6.0e6 + 1.0,
                            384000.0,
                            1.0,
                            0.0,
                            -44100.0,
                            std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::denorm_min(),
                            std::numeric_limits<double>::max()};
// Accepted inputs that are analysed a second time.
constexpr uint32_t againOneIn = 8;
// Samples read at most: a little over a second at 44.1 kHz.
constexpr int maxSamples = 1 << 16;

bool sameKnots(const Blob& a, const Blob& b) {
    return a.timeWarps == b.timeWarps && a.freqWarps == b.freqWarps;
}

template <typename List> void checkList(const List& list) {
    for (size_t k = 0; k < list.size(); ++k) {
        TARVO_FUZZ_CHECK(std::isfinite(list[k]));
        if (k > 0) TARVO_FUZZ_CHECK(list[k] >= list[k - 1]);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tarvo::fuzz::FuzzInput in(data, size);
    const uint8_t choice = in.u8();
    const double rate = choice == 255 ? in.f64() : rates[choice % std::size(rates)];
    const float level = in.f32();
    std::vector<float> samples;
    while (!in.empty() && static_cast<int>(samples.size()) < maxSamples) {
        const uint32_t bits = in.u32();
        if (level == 0.0f) {
            float raw;
            std::memcpy(&raw, &bits, sizeof raw);
            samples.push_back(raw);
        } else {
            samples.push_back(static_cast<float>(static_cast<int32_t>(bits)) * level);
        }
    }

    Blob blob;
    blob.clear();
    const Blob before = blob;
    const float value = tarvo::analyzeAudio(blob, samples, rate);
    TARVO_FUZZ_CHECK(std::isfinite(value));
    if (sameKnots(blob, before) && blob.version == before.version) {
        TARVO_FUZZ_CHECK(value == 1.0f);
        return 0;
    }
    for (const Blob::TimeRow& row : blob.timeWarps) checkList(row);
    for (const Blob::FreqColumn& column : blob.freqWarps) checkList(column);
    TARVO_FUZZ_CHECK(std::isfinite(blob.energy) && blob.energy > 0.0f);
    TARVO_FUZZ_CHECK(std::isfinite(blob.length));
    for (float tail : blob.tailTime) TARVO_FUZZ_CHECK(std::isfinite(tail));

    if (!tarvo::fuzz::inSample(data, size, againOneIn)) return 0;
    Blob again;
    again.clear();
    TARVO_FUZZ_CHECK(tarvo::analyzeAudio(again, samples, rate) == value);
    TARVO_FUZZ_CHECK(sameKnots(again, blob) && again.energy == blob.energy);
    return 0;
}
