#pragma once
// What the two curve editors do with the mouse, apart from drawing.
//
// `WaveCurveEditing` edits a breakpoint curve (a track's velocity curve, an LFO shape): drag
// a point, drag a segment's mid handle up or down to bend the segment, and, where the editor
// allows it, double-click to add a point or remove one (never the first of several).
//
// `EnvelopeEditing` shows one envelope's eight parameters as a contour over a square-root time
// axis of 25 seconds: four corners (start level, attack peak, decay end at the sustain level,
// release end) and three shape handles in the middle of the segments.
//
// Both keep no curve or parameter data of their own: every change goes straight into the
// engine's curve or parameters. User-interface thread only; nothing allocates.

#include <array>
#include <functional>

#include "control/Curve.h"
#include "control/Param.h"

namespace tarvo {

struct PlotPoint {
    float x = 0.0f;
    float y = 0.0f;
};

// The plot inside an editor's rectangle: the rectangle less this many pixels on every side.
constexpr float curvePlotInset = 6.0f;
// A press selects the nearest handle closer than this many pixels.
constexpr float curveGrabRadius = 8.0f;

class WaveCurveEditing {
public:
    // Selections of mid handles are numbered from here, points from 0.
    static constexpr int midHandleBase = 1000;
    // Shape change per pixel of vertical drag on a mid handle.
    static constexpr float shapePerPixel = 0.01f;
    // Smallest drag movement that changes anything, in pixels.
    static constexpr float minDragPixels = 0.5f;

    // editable: whether double-clicks add and remove points.
    explicit WaveCurveEditing(bool editable) : editable_(editable) {}

    // The curve edited; null ignores the mouse. Clears the selection.
    void bind(Curve* curve) {
        curve_ = curve;
        selected_ = none;
    }
    Curve* curve() const { return curve_; }
    // The editor's rectangle; the plot is inset by `curvePlotInset`.
    void setBounds(float left, float top, float width, float height);

    // Screen position of a curve position (y = 1 at the top).
    PlotPoint toScreen(float x, float y) const { return {originX_ + scaleX_ * x, originY_ + scaleY_ * y}; }
    // Points drawn: the user points, and for a looping curve the first point repeated at x = 1.
    int shownPoints() const;
    PlotPoint pointAt(int shown) const;
    // Segments between the shown points, each with a mid handle.
    int segments() const { return shownPoints() > 0 ? shownPoints() - 1 : 0; }
    PlotPoint midHandle(int segment) const;

    // Selects the nearest point or mid handle within the grab radius, or nothing.
    void press(float x, float y);
    // Moves the selection by (dx, dy) pixels. Returns whether the curve changed.
    bool drag(float dx, float dy);
    // Adds a point at (x, y) when nothing is selected, or removes the selected point.
    // Returns whether the curve changed.
    bool doubleClick(float x, float y);

    // -1 none, a point index, or `midHandleBase` + a segment index.
    int selected() const { return selected_; }

private:
    static constexpr int none = -1;
    const CurvePoint& shownPoint(int shown) const;

    Curve* curve_ = nullptr;
    bool editable_;
    float originX_ = 0.0f, originY_ = 1.0f, scaleX_ = 1.0f, scaleY_ = -1.0f;
    int selected_ = none;
};

class EnvelopeEditing {
public:
    // The eight parameters of an envelope, in their block order.
    enum Parameter : int {
        initial,
        attack,
        decay,
        sustain,
        release,
        attackShape,
        decayShape,
        releaseShape,
        parameterCount
    };
    // Handle numbers: corners 0..3, shape handles of attack, decay and release 5..7.
    static constexpr int cornerCount = 4;
    static constexpr int firstShapeHandle = 5;
    static constexpr int handleSlots = 8;
    static constexpr int noHandle = -1;
    // Seconds the time axis shows.
    static constexpr float shownSeconds = 25.0f;
    static constexpr float shapePerPixel = 0.01f;
    static constexpr float millisecondsPerSecond = 1000.0f;

    // How a parameter is set: `Param::set` unless the editor routes changes through the host.
    using Setter = std::function<void(Param&, float)>;

    EnvelopeEditing();
    // The envelope's eight parameters, in block order (null unbinds).
    void bind(Param* first);
    void setSetter(Setter setter) { setter_ = std::move(setter); }
    void setBounds(float left, float top, float width, float height);

    // Horizontal position of t seconds: the square root of its share of the shown time.
    float timeX(float seconds) const;
    float levelY(float level) const { return bottom_ - level * height_; }
    // Handle positions from the current parameter values; unused slot 4 reads as (0, 0).
    std::array<PlotPoint, handleSlots> handles() const;
    // The shape parameter of contour segment 0..2 (attack, decay, release) and its corners.
    float segmentShape(int segment) const;

    void press(float x, float y);
    bool drag(float dx, float dy);
    void endDrag() { selected_ = noHandle; }
    int selected() const { return selected_; }

    float value(Parameter p) const;

private:
    void set(Parameter p, float v);

    Param* params_ = nullptr;
    Setter setter_;
    float left_ = 0.0f, width_ = 1.0f, bottom_ = 1.0f, height_ = 1.0f;
    int selected_ = noHandle;
};

} // namespace tarvo
