#include "control/PatternEdits.h"

#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <thread>
#include <vector>

namespace tarvo {
namespace {

struct Note {
    int start;
    int length;
    int velocity = 100;
    bool operator==(const Note&) const = default;
};

// Puts notes into track 0 as a loaded state would: as given, overlaps and all.
void load(StepSequencer& seq, std::initializer_list<Note> notes, int length = 16) {
    auto& pattern = seq.patterns[0];
    pattern.notes.clear();
    for (const Note& n : notes)
        pattern.notes.push_back({static_cast<uint16_t>(n.start), static_cast<uint16_t>(n.length),
                                 static_cast<uint8_t>(n.velocity), 0});
    pattern.length = length;
}

std::vector<Note> notesOf(const StepSequencer& seq, int track = 0) {
    std::vector<Note> out;
    for (const SeqNote& n : seq.patterns[static_cast<size_t>(track)].notes)
        out.push_back({n.start, n.length, n.velocity});
    return out;
}

TEST(PatternEdits, InsertFillsTheFreeRoomOfAStepWhenHalfAStepIsFree) {
    struct Case {
        const char* what;
        std::initializer_list<Note> before;
        int trackLength;
        int step;
        std::vector<Note> after;
    };
    const Case cases[] = {
        {"empty track", {}, 16, 3, {{3072, 1024}}},
        {"next note 600 ticks on", {{3672, 200}}, 16, 3, {{3072, 600}, {3672, 200}}},
        {"next note 512 ticks on", {{3584, 200}}, 16, 3, {{3072, 512}, {3584, 200}}},
        {"next note 400 ticks on", {{3472, 200}}, 16, 3, {{3472, 200}}},
        {"a note already starts there", {{3072, 100}}, 16, 3, {{3072, 100}}},
        {"inside a longer note", {{2048, 2000}}, 16, 3, {{2048, 2000}}},
        {"note ends exactly at the step", {{2048, 1024}}, 16, 3, {{2048, 1024}, {3072, 1024}}},
        {"last step of the loop", {}, 16, 15, {{15360, 1024}}},
        {"the loop's end is no step", {}, 16, 16, {}},
        {"beyond a short track's end", {}, 4, 4, {}},
        {"last step of a short track", {}, 4, 3, {{3072, 1024}}},
        {"negative step", {}, 16, -1, {}},
    };
    for (const Case& c : cases) {
        StepSequencer seq;
        load(seq, c.before, c.trackLength);
        patternEdits::insertAtStep(seq, 0, c.step);
        EXPECT_EQ(notesOf(seq), c.after) << c.what;
    }
}

TEST(PatternEdits, InsertRefusesAFullTrackAndUnknownTracks) {
    StepSequencer seq;
    // A full track whose notes all lie within step 0: step 5 is free but there is no room.
    for (int i = 0; i < StepSequencer::defaultReserveNotes; ++i) ASSERT_TRUE(seq.insertNote(0, 10 * i, 5, 1));
    EXPECT_FALSE(patternEdits::insertAtStep(seq, 0, 5));
    EXPECT_EQ(seq.patterns[0].notes.size(), static_cast<size_t>(StepSequencer::defaultReserveNotes));
    EXPECT_FALSE(patternEdits::insertAtStep(seq, 8, 0));
    EXPECT_FALSE(patternEdits::insertAtStep(seq, -1, 0));
}

TEST(PatternEdits, MovesStayBetweenNeighboursEvenWhenLoadedNotesOverlap) {
    struct Case {
        const char* what;
        std::initializer_list<Note> before;
        int index;
        int ticks;
        int expectedStart;
    };
    const Case cases[] = {
        {"free move", {{1024, 512}}, 0, 500, 1524},
        {"stops at the pattern start", {{1024, 512}}, 0, -5000, 0},
        {"stops at the loop end", {{1024, 512}}, 0, 50000, 16384 - 512},
        {"stops at the previous note's end", {{0, 1024}, {2048, 512}}, 1, -2000, 1024},
        {"stops at the next note", {{0, 1024}, {2048, 512}}, 0, 5000, 1024},
        // Overlapping notes from a file: the overlap never grows, moving away from it works.
        {"overlapping note cannot move into its neighbour", {{0, 2048}, {1024, 512}}, 1, -100, 1024},
        {"overlapping note moves away", {{0, 2048}, {1024, 512}}, 1, 300, 1324},
        {"overlapping first note cannot move later", {{0, 2048}, {1024, 512}}, 0, 100, 0},
        {"note past the loop end stays", {{16000, 1024}}, 0, 100, 16000},
        {"note past the loop end moves back", {{16000, 1024}}, 0, -100, 15900},
        {"equal starts stay put", {{1024, 512}, {1024, 512}}, 0, 10, 1024},
    };
    for (const Case& c : cases) {
        StepSequencer seq;
        load(seq, c.before);
        patternEdits::moveNote(seq, 0, c.index, c.ticks);
        EXPECT_EQ(notesOf(seq)[static_cast<size_t>(c.index)].start, c.expectedStart) << c.what;
    }
}

TEST(PatternEdits, ResizesKeepHalfAStepAndNeverReachIntoTheNextNote) {
    struct Case {
        const char* what;
        std::initializer_list<Note> before;
        int index;
        int ticks;
        int expectedLength;
    };
    const Case cases[] = {
        {"lengthen by 512", {{0, 1024}}, 0, 512, 1536},
        {"limited by the next note", {{0, 1024}, {1200, 100}}, 0, 512, 1200},
        {"limited by the loop end", {{15360, 1024}}, 0, 512, 1024},
        {"never below half a step", {{0, 1024}}, 0, -2000, 512},
        {"a very short loaded note jumps to half a step", {{0, 10}}, 0, 1, 512},
        // Loaded notes too close together or overlapping.
        {"short gap: grows to the next note at most", {{0, 100}, {300, 100}}, 0, 50, 300},
        {"overlap: cannot grow", {{0, 2048}, {1024, 512}}, 0, 100, 2048},
        {"overlap: can shrink", {{0, 2048}, {1024, 512}}, 0, -100, 1948},
        {"overlap: shrinks to half a step at least", {{0, 2048}, {256, 512}}, 0, -5000, 512},
    };
    for (const Case& c : cases) {
        StepSequencer seq;
        load(seq, c.before);
        patternEdits::resizeNote(seq, 0, c.index, c.ticks);
        EXPECT_EQ(notesOf(seq)[static_cast<size_t>(c.index)].length, c.expectedLength) << c.what;
    }
}

TEST(PatternEdits, VelocitiesAndTrackLengthsStayInRange) {
    StepSequencer seq;
    load(seq, {{0, 1024, 100}});
    patternEdits::changeVelocity(seq, 0, 0, 20);
    EXPECT_EQ(notesOf(seq)[0].velocity, 120);
    patternEdits::changeVelocity(seq, 0, 0, 500);
    EXPECT_EQ(notesOf(seq)[0].velocity, 127);
    patternEdits::changeVelocity(seq, 0, 0, -500);
    EXPECT_EQ(notesOf(seq)[0].velocity, 1);

    patternEdits::changeTrackLength(seq, 0, 40);
    EXPECT_EQ(seq.patterns[0].length, 16);
    patternEdits::changeTrackLength(seq, 0, -40);
    EXPECT_EQ(seq.patterns[0].length, 1);
    patternEdits::changeTrackLength(seq, 0, 2);
    EXPECT_EQ(seq.patterns[0].length, 3);
}

TEST(PatternEdits, StaleIndicesChangeNothingAndRealChangesCount) {
    StepSequencer seq;
    load(seq, {{0, 1024}});
    const int before = seq.changeCount;
    EXPECT_FALSE(patternEdits::moveNote(seq, 0, 1, 100));
    EXPECT_FALSE(patternEdits::resizeNote(seq, 0, -1, 100));
    EXPECT_FALSE(patternEdits::changeVelocity(seq, 9, 0, 1));
    EXPECT_FALSE(patternEdits::moveNote(seq, 0, 0, -100)) << "already at the start";
    EXPECT_EQ(seq.changeCount, before);
    EXPECT_TRUE(patternEdits::moveNote(seq, 0, 0, 100));
    EXPECT_EQ(seq.changeCount, before + 1) << "an in-place edit marks the pattern changed";
}

TEST(PatternEdits, EditsHoldTheSequencersLock) {
    StepSequencer seq;
    load(seq, {{0, 1024}});
    std::unique_lock<std::mutex> held(seq.lock);
    std::atomic<bool> done{false};
    std::thread editor([&] {
        patternEdits::moveNote(seq, 0, 0, 100);
        patternEdits::changeTrackLength(seq, 0, -1);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(done) << "the edit must wait for the lock";
    EXPECT_EQ(seq.patterns[0].notes[0].start, 0);
    held.unlock();
    editor.join();
    EXPECT_EQ(seq.patterns[0].notes[0].start, 100);
    EXPECT_EQ(seq.patterns[0].length, 15);
}

} // namespace
} // namespace tarvo
