#pragma once
// The curve editors: the velocity curve of the Sound view, and the envelope and LFO editors of
// the Modulate view.

#include "editor/Widget.h"

namespace tarvo {

class CurveEditor : public Widget {
public:
    enum class Kind { velocity, envelope, lfo };
    CurveEditor(Kind kind, std::string styleId, juce::String helpName);

    Kind kind() const { return kind_; }
    void paint(juce::Graphics& g) override;

private:
    Kind kind_;
};

} // namespace tarvo
