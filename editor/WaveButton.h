#pragma once
// The waveform button of a track row: the loudness outline of the track's sound (its two
// Blobs as Transform mixes them), lit where the track's voices are playing, dimmed while the
// track is silenced by mute or solo. Pressing it plays the track's note, releasing it stops
// the note.
//
// Message thread only. Painting draws the state the display tick left; it changes nothing.

#include <array>
#include <functional>

#include "editor/WaveGlow.h"
#include "editor/Widget.h"
#include "engine/BlobOutline.h"
#include "instrument/Ombrix.h"

namespace tarvo {

class BandSynth;

class WaveButton : public Widget {
public:
    // Told true when the button is pressed and false when it is let go, also when the button
    // goes away while held (an editor closed mid-press), so no note is left hanging.
    using PreviewAction = std::function<void(int track, bool on)>;

    WaveButton(int track, PreviewAction preview);
    ~WaveButton() override;

    // Follows the track's Blobs, Transform, mute and solo, and its sounding voices.
    void tick() override;
    void paint(juce::Graphics& g) override;

    void mouseDown(const juce::MouseEvent& e) override;
    void mouseUp(const juce::MouseEvent& e) override;
    void mouseEnter(const juce::MouseEvent& e) override;
    void mouseExit(const juce::MouseEvent& e) override;

    int track() const { return track_; }
    bool isPressed() const { return pressed_; }
    bool isDim() const { return dim_; }
    // Redraws when the flag changes.
    void setDim(bool dim);
    const BlobOutline& picture() const { return picture_; }
    // Adds a playhead at position 0..1 of the outline with a width and an intensity.
    void addPlayhead(float position, float width, float intensity);

private:
    // Lights the outline with the glow for the next paint and fades the glow.
    void lightUp(double now);

    int track_;
    PreviewAction preview_;
    BlobOutline picture_;
    WaveGlow glow_;
    // The outline as the next paint draws it (glow added), and one closing 0.
    std::array<float, BlobOutline::maxSlices + 1> lit_{};
    // What the glow added to the outline at the last lighting.
    float litExtra_ = 0.0f;
    bool pressed_ = false;
    bool hover_ = false;
    bool dim_ = false;
};

// The editor's clock, in seconds, for picture times and glow fades.
double editorSeconds();

// Brings a track's outline up to date with its Blobs, its shown Transform and the theme's
// resolution; returns whether it changed. The waveform button and the sequencer grid each
// keep one per track.
bool refreshTrackOutline(BlobOutline& outline, BandSynth& engine, int track, const StyleOwner& style,
                         double now);

// The sound of a press: note 36 + track at velocity 100; the release sends its note-off.
constexpr int previewVelocity = 100;
MidiMessage previewMessage(int track, bool on);

} // namespace tarvo
