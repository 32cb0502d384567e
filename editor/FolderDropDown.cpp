#include "editor/FolderDropDown.h"

#include <algorithm>
#include <map>

#include "persistence/Folders.h"

namespace tarvo {

namespace {

// Width of the step arrows at each end of the box.
constexpr float arrowWidth = 16.0f;
// The arrows' size within their area, at rest and while pressed.
constexpr float arrowScale = 0.75f, pressedArrowScale = 0.95f;
// The label's text size as a share of the height.
constexpr float labelShare = 0.55f;

// A folder of the menu: its files and subfolders in the order they first appear.
struct MenuFolder {
    std::vector<std::pair<std::string, int>> entries; // name, file index (-1: a subfolder)
    std::map<std::string, MenuFolder> folders;
};

juce::PopupMenu menuOf(const MenuFolder& folder) {
    juce::PopupMenu menu;
    for (const auto& [name, index] : folder.entries) {
        const juce::String text = juce::String::fromUTF8(name.c_str());
        if (index >= 0)
            menu.addItem(index + 1, text);
        else
            menu.addSubMenu(text, menuOf(folder.folders.at(name)));
    }
    return menu;
}

bool lessIgnoringCase(const std::string& a, const std::string& b) {
    return juce::String::fromUTF8(a.c_str()).compareNatural(juce::String::fromUTF8(b.c_str())) < 0;
}

} // namespace

FolderDropDown::FolderDropDown(std::string styleId, juce::String helpName)
    : Widget(std::move(styleId), std::move(helpName)) {}

void FolderDropDown::setFolder(std::filesystem::path root, std::string extension) {
    root_ = std::move(root);
    extension_ = std::move(extension);
}

void FolderDropDown::setLabel(const juce::String& label) {
    if (label == label_) return;
    label_ = label;
    repaint();
}

void FolderDropDown::setMarker(bool marker) {
    if (marker == marker_) return;
    marker_ = marker;
    repaint();
}

void FolderDropDown::scan() {
    files_.clear();
    if (root_.empty()) return;
    // Hidden entries are skipped and links never lead the scan around in circles.
    std::vector<std::string> listed = listFolder(root_.string());
    std::sort(listed.begin(), listed.end(), lessIgnoringCase);
    for (const std::string& path : listed) {
        if (path.size() <= extension_.size() ||
            path.compare(path.size() - extension_.size(), extension_.size(), extension_) != 0)
            continue;
        files_.push_back(path.substr(0, path.size() - extension_.size()));
    }
}

juce::PopupMenu FolderDropDown::buildMenu() {
    shownFixed_ = fixedEntries_ ? fixedEntries_() : juce::StringArray();
    scan();
    juce::PopupMenu menu;
    std::map<juce::String, juce::PopupMenu> groups;
    juce::StringArray groupOrder;
    for (int i = 0; i < shownFixed_.size(); ++i) {
        const juce::String& entry = shownFixed_[i];
        if (!entry.containsChar('|')) continue;
        const juce::String group = entry.upToFirstOccurrenceOf("|", false, false);
        groups[group].addItem(fixedEntryBase + i, entry.fromFirstOccurrenceOf("|", false, false));
    }
    for (int i = 0; i < shownFixed_.size(); ++i) {
        const juce::String& entry = shownFixed_[i];
        if (!entry.containsChar('|')) {
            menu.addItem(fixedEntryBase + i, entry);
            continue;
        }
        const juce::String group = entry.upToFirstOccurrenceOf("|", false, false);
        if (groupOrder.contains(group)) continue;
        groupOrder.add(group);
        menu.addSubMenu(group, groups[group]);
    }
    MenuFolder top;
    for (size_t i = 0; i < files_.size(); ++i) {
        MenuFolder* folder = &top;
        std::string rest = files_[i];
        for (size_t slash = rest.find('/'); slash != std::string::npos; slash = rest.find('/')) {
            const std::string name = rest.substr(0, slash);
            if (folder->folders.find(name) == folder->folders.end()) folder->entries.emplace_back(name, -1);
            folder = &folder->folders[name];
            rest = rest.substr(slash + 1);
        }
        folder->entries.emplace_back(rest, static_cast<int>(i));
    }
    if (!top.entries.empty()) {
        if (menu.getNumItems() > 0) menu.addSeparator();
        const juce::PopupMenu files = menuOf(top);
        for (juce::PopupMenu::MenuItemIterator it(files); it.next();) menu.addItem(it.getItem());
    }
    return menu;
}

void FolderDropDown::choose(int itemId) {
    if (itemId <= 0) return;
    if (itemId >= fixedEntryBase) {
        const int i = itemId - fixedEntryBase;
        if (i >= shownFixed_.size()) return;
        chosenText_ = shownFixed_[i];
    } else {
        const auto i = static_cast<size_t>(itemId - 1);
        if (i >= files_.size()) return;
        selected_ = static_cast<int>(i);
        const std::string& path = files_[i];
        const std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
        selectedPath_ = juce::String::fromUTF8((path + extension_).c_str());
        chosenText_ = juce::String::fromUTF8(name.c_str());
        setLabel(chosenText_);
    }
    setMarker(false);
    if (action_) action_(*this);
}

void FolderDropDown::step(int direction) {
    scan();
    if (files_.empty()) return;
    const int count = static_cast<int>(files_.size());
    // Where the label stands: the remembered entry when it still shows it, else the first
    // entry of that name.
    auto nameOf = [](const std::string& path) {
        const size_t slash = path.rfind('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    };
    const std::string shown = label_.toStdString();
    int current = -1;
    if (selected_ >= 0 && selected_ < count &&
        (files_[static_cast<size_t>(selected_)] == shown ||
         nameOf(files_[static_cast<size_t>(selected_)]) == shown))
        current = selected_;
    for (int i = 0; i < count && current < 0; ++i)
        if (files_[static_cast<size_t>(i)] == shown || nameOf(files_[static_cast<size_t>(i)]) == shown)
            current = i;
    int next = current + direction;
    if (current < 0) next = direction > 0 ? 0 : count - 1;
    if (next >= count) next = 0;
    if (next < 0) next = count - 1;
    selected_ = next;
    const std::string& path = files_[static_cast<size_t>(next)];
    selectedPath_ = juce::String::fromUTF8((path + extension_).c_str());
    chosenText_ = juce::String::fromUTF8(path.c_str());
    setLabel(juce::String::fromUTF8(nameOf(path).c_str()));
    setMarker(false);
    if (action_) action_(*this);
}

juce::Rectangle<float> FolderDropDown::arrowArea(int direction) const {
    const auto area = getLocalBounds().toFloat();
    return direction < 0 ? area.withWidth(arrowWidth) : area.withLeft(area.getRight() - arrowWidth);
}

void FolderDropDown::mouseDown(const juce::MouseEvent& e) {
    for (const int direction : {-1, 1}) {
        if (arrowArea(direction).contains(e.position)) {
            pressedArrow_ = direction;
            repaint();
            step(direction);
            return;
        }
    }
    juce::Component::SafePointer<FolderDropDown> self(this);
    buildMenu().showMenuAsync(juce::PopupMenu::Options().withTargetComponent(this), [self](int chosen) {
        if (self != nullptr) self->choose(chosen);
    });
}

void FolderDropDown::mouseUp(const juce::MouseEvent&) {
    if (pressedArrow_ == 0) return;
    pressedArrow_ = 0;
    repaint();
}

void FolderDropDown::paint(juce::Graphics& g) {
    const auto area = getLocalBounds().toFloat();
    drawStyledBox(g, style(), styleId(), area);
    const juce::Colour ink = colourOr("_text", juce::Colours::transparentBlack);
    if (ink.getAlpha() == 0) return;
    g.setColour(ink);
    g.setFont(EditorFonts::main(labelShare * area.getHeight()));
    const auto labelArea = area.reduced(arrowWidth, 0.0f);
    {
        juce::Graphics::ScopedSaveState clip(g);
        g.reduceClipRegion(labelArea.getSmallestIntegerContainer());
        g.drawText(label_ + (marker_ ? "*" : ""), labelArea, juce::Justification::centred, false);
    }
    for (const int direction : {-1, 1}) {
        const auto box = arrowArea(direction);
        const float size =
            box.getHeight() * 0.3f * (pressedArrow_ == direction ? pressedArrowScale : arrowScale);
        const float cx = box.getCentreX(), cy = box.getCentreY();
        juce::Path arrow;
        if (direction < 0)
            arrow.addTriangle(cx + size * 0.5f, cy - size, cx + size * 0.5f, cy + size, cx - size * 0.5f, cy);
        else
            arrow.addTriangle(cx - size * 0.5f, cy - size, cx - size * 0.5f, cy + size, cx + size * 0.5f, cy);
        g.fillPath(arrow);
    }
}

} // namespace tarvo
