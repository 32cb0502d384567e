#include "instrument/Ombrix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
#include <vector>

#include "instrument/StateChunk.h"
#include "persistence/FactoryInstall.h"
#include "persistence/Folders.h"
#include "support/ScopedHome.h"

#if defined(__SSE__) || defined(_M_X64) || defined(_M_AMD64)
#include <pmmintrin.h>
#include <xmmintrin.h>
#define TARVO_TEST_X86 1
#endif

namespace tarvo {
namespace {

constexpr float rate = 44100.0f;
// Steps the sequencer moves in one 512-frame block at 120 BPM.
constexpr double stepsPer512 = 512.0 / 44100.0 * 8.0;

struct NoteRecord {
    int note;
    float velocity;
    int channel;
    long frame; // host frame of the sub-block in which the event was dispatched
};

struct PressureRecord {
    float pressure;
    int note;
    int channel;
};

// Records what reaches the engine, with the frame of the sub-block each event belongs to.
class Recorder : public BandSynth::EventTap {
public:
    const BandSynth* engine = nullptr;
    long blockStart = 0;
    std::vector<NoteRecord> notes;
    std::vector<NoteRecord> waiting; // dispatched in a sub-block that has not rendered yet
    std::vector<PressureRecord> pressures;
    std::vector<std::pair<int, long>> subBlocks; // frames, host frame
    std::vector<long> hopStarts;
    bool denormalsFlushed = true;

    void noteEvent(int note, float velocity, int channel) override {
        waiting.push_back({note, velocity, channel, -1});
    }
    void polyPressure(float pressure, int note, int channel) override {
        pressures.push_back({pressure, note, channel});
    }
    void subBlock(int frames, int offset) override {
        const long at = blockStart + offset;
        for (NoteRecord& n : waiting) {
            n.frame = at;
            notes.push_back(n);
        }
        waiting.clear();
        subBlocks.emplace_back(frames, at);
        if (engine->pendingHopSamples == 0) hopStarts.push_back(at);
#if defined(TARVO_TEST_X86)
        const unsigned int flushBits = _MM_FLUSH_ZERO_ON | _MM_DENORMALS_ZERO_ON;
        denormalsFlushed = denormalsFlushed && (_mm_getcsr() & flushBits) == flushBits;
#endif
    }

    std::vector<long> noteOnFrames(int note) const {
        std::vector<long> frames;
        for (const NoteRecord& n : notes)
            if (n.note == note && n.velocity > 0.0f) frames.push_back(n.frame);
        return frames;
    }
};

class OmbrixTest : public ::testing::Test {
protected:
    OmbrixTest() : left(8192, 1.0f), right(8192, 1.0f) {
        SharedRandom::seed(SharedRandom::initialState);
        channels[0] = left.data();
        channels[1] = right.data();
        recorder.engine = &plugin.engine;
        plugin.engine.eventTap = &recorder;
        plugin.reset(rate);
    }

    void block(int frames, const HostTransport& host = {}) {
        recorder.blockStart = framesDone;
        plugin.processBlock(channels, 2, frames, host);
        framesDone += frames;
    }
    void run(long frames, int blockSize = 512, const HostTransport& host = {}) {
        for (long done = 0; done < frames; done += blockSize) block(blockSize, host);
    }
    void midi(int offset, int status, int d1, int d2) {
        plugin.midiIn(
            {offset, static_cast<uint8_t>(status), static_cast<uint8_t>(d1), static_cast<uint8_t>(d2)});
    }
    void hostSync(bool on) { plugin.sequencer.param(StepSequencer::paramHostSync).set(on ? 1.0f : 0.0f); }

    Ombrix plugin;
    Recorder recorder;
    std::vector<float> left, right;
    float* channels[2] = {};
    long framesDone = 0;
};

TEST_F(OmbrixTest, SubBlocksEndOnTheHopGrid) {
    struct Case {
        const char* name;
        float rate;
        int hop;
        std::vector<int> blocks;
        std::vector<int> firstSubBlocks;
    };
    const Case cases[] = {
        {"one-frame blocks", rate, 64, std::vector<int>(130, 1), std::vector<int>(130, 1)},
        {"100-frame blocks", rate, 64, {100, 100}, {64, 36, 28, 64, 8}},
        {"mixed sizes", rate, 64, {37, 200, 5, 64, 1000, 1}, {37, 27, 64, 64, 45, 5, 14, 50, 14, 64}},
        // The hop follows the rate: a sub-block spans a whole hop, not the 44.1 kHz one.
        {"100-frame blocks at 48 kHz", 48000.0f, 70, {100, 100, 100}, {70, 30, 40, 60, 10, 70, 20}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ombrix plugin;
        Recorder rec;
        rec.engine = &plugin.engine;
        plugin.engine.eventTap = &rec;
        plugin.reset(c.rate);
        ASSERT_EQ(plugin.engine.hopFrames(), c.hop);
        long total = 0;
        for (int frames : c.blocks) {
            rec.blockStart = total;
            plugin.processBlock(channels, 2, frames, {});
            total += frames;
        }
        std::vector<int> sizes;
        for (const auto& [frames, at] : rec.subBlocks) sizes.push_back(frames);
        ASSERT_GE(sizes.size(), c.firstSubBlocks.size());
        EXPECT_TRUE(std::equal(c.firstSubBlocks.begin(), c.firstSubBlocks.end(), sizes.begin()));
        // The sub-blocks tile the host frames, none crosses a multiple of the hop, and a new
        // hop starts exactly on every multiple of it.
        long next = 0;
        std::vector<long> grid;
        for (const auto& [frames, at] : rec.subBlocks) {
            EXPECT_EQ(at, next);
            EXPECT_EQ(at / c.hop, (at + frames - 1) / c.hop) << "sub-block at " << at;
            next = at + frames;
        }
        for (long hop = 0; hop < total; hop += c.hop) grid.push_back(hop);
        EXPECT_EQ(next, total);
        EXPECT_EQ(rec.hopStarts, grid);
    }
}

TEST_F(OmbrixTest, OutputsAreClearedAndDenormalsFlushedOnlyDuringTheCall) {
#if defined(TARVO_TEST_X86)
    const unsigned int before = _mm_getcsr();
#endif
    block(300);
    EXPECT_TRUE(std::all_of(left.begin(), left.begin() + 300, [](float x) { return x == 0.0f; }));
    EXPECT_TRUE(std::all_of(right.begin(), right.begin() + 300, [](float x) { return x == 0.0f; }));
    EXPECT_EQ(left[300], 1.0f);
    EXPECT_EQ(plugin.lastBlockSize.load(), 300);
#if defined(TARVO_TEST_X86)
    EXPECT_TRUE(recorder.denormalsFlushed);
    EXPECT_EQ(_mm_getcsr(), before);
#endif
}

TEST_F(OmbrixTest, MidiIsDispatchedAtTheStartOfItsSubBlockInOffsetOrder) {
    struct Message {
        int offset, status, d1, d2;
    };
    struct Case {
        const char* name;
        std::vector<Message> messages;
        std::vector<int> blocks;
        std::vector<NoteRecord> expected;
    };
    const Case cases[] = {
        {"equal offsets keep arrival order",
         {{10, 0x90, 36, 100}, {10, 0x90, 38, 90}},
         {128},
         {{36, 100 / 127.0f, 0, 0}, {38, 90 / 127.0f, 0, 0}}},
        {"later offset arriving first",
         {{50, 0x91, 40, 1}, {10, 0x91, 37, 127}},
         {128},
         {{37, 1.0f, 1, 0}, {40, 1 / 127.0f, 1, 0}}},
        {"offset 70 of 128 plays at frame 64", {{70, 0x90, 36, 100}}, {128}, {{36, 100 / 127.0f, 0, 64}}},
        {"offset past the block waits for the next one",
         {{200, 0x90, 36, 100}},
         {128, 128},
         {{36, 100 / 127.0f, 0, 192}}},
        {"velocity 0 is a note off", {{0, 0x90, 36, 0}}, {64}, {{36, 0.0f, 0, 0}}},
        {"note off ignores its release velocity", {{0, 0x8F, 38, 64}}, {64}, {{38, 0.0f, 15, 0}}},
        {"every octave plays the tracks",
         {{0, 0x90, 67, 127}, {0, 0x90, 0, 127}},
         {64},
         {{67, 1.0f, 0, 0}, {0, 1.0f, 0, 0}}},
        {"G sharp, program change and system messages do nothing",
         {{0, 0x90, 44, 100}, {0, 0x90, 56, 100}, {0, 0xC0, 5, 0}, {0, 0xF8, 0, 0}, {0, 0x70, 36, 100}},
         {64},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ombrix plugin;
        Recorder rec;
        rec.engine = &plugin.engine;
        plugin.engine.eventTap = &rec;
        plugin.reset(rate);
        for (const Message& m : c.messages)
            plugin.midiIn({m.offset, static_cast<uint8_t>(m.status), static_cast<uint8_t>(m.d1),
                           static_cast<uint8_t>(m.d2)});
        long total = 0;
        for (int frames : c.blocks) {
            rec.blockStart = total;
            plugin.processBlock(channels, 2, frames, {});
            total += frames;
        }
        ASSERT_EQ(rec.notes.size(), c.expected.size());
        for (size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(rec.notes[i].note, c.expected[i].note) << i;
            EXPECT_FLOAT_EQ(rec.notes[i].velocity, c.expected[i].velocity) << i;
            EXPECT_EQ(rec.notes[i].channel, c.expected[i].channel) << i;
            EXPECT_EQ(rec.notes[i].frame, c.expected[i].frame) << i;
        }
        EXPECT_EQ(plugin.queuedMidiCount(), 0);
        EXPECT_EQ(plugin.seqRunning.load(), 0);
    }
}

TEST_F(OmbrixTest, MidiRunsWithoutOutputBuffers) {
    midi(3, 0x90, 36, 100);
    plugin.processBlock(nullptr, 0, 64, {});
    ASSERT_EQ(recorder.waiting.size(), 1u);
    EXPECT_EQ(recorder.waiting[0].note, 36);
    EXPECT_EQ(plugin.queuedMidiCount(), 0);
}

TEST_F(OmbrixTest, ControllersReachTheirChannel) {
    struct Case {
        const char* name;
        int status, d1, d2;
        int channel;
        float ChannelControls::*field;
        float expected;
    };
    const Case cases[] = {
        {"modulation wheel", 0xB3, 1, 127, 3, &ChannelControls::modWheel, 1.0f},
        {"other controllers are ignored", 0xB3, 7, 127, 3, &ChannelControls::modWheel, 0.0f},
        {"channel pressure", 0xD5, 64, 0, 5, &ChannelControls::aftertouch, 64 / 127.0f},
        {"pitch wheel centre", 0xE0, 0, 64, 0, &ChannelControls::pitchBend, 0.0f},
        {"pitch wheel top", 0xE0, 127, 127, 0, &ChannelControls::pitchBend, 8191 / 8192.0f},
        {"pitch wheel bottom", 0xEF, 0, 0, 15, &ChannelControls::pitchBend, -1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ombrix plugin;
        plugin.reset(rate);
        plugin.midiIn(
            {0, static_cast<uint8_t>(c.status), static_cast<uint8_t>(c.d1), static_cast<uint8_t>(c.d2)});
        plugin.processBlock(channels, 2, 64, {});
        EXPECT_FLOAT_EQ(plugin.engine.channelControls[static_cast<size_t>(c.channel)].*c.field, c.expected);
    }

    midi(0, 0xA2, 36, 90);
    block(64);
    ASSERT_EQ(recorder.pressures.size(), 1u);
    EXPECT_FLOAT_EQ(recorder.pressures[0].pressure, 90 / 127.0f);
    EXPECT_EQ(recorder.pressures[0].note, 36);
    EXPECT_EQ(recorder.pressures[0].channel, 2);
}

TEST_F(OmbrixTest, FullMidiQueueDropsInsteadOfGrowing) {
    for (int i = 0; i < Ombrix::midiQueueCapacity + 100; ++i) midi(1000 + i, 0x90, 36, 100);
    EXPECT_EQ(plugin.queuedMidiCount(), Ombrix::midiQueueCapacity);
    block(64);
    EXPECT_EQ(plugin.queuedMidiCount(), Ombrix::midiQueueCapacity);
}

TEST_F(OmbrixTest, TransportKeysStartAndStopTheSequencer) {
    struct Case {
        const char* name;
        int status, note, velocity;
        bool runningBefore;
        bool runningAfter;
        bool rewound;
    };
    const Case cases[] = {
        {"A starts", 0x90, 45, 100, false, true, false},
        {"A in another octave starts", 0x90, 57, 1, false, true, false},
        {"A released stops and rewinds", 0x80, 45, 0, true, false, true},
        {"A with velocity 0 stops and rewinds", 0x90, 45, 0, true, false, true},
        {"A sharp starts", 0x90, 46, 100, false, true, false},
        {"A sharp released changes nothing", 0x80, 46, 0, true, true, false},
        {"B stops and rewinds", 0x90, 47, 100, true, false, true},
        {"B released changes nothing", 0x80, 47, 0, true, true, false},
        {"G sharp changes nothing", 0x90, 44, 100, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ombrix plugin;
        Recorder rec;
        rec.engine = &plugin.engine;
        plugin.engine.eventTap = &rec;
        plugin.reset(rate);
        if (c.runningBefore) {
            plugin.setPlaying(1);
            plugin.processBlock(channels, 2, 512, {});
        }
        const double clockBefore = plugin.sequencer.clockSixteenths;
        plugin.midiIn({0, static_cast<uint8_t>(c.status), static_cast<uint8_t>(c.note),
                       static_cast<uint8_t>(c.velocity)});
        plugin.processBlock(channels, 2, 64, {});
        EXPECT_EQ(plugin.seqRunning.load(), c.runningAfter ? 1 : 0);
        if (c.rewound) {
            EXPECT_EQ(plugin.sequencer.clockSixteenths, 0.0);
        } else {
            EXPECT_GE(plugin.sequencer.clockSixteenths, clockBefore);
        }
        EXPECT_TRUE(rec.notes.empty()); // transport keys never play a track
    }
}

TEST_F(OmbrixTest, OwnClockFiresOnTheSubBlockComputedByHand) {
    // At 120 BPM and 44100 Hz one 64-frame sub-block moves the clock by 512/44100 step
    // (11.89 ticks). A note at tick T fires in the first sub-block j whose end passes T:
    // (j + 1) × 512/44100 × 1024 > T. Step 1 (T = 1024): j + 1 > 86.1, so j = 86, frame 5504.
    // Swing +50 moves step 1 to 1.5 steps (swung tick 1025 at 1.50049): j = 129, frame 8256;
    // swing -50 moves it to 0.5 steps (0.50146): j = 43, frame 2752. Step 3 with swing +50
    // sits at 3.5 steps: j = 301, frame 19264. The loop repeats after 16 steps, so step 17
    // swung +50 sits at 17.5 steps: frame 96448, and -50 at 16.5 steps: frame 90944.
    // Straight, by step: 2: 11008, 3: 16512, 4: 22016, 6: 33024, 8: 44096, 9: 49600,
    // 12: 66112, 15: 82688, 16: 88192, 18: 99200.
    struct Case {
        const char* name;
        float swing;
        int length;
        int noteStep;
        std::vector<long> frames;
    };
    const Case cases[] = {
        {"straight step 1", 0.0f, 16, 1, {5504, 5504 + 88192}},
        {"swing +50 step 1", 50.0f, 16, 1, {8256, 96448}},
        {"swing -50 step 1", -50.0f, 16, 1, {2752, 90944}},
        {"swing +50 step 3", 50.0f, 16, 3, {19264}},
        {"swing +50 leaves step 2", 50.0f, 16, 2, {11008, 99200}},
        {"length 3 drifts across the loop", 0.0f, 3, 0, {0, 16512, 33024, 49600, 66112, 82688, 99200}},
        {"length 4 stays with the loop", 0.0f, 4, 0, {0, 22016, 44096, 66112, 88192}},
        {"length 16 loops", 0.0f, 16, 0, {0, 88192}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ombrix plugin;
        Recorder rec;
        rec.engine = &plugin.engine;
        plugin.engine.eventTap = &rec;
        plugin.reset(rate);
        plugin.sequencer.param(StepSequencer::paramSwing).set(c.swing);
        plugin.sequencer.patterns[2].length = c.length;
        plugin.sequencer.insertNote(2, c.noteStep * 1024, 512, 127);
        plugin.setPlaying(1);
        long total = 0;
        while (total < 104000) {
            rec.blockStart = total;
            plugin.processBlock(channels, 2, 512, {});
            total += 512;
        }
        std::vector<long> expected;
        for (long f : c.frames)
            if (f < total) expected.push_back(f);
        EXPECT_EQ(rec.noteOnFrames(38), expected);
        ASSERT_FALSE(rec.notes.empty());
        EXPECT_EQ(rec.notes[0].velocity, 1.0f);
        EXPECT_EQ(rec.notes[0].channel, 0);
    }
}

TEST_F(OmbrixTest, StoppingSendsNoNoteOffAndRewindsAtTheNextBlock) {
    plugin.sequencer.insertNote(0, 0, 4096, 100);
    plugin.setPlaying(-1); // toggles on
    run(2048);
    ASSERT_EQ(recorder.notes.size(), 1u);
    plugin.setPlaying(-1); // toggles off
    EXPECT_EQ(plugin.seqRunning.load(), 0);
    run(30000);
    EXPECT_EQ(recorder.notes.size(), 1u);
    EXPECT_EQ(plugin.sequencer.clockSixteenths, 0.0);
    EXPECT_EQ(plugin.sequencer.playStates[0].state, TrackPlayState::idle);
}

TEST_F(OmbrixTest, HostJumpsRelocateAndSmallErrorsAreAbsorbed) {
    struct Case {
        double jump; // steps between the host and the sequencer at the second block
        bool relocates;
    };
    const Case cases[] = {{2.0, true},
                          {0.6, true},
                          {-0.6, true},
                          {0.3, false},
                          {0.25, false},
                          {-0.3, false},
                          {0.01, false},
                          // a whole loop ahead but 0.3 behind within it
                          {15.7, false}};
    const double n = stepsPer512;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.jump);
        Ombrix plugin;
        plugin.sequencer.param(StepSequencer::paramHostSync).set(1.0f);
        plugin.reset(rate);
        plugin.processBlock(channels, 2, 512, {120.0, 0.0, true});
        ASSERT_EQ(plugin.seqRunning.load(), 1);
        ASSERT_NEAR(plugin.sequencer.clockSixteenths, n, 1e-9);
        plugin.processBlock(channels, 2, 512, {120.0, (n + c.jump) / 4.0, true});
        double expected;
        if (c.relocates) {
            expected = std::fmod(n + c.jump + 16.0, 16.0) + n;
        } else {
            // At most a quarter of the block's duration is made up in one block.
            expected = 2 * n + std::clamp(std::remainder(c.jump, 16.0), -n / 4, n / 4);
        }
        EXPECT_NEAR(plugin.sequencer.clockSixteenths, expected, 1e-9);
    }
}

TEST_F(OmbrixTest, QuarterStepErrorIsAbsorbedAtAQuarterOfRealTime) {
    // 0.25 step at 120 BPM is 31.25 ms; each 64-frame sub-block may make up a quarter of its
    // 1.45 ms, so the error is gone after 0.25 / (0.25 × 64/44100 × 8) = 86.1 sub-blocks.
    hostSync(true);
    const double n = 64.0 / 44100.0 * 8.0;
    block(64, {120.0, 0.0, true});
    double hostSteps = n;
    double clock = plugin.sequencer.clockSixteenths;
    hostSteps += 0.25;
    int catchingUp = 0;
    for (int i = 0; i < 120; ++i) {
        block(64, {120.0, hostSteps / 4.0, true});
        const double moved = plugin.sequencer.clockSixteenths - clock;
        clock = plugin.sequencer.clockSixteenths;
        hostSteps += n;
        EXPECT_LE(moved, 1.25 * n + 1e-12) << "block " << i;
        EXPECT_GE(moved, n - 1e-12) << "block " << i;
        if (moved > n + 1e-9) ++catchingUp;
    }
    EXPECT_EQ(catchingUp, 87);
    EXPECT_NEAR(clock, hostSteps, 1e-9); // the host position the next block would report
}

TEST_F(OmbrixTest, StoppedHostIsFollowedUntilOwnPlayRunsFree) {
    hostSync(true);
    const HostTransport stoppedAt12{120.0, 3.0, false};
    block(512, stoppedAt12);
    EXPECT_EQ(plugin.seqRunning.load(), 0);
    EXPECT_DOUBLE_EQ(plugin.sequencer.clockSixteenths, 12.0);

    // Moving the stopped host relocates the stopped sequencer.
    const HostTransport stoppedAt14{120.0, 3.5, false};
    block(512, stoppedAt14);
    EXPECT_DOUBLE_EQ(plugin.sequencer.clockSixteenths, 14.0);
    EXPECT_DOUBLE_EQ(plugin.engine.ppqPosition, 3.5);
    EXPECT_FALSE(plugin.engine.transportRunning);

    // Play while the host is stopped: the sequencer runs on its own clock.
    plugin.setPlaying(1);
    run(10 * 512, 512, stoppedAt14);
    EXPECT_EQ(plugin.seqRunning.load(), 1);
    EXPECT_NEAR(plugin.sequencer.clockSixteenths, 14.0 + 10 * stepsPer512, 1e-9);
    EXPECT_TRUE(plugin.engine.transportRunning);
    EXPECT_NEAR(plugin.engine.ppqPosition, (14.0 + 9 * stepsPer512) / 4.0, 1e-9);

    // The host starting takes over the transport and the position.
    block(512, {120.0, 0.0, true});
    EXPECT_NEAR(plugin.sequencer.clockSixteenths, stepsPer512, 1e-9);
    EXPECT_DOUBLE_EQ(plugin.engine.ppqPosition, 0.0);

    // The host stopping stops the sequencer, which then follows the host position again.
    block(512, {120.0, 2.0, false});
    EXPECT_EQ(plugin.seqRunning.load(), 0);
    EXPECT_DOUBLE_EQ(plugin.sequencer.clockSixteenths, 8.0);
}

TEST_F(OmbrixTest, TempoAndPositionFollowTheHostOnlyWhereTheyShould) {
    struct Case {
        const char* name;
        bool sync;
        bool ownPlay;
        HostTransport host;
        float bpmAfter;
        double clockAfter;
        double ppqAfter;
        bool transportRunning;
    };
    const Case cases[] = {
        {"sync off, host playing", false, false, {140.0, 7.0, true}, 60.0f, 0.0, 7.0, true},
        {"sync off, own play keeps its tempo",
         false,
         true,
         {140.0, 7.0, true},
         60.0f,
         stepsPer512 / 2,
         7.0,
         true},
        {"sync off, all stopped", false, false, {140.0, 7.0, false}, 60.0f, 0.0, 0.0, false},
        {"sync on takes the host tempo",
         true,
         false,
         {90.0, 1.0, true},
         90.0f,
         4.0 + stepsPer512 * 0.75,
         1.0,
         true},
        {"sync clamps the host tempo",
         true,
         false,
         {1000.0, 1.0, true},
         400.0f,
         4.0 + stepsPer512 * 10 / 3,
         1.0,
         true},
        {"sync reads a position beyond range as the start",
         true,
         false,
         {90.0, std::numeric_limits<double>::max(), true},
         90.0f,
         stepsPer512 * 0.75,
         0.0,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ombrix plugin;
        plugin.sequencer.param(StepSequencer::paramBpm).set(60.0f);
        plugin.sequencer.param(StepSequencer::paramHostSync).set(c.sync ? 1.0f : 0.0f);
        plugin.reset(rate);
        if (c.ownPlay) plugin.setPlaying(1);
        plugin.processBlock(channels, 2, 512, c.host);
        EXPECT_EQ(plugin.sequencer.param(StepSequencer::paramBpm).value, c.bpmAfter);
        EXPECT_EQ(plugin.engine.tempoBpm, c.bpmAfter);
        EXPECT_NEAR(plugin.sequencer.clockSixteenths, c.clockAfter, 1e-9);
        EXPECT_DOUBLE_EQ(plugin.engine.ppqPosition, c.ppqAfter);
        EXPECT_EQ(plugin.engine.transportRunning, c.transportRunning);
        EXPECT_EQ(plugin.lastHostRunning, c.sync ? (c.host.playing ? 1 : 0) : -1);
    }
}

// The idle tick installs the slots' effect units once the engine knows its rate, and hands
// edited Blobs to the audio thread.
TEST(OmbrixIdle, InstallsEffectUnitsAndPublishesBlobs) {
    Ombrix plugin;
    plugin.idleTick();
    EXPECT_EQ(plugin.engine.fxSlots[0].installedUnit(), nullptr);

    plugin.reset(44100.0f);
    plugin.idleTick();
    EXPECT_STREQ(plugin.engine.fxSlots[0].installedUnit()->name(), "Chorus");
    EXPECT_STREQ(plugin.engine.fxSlots[1].installedUnit()->name(), "Diffuser");
    EXPECT_STREQ(plugin.engine.fxSlots[2].installedUnit()->name(), "Sticky Compressor");
    EXPECT_STREQ(plugin.engine.fxSlots[3].installedUnit()->name(), "L.A. Optical");

    BlobSlot& slot = plugin.engine.tracks[2].blobs.slotB;
    slot.working.present = 0;
    ++slot.working.version;
    EXPECT_TRUE(slot.isPresent());
    plugin.idleTick();
    EXPECT_FALSE(slot.isPresent());
}

// The first start: a new instance's first preparation leads, on the next idle tick, to the
// shipped content being installed and the start preset opened; the preparation itself does no
// file work, and a state the host restored first is never replaced.
class OmbrixFirstStart : public ::testing::Test {
protected:
    OmbrixFirstStart() {
        auto shipped = std::make_unique<Ombrix>();
        shipped->sequencer.param(StepSequencer::paramBpm).set(97.0f);
        startChunk = saveState(*shipped);
        files[0] = {Folder::Presets, "Factory/Start Here.tarvo", startChunk.data(), startChunk.size()};
    }
    float bpm() const { return plugin->sequencer.param(StepSequencer::paramBpm).value; }
    static bool presetsExist() { return std::filesystem::exists(folderPath(Folder::Presets)); }

    test::ScopedHome home;
    std::vector<uint8_t> startChunk;
    FactoryFile files[1];
    FactoryContent content{"first-start-test", files};
    std::unique_ptr<Ombrix> plugin = std::make_unique<Ombrix>();
};

TEST_F(OmbrixFirstStart, InstallsTheContentAndOpensTheStartPresetOnTheIdleTick) {
    plugin->shippedContent = &content;
    plugin->reset(rate);
    EXPECT_FALSE(presetsExist()) << "the preparation may run on the audio thread";
    plugin->idleTick();
    EXPECT_EQ(plugin->presetName, "Start Here");
    EXPECT_EQ(bpm(), 97.0f);
    EXPECT_EQ(plugin->loadCount, 2); // the state load and the start step

    // Once per instance: a later preparation keeps what the user changed.
    plugin->sequencer.param(StepSequencer::paramBpm).set(90.0f);
    plugin->reset(48000.0f);
    plugin->idleTick();
    EXPECT_EQ(bpm(), 90.0f);
}

TEST_F(OmbrixFirstStart, EmptyFoldersLeaveAPlayableDefaultInstance) {
    plugin->reset(rate);
    plugin->idleTick();
    EXPECT_TRUE(plugin->presetName.empty());
    EXPECT_EQ(plugin->loadCount, 1);
    std::vector<float> left(512), right(512);
    float* channels[2] = {left.data(), right.data()};
    plugin->setPlaying(1);
    plugin->processBlock(channels, 2, 512, HostTransport{});
    for (float v : left) ASSERT_TRUE(std::isfinite(v));
}

TEST_F(OmbrixFirstStart, AStateRestoredBeforeTheIdleTickWins) {
    plugin->shippedContent = &content;
    plugin->reset(rate);
    auto stored = std::make_unique<Ombrix>();
    stored->sequencer.param(StepSequencer::paramBpm).set(77.0f);
    const std::vector<uint8_t> chunk = saveState(*stored);
    ASSERT_GT(readState(*plugin, chunk.data(), static_cast<int>(chunk.size())), 0);
    plugin->idleTick();
    EXPECT_EQ(bpm(), 77.0f);
    EXPECT_FALSE(presetsExist());
}

} // namespace
} // namespace tarvo
