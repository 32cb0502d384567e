#pragma once
// The undo history of Blob edits: the latest 89 states of the current track's two Blobs. Every
// completed edit, Blob load, enable or disable, import and mirror records one; changing the
// current track starts the history again. Undo and redo move within the kept states, and a new
// state recorded after undoing discards the redo steps.
//
// Threads: user-interface thread only. Recording copies two Blobs (allocates for their names;
// the entries themselves are allocated once, when the history first starts).

#include <cstdint>
#include <vector>

#include "engine/Blob.h"

namespace tarvo {

class UndoHistory {
public:
    // States kept; so at most one fewer undo steps.
    static constexpr int32_t entryCount = 89;

    struct Entry {
        Blob a, b;
    };

    // Records a and b as the newest state. With restart, or while the history is empty, the
    // history begins again from them. Returns whether this counts as an edit (not a restart).
    bool record(const Blob& a, const Blob& b, bool restart);
    // Moves one step back (-1) or forward (+1) when there is one, returning the state to
    // restore; null (and nothing moves) beyond either end.
    const Entry* step(int direction);

    int32_t undoCount() const;
    int32_t redoCount() const { return top_ - position_; }
    bool empty() const { return entries_.empty(); }

private:
    Entry& at(int32_t position) { return entries_[static_cast<size_t>(position % entryCount)]; }

    std::vector<Entry> entries_;
    int32_t position_ = 0; // the shown state
    int32_t top_ = 0;      // the newest state
};

} // namespace tarvo
