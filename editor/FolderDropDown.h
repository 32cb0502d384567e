#pragma once
// A drop-down over a folder of files: the preset browser and the two Blob selectors. It shows
// the chosen file's name in a styled box with arrows to step through the folder.

#include "editor/Widget.h"

namespace tarvo {

class FolderDropDown : public Widget {
public:
    enum class Role { presetBrowser, blobSelectorA, blobSelectorB };
    FolderDropDown(Role role, std::string styleId, juce::String helpName);

    Role role() const { return role_; }
    // The shown text: the preset's or the Blob's name.
    void setText(const juce::String& text);
    const juce::String& text() const { return text_; }

    void paint(juce::Graphics& g) override;
    void tick() override;

private:
    Role role_;
    juce::String text_;
};

} // namespace tarvo
