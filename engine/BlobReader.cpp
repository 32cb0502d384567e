#include "engine/BlobReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/VelocityModels.h"

namespace tarvo {

namespace baseline {
#include "engine/BlobFrameKernels.inl"
} // namespace baseline

#if defined(TARVO_AVX2_KERNELS)
// Defined in BlobFrameAvx2.cpp, compiled for AVX2 with fused multiply-adds.
namespace avx2 {
extern const FrameKernels readerKernels;
}
#endif

const FrameKernels& frameKernels(VectorPath path) noexcept {
#if defined(TARVO_AVX2_KERNELS)
    if (path == VectorPath::avx2 && vectorPathAvailable(path)) return avx2::readerKernels;
#else
    (void)path;
#endif
    return baseline::readerKernels;
}

namespace {

// The even mesh's time knot density that counts as silence (knots per frame).
constexpr float timeThreshold = Blob::timeDensityThreshold;
// Row speeds are knots passed per frame above the threshold, limited to this.
constexpr float maxRowSpeed = 20.0f;
// Rows sit every 8 frequency knots; columns every 8 time knots.
constexpr float perLine = 1.0f / Blob::knotsPerLine;
// Highest column position read, just below the last column.
constexpr float lastColumn = 4.999f;
// Sentinel knots above the plane, so that shifted bands always find a segment.
constexpr float sentinelLow = 160.0f;
constexpr float sentinelHigh = 240.0f;
// Band positions to the 20-point axis of the model's frequency offsets, and knot index to
// the row axis of the offsets' spline.
constexpr float bandsToOffsetPoints = 0.23749876f;
constexpr float knotsToOffsetRows = 0.124875f;
// Band index to the 12-point axis of the model's band gain curve.
constexpr float bandsToGainPoints = 0.13923874f;

float warp(float t) {
    return static_cast<float>(plane::warpTime(t));
}
float unwarp(float w) {
    return static_cast<float>(plane::unwarpTime(w));
}

// The quadratic B-spline that spreads the model's row offsets over the frequency knots: its
// row and weights depend on the knot index only, so they are worked out once. The row steps up
// with the knot index, so the knots fall into runs that read the same row (runStart[r] is the
// first knot of run r, runRow[r] its row).
struct OffsetSpline {
    std::array<float, Blob::freqKnotCount> below{}, at{}, above{};
    std::array<int, Blob::freqKnotCount + 1> runStart{};
    std::array<int, Blob::freqKnotCount> runRow{};
    int runCount = 0;
    OffsetSpline() {
        for (int k = 0; k < Blob::freqKnotCount; ++k) {
            const float p = static_cast<float>(k) * knotsToOffsetRows;
            const int pi = static_cast<int>(p);
            const float pf = p - static_cast<float>(pi);
            if (runCount == 0 || runRow[runCount - 1] != pi) {
                runStart[runCount] = k;
                runRow[runCount] = pi;
                ++runCount;
            }
            below[k] = (1.0f - pf) * (1.0f - pf);
            at[k] = 1.0f + 2.0f * pf - 2.0f * pf * pf;
            above[k] = pf * pf;
        }
        runStart[runCount] = Blob::freqKnotCount;
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

} // namespace

void WarpInverse::reset(const float* a, const float* b, int n, float x) noexcept {
    n_ = std::clamp(n, 2, maxKnots);
    first_ = a[0];
    for (int k = 0; k < n_ - 1; ++k) widths_[k] = (1.0f - x) * (a[k + 1] - a[k]) + x * (b[k + 1] - b[k]);
    start();
}

void WarpInverse::evaluateRising(const float* knots, int n, const float* s, int count, float* out) noexcept {
    baseline::readerKernels.evaluateRising(knots, n, s, count, out);
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
        q_ = baseline::farSlope(w_, wNext_);
        d_ = baseline::segmentBend(wPrev_, w_, wNext_);
        r_ = baseline::segmentRise(p_, q_, d_, w_);
    }
    const float x = s - segmentStart_;
    const float num = baseline::segmentNumerator(x, p_, r_, w_);
    const float den = baseline::segmentDenominator(x, d_, w_);
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
    dynGain_ = dynGain;
    layer_ = 0;
    layerFrac_ = 0.0f;
    if (model_ >= 0) {
        layerPosition(velocity, layer_, layerFrac_);
        const VelocityModel& m = velocityModel(model_);
        std::array<float, VelocityModel::bandGainPoints> points{};
        for (int i = 0; i < VelocityModel::bandGainPoints; ++i)
            points[i] = (1.0f - layerFrac_) * m.layers[layer_][i] + layerFrac_ * m.layers[layer_ + 1][i];
        // The gain curve spread over the bands once per note.
        for (int band = 0; band < plane::bandCount; ++band) {
            const float g = static_cast<float>(band) * bandsToGainPoints;
            const int gi = static_cast<int>(g);
            const float gf = g - static_cast<float>(gi);
            modelGainPerBand_[band] = (1.0f - gf) * points[gi] + gf * points[gi + 1];
        }
    }
}

void BlobReader::rowPositions(float pos, int layer, float layerFrac,
                              std::array<float, rowCount>& positions) const noexcept {
    if (model_ < 0) {
        positions.fill(pos);
        return;
    }
    // Every row's remap has its points at the same positions.
    const float g = pos * VelocityModel::timeRemapPoints / plane::frameCount;
    const int j = floorIndex(g, 0, VelocityModel::timeRemapPoints - 2);
    const float gf = g - static_cast<float>(j);
    const VelocityModel::Layer& below = velocityModel(model_).layers[layer];
    const VelocityModel::Layer& above = velocityModel(model_).layers[layer + 1];
    for (int l = 0; l < rowCount; ++l) {
        const int at = VelocityModel::timeRemapStart + VelocityModel::timeRemapPoints * l + j;
        const float remapBelow = (1.0f - gf) * below[at] + gf * below[at + 1];
        const float remapAbove = (1.0f - gf) * above[at] + gf * above[at + 1];
        positions[l] = (1.0f - layerFrac) * remapBelow + layerFrac * remapAbove;
    }
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
    // Run by run, so that the knots of a run, which read the same three offsets, are moved
    // side by side.
    const OffsetSpline& sp = offsetSpline;
    for (int run = 0; run < sp.runCount; ++run) {
        const float* r = rowOffsets_.data() + sp.runRow[run];
        const float r0 = r[0], r1 = r[1], r2 = r[2];
        for (int k = sp.runStart[run]; k < sp.runStart[run + 1]; ++k)
            knotBands_[k] += 0.5f * (sp.below[k] * r0 + sp.at[k] * r1 + sp.above[k] * r2);
    }
}

float BlobReader::advanceRows(float rate, float x, TailNoise& noise) noexcept {
    const Blob& a = *blobA_;
    const Blob& b = *blobB_;
    timePos_ += rate;
    const float pos = warp(timePos_);
    const float delta = pos - lastPos_;

    const int layer = layer_;
    const float layerFrac = layerFrac_;

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
                std::array<float, rowCount> positions;
                rowPositions(at, layer, layerFrac, positions);
                for (int l = 0; l < rowCount; ++l) {
                    const float h = rowReaders_[l].evaluate(positions[l]);
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
            std::array<float, rowCount> positions;
            rowPositions(pos, layer, layerFrac, positions);
            for (int l = 0; l < rowCount; ++l) knots[l] = rowReaders_[l].evaluate(positions[l]);
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

void BlobReader::renderFrame(float rate, const FrameControls& controls, TailNoise& noise, float* out,
                             const FrameKernels& kernels) noexcept {
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

    const int layer = layer_;
    const float layerFrac = layerFrac_;

    // Frequency knots of this frame: each row's column position, interpolated between rows
    // and morphed between A and B; the last knot at the top band and two sentinels above.
    kernels.knots(a, b, x, rowColumn_.data(), knotBands_.data());
    knotBands_[Blob::freqKnotCount - 1] = plane::bandCount;
    knotBands_[Blob::freqKnotCount] = sentinelLow;
    knotBands_[Blob::freqKnotCount + 1] = sentinelHigh;
    if (model_ >= 0) applyModelOffsets(layer, layerFrac);

    // Bands shifted in from outside the plane stay silent.
    const float shift =
        std::isfinite(controls.freqShift)
            ? std::clamp(controls.freqShift, static_cast<float>(-bands), static_cast<float>(bands))
            : 0.0f;
    const FrameBandInputs inputs{rowSpeed_.data(),
                                 shift,
                                 std::clamp(static_cast<int>(shift), 0, bands),
                                 bands - std::max(static_cast<int>(-shift), 0),
                                 controls.contrast,
                                 gain,
                                 model_ >= 0 ? modelGainPerBand_.data() : nullptr};
    kernels.bands(inputs, knotBands_.data(), out);
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
