#pragma once
// What the sequencer grid does with the mouse, apart from drawing: the grid's geometry, the
// hit test (track row, note, which half of the note, past the pattern's end) and the
// gestures: a press on an empty step adds a note, dragging a note moves it, dragging its
// right half resizes it, dragging vertically changes its velocity, dragging past a pattern's
// end changes the track's length, and a quick click on a note deletes it.
//
// Eight rows, track 1 at the bottom; sixteen step columns plus one spare column, which leaves
// room to drag a pattern's end handle to the full loop.
//
// User-interface thread only. The grid keeps no pattern data: every edit goes to the
// sequencer through patternEdits (control/PatternEdits.h), under the sequencer's lock.

#include "control/StepSequencer.h"

namespace tarvo {

class SequencerGrid {
public:
    static constexpr int rows = 8;
    // The step columns plus the spare one for the length handle.
    static constexpr int columns = 17;
    // Ticks a note moves or resizes per pixel of horizontal drag.
    static constexpr double ticksPerPixel = 10.24;
    // Velocity steps per pixel of vertical drag (upwards is louder).
    static constexpr float velocityPerPixel = 2.0f;
    // A press shorter than this (seconds) and moving less than `clickTravel` pixels on a
    // note deletes it.
    static constexpr double clickSeconds = 0.3;
    static constexpr float clickTravel = 8.0f;
    // Where a pointer that left the grid is taken to be.
    static constexpr float awayPosition = -1000.0f;
    // Marks the pointer as past the pattern's end before any drag.
    static constexpr float pastEndMark = 0.001f;

    explicit SequencerGrid(StepSequencer& sequencer) : sequencer_(sequencer) {}

    // The grid's rectangle, in the same units as the pointer positions.
    void setBounds(float left, float top, float width, float height);
    float cellWidth() const { return width_ / columns; }
    float rowHeight() const { return height_ / rows; }
    float left() const { return left_; }
    float top() const { return top_; }
    // The top of track i's row (track 1, index 0, is the bottom row).
    float rowTop(int track) const { return top_ + (rows - 1 - track) * rowHeight(); }

    // Pointer over the grid; returns whether the hovered track, note or note half changed.
    bool hover(float x, float y);
    // Pointer left the grid; returns whether that changed the hover.
    bool leave() { return hover(awayPosition, awayPosition); }

    // Left button down at (x, y) at time now (seconds). Returns whether the pattern changed
    // (a note was added).
    bool press(float x, float y, double now);
    // Pointer moved by (dx, dy) while the left button is held. Returns whether the pattern
    // changed.
    bool drag(float dx, float dy);
    // Left button up at time now. Returns whether the pattern changed (a quick click deleted
    // a note).
    bool release(double now);

    // The right-click menu's commands.
    void clearTrack(int track) { sequencer_.clear(track); }
    void clearAll() { sequencer_.clear(StepSequencer::allTracks); }

    int hoveredTrack() const { return track_; }
    int hoveredNote() const { return note_; }
    bool onNoteEnd() const { return onNoteEnd_; }
    bool pastPatternEnd() const { return lengthHandle_ != 0.0f; }
    bool pressed() const { return travel_ >= 0.0f; }

    StepSequencer& sequencer() { return sequencer_; }

private:
    StepSequencer& sequencer_;
    float left_ = 0.0f, top_ = 0.0f, width_ = 1.0f, height_ = 1.0f;
    int track_ = -1;
    int note_ = -1;
    bool onNoteEnd_ = false;
    // Non-zero while the pointer is past the hovered track's pattern end; then it gathers the
    // horizontal drag not yet turned into whole steps.
    float lengthHandle_ = 0.0f;
    double pressTime_ = 0.0;
    // Pointer travel since the press (|dx| + |dy|), -1 while no press is held.
    float travel_ = -1.0f;
};

} // namespace tarvo
