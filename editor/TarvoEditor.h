#pragma once
// The editor window: a top bar with the view tabs, the preset browser and the dice; the track
// column on the left; the bottom bar with the help box, the macro knobs, tempo, host sync and
// play; and between them one of four views (Sound, Sequence, Modulate, Mix).
//
// Every widget lives in one content component of 792 × 602 logical pixels, drawn under one
// scale transform (the user's window size); the host's display scale comes on top of it, so
// text and pictures stay sharp at every size.
//
// The display tick (60 per second) takes the newest display snapshot, ticks every visible
// widget (each repaints only what changed), keeps the help box, the undo counts and the error
// box up to date, and restyles after a view or size change.
//
// Threads: the message thread only.

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "editor/EditorContext.h"
#include "editor/EditorHost.h"

namespace tarvo {

class Widget;
class TabButton;
class TextButton;
class TrackStrip;
class SvgButton;
class HelpBox;
class StyledLabel;
class KnobWidget;
class BlobEditorWidget;
class ToolSizeOverlay;
class EditorGl;

class FolderDropDown;
class AnalyserPanel;

class TarvoEditor final : public juce::AudioProcessorEditor,
                          public EditorContext,
                          public juce::FileDragAndDropTarget,
                          private juce::Timer {
public:
    static constexpr int displayTicksPerSecond = 60;
    // Restyles after a view or scale change: the frames a host may take to settle the window.
    static constexpr int restyleFrames = 3;
    static constexpr int overlayGroup = 4;

    TarvoEditor(juce::AudioProcessor& processor, EditorHost& host);
    ~TarvoEditor() override;

    // EditorContext
    const StyleOwner& style() const override;
    Ombrix& instrument() override { return host_.instrument(); }
    const DisplaySnapshot& display() const override { return *display_; }
    void perform(const std::function<void(Ombrix&)>& action) override;
    void beginParamEdit(Param& param) override;
    void editParam(Param& param, float plainValue) override;
    void endParamEdit(Param& param) override;
    void setView(int view) override;
    void selectTrack(int track, bool showSoundView) override;
    void showStatus(const juce::String& text) override;
    void restyle() override;

    // The window size the user chose, in percent of 792 × 602.
    int sizePercent() const { return sizePercent_; }
    void setSizePercent(int percent);
    // A stored "ui_size_percent" as the editor reads it: decimal, 10..1000, else 100.
    static int percentFromSetting(const std::string& text);

    // One display frame (the timer calls it; tests may call it directly).
    void displayTick();
    // The content component all widgets live in, and a widget by its component id.
    juce::Component& content() { return content_; }
    juce::Component* find(const juce::String& id);
    const juce::String& helpText() const;
    const std::string& styleHelpText() const;
    // Where the pointer is over the content, or nothing; tests may set it instead of the mouse.
    void setPointerOverride(std::optional<juce::Point<int>> position) { pointerOverride_ = position; }

    // The settings menu's entries (fixed entries, the resize submenu, the themes) and what
    // choosing one does. Entry texts of the resize submenu are "Resize UI|<n>%" with
    // " (current)" on the current size.
    juce::StringArray settingsEntries() const;
    void chooseSetting(const juce::String& entry);

    // What the editor asks the user for: files to open (one or several) or a file to save.
    struct FileRequest {
        juce::String title;
        juce::File folder;
        juce::String patterns; // "*.wav;*.aif"
        bool save = false;
        bool several = false;
    };
    // Shows a file dialog without waiting for it and answers with the chosen files (none when
    // cancelled). The editor uses the framework's dialog; tests answer in its place.
    using FileDialog =
        std::function<void(const FileRequest&, std::function<void(const juce::Array<juce::File>&)>)>;
    void setFileDialog(FileDialog dialog) { fileDialog_ = std::move(dialog); }

    // Files dropped from a file manager: onto a track strip they are imported into that track
    // (the slot chosen by its Transform), onto a Blob selector into that slot.
    bool isInterestedInFileDrag(const juce::StringArray& files) override;
    void filesDropped(const juce::StringArray& files, int x, int y) override;

    bool keyPressed(const juce::KeyPress& key) override;
    void paint(juce::Graphics& g) override;
    void resized() override;

private:
    void timerCallback() override { displayTick(); }
    template <class W>
    W& add(std::unique_ptr<W> widget, juce::Rectangle<int> bounds, int group, const juce::String& id);
    void buildFrame();
    void buildSoundView();
    void buildSequenceView();
    void buildModulateView();
    void buildMixView();
    void updateTrackStrips();
    void updateMuteSolo();
    void updateHelp();
    void updateUndoButtons();
    void showError();
    void openSettingsMenu();
    void applyTheme();
    void showProductInfo();
    void presetChosen(FolderDropDown& browser);
    void blobChosen(FolderDropDown& selector, int slot);
    void askForFiles(const FileRequest& request, std::function<void(const juce::Array<juce::File>&)> answer);
    void updateDropDowns();
    void updateAnalyser();
    void openManual();
    juce::Component* componentUnderPointer();

    EditorHost& host_;
    juce::Component content_;
    std::vector<std::unique_ptr<juce::Component>> owned_;
    std::vector<Widget*> widgets_; // in creation order
    std::array<std::vector<juce::Component*>, 5> groups_;
    std::array<TabButton*, 4> viewTabs_{};
    std::array<TrackStrip*, 8> trackStrips_{};
    std::array<TextButton*, 8> muteButtons_{};
    std::array<TextButton*, 8> soloButtons_{};
    std::array<SvgButton*, 3> toolButtons_{};
    std::array<TabButton*, 4> envTabs_{};
    std::array<TabButton*, 4> lfoTabs_{};
    KnobWidget* lfoRate_ = nullptr;
    KnobWidget* lfoBeatRate_ = nullptr;
    SvgButton* undoButton_ = nullptr;
    SvgButton* redoButton_ = nullptr;
    SvgButton* playButton_ = nullptr;
    SvgButton* syncButton_ = nullptr;
    HelpBox* helpBox_ = nullptr;
    StyledLabel* styleHelp_ = nullptr;
    AnalyserPanel* analyserPanel_ = nullptr;
    FolderDropDown* presetBrowser_ = nullptr;
    std::array<FolderDropDown*, 2> blobSelectors_{};
    FileDialog fileDialog_;
    std::unique_ptr<juce::FileChooser> chooser_;
    BlobEditorWidget* blobEditor_ = nullptr;
    ToolSizeOverlay* toolSizeOverlay_ = nullptr;
    // The window's OpenGL context; the Blob canvas draws on its thread.
    std::unique_ptr<EditorGl> gl_;

    const DisplaySnapshot* display_;
    int sizePercent_ = 100;
    int restyleCountdown_ = restyleFrames;
    int shownView_ = -1;
    int shownPercent_ = -1;
    uint32_t shownStyleRevision_ = 0;
    int shownUndo_ = -1, shownRedo_ = -1;
    juce::Component* pointed_ = nullptr;
    bool pointedKnown_ = false;
    std::string styleHelpText_;
    juce::String helpText_;
    juce::String statusText_;
    int64_t shownStatusTime_ = 0;
    std::chrono::system_clock::time_point shownErrorTime_{};
    std::optional<juce::Point<int>> pointerOverride_;
};

} // namespace tarvo
