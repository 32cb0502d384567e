#pragma once
// The step-sequencer grid of the Sequence view: one row per track, track 8 on top, sixteen
// steps and a spare column for the pattern-length handle. Notes are drawn in the track's
// colour, shaped like the track's sound at the sequencer's tempo; the step each track plays
// is lit. The mouse edits notes and track lengths (editor/SequencerGrid.h); a right click
// offers "Clear Track n" and "Clear All".
//
// Message thread only. Painting draws from copies the display tick made; it changes nothing.

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "editor/SequencerGrid.h"
#include "editor/Widget.h"
#include "engine/BlobOutline.h"

namespace tarvo {

class SequencerEditor : public Widget {
public:
    static constexpr int trackCount = SequencerGrid::rows;
    // Gaps between cells, in pixels: columns, rows, and the extra gap after every fourth step.
    static constexpr float columnGap = 1.0f;
    static constexpr float rowGap = 2.0f;
    static constexpr float beatGap = 2.0f;
    // How fast a row's highlight follows the pointer, in units per second.
    static constexpr float highlightRate = 5.0f;

    SequencerEditor();
    ~SequencerEditor() override;

    void paint(juce::Graphics& g) override;
    void tick() override;
    void resized() override;

    void mouseMove(const juce::MouseEvent& e) override;
    void mouseExit(const juce::MouseEvent& e) override;
    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;
    void mouseUp(const juce::MouseEvent& e) override;

    // The gestures, once the editor is placed under a context; null before.
    SequencerGrid* grid();
    // Shows the right-click menu and calls back with the chosen item (0 for none). JUCE's
    // asynchronous menu at the pointer unless replaced (tests choose from the menu directly).
    using MenuShower = std::function<void(const juce::PopupMenu& menu, std::function<void(int)> chosen)>;
    void setMenuShower(MenuShower shower) { showMenu_ = std::move(shower); }
    // Runs a command of the right-click menu: 1 clears the track the menu was opened on, 2 all.
    void menuChosen(int item);

    // What a track row draws besides its notes, copied from the instrument at each tick.
    struct TrackLook {
        float level = 1.0f;     // Amp as shown
        float timescale = 1.0f; // Timescale as shown
        float dynamics = 0.5f;  // Dynamics / 100
        float release = 1.0f;   // Voice Release, seconds
        bool dim = false;       // silenced by mute or solo
        int32_t playStep = -1;  // the step the track plays
        int32_t length = 16;    // steps
        float highlight = 0.0f; // 0..1, eases towards 1 for the hovered row
        std::vector<SeqNote> notes;
        bool operator==(const TrackLook& other) const;
    };
    const TrackLook& look(int track) const { return looks_[static_cast<size_t>(track)]; }

private:
    // Copies the pattern and the values drawn; returns whether anything visible changed.
    bool follow(double now);
    void paintTrack(juce::Graphics& g, int track) const;
    void paintNoteShape(juce::Graphics& g, int track, size_t index, float alpha) const;
    juce::Colour trackColour(int track) const;

    std::unique_ptr<SequencerGrid> grid_;
    std::array<TrackLook, trackCount> looks_{};
    std::array<BlobOutline, trackCount> outlines_{};
    float bpm_ = 120.0f;
    // The sequencer's change count when the pattern was last copied; none copied yet.
    int32_t shownChanges_ = -1;
    double lastTick_ = -1.0;
    juce::Point<float> lastDrag_;
    MenuShower showMenu_;
    int menuTrack_ = -1;
};

} // namespace tarvo
