// The Blob reader's per-frame band work, compiled once for every vector path (BlobReader.cpp
// for the baseline, BlobFrameAvx2.cpp for AVX2). Each includes this inside a namespace of its
// own after including BlobReader.h.
//
// As in the hop kernels, everything here has internal linkage and calls no inline function or
// template of the shared headers beyond trivial accessors (`data()`): an out-of-line copy of
// such a function, compiled for AVX2 in one file, could be the one the linker keeps for every
// caller and run on a machine without AVX2.

namespace {

constexpr int bands = plane::bandCount;
constexpr int freqKnots = Blob::freqKnotCount;
constexpr int maxKnots = WarpInverse::maxKnots;

// The even mesh's frequency knot density that counts as silence (knots per band).
constexpr float freqThreshold = Blob::freqDensityThreshold;
// Rows sit every 8 frequency knots.
constexpr float perLine = 1.0f / Blob::knotsPerLine;
// Knot 48 during the amplitude search, just above the last band so the search always ends.
constexpr float searchTop = 80.001f;
// Smallest step between the frequency knots of a frame, in bands: the step a normalised
// frequency column never goes below (Blob::normalise), so at most about 16 knots per band.
constexpr float minKnotStep = 7.5f / Blob::freqKnotCount * 0.41176468f;

// std::max, std::min and std::clamp, with the same answers (NaN included).
inline float larger(float a, float b) noexcept {
    return a < b ? b : a;
}
inline float smaller(float a, float b) noexcept {
    return b < a ? b : a;
}
inline float clampTo(float v, float lo, float hi) noexcept {
    return v < lo ? lo : (hi < v ? hi : v);
}

// The terms of WarpInverse's curve in one segment of width w (wPrev and wNext are its
// neighbours').
// Slope of the inverse at the segment's far knot, matched to both neighbours.
inline float farSlope(float w, float wNext) noexcept {
    return (w * w + wNext * wNext) / (w * wNext * (w + wNext));
}
// How far the curve bends from a straight line: 0 when the neighbours are as wide.
inline float segmentBend(float wPrev, float w, float wNext) noexcept {
    const float t = (0.5f / wNext + 0.5f / wPrev) * w;
    return (t * t - 1.0f) * 0.2f;
}
// The numerator's rise across the segment, from its slopes p (near knot) and q (far knot).
inline float segmentRise(float p, float q, float d, float w) noexcept {
    return (q - (d + 1.0f) * p) / ((d + 2.0f) * w);
}
// The curve at x into the segment is numerator / denominator.
inline float segmentNumerator(float x, float p, float r, float w) noexcept {
    return (x * r + p) * w * w * x;
}
inline float segmentDenominator(float x, float d, float w) noexcept {
    return x * d * (w - x) + w * w;
}

// Frequency knots 0 .. 47 of a frame: line l's column position runs from row l's to row l+1's
// over its eight knots, and each knot is interpolated between the two columns around it and
// morphed between A and B. Within a line the eight knots are independent.
void interpolateKnots(const Blob& a, const Blob& b, float x, const float* __restrict rowColumn,
                      float* __restrict knots) noexcept {
    constexpr int lastColumnStart = Blob::freqColumnCount - 2;
    const float* __restrict warpsA = a.freqWarps.data()->data();
    const float* __restrict warpsB = b.freqWarps.data()->data();
    for (int l = 0; l < Blob::freqColumnCount; ++l) {
        const float low = rowColumn[l], high = rowColumn[l + 1];
        for (int j = 0; j < Blob::knotsPerLine; ++j) {
            const int k = Blob::knotsPerLine * l + j;
            const float jf = static_cast<float>(j) * perLine;
            const float col = (1.0f - jf) * low + jf * high;
            // The column below, kept within the columns: columns are never negative, so
            // truncation is the floor wherever it is used.
            const int c =
                !(col >= 0.0f) ? 0 : (col >= lastColumnStart ? lastColumnStart : static_cast<int>(col));
            const float cf = col - static_cast<float>(c);
            const int at = freqKnots * c + k;
            knots[k] = (1.0f - cf) * (x * warpsB[at] + (1.0f - x) * warpsA[at]) +
                       cf * (x * warpsB[at + freqKnots] + (1.0f - x) * warpsA[at + freqKnots]);
        }
    }
}

// Whether knots 1 .. last-1 each lie at least minKnotStep above the knot below and below
// the knot above, in the very comparisons keepKnotsInOrder makes (NaN fails both).
bool stepsKeepMinimum(const float* __restrict knots, int last) noexcept {
    int kept = 1;
    for (int k = 1; k < last; ++k)
        kept &= static_cast<int>(knots[k] >= knots[k - 1] + minKnotStep) &
                static_cast<int>(knots[k] <= knots[k + 1] - minKnotStep);
    return kept != 0;
}

// The knots of a frame are interpolated between columns that differ from row to row, and
// between A and B; where neighbouring knots come from very different column positions they
// can cross. A crossed or touching pair would read as a knot density of thousands per band
// (a click hundreds of times louder than the sound), so the knots are kept increasing by at
// least the step a normalised column keeps; steps that are already that wide (every step of
// an undeformed or unwarped mesh) are left as they are.
void keepKnotsInOrder(float* knots) noexcept {
    constexpr int last = freqKnots - 1;
    // The two passes below are chains from knot to knot; most frames need neither, and that
    // is checked knot by knot in parallel. When every step already passes both the forward
    // and the backward test, neither pass changes a knot.
    if (stepsKeepMinimum(knots, last)) return;
    for (int k = 1; k < last; ++k) knots[k] = larger(knots[k], knots[k - 1] + minKnotStep);
    for (int k = last - 1; k >= 1; --k) knots[k] = smaller(knots[k], knots[k + 1] - minKnotStep);
}

// How far a walk up the thresholds t[0 .. n) gets for each of the values first + i - shift
// (i in 0 .. count, computed as the callers compute them), moving on while the value reaches
// the next threshold; for rising thresholds, how many of them each value reaches.
//
// The walk is a branch per value and threshold that the processor mispredicts wherever the
// thresholds bunch. For rising thresholds the values being one apart gives the first value
// that reaches each threshold from its distance to the first value; rounding can put that one
// value off, which a comparison with its neighbours corrects. A running maximum over those
// first values then gives every count, without a branch. Other lists (out of order, NaN) take
// the walk.
void thresholdsReached(int first, int count, float shift, const float* __restrict t, int n,
                       int* __restrict reached) noexcept {
    constexpr int maxValues = bands + 1;
    count = count < 0 ? 0 : (count > maxValues ? maxValues : count);
    n = n < 0 ? 0 : (n > maxKnots ? maxKnots : n);
    if (count == 0) return;
    int rising = n == 0 || t[0] == t[0] ? 1 : 0;
    for (int j = 0; j + 1 < n; ++j) rising &= static_cast<int>(t[j] <= t[j + 1]);
    if (rising == 0) {
        int j = 0;
        for (int i = 0; i < count; ++i) {
            const float value = static_cast<float>(first + i) - shift;
            while (j < n && value >= t[j]) ++j;
            reached[i] = j;
        }
        return;
    }
    // The first value that reaches each threshold (count where none does), computed side by
    // side: the distance in values, kept where it converts (-1 .. count + 1) and rounded up,
    // then moved by one where the value below reaches the threshold too or the value there
    // does not.
    int firstAt[maxKnots];
    const float origin = static_cast<float>(first) - shift;
    const float beyond = static_cast<float>(count + 1);
    for (int j = 0; j < n; ++j) {
        const float distance = clampTo(t[j] - origin, -1.0f, beyond);
        const int whole = static_cast<int>(distance);
        int at = whole + static_cast<int>(static_cast<float>(whole) < distance);
        at = at < 0 ? 0 : (at > count ? count : at);
        const float below = static_cast<float>(first + at - 1) - shift;
        at -= static_cast<int>(at > 0) & static_cast<int>(below >= t[j]);
        const float here = static_cast<float>(first + at) - shift;
        firstAt[j] = at + (static_cast<int>(at < count) & static_cast<int>(!(here >= t[j])));
    }
    // lastReached[i]: 1 + the last threshold that value i is the first to reach, 0 if none;
    // entry count collects the thresholds no value reaches.
    // Padded to whole vectors of eight.
    constexpr int lanes = 8;
    int lastReached[maxValues + lanes] = {};
    for (int j = 0; j < n; ++j) lastReached[firstAt[j]] = j + 1;
#if defined(__AVX2__)
    // The running maximum eight values at a time: within a vector in three steps over copies
    // shifted by one, two and four lanes (the lanes shifted in repeat lane 0, which changes no
    // maximum), then with the maximum carried from the vectors before.
    const __m256i byOne = _mm256_setr_epi32(0, 0, 1, 2, 3, 4, 5, 6);
    const __m256i byTwo = _mm256_setr_epi32(0, 0, 0, 1, 2, 3, 4, 5);
    const __m256i byFour = _mm256_setr_epi32(0, 0, 0, 0, 0, 1, 2, 3);
    const __m256i lastLane = _mm256_set1_epi32(lanes - 1);
    int running[maxValues + lanes];
    __m256i carried = _mm256_setzero_si256();
    for (int i = 0; i < count; i += lanes) {
        __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lastReached + i));
        x = _mm256_max_epi32(x, _mm256_permutevar8x32_epi32(x, byOne));
        x = _mm256_max_epi32(x, _mm256_permutevar8x32_epi32(x, byTwo));
        x = _mm256_max_epi32(x, _mm256_permutevar8x32_epi32(x, byFour));
        x = _mm256_max_epi32(x, carried);
        carried = _mm256_permutevar8x32_epi32(x, lastLane);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(running + i), x);
    }
    std::memcpy(reached, running, sizeof(int) * static_cast<size_t>(count));
#else
    int passed = 0;
    for (int i = 0; i < count; ++i) {
        passed = passed < lastReached[i] ? lastReached[i] : passed;
        reached[i] = passed;
    }
#endif
}

// WarpInverse's curve over a list of knots: per segment its terms, where it starts and the
// index there, and where it ends (the walk's thresholds).
struct InverseCurve {
    // Segment j here is evaluate's segment j - 1: segment 0 lies before knot 0 with the first
    // knot's width, and the segments past the last knot repeat the last width.
    static constexpr int segments = maxKnots + 1;
    float width[segments + 1];
    float slope[segments], startSlope[segments], bend[segments], rise[segments], start[segments],
        base[segments], end[segments];
};

// The curve of knots[0 .. n) (n already within 2 .. maxKnots). Widths are floored just above
// zero, so touching knots divide by no zero.
void inverseCurve(const float* knots, int n, InverseCurve& c) noexcept {
    for (int j = 0; j <= n; ++j) {
        const int below = j - 1 < 0 ? 0 : j - 1;
        const int k = below < n - 2 ? below : n - 2;
        c.width[j] = larger(knots[k + 1] - knots[k], 1e-9f);
    }
    c.width[n + 1] = c.width[n];
    // Segment -1 lies before knot 0 and has no curve; the others take their slopes, bend and
    // rise from their own and their neighbours' widths (all independent, so computed side by
    // side).
    c.slope[0] = 1.0f / c.width[0];
    c.startSlope[0] = 0.0f;
    c.bend[0] = 0.0f;
    c.rise[0] = 0.0f;
    for (int j = 1; j <= n; ++j) c.slope[j] = farSlope(c.width[j], c.width[j + 1]);
    for (int j = 1; j <= n; ++j) {
        c.startSlope[j] = c.slope[j - 1];
        c.bend[j] = segmentBend(c.width[j - 1], c.width[j], c.width[j + 1]);
        c.rise[j] = segmentRise(c.startSlope[j], c.slope[j], c.bend[j], c.width[j]);
    }
    // Where each segment starts and the index there: sums along the list, in evaluate's order.
    c.start[0] = -c.width[0];
    c.base[0] = 0.0f;
    for (int j = 1; j <= n; ++j) {
        c.start[j] = c.start[j - 1] + c.width[j - 1];
        c.base[j] = c.base[j - 1] + (c.width[j - 1] * c.rise[j - 1] + c.startSlope[j - 1]) * c.width[j - 1];
    }
    for (int j = 0; j < n; ++j) c.end[j] = c.start[j] + c.width[j];
}

// The curve at the values s[0 .. count), each in its segment.
void evaluateCurve(const InverseCurve& c, float first, const float* __restrict s, int count,
                   const int* __restrict segment, float* __restrict out) noexcept {
    for (int v = 0; v < count; ++v) {
        const int j = segment[v];
        const float x = s[v] - c.start[j];
        const float w = c.width[j];
        const float num = segmentNumerator(x, c.startSlope[j], c.rise[j], w);
        const float den = segmentDenominator(x, c.bend[j], w);
        const float index = c.base[j] + num / den;
        out[v] = s[v] < first ? 0.0f : index;
    }
}

// WarpInverse::evaluateRising: the fractional knot index at each of the rising values s.
void evaluateRising(const float* knots, int n, const float* s, int count, float* out) noexcept {
    n = n < 2 ? 2 : (n > maxKnots ? maxKnots : n);
    InverseCurve curve;
    inverseCurve(knots, n, curve);
    // Each value's segment, by the walk evaluate makes.
    constexpr int maxValues = bands + 1;
    count = count < maxValues ? count : maxValues;
    int segment[maxValues];
    int j = 0;
    for (int v = 0; v < count; ++v) {
        while (j < n && s[v] >= curve.end[j]) ++j;
        segment[v] = j;
    }
    evaluateCurve(curve, knots[0], s, count, segment, out);
}

// For each band in low .. top-1 at position y = band - shift: the knot segment it lies in,
// the segment's lower knot and its width: where a walk upwards from knot 0 ends, the first
// knot above y; knot 48 lies above the last band, so the walk ends there at the latest.
void findSegments(const float* knots, int low, int top, float shift, float* __restrict segment,
                  float* __restrict from, float* __restrict width) noexcept {
    int passed[bands];
    thresholdsReached(low, top - low, shift, knots + 1, freqKnots, passed);
    for (int band = low; band < top; ++band) {
        const int k = passed[band - low];
        segment[band] = static_cast<float>(k);
        from[band] = knots[k];
        width[band] = knots[k + 1] - knots[k];
    }
}

// Each band's position between the rows (rows sit every 8 knots), split into the row below,
// -1 .. 7, and the fraction towards the next.
void rowPositions(int low, int top, float shift, const float* __restrict segment,
                  const float* __restrict from, const float* __restrict width, int* __restrict row,
                  float* __restrict rowFrac) noexcept {
    constexpr float lowestRow = -1.0f;
    for (int band = low; band < top; ++band) {
        const float y = static_cast<float>(band) - shift;
        // The division is taken for every band and dropped where the width is not positive, so
        // the loop has no branch.
        const float quotient = (y - from[band]) / width[band];
        const float within = width[band] > 0.0f ? quotient : 0.0f;
        const float rowPos =
            clampTo((within + segment[band]) * perLine, lowestRow, static_cast<float>(BlobReader::rowCount));
        // floor(rowPos), in one instruction where the processor has it (SSE4.1, part of AVX2),
        // else without the library call; a NaN position reads row -1 (silent).
        const float safe = rowPos >= lowestRow ? rowPos : lowestRow;
#if defined(__SSE4_1__)
        const float whole = __builtin_floorf(safe);
#else
        const float truncated = static_cast<float>(static_cast<int>(safe));
        const float whole = truncated > safe ? truncated - 1.0f : truncated;
#endif
        row[band] = static_cast<int>(whole);
        rowFrac[band] = rowPos - whole;
    }
}

// Positive contrast (0 .. 1): pushes weak components towards 0 and keeps strong ones.
void raiseContrast(float* __restrict out, int low, int top, float c) noexcept {
    for (int band = low; band < top; ++band) {
        const float v = out[band];
        const float d = larger(v - 0.1f * c, 0.0f);
        out[band] = v + c * ((0.1f * d + 1.0f) * d * d / ((0.4f * d + 0.4f) * d + 0.15f) - v);
    }
}

// Negative contrast (-1 .. 0): lifts weak components.
void lowerContrast(float* __restrict out, int low, int top, float c) noexcept {
    const float keep = 1.0f + c;
    const float lift = -0.2f * c;
    const float knee = (0.1f + 0.08f * c) * (0.1f + 0.08f * c);
    for (int band = low; band < top; ++band) {
        const float v = out[band];
        out[band] = (v * lift / (v * v + knee) + keep) * v;
    }
}

// Amplitudes to powers, after the loudness gain (and the velocity model's band gain).
void scaleAndSquare(float* __restrict out, int low, int top, float gain) noexcept {
    for (int band = low; band < top; ++band) {
        const float v = out[band] * gain;
        out[band] = v * v;
    }
}
void scaleAndSquare(float* __restrict out, int low, int top, float gain,
                    const float* __restrict bandGain) noexcept {
    for (int band = low; band < top; ++band) {
        const float v = out[band] * gain * bandGain[band];
        out[band] = v * v;
    }
}

// From the frame's frequency knots (knots 0 .. 47 set, the rest written here) to its band
// powers.
void frameBands(const FrameBandInputs& in, float* __restrict knots, float* __restrict out) noexcept {
    const int low = in.low, top = in.top;
    const float shift = in.shift;
    keepKnotsInOrder(knots);

    // Frequency density: knots per band, read through the inverse of the knot positions at
    // the bands' edges.
    float edges[bands + 1], edgeKnots[bands + 1], density[bands];
    const int edgeCount = top - low + 1;
    for (int e = 0; e < edgeCount; ++e) edges[e] = static_cast<float>(low + e) - shift;
    InverseCurve curve;
    inverseCurve(knots, maxKnots, curve);
    int edgeSegment[bands + 1];
    thresholdsReached(low, edgeCount, shift, curve.end, maxKnots, edgeSegment);
    evaluateCurve(curve, knots[0], edges, edgeCount, edgeSegment, edgeKnots);
    for (int band = low; band < top; ++band)
        density[band] = edgeKnots[band - low + 1] - edgeKnots[band - low];

    // Amplitude: frequency density above its threshold times the time speed of the rows
    // around the band, band by band in parallel over the scratch arrays below.
    knots[freqKnots - 1] = searchTop;
    float segment[bands], from[bands], width[bands], rowFrac[bands];
    int row[bands];
    findSegments(knots, low, top, shift, segment, from, width);
    rowPositions(low, top, shift, segment, from, width, row, rowFrac);
    // The speeds of rows -1 .. 8; those outside the plane's rows read as silent. Padded to two
    // vectors of eight.
    constexpr int speedSlots = 16;
    static_assert(BlobReader::rowCount + 3 <= speedSlots, "rows -1 .. 8 fit two vectors");
    float speeds[speedSlots] = {};
    for (int l = 0; l < BlobReader::rowCount; ++l) speeds[l + 1] = in.rowSpeed[l];
    int first = low;
#if defined(__AVX2__)
    // Eight bands at a time, their rows' speeds picked from the two vectors by permutation
    // (the same values and operations as below, so the same result).
    const __m256 speedsLow = _mm256_loadu_ps(speeds), speedsHigh = _mm256_loadu_ps(speeds + 8);
    const __m256i one = _mm256_set1_epi32(1), lastLow = _mm256_set1_epi32(7);
    const auto speedAt = [&](__m256i slot) {
        return _mm256_blendv_ps(_mm256_permutevar8x32_ps(speedsLow, slot),
                                _mm256_permutevar8x32_ps(speedsHigh, slot),
                                _mm256_castsi256_ps(_mm256_cmpgt_epi32(slot, lastLow)));
    };
    for (; first + 8 <= top; first += 8) {
        const __m256i below =
            _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + first)), one);
        const __m256 mf = _mm256_loadu_ps(rowFrac + first);
        const __m256 between =
            _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(_mm256_set1_ps(1.0f), mf), speedAt(below)),
                          _mm256_mul_ps(mf, speedAt(_mm256_add_epi32(below, one))));
        // larger(density - threshold, 0): the maximum instruction returns its second operand
        // where either is NaN, as larger does.
        const __m256 dense =
            _mm256_max_ps(_mm256_setzero_ps(),
                          _mm256_sub_ps(_mm256_loadu_ps(density + first), _mm256_set1_ps(freqThreshold)));
        _mm256_storeu_ps(out + first, _mm256_mul_ps(dense, between));
    }
#endif
    for (int band = first; band < top; ++band) {
        const float* speed = speeds + 1 + row[band];
        const float mf = rowFrac[band];
        out[band] = larger(density[band] - freqThreshold, 0.0f) * ((1.0f - mf) * speed[0] + mf * speed[1]);
    }

    const float c = in.contrast;
    if (c > 0.0f)
        raiseContrast(out, low, top, c);
    else if (c < 0.0f)
        lowerContrast(out, low, top, c);

    if (in.bandGain != nullptr)
        scaleAndSquare(out, low, top, in.gain, in.bandGain);
    else
        scaleAndSquare(out, low, top, in.gain);
    // Bands shifted in from outside the plane.
    for (int band = 0; band < low; ++band) out[band] = 0.0f;
    for (int band = top; band < bands; ++band) out[band] = 0.0f;
}

} // namespace

extern const FrameKernels readerKernels;
const FrameKernels readerKernels{interpolateKnots, frameBands, evaluateRising, thresholdsReached};
