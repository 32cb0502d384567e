#pragma once
// Lookups into a Blob's warp lists shared by the Blob model and the canvas: both read the mesh
// at fractional list and knot positions with the same clamping.

#include <array>
#include <cmath>
#include <cstddef>

namespace tarvo {

// floor(x) clamped to lo..hi; non-finite x gives lo.
inline int clampedFloor(float x, int lo, int hi) {
    if (!(x >= static_cast<float>(lo))) return lo;
    if (x >= static_cast<float>(hi)) return hi;
    return static_cast<int>(std::floor(x));
}

// Linear interpolation across lists (a) and along each list (b), extrapolating linearly past
// the ends.
template <size_t Lists, size_t Knots>
float bilinear(const std::array<std::array<float, Knots>, Lists>& lists, float a, float b) {
    const int ia = clampedFloor(a, 0, static_cast<int>(Lists) - 2);
    const int ib = clampedFloor(b, 0, static_cast<int>(Knots) - 2);
    const float fa = a - static_cast<float>(ia);
    const float fb = b - static_cast<float>(ib);
    const auto along = [&](int l) {
        const auto& v = lists[static_cast<size_t>(l)];
        return v[ib] + fb * (v[ib + 1] - v[ib]);
    };
    const float first = along(ia);
    return first + fa * (along(ia + 1) - first);
}

} // namespace tarvo
