#pragma once
// The canonical time-frequency plane every Blob lives on: 96 warped frames by 80 bands.
// One frame is one 64-sample hop at 44100 Hz; the bands are equally spaced on the scale
// ln(1 + f / 228.70372), from 24 Hz (band 0) to 20 kHz (band 79).

#include <cmath>

namespace tarvo::plane {

// Warped frames the plane spans.
constexpr int frameCount = 96;
// Frequency bands of the plane.
constexpr int bandCount = 80;
// Frames per second: one frame is a 64-sample hop at the reference rate of 44100 Hz.
constexpr double framesPerSecond = 44100.0 / 64.0;

// Centre frequency in Hz of (fractional) band k.
inline double bandCentreHz(double k) {
    return 252.70372 * std::pow(1.0570441, k) - 228.70372;
}

// Width in Hz of band k: the spacing of the band grid at its centre.
inline double bandWidthHz(double k) {
    return std::log(1.0570441) * (bandCentreHz(k) + 228.70372);
}

// Warped position of linear time t (frames): linear up to frame 25, then each frame 4 % longer.
inline double warpTime(double t) {
    return t < 25.0 ? t : 25.0 + std::log(t / 25.0) / std::log(1.04);
}

// Linear time in frames of warped position w; the inverse of warpTime.
inline double unwarpTime(double w) {
    return w < 25.0 ? w : 25.0 * std::pow(1.04, w - 25.0);
}

} // namespace tarvo::plane
