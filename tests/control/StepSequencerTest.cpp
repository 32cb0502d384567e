#include "control/StepSequencer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace tarvo {
namespace {

// At the default 120 BPM one call of this length moves the clock by exactly 1/64 step, that is
// 16 ticks, so a note starting on step s > 0 is reported in call 64 s: the first call whose
// window passes the note's start tick.
constexpr double callSeconds = 1.0 / 512.0;
constexpr int callsPerStep = 64;

struct Trigger {
    int call;
    int track;
    int velocity; // 0 is a note-off
    bool operator==(const Trigger&) const = default;
};

// Drives the sequencer the way the block loop does, one call at a time.
std::vector<Trigger> play(StepSequencer& seq, int calls, double seconds = callSeconds, int firstCall = 0) {
    std::vector<Trigger> out;
    for (int c = firstCall; c < firstCall + calls; ++c) {
        const int last = seq.advance(seconds);
        for (int t = 0; t <= last; ++t) {
            const int v = seq.takeTrigger(t);
            if (v >= 0) out.push_back({c, t, v});
        }
    }
    return out;
}

std::vector<int> noteOnCalls(const std::vector<Trigger>& triggers, int track) {
    std::vector<int> calls;
    for (const Trigger& t : triggers)
        if (t.track == track && t.velocity > 0) calls.push_back(t.call);
    return calls;
}

class StepSequencerTest : public ::testing::Test {
protected:
    void SetUp() override { SharedRandom::seed(SharedRandom::initialState); }
    StepSequencer seq;
};

TEST_F(StepSequencerTest, SwingMovesEverySecondStep) {
    struct Case {
        float swing;
        int step;
        int expectedCall;
    };
    // With swing f the second step of a pair is heard at 1 + f steps: the first call whose end
    // passes (1 + f) × 1024 + 1 ticks of swung time. Step 2 never moves.
    const Case cases[] = {
        {0.0f, 1, 64}, {50.0f, 1, 96}, {-50.0f, 1, 32}, {50.0f, 2, 128}, {-50.0f, 2, 128}, {50.0f, 3, 224},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "swing " << c.swing << " step " << c.step);
        StepSequencer s;
        s.param(StepSequencer::paramSwing).set(c.swing);
        s.insertNote(0, c.step * 1024, 256, 100);
        EXPECT_EQ(noteOnCalls(play(s, 4 * callsPerStep), 0), std::vector<int>{c.expectedCall});
    }
}

TEST_F(StepSequencerTest, ShortTracksDriftAgainstTheLoopAndDividingOnesStayLocked) {
    seq.patterns[0].length = 3;
    seq.patterns[1].length = 16;
    seq.patterns[2].length = 4;
    for (int t = 0; t < 3; ++t) seq.insertNote(t, 0, 512, 100);

    const auto triggers = play(seq, 2 * 16 * callsPerStep);
    auto stepsOf = [&](int track) {
        std::vector<int> steps;
        for (int call : noteOnCalls(triggers, track)) steps.push_back(call / callsPerStep);
        return steps;
    };
    EXPECT_EQ(stepsOf(0), (std::vector<int>{0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30}));
    EXPECT_EQ(stepsOf(1), (std::vector<int>{0, 16}));
    EXPECT_EQ(stepsOf(2), (std::vector<int>{0, 4, 8, 12, 16, 20, 24, 28}));
    // Every note ends half a step after it starts.
    for (const Trigger& t : triggers)
        if (t.velocity == 0) {
            EXPECT_EQ(t.call % callsPerStep, callsPerStep / 2) << "track " << t.track;
        }
}

TEST_F(StepSequencerTest, NoteOffComesOneStepLaterUnlessTheNextNoteStartsThere) {
    struct Case {
        const char* name;
        std::vector<int> starts;
        std::vector<Trigger> expected;
    };
    const Case cases[] = {
        {"single note", {0}, {{0, 0, 100}, {64, 0, 0}}},
        {"adjacent notes", {0, 1024}, {{0, 0, 100}, {64, 0, 100}, {128, 0, 0}}},
        {"gap of one step", {0, 2048}, {{0, 0, 100}, {64, 0, 0}, {128, 0, 100}, {192, 0, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StepSequencer s;
        for (int start : c.starts) s.insertNote(0, start, 1024, 100);
        EXPECT_EQ(play(s, 4 * callsPerStep), c.expected);
    }
}

TEST_F(StepSequencerTest, WindowsLongerThanHalfAStepReportNothing) {
    struct Case {
        double seconds; // one call from the start; 0.0625 s is exactly half a step
        bool reported;
    };
    const Case cases[] = {{0.0625, true}, {0.07, false}, {0.1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        StepSequencer s;
        s.insertNote(0, 100, 256, 100);
        s.insertNote(0, 2048, 256, 90);
        EXPECT_EQ(s.advance(c.seconds), c.reported ? 0 : -1);
        if (c.reported) {
            EXPECT_EQ(s.takeTrigger(0), 100);
        }
        // The following calls continue from the new position: the step-2 note still plays.
        const auto later = play(s, 2 * callsPerStep);
        EXPECT_TRUE(
            std::any_of(later.begin(), later.end(), [](const Trigger& t) { return t.velocity == 90; }));
    }
}

TEST_F(StepSequencerTest, LooseVeloStaysInsideItsSpreadAndTheMidiRange) {
    struct Case {
        float looseVelo;
        int stored;
        int low, high;
    };
    const Case cases[] = {
        {0.0f, 64, 64, 64}, {100.0f, 64, 15, 113},  {100.0f, 100, 51, 127},
        {100.0f, 1, 1, 50}, {100.0f, 127, 78, 127},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "loose " << c.looseVelo << " stored " << c.stored);
        StepSequencer s;
        s.param(StepSequencer::paramLooseVelo).set(c.looseVelo);
        for (int step = 0; step < 16; ++step) s.insertNote(0, step * 1024, 512, c.stored);
        int lowest = 128, highest = 0;
        for (const Trigger& t : play(s, 40 * 16 * callsPerStep))
            if (t.velocity > 0) {
                lowest = std::min(lowest, t.velocity);
                highest = std::max(highest, t.velocity);
            }
        EXPECT_GE(lowest, c.low);
        EXPECT_LE(highest, c.high);
        // 640 draws come close to both ends.
        EXPECT_LE(lowest, c.low + 4);
        EXPECT_GE(highest, c.high - 4);
    }
}

TEST_F(StepSequencerTest, LooseTimeDriftsButPlaysEveryNoteOnce) {
    seq.param(StepSequencer::paramLooseTime).set(100.0f);
    for (int step = 0; step < 16; step += 4) seq.insertNote(0, step * 1024, 512, 100);
    const auto triggers = play(seq, 8 * 16 * callsPerStep);
    const auto calls = noteOnCalls(triggers, 0);
    ASSERT_EQ(calls.size(), 32u);
    bool drifted = false;
    for (size_t i = 0; i < calls.size(); ++i) {
        const int planned = static_cast<int>(i) * 4 * callsPerStep;
        // The walk stays within about ±0.2 steps and never runs the track backwards.
        EXPECT_NEAR(calls[i], planned, 0.35 * callsPerStep) << "note " << i;
        drifted = drifted || calls[i] != planned;
    }
    EXPECT_TRUE(drifted);
}

TEST_F(StepSequencerTest, AdvanceByZeroChangesNothing) {
    seq.insertNote(0, 0, 1024, 100);
    play(seq, 10);
    const double clock = seq.clockSixteenths, position = seq.positionSixteenths;
    const int32_t tick = seq.tick;
    const auto before = seq.playStates;
    EXPECT_EQ(seq.advance(0.0), -1);
    EXPECT_EQ(seq.clockSixteenths, clock);
    EXPECT_EQ(seq.positionSixteenths, position);
    EXPECT_EQ(seq.tick, tick);
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(std::memcmp(&before[i], &seq.playStates[i], sizeof before[i]), 0);
}

TEST_F(StepSequencerTest, AdvanceMovesOnlyTheClockWhileTheEditorHoldsTheLock) {
    seq.insertNote(0, 0, 1024, 100);
    {
        std::lock_guard<std::mutex> editor(seq.lock);
        EXPECT_EQ(seq.advance(callSeconds), 0);
        EXPECT_EQ(seq.takeTrigger(0), -1);
        EXPECT_DOUBLE_EQ(seq.clockSixteenths, 1.0 / 64);
    }
    // The held-back note follows in the next call.
    EXPECT_EQ(play(seq, 1, callSeconds, 1), (std::vector<Trigger>{{1, 0, 100}}));
}

TEST_F(StepSequencerTest, LocateFoldsNegativeHostPositionsIntoThePattern) {
    struct Case {
        double steps;
        double clock;
        int32_t tick;
        int32_t posLength3;
    };
    const Case cases[] = {
        {5.5, 5.5, 5632, 2560},      {21.0, 5.0, 5120, 0},   {-0.5, 15.5, 15872, 2560},
        {-17.25, 14.75, 15104, 768}, {-3.0, 13.0, 13312, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.steps);
        StepSequencer s;
        s.patterns[1].length = 3;
        s.locate(c.steps);
        EXPECT_DOUBLE_EQ(s.clockSixteenths, c.clock);
        EXPECT_DOUBLE_EQ(s.positionSixteenths, c.clock);
        EXPECT_EQ(s.tick, c.tick);
        EXPECT_EQ(s.playStates[0].pos, c.tick);
        EXPECT_EQ(s.playStates[1].pos, c.posLength3);
    }
}

TEST_F(StepSequencerTest, EditingKeepsOrderRoomAndCounts) {
    EXPECT_TRUE(seq.insertNote(2, 2048, 512, 80));
    EXPECT_TRUE(seq.insertNote(2, 0, 512, 81));
    EXPECT_TRUE(seq.insertNote(2, 2048, 256, 82)); // goes before the note with the same start
    const auto& notes = seq.patterns[2].notes;
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_EQ(notes[0].velocity, 81);
    EXPECT_EQ(notes[1].velocity, 82);
    EXPECT_EQ(notes[2].velocity, 80);
    EXPECT_EQ(notes[1].track, 2);
    EXPECT_FLOAT_EQ(seq.noteAt(2, 128), 128.0f / 513.0f);
    EXPECT_FLOAT_EQ(seq.noteAt(2, 0), -1.0f); // the start itself is not inside
    EXPECT_FLOAT_EQ(seq.noteAt(2, 1024), -1.0f);

    EXPECT_TRUE(seq.removeNote(2, 1));
    EXPECT_FALSE(seq.removeNote(2, 5));
    EXPECT_EQ(notes[1].velocity, 80);

    // The reserved room is never exceeded; a refused insert or removal still counts as an edit.
    for (int i = 0; i < 40; ++i) seq.insertNote(3, i * 300, 100, 100);
    EXPECT_EQ(seq.patterns[3].notes.size(), 32u);
    EXPECT_EQ(seq.changeCount.load(), 3 + 2 + 40);

    seq.patterns[2].length = 5;
    seq.clear(2);
    EXPECT_TRUE(seq.patterns[2].notes.empty());
    EXPECT_EQ(seq.patterns[2].length, 16);
    EXPECT_EQ(seq.patterns[3].notes.size(), 32u);
    seq.clear(StepSequencer::allTracks);
    EXPECT_TRUE(seq.patterns[3].notes.empty());
}

TEST_F(StepSequencerTest, StateRoundTripsExactly) {
    seq.patterns[1].length = 7;
    seq.insertNote(1, 0, 1024, 127);
    seq.insertNote(1, 3072, 512, 1);
    seq.insertNote(7, 15360, 1024, 64);
    seq.param(StepSequencer::paramBpm).set(97.0f);
    seq.param(StepSequencer::paramHostSync).set(1.0f);
    seq.param(StepSequencer::paramSwing).set(-20.0f);
    seq.param(StepSequencer::paramLooseTime).set(33.0f);
    seq.param(StepSequencer::paramLooseVelo).set(12.0f);

    std::vector<uint8_t> data(256, 0);
    int size = 0;
    seq.write(data.data(), size, static_cast<int>(data.size()));
    ASSERT_EQ(size, 8 * 2 + 3 * 6 + 5 * 4);
    // Track 0: no notes, 16 steps; track 1: two notes, 7 steps, first note little-endian.
    const uint8_t head[] = {0, 16, 2, 7, 0x00, 0x00, 0x00, 0x04, 127, 0};
    EXPECT_EQ(std::memcmp(data.data(), head, sizeof head), 0);

    StepSequencer copy;
    int position = 0;
    ASSERT_TRUE(copy.read(data.data(), position, size, 65794));
    EXPECT_EQ(position, size);
    EXPECT_EQ(copy.changeCount.load(), 1);
    for (int t = 0; t < 8; ++t) {
        const auto& a = seq.patterns[static_cast<size_t>(t)];
        const auto& b = copy.patterns[static_cast<size_t>(t)];
        EXPECT_EQ(a.length, b.length);
        ASSERT_EQ(a.notes.size(), b.notes.size());
        EXPECT_EQ(std::memcmp(a.notes.data(), b.notes.data(), a.notes.size() * sizeof(SeqNote)), 0);
        EXPECT_GE(b.notes.capacity(), 32u); // loaded tracks keep their editing room
    }
    for (int p = 0; p < StepSequencer::paramCount; ++p)
        EXPECT_EQ(copy.params[static_cast<size_t>(p)].value, seq.params[static_cast<size_t>(p)].value);
}

TEST_F(StepSequencerTest, DamagedStateIsClampedOrRejected) {
    struct Case {
        const char* name;
        std::vector<uint8_t> data; // first track only; the rest reads as zeros
        bool accepted;
        int32_t length;
        size_t notes;
    };
    const Case cases[] = {
        {"length 0 becomes 1", {1, 0, 0, 0, 0, 4, 100, 0}, true, 1, 1},
        {"length 40 becomes 16", {0, 40}, true, 16, 0},
        {"negative length becomes 1", {0, 0xFD}, true, 1, 0},
        {"count above 127 is rejected", {200, 16, 1, 2, 3, 4, 5, 6}, false, 0, 0},
        {"data ending early reads zeros", {3, 8, 0, 4}, true, 8, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StepSequencer s;
        s.insertNote(0, 1024, 512, 90);
        int position = 0;
        const bool accepted = s.read(c.data.data(), position, static_cast<int>(c.data.size()), 65794);
        EXPECT_EQ(accepted, c.accepted);
        if (!c.accepted) {
            // Nothing changed: the old pattern is intact and nothing was consumed.
            EXPECT_EQ(position, 0);
            ASSERT_EQ(s.patterns[0].notes.size(), 1u);
            EXPECT_EQ(s.patterns[0].notes[0].start, 1024);
            continue;
        }
        EXPECT_EQ(s.patterns[0].length, c.length);
        EXPECT_EQ(s.patterns[0].notes.size(), c.notes);
        // A damaged pattern still plays without faults.
        play(s, 2 * 16 * callsPerStep);
    }
}

TEST(SharedRandomTest, ThreadsDrawDistinctValuesOfOneSequence) {
    constexpr int draws = 20000;
    SharedRandom::seed(SharedRandom::initialState);
    std::set<uint32_t> expected;
    for (int i = 0; i < 2 * draws; ++i) expected.insert(SharedRandom::next());
    SharedRandom::seed(SharedRandom::initialState);

    std::vector<uint32_t> a, b;
    a.reserve(draws);
    b.reserve(draws);
    std::thread first([&] {
        for (int i = 0; i < draws; ++i) a.push_back(SharedRandom::next());
    });
    for (int i = 0; i < draws; ++i) b.push_back(SharedRandom::next());
    first.join();
    std::set<uint32_t> got(a.begin(), a.end());
    got.insert(b.begin(), b.end());
    EXPECT_EQ(got, expected);
}

} // namespace
} // namespace tarvo
