#include "engine/HopSynthesis.h"

#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {

// Band pairs the classifier covers; band 79 borrows pair 78's values.
constexpr int pairCount = frameBands - 1;
// Keeps divisions finite on silent frames.
constexpr float tiny = 1e-30f;

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

// x - floor(x), the same value as with std::floor (NaN and infinities give NaN), written
// without the library call so that the per-bin loops vectorise.
inline float fraction(float x) noexcept {
    const bool small = std::fabs(x) < integralFrom;
    // Only values that fit are converted, so the conversion can run unconditionally.
    const float t = static_cast<float>(static_cast<int32_t>(small ? x : 0.0f));
    return x - (small ? (t > x ? t - 1.0f : t) : x);
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
        const float ta = std::max(f.toneF[b] + 0.3f, 0.2f);
        const float te = std::max(f.toneT[b] + 0.4f, 0.2f);
        tonalWeight[b] = ta * ta;
        couplingWeight[b] = te * te;
        freqEst[b] = f.freq[b];
        const Complex p = turnPhasor(fraction(f.step[b]));
        stepPhasor[2 * b] = p.real();
        stepPhasor[2 * b + 1] = p.imag();
    }
}

// Copies the values of each extra bin's two bands next to each other, bin by bin. This is the
// only indexed read of the extra bins; it moves values and computes nothing.
void spreadBands(int n, const ExtraBin* __restrict links, const HopFeatures& __restrict f,
                 const float* __restrict M, ExtraBinBands& __restrict out) noexcept {
    for (int e = 0; e < n; ++e) {
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
        const float ta = std::max(sF + 0.3f, 0.2f);
        const float te = std::max(w1 * v.toneT.high[e] + w0 * v.toneT.low[e] + 0.4f, 0.2f);
        tonalWeight[e] = ta * ta;
        couplingWeight[e] = te * te;
        freqEst[e] = freq;
        const float binTurns = static_cast<float>(firstBin + e) * 0.25f;
        moveShare[e] =
            std::min(std::max((std::fabs(freq - binTurns) - 0.4f) * 5.0f, 0.0f) * std::max(sF, 0.0f), 1.0f);
        noiseFrac[e] = (w1 * v.tonal.high[e] + w0 * v.tonal.low[e]) * denAbs + denFloor;
        const Complex p = turnPhasor(fraction(w1 * v.step.high[e] + w0 * v.step.low[e]));
        stepPhasor[2 * e] = p.real();
        stepPhasor[2 * e + 1] = p.imag();
    }
}

// Tonal prediction: advances each bin's state by the phasor of its estimated frequency. A bin
// whose state has died carries no tonal weight; the state is kept off exact zero.
void predictTonal(int n, const float* __restrict freqEst, const float* __restrict stepPhasor,
                  float* __restrict state, float* __restrict tonalWeight,
                  float* __restrict phasorPower) noexcept {
    for (int j = 0; j < n; ++j) {
        const Complex p = turnPhasor(fraction(freqEst[j]));
        const float sr = state[2 * j], si = state[2 * j + 1];
        const float re = sr * p.real() - si * p.imag();
        const float im = sr * p.imag() + si * p.real();
        tonalWeight[j] *= std::min((re * re + im * im) * 1e20f + 0.001f, 1.0f);
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

} // namespace

void setFrameGuards(float* f) noexcept {
    f[0] = std::max(1.5f * f[1] - 0.5f * f[2], 0.8f * f[1]);
    f[81] = std::max(1.5f * f[80] - 0.5f * f[79], 0.8f * f[80]);
}

void computeHopFeatures(const float* __restrict O, const float* __restrict M, const float* __restrict N,
                        const std::array<std::array<float, 3>, frameBands>& freqPoly,
                        HopFeatures& __restrict out) noexcept {
    // Guarded frames: band k sits at index k + 1, the low guard stands in for band -1.
    for (int k = 0; k < pairCount; ++k) {
        const float lo = O[k] + M[k];
        const float c = O[k + 1] + M[k + 1];
        const float hi = O[k + 2] + M[k + 2];
        const float delta = (hi - lo) / ((hi + lo) * 0.4249418f + c * 1.026078f + tiny);
        float s = lo + c + hi + tiny;
        float pk = c / s;
        float as = std::fabs(lo - hi) / s;
        const float bias = biasF[k];
        const float toneF = std::max(
            (pk * pk - 0.112f) * 3.0308092f + (pk - 0.333f) * 3.8979936f + as * as * 2.8152032f + bias, 0.0f);

        const float o = O[k + 1] + O[k + 2];
        const float mm = M[k + 1] + M[k + 2];
        const float nn = N[k + 1] + N[k + 2];
        s = o + mm + nn + tiny;
        pk = mm / s;
        as = std::fabs(o - nn) / s;
        const float toneT =
            std::max(((pk * pk - 0.112f) * 1.8380917f + (pk - 0.333f) * 3.5223093f + as * as * 2.5911577f) *
                         pairScales.time[k],
                     0.0f);

        out.toneF[k] = toneF;
        out.toneT[k] = toneT;
        out.tonal[k] = std::min(toneF + toneT, 1.0f);
        out.freq[k] = freqPoly[k][0] + freqPoly[k][1] * delta + freqPoly[k][2] * delta * delta;
        out.step[k] =
            ((nn - o) / ((nn + o) * 0.51741993f + mm * 1.1453495f + tiny)) * pairScales.phase[k] * -0.25f;
    }
    out.toneF[pairCount] = out.toneF[pairCount - 1];
    out.toneT[pairCount] = out.toneT[pairCount - 1];
    out.tonal[pairCount] = out.tonal[pairCount - 1];
    out.freq[pairCount] = 0.0f;
    out.step[pairCount] = 0.0f;
}

// The arithmetic is written out on real and imaginary parts: std::complex's product checks
// for NaN after every multiplication, which costs a branch and a possible library call per bin
// and keeps the loops from vectorising. The formulas are the same products and sums.
void coherenceSolve(int n, const float* a, const float* e, const Complex* phasor, const float* c, Complex* yc,
                    float* s) noexcept {
    if (n <= 0) return;
    const float* P = parts(phasor);
    float* y = parts(yc);
    // Forward: s carries the accumulated weight, y the weighted sum rotated along the bins.
    s[0] = a[0];
    float prevRe = a[0] * y[0];
    float prevIm = a[0] * y[1];
    y[0] = prevRe;
    y[1] = prevIm;
    for (int j = 1; j < n; ++j) {
        const float k = e[j - 1] / (e[j - 1] * c[j - 1] + s[j - 1] + tiny);
        s[j] = k * s[j - 1] + a[j];
        const float pr = P[2 * j - 2], pi = P[2 * j - 1];
        const float rotRe = pr * prevRe - pi * prevIm;
        const float rotIm = pr * prevIm + pi * prevRe;
        prevRe = k * rotRe + a[j] * y[2 * j];
        prevIm = k * rotIm + a[j] * y[2 * j + 1];
        y[2 * j] = prevRe;
        y[2 * j + 1] = prevIm;
    }
    // Backward: each bin takes its neighbour above, rotated back by the conjugate phasor.
    const float last = s[n - 1] + tiny;
    float nextRe = y[2 * n - 2] / last;
    float nextIm = y[2 * n - 1] / last;
    y[2 * n - 2] = nextRe;
    y[2 * n - 1] = nextIm;
    for (int j = n - 2; j >= 0; --j) {
        const float wr = e[j] * P[2 * j], wi = e[j] * -P[2 * j + 1];
        const float d = e[j] * c[j] + s[j] + tiny;
        const float re = (y[2 * j] + (wr * nextRe - wi * nextIm)) / d;
        const float im = (y[2 * j + 1] + (wr * nextIm + wi * nextRe)) / d;
        nextRe = re;
        nextIm = im;
        y[2 * j] = nextRe;
        y[2 * j + 1] = nextIm;
    }
}

void prepareVoiceHop(const EngineTables& t, const HopFeatures& f, const float* M, float den, bool firstHop,
                     VoiceBins voice, HopWork w) noexcept {
    const int bandCount = t.bandCount;
    const int binCount = t.bandCount + t.extraCount;
    float* state = parts(voice.binState);
    float* noiseState = parts(voice.noiseState);
    float* stepPhasor = parts(w.stepPhasor);

    // Noise generator: a fresh window into the shared table every hop.
    *voice.seed = *voice.seed * 1664525u + 1013904223u;
    const float* noise =
        parts(noiseTable.data() + *voice.seed % static_cast<uint32_t>(noiseTableSize - binCount));

    // Noise resonators: damped rotations for the band bins, fresh noise for the extra bins.
    if (firstHop) {
        std::copy(t.initialSpectrum.begin(), t.initialSpectrum.begin() + binCount, voice.noiseState);
    } else {
        const float* rot = parts(t.rot.data());
        for (int b = 0; b < bandCount; ++b) {
            const float rr = rot[2 * b], ri = rot[2 * b + 1];
            const float sr = noiseState[2 * b], si = noiseState[2 * b + 1];
            noiseState[2 * b] = (rr * sr - ri * si) + t.drive[b] * noise[2 * b];
            noiseState[2 * b + 1] = (rr * si + ri * sr) + t.drive[b] * noise[2 * b + 1];
        }
        std::copy(noise + 2 * bandCount, noise + 2 * binCount, noiseState + 2 * bandCount);
    }

    const float denFloor = std::min(den, 0.0f) + 1.0f;
    const float denAbs = std::fabs(den) - 1.0f;
    bandTargets(bandCount, f, M, denAbs, denFloor, w.amp, w.noiseFrac, w.tonalWeight, w.couplingWeight,
                w.freqEst, stepPhasor);

    // Extra bins interpolate their two bands; energy far from the bin's own frequency is
    // relocated to the bins nearest the estimated frequency. The per-bin values are computed
    // first; until the prediction below needs them, solverScratch holds each extra bin's own
    // amplitude and phasorPower the share of it to relocate.
    float* ownAmp = w.solverScratch;
    float* moveShare = w.phasorPower;
    spreadBands(t.extraCount, t.extraBins.data(), f, M, *w.extraBands);
    extraBinTargets(t.extraCount, t.firstExtraBin, t.extraBins.data(), *w.extraBands, denAbs, denFloor,
                    ownAmp + bandCount, moveShare + bandCount, w.noiseFrac + bandCount,
                    w.tonalWeight + bandCount, w.couplingWeight + bandCount, w.freqEst + bandCount,
                    stepPhasor + 2 * bandCount);
    // Relocation, in bin order, so that every amplitude sums its parts in the same order.
    std::fill(w.amp + bandCount, w.amp + binCount, 0.0f);
    const float extraTop = static_cast<float>(t.extraCount) - 1.001f;
    const float firstTurns = static_cast<float>(t.firstExtraBin) * 0.25f;
    for (int j = bandCount; j < binCount; ++j) {
        float amp = ownAmp[j];
        if (moveShare[j] > 1e-9f) {
            const float moved = moveShare[j] * amp;
            amp -= moved;
            const float q =
                std::min((w.freqEst[j] - firstTurns) * 4.0f, extraTop) + static_cast<float>(bandCount);
            const int i = std::max(static_cast<int>(q), 0);
            const float fr = q - static_cast<float>(i);
            w.amp[i] += (1.0f - fr) * moved;
            w.amp[i + 1] += fr * moved;
        }
        w.amp[j] += amp;
    }

    predictTonal(binCount, w.freqEst, stepPhasor, state, w.tonalWeight, w.phasorPower);
}

void finishVoiceHop(int binCount, float den, const float* amp, const float* noiseFrac,
                    VoiceBins voice) noexcept {
    const float dense = std::max(den, 0.0f);
    const float tonalShare = std::sqrt(1.0f - dense * dense);
    mixAmplitudeAndNoise(binCount, amp, noiseFrac, parts(voice.noiseState), tonalShare,
                         parts(voice.binState));
}

void synthesizeVoiceHop(const EngineTables& t, const HopFeatures& f, const float* M, float den, bool firstHop,
                        VoiceBins voice, HopWork w) noexcept {
    prepareVoiceHop(t, f, M, den, firstHop, voice, w);
    const int binCount = t.bandCount + t.extraCount;
    coherenceSolve(binCount, w.tonalWeight, w.couplingWeight, w.stepPhasor, w.phasorPower, voice.binState,
                   w.solverScratch);
    finishVoiceHop(binCount, den, w.amp, w.noiseFrac, voice);
}

void loadSolveLane(int n, int l, const HopWork& w, const Complex* state, LaneSolve& S) noexcept {
    const float* P = parts(w.stepPhasor);
    const float* y = parts(state);
    for (int j = 0; j < n; ++j) {
        S.a[j][l] = w.tonalWeight[j];
        S.e[j][l] = w.couplingWeight[j];
        S.phasorRe[j][l] = P[2 * j];
        S.phasorIm[j][l] = P[2 * j + 1];
        S.phasorPower[j][l] = w.phasorPower[j];
        S.yRe[j][l] = y[2 * j];
        S.yIm[j][l] = y[2 * j + 1];
    }
}

void storeSolveLane(int n, int l, const LaneSolve& S, Complex* state) noexcept {
    float* y = parts(state);
    for (int j = 0; j < n; ++j) {
        y[2 * j] = S.yRe[j][l];
        y[2 * j + 1] = S.yIm[j][l];
    }
}

// coherenceSolve with every step written once per lane; the lane loops have a fixed length,
// so the compiler turns each into one vector operation. Same operations, same order.
void coherenceSolveLanes(int n, LaneSolve& S) noexcept {
    if (n <= 0) return;
    constexpr int L = solveLanes;
    // Forward sweep; prevRe and prevIm carry each lane's latest weighted sum.
    float prevRe[L], prevIm[L];
    for (int l = 0; l < L; ++l) {
        S.s[0][l] = S.a[0][l];
        prevRe[l] = S.a[0][l] * S.yRe[0][l];
        prevIm[l] = S.a[0][l] * S.yIm[0][l];
        S.yRe[0][l] = prevRe[l];
        S.yIm[0][l] = prevIm[l];
    }
    for (int j = 1; j < n; ++j) {
        for (int l = 0; l < L; ++l) {
            const float e = S.e[j - 1][l];
            const float k = e / (e * S.phasorPower[j - 1][l] + S.s[j - 1][l] + tiny);
            S.s[j][l] = k * S.s[j - 1][l] + S.a[j][l];
            const float pr = S.phasorRe[j - 1][l], pi = S.phasorIm[j - 1][l];
            const float rotRe = pr * prevRe[l] - pi * prevIm[l];
            const float rotIm = pr * prevIm[l] + pi * prevRe[l];
            prevRe[l] = k * rotRe + S.a[j][l] * S.yRe[j][l];
            prevIm[l] = k * rotIm + S.a[j][l] * S.yIm[j][l];
            S.yRe[j][l] = prevRe[l];
            S.yIm[j][l] = prevIm[l];
        }
    }
    // Backward sweep; nextRe and nextIm carry each lane's solution of the bin above.
    float nextRe[L], nextIm[L];
    for (int l = 0; l < L; ++l) {
        const float last = S.s[n - 1][l] + tiny;
        nextRe[l] = S.yRe[n - 1][l] / last;
        nextIm[l] = S.yIm[n - 1][l] / last;
        S.yRe[n - 1][l] = nextRe[l];
        S.yIm[n - 1][l] = nextIm[l];
    }
    for (int j = n - 2; j >= 0; --j) {
        for (int l = 0; l < L; ++l) {
            const float e = S.e[j][l];
            const float wr = e * S.phasorRe[j][l], wi = e * -S.phasorIm[j][l];
            const float d = e * S.phasorPower[j][l] + S.s[j][l] + tiny;
            const float re = (S.yRe[j][l] + (wr * nextRe[l] - wi * nextIm[l])) / d;
            const float im = (S.yIm[j][l] + (wr * nextIm[l] + wi * nextRe[l])) / d;
            nextRe[l] = re;
            nextIm[l] = im;
            S.yRe[j][l] = re;
            S.yIm[j][l] = im;
        }
    }
}

} // namespace tarvo
