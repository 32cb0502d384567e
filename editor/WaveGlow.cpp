#include "editor/WaveGlow.h"

#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {

// Half-width of a playhead, in slices, before its own width is added.
constexpr float basicReach = 2.0f;
// A playhead's width is given in sixtieths of the outline.
constexpr float widthUnits = 60.0f;
// Left of the playhead while not glowing, the bump falls off as it does on the right.
constexpr float noTrail = -100.0f;

} // namespace

void WaveGlow::addPlayhead(int n, float position, float width, float intensity) {
    n = std::clamp(n, 0, slots);
    if (n == 0 || !std::isfinite(position) || !std::isfinite(intensity)) return;
    const float a = static_cast<float>(n) * position;
    const float b = static_cast<float>(n) * width / widthUnits + basicReach;
    int lo = static_cast<int>(a - b + 1.0f);
    if (lo < 1) lo = 0;
    const int hi = std::min(static_cast<int>(a + b + 1.0f), n);
    const float floor = glowing_ ? 0.0f : noTrail;
    for (int i = lo; i < hi; ++i) {
        const float t = std::max(static_cast<float>(i) - a, floor) / b;
        const float bump = 1.0f - t * t;
        glow_[static_cast<size_t>(i)] += bump * bump * intensity;
    }
}

float WaveGlow::light(const float* v, int n, double now, float* lit) {
    n = std::clamp(n, 0, slots);
    const float fade = static_cast<float>(std::exp(-(now - lastDraw_) / fadeSeconds));
    lastDraw_ = now;
    float added = 0.0f;
    bool any = false;
    for (int j = 0; j < n; ++j) {
        float& glow = glow_[static_cast<size_t>(j)];
        const float extra = v[j] * glow / (2.0f * v[j] + 1.0f);
        lit[j] = v[j] + extra;
        added += extra;
        any = any || glow > 0.0f;
        glow = std::max(fade * glow - fadeStep, 0.0f);
    }
    lit[n] = 0.0f;
    glowing_ = any;
    return added;
}

float outlineEnd(const float* y, int n) {
    float tail = 0.0f;
    for (int j = n - 1; j >= 0; --j) {
        const float square = y[j] * y[j];
        if (tail + square > outlineTail) return static_cast<float>(j + 1) - (outlineTail - tail) / square;
        tail += square;
    }
    return static_cast<float>(n);
}

} // namespace tarvo
