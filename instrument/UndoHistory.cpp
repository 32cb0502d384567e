#include "instrument/UndoHistory.h"

#include <algorithm>

namespace tarvo {

bool UndoHistory::record(const Blob& a, const Blob& b, bool restart) {
    const bool edit = !restart && !entries_.empty();
    if (edit) {
        ++position_;
    } else {
        position_ = 0;
        entries_.resize(static_cast<size_t>(entryCount));
    }
    top_ = position_;
    Entry& entry = at(position_);
    entry.a.copyFrom(a, true);
    entry.b.copyFrom(b, true);
    return edit;
}

const UndoHistory::Entry* UndoHistory::step(int direction) {
    const int32_t target = position_ + direction;
    if (entries_.empty() || target < 0 || target < top_ - (entryCount - 1) || target > top_) return nullptr;
    position_ = target;
    return &at(position_);
}

int32_t UndoHistory::undoCount() const {
    if (entries_.empty()) return 0;
    return std::min(entryCount - 1 - (top_ - position_), position_);
}

} // namespace tarvo
