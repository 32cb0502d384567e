// The whole engine at 44.1 kHz through the plug-in object, in host blocks of 64 and 512
// frames: one voice, a four-track kit pattern, and all 32 voices sounding. Reports the
// real-time factor (seconds of audio per second of computing) and the cost of one voice
// hop (all per-hop work divided by the voices synthesized).
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "instrument/Ombrix.h"

namespace tarvo {
namespace {

constexpr float benchRate = 44100.0f;
// Sixteenth notes at 120 BPM.
constexpr int stepFrames = 5512;

enum class Load { oneVoice, kit, allVoices };

// Kick, snare, hat and tom over one bar of sixteenths ('x' plays).
constexpr const char* kitSteps[] = {"x..x..x...x.....", "....x.......x...", "x.x.x.x.x.x.x.xx",
                                    "..........x..x.."};

void engineRun(benchmark::State& state, Load load) {
    const int block = static_cast<int>(state.range(0));
    auto plugin = std::make_unique<Ombrix>();
    plugin->reset(benchRate);
    BandSynth& engine = plugin->engine;
    swapFxUnits(engine.fxSlots, benchRate, engine.keepFxParamValues);
    for (int t = 0; t < BandSynth::trackCount; ++t) {
        TrackBlobs& blobs = engine.tracks[static_cast<size_t>(t)].blobs;
        blobs.slotA.working.clear();
        blobs.slotB.working.clear();
        blobs.publish();
        const int base = engine.layout.trackBase[static_cast<size_t>(t)];
        engine.param(base + trackPolyphony).set(load == Load::allVoices ? 4.0f : 1.0f);
    }

    std::vector<float> buffer(2 * static_cast<size_t>(block));
    float* outputs[2] = {buffer.data(), buffer.data() + block};
    const HostTransport transport{};
    long frame = 0;
    double voiceHops = 0.0, frames = 0.0;
    auto queueNotes = [&](int from, int count) {
        for (int i = 0; i < count; ++i) {
            const long at = from + i;
            if (load == Load::kit) {
                if (at % stepFrames != 0) continue;
                const long step = at / stepFrames;
                for (int t = 0; t < 4; ++t)
                    if (kitSteps[t][step % 16] == 'x')
                        plugin->midiIn({i, 0x90, static_cast<uint8_t>(36 + t), 110});
            } else if (at % (8 * stepFrames) == 0) {
                // Long notes, restarted every half bar so the voices never run out.
                const int tracks = load == Load::oneVoice ? 1 : BandSynth::trackCount;
                const int voices = load == Load::oneVoice ? 1 : 4;
                for (int t = 0; t < tracks; ++t)
                    for (int v = 0; v < voices; ++v)
                        plugin->midiIn(
                            {i, static_cast<uint8_t>(0x90 | v), static_cast<uint8_t>(36 + t + 12 * v), 100});
            }
        }
    };
    for (auto _ : state) {
        queueNotes(static_cast<int>(frame % (16 * stepFrames)), block);
        plugin->processBlock(outputs, 2, block, transport);
        benchmark::DoNotOptimize(buffer.data());
        int active = 0;
        for (const Track& track : engine.tracks) active += track.activeVoices;
        voiceHops += active * (block / static_cast<double>(BandSynth::hopSize));
        frames += block;
        frame += block;
    }
    state.counters["realtime_x"] = benchmark::Counter(frames / benchRate, benchmark::Counter::kIsRate);
    state.counters["voice_hop_s"] =
        benchmark::Counter(voiceHops, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["voices"] = voiceHops / (frames / BandSynth::hopSize);
}

void oneVoice(benchmark::State& state) {
    engineRun(state, Load::oneVoice);
}
void kitPattern(benchmark::State& state) {
    engineRun(state, Load::kit);
}
void allVoices(benchmark::State& state) {
    engineRun(state, Load::allVoices);
}
BENCHMARK(oneVoice)->Arg(64)->Arg(512);
BENCHMARK(kitPattern)->Arg(64)->Arg(512);
BENCHMARK(allVoices)->Arg(64)->Arg(512);

} // namespace
} // namespace tarvo
