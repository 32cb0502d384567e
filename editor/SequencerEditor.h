#pragma once
// The step-sequencer editor of the Sequence view: one row per track, track 8 on top, with the
// pattern's notes on a grid of steps.

#include "editor/Widget.h"

namespace tarvo {

class SequencerEditor : public Widget {
public:
    SequencerEditor();
    void paint(juce::Graphics& g) override;
    void tick() override;

private:
    int32_t shownChanges_ = -1;
    int32_t shownStep_ = -1;
};

} // namespace tarvo
