#include "bench/scenes/KitScenes.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>

#if defined(__unix__) || defined(__APPLE__)
#include <time.h>
#define TARVO_THREAD_CLOCK 1
#endif

#include "effects/Distortion.h"
#include "effects/FxTypes.h"

namespace tarvo::scenes {

namespace {

constexpr double twoPi = 6.283185307179586;
// Ticks of one sixteenth-note step and of the notes the patterns play (half a step).
constexpr int stepTicks = StepSequencer::ticksPerStep;
constexpr int patternNoteTicks = stepTicks / 2;
// Pattern velocities of 'x' and 'o' steps.
constexpr int loudVelocity = 120, softVelocity = 70;
// Idle ticks and silent blocks allowed for the effect slots to take their units.
constexpr int maxInstallRounds = 400;
// Untimed audio before a measurement, so that voices, tails and effects have settled.
constexpr double warmUpSeconds = 0.25;
// A retriggered single hit: one note every half second keeps one voice sounding.
constexpr double hitPeriodSeconds = 0.5;

// One track of a kit: the shape of its Blobs (B absent when bDecay is 0), its sound
// parameters and its pattern ('x' loud, 'o' soft, one character per sixteenth).
struct KitTrack {
    float decay, centre, strength, drift;
    float bDecay, bCentre, bStrength, bDrift;
    float frequency, density, release, pan, send1, send2;
    const char* steps;
};

// The effect units of the four slots, by name.
struct KitEffects {
    const char* units[FxSlot::slotCount];
};

// The kit the plug-in starts with until a stored start preset takes its place.
constexpr KitTrack startKitTracks[] = {
    {3.5f, 0.12f, 0.85f, -0.04f, 0, 0, 0, 0, -200.0f, -60.0f, 0.2f, 0.0f, 0.0f, 0.1f, "x..x..x...x....."},
    {2.5f, 0.45f, 0.6f, 0.0f, 0, 0, 0, 0, 0.0f, 50.0f, 0.15f, 10.0f, 0.3f, 0.1f, "....x.......x..o"},
    {4.5f, 0.85f, 0.7f, 0.0f, 0, 0, 0, 0, 200.0f, 90.0f, 0.03f, -30.0f, 0.2f, 0.0f, "x.o.x.o.x.o.x.ox"},
    {3.0f, 0.3f, 0.8f, -0.03f, 0, 0, 0, 0, -100.0f, -30.0f, 0.2f, 35.0f, 0.2f, 0.3f, "..........o..o.."},
};
constexpr KitEffects startKitEffects{{"Plate Reverb", "Tempo Delay", "Sticky Compressor", "Limiter"}};

// The reference scene's kit. Frozen: any change here changes the stored reference render.
constexpr KitTrack referenceTracks[] = {
    {3.5f, 0.12f, 0.85f, -0.04f, 0, 0, 0, 0, -200.0f, -60.0f, 0.2f, 0.0f, 0.0f, 0.1f, "x..x..x...x....."},
    {2.5f, 0.45f, 0.6f, 0.0f, 0, 0, 0, 0, 0.0f, 50.0f, 0.15f, 10.0f, 0.3f, 0.1f, "....x.......x..o"},
    {4.5f, 0.85f, 0.7f, 0.0f, 0, 0, 0, 0, 200.0f, 90.0f, 0.03f, -30.0f, 0.2f, 0.0f, "x.o.x.o.x.o.x.ox"},
    {3.0f, 0.3f, 0.8f, -0.03f, 0, 0, 0, 0, -100.0f, -30.0f, 0.2f, 35.0f, 0.2f, 0.3f, "..........o..o.."},
    // Played by MIDI notes below: a morph between a low and a high Blob, ...
    {2.0f, 0.2f, 0.8f, -0.05f, 4.0f, 0.7f, 0.6f, 0.05f, 0.0f, 0.0f, 0.3f, -50.0f, 0.4f, 0.2f,
     "................"},
    // ... a stretched hit through a velocity model, ...
    {2.5f, 0.5f, 0.5f, 0.0f, 0, 0, 0, 0, 120.0f, 20.0f, 0.5f, 50.0f, 0.1f, 0.4f, "................"},
    // ... a bright, noisy one with a short release and damping, ...
    {3.0f, 0.6f, 0.7f, 0.02f, 0, 0, 0, 0, 300.0f, 60.0f, 0.05f, -20.0f, 0.0f, 0.5f, "................"},
    // ... and a low, purely tonal one whose velocity moves the morph.
    {1.5f, 0.25f, 0.9f, -0.02f, 3.0f, 0.4f, 0.7f, 0.0f, -400.0f, -100.0f, 1.0f, 20.0f, 0.3f, 0.0f,
     "................"},
};
constexpr KitEffects referenceEffects{{"Room Reverb", "Tempo Delay", "Sticky Compressor", "Tape Simulator"}};

// The costliest unit of each list, by measurement (`tarvo bench` lists every unit's cost).
constexpr KitEffects worstCaseEffects{{"Room Reverb", "Room Reverb", "Tape Simulator", "Tape Simulator"}};

Param& trackParam(Ombrix& plugin, int track, int which) {
    BandSynth& e = plugin.engine;
    return e.param(e.layout.trackBase[static_cast<size_t>(track)] + which);
}

// Sets the four effect slots to the named units and switches them on, then alternates idle
// ticks and silent blocks until every slot holds its unit.
void installEffects(Ombrix& plugin, const KitEffects& effects) {
    BandSynth& e = plugin.engine;
    for (int s = 0; s < FxSlot::slotCount; ++s) {
        const FxTypeList& list = s < FxSlot::firstMainSlot ? sendFxTypes() : mainFxTypes();
        const auto found = std::find_if(list.names.begin(), list.names.end(), [&](const char* name) {
            return std::strcmp(name, effects.units[s]) == 0;
        });
        if (found == list.names.end()) throw std::logic_error("no effect unit of that name");
        const int base = e.layout.fxSlotBase[static_cast<size_t>(s)];
        e.param(base + fxType).set(static_cast<float>(found - list.names.begin()));
        e.param(base + fxPower).set(1.0f);
    }
    std::array<float, 2 * BandSynth::hopSize> silence{};
    float* outputs[2] = {silence.data(), silence.data() + BandSynth::hopSize};
    for (int round = 0; round < maxInstallRounds; ++round) {
        plugin.idleTick();
        bool installed = true;
        for (const FxSlot& slot : e.fxSlots)
            installed = installed && slot.typeIndex.load() == slot.requestedType();
        if (installed) return;
        plugin.processBlock(outputs, 2, BandSynth::hopSize, HostTransport{});
    }
    throw std::runtime_error("effect units were not installed");
}

void applyKit(Ombrix& plugin, const KitTrack* tracks, int count, const KitEffects& effects) {
    BandSynth& e = plugin.engine;
    StepSequencer& seq = plugin.sequencer;
    seq.clear(StepSequencer::allTracks);
    seq.param(StepSequencer::paramBpm).set(120.0f);
    seq.param(StepSequencer::paramHostSync).set(0.0f);
    for (int t = 0; t < BandSynth::trackCount; ++t) {
        TrackBlobs& blobs = e.tracks[static_cast<size_t>(t)].blobs;
        if (t >= count) {
            blobs.slotA.working.present = 0;
            blobs.slotB.working.present = 0;
            continue;
        }
        const KitTrack& k = tracks[t];
        shapeHit(blobs.slotA.working, k.decay, k.centre, k.strength, k.drift);
        blobs.slotA.working.present = 1;
        if (k.bDecay > 0.0f) {
            shapeHit(blobs.slotB.working, k.bDecay, k.bCentre, k.bStrength, k.bDrift);
            blobs.slotB.working.present = 1;
        } else {
            blobs.slotB.working.present = 0;
        }
        trackParam(plugin, t, trackFrequency).set(k.frequency);
        trackParam(plugin, t, trackDensity).set(k.density);
        trackParam(plugin, t, trackRelease).set(k.release);
        trackParam(plugin, t, trackPan).set(k.pan);
        trackParam(plugin, t, trackSend1).set(k.send1);
        trackParam(plugin, t, trackSend2).set(k.send2);
        for (int step = 0; step < 16 && k.steps[step] != '\0'; ++step) {
            if (k.steps[step] == '.') continue;
            seq.insertNote(t, step * stepTicks, patternNoteTicks,
                           k.steps[step] == 'x' ? loudVelocity : softVelocity);
        }
    }
    installEffects(plugin, effects);
}

// Queues the notes of a retriggered load that fall into the next block.
void queueLoadNotes(Ombrix& plugin, Load load, long frame, int blockFrames, long period) {
    if (period <= 0) return;
    const long first = (frame + period - 1) / period * period;
    for (long at = first; at < frame + blockFrames; at += period) {
        const int offset = static_cast<int>(at - frame);
        if (load == Load::hit) {
            plugin.midiIn({offset, 0x90, static_cast<uint8_t>(Ombrix::sequencerBaseNote), 100});
        } else {
            for (MidiMessage m : notesForWorstCase()) {
                m.offset = offset;
                plugin.midiIn(m);
            }
        }
    }
}

} // namespace

void shapeHit(Blob& blob, float decay, float centre, float strength, float drift) {
    const float frames = static_cast<float>(plane::frameCount);
    const float bands = static_cast<float>(plane::bandCount);
    for (int r = 0; r < Blob::timeRowCount; ++r) {
        // Higher rows die a little sooner.
        const float exponent = decay * (1.0f + 0.08f * static_cast<float>(r));
        for (int k = 0; k < Blob::timeKnotCount; ++k) {
            const float u = static_cast<float>(k) / static_cast<float>(Blob::timeKnotCount - 1);
            blob.timeWarps[static_cast<size_t>(r)][static_cast<size_t>(k)] = frames * std::pow(u, exponent);
        }
    }
    for (int c = 0; c < Blob::freqColumnCount; ++c) {
        const double uc = std::clamp(centre + drift * static_cast<float>(c), 0.02f, 0.98f);
        // u - a/2pi (sin 2pi(u - uc) - sin(-2pi uc)): monotone for a < 1, flattest at uc.
        const double a = std::clamp(strength, 0.0f, 0.95f);
        for (int k = 0; k < Blob::freqKnotCount; ++k) {
            const double u = static_cast<double>(k) / (Blob::freqKnotCount - 1);
            const double g = u - a / twoPi * (std::sin(twoPi * (u - uc)) - std::sin(-twoPi * uc));
            blob.freqWarps[static_cast<size_t>(c)][static_cast<size_t>(k)] = static_cast<float>(bands * g);
        }
    }
    blob.normalise();
}

void loadStartKit(Ombrix& plugin) {
    applyKit(plugin, startKitTracks, static_cast<int>(std::size(startKitTracks)), startKitEffects);
}

void loadWorstCase(Ombrix& plugin) {
    BandSynth& e = plugin.engine;
    plugin.sequencer.clear(StepSequencer::allTracks);
    for (int t = 0; t < BandSynth::trackCount; ++t) {
        TrackBlobs& blobs = e.tracks[static_cast<size_t>(t)].blobs;
        // Long, dense sounds read from both slots, through a velocity model and contrast:
        // every optional step of the reader runs.
        blobs.slotA.working.clear();
        blobs.slotA.working.present = 1;
        shapeHit(blobs.slotB.working, 1.2f, 0.5f, 0.5f, 0.0f);
        blobs.slotB.working.present = 1;
        trackParam(plugin, t, trackPolyphony).set(4.0f);
        trackParam(plugin, t, trackTransform).set(50.0f);
        trackParam(plugin, t, trackModel).set(4.0f);
        trackParam(plugin, t, trackContrast).set(30.0f);
        trackParam(plugin, t, trackSend1).set(0.5f);
        trackParam(plugin, t, trackSend2).set(0.5f);
    }
    installEffects(plugin, worstCaseEffects);
}

std::vector<MidiMessage> notesForWorstCase() {
    std::vector<MidiMessage> notes;
    for (int t = 0; t < BandSynth::trackCount; ++t)
        for (int v = 0; v < Track::voiceCount; ++v)
            notes.push_back({0, static_cast<uint8_t>(0x90 | v),
                             static_cast<uint8_t>(Ombrix::sequencerBaseNote + t + 12 * v), 100});
    return notes;
}

double threadCpuSeconds() {
#if defined(TARVO_THREAD_CLOCK)
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
#else
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
#endif
}

double realtimeFactor(Load load, float rate, int blockFrames, double seconds) {
    auto plugin = std::make_unique<Ombrix>();
    plugin->reset(rate);
    plugin->skipFirstStart();
    if (load == Load::worst)
        loadWorstCase(*plugin);
    else
        loadStartKit(*plugin);
    if (load == Load::pattern) plugin->setPlaying(1);
    const long period = load == Load::hit     ? std::lround(hitPeriodSeconds * rate)
                        : load == Load::worst ? std::lround(worstCaseRestartFrames * rate / 44100.0)
                                              : 0;

    std::vector<float> buffer(2 * static_cast<size_t>(blockFrames));
    float* outputs[2] = {buffer.data(), buffer.data() + blockFrames};
    const long warmUp = std::lround(warmUpSeconds * rate);
    const long total = warmUp + std::lround(seconds * rate);
    long frame = 0;
    double started = 0.0;
    for (bool timing = false; frame < total; frame += blockFrames) {
        if (!timing && frame >= warmUp) {
            timing = true;
            started = threadCpuSeconds();
        }
        queueLoadNotes(*plugin, load, frame, blockFrames, period);
        plugin->processBlock(outputs, 2, blockFrames, HostTransport{});
    }
    const double used = threadCpuSeconds() - started;
    const double rendered = static_cast<double>(total - warmUp) / rate;
    return used > 0.0 ? rendered / used : 0.0;
}

double referenceKernelSeconds() {
    constexpr int bins = 150;
    constexpr int rounds = 50000;
    std::array<float, bins> re{}, im{}, rotRe{}, rotIm{};
    for (int j = 0; j < bins; ++j) {
        const double w = 0.37 * j;
        re[j] = static_cast<float>(std::cos(w));
        im[j] = static_cast<float>(std::sin(w));
        rotRe[j] = static_cast<float>(std::cos(0.01 * j));
        rotIm[j] = static_cast<float>(std::sin(0.01 * j));
    }
    const double start = threadCpuSeconds();
    for (int r = 0; r < rounds; ++r) {
        for (int j = 0; j < bins; ++j) {
            // Rotate, then pull the magnitude back towards 1.
            const float x = re[j] * rotRe[j] - im[j] * rotIm[j];
            const float y = re[j] * rotIm[j] + im[j] * rotRe[j];
            const float g = 1.5f / (std::sqrt(x * x + y * y) + 0.5f);
            re[j] = x * g;
            im[j] = y * g;
        }
    }
    const double used = threadCpuSeconds() - start;
    // Keeps the loop's result alive.
    volatile float sink = re[bins / 2] + im[bins / 3];
    (void)sink;
    return used;
}

std::vector<float> renderReferenceScene(VectorPath path) {
    // The tape units share one generator per process; the scene starts it from its seed.
    CompTape::restartSharedRandom();
    auto plugin = std::make_unique<Ombrix>();
    plugin->engine.setVectorPath(path);
    plugin->reset(static_cast<float>(referenceRate));
    plugin->skipFirstStart();
    applyKit(*plugin, referenceTracks, static_cast<int>(std::size(referenceTracks)), referenceEffects);
    trackParam(*plugin, 4, trackPolyphony).set(2.0f);
    trackParam(*plugin, 5, trackTimescale).set(2.0f);
    trackParam(*plugin, 5, trackModel).set(5.0f);
    trackParam(*plugin, 5, trackContrast).set(40.0f);
    trackParam(*plugin, 6, trackContrast).set(-50.0f);
    trackParam(*plugin, 6, trackDamping).set(50.0f);
    trackParam(*plugin, 7, trackTimescale).set(0.5f);
    trackParam(*plugin, 7, trackModel).set(1.0f);
    trackParam(*plugin, 7, trackTransform).set(30.0f);
    plugin->setPlaying(1);

    // Notes on the tracks the pattern leaves alone: frame, note, velocity (0: note off).
    struct SceneNote {
        int frame, note, velocity;
    };
    constexpr SceneNote notes[] = {
        {0, 40, 127},   {11025, 41, 40}, {15000, 40, 0},   {22050, 42, 90},  {22050, 43, 10},
        {30000, 42, 0}, {33075, 40, 64}, {44100, 41, 127}, {50000, 52, 100}, {55125, 43, 127},
        {60000, 43, 0}, {66150, 42, 30}, {70000, 40, 110}, {77175, 41, 1},   {80000, 42, 0},
    };
    static_assert(Ombrix::sequencerBaseNote == 36, "the scene's notes 40 to 43 (and 52) play tracks 5 to 8");

    // Host blocks of changing sizes, so that notes and hops meet at every alignment.
    constexpr int blockSizes[] = {256, 100, 64, 333, 17, 512, 128};
    std::vector<float> left(referenceFrames), right(referenceFrames);
    size_t nextNote = 0, nextSize = 0;
    for (int done = 0; done < referenceFrames;) {
        const int n = std::min(blockSizes[nextSize++ % std::size(blockSizes)], referenceFrames - done);
        for (; nextNote < std::size(notes) && notes[nextNote].frame < done + n; ++nextNote) {
            const SceneNote& s = notes[nextNote];
            plugin->midiIn({s.frame - done, static_cast<uint8_t>(s.velocity > 0 ? 0x90 : 0x80),
                            static_cast<uint8_t>(s.note), static_cast<uint8_t>(s.velocity)});
        }
        // The morph of track 5 sweeps across the bar.
        trackParam(*plugin, 4, trackTransform).set(100.0f * static_cast<float>(done) / referenceFrames);
        float* outputs[2] = {left.data() + done, right.data() + done};
        plugin->processBlock(outputs, 2, n, HostTransport{});
        plugin->idleTick();
        done += n;
    }

    std::vector<float> interleaved(2 * static_cast<size_t>(referenceFrames));
    for (size_t i = 0; i < left.size(); ++i) {
        interleaved[2 * i] = left[i];
        interleaved[2 * i + 1] = right[i];
    }
    return interleaved;
}

} // namespace tarvo::scenes
