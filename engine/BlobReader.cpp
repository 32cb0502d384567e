#include "engine/BlobReader.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/VelocityModels.h"

namespace tarvo {

namespace {

// The even mesh's knot densities that count as silence (knots per frame, knots per band).
constexpr float timeThreshold = Blob::timeDensityThreshold;
constexpr float freqThreshold = Blob::freqDensityThreshold;
// Row speeds are knots passed per frame above the threshold, limited to this.
constexpr float maxRowSpeed = 20.0f;
// Rows sit every 8 frequency knots; columns every 8 time knots.
constexpr float perLine = 1.0f / Blob::knotsPerLine;
// Highest column position read, just below the last column.
constexpr float lastColumn = 4.999f;
// Sentinel knots above the plane, so that shifted bands always find a segment.
constexpr float sentinelLow = 160.0f;
constexpr float sentinelHigh = 240.0f;
// Knot 48 during the amplitude search, just above the last band so the search always ends.
constexpr float searchTop = 80.001f;
// Band positions to the 20-point axis of the model's frequency offsets, and knot index to
// the row axis of the offsets' spline.
constexpr float bandsToOffsetPoints = 0.23749876f;
constexpr float knotsToOffsetRows = 0.124875f;
// Band index to the 12-point axis of the model's band gain curve.
constexpr float bandsToGainPoints = 0.13923874f;
// Smallest step between the frequency knots of a frame, in bands: the step a normalised
// frequency column never goes below (Blob::normalise), so at most about 16 knots per band.
constexpr float minKnotStep = 7.5f / Blob::freqKnotCount * 0.41176468f;

float warp(float t) {
    return static_cast<float>(plane::warpTime(t));
}
float unwarp(float w) {
    return static_cast<float>(plane::unwarpTime(w));
}

// The quadratic B-spline that spreads the model's row offsets over the frequency knots: its
// row and weights depend on the knot index only, so they are worked out once.
struct OffsetSpline {
    std::array<int, Blob::freqKnotCount> row{};
    std::array<float, Blob::freqKnotCount> below{}, at{}, above{};
    OffsetSpline() {
        for (int k = 0; k < Blob::freqKnotCount; ++k) {
            const float p = static_cast<float>(k) * knotsToOffsetRows;
            const int pi = static_cast<int>(p);
            const float pf = p - static_cast<float>(pi);
            row[k] = pi;
            below[k] = (1.0f - pf) * (1.0f - pf);
            at[k] = 1.0f + 2.0f * pf - 2.0f * pf * pf;
            above[k] = pf * pf;
        }
    }
};
const OffsetSpline offsetSpline;

int floorIndex(float x, int lo, int hi) {
    if (!(x >= static_cast<float>(lo))) return lo;
    if (x >= static_cast<float>(hi)) return hi;
    return static_cast<int>(std::floor(x));
}

// Velocity layer index and the weight of the next layer: the layers sit at MIDI velocities
// 0, 33 1/3, 66 2/3, 100 and 127.
void layerPosition(float velocity, int& layer, float& frac) {
    constexpr float v100 = 100.0f / 127.0f;
    constexpr float v27 = 27.0f / 127.0f;
    float p = velocity < v100 ? 3.0f * velocity / v100 : 3.0f + (velocity - v100) / v27;
    p = std::isfinite(p) ? std::clamp(p, 0.0f, 3.999f) : 0.0f;
    layer = static_cast<int>(p);
    frac = p - static_cast<float>(layer);
}

// Whether knots 1 .. last-1 each lie at least minKnotStep above the knot below and below
// the knot above, in the very comparisons keepKnotsInOrder makes (NaN fails both).
bool stepsKeepMinimum(const float* __restrict knots, int last) {
    int kept = 1;
    for (int k = 1; k < last; ++k)
        kept &= static_cast<int>(knots[k] >= knots[k - 1] + minKnotStep) &
                static_cast<int>(knots[k] <= knots[k + 1] - minKnotStep);
    return kept != 0;
}

// For each band in low .. top-1 at position y = band - shift: the knot segment it lies in,
// the segment's lower knot and its width. y grows with the band, so the segment is found by
// one walk upwards; knot 48 lies above the last band and the walk ends there.
void findSegments(const float* knots, int low, int top, float shift, float* __restrict segment,
                  float* __restrict from, float* __restrict width) {
    int k = 0;
    for (int band = low; band < top; ++band) {
        const float y = static_cast<float>(band) - shift;
        while (k < Blob::freqKnotCount && y >= knots[k + 1]) ++k;
        segment[band] = static_cast<float>(k);
        from[band] = knots[k];
        width[band] = knots[k + 1] - knots[k];
    }
}

// Each band's position between the rows (rows sit every 8 knots), split into the row below,
// -1 .. 7, and the fraction towards the next.
void rowPositions(int low, int top, float shift, const float* __restrict segment,
                  const float* __restrict from, const float* __restrict width, int* __restrict row,
                  float* __restrict rowFrac) {
    constexpr float lowestRow = -1.0f;
    for (int band = low; band < top; ++band) {
        const float y = static_cast<float>(band) - shift;
        // The division is taken for every band and dropped where the width is not positive, so
        // the loop has no branch.
        const float quotient = (y - from[band]) / width[band];
        const float within = width[band] > 0.0f ? quotient : 0.0f;
        const float rowPos = std::clamp((within + segment[band]) * perLine, lowestRow,
                                        static_cast<float>(BlobReader::rowCount));
        // floor(rowPos) without the library call; a NaN position reads row -1 (silent).
        const float safe = rowPos >= lowestRow ? rowPos : lowestRow;
        const float truncated = static_cast<float>(static_cast<int>(safe));
        const float whole = truncated > safe ? truncated - 1.0f : truncated;
        row[band] = static_cast<int>(whole);
        rowFrac[band] = rowPos - whole;
    }
}

// Positive contrast (0 .. 1): pushes weak components towards 0 and keeps strong ones.
void raiseContrast(float* __restrict out, int low, int top, float c) {
    for (int band = low; band < top; ++band) {
        const float v = out[band];
        const float d = std::max(v - 0.1f * c, 0.0f);
        out[band] = v + c * ((0.1f * d + 1.0f) * d * d / ((0.4f * d + 0.4f) * d + 0.15f) - v);
    }
}

// Negative contrast (-1 .. 0): lifts weak components.
void lowerContrast(float* __restrict out, int low, int top, float c) {
    const float keep = 1.0f + c;
    const float lift = -0.2f * c;
    const float knee = (0.1f + 0.08f * c) * (0.1f + 0.08f * c);
    for (int band = low; band < top; ++band) {
        const float v = out[band];
        out[band] = (v * lift / (v * v + knee) + keep) * v;
    }
}

// Amplitudes to powers, after the loudness gain (and the velocity model's band gain).
void scaleAndSquare(float* __restrict out, int low, int top, float gain) {
    for (int band = low; band < top; ++band) {
        const float v = out[band] * gain;
        out[band] = v * v;
    }
}
void scaleAndSquare(float* __restrict out, int low, int top, float gain, const float* __restrict bandGain) {
    for (int band = low; band < top; ++band) {
        const float v = out[band] * gain * bandGain[band];
        out[band] = v * v;
    }
}

// The terms of WarpInverse's curve in one segment of width w (wPrev and wNext are its
// neighbours').
// Slope of the inverse at the segment's far knot, matched to both neighbours.
inline float farSlope(float w, float wNext) {
    return (w * w + wNext * wNext) / (w * wNext * (w + wNext));
}
// How far the curve bends from a straight line: 0 when the neighbours are as wide.
inline float segmentBend(float wPrev, float w, float wNext) {
    const float t = (0.5f / wNext + 0.5f / wPrev) * w;
    return (t * t - 1.0f) * 0.2f;
}
// The numerator's rise across the segment, from its slopes p (near knot) and q (far knot).
inline float segmentRise(float p, float q, float d, float w) {
    return (q - (d + 1.0f) * p) / ((d + 2.0f) * w);
}
// The curve at x into the segment is numerator / denominator.
inline float segmentNumerator(float x, float p, float r, float w) {
    return (x * r + p) * w * w * x;
}
inline float segmentDenominator(float x, float d, float w) {
    return x * d * (w - x) + w * w;
}

} // namespace

void WarpInverse::reset(const float* a, const float* b, int n, float x) noexcept {
    n_ = std::clamp(n, 2, maxKnots);
    first_ = a[0];
    for (int k = 0; k < n_ - 1; ++k) widths_[k] = (1.0f - x) * (a[k + 1] - a[k]) + x * (b[k + 1] - b[k]);
    start();
}

void WarpInverse::evaluateRising(const float* knots, int n, const float* s, int count, float* out) noexcept {
    n = std::clamp(n, 2, maxKnots);
    // Segment j here is evaluate's segment j - 1: segment 0 lies before knot 0 with the first
    // knot's width, and the segments past the last knot repeat the last width. Widths are
    // floored just above zero, so touching knots divide by no zero.
    constexpr int segments = maxKnots + 1;
    std::array<float, segments + 1> width;
    for (int j = 0; j <= n; ++j) {
        const int k = std::min(std::max(j - 1, 0), n - 2);
        width[j] = std::max(knots[k + 1] - knots[k], 1e-9f);
    }
    width[n + 1] = width[n];
    // Segment -1 lies before knot 0 and has no curve; the others take their slopes, bend and
    // rise from their own and their neighbours' widths (all independent, so computed side by
    // side).
    std::array<float, segments> slope, startSlope, bend, rise, start, base;
    slope[0] = 1.0f / width[0];
    startSlope[0] = 0.0f;
    bend[0] = 0.0f;
    rise[0] = 0.0f;
    for (int j = 1; j <= n; ++j) slope[j] = farSlope(width[j], width[j + 1]);
    for (int j = 1; j <= n; ++j) {
        startSlope[j] = slope[j - 1];
        bend[j] = segmentBend(width[j - 1], width[j], width[j + 1]);
        rise[j] = segmentRise(startSlope[j], slope[j], bend[j], width[j]);
    }
    // Where each segment starts and the index there: sums along the list, in evaluate's order.
    start[0] = -width[0];
    base[0] = 0.0f;
    for (int j = 1; j <= n; ++j) {
        start[j] = start[j - 1] + width[j - 1];
        base[j] = base[j - 1] + (width[j - 1] * rise[j - 1] + startSlope[j - 1]) * width[j - 1];
    }

    // Each value's segment, by the walk evaluate makes, and the segment's terms per value.
    constexpr int maxValues = plane::bandCount + 1;
    count = std::min(count, maxValues);
    std::array<float, maxValues> x, w, p, r, d, b;
    int j = 0;
    for (int v = 0; v < count; ++v) {
        while (j < n && s[v] >= start[j] + width[j]) ++j;
        x[v] = s[v] - start[j];
        w[v] = width[j];
        p[v] = startSlope[j];
        r[v] = rise[j];
        d[v] = bend[j];
        b[v] = base[j];
    }
    const float first = knots[0];
    for (int v = 0; v < count; ++v) {
        const float num = segmentNumerator(x[v], p[v], r[v], w[v]);
        const float den = segmentDenominator(x[v], d[v], w[v]);
        const float index = b[v] + num / den;
        out[v] = s[v] < first ? 0.0f : index;
    }
}

float WarpInverse::steepestFrom(float index) const noexcept {
    const int from = std::clamp(static_cast<int>(index) - 1, 0, n_ - 2);
    float narrowest = widths_[static_cast<size_t>(from)];
    for (int k = from + 1; k < n_ - 1; ++k) narrowest = std::min(narrowest, widths_[static_cast<size_t>(k)]);
    // Touching knots (or a NaN width) allow any slope.
    return narrowest > 0.0f ? 1.0f / narrowest : std::numeric_limits<float>::infinity();
}

void WarpInverse::start() noexcept {
    const float h = widths_[0];
    i_ = -1;
    w_ = h;
    wNext_ = h;
    segmentStart_ = -h;
    indexBase_ = 0.0f;
    p_ = 0.0f;
    q_ = 1.0f / h;
    r_ = 0.0f;
    d_ = 0.0f;
}

float WarpInverse::evaluate(float s) noexcept {
    if (s < first_) return 0.0f;
    while (i_ < n_ - 1 && s >= segmentStart_ + w_) {
        segmentStart_ += w_;
        indexBase_ += (w_ * r_ + p_) * w_;
        wPrev_ = w_;
        w_ = wNext_;
        p_ = q_;
        wNext_ = widths_[std::min(i_ + 2, n_ - 2)];
        ++i_;
        q_ = farSlope(w_, wNext_);
        d_ = segmentBend(wPrev_, w_, wNext_);
        r_ = segmentRise(p_, q_, d_, w_);
    }
    const float x = s - segmentStart_;
    const float num = segmentNumerator(x, p_, r_, w_);
    const float den = segmentDenominator(x, d_, w_);
    const float numFloored = std::max(num, 1e-30f);
    return indexBase_ + numFloored / std::max(den, numFloored * 0.5f);
}

void BlobReader::start(const Blob* a, const Blob* b, float transform, int model, float velocity,
                       float dynGain) noexcept {
    setBlobs(a, b);
    if (blobA_ != nullptr)
        for (int l = 0; l < rowCount; ++l)
            rowReaders_[l].reset(blobA_->timeWarps[l].data(), blobB_->timeWarps[l].data(),
                                 Blob::timeKnotCount, transform);
    rowKnot_.fill(0.0f);
    rowColumn_.fill(0.0f);
    rowSpeed_.fill(0.0f);
    lastPos_ = 0.0f;
    timePos_ = 0.0f;
    past_[0] = PastFrame{};
    pastNewest_ = 0;
    pastCount_ = 1;
    tailLevel_ = 1.0f;
    model_ = model >= 0 && model < velocityModelCount ? model : -1;
    velocity_ = velocity;
    dynGain_ = dynGain;
    if (model_ >= 0) {
        int layer = 0;
        float frac = 0.0f;
        layerPosition(velocity_, layer, frac);
        const VelocityModel& m = velocityModel(model_);
        std::array<float, VelocityModel::bandGainPoints> points{};
        for (int i = 0; i < VelocityModel::bandGainPoints; ++i)
            points[i] = (1.0f - frac) * m.layers[layer][i] + frac * m.layers[layer + 1][i];
        // The gain curve spread over the bands once per note.
        for (int band = 0; band < plane::bandCount; ++band) {
            const float g = static_cast<float>(band) * bandsToGainPoints;
            const int gi = static_cast<int>(g);
            const float gf = g - static_cast<float>(gi);
            modelGainPerBand_[band] = (1.0f - gf) * points[gi] + gf * points[gi + 1];
        }
    }
}

float BlobReader::rowPosition(int l, float pos, int layer, float layerFrac) const noexcept {
    if (model_ < 0) return pos;
    const float g = pos * VelocityModel::timeRemapPoints / plane::frameCount;
    const int j = floorIndex(g, 0, VelocityModel::timeRemapPoints - 2);
    const float gf = g - static_cast<float>(j);
    const int at = VelocityModel::timeRemapStart + VelocityModel::timeRemapPoints * l + j;
    const auto remap = [&](int lay) {
        const auto& v = velocityModel(model_).layers[lay];
        return (1.0f - gf) * v[at] + gf * v[at + 1];
    };
    return (1.0f - layerFrac) * remap(layer) + layerFrac * remap(layer + 1);
}

void BlobReader::measureSpeedsSince(float from, float pos,
                                    const std::array<float, rowCount>& knots) noexcept {
    // The remembered frame at or before `from` and the one after it (or the oldest kept).
    int older = pastNewest_;
    int newer = -1;
    for (int k = 1; k < pastCount_ && past_[older].timePos > from; ++k) {
        newer = older;
        older = (older - 1 + historySize) % historySize;
    }
    const PastFrame& a = past_[older];
    float startPos = a.pos;
    std::array<float, rowCount> startKnots = a.knot;
    if (newer >= 0 && a.timePos < from) {
        const PastFrame& b = past_[newer];
        const float span = b.timePos - a.timePos;
        const float f = span > 0.0f ? (from - a.timePos) / span : 1.0f;
        startPos = a.pos + f * (b.pos - a.pos);
        for (int l = 0; l < rowCount; ++l) startKnots[l] = a.knot[l] + f * (b.knot[l] - a.knot[l]);
    }
    const float span = pos - startPos;
    if (!(span > 0.0f)) return;
    for (int l = 0; l < rowCount; ++l)
        rowSpeed_[l] = std::clamp((knots[l] - startKnots[l]) / span - timeThreshold, 0.0f, maxRowSpeed);
}

void BlobReader::setBlobs(const Blob* a, const Blob* b) noexcept {
    blobA_ = a;
    blobB_ = b != nullptr ? b : a;
}

// Moves the frequency knots by the velocity model's per-row offsets, spread over the knots
// with a quadratic B-spline.
void BlobReader::applyModelOffsets(int layer, float layerFrac) noexcept {
    const VelocityModel& m = velocityModel(model_);
    const auto offsetAt = [&](int lay, int ri, float rf, int qi, float qf) {
        const auto& v = m.layers[lay];
        const auto at = [&](int row, int point) {
            return v[VelocityModel::freqOffsetStart + VelocityModel::freqOffsetPoints * row + point];
        };
        return (1.0f - rf) * ((1.0f - qf) * at(ri, qi) + qf * at(ri, qi + 1)) +
               rf * ((1.0f - qf) * at(ri + 1, qi) + qf * at(ri + 1, qi + 1));
    };
    for (int l = 0; l < rowCount; ++l) {
        const float q = knotBands_[Blob::knotsPerLine * l] * bandsToOffsetPoints;
        const int qi = floorIndex(q, 0, VelocityModel::freqOffsetPoints - 2);
        const float qf = q - static_cast<float>(qi);
        const float r = rowColumn_[l];
        const int ri = floorIndex(r, 0, VelocityModel::freqOffsetColumns - 2);
        const float rf = r - static_cast<float>(ri);
        rowOffsets_[l + 1] = (1.0f - layerFrac) * offsetAt(layer, ri, rf, qi, qf) +
                             layerFrac * offsetAt(layer + 1, ri, rf, qi, qf);
    }
    rowOffsets_[0] = (2.0f * rowOffsets_[1] - rowOffsets_[2]) * 0.1f;
    rowOffsets_[rowCount + 1] = (2.0f * rowOffsets_[rowCount] - rowOffsets_[rowCount - 1]) * 0.1f;
    const OffsetSpline& sp = offsetSpline;
    for (int k = 0; k < Blob::freqKnotCount; ++k) {
        const float* r = rowOffsets_.data() + sp.row[k];
        knotBands_[k] += 0.5f * (sp.below[k] * r[0] + sp.at[k] * r[1] + sp.above[k] * r[2]);
    }
}

// The knots of a frame are interpolated between columns that differ from row to row, and
// between A and B; where neighbouring knots come from very different column positions they
// can cross. A crossed or touching pair would read as a knot density of thousands per band
// (a click hundreds of times louder than the sound), so the knots are kept increasing by at
// least the step a normalised column keeps; steps that are already that wide (every step of
// an undeformed or unwarped mesh) are left as they are.
void BlobReader::keepKnotsInOrder() noexcept {
    constexpr int last = Blob::freqKnotCount - 1;
    // The two passes below are chains from knot to knot; most frames need neither, and that
    // is checked knot by knot in parallel. When every step already passes both the forward
    // and the backward test, neither pass changes a knot.
    if (stepsKeepMinimum(knotBands_.data(), last)) return;
    for (int k = 1; k < last; ++k) knotBands_[k] = std::max(knotBands_[k], knotBands_[k - 1] + minKnotStep);
    for (int k = last - 1; k >= 1; --k)
        knotBands_[k] = std::min(knotBands_[k], knotBands_[k + 1] - minKnotStep);
}

float BlobReader::advanceRows(float rate, float x, TailNoise& noise) noexcept {
    const Blob& a = *blobA_;
    const Blob& b = *blobB_;
    timePos_ += rate;
    const float pos = warp(timePos_);
    const float delta = pos - lastPos_;

    int layer = 0;
    float layerFrac = 0.0f;
    if (model_ >= 0) layerPosition(velocity_, layer, layerFrac);

    if (pos < plane::frameCount) {
        // Plane: each row's speed is the number of time knots passed since the last frame.
        std::array<float, rowCount> knots{};
        if (hopScale < 1.0f && delta > 0.0f) {
            // Coarser steps than the Blob's rate: the mean power of the steps one hop at that
            // rate takes. The readers only walk forward, so the steps are read in order.
            const int parts = std::max(static_cast<int>(std::ceil(1.0f / hopScale - 1e-3f)), 1);
            const float previousTime = timePos_ - rate;
            std::array<float, rowCount> sum{};
            knots = rowKnot_;
            float fromPos = lastPos_;
            for (int i = 1; i <= parts; ++i) {
                const float at = i == parts ? pos : warp(previousTime + rate * static_cast<float>(i) / parts);
                const float span = at - fromPos;
                for (int l = 0; l < rowCount; ++l) {
                    const float h = rowReaders_[l].evaluate(rowPosition(l, at, layer, layerFrac));
                    const float v = span > 0.0f
                                        ? std::clamp((h - knots[l]) / span - timeThreshold, 0.0f, maxRowSpeed)
                                        : 0.0f;
                    sum[l] += v * v;
                    knots[l] = h;
                }
                fromPos = at;
            }
            for (int l = 0; l < rowCount; ++l) rowSpeed_[l] = std::sqrt(sum[l] / static_cast<float>(parts));
        } else {
            for (int l = 0; l < rowCount; ++l)
                knots[l] = rowReaders_[l].evaluate(rowPosition(l, pos, layer, layerFrac));
            if (hopScale > 1.0f) {
                // Finer steps than the Blob's rate: measured over the span one hop at that rate
                // covers, so the frames are what 44.1 kHz plays, seen more often.
                measureSpeedsSince(timePos_ - rate * hopScale, pos, knots);
            } else if (delta > 0.0f) {
                for (int l = 0; l < rowCount; ++l)
                    rowSpeed_[l] =
                        std::clamp((knots[l] - rowKnot_[l]) / delta - timeThreshold, 0.0f, maxRowSpeed);
            }
        }
        for (int l = 0; l < rowCount; ++l) {
            rowKnot_[l] = knots[l];
            rowColumn_[l] = std::clamp(knots[l] * perLine, 0.0f, lastColumn);
        }
        pastNewest_ = (pastNewest_ + 1) % historySize;
        pastCount_ = std::min(pastCount_ + 1, historySize);
        past_[pastNewest_] = PastFrame{timePos_, pos, knots};
    } else {
        // Tail: row speeds decay with the Blob's tail times; the frequency layout stays near
        // the last column and wanders slightly.
        const float dt =
            std::max((unwarp(pos) - unwarp(pos - delta)) / static_cast<float>(plane::framesPerSecond), 0.0f);
        float loudest = 0.0f;
        for (int l = 0; l < rowCount; ++l) {
            const float tau = std::max((1.0f - x) * a.tailTime[l] + x * b.tailTime[l], 0.001f);
            rowSpeed_[l] *= tau / (tau + dt);
            const float u = noise.next();
            rowColumn_[l] = std::clamp(rowColumn_[l] + 0.01f * (u - 0.5f), lastColumn - 1.0f, lastColumn);
            loudest = std::max(loudest, rowSpeed_[l]);
        }
        tailLevel_ = loudest * loudest;
    }
    return pos;
}

void BlobReader::skipFrame(float rate, const FrameControls& controls, TailNoise& noise) noexcept {
    if (blobA_ == nullptr) {
        tailLevel_ = 0.0f;
        return;
    }
    lastPos_ = advanceRows(rate, controls.transform, noise);
}

void BlobReader::renderFrame(float rate, const FrameControls& controls, TailNoise& noise,
                             float* out) noexcept {
    constexpr int bands = plane::bandCount;
    if (blobA_ == nullptr) {
        std::fill(out, out + bands, 0.0f);
        tailLevel_ = 0.0f;
        return;
    }
    const Blob& a = *blobA_;
    const Blob& b = *blobB_;
    const float x = controls.transform;

    const float pos = advanceRows(rate, x, noise);

    // Loudness normalisation by the morphed square root of the energy; negative contrast
    // fades it towards a fixed divisor.
    const float z = (1.0f - x) * std::sqrt(a.energy) + (x > 0.0f ? x * std::sqrt(b.energy) : 0.0f);
    const float divisor = (2.2f - z) * std::clamp(-controls.contrast, 0.0f, 1.0f) + z;
    const float gain = divisor > 0.0f ? std::sqrt(loudness) * dynGain_ / divisor : 0.0f;

    int layer = 0;
    float layerFrac = 0.0f;
    if (model_ >= 0) layerPosition(velocity_, layer, layerFrac);

    // Frequency knots of this frame: each row's column position, interpolated between rows
    // and morphed between A and B.
    knotBands_[Blob::freqKnotCount - 1] = plane::bandCount;
    for (int l = 0; l < Blob::freqColumnCount; ++l) {
        for (int j = 0; j < Blob::knotsPerLine; ++j) {
            const int k = Blob::knotsPerLine * l + j;
            const float jf = static_cast<float>(j) * perLine;
            const float col = (1.0f - jf) * rowColumn_[l] + jf * rowColumn_[l + 1];
            const int c = floorIndex(col, 0, Blob::freqColumnCount - 2);
            const float cf = col - static_cast<float>(c);
            knotBands_[k] = (1.0f - cf) * (x * b.freqWarps[c][k] + (1.0f - x) * a.freqWarps[c][k]) +
                            cf * (x * b.freqWarps[c + 1][k] + (1.0f - x) * a.freqWarps[c + 1][k]);
        }
    }
    knotBands_[Blob::freqKnotCount] = sentinelLow;
    knotBands_[Blob::freqKnotCount + 1] = sentinelHigh;
    if (model_ >= 0) applyModelOffsets(layer, layerFrac);
    keepKnotsInOrder();

    // Bands shifted in from outside the plane stay silent.
    const float shift =
        std::isfinite(controls.freqShift)
            ? std::clamp(controls.freqShift, static_cast<float>(-bands), static_cast<float>(bands))
            : 0.0f;
    const int low = std::clamp(static_cast<int>(shift), 0, bands);
    const int top = bands - std::max(static_cast<int>(-shift), 0);

    // Frequency density: knots per band, read through the inverse of the knot positions at
    // the bands' edges.
    std::array<float, bands + 1> edges, edgeKnots;
    const int edgeCount = top - low + 1;
    for (int e = 0; e < edgeCount; ++e) edges[e] = static_cast<float>(low + e) - shift;
    WarpInverse::evaluateRising(knotBands_.data(), WarpInverse::maxKnots, edges.data(), edgeCount,
                                edgeKnots.data());
    for (int band = low; band < top; ++band)
        density_[band] = edgeKnots[band - low + 1] - edgeKnots[band - low];

    // Amplitude: frequency density above its threshold times the time speed of the rows
    // around the band. The search for each band's segment is a walk; the rest runs band by
    // band in parallel, over the scratch arrays below.
    knotBands_[Blob::freqKnotCount - 1] = searchTop;
    std::array<float, bands> segment, from, width, rowFrac;
    std::array<int, bands> row;
    findSegments(knotBands_.data(), low, top, shift, segment.data(), from.data(), width.data());
    rowPositions(low, top, shift, segment.data(), from.data(), width.data(), row.data(), rowFrac.data());
    // The speeds of rows -1 .. 8; those outside the plane's rows read as silent.
    std::array<float, rowCount + 3> speeds{};
    std::copy(rowSpeed_.begin(), rowSpeed_.end(), speeds.begin() + 1);
    for (int band = low; band < top; ++band) {
        const float* speed = speeds.data() + 1 + row[band];
        const float mf = rowFrac[band];
        out[band] = std::max(density_[band] - freqThreshold, 0.0f) * ((1.0f - mf) * speed[0] + mf * speed[1]);
    }

    const float c = controls.contrast;
    if (c > 0.0f)
        raiseContrast(out, low, top, c);
    else if (c < 0.0f)
        lowerContrast(out, low, top, c);

    if (model_ >= 0)
        scaleAndSquare(out, low, top, gain, modelGainPerBand_.data());
    else
        scaleAndSquare(out, low, top, gain);
    // Bands shifted in from outside the plane.
    std::fill(out, out + low, 0.0f);
    std::fill(out + top, out + bands, 0.0f);
    lastPos_ = pos;
}

float BlobReader::frameSpeed() const noexcept {
    return *std::max_element(rowSpeed_.begin(), rowSpeed_.end());
}

float BlobReader::speedAhead() const noexcept {
    if (blobA_ == nullptr) return 0.0f;
    float ahead = frameSpeed();
    if (lastPos_ >= plane::frameCount) return ahead;
    if (model_ >= 0) return maxRowSpeed;
    for (int l = 0; l < rowCount; ++l)
        ahead = std::max(
            ahead, std::clamp(rowReaders_[l].steepestFrom(rowKnot_[l]) - timeThreshold, 0.0f, maxRowSpeed));
    return ahead;
}

float playbackRate(float lastPos, float timescale, float sampleRate, int hopFrames) noexcept {
    const float ts = std::max(timescale, 0.01f);
    const float fade = std::clamp((lastPos - 5.0f) * 0.1f, 0.0f, 1.0f);
    // Blob frames per hop: a frame is 64 samples at 44.1 kHz.
    const float framesPerHop = 44100.0f / sampleRate * (static_cast<float>(hopFrames) / 64.0f);
    const float rate = ((1.0f / ts - 1.0f) * fade + 1.0f) * (lastPos >= 0.9f ? framesPerHop : 1.0f);
    return std::max(rate, 0.001f);
}

} // namespace tarvo
