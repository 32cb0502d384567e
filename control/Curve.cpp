#include "control/Curve.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace tarvo {

namespace {

// Smallest x distance between neighbouring points.
constexpr float minPointGap = 0.01f;
// Largest x of the last point of a looping curve, so that its wrap segment keeps a width.
constexpr float maxLoopEndX = 0.99f;
// Keeps the segment division finite when two points share an x.
constexpr float segmentEpsilon = 1e-20f;
// Bytes of one stored point: x, y and shape.
constexpr int pointBytes = 12;

void writeFloat(uint8_t* at, float v) {
    const uint32_t bits = std::bit_cast<uint32_t>(v);
    for (int b = 0; b < 4; ++b) at[b] = static_cast<uint8_t>(bits >> (8 * b));
}

float readFloat(const uint8_t* at) {
    uint32_t bits = 0;
    for (int b = 0; b < 4; ++b) bits |= static_cast<uint32_t>(at[b]) << (8 * b);
    return std::bit_cast<float>(bits);
}

} // namespace

float bend(float p, float s) {
    p = std::clamp(p, 0.0f, 1.0f);
    const float shape2 = 2.0f * std::clamp(s, -1.0f, 1.0f);
    const float c = std::clamp(shape2, -1.0f, 1.0f);
    const float q = ((1.0f - p) * c + 1.0f) * p;
    const float k = shape2 - c;
    // Rational steepening beyond |s| = 0.5; the denominator stays at least 0.02. Near p = 1 the
    // quotient can round a step above 1, which would carry a curve's level past its points.
    return std::min((k + 1.02f) * q / ((2.0f * q - 1.0f) * k + 1.02f), 1.0f);
}

Curve::Curve(int capacity) : capacity_(std::clamp(capacity, 1, maxCapacity)) {
    updateTerminal();
}

float Curve::evaluate(float x, float* segment) const {
    const int n = std::clamp(static_cast<int>(count), 0, capacity_);
    if (n == 0) {
        if (segment != nullptr) *segment = 0.0f;
        return emptyLevel;
    }
    x = std::clamp(x, 0.0f, 1.0f);
    int k = 1;
    while (k < n && points[static_cast<size_t>(k)].x < x) ++k;
    const CurvePoint& a = points[static_cast<size_t>(k - 1)];
    const CurvePoint& b = points[static_cast<size_t>(k)];
    // Clamped so that a stored curve that does not start at x = 0 cannot extrapolate.
    const float t = std::clamp((x - a.x) / (std::fabs(b.x - a.x) + segmentEpsilon), 0.0f, 1.0f);
    if (segment != nullptr) *segment = static_cast<float>(k - 1) + t;
    return bend(t, a.shape) * (b.y - a.y) + a.y;
}

int Curve::insertPoint(const CurvePoint& p) {
    int i = 0;
    while (i < count && points[static_cast<size_t>(i)].x < p.x) ++i;
    if (count == capacity_ && i == count) return -1;
    count = std::min(count + 1, capacity_);
    for (int j = count - 1; j > i; --j) points[static_cast<size_t>(j)] = points[static_cast<size_t>(j - 1)];
    movePoint(i, p);
    return i;
}

void Curve::movePoint(int i, const CurvePoint& p) {
    if (i < 0 || i > count) return;
    float x = std::clamp(p.x.load(), 0.0f, 1.0f);
    if (i == 0) {
        x = 0.0f;
    } else {
        x = std::max(x, points[static_cast<size_t>(i - 1)].x + minPointGap);
        if (i < count - 1)
            x = std::min(x, points[static_cast<size_t>(i + 1)].x - minPointGap);
        else if (loop != 0)
            x = std::min(x, maxLoopEndX);
    }
    // The same limits as reading a stored curve, so that a saved curve comes back unchanged.
    points[static_cast<size_t>(i)] = {x, std::clamp(p.y.load(), 0.0f, 1.0f),
                                      std::clamp(p.shape.load(), -1.0f, 1.0f)};
    changed = 1;
    updateTerminal();
}

void Curve::removePoint(int i) {
    if (i < 0 || i >= count) return;
    for (int j = i; j + 1 < count; ++j) points[static_cast<size_t>(j)] = points[static_cast<size_t>(j + 1)];
    --count;
    changed = 1;
    updateTerminal();
}

void Curve::setLoop(bool flag) {
    loop = flag ? 1 : 0;
    changed = 1;
    updateTerminal();
}

void Curve::setPoints(const CurvePoint* source, int sourceCount) {
    const int n = std::clamp(sourceCount, 0, static_cast<int>(capacity_));
    // The same limits as reading a stored curve: points outside the unit square would leave
    // the curve's segments or bend them past their shapes.
    for (int i = 0; i < n; ++i)
        points[static_cast<size_t>(i)] = {std::clamp(source[i].x.load(), 0.0f, 1.0f),
                                          std::clamp(source[i].y.load(), 0.0f, 1.0f),
                                          std::clamp(source[i].shape.load(), -1.0f, 1.0f)};
    count = n;
    changed = 1;
    updateTerminal();
}

void Curve::updateTerminal() {
    if (count <= 0) {
        count = 0;
        points[0] = {0.0f, emptyLevel, 0.0f};
        return;
    }
    const float y = loop != 0 ? points[0].y : points[static_cast<size_t>(count - 1)].y;
    points[static_cast<size_t>(count)] = {1.0f, y, 0.0f};
}

int curveByteSize(const Curve& curve) {
    return 1 + pointBytes * curve.count;
}

void writeCurve(const Curve& curve, uint8_t* buffer, int& position, int size) {
    const bool fits = buffer != nullptr && position >= 0 && position + curveByteSize(curve) <= size;
    if (fits) {
        uint8_t* at = buffer + position;
        *at++ = static_cast<uint8_t>(curve.count);
        for (int i = 0; i < curve.count; ++i, at += pointBytes) {
            const CurvePoint& p = curve.points[static_cast<size_t>(i)];
            writeFloat(at, p.x);
            writeFloat(at + 4, p.y);
            writeFloat(at + 8, p.shape);
        }
    }
    position += curveByteSize(curve);
}

bool readCurve(Curve& curve, const uint8_t* buffer, int& position, int size) {
    if (buffer == nullptr || position < 0 || position + 1 > size) return false;
    const int stored = buffer[position];
    if (position + 1 + stored * pointBytes > size) return false;
    const uint8_t* at = buffer + position + 1;
    std::array<CurvePoint, Curve::maxCapacity> read{};
    const int kept = std::min(stored, curve.capacity());
    for (int i = 0; i < stored; ++i, at += pointBytes) {
        const float x = readFloat(at), y = readFloat(at + 4), shape = readFloat(at + 8);
        if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(shape)) return false;
        if (i < kept)
            read[static_cast<size_t>(i)] = {std::clamp(x, 0.0f, 1.0f), std::clamp(y, 0.0f, 1.0f),
                                            std::clamp(shape, -1.0f, 1.0f)};
    }
    curve.setPoints(read.data(), kept);
    position += 1 + stored * pointBytes;
    return true;
}

} // namespace tarvo
