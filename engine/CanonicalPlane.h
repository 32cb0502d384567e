#pragma once
// The canonical time-frequency plane every Blob is drawn on: 96 warped frames by 80 bands.
// A frame is one 64-sample hop at 44100 Hz. Time runs linearly for the first 25 frames and
// then each frame lasts 4 % longer than the one before, so the plane's end (warped frame 96)
// lies at about 405 linear frames. Bands are equally spaced on ln(1 + f / 228.70372 Hz),
// from 24 Hz (band 0) to 20 kHz (band 79).

#include <cmath>

namespace tarvo::plane {

constexpr int frameCount = 96;
constexpr int bandCount = 80;
constexpr double framesPerSecond = 44100.0 / 64.0;

// Centre frequency of band k in Hz.
inline double bandCentreHz(double k) {
    return 252.70372 * std::pow(1.0570441, k) - 228.70372;
}

// Width of band k in Hz (the derivative of the centre frequency).
inline double bandWidthHz(double k) {
    return std::log(1.0570441) * (bandCentreHz(k) + 228.70372);
}

// Warped position of linear frame t.
inline double warpTime(double t) {
    return t < 25.0 ? t : 25.0 + std::log(t / 25.0) / std::log(1.04);
}

// Linear frame of warped position w.
inline double unwarpTime(double w) {
    return w < 25.0 ? w : 25.0 * std::pow(1.04, w - 25.0);
}

} // namespace tarvo::plane
