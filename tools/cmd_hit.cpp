// `tarvo hit --blob A.blob [--blob-b B.blob] [--velocity 0..127] [--rate SR] [--seconds S]
// [--set NAME=VALUE ...] --out hit.wav`: renders one note of track 1 with its slots loaded
// from Blob files ("clear" gives the even mesh), effect slots off, into a stereo float WAV,
// and prints the render's peak, RMS and length as JSON.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "engine/BandSynth.h"
#include "tools/Command.h"
#include "tools/Json.h"
#include "tools/WavWriter.h"

namespace tarvo::tool {
namespace {

// Note that plays track 1.
constexpr int trackOneNote = 36;
// Longest render the command accepts, in seconds.
constexpr double maxSeconds = 600.0;

bool parseNumber(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end != nullptr && *end == '\0' && std::isfinite(value);
}

// Fills a slot from "clear" or a Blob file; reports why it could not.
bool loadSlot(BlobSlot& slot, const std::string& source, std::string& reason) {
    if (source == "clear") {
        slot.working.clear();
        slot.working.present = 1;
        return true;
    }
    Blob blob;
    if (!readBlobFile(source, blob, reason)) return false;
    slot.working.copyFrom(blob, false);
    slot.working.present = 1;
    return true;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "tarvo hit: %s\n", message.c_str());
    return 2;
}

int runHit(const std::vector<std::string>& args) {
    std::string out, blobA, blobB, text;
    if (!flagValue(args, "--out", out) || out.empty()) return fail("--out FILE.wav is required");
    if (!flagValue(args, "--blob", blobA) || blobA.empty())
        return fail("--blob FILE.blob (or clear) is required");
    const bool hasB = flagValue(args, "--blob-b", blobB);
    double velocity = 100.0, rate = 44100.0, seconds = 2.0;
    if (flagValue(args, "--velocity", text) &&
        (!parseNumber(text, velocity) || velocity < 0 || velocity > 127))
        return fail("--velocity takes a number from 0 to 127");
    if (flagValue(args, "--rate", text) && (!parseNumber(text, rate) || rate < 8000 || rate > 384000))
        return fail("--rate takes a sample rate from 8000 to 384000");
    if (flagValue(args, "--seconds", text) &&
        (!parseNumber(text, seconds) || seconds <= 0 || seconds > maxSeconds))
        return fail("--seconds takes a length above 0 and up to 600");

    auto engine = std::make_unique<BandSynth>();
    BandSynth& synth = *engine;
    synth.prepare(static_cast<float>(rate));
    for (int s = 0; s < ParamLayout::fxSlotCount; ++s)
        synth.param(synth.layout.fxSlotBase[static_cast<size_t>(s)] + fxPower).set(0.0f);

    const int trackBase = synth.layout.trackBase[0];
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] != "--set") continue;
        const std::string& assignment = args[i + 1];
        const size_t equals = assignment.find('=');
        double value = 0.0;
        if (equals == std::string::npos || !parseNumber(assignment.substr(equals + 1), value))
            return fail("--set takes NAME=VALUE, not \"" + assignment + "\"");
        const std::string name = assignment.substr(0, equals);
        bool found = false;
        for (int p = 0; p < ParamLayout::trackStride && !found; ++p) {
            Param& param = synth.param(trackBase + p);
            if (param.name != nullptr && name == param.name) {
                param.set(static_cast<float>(value));
                found = true;
            }
        }
        if (!found) return fail("track 1 has no parameter \"" + name + "\"");
    }

    Track& track = synth.tracks[0];
    std::string reason;
    if (!loadSlot(track.blobs.slotA, blobA, reason)) return fail(reason);
    if (hasB) {
        if (!loadSlot(track.blobs.slotB, blobB, reason)) return fail(reason);
    } else {
        track.blobs.slotB.working.present = 0;
    }
    track.blobs.publish();

    synth.noteEvent(trackOneNote, static_cast<float>(velocity / 127.0), 0);
    const auto frames = static_cast<size_t>(std::llround(seconds * rate));
    std::vector<float> left(frames), right(frames);
    for (size_t done = 0; done < frames;) {
        const int n = static_cast<int>(std::min<size_t>(BandSynth::hopSize, frames - done));
        float* outputs[2] = {left.data() + done, right.data() + done};
        synth.renderSubBlock(outputs, n, 2, 0);
        done += static_cast<size_t>(n);
    }

    std::vector<float> interleaved(2 * frames);
    double peak = 0.0, energy = 0.0;
    for (size_t i = 0; i < frames; ++i) {
        interleaved[2 * i] = left[i];
        interleaved[2 * i + 1] = right[i];
        peak = std::max(
            {peak, std::fabs(static_cast<double>(left[i])), std::fabs(static_cast<double>(right[i]))});
        energy += static_cast<double>(left[i]) * left[i] + static_cast<double>(right[i]) * right[i];
    }
    if (const FileWriteResult written = writeFloatWav(out, interleaved, 2, static_cast<int>(rate));
        !written) {
        std::fprintf(stderr, "tarvo hit: %s\n", written.error.c_str());
        return 1;
    }
    JsonWriter json;
    json.beginObject();
    json.key("peak").value(peak);
    json.key("rms").value(frames > 0 ? std::sqrt(energy / (2.0 * static_cast<double>(frames))) : 0.0);
    json.key("seconds").value(static_cast<double>(frames) / rate);
    json.endObject();
    json.print();
    return 0;
}

const CommandRegistration registration("hit",
                                       "--blob A.blob|clear [--blob-b B.blob] [--velocity V] [--rate SR] "
                                       "[--seconds S] [--set NAME=VALUE] --out FILE.wav",
                                       runHit);

} // namespace
} // namespace tarvo::tool
