#include "engine/BlobOutline.h"

#include <algorithm>
#include <cmath>

#include "engine/BlobReader.h"
#include "engine/CanonicalPlane.h"

namespace tarvo {

namespace {

// The outline covers the plane's first 95 frames.
constexpr float outlineFrames = 95.0f;
// Square of the frequency (Hz) at which a knot's loudness counts half: 140 Hz.
constexpr double halfWeightHzSquared = 19600.0;
// Weight every frequency keeps, so that a sound without lows still shows.
constexpr double weightFloor = 0.01;
// Narrowest frequency knot spacing counted, in bands.
constexpr float minKnotSpacing = 0.001f;
// Time knots per column of freqWarps.
constexpr float knotsPerColumn = static_cast<float>(Blob::knotsPerLine);
// Highest band a knot's frequency is read at, so that the band above it exists.
constexpr float topBandPosition = plane::bandCount - 1 - 0.001f;

// Loudness of one frequency column with the mixed knots: the fourth root of the weighted sum
// of the knots' energies.
double columnLoudness(const Blob::FreqColumn& a, const Blob::FreqColumn& b, float x) {
    std::array<float, Blob::freqKnotCount> knots;
    for (int i = 0; i < Blob::freqKnotCount; ++i)
        knots[static_cast<size_t>(i)] =
            (1.0f - x) * a[static_cast<size_t>(i)] + x * b[static_cast<size_t>(i)];
    double sum = 0.0;
    for (int i = 1; i + 1 < Blob::freqKnotCount; ++i) {
        const float width =
            std::max(knots[static_cast<size_t>(i + 1)] - knots[static_cast<size_t>(i - 1)], minKnotSpacing);
        const double half = width / 2.0;
        const double density = std::max(1.0 / half - Blob::freqDensityThreshold, 0.0);
        const double energy = density * density * density * density * half;
        const float p = std::clamp(knots[static_cast<size_t>(i)], 0.0f, topBandPosition);
        const double band = std::floor(p);
        const double frac = p - band;
        const double hz = (1.0 - frac) * plane::bandCentreHz(band) + frac * plane::bandCentreHz(band + 1.0);
        const double weight = halfWeightHzSquared / (hz * hz + halfWeightHzSquared) + weightFloor;
        sum += weight * energy;
    }
    return std::sqrt(std::sqrt(std::max(sum, 0.0)));
}

} // namespace

int BlobOutline::slicesFor(float resolution) {
    if (!(resolution >= 1.0f)) return 0; // also NaN
    return static_cast<int>(std::min(resolution, static_cast<float>(maxSlices)));
}

float BlobOutline::mixWeight(const Blob& a, const Blob& b, float transform) {
    const bool hasA = a.present > 0, hasB = b.present > 0;
    if (hasA && hasB) return std::isfinite(transform) ? std::clamp(transform, 0.0f, 1.0f) : 0.0f;
    return hasB ? 1.0f : 0.0f;
}

void BlobOutline::compute(const Blob& a, const Blob& b, float x, int count, float* out) {
    count = std::clamp(count, 1, maxSlices);
    // Mean time knots over the rows.
    std::array<float, Blob::timeKnotCount> meanKnots{};
    for (int j = 0; j < Blob::timeKnotCount; ++j) {
        float sum = 0.0f;
        for (int r = 0; r < Blob::timeRowCount; ++r)
            sum += (1.0f - x) * a.timeWarps[static_cast<size_t>(r)][static_cast<size_t>(j)] +
                   x * b.timeWarps[static_cast<size_t>(r)][static_cast<size_t>(j)];
        meanKnots[static_cast<size_t>(j)] = sum / Blob::timeRowCount;
    }
    std::array<double, Blob::freqColumnCount> loudness{};
    for (int c = 0; c < Blob::freqColumnCount; ++c)
        loudness[static_cast<size_t>(c)] =
            columnLoudness(a.freqWarps[static_cast<size_t>(c)], b.freqWarps[static_cast<size_t>(c)], x);

    // The time knot reached at the end of every slice.
    std::array<float, maxSlices> ends{}, reached{};
    for (int j = 1; j <= count; ++j) ends[static_cast<size_t>(j - 1)] = j * outlineFrames / count;
    WarpInverse::evaluateRising(meanKnots.data(), Blob::timeKnotCount, ends.data(), count, reached.data());

    // Knots per slice that count as silence.
    const float silentKnots = Blob::timeDensityThreshold * 96.0f / static_cast<float>(count);
    float previous = 0.0f;
    for (int j = 0; j < count; ++j) {
        const float now = reached[static_cast<size_t>(j)];
        const float p =
            std::clamp((now + previous) / (2.0f * knotsPerColumn), 0.0f, Blob::freqColumnCount - 1 - 0.001f);
        const int c = std::min(static_cast<int>(p), Blob::freqColumnCount - 2);
        const double f = p - c;
        const double column =
            (1.0 - f) * loudness[static_cast<size_t>(c)] + f * loudness[static_cast<size_t>(c + 1)];
        const double density = std::max(static_cast<double>(now - previous - silentKnots), 0.0);
        const double v = column * density;
        out[j] = static_cast<float>(v * v);
        previous = now;
    }

    double peak = 0.0, squares = 0.0;
    for (int j = 0; j < count; ++j) {
        peak = std::max(peak, static_cast<double>(out[j]));
        squares += static_cast<double>(out[j]) * out[j];
    }
    const double scale = std::max(2.0 * std::sqrt(squares / count), peak);
    if (scale > 0.0)
        for (int j = 0; j < count; ++j) out[j] = static_cast<float>(out[j] / scale);
}

bool BlobOutline::refresh(const Blob& a, const Blob& b, float transform, int slices, double now) {
    const float x = mixWeight(a, b, transform);
    const int count = a.present > 0 || b.present > 0 ? std::clamp(slices, 0, maxSlices) : 0;
    const int key = a.version + b.version;
    if (key == key_ && std::fabs(x - mix_) <= mixTolerance && count == size_) return false;
    values_.fill(0.0f);
    size_ = count;
    if (count >= 1) compute(a, b, x, count, values_.data());
    key_ = key;
    mix_ = x;
    changedAt_ = now;
    return true;
}

} // namespace tarvo
