#include "editor/Knob.h"

#include <cmath>

#include "control/Param.h"
#include "instrument/Ombrix.h"

namespace tarvo {

namespace {

// Room for a parameter's value text.
constexpr int valueTextCapacity = 64;

juce::String valueText(const Param& param) {
    char text[valueTextCapacity];
    param.formatValue(text, valueTextCapacity, param.effective());
    return juce::String::fromUTF8(text);
}

} // namespace

KnobWidget::KnobWidget(KnobSpec spec) : Widget(spec.styleId, spec.helpName), spec_(std::move(spec)) {}

Param* KnobWidget::param() const {
    EditorContext* owner = context();
    if (owner == nullptr || !spec_.param) return nullptr;
    return spec_.param(owner->instrument());
}

juce::String KnobWidget::helpName() const {
    if (spec_.helpName.isNotEmpty()) return spec_.helpName;
    const Param* bound = param();
    return bound != nullptr && bound->name != nullptr ? juce::String::fromUTF8(bound->name) : juce::String();
}

juce::String KnobWidget::shownName(const Param& param) const {
    if (spec_.name.isNotEmpty()) return spec_.name;
    return param.name != nullptr ? juce::String::fromUTF8(param.name) : juce::String();
}

void KnobWidget::tick() {
    const Param* bound = param();
    const float now = bound != nullptr ? bound->effective() : -1.0f;
    if (now != shownValue_) {
        shownValue_ = now;
        repaint();
    }
}

void KnobWidget::paint(juce::Graphics& g) {
    const Param* bound = param();
    if (bound == nullptr) return;
    const auto area = getLocalBounds().toFloat();
    const float position = std::clamp(bound->toNormalized(bound->effective()), 0.0f, 1.0f);
    const juce::Font font = EditorFonts::named(spec_.fontName, spec_.textSize);
    const juce::Colour trackOn =
        spec_.trackColour.empty() ? colour("_track_on") : toJuce(style().colorOf(spec_.trackColour));
    const juce::Colour trackOff = colourOr("_track_off", juce::Colours::transparentBlack);
    g.setFont(font);
    switch (spec_.kind) {
    case 1: { // rotary knob, name below
        const float nameHeight = spec_.textSize + 2.0f;
        const auto dial = area.withTrimmedBottom(nameHeight).reduced(4.0f);
        const float diameter = std::min(dial.getWidth(), dial.getHeight());
        const auto circle = juce::Rectangle<float>(diameter, diameter).withCentre(dial.getCentre());
        // The dial's travel: three quarters of a turn, opening at the bottom.
        const float start = -0.75f * juce::MathConstants<float>::pi;
        const float end = start + 1.5f * juce::MathConstants<float>::pi;
        juce::Path track;
        track.addCentredArc(circle.getCentreX(), circle.getCentreY(), diameter * 0.5f - 2,
                            diameter * 0.5f - 2, 0, start, end, true);
        g.setColour(trackOff);
        g.strokePath(track, juce::PathStrokeType(3.0f));
        juce::Path arc;
        arc.addCentredArc(circle.getCentreX(), circle.getCentreY(), diameter * 0.5f - 2, diameter * 0.5f - 2,
                          0, start, start + position * (end - start), true);
        g.setColour(trackOn);
        g.strokePath(arc, juce::PathStrokeType(3.0f));
        g.setColour(colour("_fill"));
        g.fillEllipse(circle.reduced(5.0f));
        const float angle = start + position * (end - start);
        const auto centre = circle.getCentre();
        const float reach = diameter * 0.5f - 7.0f;
        g.setColour(colour("_notch"));
        g.drawLine(centre.x + std::sin(angle) * reach * 0.4f, centre.y - std::cos(angle) * reach * 0.4f,
                   centre.x + std::sin(angle) * reach, centre.y - std::cos(angle) * reach, 2.0f);
        if (spec_.showName) {
            g.setColour(colour("_label"));
            g.drawText(shownName(*bound), area.withTop(area.getBottom() - nameHeight),
                       spec_.nameJustification, false);
        }
        break;
    }
    case 2: { // vertical bar
        const auto bar = area.reduced(area.getWidth() * 0.3f, 4.0f);
        g.setColour(trackOff.getAlpha() > 0 ? trackOff : colour("_bg"));
        g.fillRoundedRectangle(bar, 2.0f);
        g.setColour(trackOn);
        g.fillRoundedRectangle(bar.withTop(bar.getBottom() - bar.getHeight() * position), 2.0f);
        break;
    }
    case 3: { // value field
        g.setColour(colour("_value"));
        g.drawText(valueText(*bound), area.withTrimmedRight(spec_.valueRightInset), spec_.valueJustification,
                   false);
        break;
    }
    case 4: { // horizontal fader
        const auto line = area.reduced(4.0f, area.getHeight() * 0.5f - 1.0f);
        g.setColour(colour("_line"));
        g.fillRect(line);
        const float x = line.getX() + position * line.getWidth();
        g.setColour(colour("_fill"));
        g.fillEllipse(juce::Rectangle<float>(12.0f, 12.0f).withCentre({x, area.getCentreY()}));
        g.setColour(colour("_line"));
        g.drawEllipse(juce::Rectangle<float>(12.0f, 12.0f).withCentre({x, area.getCentreY()}), 1.5f);
        break;
    }
    case 5: { // value box with fill, name below
        const auto box = area.withHeight(area.getHeight() * 0.5f);
        g.setColour(colour("_value_bg"));
        g.fillRoundedRectangle(box, value("_valCorner"));
        g.setColour(trackOn);
        g.fillRoundedRectangle(box.withWidth(box.getWidth() * position), value("_valCorner"));
        g.setColour(colour("_value"));
        g.drawText(valueText(*bound), box, spec_.valueJustification, false);
        g.setColour(colour("_label"));
        g.drawText(shownName(*bound), area.withTop(box.getBottom()), spec_.nameJustification, false);
        break;
    }
    default: { // labelled row
        const float boxHeight = spec_.valueBoxHeight > 0.0f ? spec_.valueBoxHeight : area.getHeight();
        const auto box =
            area.withLeft(area.getX() + area.getWidth() * 0.5f)
                .withTrimmedRight(spec_.valueRightInset)
                .withSizeKeepingCentre(area.getWidth() * 0.5f - spec_.valueRightInset, boxHeight);
        g.setColour(colour("_label"));
        g.drawText(shownName(*bound), area.withRight(box.getX() - 2.0f), juce::Justification::centredLeft,
                   false);
        g.setColour(colour("_value_bg"));
        g.fillRect(box);
        g.setColour(colour("_track_on"));
        g.fillRect(box.withWidth(box.getWidth() * position));
        g.setColour(colour("_value"));
        g.drawText(valueText(*bound), box, juce::Justification::centred, false);
        break;
    }
    }
}

} // namespace tarvo
