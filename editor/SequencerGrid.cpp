#include "editor/SequencerGrid.h"

#include <cmath>

#include "control/PatternEdits.h"

namespace tarvo {

void SequencerGrid::setBounds(float left, float top, float width, float height) {
    left_ = left;
    top_ = top;
    width_ = width > 0.0f ? width : 1.0f;
    height_ = height > 0.0f ? height : 1.0f;
}

bool SequencerGrid::hover(float x, float y) {
    const int oldTrack = track_, oldNote = note_;
    const bool oldEnd = onNoteEnd_;
    const float bottom = top_ + height_;
    int row = static_cast<int>(std::floor((bottom - y) / rowHeight()));
    // The grid's top edge belongs to the top row.
    if (y >= top_ && row == rows) row = rows - 1;
    track_ = row;
    note_ = -1;
    onNoteEnd_ = false;
    const bool inRows = row >= 0 && row < rows && row < sequencer_.trackCount();
    if (!inRows || x > left_ + sequencer_.patterns[static_cast<size_t>(row)].length * cellWidth()) {
        lengthHandle_ = pastEndMark;
    } else {
        lengthHandle_ = 0.0f;
        const int tick = static_cast<int>((x - left_) * StepSequencer::ticksPerStep / cellWidth());
        const float at = sequencer_.noteAt(row, tick);
        if (at >= 0.0f) {
            note_ = static_cast<int>(at);
            onNoteEnd_ = at - std::floor(at) > 0.5f;
        }
    }
    return track_ != oldTrack || note_ != oldNote || onNoteEnd_ != oldEnd;
}

bool SequencerGrid::press(float x, float y, double now) {
    hover(x, y);
    bool changed = false;
    if (note_ < 0 && lengthHandle_ == 0.0f) {
        const int step = static_cast<int>(std::floor((x - left_) / cellWidth()));
        changed = patternEdits::insertAtStep(sequencer_, track_, step);
    }
    pressTime_ = now;
    travel_ = 0.0f;
    return changed;
}

bool SequencerGrid::drag(float dx, float dy) {
    if (travel_ < 0.0f) return false;
    travel_ += std::fabs(dx) + std::fabs(dy);
    const bool validTrack = track_ >= 0 && track_ < sequencer_.trackCount();
    if (lengthHandle_ != 0.0f) {
        if (!validTrack) return false;
        lengthHandle_ += dx;
        const int steps = static_cast<int>(std::lround(lengthHandle_ / cellWidth()));
        if (steps == 0) return false;
        lengthHandle_ -= static_cast<float>(steps) * cellWidth();
        // Never exactly 0, which would mean the pointer is back inside the pattern.
        if (lengthHandle_ == 0.0f) lengthHandle_ = pastEndMark;
        return patternEdits::changeTrackLength(sequencer_, track_, steps);
    }
    if (note_ < 0 || !validTrack) return false;
    if (std::fabs(dy) < std::fabs(dx)) {
        // Pointer positions carry rounding noise from the view's scaling: a movement is taken to
        // the nearest thousandth of a pixel, so 50 pixels always make 512 ticks.
        const double pixels = std::round(static_cast<double>(dx) * 1000.0) / 1000.0;
        const int ticks = static_cast<int>(pixels * ticksPerPixel);
        return onNoteEnd_ ? patternEdits::resizeNote(sequencer_, track_, note_, ticks)
                          : patternEdits::moveNote(sequencer_, track_, note_, ticks);
    }
    return patternEdits::changeVelocity(sequencer_, track_, note_, -static_cast<int>(dy * velocityPerPixel));
}

bool SequencerGrid::release(double now) {
    if (travel_ < 0.0f) return false;
    bool changed = false;
    if (note_ >= 0 && now - pressTime_ < clickSeconds && travel_ < clickTravel) {
        changed = sequencer_.removeNote(track_, note_);
        note_ = -1;
        onNoteEnd_ = false;
    }
    travel_ = -1.0f;
    lengthHandle_ = 0.0f;
    return changed;
}

} // namespace tarvo
