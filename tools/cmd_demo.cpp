// `tarvo demo --out FILE.wav`: renders a two-bar groove of four tracks playing cleared Blobs,
// shaped into kick, snare, hat and tom by their sound parameters, through the whole plug-in
// object (MIDI queue, engine, mixer and effects) into a stereo float WAV.
#include <cstdio>
#include <memory>
#include <vector>

#include "instrument/Ombrix.h"
#include "tools/Command.h"
#include "tools/WavWriter.h"

namespace tarvo::tool {
namespace {

constexpr int demoRate = 44100;
constexpr int blockFrames = 256;
// Sixteenth notes at 120 BPM.
constexpr int stepFrames = demoRate / 8;
constexpr int stepCount = 32;
// Frames rendered after the last step, for the tails.
constexpr int tailFrames = demoRate;

struct Voicing {
    float frequency; // mel
    float density;
    float release; // seconds after the note off
    float pan;
    const char* steps; // 'x' loud, 'o' soft, one character per sixteenth of one bar
};

// Track 1 kick, 2 snare, 3 hat, 4 tom.
constexpr Voicing voicings[] = {
    {-480.0f, -60.0f, 0.18f, 0.0f, "x..x..x...x....."},
    {-40.0f, 60.0f, 0.12f, 10.0f, "....x.......x..o"},
    {420.0f, 100.0f, 0.03f, -30.0f, "x.o.x.o.x.o.x.ox"},
    {-260.0f, -20.0f, 0.2f, 35.0f, "..........o..o.."},
};
constexpr int voicingCount = static_cast<int>(sizeof voicings / sizeof voicings[0]);

int runDemo(const std::vector<std::string>& args) {
    std::string out;
    if (!flagValue(args, "--out", out) || out.empty()) {
        std::fputs("tarvo demo: --out FILE.wav is required\n", stderr);
        return 2;
    }
    auto plugin = std::make_unique<Ombrix>();
    plugin->reset(static_cast<float>(demoRate));
    BandSynth& engine = plugin->engine;
    swapFxUnits(engine.fxSlots, static_cast<float>(demoRate), engine.keepFxParamValues);
    for (int t = 0; t < voicingCount; ++t) {
        const Voicing& v = voicings[t];
        const int base = engine.layout.trackBase[static_cast<size_t>(t)];
        engine.param(base + trackFrequency).set(v.frequency);
        engine.param(base + trackDensity).set(v.density);
        engine.param(base + trackRelease).set(v.release);
        engine.param(base + trackPan).set(v.pan);
        TrackBlobs& blobs = engine.tracks[static_cast<size_t>(t)].blobs;
        blobs.slotA.working.clear();
        blobs.slotB.working.present = 0;
        blobs.publish();
    }

    const int total = stepCount * stepFrames + tailFrames;
    std::vector<float> left(static_cast<size_t>(total)), right(static_cast<size_t>(total));
    const HostTransport transport{};
    for (int done = 0; done < total; done += blockFrames) {
        const int n = std::min(blockFrames, total - done);
        // Queue the notes that start or end within this block: each note lasts one step.
        for (int step = 0; step < stepCount; ++step) {
            for (int t = 0; t < voicingCount; ++t) {
                const char mark = voicings[t].steps[step % 16];
                if (mark == '.') continue;
                const auto note = static_cast<uint8_t>(Ombrix::sequencerBaseNote + t);
                const int on = step * stepFrames, off = on + stepFrames;
                if (on >= done && on < done + n)
                    plugin->midiIn({on - done, 0x90, note, static_cast<uint8_t>(mark == 'x' ? 120 : 70)});
                if (off >= done && off < done + n) plugin->midiIn({off - done, 0x80, note, 0});
            }
        }
        float* outputs[2] = {left.data() + done, right.data() + done};
        plugin->processBlock(outputs, 2, n, transport);
    }

    std::vector<float> interleaved(2 * static_cast<size_t>(total));
    for (size_t i = 0; i < left.size(); ++i) {
        interleaved[2 * i] = left[i];
        interleaved[2 * i + 1] = right[i];
    }
    if (const FileWriteResult written = writeFloatWav(out, interleaved, 2, demoRate); !written) {
        std::fprintf(stderr, "tarvo demo: %s\n", written.error.c_str());
        return 1;
    }
    return 0;
}

const CommandRegistration registration("demo", "--out FILE.wav", runDemo);

} // namespace
} // namespace tarvo::tool
