#pragma once
// A drop-down over a folder tree of files with one extension: the preset browser and the two
// Blob selectors. It shows a label (the chosen file's name, with "*" while the owner says the
// thing was changed) between two arrows that step to the previous or next file, wrapping at
// the ends. A click elsewhere opens a menu: the owner's fixed entries first ("group|entry"
// goes into a submenu "group"), then every file of the tree, folders as submenus.
//
// The tree is scanned again at every opening and every arrow step, so files added, renamed or
// deleted meanwhile are seen; nothing of it is kept in between. The menu is asynchronous (a
// plug-in has no modal loop): the owner's action runs when an entry is chosen.
//
// Threads: the message thread only; a scan blocks it for its duration.

#include <filesystem>
#include <functional>
#include <vector>

#include "editor/Widget.h"

namespace tarvo {

class FolderDropDown : public Widget {
public:
    // Item ids of fixed entries start here; files are numbered from 1.
    static constexpr int fixedEntryBase = 1000000;

    FolderDropDown(std::string styleId, juce::String helpName);

    // The tree to list and the extension of its files (with the dot: ".tarvo").
    void setFolder(std::filesystem::path root, std::string extension);
    // Called before the menu opens: returns the fixed entries for this opening.
    void setFixedEntries(std::function<juce::StringArray()> entries) { fixedEntries_ = std::move(entries); }
    // Called after every choice and arrow step.
    void setAction(std::function<void(FolderDropDown&)> action) { action_ = std::move(action); }

    void setLabel(const juce::String& label);
    const juce::String& label() const { return label_; }
    void setMarker(bool marker);
    bool marker() const { return marker_; }
    // The chosen file relative to the root, with its extension; empty for none or a fixed entry.
    const juce::String& selectedPath() const { return selectedPath_; }
    void clearSelectedPath() { selectedPath_.clear(); }
    // The chosen entry's text: a fixed entry's full text, or a file's name.
    const juce::String& chosenText() const { return chosenText_; }
    const std::filesystem::path& root() const { return root_; }

    // The menu of this opening (rescans the tree and asks for the fixed entries).
    juce::PopupMenu buildMenu();
    // Completes the menu with the chosen item id (0: dismissed, nothing happens).
    void choose(int itemId);
    // The arrows: -1 previous, +1 next.
    void step(int direction);
    // The files of the tree as relative paths without extension, in menu order (as last
    // scanned).
    const std::vector<std::string>& files() const { return files_; }

    void mouseDown(const juce::MouseEvent& e) override;
    void mouseUp(const juce::MouseEvent& e) override;
    void paint(juce::Graphics& g) override;

private:
    void scan();
    juce::Rectangle<float> arrowArea(int direction) const;

    std::filesystem::path root_;
    std::string extension_;
    std::function<juce::StringArray()> fixedEntries_;
    std::function<void(FolderDropDown&)> action_;
    juce::StringArray shownFixed_;
    std::vector<std::string> files_;
    int selected_ = -1;
    juce::String selectedPath_, chosenText_, label_;
    bool marker_ = false;
    int pressedArrow_ = 0;
};

} // namespace tarvo
