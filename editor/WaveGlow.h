#pragma once
// The playhead glow of a track's waveform button: each sounding voice lights the outline
// around its reading position, and while the button glows a voice leaves a lit trail behind
// its playhead. The glow fades with a time constant of 0.08 s between draws and a little more
// at every draw, so a finished note's glow is gone within a fraction of a second.
//
// User-interface thread only; fixed storage, nothing allocates.

#include <array>
#include <cstddef>

namespace tarvo {

class WaveGlow {
public:
    static constexpr int slots = 64;
    // Time constant of the fade between draws, seconds.
    static constexpr double fadeSeconds = 0.08;
    // Glow taken off at every draw, so that it reaches zero.
    static constexpr float fadeStep = 0.001f;
    // What the draw time reads before the first draw: long ago.
    static constexpr double neverDrawn = -100.0;

    // Adds a playhead at position (0..1 of the outline) with a width (0 for a voice) and an
    // intensity, over an outline of n slices.
    void addPlayhead(int n, float position, float width, float intensity);

    // At a draw at time now: writes the lit outline of the n values v into lit[0..n] (lit[n]
    // is 0), fades the glow and returns the sum of what the glow added.
    float light(const float* v, int n, double now, float* lit);

    // Some glow was left at the last draw: the button redraws every frame while it is.
    bool glowing() const { return glowing_; }
    float operator[](int i) const { return glow_[static_cast<size_t>(i)]; }

private:
    std::array<float, slots> glow_{};
    bool glowing_ = false;
    double lastDraw_ = neverDrawn;
};

// Where the drawn outline of values y[0..n) ends, in slices: the point from which the rest of
// the outline holds less than `outlineTail` of squared level; n when it never does.
constexpr float outlineTail = 0.001f;
float outlineEnd(const float* y, int n);

} // namespace tarvo
