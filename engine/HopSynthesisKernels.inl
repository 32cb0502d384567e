// The hop kernels' bodies, compiled once for every vector path (HopSynthesis.cpp for the
// baseline, HopSynthesisAvx2.cpp for AVX2). Each includes this inside a namespace of its own
// after including HopSynthesis.h, <cmath> and <cstring>.
//
// Everything here has internal linkage and calls, of the shared headers' inline functions and
// templates, only trivial accessors that the optimiser always inlines (`data()`), nothing
// like std::max or std::copy: an out-of-line copy of such a function, compiled for AVX2 in
// one file, could be the one the linker keeps for every caller and run on a machine without
// AVX2.

namespace {

// Band pairs the classifier covers; band 79 borrows pair 78's values.
constexpr int pairCount = frameBands - 1;
// Keeps divisions finite on silent frames.
constexpr float tiny = 1e-30f;

// std::max and std::min, with the same answers (NaN included).
inline float larger(float a, float b) noexcept {
    return a < b ? b : a;
}
inline float smaller(float a, float b) noexcept {
    return b < a ? b : a;
}

// Frequency-shape bias per band: low bands lean tonal, high bands lean noisy; 0 from band
// 48 on. Every table covers all band pairs, so the feature loop runs without branches.
constexpr float biasF[pairCount] = {
    0.6871f,  0.68092f, 0.67442f, 0.66758f, 0.66038f, 0.65282f, 0.64488f, 0.63653f, 0.62777f, 0.61858f,
    0.60893f, 0.59881f, 0.58821f, 0.57711f, 0.56549f, 0.55334f, 0.54064f, 0.52737f, 0.51352f, 0.49909f,
    0.48405f, 0.46841f, 0.45215f, 0.43528f, 0.4178f,  0.39971f, 0.38102f, 0.36175f, 0.34193f, 0.32158f,
    0.30075f, 0.27949f, 0.25786f, 0.23595f, 0.21385f, 0.19166f, 0.16953f, 0.14762f, 0.1261f,  0.1052f,
    0.08516f, 0.06628f, 0.04889f, 0.03338f, 0.02019f, 0.00984f, 0.0029f,  0.00003f,
};

// Phase-step scale per band, times the -1/4 turn of the step formula; 1 from band 44 on.
constexpr int scalePCount = 44;
constexpr float scalePValues[scalePCount] = {
    4.87602f, 4.77611f, 4.67275f, 4.56596f, 4.4558f,  4.34234f, 4.22566f, 4.10589f, 3.98319f,
    3.85773f, 3.72974f, 3.59948f, 3.46725f, 3.33338f, 3.19825f, 3.0623f,  2.926f,   2.78985f,
    2.65442f, 2.52031f, 2.38815f, 2.25861f, 2.13239f, 2.01019f, 1.89273f, 1.78072f, 1.67484f,
    1.57574f, 1.48401f, 1.40016f, 1.32459f, 1.2576f,  1.1993f,  1.14967f, 1.10851f, 1.07539f,
    1.04973f, 1.03074f, 1.01748f, 1.0089f,  1.00388f, 1.00135f, 1.00032f, 1.00004f,
};

// The per-pair scales: time shape (158.23584 * 0.8949808^k up to band 45, then 1) and phase
// step (the table above, then 1).
struct PairScales {
    float time[pairCount];
    float phase[pairCount];
    PairScales() {
        for (int k = 0; k < pairCount; ++k) {
            time[k] = k <= 45 ? static_cast<float>(158.23584 * std::pow(0.8949808, k)) : 1.0f;
            phase[k] = k < scalePCount ? scalePValues[k] : 1.0f;
        }
    }
};
const PairScales pairScales;

// Largest float with a fractional part; every float of this size or more is an integer.
constexpr float integralFrom = 8388608.0f;

// x - floor(x), the same value as with std::floor (NaN and infinities give NaN). Where the
// processor rounds down in one instruction (SSE4.1, part of AVX2) that is used; elsewhere it
// is written without the library call so that the per-bin loops vectorise.
inline float fraction(float x) noexcept {
#if defined(__SSE4_1__)
    return x - __builtin_floorf(x);
#else
    const bool small = std::fabs(x) < integralFrom;
    // Only values that fit are converted, so the conversion can run unconditionally.
    const float t = static_cast<float>(static_cast<int32_t>(small ? x : 0.0f));
    return x - (small ? (t > x ? t - 1.0f : t) : x);
#endif
}

// The unit phasor of a fraction of a turn w in [0, 1) from the engine's polynomial, as real
// and imaginary part; its magnitude is close to, but not exactly, 1.
inline void phasorOfTurn(float w, float& re, float& im) noexcept {
    const float x = 4.0f * w * (1.0f - w);
    const float x2 = x * x;
    re = 1.0f - (0.5268947f * x2 + 1.4731053f) * x2;
    im = ((1.2080399f * x + 1.7851804f) * x + 3.320247f) * (0.5f - w) * x;
}

// Interleaved real and imaginary parts of a complex array (std::complex is laid out so).
inline float* parts(Complex* z) noexcept {
    return reinterpret_cast<float*>(z);
}
inline const float* parts(const Complex* z) noexcept {
    return reinterpret_cast<const float*>(z);
}

// Per-bin targets of the resonator bands: amplitude, noise share, tonal and coupling weights,
// frequency and phase-step phasor. The arrays never overlap (restrict lets the loop vectorise).
void bandTargets(int n, const HopFeatures& __restrict f, const float* __restrict M, float denAbs,
                 float denFloor, float* __restrict amp, float* __restrict noiseFrac,
                 float* __restrict tonalWeight, float* __restrict couplingWeight, float* __restrict freqEst,
                 float* __restrict stepPhasor) noexcept {
    for (int b = 0; b < n; ++b) {
        amp[b] = M[b + 1];
        noiseFrac[b] = denAbs * f.tonal[b] + denFloor;
        const float ta = larger(f.toneF[b] + 0.3f, 0.2f);
        const float te = larger(f.toneT[b] + 0.4f, 0.2f);
        tonalWeight[b] = ta * ta;
        couplingWeight[b] = te * te;
        freqEst[b] = f.freq[b];
        phasorOfTurn(fraction(f.step[b]), stepPhasor[2 * b], stepPhasor[2 * b + 1]);
    }
}

// Copies the values of extra bins first .. last-1's two bands next to each other, bin by bin.
// This is the only indexed read of the extra bins; it moves values and computes nothing.
void spreadBands(int first, int last, const ExtraBin* __restrict links, const HopFeatures& __restrict f,
                 const float* __restrict M, ExtraBinBands& __restrict out) noexcept {
    for (int e = first; e < last; ++e) {
        const int b0 = links[e].band, b1 = links[e].band + 1;
        out.power.low[e] = M[b0 + 1];
        out.power.high[e] = M[b1 + 1];
        out.toneF.low[e] = f.toneF[b0];
        out.toneF.high[e] = f.toneF[b1];
        out.toneT.low[e] = f.toneT[b0];
        out.toneT.high[e] = f.toneT[b1];
        out.tonal.low[e] = f.tonal[b0];
        out.tonal.high[e] = f.tonal[b1];
        out.freq.low[e] = f.freq[b0];
        out.freq.high[e] = f.freq[b1];
        out.step.low[e] = f.step[b0];
        out.step.high[e] = f.step[b1];
    }
}

#if defined(__AVX2__)
// One band list spread onto a group of extra bins: two loads from the group's band, one for
// the lower bands and one for the bands above them, each permuted to the bins.
inline void spreadGroup(const float* __restrict values, __m256i offsets, float* __restrict low,
                        float* __restrict high) noexcept {
    _mm256_storeu_ps(low, _mm256_permutevar8x32_ps(_mm256_loadu_ps(values), offsets));
    _mm256_storeu_ps(high, _mm256_permutevar8x32_ps(_mm256_loadu_ps(values + 1), offsets));
}
#endif

// spreadBands for every extra bin. Where a group's bands lie within eight of each other, the
// AVX2 path moves the group's values with vector loads and permutations instead of one by
// one (a group may write bins past the last, which nothing reads).
void spreadAllBands(const EngineTables& t, const HopFeatures& __restrict f, const float* __restrict M,
                    ExtraBinBands& __restrict out) noexcept {
    const ExtraBin* links = t.extraBins.data();
#if defined(__AVX2__)
    static_assert(EngineTables::extraGroupSize == 8, "a group fills one AVX2 vector");
    constexpr int size = EngineTables::extraGroupSize;
    for (int first = 0; first < t.extraCount; first += size) {
        const int from = t.extraGroupBand[static_cast<size_t>(first / size)];
        if (from < 0) {
            spreadBands(first, first + size < t.extraCount ? first + size : t.extraCount, links, f, M, out);
            continue;
        }
        const __m256i offsets =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.extraBandInGroup.data() + first));
        spreadGroup(M + 1 + from, offsets, out.power.low + first, out.power.high + first);
        spreadGroup(f.toneF + from, offsets, out.toneF.low + first, out.toneF.high + first);
        spreadGroup(f.toneT + from, offsets, out.toneT.low + first, out.toneT.high + first);
        spreadGroup(f.tonal + from, offsets, out.tonal.low + first, out.tonal.high + first);
        spreadGroup(f.freq + from, offsets, out.freq.low + first, out.freq.high + first);
        spreadGroup(f.step + from, offsets, out.step.low + first, out.step.high + first);
    }
#else
    spreadBands(0, t.extraCount, links, f, M, out);
#endif
}

// Per-bin targets of the extra bins from their spread band values: the bin's own amplitude,
// the share of it to relocate, noise share, tonal and coupling weights, frequency and
// phase-step phasor. firstBin is the FFT bin of extra bin 0.
void extraBinTargets(int n, int firstBin, const ExtraBin* __restrict links, const ExtraBinBands& __restrict v,
                     float denAbs, float denFloor, float* __restrict ownAmp, float* __restrict moveShare,
                     float* __restrict noiseFrac, float* __restrict tonalWeight,
                     float* __restrict couplingWeight, float* __restrict freqEst,
                     float* __restrict stepPhasor) noexcept {
    for (int e = 0; e < n; ++e) {
        const float w0 = links[e].w0, w1 = links[e].w1;
        ownAmp[e] = (w0 * v.power.low[e] + w1 * v.power.high[e]) * links[e].gain;
        const float sF = w1 * v.toneF.high[e] + w0 * v.toneF.low[e];
        const float freq = w1 * v.freq.high[e] + w0 * v.freq.low[e];
        const float ta = larger(sF + 0.3f, 0.2f);
        const float te = larger(w1 * v.toneT.high[e] + w0 * v.toneT.low[e] + 0.4f, 0.2f);
        tonalWeight[e] = ta * ta;
        couplingWeight[e] = te * te;
        freqEst[e] = freq;
        const float binTurns = static_cast<float>(firstBin + e) * 0.25f;
        moveShare[e] =
            smaller(larger((std::fabs(freq - binTurns) - 0.4f) * 5.0f, 0.0f) * larger(sF, 0.0f), 1.0f);
        noiseFrac[e] = (w1 * v.tonal.high[e] + w0 * v.tonal.low[e]) * denAbs + denFloor;
        phasorOfTurn(fraction(w1 * v.step.high[e] + w0 * v.step.low[e]), stepPhasor[2 * e],
                     stepPhasor[2 * e + 1]);
    }
}

// Tonal prediction: advances each bin's state by the phasor of its estimated frequency. A bin
// whose state has died carries no tonal weight; the state is kept off exact zero.
void predictTonal(int n, const float* __restrict freqEst, const float* __restrict stepPhasor,
                  float* __restrict state, float* __restrict tonalWeight,
                  float* __restrict phasorPower) noexcept {
    for (int j = 0; j < n; ++j) {
        float pr, pi;
        phasorOfTurn(fraction(freqEst[j]), pr, pi);
        const float sr = state[2 * j], si = state[2 * j + 1];
        const float re = sr * pr - si * pi;
        const float im = sr * pi + si * pr;
        tonalWeight[j] *= smaller((re * re + im * im) * 1e20f + 0.001f, 1.0f);
        state[2 * j] = re + 1e-30f;
        state[2 * j + 1] = im + 1e-10f;
        phasorPower[j] =
            stepPhasor[2 * j] * stepPhasor[2 * j] + stepPhasor[2 * j + 1] * stepPhasor[2 * j + 1];
    }
}

// Scales each bin's solved state to its target amplitude and adds its noise share.
void mixAmplitudeAndNoise(int n, const float* __restrict amp, const float* __restrict noiseFrac,
                          const float* __restrict noiseState, float tonalShare,
                          float* __restrict state) noexcept {
    for (int j = 0; j < n; ++j) {
        const float na = amp[j] * noiseFrac[j];
        const float sr = state[2 * j], si = state[2 * j + 1];
        const float gg = (na + amp[j]) * tonalShare / (std::sqrt(sr * sr + si * si) + na + tiny);
        state[2 * j] = gg * sr + na * noiseState[2 * j];
        state[2 * j + 1] = gg * si + na * noiseState[2 * j + 1];
    }
}

void hopFeatures(const float* __restrict O, const float* __restrict M, const float* __restrict N,
                 const std::array<std::array<float, 3>, frameBands>& freqPoly,
                 HopFeatures& __restrict out) noexcept {
    // Guarded frames: band k sits at index k + 1, the low guard stands in for band -1.
    const float(*poly)[3] = reinterpret_cast<const float(*)[3]>(freqPoly.data());
    // No band's tone goes below the lowest band's centre: a frame whose low bands fall off
    // upwards moves band 0's peak below it, to 10 Hz and under, where nothing can be heard.
    const float lowestFreq = poly[0][0];
    for (int k = 0; k < pairCount; ++k) {
        const float lo = O[k] + M[k];
        const float c = O[k + 1] + M[k + 1];
        const float hi = O[k + 2] + M[k + 2];
        const float delta = (hi - lo) / ((hi + lo) * 0.4249418f + c * 1.026078f + tiny);
        float s = lo + c + hi + tiny;
        float pk = c / s;
        float as = std::fabs(lo - hi) / s;
        const float bias = biasF[k];
        const float toneF = larger(
            (pk * pk - 0.112f) * 3.0308092f + (pk - 0.333f) * 3.8979936f + as * as * 2.8152032f + bias, 0.0f);

        const float o = O[k + 1] + O[k + 2];
        const float mm = M[k + 1] + M[k + 2];
        const float nn = N[k + 1] + N[k + 2];
        s = o + mm + nn + tiny;
        pk = mm / s;
        as = std::fabs(o - nn) / s;
        const float toneT =
            larger(((pk * pk - 0.112f) * 1.8380917f + (pk - 0.333f) * 3.5223093f + as * as * 2.5911577f) *
                       pairScales.time[k],
                   0.0f);

        out.toneF[k] = toneF;
        out.toneT[k] = toneT;
        out.tonal[k] = smaller(toneF + toneT, 1.0f);
        out.freq[k] = larger(poly[k][0] + poly[k][1] * delta + poly[k][2] * delta * delta, lowestFreq);
        out.step[k] =
            ((nn - o) / ((nn + o) * 0.51741993f + mm * 1.1453495f + tiny)) * pairScales.phase[k] * -0.25f;
    }
    out.toneF[pairCount] = out.toneF[pairCount - 1];
    out.toneT[pairCount] = out.toneT[pairCount - 1];
    out.tonal[pairCount] = out.tonal[pairCount - 1];
    out.freq[pairCount] = poly[pairCount][0];
    out.step[pairCount] = 0.0f;
}

void prepareHop(const EngineTables& t, const HopFeatures& f, const float* M, float den, bool firstHop,
                VoiceBins voice, HopWork w) noexcept {
    const int bandCount = t.bandCount;
    const int binCount = t.bandCount + t.extraCount;
    float* state = parts(voice.binState);
    float* noiseState = parts(voice.noiseState);
    float* stepPhasor = parts(w.stepPhasor);

    // Noise generator: a fresh window into the shared table every hop.
    *voice.seed = *voice.seed * 1664525u + 1013904223u;
    const float* noise =
        parts(noiseTable.data() + *voice.seed % static_cast<uint32_t>(t.noiseStarts));

    // Noise resonators: damped rotations for the band bins, fresh noise for the extra bins.
    if (firstHop) {
        std::memcpy(noiseState, parts(t.initialSpectrum.data()),
                    sizeof(Complex) * static_cast<size_t>(binCount));
    } else {
        const float* rot = parts(t.rot.data());
        const float* drive = t.drive.data();
        for (int b = 0; b < bandCount; ++b) {
            const float rr = rot[2 * b], ri = rot[2 * b + 1];
            const float sr = noiseState[2 * b], si = noiseState[2 * b + 1];
            noiseState[2 * b] = (rr * sr - ri * si) + drive[b] * noise[2 * b];
            noiseState[2 * b + 1] = (rr * si + ri * sr) + drive[b] * noise[2 * b + 1];
        }
        std::memcpy(noiseState + 2 * bandCount, noise + 2 * bandCount,
                    sizeof(Complex) * static_cast<size_t>(binCount - bandCount));
    }

    const float denFloor = smaller(den, 0.0f) + 1.0f;
    const float denAbs = std::fabs(den) - 1.0f;
    bandTargets(bandCount, f, M, denAbs, denFloor, w.amp, w.noiseFrac, w.tonalWeight, w.couplingWeight,
                w.freqEst, stepPhasor);

    // Extra bins interpolate their two bands; energy far from the bin's own frequency is
    // relocated to the bins nearest the estimated frequency. The per-bin values are computed
    // first; until the prediction below needs them, solverScratch holds each extra bin's own
    // amplitude and phasorPower the share of it to relocate.
    float* ownAmp = w.solverScratch;
    float* moveShare = w.phasorPower;
    const ExtraBin* links = t.extraBins.data();
    spreadAllBands(t, f, M, *w.extraBands);
    extraBinTargets(t.extraCount, t.firstExtraBin, links, *w.extraBands, denAbs, denFloor, ownAmp + bandCount,
                    moveShare + bandCount, w.noiseFrac + bandCount, w.tonalWeight + bandCount,
                    w.couplingWeight + bandCount, w.freqEst + bandCount, stepPhasor + 2 * bandCount);
    // Relocation, in bin order, so that every amplitude sums its parts in the same order.
    std::memset(w.amp + bandCount, 0, sizeof(float) * static_cast<size_t>(binCount - bandCount));
    const float extraTop = static_cast<float>(t.extraCount) - 1.001f;
    const float firstTurns = static_cast<float>(t.firstExtraBin) * 0.25f;
    for (int j = bandCount; j < binCount; ++j) {
        float amp = ownAmp[j];
        if (moveShare[j] > 1e-9f) {
            const float moved = moveShare[j] * amp;
            amp -= moved;
            const float q =
                smaller(larger((w.freqEst[j] - firstTurns) * 4.0f, 0.0f), extraTop) + static_cast<float>(bandCount);
            const int i = static_cast<int>(q);
            const float fr = q - static_cast<float>(i);
            w.amp[i] += (1.0f - fr) * moved;
            w.amp[i + 1] += fr * moved;
        }
        w.amp[j] += amp;
    }

    predictTonal(binCount, w.freqEst, stepPhasor, state, w.tonalWeight, w.phasorPower);
}

void finishHop(int binCount, float den, const float* amp, const float* noiseFrac, VoiceBins voice) noexcept {
    const float dense = larger(den, 0.0f);
    const float tonalShare = std::sqrt(1.0f - dense * dense);
    mixAmplitudeAndNoise(binCount, amp, noiseFrac, parts(voice.noiseState), tonalShare,
                         parts(voice.binState));
}

// The lanes' operands of bins from .. n-1, one value at a time.
void loadLanesFrom(int from, int n, const LaneOperands* voices, LaneSolve& S) noexcept {
    for (int l = 0; l < solveLanes; ++l) {
        const LaneOperands& v = voices[l];
        const float* P = parts(v.stepPhasor);
        const float* y = parts(v.state);
        for (int j = from; j < n; ++j) {
            S.a[j][l] = v.tonalWeight[j];
            S.e[j][l] = v.couplingWeight[j];
            S.phasorRe[j][l] = P[2 * j];
            S.phasorIm[j][l] = P[2 * j + 1];
            S.yRe[j][l] = y[2 * j];
            S.yIm[j][l] = y[2 * j + 1];
        }
    }
}

void storeLanesFrom(int from, int n, const LaneOperands* voices, const LaneSolve& S) noexcept {
    for (int l = 0; l < solveLanes; ++l) {
        float* y = parts(voices[l].state);
        for (int j = from; j < n; ++j) {
            y[2 * j] = S.yRe[j][l];
            y[2 * j + 1] = S.yIm[j][l];
        }
    }
}

#if defined(__AVX2__)
static_assert(solveLanes == 8, "the lane copies transpose eight by eight");

// Transposes eight rows of eight floats: row k of the result holds entry k of every row.
inline void transpose8(__m256& r0, __m256& r1, __m256& r2, __m256& r3, __m256& r4, __m256& r5, __m256& r6,
                       __m256& r7) noexcept {
    const __m256 t0 = _mm256_unpacklo_ps(r0, r1), t1 = _mm256_unpackhi_ps(r0, r1);
    const __m256 t2 = _mm256_unpacklo_ps(r2, r3), t3 = _mm256_unpackhi_ps(r2, r3);
    const __m256 t4 = _mm256_unpacklo_ps(r4, r5), t5 = _mm256_unpackhi_ps(r4, r5);
    const __m256 t6 = _mm256_unpacklo_ps(r6, r7), t7 = _mm256_unpackhi_ps(r6, r7);
    const __m256 u0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 u2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 u4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 u6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
    r0 = _mm256_permute2f128_ps(u0, u4, 0x20);
    r1 = _mm256_permute2f128_ps(u1, u5, 0x20);
    r2 = _mm256_permute2f128_ps(u2, u6, 0x20);
    r3 = _mm256_permute2f128_ps(u3, u7, 0x20);
    r4 = _mm256_permute2f128_ps(u0, u4, 0x31);
    r5 = _mm256_permute2f128_ps(u1, u5, 0x31);
    r6 = _mm256_permute2f128_ps(u2, u6, 0x31);
    r7 = _mm256_permute2f128_ps(u3, u7, 0x31);
}

// Eight bins from `at` of eight lanes' arrays (one array per lane) into rows at .. at+7.
inline void loadRows(const float* const* lanes, int at, LaneSolve::Row* rows) noexcept {
    __m256 r[solveLanes];
    for (int l = 0; l < solveLanes; ++l) r[l] = _mm256_loadu_ps(lanes[l] + at);
    transpose8(r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
    for (int k = 0; k < solveLanes; ++k) _mm256_store_ps(rows[at + k], r[k]);
}

// Eight complex bins from `at` of eight lanes' interleaved arrays, split into real and
// imaginary parts (bins in order: the 128-bit halves are put back in place).
inline void splitParts(const Complex* z, int at, __m256& re, __m256& im) noexcept {
    const __m256 low = _mm256_loadu_ps(parts(z) + 2 * at);
    const __m256 high = _mm256_loadu_ps(parts(z) + 2 * at + solveLanes);
    re = _mm256_castpd_ps(_mm256_permute4x64_pd(
        _mm256_castps_pd(_mm256_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0))), _MM_SHUFFLE(3, 1, 2, 0)));
    im = _mm256_castpd_ps(_mm256_permute4x64_pd(
        _mm256_castps_pd(_mm256_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1))), _MM_SHUFFLE(3, 1, 2, 0)));
}

inline void loadComplexRows(const Complex* const* lanes, int at, LaneSolve::Row* reRows,
                            LaneSolve::Row* imRows) noexcept {
    __m256 re[solveLanes], im[solveLanes];
    for (int l = 0; l < solveLanes; ++l) splitParts(lanes[l], at, re[l], im[l]);
    transpose8(re[0], re[1], re[2], re[3], re[4], re[5], re[6], re[7]);
    transpose8(im[0], im[1], im[2], im[3], im[4], im[5], im[6], im[7]);
    for (int k = 0; k < solveLanes; ++k) {
        _mm256_store_ps(reRows[at + k], re[k]);
        _mm256_store_ps(imRows[at + k], im[k]);
    }
}
#endif

// loadSolveLanes. On the AVX2 path eight bins of all eight lanes move at once, as a transpose
// in registers; the copies are exact either way.
void loadLanes(int n, const LaneOperands* voices, LaneSolve& S) noexcept {
    int from = 0;
#if defined(__AVX2__)
    const float* tonal[solveLanes];
    const float* coupling[solveLanes];
    const Complex* phasor[solveLanes];
    const Complex* state[solveLanes];
    for (int l = 0; l < solveLanes; ++l) {
        tonal[l] = voices[l].tonalWeight;
        coupling[l] = voices[l].couplingWeight;
        phasor[l] = voices[l].stepPhasor;
        state[l] = voices[l].state;
    }
    for (; from + solveLanes <= n; from += solveLanes) {
        loadRows(tonal, from, S.a);
        loadRows(coupling, from, S.e);
        loadComplexRows(phasor, from, S.phasorRe, S.phasorIm);
        loadComplexRows(state, from, S.yRe, S.yIm);
    }
#endif
    loadLanesFrom(from, n, voices, S);
}

void storeLanes(int n, const LaneOperands* voices, const LaneSolve& S) noexcept {
    int from = 0;
#if defined(__AVX2__)
    for (; from + solveLanes <= n; from += solveLanes) {
        __m256 re[solveLanes], im[solveLanes];
        for (int k = 0; k < solveLanes; ++k) {
            re[k] = _mm256_load_ps(S.yRe[from + k]);
            im[k] = _mm256_load_ps(S.yIm[from + k]);
        }
        transpose8(re[0], re[1], re[2], re[3], re[4], re[5], re[6], re[7]);
        transpose8(im[0], im[1], im[2], im[3], im[4], im[5], im[6], im[7]);
        // Each lane's eight bins interleaved again, in order.
        for (int l = 0; l < solveLanes; ++l) {
            const __m256 low = _mm256_unpacklo_ps(re[l], im[l]);
            const __m256 high = _mm256_unpackhi_ps(re[l], im[l]);
            float* y = parts(voices[l].state) + 2 * from;
            _mm256_storeu_ps(y, _mm256_permute2f128_ps(low, high, 0x20));
            _mm256_storeu_ps(y + solveLanes, _mm256_permute2f128_ps(low, high, 0x31));
        }
    }
#endif
    storeLanesFrom(from, n, voices, S);
}

// One value per lane of the solve as one vector; where the processor's vectors are narrower
// the compiler splits every operation into independent parts.
typedef float LaneValues
    __attribute__((vector_size(sizeof(float) * solveLanes), aligned(alignof(float)), may_alias));
inline LaneValues& lanesOf(LaneSolve::Row& row) noexcept {
    return *reinterpret_cast<LaneValues*>(&row[0]);
}

// coherenceSolve with every step done on all lanes at once: the same operations in the same
// order per lane. The phasor's power is taken from its parts here, as the prediction
// computes it.
void solveLaneGroups(int n, LaneSolve& S, int lanes) noexcept {
    using V = LaneValues;
    if (n <= 0 || lanes <= 0) return;
    // Forward sweep; prevRe and prevIm carry each lane's latest weighted sum.
    lanesOf(S.s[0]) = lanesOf(S.a[0]);
    V prevRe = lanesOf(S.a[0]) * lanesOf(S.yRe[0]);
    V prevIm = lanesOf(S.a[0]) * lanesOf(S.yIm[0]);
    lanesOf(S.yRe[0]) = prevRe;
    lanesOf(S.yIm[0]) = prevIm;
    for (int j = 1; j < n; ++j) {
        const V e = lanesOf(S.e[j - 1]);
        const V pr = lanesOf(S.phasorRe[j - 1]), pi = lanesOf(S.phasorIm[j - 1]);
        const V power = pr * pr + pi * pi;
        const V sPrev = lanesOf(S.s[j - 1]);
        const V k = e / (e * power + sPrev + tiny);
        const V a = lanesOf(S.a[j]);
        lanesOf(S.s[j]) = k * sPrev + a;
        const V rotRe = pr * prevRe - pi * prevIm;
        const V rotIm = pr * prevIm + pi * prevRe;
        prevRe = k * rotRe + a * lanesOf(S.yRe[j]);
        prevIm = k * rotIm + a * lanesOf(S.yIm[j]);
        lanesOf(S.yRe[j]) = prevRe;
        lanesOf(S.yIm[j]) = prevIm;
    }
    // Backward sweep; nextRe and nextIm carry each lane's solution of the bin above.
    const V last = lanesOf(S.s[n - 1]) + tiny;
    V nextRe = lanesOf(S.yRe[n - 1]) / last;
    V nextIm = lanesOf(S.yIm[n - 1]) / last;
    lanesOf(S.yRe[n - 1]) = nextRe;
    lanesOf(S.yIm[n - 1]) = nextIm;
    for (int j = n - 2; j >= 0; --j) {
        const V e = lanesOf(S.e[j]);
        const V pr = lanesOf(S.phasorRe[j]), pi = lanesOf(S.phasorIm[j]);
        const V power = pr * pr + pi * pi;
        const V wr = e * pr, wi = e * -pi;
        const V d = e * power + lanesOf(S.s[j]) + tiny;
        const V re = (lanesOf(S.yRe[j]) + (wr * nextRe - wi * nextIm)) / d;
        const V im = (lanesOf(S.yIm[j]) + (wr * nextIm + wi * nextRe)) / d;
        nextRe = re;
        nextIm = im;
        lanesOf(S.yRe[j]) = re;
        lanesOf(S.yIm[j]) = im;
    }
}

} // namespace

extern const HopKernels kernels;
const HopKernels kernels{hopFeatures, prepareHop, finishHop, loadLanes, storeLanes, solveLaneGroups};
