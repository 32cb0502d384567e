#include "editor/WaveformButton.h"

namespace tarvo {

WaveformButton::WaveformButton(int track) : Widget("wave", "Track Waveform"), track_(track) {}

void WaveformButton::paint(juce::Graphics& g) {
    const auto area = getLocalBounds().toFloat();
    const StyleOwner& looks = style();
    const float radius = looks.valueOf("wavebox_corner");
    const juce::Colour fill = toJuce(looks.colorOr("wavebox_fill", StyleOwner::transparent));
    if (fill.getAlpha() > 0) {
        g.setColour(fill);
        g.fillRoundedRectangle(area, radius);
    }
    const float border = looks.valueOf("wavebox_border");
    const juce::Colour borderColour = toJuce(looks.colorOr("wavebox_border", StyleOwner::transparent));
    if (border > 0.0f && borderColour.getAlpha() > 0) {
        g.setColour(borderColour);
        g.drawRoundedRectangle(area.reduced(border * 0.5f), radius, border);
    }
}

} // namespace tarvo
