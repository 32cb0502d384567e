#include "editor/TrackStrip.h"

#include <cmath>

namespace tarvo {

namespace {

// Meter scale: the bottom of the meter in decibels.
constexpr float meterFloorDb = -60.0f;

float meterFill(float peak) {
    if (peak <= 0.0f) return 0.0f;
    const float decibels = 20.0f * std::log10(peak);
    return std::clamp(1.0f - decibels / meterFloorDb, 0.0f, 1.0f);
}

} // namespace

TrackStrip::TrackStrip(int track, std::function<void(int)> onSelect)
    : Widget("track_", "Track"), track_(track), onSelect_(std::move(onSelect)) {}

void TrackStrip::setState(int state) {
    if (state == state_) return;
    state_ = state;
    repaint();
}

void TrackStrip::mouseDown(const juce::MouseEvent&) {
    if (onSelect_) onSelect_(track_);
}

void TrackStrip::paint(juce::Graphics& g) {
    const auto area = getLocalBounds().toFloat();
    const StyleOwner& looks = style();
    g.setColour(toJuce(looks.colorOf("track" + std::to_string(track_ + 1))));
    g.fillRect(area);
    static constexpr const char* overlays[] = {"track_overlay_off", "track_overlay_neutral",
                                               "track_overlay_on"};
    g.setColour(toJuce(looks.colorOr(overlays[std::clamp(state_, 0, 2)], StyleOwner::transparent)));
    g.fillRect(area);
    g.setColour(toJuce(looks.colorOf("track_text")));
    g.setFont(EditorFonts::main(18.0f));
    g.drawText(juce::String(track_ + 1), area.withLeft(area.getRight() - 44.0f), juce::Justification::centred,
               false);
}

DiceButton::DiceButton() : Widget("dice", "Random Dice") {}

void DiceButton::paint(juce::Graphics& g) {
    const auto area = getLocalBounds().toFloat();
    drawStyledBox(g, style(), styleId(), area);
    g.setColour(colour("_dots"));
    const float pip = area.getWidth() * 0.14f;
    const auto face = area.reduced(area.getWidth() * 0.25f);
    const juce::Point<float> dots[] = {face.getTopLeft(), face.getTopRight(), face.getCentre(),
                                       face.getBottomLeft(), face.getBottomRight()};
    for (const auto& dot : dots) g.fillEllipse(juce::Rectangle<float>(pip, pip).withCentre(dot));
}

LevelMeter::LevelMeter(std::string styleId, bool vertical,
                       std::function<std::array<float, 2>(const DisplaySnapshot&)> levels)
    : Widget(std::move(styleId)), vertical_(vertical), levels_(std::move(levels)) {
    setInterceptsMouseClicks(false, false);
}

void LevelMeter::tick() {
    EditorContext* owner = context();
    if (owner == nullptr || !levels_) return;
    const auto now = levels_(owner->display());
    if (now != shown_) {
        shown_ = now;
        repaint();
    }
}

void LevelMeter::paint(juce::Graphics& g) {
    const auto area = getLocalBounds().toFloat();
    g.setColour(colour("_bg"));
    g.fillRect(area);
    g.setColour(colour("_on"));
    for (int c = 0; c < 2; ++c) {
        const float fill = meterFill(shown_[static_cast<size_t>(c)]);
        if (vertical_) {
            const float w = area.getWidth() * 0.5f;
            const auto lane =
                area.withX(area.getX() + w * static_cast<float>(c)).withWidth(w).reduced(0.5f, 0.0f);
            g.fillRect(lane.withTop(lane.getBottom() - lane.getHeight() * fill));
        } else {
            const float h = area.getHeight() * 0.5f;
            const auto lane =
                area.withY(area.getY() + h * static_cast<float>(c)).withHeight(h).reduced(0.0f, 0.5f);
            g.fillRect(lane.withWidth(lane.getWidth() * fill));
        }
    }
}

AnalyserPanel::AnalyserPanel() : Widget("modal") {}

void AnalyserPanel::paint(juce::Graphics& g) {
    g.fillAll(colour("_bg"));
    g.setColour(colour("_txt"));
    g.setFont(EditorFonts::bold(20.0f));
    g.drawText("Audio Analyzer", getLocalBounds(), juce::Justification::centred, false);
}

} // namespace tarvo
