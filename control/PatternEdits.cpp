#include "control/PatternEdits.h"

#include <algorithm>
#include <mutex>

namespace tarvo::patternEdits {

namespace {

bool validTrack(const StepSequencer& sequencer, int track) {
    return track >= 0 && track < sequencer.trackCount();
}

int loopTicks(const StepSequencer& sequencer) {
    return sequencer.loopSteps * StepSequencer::ticksPerStep;
}

// Where the note after `index` starts, or the loop's end for the last note.
int nextStart(const StepSequencer& sequencer, const std::vector<SeqNote>& notes, size_t index) {
    return index + 1 < notes.size() ? notes[index + 1].start : loopTicks(sequencer);
}

// Runs edit(note) on note `index` of `track` under the lock; counts the change when the edit
// reports one.
template <typename Edit> bool editNote(StepSequencer& sequencer, int track, int index, Edit edit) {
    if (!validTrack(sequencer, track)) return false;
    std::lock_guard<std::mutex> guard(sequencer.lock);
    std::vector<SeqNote>& notes = sequencer.patterns[static_cast<size_t>(track)].notes;
    if (index < 0 || index >= static_cast<int>(notes.size())) return false;
    const bool changed = edit(notes, static_cast<size_t>(index));
    if (changed) ++sequencer.changeCount;
    return changed;
}

} // namespace

bool insertAtStep(StepSequencer& sequencer, int track, int step) {
    if (!validTrack(sequencer, track)) return false;
    int room = 0;
    int start = 0;
    {
        std::lock_guard<std::mutex> guard(sequencer.lock);
        const TrackPattern& pattern = sequencer.patterns[static_cast<size_t>(track)];
        // Only steps inside the track's pattern: a click at its very end is still its last step.
        const int steps = std::min(static_cast<int>(pattern.length), static_cast<int>(sequencer.loopSteps));
        if (step < 0 || step >= steps) return false;
        start = step * StepSequencer::ticksPerStep;
        room = newNoteTicks;
        for (const SeqNote& note : pattern.notes) {
            if (note.start < start && note.start + note.length > start) return false; // occupied
            if (note.start >= start) room = std::min(room, note.start - start);
        }
    }
    if (room < minNoteTicks) return false;
    return sequencer.insertNote(track, start, room, newNoteVelocity);
}

bool moveNote(StepSequencer& sequencer, int track, int index, int ticks) {
    return editNote(sequencer, track, index, [&](std::vector<SeqNote>& notes, size_t i) {
        SeqNote& note = notes[i];
        const int previousEnd = i > 0 ? notes[i - 1].start + notes[i - 1].length : 0;
        const int latest = nextStart(sequencer, notes, i) - note.length;
        // A note that already overlaps a neighbour keeps its place as one bound, so it can only
        // move away from the overlap.
        const int lowest = std::min(previousEnd, static_cast<int>(note.start));
        const int highest = std::max(latest, static_cast<int>(note.start));
        const int start = std::clamp(note.start + ticks, lowest, highest);
        if (start == note.start) return false;
        note.start = static_cast<uint16_t>(start);
        return true;
    });
}

bool resizeNote(StepSequencer& sequencer, int track, int index, int ticks) {
    return editNote(sequencer, track, index, [&](std::vector<SeqNote>& notes, size_t i) {
        SeqNote& note = notes[i];
        const int room = nextStart(sequencer, notes, i) - note.start;
        // A note that already reaches past the next start may shrink but not grow; where less
        // than half a step is left, the least length is what is left.
        const int longest = std::max(room, static_cast<int>(note.length));
        const int shortest = std::min(minNoteTicks, longest);
        const int length = std::clamp(note.length + ticks, shortest, longest);
        if (length == note.length) return false;
        note.length = static_cast<uint16_t>(length);
        return true;
    });
}

bool changeVelocity(StepSequencer& sequencer, int track, int index, int amount) {
    return editNote(sequencer, track, index, [&](std::vector<SeqNote>& notes, size_t i) {
        SeqNote& note = notes[i];
        const int velocity = std::clamp(note.velocity + amount, 1, 127);
        if (velocity == note.velocity) return false;
        note.velocity = static_cast<uint8_t>(velocity);
        return true;
    });
}

bool changeTrackLength(StepSequencer& sequencer, int track, int steps) {
    if (!validTrack(sequencer, track)) return false;
    std::lock_guard<std::mutex> guard(sequencer.lock);
    TrackPattern& pattern = sequencer.patterns[static_cast<size_t>(track)];
    const int length = std::clamp(pattern.length + steps, 1, static_cast<int>(sequencer.loopSteps));
    if (length == pattern.length) return false;
    pattern.length = length;
    ++sequencer.changeCount;
    return true;
}

} // namespace tarvo::patternEdits
