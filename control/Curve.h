#pragma once
// A drawn breakpoint curve over x = 0..1: the LFO shapes and each track's velocity curve.
//
// The user points are kept in x order; `points[count]` is the terminal point that closes the
// last segment at x = 1 (its level repeats the first point's when the curve loops, the last
// point's otherwise). Storage is fixed, so nothing here allocates.
//
// Threads: the editor edits a curve (`insertPoint`, `movePoint`, `removePoint`, `setLoop`,
// `readCurve`) on the user-interface thread while the audio thread evaluates it without a
// lock. Every field is a relaxed atomic (`Relaxed`); `evaluate` reads `count` once and never
// leaves the storage, so a concurrent edit can give at most a momentary wrong value.

#include <array>
#include <cstdint>

#include "control/Relaxed.h"

namespace tarvo {

struct CurvePoint {
    Relaxed<float> x = 0.0f;
    Relaxed<float> y = 0.0f;
    // Bend of the segment that starts at this point, -1..1 (0 is a straight line).
    Relaxed<float> shape = 0.0f;
};

// Bends a progress p (0..1) by a shape s (-1..1): quadratic up to |s| = 0.5, steeper beyond;
// bend(0, s) = 0 and bend(1, s) = 1. Inputs outside their ranges are clamped.
float bend(float p, float s);

class Curve {
public:
    // Largest number of user points any curve holds (the LFO shapes use all of them).
    static constexpr int maxCapacity = 64;
    // Level of a curve that has no user points.
    static constexpr float defaultEmptyLevel = 0.5f;

    // capacity is limited to 1..maxCapacity.
    explicit Curve(int capacity = maxCapacity);

    std::array<CurvePoint, maxCapacity + 1> points{};
    Relaxed<int32_t> count = 0;
    Relaxed<int32_t> loop = 0;
    Relaxed<float> emptyLevel = defaultEmptyLevel;
    // Set by every edit so that the editor redraws; the editor clears it.
    Relaxed<uint8_t> changed = 0;

    int capacity() const { return capacity_; }

    // Any thread. The value at x (clamped to 0..1). When segment is given it receives the
    // fractional segment position (k - 1 + t), which the editor draws from.
    float evaluate(float x, float* segment = nullptr) const;

    // User-interface thread. Inserts p before the first point whose x is not below p.x. A
    // full curve keeps its count and drops its last point. Returns the new point's index,
    // or -1 when a full curve has no room before its last point.
    int insertPoint(const CurvePoint& p);
    // User-interface thread. Moves point i to p, keeping the points ordered at least 0.01
    // apart; the first point stays at x = 0. Ignored for i outside 0..count.
    void movePoint(int i, const CurvePoint& p);
    // User-interface thread. Ignored for i outside 0..count - 1.
    void removePoint(int i);
    // Any thread (the audio thread follows an LFO's "Loop" parameter with it).
    void setLoop(bool flag);
    // Replaces every user point with the given ones (at most the capacity), each kept inside
    // the unit square (x and y 0..1, shape -1..1).
    void setPoints(const CurvePoint* source, int sourceCount);

    // Recomputes the terminal point after the user points or the loop flag changed.
    void updateTerminal();

private:
    int32_t capacity_ = maxCapacity;
};

// State form of a curve: uint8 count, then x, y, shape of every user point as 4-byte
// little-endian floats. Writes only inside size; position always advances.
void writeCurve(const Curve& curve, uint8_t* buffer, int& position, int size);
// Bytes writeCurve produces for a curve.
int curveByteSize(const Curve& curve);
// Reads a curve written by writeCurve: values are clamped to their ranges and a count
// beyond the capacity keeps the first points (the rest are skipped, so the data after the
// curve stays aligned). Data that ends early or holds non-finite numbers is rejected: the
// curve and position stay unchanged and the result is false.
bool readCurve(Curve& curve, const uint8_t* buffer, int& position, int size);

} // namespace tarvo
