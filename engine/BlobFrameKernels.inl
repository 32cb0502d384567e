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

// WarpInverse::evaluateRising: the fractional knot index at each of the rising values s.
void evaluateRising(const float* knots, int n, const float* s, int count, float* out) noexcept {
    n = n < 2 ? 2 : (n > maxKnots ? maxKnots : n);
    // Segment j here is evaluate's segment j - 1: segment 0 lies before knot 0 with the first
    // knot's width, and the segments past the last knot repeat the last width. Widths are
    // floored just above zero, so touching knots divide by no zero.
    constexpr int segments = maxKnots + 1;
    float width[segments + 1];
    for (int j = 0; j <= n; ++j) {
        const int below = j - 1 < 0 ? 0 : j - 1;
        const int k = below < n - 2 ? below : n - 2;
        width[j] = larger(knots[k + 1] - knots[k], 1e-9f);
    }
    width[n + 1] = width[n];
    // Segment -1 lies before knot 0 and has no curve; the others take their slopes, bend and
    // rise from their own and their neighbours' widths (all independent, so computed side by
    // side).
    float slope[segments], startSlope[segments], bend[segments], rise[segments], start[segments],
        base[segments];
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
    constexpr int maxValues = bands + 1;
    count = count < maxValues ? count : maxValues;
    float x[maxValues], w[maxValues], p[maxValues], r[maxValues], d[maxValues], b[maxValues];
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

// For each band in low .. top-1 at position y = band - shift: the knot segment it lies in,
// the segment's lower knot and its width. y grows with the band, so the segment is found by
// one walk upwards; knot 48 lies above the last band and the walk ends there.
void findSegments(const float* knots, int low, int top, float shift, float* __restrict segment,
                  float* __restrict from, float* __restrict width) noexcept {
    int k = 0;
    for (int band = low; band < top; ++band) {
        const float y = static_cast<float>(band) - shift;
        while (k < freqKnots && y >= knots[k + 1]) ++k;
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
    evaluateRising(knots, maxKnots, edges, edgeCount, edgeKnots);
    for (int band = low; band < top; ++band)
        density[band] = edgeKnots[band - low + 1] - edgeKnots[band - low];

    // Amplitude: frequency density above its threshold times the time speed of the rows
    // around the band. The search for each band's segment is a walk; the rest runs band by
    // band in parallel, over the scratch arrays below.
    knots[freqKnots - 1] = searchTop;
    float segment[bands], from[bands], width[bands], rowFrac[bands];
    int row[bands];
    findSegments(knots, low, top, shift, segment, from, width);
    rowPositions(low, top, shift, segment, from, width, row, rowFrac);
    // The speeds of rows -1 .. 8; those outside the plane's rows read as silent.
    float speeds[BlobReader::rowCount + 3] = {};
    for (int l = 0; l < BlobReader::rowCount; ++l) speeds[l + 1] = in.rowSpeed[l];
    for (int band = low; band < top; ++band) {
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
const FrameKernels readerKernels{interpolateKnots, frameBands, evaluateRising};
