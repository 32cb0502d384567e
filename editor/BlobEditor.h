#pragma once
// The Blob editor of the Sound view: the canvas showing the current track's sound over time
// and frequency, where the tools shape it.

#include "editor/Widget.h"

namespace tarvo {

class BlobEditorWidget : public Widget {
public:
    // The canvas, within the widget's bounds.
    explicit BlobEditorWidget(juce::Rectangle<int> canvas);

    juce::Rectangle<int> canvasBounds() const { return canvas_; }
    void paint(juce::Graphics& g) override;

private:
    juce::Rectangle<int> canvas_;
};

} // namespace tarvo
