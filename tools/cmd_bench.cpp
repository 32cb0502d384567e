// `tarvo bench [--seconds S] [--repeat N]`: measures the engine's speed on one thread and
// prints JSON:
// - "realtimeFactor": seconds of audio rendered per second of CPU time, at 44100 and 48000 Hz
//   in host blocks of 64 and 512 frames, for an idle plug-in, one hit, the start kit's
//   pattern and the worst case (32 voices, every effect slot on with its costliest unit);
// - "costs" in nanoseconds: one voice-hop (four voices per track, and one per track), one
//   track-hop of the resynthesis bank (the inverse FFT and its overlap-add), one Blob reader
//   frame on the engine's path, the hop kernel alone (per voice of a full set of lanes solved
//   side by side on the engine's path, and for one voice on its own on the baseline path),
//   every effect unit per stereo frame and `analyzeAudio` per second of input;
// - "reference": the fixed arithmetic kernel's time and the worst-case real-time factor
//   relative to it, the figure the speed regression test watches.
// - "vectorPath": the path of the hop and frame kernels the engine takes
//   (TARVO_VECTOR_PATH=baseline forces the baseline on a processor with AVX2).
// Each figure is the best of --repeat runs (default 3); a run renders --seconds of audio
// (default 2). CPU time of the calling thread is used, so other processes on the machine
// disturb the figures only through shared caches.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "analysis/AudioAnalysis.h"
#include "bench/scenes/KitScenes.h"
#include "effects/FxTypes.h"
#include "engine/BlobReader.h"
#include "engine/HopSynthesis.h"
#include "engine/ResynthBank.h"
#include "tools/Command.h"
#include "tools/Json.h"

namespace tarvo::tool {
namespace {

// CPU time each cost measurement runs for, at least.
constexpr double costSeconds = 0.2;
constexpr float costRate = 44100.0f;
constexpr double nanoseconds = 1e9;

// Best-of-repeat CPU seconds per call of work(), each run lasting at least costSeconds.
template <class Work> double perCall(Work&& work, int repeat) {
    double best = 1e30;
    for (int r = 0; r < repeat; ++r) {
        long calls = 0;
        const double start = scenes::threadCpuSeconds();
        double used = 0.0;
        do {
            for (int i = 0; i < 64; ++i) work();
            calls += 64;
            used = scenes::threadCpuSeconds() - start;
        } while (used < costSeconds);
        best = std::min(best, used / static_cast<double>(calls));
    }
    return best;
}

// A plain engine without effect units, with `polyphony` voices sounding on each track when
// loaded (all 32 at the most); one call renders one hop.
struct EngineHop {
    std::unique_ptr<BandSynth> engine = std::make_unique<BandSynth>();
    std::array<float, 2 * BandSynth::hopSize> buffer{};
    float* outputs[2] = {buffer.data(), buffer.data() + BandSynth::hopSize};
    bool loaded;
    int hops = 0;

    explicit EngineHop(bool withVoices, int polyphony = Track::voiceCount) : loaded(withVoices) {
        engine->prepare(costRate);
        for (int s = 0; s < ParamLayout::fxSlotCount; ++s)
            engine->param(engine->layout.fxSlotBase[static_cast<size_t>(s)] + fxPower).set(0.0f);
        for (int t = 0; t < BandSynth::trackCount; ++t) {
            TrackBlobs& blobs = engine->tracks[static_cast<size_t>(t)].blobs;
            blobs.slotA.working.clear();
            scenes::shapeHit(blobs.slotB.working, 1.2f, 0.5f, 0.5f, 0.0f);
            blobs.publish();
            const int base = engine->layout.trackBase[static_cast<size_t>(t)];
            engine->param(base + trackPolyphony).set(static_cast<float>(polyphony));
            engine->param(base + trackTransform).set(50.0f);
        }
    }
    void operator()() {
        // Restarted every half second, before any voice ends.
        if (loaded && hops++ % (scenes::worstCaseRestartFrames / BandSynth::hopSize) == 0)
            for (const MidiMessage& m : scenes::notesForWorstCase())
                engine->noteEvent(m.data1, m.data2 / 127.0f, m.status & 0x0F);
        engine->renderSubBlock(outputs, BandSynth::hopSize, 2, 0);
    }
    int voices() const {
        int n = 0;
        for (const Track& t : engine->tracks) n += t.activeVoices;
        return n;
    }
};

void addCosts(JsonWriter& json, int repeat) {
    json.key("costs").beginObject();
    json.key("unit").value("ns");

    // A voice-hop: the engine with 32 voices against the idle engine, less the eight track
    // hops with an inverse FFT that the voices cause.
    EngineTables tables;
    tables.prepare(costRate);
    ResynthBank bank;
    bank.prepare(tables);
    bank.setShelf(costRate, ResynthBank::trackShelfHz, ResynthBank::trackShelfGain);
    std::array<Complex, maxBinCount> values{};
    for (size_t i = 0; i < values.size(); ++i) values[i] = {std::cos(0.3f * i), std::sin(0.7f * i)};
    std::array<float, hopSize> samples{};
    bool silent = false;
    const double trackHop = perCall(
        [&] {
            bank.addBands(values.data());
            bank.addExtraBins(values.data() + tables.bandCount);
            bank.hop();
            bank.read(samples.data(), hopSize, silent);
        },
        repeat);
    const double idleTrackHop = perCall(
        [&] {
            bank.hop();
            bank.read(samples.data(), hopSize, silent);
        },
        repeat);
    EngineHop idle(false);
    const double idleHop = perCall(idle, repeat);
    // One voice's share of an engine hop: the hop less an idle one and the eight banks' work.
    const auto perVoiceHop = [&](EngineHop& busy) {
        const double busyHop = perCall(busy, repeat);
        const int voices = std::max(busy.voices(), 1);
        return (busyHop - idleHop - BandSynth::trackCount * (trackHop - idleTrackHop)) /
               static_cast<double>(voices);
    };
    EngineHop busy(true);
    json.key("voiceHop").value(perVoiceHop(busy) * nanoseconds);
    json.key("voicesMeasured").value(busy.voices());
    // The same with one voice per track: the eight voices share two solves.
    EngineHop single(true, 1);
    json.key("voiceHopOnePerTrack").value(perVoiceHop(single) * nanoseconds);
    json.key("voicesMeasuredOnePerTrack").value(single.voices());
    json.key("trackHopInverseFft").value(trackHop * nanoseconds);

    Fft fft(8, 0);
    std::array<float, fftSize> re{}, time{};
    for (int i = 0; i < fftHalf; ++i) re[static_cast<size_t>(i)] = std::sin(0.1f * i);
    json.key("inverseFft")
        .value(perCall([&] { fft.inverseSplit(re.data(), re.data() + fftHalf, time.data()); }, repeat) *
               nanoseconds);

    // One frame of the Blob reader in the plane part, morphing between two shaped Blobs
    // through a velocity model with contrast, on the frame kernels of the engine's path.
    Blob a, b;
    scenes::shapeHit(a, 2.0f, 0.3f, 0.8f, -0.02f);
    scenes::shapeHit(b, 3.0f, 0.6f, 0.6f, 0.02f);
    BlobReader reader;
    TailNoise tailNoise;
    std::array<float, plane::bandCount> frame{};
    const FrameControls controls{0.5f, 1.5f, 0.3f};
    const auto readFrame = [&] {
        if (reader.lastPos() > 90.0f || reader.timePos() == 0.0f) reader.start(&a, &b, 0.5f, 0, 0.8f, 1.0f);
        reader.renderFrame(1.0f, controls, tailNoise, frame.data(), frameKernels(defaultVectorPath()));
    };
    json.key("renderFrame").value(perCall(readFrame, repeat) * nanoseconds);

    // The hop kernel alone: features of three frames and the per-bin synthesis.
    std::array<std::array<float, guardedFrameSize>, 3> frames{};
    reader.start(&a, &b, 0.5f, -1, 0.8f, 1.0f);
    for (auto& f : frames) {
        reader.renderFrame(1.0f, controls, tailNoise, f.data() + 1);
        setFrameGuards(f.data());
    }
    HopFeatures features{};
    std::array<float, maxBinCount> amp{}, noiseFrac{}, tonal{}, coupling{}, freq{}, power{}, scratch{};
    std::array<Complex, maxBinCount> phasor{}, binState{}, noiseState{};
    ExtraBinBands extraBands{};
    uint32_t seed = 1;
    const HopWork work{amp.data(),    noiseFrac.data(), tonal.data(),   coupling.data(), freq.data(),
                       phasor.data(), power.data(),     scratch.data(), &extraBands};
    // The kernels of the path the engine takes on this machine.
    const HopKernels& kernels = hopKernels(defaultVectorPath());
    json.key("hopFeatures")
        .value(perCall(
                   [&] {
                       kernels.features(frames[0].data(), frames[1].data(), frames[2].data(), tables.freqPoly,
                                        features);
                   },
                   repeat) *
               nanoseconds);
    // The hop kernel per voice as the engine runs it for a full set of lanes: each voice up to
    // the coherence solve, one solve for all lanes side by side, then the mixing.
    auto lanes = std::make_unique<LaneSolve>();
    std::array<std::array<Complex, maxBinCount>, solveLanes> laneState{}, laneNoise{}, lanePhasor{};
    std::array<std::array<float, maxBinCount>, solveLanes> laneAmp{}, laneNoiseFrac{}, laneTonal{},
        laneCoupling{};
    std::array<LaneOperands, solveLanes> operands{};
    const int binCount = tables.binCount;
    const double allLanes = perCall(
        [&] {
            for (int l = 0; l < solveLanes; ++l) {
                const auto i = static_cast<size_t>(l);
                HopWork laneWork = work;
                laneWork.amp = laneAmp[i].data();
                laneWork.noiseFrac = laneNoiseFrac[i].data();
                laneWork.tonalWeight = laneTonal[i].data();
                laneWork.couplingWeight = laneCoupling[i].data();
                laneWork.stepPhasor = lanePhasor[i].data();
                kernels.prepare(tables, features, frames[1].data(), 0.2f, false,
                                VoiceBins{laneState[i].data(), laneNoise[i].data(), &seed}, laneWork);
                operands[i] = {laneTonal[i].data(), laneCoupling[i].data(), lanePhasor[i].data(),
                               laneState[i].data()};
            }
            kernels.loadLanes(binCount, operands.data(), *lanes);
            kernels.solve(binCount, *lanes, solveLanes);
            kernels.storeLanes(binCount, operands.data(), *lanes);
            for (int l = 0; l < solveLanes; ++l) {
                const auto i = static_cast<size_t>(l);
                kernels.finish(binCount, 0.2f, laneAmp[i].data(), laneNoiseFrac[i].data(),
                               VoiceBins{laneState[i].data(), laneNoise[i].data(), &seed});
            }
        },
        repeat);
    json.key("hopKernel").value(allLanes / solveLanes * nanoseconds);
    // One voice alone, solved on its own.
    json.key("hopKernelOneVoice")
        .value(perCall(
                   [&] {
                       synthesizeVoiceHop(tables, features, frames[1].data(), 0.2f, false,
                                          VoiceBins{binState.data(), noiseState.data(), &seed}, work);
                   },
                   repeat) *
               nanoseconds);

    // Every effect unit per stereo frame, in blocks of one hop, on noise.
    json.key("effectPerFrame").beginObject();
    std::array<float, hopSize> left{}, right{}, source{};
    uint32_t noise = 7;
    for (float& v : source) {
        noise = lcgNext(noise);
        v = static_cast<float>(noise >> 8) / 16777216.0f - 0.5f;
    }
    for (const FxTypeList* list : {&sendFxTypes(), &mainFxTypes()}) {
        for (const FxBase* prototype : list->prototypes) {
            std::unique_ptr<FxBase> unit(prototype->create());
            Param params[2];
            unit->bindParams(params);
            unit->setSampleRate(costRate);
            float* io[2] = {left.data(), right.data()};
            const double block = perCall(
                [&] {
                    left = source;
                    right = source;
                    unit->process(io, io, hopSize);
                },
                repeat);
            json.key(prototype->name()).value(block / hopSize * nanoseconds);
        }
    }
    json.endObject();

    // The analyser on one second of a decaying, falling tone with noise.
    std::vector<float> hit(static_cast<size_t>(costRate));
    for (size_t i = 0; i < hit.size(); ++i) {
        const float t = static_cast<float>(i) / costRate;
        noise = lcgNext(noise);
        const float n = static_cast<float>(noise >> 8) / 16777216.0f - 0.5f;
        hit[i] = std::exp(-8.0f * t) *
                 (std::sin(6.2831853f * (60.0f + 100.0f * std::exp(-30.0f * t)) * t) + 0.3f * n);
    }
    Blob analysed;
    const double analysis = perCall([&] { analyzeAudio(analysed, hit, costRate); }, 1);
    json.key("analyzeAudioPerSecond").value(analysis * nanoseconds);
    json.endObject();
}

int runBench(const std::vector<std::string>& args) {
    double seconds = 2.0;
    int repeat = 3;
    std::string text;
    if (flagValue(args, "--seconds", text)) {
        seconds = std::atof(text.c_str());
        if (!(seconds >= 0.1 && seconds <= 60.0)) {
            std::fputs("tarvo bench: --seconds takes 0.1 to 60\n", stderr);
            return 2;
        }
    }
    if (flagValue(args, "--repeat", text)) {
        repeat = std::atoi(text.c_str());
        if (repeat < 1 || repeat > 20) {
            std::fputs("tarvo bench: --repeat takes 1 to 20\n", stderr);
            return 2;
        }
    }

    JsonWriter json;
    json.beginObject();
    json.key("vectorPath").value(defaultVectorPath() == VectorPath::avx2 ? "avx2" : "baseline");
    json.key("realtimeFactor").beginObject();
    constexpr std::array<std::pair<scenes::Load, const char*>, 4> loads{{{scenes::Load::idle, "idle"},
                                                                         {scenes::Load::hit, "hit"},
                                                                         {scenes::Load::pattern, "pattern"},
                                                                         {scenes::Load::worst, "worst"}}};
    double worst44 = 0.0;
    for (const float rate : {44100.0f, 48000.0f}) {
        json.key(std::to_string(static_cast<int>(rate))).beginObject();
        for (const int block : {64, 512}) {
            json.key(std::to_string(block)).beginObject();
            for (const auto& [load, name] : loads) {
                double best = 0.0;
                for (int r = 0; r < repeat; ++r)
                    best = std::max(best, scenes::realtimeFactor(load, rate, block, seconds));
                json.key(name).value(best);
                if (load == scenes::Load::worst && rate == 44100.0f && block == 512) worst44 = best;
            }
            json.endObject();
        }
        json.endObject();
    }
    json.endObject();

    addCosts(json, repeat);

    double kernel = 1e30;
    for (int r = 0; r < repeat; ++r) kernel = std::min(kernel, scenes::referenceKernelSeconds());
    json.key("reference").beginObject();
    json.key("kernelSeconds").value(kernel);
    // Worst-case real-time factor at 44.1 kHz in blocks of 512, times the kernel's time.
    json.key("worstTimesKernel").value(worst44 * kernel);
    json.endObject();
    json.endObject();
    json.print();
    return 0;
}

const CommandRegistration registration("bench", "[--seconds S] [--repeat N]", runBench);

} // namespace
} // namespace tarvo::tool
