#pragma once
// The edits the sequencer editor makes to a pattern by mouse: a note on an empty step, moving,
// lengthening, shortening and re-velocitying a note, and a track's length.
//
// Each edit keeps the pattern's limits: a new note starts on a step inside the track's
// length and is only made where at least half a step is free; a moved note stays between its
// neighbours, a resized one keeps at least half a step and never reaches into the next note;
// velocities stay within 1..127 and track lengths within 1 step and the loop. Patterns loaded
// from files may hold notes that already overlap or are very short: an edit of such a note
// never makes the overlap worse and never jumps the note elsewhere, it only lets the note
// move or shrink towards free room.
//
// Threads: editor thread. Every edit holds the sequencer's lock while it reads and writes the
// note arrays (the audio thread only tries that lock, so it skips a sub-block at worst) and
// counts `changeCount` up when something changed. Nothing allocates. Note indices are
// checked under the lock, so an index that a state load made stale changes nothing.

#include "control/StepSequencer.h"

namespace tarvo::patternEdits {

// A new note lasts one step, or less when the next note starts sooner.
constexpr int newNoteTicks = StepSequencer::ticksPerStep;
// The least room a new note needs, and the least length a resize leaves: half a step.
constexpr int minNoteTicks = StepSequencer::ticksPerStep / 2;
constexpr int newNoteVelocity = 100;

// Puts a note on step `step` of `track` when the step lies inside the track's length and
// more than half a step is free there. Returns whether a note went in.
bool insertAtStep(StepSequencer& sequencer, int track, int step);

// Moves note `index` by `ticks`, kept between the previous note's end (or 0) and the next
// note's start (or the loop's end) less its length. Returns whether the start changed.
bool moveNote(StepSequencer& sequencer, int track, int index, int ticks);

// Lengthens (or shortens, for negative ticks) note `index`, kept between half a step and the
// room up to the next note's start (or the loop's end). Returns whether the length changed.
bool resizeNote(StepSequencer& sequencer, int track, int index, int ticks);

// Adds `amount` to note `index`'s velocity, kept within 1..127. Returns whether it changed.
bool changeVelocity(StepSequencer& sequencer, int track, int index, int amount);

// Adds `steps` to the track's pattern length, kept within 1..loop steps. Returns whether it
// changed.
bool changeTrackLength(StepSequencer& sequencer, int track, int steps);

} // namespace tarvo::patternEdits
