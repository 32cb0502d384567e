#include "control/ModSystem.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "control/EngineControls.h"
#include "control/LfoBeatRates.h"
#include "control/ParamLayout.h"

namespace tarvo {

namespace {

// "Beat Rate" value n/d: one LFO cycle per n/d whole notes.
constexpr int beatRateCount = 15;
constexpr std::array<int, beatRateCount> beatRateNumerator{4, 3, 2, 3, 1, 6, 1, 1, 3, 1, 1, 1, 1, 1, 1};
constexpr std::array<int, beatRateCount> beatRateDenominator{1,  1, 1, 2,  1,  8,  2, 4,
                                                             16, 6, 8, 12, 16, 24, 32};

// Track parameter that each global ("All") parameter shifts, in global block order.
constexpr std::array<int, ParamLayout::globalStride> allTargetOffset{
    trackAmp, trackTimescale, trackFrequency, trackContrast, trackTransform, trackDensity};

// Global offsets smaller than this are not applied to the tracks.
constexpr float allOffsetThreshold = 0.0001f;
// Slot amounts below this in size do nothing.
constexpr float minAmount = 0.001f;
// A non-looping LFO runs its shape once and holds just before the end.
constexpr float oneShotEndPhase = 0.99f;
// Noise smoothing rate per second of the white noise; pink and brown are slower.
constexpr float noiseRate = 500.0f;
constexpr std::array<float, 3> noiseRateDivisor{1.0f, 11.0f, 41.0f};
// Maps a signed 32-bit random number to about -0.5..0.5.
constexpr float randomScale = 2.328e-10f;
// Keeps stage durations of zero from dividing by zero.
constexpr float tinyDuration = 1e-30f;
// Tolerance that lets a stage that ended by rounding a hair short count as ended.
constexpr float stageTolerance = 0.00001f;
// Each envelope piece ends a stage or the span; this bounds the loop whatever rounding does.
constexpr int maxEnvelopePieces = 8;
// Tempo at which "BPM Octave" is 0.
constexpr float referenceBpm = 120.0f;
// Slowest tempo the engine runs at (the lowest "BPM"); keeps "BPM Octave" finite.
constexpr float minBpm = 1.0f;

uint32_t nextRandom(uint32_t x) {
    return x * 1664525u + 1013904223u;
}

// A C library random number as a fraction 0..1 from its low 15 bits: the range every C
// library's rand() covers, so the draws spread alike whatever its RAND_MAX.
float randomUnit() {
    constexpr int randomBits = 15;
    constexpr int randomMask = (1 << randomBits) - 1;
    return static_cast<float>(std::rand() & randomMask) / static_cast<float>(randomMask);
}

int truncToInt(float v) {
    return static_cast<int>(std::trunc(v));
}

} // namespace

ModSystem::ModSystem(EngineControls& synth)
    : lfoCurves{Curve(lfoCurveCapacity), Curve(lfoCurveCapacity), Curve(lfoCurveCapacity),
                Curve(lfoCurveCapacity)},
      synth_(synth) {
    // Every new instance starts with one random rise-and-fall shape on all four LFOs: the peak
    // somewhere in 0.1..0.9, its segment bent by at most 0.1 either way.
    const float peakX = 0.1f + 0.8f * randomUnit();
    const float peakShape = (randomUnit() - 0.5f) * 0.2f;
    const CurvePoint start[3] = {{0.0f, 0.0f, 0.0f}, {peakX, 1.0f, peakShape}, {1.0f, 0.0f, 0.0f}};
    for (Curve& curve : lfoCurves) {
        curve.setPoints(start, 3);
        curve.changed = 0;
    }
}

float ModSystem::effective(int index) const noexcept {
    return synth_.param(index).effective();
}

float ModSystem::sourceValue(const ModSourceState& state, int source) const noexcept {
    if (source >= sourceEnv1 && source < sourceLfo1)
        return state.envelopes[static_cast<size_t>(source - 1)].output;
    if (source >= sourceLfo1 && source < sourceConstant)
        return state.lfos[static_cast<size_t>(source - sourceLfo1)].output;
    if (source == sourceConstant) return 1.0f;
    if (source == sourceBpmOctave) return std::log2((bpm >= minBpm ? bpm : minBpm) / referenceBpm);
    if (source >= sourceNoiseWhite && source < sourceCount)
        return state.noises[static_cast<size_t>(source - sourceNoiseWhite)].value;
    return 0.0f;
}

std::span<const ModRouting> ModSystem::buildRoutings(Level level) noexcept {
    const ParamLayout& layout = synth_.layout;
    const int targetCount = static_cast<int>(synth_.modTargets.size());
    size_t count = 0;
    routedSources_ = 0;
    for (int j = 0; j < slotCount; ++j) {
        const int base = layout.modSlotBase[static_cast<size_t>(j)];
        const float source = effective(base + modSource);
        const float amount = effective(base + modAmount);
        const int target = truncToInt(effective(base + modTarget));
        if (!(source > 0.5f) || amount == 0.0f || std::fabs(amount) < minAmount) continue;
        if (target < 0 || target >= targetCount) continue;
        const int m = truncToInt(source);
        const int scaler = truncToInt(effective(base + modScaler));
        if (m >= sourceCount || scaler < 0 || scaler >= scalerCount) continue;
        routedSources_ |= 1u << m;
        // Envelopes and noises follow each note; an unscaled LFO is per voice only when asked,
        // and unscaled "Constant" and "BPM Octave" are the same for every voice.
        bool perVoice = true;
        if (scaler == scalerNone && m >= sourceLfo1 && m <= sourceBpmOctave)
            perVoice = m < sourceConstant &&
                       effective(layout.lfoBase[static_cast<size_t>(m - sourceLfo1)] + lfoPerVoice) > 0.5f;
        if (perVoice != (level == Level::perVoice)) continue;
        routings_[count++] = {m, scaler, synth_.modTargets[static_cast<size_t>(target)], amount};
    }
    return {routings_.data(), count};
}

void ModSystem::runEnvelope(EnvelopeState& env, int e, float span) const noexcept {
    // Each stage reads only its own parameters: an envelope holding its sustain, as the
    // global ones do for ever, reads one.
    const int base = synth_.layout.envBase[static_cast<size_t>(e)];
    if (env.stage == 0.0f) env.level = effective(base + envInitial);
    float left = span;
    float area = 0.0f;
    for (int piece = 0; piece < maxEnvelopePieces && left > 0.0f; ++piece) {
        const float previous = env.level;
        const int d = truncToInt(env.stage + stageTolerance);
        float used = left;
        if (d <= 0) {
            const float initial = effective(base + envInitial);
            const float attack = effective(base + envAttack) * 0.001f + tinyDuration;
            used = std::min(left, (1.0f - env.stage) * attack);
            env.stage += used / attack;
            env.level = initial + (1.0f - initial) * bend(env.stage, effective(base + envAttackShape));
        } else if (d == 1) {
            const float decay = effective(base + envDecay) + tinyDuration;
            used = std::min(left, (2.0f - env.stage) * decay);
            env.stage += used / decay;
            env.level = 1.0f + (effective(base + envSustain) - 1.0f) *
                                   bend(env.stage - 1.0f, effective(base + envDecayShape));
        } else if (d == 2) {
            env.level = effective(base + envSustain);
        } else if (d == 3) {
            const float release = effective(base + envRelease) + tinyDuration;
            used = std::min(left, (4.0f - env.stage) * release);
            env.stage += used / release;
            env.level = (1.0f - bend(env.stage - 3.0f, effective(base + envReleaseShape))) * env.releaseLevel;
        } else {
            env.level = 0.0f;
        }
        area += (env.level + previous) * used * 0.5f;
        left -= used;
    }
    // The mean level over the span, or the level reached when the span was empty.
    env.output = span > 0.0f ? area / span : env.level;
}

void ModSystem::advanceSources(ModSourceState& state, float seconds, float beats,
                               std::optional<double> beatPosition, const ModSourceState* shared, bool noteOn,
                               uint32_t read) noexcept {
    const ParamLayout& layout = synth_.layout;
    for (int i = 0; i < lfoCount; ++i) {
        const size_t li = static_cast<size_t>(i);
        const int base = layout.lfoBase[li];
        LfoState& lfo = state.lfos[li];
        if (shared != nullptr && effective(base + lfoPerVoice) < 0.5f) {
            lfo = shared->lfos[li];
            continue;
        }
        const bool loop = effective(base + lfoLoop) > 0.5f;
        const bool retrigger = effective(base + lfoRetrigger) >= 0.5f;
        Curve& curve = lfoCurves[li];
        if ((curve.loop != 0) != loop) curve.setLoop(loop);

        const float oldPhase = noteOn && retrigger ? 0.0f : lfo.phase;
        float ph;
        if (effective(base + lfoBeatsync) > 0.5f) {
            const int b =
                std::clamp(truncToInt(effective(base + lfoBeatRate) + 0.1f), 0, lfoBeatRateCount - 1);
            // The value n/d means one cycle per n/d whole notes.
            const double cyclesPerBeat = lfoBeatRateDenominators[b] * 0.25 / lfoBeatRateNumerators[b];
            if (!retrigger && beatPosition.has_value()) {
                // Locked to the song position; kept in double until the whole cycles are gone.
                double cycles = cyclesPerBeat * *beatPosition;
                if (loop) cycles -= std::trunc(cycles);
                ph = static_cast<float>(cycles);
            } else {
                ph = oldPhase + static_cast<float>(cyclesPerBeat) * beats;
            }
        } else {
            ph = oldPhase + effective(base + lfoRate) * seconds;
        }
        ph = loop ? ph - std::floor(ph) : std::min(ph, oneShotEndPhase);
        lfo.phase = ph - std::trunc(ph);
        // The output depends on the phase alone: one nobody reads waits until someone does.
        if ((read & (1u << (sourceLfo1 + i))) != 0)
            lfo.output = 2.0f * curve.evaluate(std::clamp(lfo.phase, 0.0f, 1.0f)) - 1.0f;
    }

    for (int e = 0; e < envelopeCount; ++e) {
        EnvelopeState& env = state.envelopes[static_cast<size_t>(e)];
        if (noteOn) {
            env.stage = 0.0f;
            env.pendingSeconds = 0.0f;
        }
        if ((read & (1u << (sourceEnv1 + e))) == 0) {
            env.pendingSeconds += seconds;
            continue;
        }
        if (env.pendingSeconds > 0.0f) runEnvelope(env, e, env.pendingSeconds);
        env.pendingSeconds = 0.0f;
        runEnvelope(env, e, seconds);
    }

    for (size_t n = 0; n < state.noises.size(); ++n) {
        NoiseState& noise = state.noises[n];
        noise.seed = nextRandom(noise.seed);
        const float r = static_cast<float>(static_cast<int32_t>(noise.seed)) * randomScale;
        if (n < noiseRateDivisor.size()) {
            // One-pole smoothing of a fresh random number per span.
            const float k = std::min(noiseRate * seconds / noiseRateDivisor[n], 1.0f);
            noise.value = (1.0f - k * k) * noise.value + k * r;
        } else if (noteOn) {
            noise.value = r;
        }
    }
}

void ModSystem::globalPass(float seconds, float beats, std::optional<double> beatPosition) noexcept {
    const std::span<const ModRouting> routings = buildRoutings(Level::global);
    // The shared LFOs are read by the global routings and copied into the voices whose routings
    // read them; the shared envelopes are only ever shown (a routing from an envelope reads the
    // voice's own). What nobody reads waits, as a voice's sources do: silence with no routing
    // costs no curve or envelope work.
    constexpr uint32_t envelopeSources = ((1u << envelopeCount) - 1u) << sourceEnv1;
    const uint32_t read =
        synth_.metersOn.load(std::memory_order_relaxed) ? allSources : routedSources_ & ~envelopeSources;
    advanceSources(globalState, seconds, beats, beatPosition, nullptr, false, read);
    // Nothing modulated since the last reset leaves every target reset already.
    if (modulationApplied_)
        for (int index : synth_.modTargets) synth_.param(index).resetModulation();
    modulationApplied_ = false;
    for (const ModRouting& r : routings) {
        synth_.param(r.target).addModA(sourceValue(globalState, r.source) * r.amount);
        modulationApplied_ = true;
    }

    const ParamLayout& layout = synth_.layout;
    for (int i = 0; i < ParamLayout::globalStride; ++i) {
        const Param& global = synth_.param(layout.globalBase + i);
        // A parameter at its default is no offset (and needs no conversion to tell).
        if (global.effective() == global.defaultValue) continue;
        float g = global.offsetFromDefault();
        // The global Transform spans twice the track range.
        if (i == globalTransform) g *= 2.0f;
        if (!(std::fabs(g) > allOffsetThreshold)) continue;
        modulationApplied_ = true;
        for (int t = 0; t < ParamLayout::trackCount; ++t)
            synth_.param(layout.trackBase[static_cast<size_t>(t)] + allTargetOffset[static_cast<size_t>(i)])
                .addModA(g);
    }
}

float ModSystem::scalerValue(int scaler, const ModVoice& voice) const noexcept {
    const bool channelKnown = voice.channel >= 0 && voice.channel < EngineControls::midiChannelCount;
    const ChannelControls none{};
    const ChannelControls& channel =
        channelKnown ? synth_.channelControls[static_cast<size_t>(voice.channel)] : none;
    switch (scaler) {
    case scalerVelocity:
        return voice.velocity;
    case scalerModWheel:
        return channel.modWheel;
    case scalerPitchBend:
        return channel.pitchBend;
    case scalerAftertouch:
        return channel.aftertouch + voice.pressure;
    // 0 for notes 24 to 35, a quarter more per octave above.
    case scalerNoteOctave:
        return static_cast<float>(voice.note / 12 - 2) * 0.25f;
    default:
        return 1.0f;
    }
}

void ModSystem::voicePass(ModSourceState& state, const ModVoice& voice, float seconds, float beats,
                          std::optional<double> beatPosition) noexcept {
    if (voice.track < 0 || voice.track >= ParamLayout::trackCount) return;
    // Only the sources a routing reads compute their values, unless the editor shows them.
    const std::span<const ModRouting> routings = buildRoutings(Level::perVoice);
    uint32_t read = synth_.metersOn.load(std::memory_order_relaxed) ? allSources : 0u;
    for (const ModRouting& r : routings) read |= 1u << r.source;
    advanceSources(state, seconds, beats, beatPosition, &globalState, voice.newNote, read);
    modulationApplied_ = true;

    const std::vector<int>& trackTargets = synth_.trackTargets[static_cast<size_t>(voice.track)];
    auto forEachTarget = [&](auto&& action) {
        for (int index : trackTargets) action(synth_.param(index));
        for (int index : synth_.globalTargets) action(synth_.param(index));
    };
    forEachTarget([](Param& p) {
        if (p.modOffsetB != 0.0f) {
            p.modOffsetB = 0.0f;
            p.recompute();
        }
    });

    const ParamLayout& layout = synth_.layout;
    const int trackBase = layout.trackBase[static_cast<size_t>(voice.track)];
    // Every offset added recomputes its target; the others hold what the global pass of this
    // hop left them.
    for (const ModRouting& r : routings) {
        int target = r.target;
        // A global parameter stands for the like-named parameter of the voice's own track.
        const int globalOffset = target - layout.globalBase;
        if (globalOffset >= 0 && globalOffset < ParamLayout::globalStride)
            target = trackBase + allTargetOffset[static_cast<size_t>(globalOffset)];
        synth_.param(target).addModB(scalerValue(r.scaler, voice) * r.amount * sourceValue(state, r.source));
    }
}

void ModSystem::noteOnReset(ModSourceState& voiceState) noexcept {
    const ParamLayout& layout = synth_.layout;
    for (int i = 0; i < lfoCount; ++i) {
        const size_t li = static_cast<size_t>(i);
        if (!(effective(layout.lfoBase[li] + lfoRetrigger) > 0.5f)) continue;
        voiceState.lfos[li].phase = 0.0f;
        // A shared LFO restarts with every note of any track.
        if (effective(layout.lfoBase[li] + lfoPerVoice) < 0.5f) globalState.lfos[li].phase = 0.0f;
    }
    for (EnvelopeState& env : voiceState.envelopes) {
        env.stage = 0.0f;
        env.pendingSeconds = 0.0f;
    }
    for (EnvelopeState& env : globalState.envelopes) {
        env.stage = 0.0f;
        env.pendingSeconds = 0.0f;
    }
}

void ModSystem::noteOffRelease(ModSourceState& voiceState) const noexcept {
    for (int e = 0; e < envelopeCount; ++e) {
        EnvelopeState& env = voiceState.envelopes[static_cast<size_t>(e)];
        // The release starts from the level the envelope has reached.
        if (env.pendingSeconds > 0.0f) runEnvelope(env, e, env.pendingSeconds);
        env.pendingSeconds = 0.0f;
        env.releaseLevel = env.level;
        env.stage = 3.0f;
    }
}

void ModSystem::updateDisplay() noexcept {
    for (int index : synth_.modTargets) {
        Param& p = synth_.param(index);
        p.shownValue = p.modRecomputed == 1 ? p.modulatedValue : p.value;
        p.shownModulated = p.modRecomputed;
    }
}

} // namespace tarvo
