#pragma once
// The one control for parameters, in six kinds: 1 rotary knob with its name below, 2 vertical
// bar, 3 value field or menu, 4 horizontal fader, 5 value box with a fill bar and the name
// below, 6 labelled row (name left, value box right).
//
// A knob is bound through a function that finds its parameter in the instrument each time it
// is needed, so knobs that follow the current track, envelope or LFO rebind by themselves.

#include <functional>

#include "editor/Widget.h"

namespace tarvo {

class Ombrix;
class Param;

struct KnobSpec {
    std::function<Param*(Ombrix&)> param;
    int kind = 1;
    std::string styleId;
    juce::String helpName; // empty: the parameter's name
    juce::String name;     // shown name; empty: the parameter's name
    bool showName = true;
    juce::Justification nameJustification = juce::Justification::centred;
    juce::Justification valueJustification = juce::Justification::centred;
    juce::String fontName = "mainFont";
    float textSize = 14.0f;
    float textHeight = 0.0f;     // 0: by kind
    float valueBoxHeight = 0.0f; // 0: by kind
    float valueRightInset = 0.0f;
    bool menu = true;        // a click on an enumerated parameter opens its menu
    bool bipolar = true;     // parameters centred on 0 fill from the centre
    std::string trackColour; // mix knobs: "track1" .. "track8"
};

class KnobWidget : public Widget {
public:
    explicit KnobWidget(KnobSpec spec);

    // The bound parameter now, or null (no context, or the binding finds none).
    Param* param() const;
    const KnobSpec& spec() const { return spec_; }
    juce::String helpName() const override;

    void paint(juce::Graphics& g) override;
    void tick() override;

private:
    juce::String shownName(const Param& param) const;

    KnobSpec spec_;
    float shownValue_ = -1.0f;
};

} // namespace tarvo
