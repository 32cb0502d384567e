#pragma once
// The LFO shape a new instance starts with: a rise from (0, 0) to a peak of 1 somewhere in
// x = 0.1..0.9, its segment bent by at most 0.1 either way, and a fall back to (1, 0).

#include <cmath>
#include <string>

#include "control/Curve.h"

namespace tarvo::test {

// Empty when curve has the start shape with every point inside the unit square; otherwise
// what is wrong with it.
inline std::string lfoStartShapeFault(const Curve& curve) {
    if (curve.count != 3) return "holds " + std::to_string(curve.count) + " points, not 3";
    for (int i = 0; i < 3; ++i) {
        const CurvePoint& p = curve.points[static_cast<size_t>(i)];
        if (!(p.x >= 0.0f && p.x <= 1.0f && p.y >= 0.0f && p.y <= 1.0f))
            return "point " + std::to_string(i) + " at (" + std::to_string(p.x) + ", " + std::to_string(p.y) +
                   ") lies outside the unit square";
    }
    const CurvePoint& start = curve.points[0];
    const CurvePoint& peak = curve.points[1];
    const CurvePoint& end = curve.points[2];
    if (start.x != 0.0f || start.y != 0.0f || start.shape != 0.0f) return "does not rise from (0, 0)";
    if (!(peak.x >= 0.1f && peak.x <= 0.9f)) return "peaks at x = " + std::to_string(peak.x);
    if (peak.y != 1.0f || std::fabs(peak.shape) > 0.1f) return "peak is not 1 or is bent too far";
    if (end.x != 1.0f || end.y != 0.0f) return "does not fall back to (1, 0)";
    // What the LFO plays: the peak is reached, and the curve is back at 0 at both ends.
    if (curve.evaluate(peak.x) != 1.0f || curve.evaluate(0.0f) != 0.0f || curve.evaluate(1.0f) != 0.0f)
        return "does not play a rise and a fall";
    return {};
}

} // namespace tarvo::test
