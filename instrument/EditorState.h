#pragma once
// What the instrument keeps for its editor, so that closing and reopening the window (or a
// second window on the same instance) shows the same thing: the style tables, the shown view,
// tool, envelope and LFO, the undo history of Blob edits, the latest error, and the display
// snapshots the audio thread publishes.
//
// Threads: everything but `display` and `displayWanted` belongs to the user-interface thread.
// The audio thread fills `display` while `displayWanted` is set (an editor is open).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "instrument/DisplaySnapshot.h"
#include "instrument/StyleOwner.h"
#include "instrument/UndoHistory.h"

namespace tarvo {

struct EditorState {
    enum View : int32_t { soundView = 0, sequenceView = 1, modulateView = 2, mixView = 3 };
    enum Tool : int32_t { dragTool = 0, attractTool = 1, repelTool = 2 };

    StyleOwner style;
    int32_t view = soundView;
    int32_t tool = dragTool;
    int32_t envelope = 0; // the envelope the Modulate view edits
    int32_t lfo = 0;      // the LFO the Modulate view edits
    UndoHistory undo;

    // The latest error for the user, and when it happened; the editor shows each one once.
    std::string errorText;
    std::chrono::system_clock::time_point errorTime{};

    DisplayPublisher display;
    std::atomic<bool> displayWanted{false};
};

} // namespace tarvo
