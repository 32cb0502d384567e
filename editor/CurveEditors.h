#pragma once
// The curve editors: `WaveEditor` shapes a breakpoint curve (the current track's velocity
// curve in the Sound view, an LFO's shape in the Modulate view) and `EnvEditor` shows one
// envelope as a contour with draggable corners and shape handles. Markers show where the
// sounding voices are on the curve.
//
// Message thread only. The editors keep no curve or parameter data: every change goes into
// the instrument (envelope parameters through the context, so hosts see them). Painting
// draws from the state the display tick left; it changes nothing.

#include <vector>

#include "editor/CurveEditing.h"
#include "editor/Widget.h"

namespace tarvo {

class WaveEditor : public Widget {
public:
    enum class Kind {
        velocity, // the current track's velocity curve: 2 × 2 grid, filled from 0, no double-clicks
        lfo,      // an LFO's shape: 4 × 2 grid, filled from the middle, double-clicks add and remove
    };

    explicit WaveEditor(Kind kind);

    // The LFO an LFO editor shows: the one the Modulate view's tabs chose.
    int lfo() const { return lfo_; }

    void tick() override;
    void paint(juce::Graphics& g) override;
    void resized() override;
    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;
    void mouseDoubleClick(const juce::MouseEvent& e) override;
    void mouseEnter(const juce::MouseEvent& e) override;
    void mouseExit(const juce::MouseEvent& e) override;

    const WaveCurveEditing& editing() const { return editing_; }

private:
    // The curve this editor edits now (it follows the current track), or null.
    Curve* boundCurve();
    void edited();

    Kind kind_;
    int lfo_ = 0;
    WaveCurveEditing editing_;
    std::vector<PlotPoint> markers_;
    juce::Point<float> lastDrag_;
    bool over_ = false;
    // What the last paint showed, to repaint only on change.
    std::vector<float> shownCurve_;
};

class EnvEditor : public Widget {
public:
    EnvEditor();

    // The envelope shown: the one the Modulate view's tabs chose.
    int envelope() const { return envelope_; }

    void tick() override;
    void paint(juce::Graphics& g) override;
    void resized() override;
    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;
    void mouseUp(const juce::MouseEvent& e) override;
    void mouseEnter(const juce::MouseEvent& e) override;
    void mouseExit(const juce::MouseEvent& e) override;

    const EnvelopeEditing& editing() const { return editing_; }

private:
    // Binds the editing to the shown envelope's parameters; false without a context.
    bool bindParams();
    // Parameter `offset` of the shown envelope's block; needs a context.
    Param& envelopeParam(int offset);

    int envelope_ = 0;
    EnvelopeEditing editing_;
    std::vector<PlotPoint> markers_;
    std::array<float, EnvelopeEditing::parameterCount> shownValues_{};
    juce::Point<float> lastDrag_;
    bool over_ = false;
    // A drag is under way: the host was told the parameters are being edited.
    bool dragging_ = false;
};

} // namespace tarvo
