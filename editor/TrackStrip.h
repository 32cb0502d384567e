#pragma once
// The track column's strips, the dice, the level meters and the audio-analysis panel.

#include "editor/Widget.h"

namespace tarvo {

// A track's row in the track column: its colour, its number, and a state overlay (0 off,
// 1 neutral, 2 on: the current track in the Sound view).
class TrackStrip : public Widget {
public:
    TrackStrip(int track, std::function<void(int)> onSelect);
    int track() const { return track_; }
    void setState(int state);
    int state() const { return state_; }
    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent&) override;

private:
    int track_;
    int state_ = 1;
    std::function<void(int)> onSelect_;
};

// The dice: a die face of five dots.
class DiceButton : public Widget {
public:
    DiceButton();
    void paint(juce::Graphics& g) override;
};

// A peak meter of two channels: horizontal for the main output, vertical for effect slots.
class LevelMeter : public Widget {
public:
    // levels reads the two channels' peaks (linear) from the display snapshot.
    LevelMeter(std::string styleId, bool vertical,
               std::function<std::array<float, 2>(const DisplaySnapshot&)> levels);
    void paint(juce::Graphics& g) override;
    void tick() override;

private:
    bool vertical_;
    std::function<std::array<float, 2>(const DisplaySnapshot&)> levels_;
    std::array<float, 2> shown_{};
};

// The panel that asks before analysing many dropped audio files; hidden while none wait.
class AnalyserPanel : public Widget {
public:
    AnalyserPanel();
    void paint(juce::Graphics& g) override;
};

} // namespace tarvo
