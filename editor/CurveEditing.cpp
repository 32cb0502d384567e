#include "editor/CurveEditing.h"

#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {

float distance(PlotPoint a, float x, float y) {
    return std::hypot(a.x - x, a.y - y);
}

} // namespace

// ---- WaveCurveEditing ----------------------------------------------------------------------

void WaveCurveEditing::setBounds(float left, float top, float width, float height) {
    const float w = std::max(width - 2.0f * curvePlotInset, 1.0f);
    const float h = std::max(height - 2.0f * curvePlotInset, 1.0f);
    originX_ = left + curvePlotInset;
    originY_ = top + curvePlotInset + h;
    scaleX_ = w;
    scaleY_ = -h;
}

int WaveCurveEditing::shownPoints() const {
    if (curve_ == nullptr || curve_->count <= 0) return 0;
    return curve_->count + (curve_->loop != 0 ? 1 : 0);
}

const CurvePoint& WaveCurveEditing::shownPoint(int shown) const {
    // The repeated first point of a looping curve is the curve's terminal point.
    return curve_->points[static_cast<size_t>(std::clamp(shown, 0, static_cast<int>(curve_->count)))];
}

PlotPoint WaveCurveEditing::pointAt(int shown) const {
    const CurvePoint& p = shownPoint(shown);
    return toScreen(p.x, p.y);
}

PlotPoint WaveCurveEditing::midHandle(int segment) const {
    const CurvePoint& a = shownPoint(segment);
    const CurvePoint& b = shownPoint(segment + 1);
    return toScreen(0.5f * (a.x + b.x), a.y + bend(0.5f, a.shape) * (b.y - a.y));
}

void WaveCurveEditing::press(float x, float y) {
    selected_ = none;
    if (curve_ == nullptr) return;
    float nearest = curveGrabRadius;
    for (int s = 0; s < segments(); ++s) {
        const float d = distance(midHandle(s), x, y);
        if (d < nearest) {
            nearest = d;
            selected_ = midHandleBase + s;
        }
    }
    const int count = curve_->count;
    for (int k = 0; k < shownPoints(); ++k) {
        const float d = distance(pointAt(k), x, y);
        if (d < nearest) {
            nearest = d;
            selected_ = k < count ? k : 0; // the repeated first point is the first point
        }
    }
}

bool WaveCurveEditing::drag(float dx, float dy) {
    if (curve_ == nullptr || selected_ == none) return false;
    if (std::fabs(dx) < minDragPixels && std::fabs(dy) < minDragPixels) return false;
    if (selected_ < midHandleBase) {
        if (selected_ >= curve_->count) return false;
        const CurvePoint& p = curve_->points[static_cast<size_t>(selected_)];
        const PlotPoint at = toScreen(p.x, p.y);
        const float x = std::clamp((at.x + dx - originX_) / scaleX_, 0.0f, 1.0f);
        const float y = std::clamp((at.y + dy - originY_) / scaleY_, 0.0f, 1.0f);
        curve_->movePoint(selected_, {x, y, p.shape.load()});
        return true;
    }
    const int segment = selected_ - midHandleBase;
    if (segment >= segments()) return false;
    const CurvePoint& p = curve_->points[static_cast<size_t>(segment)];
    // Dragging up bends a rising segment one way and a falling one the other.
    const float rising = shownPoint(segment + 1).y > p.y ? 1.0f : -1.0f;
    const float shape = std::clamp(p.shape - rising * shapePerPixel * dy, -1.0f, 1.0f);
    curve_->movePoint(segment, {p.x.load(), p.y.load(), shape});
    return true;
}

bool WaveCurveEditing::doubleClick(float x, float y) {
    if (curve_ == nullptr || !editable_) return false;
    if (selected_ == none) {
        const float cx = std::clamp((x - originX_) / scaleX_, 0.0f, 1.0f);
        const float cy = std::clamp((y - originY_) / scaleY_, 0.0f, 1.0f);
        return curve_->insertPoint({cx, cy, 0.0f}) >= 0;
    }
    if (selected_ >= midHandleBase || selected_ >= curve_->count) return false;
    if (selected_ == 0 && curve_->count > 1) return false; // the first point stays
    curve_->removePoint(selected_);
    selected_ = none;
    return true;
}

// ---- EnvelopeEditing -----------------------------------------------------------------------

EnvelopeEditing::EnvelopeEditing() : setter_([](Param& p, float v) { p.set(v); }) {}

void EnvelopeEditing::bind(Param* first) {
    params_ = first;
    selected_ = noHandle;
}

void EnvelopeEditing::setBounds(float left, float top, float width, float height) {
    left_ = left + curvePlotInset;
    width_ = std::max(width - 2.0f * curvePlotInset, 1.0f);
    height_ = std::max(height - 2.0f * curvePlotInset, 1.0f);
    bottom_ = top + curvePlotInset + height_;
}

float EnvelopeEditing::value(Parameter p) const {
    return params_ == nullptr ? 0.0f : params_[p].value.load();
}

void EnvelopeEditing::set(Parameter p, float v) {
    if (params_ != nullptr) setter_(params_[p], v);
}

float EnvelopeEditing::timeX(float seconds) const {
    return left_ + std::sqrt(std::max(seconds, 0.0f) / shownSeconds) * width_;
}

float EnvelopeEditing::segmentShape(int segment) const {
    static constexpr Parameter shapes[] = {attackShape, decayShape, releaseShape};
    return value(shapes[std::clamp(segment, 0, 2)]);
}

std::array<PlotPoint, EnvelopeEditing::handleSlots> EnvelopeEditing::handles() const {
    std::array<PlotPoint, handleSlots> h{};
    const float attackEnd = value(attack) / millisecondsPerSecond;
    const float decayEnd = attackEnd + value(decay);
    const float releaseEnd = decayEnd + value(release);
    h[0] = {timeX(0.0f), levelY(value(initial))};
    h[1] = {timeX(attackEnd), levelY(1.0f)};
    h[2] = {timeX(decayEnd), levelY(value(sustain))};
    h[3] = {timeX(releaseEnd), levelY(0.0f)};
    for (int s = 0; s < 3; ++s) {
        const PlotPoint a = h[static_cast<size_t>(s)], b = h[static_cast<size_t>(s + 1)];
        h[static_cast<size_t>(firstShapeHandle + s)] = {0.5f * (a.x + b.x),
                                                        a.y + bend(0.5f, segmentShape(s)) * (b.y - a.y)};
    }
    return h;
}

void EnvelopeEditing::press(float x, float y) {
    selected_ = noHandle;
    if (params_ == nullptr) return;
    const auto h = handles();
    float nearest = curveGrabRadius;
    for (int i = 0; i < handleSlots; ++i) {
        if (i == cornerCount) continue; // slot 4 holds no handle
        const float d = distance(h[static_cast<size_t>(i)], x, y);
        if (d < nearest) {
            nearest = d;
            selected_ = i;
        }
    }
}

bool EnvelopeEditing::drag(float dx, float dy) {
    if (params_ == nullptr || selected_ == noHandle) return false;
    if (selected_ >= firstShapeHandle) {
        // Signs chosen so that the handle follows the pointer on the rising attack and on the
        // falling decay and release alike.
        const float change = shapePerPixel * dy;
        const Parameter p = static_cast<Parameter>(attackShape + selected_ - firstShapeHandle);
        const float v = value(p) + (p == attackShape ? -change : change);
        set(p, std::clamp(v, -1.0f, 1.0f));
        return true;
    }
    const PlotPoint at = handles()[static_cast<size_t>(selected_)];
    const float h = std::max((at.x + dx - left_) / width_, 0.0f);
    const float seconds = h * h * shownSeconds;
    const float level = std::clamp((bottom_ - (at.y + dy)) / height_, 0.0f, 1.0f);
    const float attackSeconds = value(attack) / millisecondsPerSecond;
    switch (selected_) {
    case 0:
        set(initial, level);
        break;
    case 1:
        set(attack, seconds * millisecondsPerSecond);
        break;
    case 2:
        set(decay, seconds - attackSeconds);
        set(sustain, level);
        break;
    default:
        set(release, seconds - attackSeconds - value(decay));
        break;
    }
    return true;
}

} // namespace tarvo
