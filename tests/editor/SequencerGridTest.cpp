#include "editor/SequencerGrid.h"

#include <gtest/gtest.h>

namespace tarvo {
namespace {

// The grid at the size the Sequence view gives it: cells of 38 × 58 pixels.
class SequencerGridTest : public ::testing::Test {
protected:
    void SetUp() override { grid.setBounds(0.0f, 0.0f, 646.0f, 464.0f); }

    // The centre of step `step` of track `track`, shifted by dx pixels.
    float stepX(int step, float dx = 0.0f) const { return (step + 0.5f) * grid.cellWidth() + dx; }
    float rowY(int track) const { return grid.rowTop(track) + grid.rowHeight() / 2; }
    // The pixel of a tick.
    float tickX(int tick) const { return tick * grid.cellWidth() / 1024.0f; }

    const SeqNote& note(int track, int i) const {
        return seq.patterns[static_cast<size_t>(track)].notes[static_cast<size_t>(i)];
    }
    size_t noteCount(int track) const { return seq.patterns[static_cast<size_t>(track)].notes.size(); }

    StepSequencer seq;
    SequencerGrid grid{seq};
};

TEST_F(SequencerGridTest, HitTestFindsTrackNoteAndNoteHalf) {
    seq.insertNote(2, 1024, 1024, 100);
    EXPECT_TRUE(grid.hover(stepX(1, -10), rowY(2)));
    EXPECT_EQ(grid.hoveredTrack(), 2);
    EXPECT_EQ(grid.hoveredNote(), 0);
    EXPECT_FALSE(grid.onNoteEnd());
    EXPECT_FALSE(grid.hover(stepX(1, -9), rowY(2))) << "nothing changed";
    EXPECT_TRUE(grid.hover(stepX(1, 10), rowY(2)));
    EXPECT_TRUE(grid.onNoteEnd());

    grid.hover(stepX(1), rowY(7));
    EXPECT_EQ(grid.hoveredTrack(), 7) << "track 8 is the top row";
    EXPECT_EQ(grid.hoveredNote(), -1);
    grid.hover(stepX(0), 0.0f);
    EXPECT_EQ(grid.hoveredTrack(), 7) << "the top edge belongs to the top row";

    seq.patterns[3].length = 4;
    grid.hover(stepX(5), rowY(3));
    EXPECT_TRUE(grid.pastPatternEnd());
    grid.hover(stepX(3), rowY(3));
    EXPECT_FALSE(grid.pastPatternEnd());
    EXPECT_TRUE(grid.leave() || grid.hoveredNote() == -1);
    EXPECT_EQ(grid.hoveredNote(), -1);
}

TEST_F(SequencerGridTest, PressOnAnEmptyPlaceInsertsWhereThereIsRoom) {
    struct Case {
        const char* what;
        int existingStart; // -1: none
        int step;
        float dx;
        int expectedNotes;
    };
    const Case cases[] = {
        {"step 3 of an empty track", -1, 3, 0.0f, 1},
        {"600 ticks before a note", 3672, 3, 0.0f, 2},
        {"400 ticks before a note", 3472, 3, 0.0f, 1},
        {"the last pixel of the last step", -1, 15, 18.0f, 1},
        {"the pattern's very end adds no note at the end tick", -1, 15, 19.0f, 0},
    };
    for (const Case& c : cases) {
        StepSequencer s;
        SequencerGrid g{s};
        g.setBounds(0.0f, 0.0f, 646.0f, 464.0f);
        if (c.existingStart >= 0) s.insertNote(0, c.existingStart, 200, 90);
        g.press(stepX(c.step, c.dx), rowY(0), 0.0);
        g.release(1.0);
        ASSERT_EQ(s.patterns[0].notes.size(), static_cast<size_t>(c.expectedNotes)) << c.what;
        for (const SeqNote& n : s.patterns[0].notes) EXPECT_LT(n.start, 16384) << c.what;
    }
    // The new note of the first case: step 3, one step long, velocity 100.
    grid.press(stepX(3), rowY(0), 0.0);
    ASSERT_EQ(noteCount(0), 1u);
    EXPECT_EQ(note(0, 0).start, 3072);
    EXPECT_EQ(note(0, 0).length, 1024);
    EXPECT_EQ(note(0, 0).velocity, 100);
    EXPECT_EQ(grid.hoveredNote(), -1) << "the press that made a note does not hold it";
    grid.release(0.1);
    EXPECT_EQ(noteCount(0), 1u) << "so its quick release does not delete it";
}

TEST_F(SequencerGridTest, AQuickClickOnANoteDeletesItASlowOrMovingOneDoesNot) {
    struct Case {
        const char* what;
        double held;
        float travel;
        size_t left;
    };
    const Case cases[] = {{"quick click", 0.1, 0.0f, 0u},
                          {"quick with a little jitter", 0.1, 7.0f, 0u},
                          {"held too long", 0.4, 0.0f, 1u},
                          {"moved too far", 0.1, 9.0f, 1u}};
    for (const Case& c : cases) {
        StepSequencer s;
        SequencerGrid g{s};
        g.setBounds(0.0f, 0.0f, 646.0f, 464.0f);
        s.insertNote(0, 2048, 1024, 100);
        g.press(stepX(2, -5), rowY(0), 1.0);
        // Vertical travel, returned, so the velocity ends where it started.
        g.drag(0.0f, c.travel / 2);
        g.drag(0.0f, -c.travel / 2);
        g.release(1.0 + c.held);
        EXPECT_EQ(s.patterns[0].notes.size(), c.left) << c.what;
    }
}

TEST_F(SequencerGridTest, DraggingANoteMovesResizesOrChangesItsVelocity) {
    seq.insertNote(0, 2048, 1024, 100);
    seq.insertNote(0, 5120, 1024, 100);

    grid.press(stepX(2, 10), rowY(0), 0.0); // right half
    grid.drag(50.0f, 0.0f);
    EXPECT_EQ(note(0, 0).length, 1536) << "50 pixels are 512 ticks";
    grid.drag(500.0f, 0.0f);
    EXPECT_EQ(note(0, 0).length, 3072) << "up to the next note";
    grid.release(5.0);

    grid.press(stepX(5, -10), rowY(0), 0.0); // left half of the second note
    grid.drag(-100.0f, 0.0f);
    EXPECT_EQ(note(0, 1).start, 5120) << "the first note now reaches it";
    grid.drag(300.0f, 0.0f);
    EXPECT_EQ(note(0, 1).start, 5120 + 3072);
    grid.drag(3000.0f, 0.0f);
    EXPECT_EQ(note(0, 1).start, 16384 - 1024) << "the loop's end";
    grid.drag(0.0f, -10.0f);
    EXPECT_EQ(note(0, 1).velocity, 120) << "10 pixels up: 20 louder";
    grid.drag(0.0f, -100.0f);
    EXPECT_EQ(note(0, 1).velocity, 127);
    grid.drag(0.0f, 1000.0f);
    EXPECT_EQ(note(0, 1).velocity, 1);
    grid.release(5.0);
}

TEST_F(SequencerGridTest, OverlappingLoadedNotesKeepTheirBoundsInOrder) {
    // As a damaged or foreign preset may hold them: the second note starts inside the first.
    seq.patterns[0].notes = {{0, 2048, 100, 0}, {1024, 2048, 100, 0}, {2560, 100, 100, 0}};
    grid.press(tickX(300), rowY(0), 0.0); // the first note's left half
    ASSERT_EQ(grid.hoveredNote(), 0);
    for (float dx : {-100.0f, 100.0f, 1000.0f}) grid.drag(dx, 0.0f);
    EXPECT_EQ(note(0, 0).start, 0);
    grid.release(5.0);

    grid.press(tickX(3000), rowY(0), 0.0); // the second note's right half
    ASSERT_EQ(grid.hoveredNote(), 1);
    ASSERT_TRUE(grid.onNoteEnd());
    grid.drag(100.0f, 0.0f);
    EXPECT_EQ(note(0, 1).length, 2048) << "cannot grow further into the third note";
    grid.drag(-30.0f, 0.0f);
    EXPECT_EQ(note(0, 1).length, 2048 - 307);
    grid.release(5.0);
}

TEST_F(SequencerGridTest, TheLengthHandleStepsBetweenOneAndSixteen) {
    seq.patterns[1].length = 8;
    grid.press(stepX(8, 5), rowY(1), 0.0);
    ASSERT_TRUE(grid.pastPatternEnd());
    EXPECT_EQ(noteCount(1), 0u) << "a press past the end adds nothing";
    grid.drag(grid.cellWidth() * 0.4f, 0.0f);
    EXPECT_EQ(seq.patterns[1].length, 8) << "less than half a cell";
    grid.drag(grid.cellWidth() * 0.2f, 0.0f);
    EXPECT_EQ(seq.patterns[1].length, 9);
    grid.drag(2000.0f, 0.0f);
    EXPECT_EQ(seq.patterns[1].length, 16);
    grid.drag(-5000.0f, 0.0f);
    EXPECT_EQ(seq.patterns[1].length, 1);
    grid.release(5.0);
    EXPECT_FALSE(grid.pastPatternEnd());
}

TEST_F(SequencerGridTest, ClearTrackAndClearAll) {
    for (int t = 0; t < 3; ++t) seq.insertNote(t, 0, 1024, 100);
    seq.patterns[1].length = 5;
    grid.clearTrack(1);
    EXPECT_EQ(noteCount(1), 0u);
    EXPECT_EQ(seq.patterns[1].length, 16);
    EXPECT_EQ(noteCount(0), 1u);
    grid.clearAll();
    EXPECT_EQ(noteCount(0) + noteCount(2), 0u);
}

} // namespace
} // namespace tarvo
