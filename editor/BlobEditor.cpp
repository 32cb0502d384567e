#include "editor/BlobEditor.h"

namespace tarvo {

namespace {

// Grid lines across the canvas: time and frequency divisions.
constexpr int gridDivisions = 8;

} // namespace

BlobEditorWidget::BlobEditorWidget(juce::Rectangle<int> canvas)
    : Widget("blob", "Blob Editor"), canvas_(canvas) {}

void BlobEditorWidget::paint(juce::Graphics& g) {
    g.fillAll(colour("_bg"));
    const auto canvas = canvas_.toFloat();
    g.setColour(colour("_canvas"));
    g.fillRect(canvas);
    g.setColour(colour("_grid"));
    for (int i = 1; i < gridDivisions; ++i) {
        const float f = static_cast<float>(i) / gridDivisions;
        g.drawHorizontalLine(juce::roundToInt(canvas.getY() + f * canvas.getHeight()), canvas.getX(),
                             canvas.getRight());
        g.drawVerticalLine(juce::roundToInt(canvas.getX() + f * canvas.getWidth()), canvas.getY(),
                           canvas.getBottom());
    }
    const float frame = value("_frame");
    if (frame > 0.0f) {
        g.setColour(colour("_frame"));
        g.drawRect(canvas.expanded(frame * 0.5f), frame);
    }
}

} // namespace tarvo
