#include "editor/FolderDropDown.h"

#include "instrument/Ombrix.h"

namespace tarvo {

namespace {

// Width of the step arrows at each end of the box.
constexpr float arrowWidth = 14.0f;

} // namespace

FolderDropDown::FolderDropDown(Role role, std::string styleId, juce::String helpName)
    : Widget(std::move(styleId), std::move(helpName)), role_(role) {}

void FolderDropDown::setText(const juce::String& text) {
    if (text == text_) return;
    text_ = text;
    repaint();
}

void FolderDropDown::tick() {
    EditorContext* owner = context();
    if (owner == nullptr) return;
    Ombrix& instrument = owner->instrument();
    if (role_ == Role::presetBrowser) {
        juce::String name = juce::String::fromUTF8(instrument.presetName.c_str());
        if (name.isNotEmpty() && instrument.presetModified()) name += "*";
        setText(name);
        return;
    }
    const Track& track = instrument.engine.tracks[static_cast<size_t>(instrument.currentTrackIndex())];
    const Blob& blob = role_ == Role::blobSelectorA ? track.blobs.slotA.working : track.blobs.slotB.working;
    juce::String name = juce::String::fromUTF8(blob.name.c_str());
    if (blob.present <= 0) name = "<off>";
    if (blob.editCount > 0) name += "*";
    setText(name);
}

void FolderDropDown::paint(juce::Graphics& g) {
    const auto area = getLocalBounds().toFloat();
    drawStyledBox(g, style(), styleId(), area);
    const juce::Colour ink = colour("_text");
    g.setColour(ink);
    g.setFont(EditorFonts::main(14.0f));
    g.drawText(text_, area.reduced(arrowWidth, 0.0f), juce::Justification::centred, true);
    // Step arrows: left and right triangles.
    g.setColour(ink.withMultipliedAlpha(0.6f));
    const float cy = area.getCentreY();
    juce::Path arrows;
    arrows.addTriangle(area.getX() + 9, cy - 4, area.getX() + 9, cy + 4, area.getX() + 4, cy);
    arrows.addTriangle(area.getRight() - 9, cy - 4, area.getRight() - 9, cy + 4, area.getRight() - 4, cy);
    g.fillPath(arrows);
}

} // namespace tarvo
