#include "editor/CurveEditor.h"

namespace tarvo {

namespace {

constexpr int gridDivisions = 4;

} // namespace

CurveEditor::CurveEditor(Kind kind, std::string styleId, juce::String helpName)
    : Widget(std::move(styleId), std::move(helpName)), kind_(kind) {}

void CurveEditor::paint(juce::Graphics& g) {
    const auto area = getLocalBounds().toFloat();
    drawStyledBox(g, style(), styleId(), area);
    g.setColour(colour("_grid"));
    for (int i = 1; i < gridDivisions; ++i) {
        const float f = static_cast<float>(i) / gridDivisions;
        g.drawHorizontalLine(juce::roundToInt(area.getY() + f * area.getHeight()), area.getX(),
                             area.getRight());
        g.drawVerticalLine(juce::roundToInt(area.getX() + f * area.getWidth()), area.getY(),
                           area.getBottom());
    }
}

} // namespace tarvo
