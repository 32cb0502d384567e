#pragma once
// The track column's strips, the dice, the level meters and the audio-analysis panel.

#include <array>
#include <functional>

#include "editor/Widget.h"

namespace tarvo {

// A track's row in the track column: its colour, its number, and a state overlay (0 off,
// 1 neutral, 2 on: the current track in the Sound view). A dimmed strip (the track silenced
// by mute or solo) draws its number faint.
class TrackStrip : public Widget {
public:
    TrackStrip(int track, std::function<void(int)> onSelect);
    int track() const { return track_; }
    void setState(int state);
    int state() const { return state_; }
    void setDim(bool dim);
    bool dim() const { return dim_; }
    bool isPressed() const { return pressed_; }
    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent&) override;
    void mouseUp(const juce::MouseEvent&) override;

private:
    int track_;
    int state_ = 1;
    bool dim_ = false;
    bool pressed_ = false;
    std::function<void(int)> onSelect_;
};

// The dice: a left click asks for a new kit and pattern (kind 3) and shakes for four frames;
// the right-click menu asks for new sounds (1) or a new sequence (2) only, without shaking.
class DiceButton : public Widget {
public:
    enum Kind : int { none = 0, sounds = 1, sequence = 2, both = 3 };
    // Frames a left click shakes for.
    static constexpr int rollFrames = 4;

    explicit DiceButton(std::function<void(int kind)> roll);
    int face() const { return face_; }
    int rollCounter() const { return roll_; }
    // The kind of the action running now (0 outside it, and again at the next frame).
    int kind() const { return kind_; }
    // The right-click menu: "Random sounds" (1), "Random sequence" (2).
    static juce::PopupMenu menu();
    // Completes the right-click menu (0: dismissed).
    void chooseMenuItem(int kind);

    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent& e) override;
    void tick() override;

private:
    void fire(int kind);

    std::function<void(int)> action_;
    int face_ = 2;
    int roll_ = 0;
    int kind_ = none;
    juce::Random random_;
};

// A peak meter of two channels: horizontal for the main output, vertical for effect slots.
// Level 1.0 (full scale) sits at 80 % of the length; the bar shows the square root of the
// peak, so the last fifth shows overs up to about 1.56. A rising level shows at once; a
// falling one eases down with a time constant of about a second, the span between the two
// fading out.
class LevelMeter : public Widget {
public:
    using Clock = std::function<double()>;
    static constexpr int channels = 2;
    // Where level 1.0 sits along the meter.
    static constexpr float fullScaleShare = 0.8f;

    // levels reads the two channels' peaks (linear) from the display snapshot.
    LevelMeter(std::string styleId, bool vertical, float channelGap, float segmentGap,
               std::function<std::array<float, channels>(const DisplaySnapshot&)> levels);
    void setClock(Clock clock) { clock_ = std::move(clock); }
    // The level shown now per channel.
    float shown(int channel) const { return shown_[static_cast<size_t>(channel)]; }
    void paint(juce::Graphics& g) override;
    void tick() override;

private:
    bool vertical_;
    float channelGap_, segmentGap_;
    std::function<std::array<float, channels>(const DisplaySnapshot&)> levels_;
    Clock clock_;
    double lastUpdate_ = -1.0;
    // The shown level, the engine level of the latest frame, and the shown level before it
    // (the lit bar runs to the lower of the last two, fading out to the higher).
    std::array<float, channels> shown_{}, engine_{}, before_{};
};

// The "Audio Analyzer" panel over the whole window while imported files wait: START begins
// the batch, CANCEL empties the queue. The editor feeds it the queue's size, position and
// current file each frame and acts on its state.
class AnalyserPanel : public Widget {
public:
    enum State : int { waiting = 0, started = 1, cancelRequested = 2 };
    AnalyserPanel();

    State state() const { return state_; }
    void setState(State state);
    void setProgress(int count, int index, const juce::String& file);
    // The status line as drawn.
    juce::String statusText() const;
    // In the panel's own coordinates.
    juce::Rectangle<int> startArea() const;
    juce::Rectangle<int> cancelArea() const;

    void paint(juce::Graphics& g) override;
    void mouseDown(const juce::MouseEvent& e) override;
    void tick() override;

private:
    State state_ = waiting;
    int count_ = 0, index_ = 0;
    juce::String file_;
};

} // namespace tarvo
