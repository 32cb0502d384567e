#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "control/ModSystem.h"
#include "engine/BandSynth.h"
#include "support/LfoStartShape.h"

namespace tarvo {
namespace {

// One engine hop at 44.1 kHz.
constexpr float hopSeconds = 64.0f / 44100.0f;

class ModSystemTest : public ::testing::Test {
protected:
    BandSynth synth;
    ModSystem& mod = synth.modSystem;

    Param& track(int t, int offset) {
        return synth.param(synth.layout.trackBase[static_cast<size_t>(t)] + offset);
    }
    Param& global(int offset) { return synth.param(synth.layout.globalBase + offset); }
    Param& env(int e, int offset) {
        return synth.param(synth.layout.envBase[static_cast<size_t>(e)] + offset);
    }
    Param& lfo(int l, int offset) {
        return synth.param(synth.layout.lfoBase[static_cast<size_t>(l)] + offset);
    }

    // The slot "Target" value that designates parameter index.
    int targetOf(int index) {
        const auto it = std::find(synth.modTargets.begin(), synth.modTargets.end(), index);
        return static_cast<int>(it - synth.modTargets.begin());
    }
    int targetOf(const Param& p) { return targetOf(p.index); }

    void setSlot(int j, int source, float amount, int scaler, int target) {
        Param* slot = &synth.params[static_cast<size_t>(synth.layout.modSlotBase[static_cast<size_t>(j)])];
        slot[modSource].set(static_cast<float>(source));
        slot[modAmount].set(amount);
        slot[modScaler].set(static_cast<float>(scaler));
        slot[modTarget].set(static_cast<float>(target));
    }

    void globalHop(std::optional<double> position = std::nullopt) {
        mod.globalPass(hopSeconds, hopSeconds * static_cast<float>(synth.tempoBpm) / 60.0f, position);
    }
    void voiceHop(ModSourceState& state, ModVoice& voice, std::optional<double> position = std::nullopt) {
        mod.voicePass(state, voice, hopSeconds, hopSeconds * static_cast<float>(synth.tempoBpm) / 60.0f,
                      position);
        voice.newNote = false;
    }
    // Starts a note the way the voice handling does.
    void startNote(ModSourceState& state, ModVoice& voice) {
        voice.newNote = true;
        mod.noteOnReset(state);
    }
    // A straight ramp from 0 to 1, so that an LFO's output is 2 phase - 1.
    void setRamp(int l) {
        const CurvePoint ramp[] = {{0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 0.0f}};
        mod.lfoCurves[static_cast<size_t>(l)].setPoints(ramp, 2);
    }
};

// The start shape is drawn from the C library's random numbers; whatever their range, every
// new instance gets a rise and a fall inside the curve on all four LFOs.
TEST(ModSystemStart, EveryLfoStartsWithARiseAndAFallInsideTheCurve) {
    for (const unsigned seed : {1u, 2u, 77u, 12345u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(seed);
        std::srand(seed);
        for (int instance = 0; instance < 4; ++instance) {
            BandSynth synth;
            for (const Curve& curve : synth.modSystem.lfoCurves)
                EXPECT_EQ(test::lfoStartShapeFault(curve), "") << "instance " << instance;
        }
    }
}

TEST_F(ModSystemTest, ConstantMovesTrackPanAndShowsIt) {
    setSlot(0, ModSystem::sourceConstant, 0.5f, ModSystem::scalerNone, targetOf(track(0, trackPan)));
    globalHop();
    EXPECT_FLOAT_EQ(track(0, trackPan).effective(), 100.0f);
    EXPECT_FLOAT_EQ(track(0, trackPan).value, 0.0f);
    EXPECT_FLOAT_EQ(track(1, trackPan).effective(), 0.0f);

    mod.updateDisplay();
    EXPECT_FLOAT_EQ(track(0, trackPan).shownValue, 100.0f);
    EXPECT_EQ(track(0, trackPan).shownModulated, 1);
    EXPECT_FLOAT_EQ(track(1, trackPan).shownValue, 0.0f);
    EXPECT_EQ(track(1, trackPan).shownModulated, 0);

    // The offsets live for one hop: with the slot off, the next pass clears them.
    setSlot(0, ModSystem::sourceNone, 0.5f, ModSystem::scalerNone, targetOf(track(0, trackPan)));
    globalHop();
    EXPECT_FLOAT_EQ(track(0, trackPan).effective(), 0.0f);
}

TEST_F(ModSystemTest, SlotThresholds) {
    struct Case {
        int source;
        float amount;
        float expectedPan;
    };
    const Case cases[] = {
        {ModSystem::sourceConstant, 0.0005f, 0.0f},  // below the amount threshold
        {ModSystem::sourceConstant, -0.0009f, 0.0f}, // below it on the negative side too
        {ModSystem::sourceNone, 0.5f, 0.0f},         // no source
        {ModSystem::sourceConstant, 0.001f, 0.2f},   // at the threshold
        {ModSystem::sourceConstant, -0.25f, -50.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.amount);
        setSlot(3, c.source, c.amount, ModSystem::scalerNone, targetOf(track(0, trackPan)));
        globalHop();
        EXPECT_NEAR(track(0, trackPan).effective(), c.expectedPan, 1e-4f);
    }
}

TEST_F(ModSystemTest, VelocityScalerMakesRoutingPerVoice) {
    setSlot(0, ModSystem::sourceConstant, 0.5f, ModSystem::scalerVelocity, targetOf(track(0, trackPan)));
    globalHop();
    EXPECT_FLOAT_EQ(track(0, trackPan).effective(), 0.0f);

    ModSourceState state;
    ModVoice voice{.track = 0, .note = 36, .velocity = 0.8f};
    startNote(state, voice);
    voiceHop(state, voice);
    EXPECT_NEAR(track(0, trackPan).effective(), 80.0f, 1e-4f);
    // Another voice of the track replaces the offset rather than adding to it.
    ModSourceState other;
    ModVoice soft{.track = 0, .note = 36, .velocity = 0.2f};
    voiceHop(other, soft);
    EXPECT_NEAR(track(0, trackPan).effective(), 20.0f, 1e-4f);
}

TEST_F(ModSystemTest, ScalerValues) {
    synth.channelControls[2] = {.pitchBend = -0.5f, .modWheel = 0.3f, .aftertouch = 0.25f};
    const ModVoice voice{.track = 1, .note = 36, .channel = 2, .velocity = 0.7f, .pressure = 0.5f};
    struct Case {
        int scaler;
        float expected;
    };
    for (const Case& c :
         {Case{ModSystem::scalerNone, 1.0f}, Case{ModSystem::scalerVelocity, 0.7f},
          Case{ModSystem::scalerModWheel, 0.3f}, Case{ModSystem::scalerPitchBend, -0.5f},
          Case{ModSystem::scalerAftertouch, 0.75f}, Case{ModSystem::scalerNoteOctave, 0.25f}}) {
        EXPECT_FLOAT_EQ(mod.scalerValue(c.scaler, voice), c.expected) << c.scaler;
    }
    struct NoteCase {
        int note;
        float expected;
    };
    for (const NoteCase& c : {NoteCase{24, 0.0f}, NoteCase{35, 0.0f}, NoteCase{43, 0.25f},
                              NoteCase{12, -0.25f}, NoteCase{127, 2.0f}}) {
        ModVoice v = voice;
        v.note = c.note;
        EXPECT_FLOAT_EQ(mod.scalerValue(ModSystem::scalerNoteOctave, v), c.expected) << c.note;
    }
    // A channel outside the sixteen has no controller values.
    ModVoice stray = voice;
    stray.channel = 16;
    EXPECT_FLOAT_EQ(mod.scalerValue(ModSystem::scalerModWheel, stray), 0.0f);
    EXPECT_FLOAT_EQ(mod.scalerValue(ModSystem::scalerAftertouch, stray), 0.5f);
}

TEST_F(ModSystemTest, BpmOctave) {
    struct Case {
        float bpm, expected;
    };
    for (const Case& c : {Case{120, 0}, Case{60, -1}, Case{240, 1}, Case{30, -2}}) {
        mod.bpm = c.bpm;
        EXPECT_FLOAT_EQ(mod.sourceValue(mod.globalState, ModSystem::sourceBpmOctave), c.expected) << c.bpm;
    }
    // A tempo of 0 (never a valid "BPM") reads as the slowest tempo rather than minus infinity.
    mod.bpm = 0.0f;
    EXPECT_TRUE(std::isfinite(mod.sourceValue(mod.globalState, ModSystem::sourceBpmOctave)));

    // Unscaled, it is a global routing.
    mod.bpm = 60.0f;
    setSlot(0, ModSystem::sourceBpmOctave, 0.5f, ModSystem::scalerNone, targetOf(track(0, trackPan)));
    globalHop();
    EXPECT_FLOAT_EQ(track(0, trackPan).effective(), -100.0f);
}

TEST_F(ModSystemTest, OneShotLfoRunsOnceAndHolds) {
    setRamp(0);
    lfo(0, lfoLoop).set(0);
    lfo(0, lfoRate).set(1.0f);
    lfo(0, lfoRetrigger).set(1);
    lfo(0, lfoPerVoice).set(1);
    setSlot(0, ModSystem::sourceLfo1, 0.5f, ModSystem::scalerNone, targetOf(track(0, trackPan)));

    ModSourceState state;
    state.lfos[0].phase = 0.6f;
    ModVoice voice{.track = 0, .note = 36, .velocity = 1.0f};
    startNote(state, voice);
    int hops = 0;
    while (state.lfos[0].phase < 0.99f && hops < 10000) {
        voiceHop(state, voice);
        ++hops;
    }
    // 0.99 s of hops, then the phase holds.
    EXPECT_NEAR(static_cast<float>(hops) * hopSeconds, 0.99f, 2 * hopSeconds);
    for (int i = 0; i < 100; ++i) voiceHop(state, voice);
    EXPECT_FLOAT_EQ(state.lfos[0].phase, 0.99f);
    EXPECT_NEAR(state.lfos[0].output, 0.98f, 1e-5f);
    EXPECT_EQ(mod.lfoCurves[0].loop, 0);
    // Per voice, the LFO moves the pan of its own track: 0.5 x 0.98 in normalized units.
    EXPECT_NEAR(track(0, trackPan).effective(), 98.0f, 1e-3f);

    // A retriggered note starts the shape again.
    startNote(state, voice);
    voiceHop(state, voice);
    EXPECT_NEAR(state.lfos[0].phase, hopSeconds, 1e-6f);
}

TEST_F(ModSystemTest, BeatSyncedLfoFollowsSongPosition) {
    struct Case {
        int beatRate;
        double position;
        float expectedPhase;
    };
    const Case cases[] = {
        {7, 13.37, 0.37f},     // 1/4: one cycle per beat
        {4, 13.37, 0.3425f},   // 1/1: one cycle per bar
        {0, 13.37, 0.835625f}, // 4/1: one cycle per four bars
        {14, 13.37, 0.96f},    // 1/32: eight cycles per beat
        {7, -0.25, 0.75f},     // before the song start
    };
    lfo(1, lfoBeatsync).set(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.beatRate);
        lfo(1, lfoBeatRate).set(static_cast<float>(c.beatRate));
        globalHop(c.position);
        EXPECT_NEAR(mod.globalState.lfos[1].phase, c.expectedPhase, 1e-4f);
        // The position changes once per host block, so the phase holds across its hops.
        globalHop(c.position);
        EXPECT_NEAR(mod.globalState.lfos[1].phase, c.expectedPhase, 1e-4f);
    }

    // With the transport stopped it runs on at the tempo: a quarter of a beat per hop at 1/4.
    lfo(1, lfoBeatRate).set(7);
    synth.tempoBpm = 60.0 * 0.25 / hopSeconds;
    globalHop(0.0);
    globalHop();
    EXPECT_NEAR(mod.globalState.lfos[1].phase, 0.25f, 1e-5f);
}

TEST_F(ModSystemTest, EnvelopeDecaysToSustainAndReleasesToZero) {
    env(0, envAttack).set(0);
    env(0, envDecay).set(0.3f);
    env(0, envSustain).set(0.5f);
    env(0, envRelease).set(0.2f);
    setSlot(0, ModSystem::sourceEnv1, 0.5f, ModSystem::scalerNone, targetOf(track(3, trackPan)));
    ModSourceState state;
    ModVoice voice{.track = 3, .note = 39, .velocity = 1.0f};
    startNote(state, voice);

    voiceHop(state, voice);
    EXPECT_GT(state.envelopes[0].output, 0.5f);
    EXPECT_LE(state.envelopes[0].output, 1.0f);
    for (float t = hopSeconds; t < 0.3f + hopSeconds; t += hopSeconds) voiceHop(state, voice);
    EXPECT_NEAR(state.envelopes[0].output, 0.5f, 1e-6f);

    mod.noteOffRelease(state);
    EXPECT_FLOAT_EQ(state.envelopes[0].releaseLevel, 0.5f);
    voiceHop(state, voice);
    EXPECT_GT(state.envelopes[0].output, 0.0f);
    EXPECT_LT(state.envelopes[0].output, 0.5f);
    for (float t = hopSeconds; t < 0.2f + hopSeconds; t += hopSeconds) voiceHop(state, voice);
    EXPECT_NEAR(state.envelopes[0].output, 0.0f, 1e-6f);
    EXPECT_GE(state.envelopes[0].stage, 4.0f);
}

TEST_F(ModSystemTest, EnvelopeOutputIsMeanLevelOverHop) {
    // A straight 100 ms attack from "Initial" 0.2: the first hop's mean is halfway along it.
    env(1, envInitial).set(0.2f);
    env(1, envAttack).set(100.0f);
    env(1, envAttackShape).set(0.0f);
    setSlot(0, ModSystem::sourceEnv1 + 1, 0.5f, ModSystem::scalerNone, targetOf(track(0, trackPan)));
    ModSourceState state;
    ModVoice voice{.track = 0, .note = 36, .velocity = 1.0f};
    startNote(state, voice);
    voiceHop(state, voice);
    EXPECT_NEAR(state.envelopes[1].output, 0.2f + 0.8f * (hopSeconds / 0.1f) / 2.0f, 1e-6f);
    EXPECT_NEAR(state.envelopes[1].level, 0.2f + 0.8f * hopSeconds / 0.1f, 1e-6f);
}

// A voice's envelopes and LFO shapes run only while a routing reads them (or the editor shows
// them); an envelope nobody read catches up when it is read again or released, from where it
// would have been.
TEST_F(ModSystemTest, SourcesNobodyReadsCatchUpWhenRead) {
    env(2, envAttack).set(20.0f);
    env(2, envDecay).set(0.3f);
    env(2, envSustain).set(0.4f);
    setRamp(1);
    lfo(1, lfoPerVoice).set(1);
    lfo(1, lfoRate).set(2.0f);
    ModSourceState shown, unread;
    ModVoice voice{.track = 2, .note = 38, .velocity = 1.0f};
    ModVoice same = voice;
    startNote(shown, voice);
    startNote(unread, same);
    const auto hop = [&](bool editorShown, ModSourceState& state, ModVoice& v) {
        synth.metersOn.store(editorShown);
        voiceHop(state, v);
    };
    for (int i = 0; i < 100; ++i) {
        hop(true, shown, voice);
        hop(false, unread, same);
    }
    // Nothing read the second state's envelope or LFO output: they stand where they started.
    EXPECT_FLOAT_EQ(unread.envelopes[2].stage, 0.0f);
    EXPECT_FLOAT_EQ(unread.lfos[1].output, 0.0f);
    EXPECT_FLOAT_EQ(unread.lfos[1].phase, shown.lfos[1].phase);

    // Read again, both agree.
    hop(true, shown, voice);
    hop(true, unread, same);
    EXPECT_NEAR(unread.envelopes[2].output, shown.envelopes[2].output, 1e-5f);
    EXPECT_NEAR(unread.envelopes[2].stage, shown.envelopes[2].stage, 1e-4f);
    EXPECT_FLOAT_EQ(unread.lfos[1].output, shown.lfos[1].output);

    // A release starts from the level the envelope would have reached.
    for (int i = 0; i < 50; ++i) {
        hop(true, shown, voice);
        hop(false, unread, same);
    }
    mod.noteOffRelease(shown);
    mod.noteOffRelease(unread);
    EXPECT_NEAR(unread.envelopes[2].releaseLevel, shown.envelopes[2].releaseLevel, 1e-5f);
    EXPECT_GT(shown.envelopes[2].releaseLevel, 0.4f);
}

TEST_F(ModSystemTest, GlobalParametersShiftEveryTrack) {
    global(globalTimescale).set(2.0f);
    global(globalTransform).set(50.0f);
    global(globalFrequency).set(-200.0f);
    globalHop();
    for (int t = 0; t < ParamLayout::trackCount; ++t) {
        SCOPED_TRACE(t);
        EXPECT_NEAR(track(t, trackTimescale).effective(), 2.0f, 1e-5f);
        // The global Transform spans twice the track range, so its offset counts double.
        EXPECT_NEAR(track(t, trackTransform).effective(), 50.0f, 1e-4f);
        EXPECT_NEAR(track(t, trackFrequency).effective(), -200.0f, 1e-3f);
        EXPECT_EQ(track(t, trackAmp).isModulated, 0);
        EXPECT_EQ(track(t, trackContrast).isModulated, 0);
    }

    // Modulating a global parameter moves the tracks through its offset.
    global(globalTimescale).set(1.0f);
    setSlot(0, ModSystem::sourceConstant, 1.0f / 6.0f, ModSystem::scalerNone,
            targetOf(global(globalTimescale)));
    globalHop();
    EXPECT_NEAR(global(globalTimescale).effective(), 2.0f, 1e-5f);
    EXPECT_NEAR(track(5, trackTimescale).effective(), 2.0f, 1e-5f);
}

TEST_F(ModSystemTest, PerVoiceRoutingOnGlobalTargetActsOnOwnTrack) {
    setSlot(0, ModSystem::sourceConstant, 1.0f / 6.0f, ModSystem::scalerVelocity,
            targetOf(global(globalTimescale)));
    globalHop();
    ModSourceState state;
    ModVoice voice{.track = 2, .note = 38, .velocity = 1.0f};
    startNote(state, voice);
    voiceHop(state, voice);
    EXPECT_NEAR(track(2, trackTimescale).effective(), 2.0f, 1e-5f);
    EXPECT_FLOAT_EQ(global(globalTimescale).effective(), 1.0f);
    EXPECT_FLOAT_EQ(track(1, trackTimescale).effective(), 1.0f);
}

TEST_F(ModSystemTest, OtherTracksOffsetsAreClearedByTheirOwnVoices) {
    setSlot(0, ModSystem::sourceConstant, 0.5f, ModSystem::scalerVelocity, targetOf(track(2, trackPan)));
    globalHop();
    ModSourceState a, b;
    ModVoice loud{.track = 0, .note = 36, .velocity = 1.0f};
    ModVoice soft{.track = 2, .note = 38, .velocity = 0.2f};
    voiceHop(a, loud);
    EXPECT_NEAR(track(2, trackPan).effective(), 100.0f, 1e-4f);
    voiceHop(b, soft);
    EXPECT_NEAR(track(2, trackPan).effective(), 20.0f, 1e-4f);
}

TEST_F(ModSystemTest, NoiseSources) {
    ModSourceState state;
    ModVoice voice{.track = 0, .note = 36, .velocity = 1.0f};
    startNote(state, voice);
    voiceHop(state, voice);
    const float held = state.noises[3].value;
    float previousWhite = state.noises[0].value;
    int whiteChanges = 0;
    for (int i = 0; i < 200; ++i) {
        voiceHop(state, voice);
        // The smoothing can overshoot a single random value by at most a quarter.
        for (const NoiseState& n : state.noises) EXPECT_LE(std::fabs(n.value), 0.625f);
        whiteChanges += state.noises[0].value != previousWhite;
        previousWhite = state.noises[0].value;
        EXPECT_EQ(state.noises[3].value, held);
    }
    EXPECT_EQ(whiteChanges, 200);
    // The hold noise takes a new value with the next note.
    startNote(state, voice);
    voiceHop(state, voice);
    EXPECT_NE(state.noises[3].value, held);
}

TEST_F(ModSystemTest, NoteOnResetRestartsRetriggeredLfosAndEnvelopes) {
    lfo(0, lfoRetrigger).set(1); // shared
    lfo(1, lfoRetrigger).set(1);
    lfo(1, lfoPerVoice).set(1);
    ModSourceState state;
    for (ModSourceState* s : {&state, &mod.globalState}) {
        for (LfoState& l : s->lfos) l.phase = 0.5f;
        for (EnvelopeState& e : s->envelopes) e.stage = 2.0f;
    }
    mod.noteOnReset(state);
    const float voicePhases[] = {0.0f, 0.0f, 0.5f, 0.5f};
    const float globalPhases[] = {0.0f, 0.5f, 0.5f, 0.5f};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_FLOAT_EQ(state.lfos[i].phase, voicePhases[i]) << i;
        EXPECT_FLOAT_EQ(mod.globalState.lfos[i].phase, globalPhases[i]) << i;
        EXPECT_FLOAT_EQ(state.envelopes[i].stage, 0.0f);
        EXPECT_FLOAT_EQ(mod.globalState.envelopes[i].stage, 0.0f);
    }
}

TEST_F(ModSystemTest, SharedLfoIsCopiedIntoVoices) {
    setRamp(2);
    lfo(2, lfoRate).set(3.0f);
    for (int i = 0; i < 50; ++i) globalHop();
    ModSourceState state;
    ModVoice voice{.track = 0, .note = 36, .velocity = 1.0f};
    voiceHop(state, voice);
    EXPECT_FLOAT_EQ(state.lfos[2].phase, mod.globalState.lfos[2].phase);
    EXPECT_FLOAT_EQ(state.lfos[2].output, mod.globalState.lfos[2].output);
    EXPECT_NEAR(state.lfos[2].phase, 50 * 3.0f * hopSeconds, 1e-5f);
}

// The shared sources work only for a reader: a global routing, a voice routing that copies a
// shared LFO, or the editor. Unread, an LFO's phase still moves on (its output depends on the
// phase alone) and an envelope keeps the time it has to catch up.
TEST_F(ModSystemTest, SharedSourcesRunOnlyWhileReadOrShown) {
    struct Case {
        const char* reader;
        int scaler; // of a routing from LFO 3, -1 for none
        bool editorShown;
    };
    const Case cases[] = {{"global routing", ModSystem::scalerNone, false},
                          {"voice routing", ModSystem::scalerVelocity, false},
                          {"editor", -1, true}};
    setRamp(2);
    lfo(2, lfoRate).set(3.0f);
    env(1, envAttack).set(20.0f);
    const int lfo3 = ModSystem::sourceLfo1 + 2;
    for (const Case& c : cases) {
        mod.globalState = ModSourceState{};
        setSlot(0, ModSystem::sourceNone, 0.5f, ModSystem::scalerNone, targetOf(track(0, trackPan)));
        synth.metersOn.store(false);
        for (int i = 0; i < 10; ++i) globalHop();
        EXPECT_NEAR(mod.globalState.lfos[2].phase, 10 * 3.0f * hopSeconds, 1e-5f) << c.reader;
        EXPECT_FLOAT_EQ(mod.globalState.lfos[2].output, 0.0f) << c.reader;
        EXPECT_FLOAT_EQ(mod.globalState.envelopes[1].stage, 0.0f) << c.reader;

        if (c.scaler >= 0) setSlot(0, lfo3, 0.5f, c.scaler, targetOf(track(0, trackPan)));
        synth.metersOn.store(c.editorShown);
        globalHop();
        const float phase = mod.globalState.lfos[2].phase;
        EXPECT_NEAR(mod.globalState.lfos[2].output, 2.0f * phase - 1.0f, 1e-5f) << c.reader;
        if (c.editorShown) { // the whole attack so far, caught up
            EXPECT_NEAR(mod.globalState.envelopes[1].stage, 11 * hopSeconds / 0.02f, 1e-3f);
        }
        if (c.scaler == ModSystem::scalerVelocity) {
            ModSourceState state;
            ModVoice voice{.track = 0, .note = 36, .velocity = 1.0f};
            voiceHop(state, voice);
            EXPECT_FLOAT_EQ(state.lfos[2].output, mod.globalState.lfos[2].output);
        }
    }
    // A routing from an envelope reads the voice's own: the shared one still waits.
    mod.globalState = ModSourceState{};
    setSlot(0, ModSystem::sourceEnv1 + 1, 0.5f, ModSystem::scalerNone, targetOf(track(0, trackPan)));
    synth.metersOn.store(false);
    for (int i = 0; i < 10; ++i) globalHop();
    EXPECT_FLOAT_EQ(mod.globalState.envelopes[1].stage, 0.0f);
}

TEST_F(ModSystemTest, ExtremeSettingsKeepEffectiveValuesFinite) {
    const int sources[] = {1, 5, 9, 10, 11, 12, 13, 14};
    for (int j = 0; j < ModSystem::slotCount; ++j)
        setSlot(j, sources[j], j % 2 == 0 ? 1.0f : -1.0f, j % 6, (j * 13) % 102);
    for (int l = 0; l < ModSystem::lfoCount; ++l) {
        lfo(l, lfoRate).set(20.0f);
        lfo(l, lfoPerVoice).set(static_cast<float>(l % 2));
    }
    for (int e = 0; e < ModSystem::envelopeCount; ++e) {
        env(e, envAttack).set(0.0f);
        env(e, envDecay).set(0.0f);
        env(e, envRelease).set(0.0f);
    }
    global(globalTimescale).set(8.0f);
    global(globalAmp).set(-100.0f);
    global(globalTransform).set(100.0f);
    synth.channelControls[0] = {.pitchBend = -1.0f, .modWheel = 1.0f, .aftertouch = 1.0f};

    for (float bpm : {1.0f, 400.0f}) {
        mod.bpm = bpm;
        std::array<ModSourceState, 4> states{};
        for (int hop = 0; hop < 300; ++hop) {
            globalHop(hop % 3 == 0 ? std::optional<double>(1e6 + hop) : std::nullopt);
            for (int v = 0; v < 4; ++v) {
                ModVoice voice{
                    .track = v * 2, .note = 127, .velocity = 1.0f, .pressure = 1.0f, .newNote = hop == 0};
                if (hop == 150) mod.noteOffRelease(states[static_cast<size_t>(v)]);
                mod.voicePass(states[static_cast<size_t>(v)], voice, hopSeconds, hopSeconds * 3.0f,
                              std::nullopt);
            }
            for (int index : synth.modTargets)
                ASSERT_TRUE(std::isfinite(synth.param(index).effective())) << index;
        }
    }
}

} // namespace
} // namespace tarvo
