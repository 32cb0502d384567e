#include "engine/HopSynthesis.h"

#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {

// Band pairs the classifier covers; band 79 borrows pair 78's values.
constexpr int pairCount = frameBands - 1;
// Keeps divisions finite on silent frames.
constexpr float tiny = 1e-30f;

// Frequency-shape bias per band: low bands lean tonal, high bands lean noisy.
constexpr float biasF[pairCount] = {
    0.6871f,  0.68092f, 0.67442f, 0.66758f, 0.66038f, 0.65282f, 0.64488f, 0.63653f, 0.62777f, 0.61858f,
    0.60893f, 0.59881f, 0.58821f, 0.57711f, 0.56549f, 0.55334f, 0.54064f, 0.52737f, 0.51352f, 0.49909f,
    0.48405f, 0.46841f, 0.45215f, 0.43528f, 0.4178f,  0.39971f, 0.38102f, 0.36175f, 0.34193f, 0.32158f,
    0.30075f, 0.27949f, 0.25786f, 0.23595f, 0.21385f, 0.19166f, 0.16953f, 0.14762f, 0.1261f,  0.1052f,
    0.08516f, 0.06628f, 0.04889f, 0.03338f, 0.02019f, 0.00984f, 0.0029f,  0.00003f,
};

// Phase-step scale per band; 1 from band 44 on.
constexpr float scaleP[44] = {
    4.87602f, 4.77611f, 4.67275f, 4.56596f, 4.4558f,  4.34234f, 4.22566f, 4.10589f, 3.98319f,
    3.85773f, 3.72974f, 3.59948f, 3.46725f, 3.33338f, 3.19825f, 3.0623f,  2.926f,   2.78985f,
    2.65442f, 2.52031f, 2.38815f, 2.25861f, 2.13239f, 2.01019f, 1.89273f, 1.78072f, 1.67484f,
    1.57574f, 1.48401f, 1.40016f, 1.32459f, 1.2576f,  1.1993f,  1.14967f, 1.10851f, 1.07539f,
    1.04973f, 1.03074f, 1.01748f, 1.0089f,  1.00388f, 1.00135f, 1.00032f, 1.00004f,
};

// Time-shape scale per band: 158.23584 * 0.8949808^k up to band 45, then 1.
struct TimeScaleTable {
    float value[pairCount];
    TimeScaleTable() {
        for (int k = 0; k < pairCount; ++k)
            value[k] = k <= 45 ? static_cast<float>(158.23584 * std::pow(0.8949808, k)) : 1.0f;
    }
};
const TimeScaleTable scaleT;

float fraction(float x) noexcept {
    return x - std::floor(x);
}

} // namespace

void setFrameGuards(float* f) noexcept {
    f[0] = std::max(1.5f * f[1] - 0.5f * f[2], 0.8f * f[1]);
    f[81] = std::max(1.5f * f[80] - 0.5f * f[79], 0.8f * f[80]);
}

void computeHopFeatures(const float* O, const float* M, const float* N,
                        const std::array<std::array<float, 3>, frameBands>& freqPoly,
                        HopFeatures& out) noexcept {
    // Guarded frames: band k sits at index k + 1, the low guard stands in for band -1.
    for (int k = 0; k < pairCount; ++k) {
        const float lo = O[k] + M[k];
        const float c = O[k + 1] + M[k + 1];
        const float hi = O[k + 2] + M[k + 2];
        const float delta = (hi - lo) / ((hi + lo) * 0.4249418f + c * 1.026078f + tiny);
        float s = lo + c + hi + tiny;
        float pk = c / s;
        float as = std::fabs(lo - hi) / s;
        const float bias = k < 48 ? biasF[k] : 0.0f;
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
                         scaleT.value[k],
                     0.0f);

        out.toneF[k] = toneF;
        out.toneT[k] = toneT;
        out.tonal[k] = std::min(toneF + toneT, 1.0f);
        out.freq[k] = freqPoly[k][0] + freqPoly[k][1] * delta + freqPoly[k][2] * delta * delta;
        const float stepScale = k < 44 ? scaleP[k] : 1.0f;
        out.step[k] = ((nn - o) / ((nn + o) * 0.51741993f + mm * 1.1453495f + tiny)) * stepScale * -0.25f;
    }
    out.toneF[pairCount] = out.toneF[pairCount - 1];
    out.toneT[pairCount] = out.toneT[pairCount - 1];
    out.tonal[pairCount] = out.tonal[pairCount - 1];
    out.freq[pairCount] = 0.0f;
    out.step[pairCount] = 0.0f;
}

void coherenceSolve(int n, const float* a, const float* e, const Complex* P, const float* c, Complex* y,
                    float* s) noexcept {
    if (n <= 0) return;
    s[0] = a[0];
    y[0] = a[0] * y[0];
    for (int j = 1; j < n; ++j) {
        const float k = e[j - 1] / (e[j - 1] * c[j - 1] + s[j - 1] + tiny);
        s[j] = k * s[j - 1] + a[j];
        y[j] = k * (P[j - 1] * y[j - 1]) + a[j] * y[j];
    }
    y[n - 1] = y[n - 1] / (s[n - 1] + tiny);
    for (int j = n - 2; j >= 0; --j)
        y[j] = (y[j] + e[j] * std::conj(P[j]) * y[j + 1]) / (e[j] * c[j] + s[j] + tiny);
}

void synthesizeVoiceHop(const EngineTables& t, const HopFeatures& f, const float* M, float den, bool firstHop,
                        VoiceBins voice, HopWork w) noexcept {
    const int bandCount = t.bandCount;
    const int binCount = t.bandCount + t.extraCount;

    // Noise generator: a fresh window into the shared table every hop.
    *voice.seed = *voice.seed * 1664525u + 1013904223u;
    const Complex* noise = noiseTable.data() + *voice.seed % static_cast<uint32_t>(noiseTableSize - binCount);

    // Noise resonators: damped rotations for the band bins, fresh noise for the extra bins.
    if (firstHop) {
        std::copy(t.initialSpectrum.begin(), t.initialSpectrum.begin() + binCount, voice.noiseState);
    } else {
        for (int b = 0; b < bandCount; ++b)
            voice.noiseState[b] = t.rot[b] * voice.noiseState[b] + t.drive[b] * noise[b];
        for (int j = bandCount; j < binCount; ++j) voice.noiseState[j] = noise[j];
    }

    const float denFloor = std::min(den, 0.0f) + 1.0f;
    const float denAbs = std::fabs(den) - 1.0f;
    for (int b = 0; b < bandCount; ++b) {
        w.amp[b] = M[b + 1];
        w.noiseFrac[b] = denAbs * f.tonal[b] + denFloor;
        const float ta = std::max(f.toneF[b] + 0.3f, 0.2f);
        const float te = std::max(f.toneT[b] + 0.4f, 0.2f);
        w.tonalWeight[b] = ta * ta;
        w.couplingWeight[b] = te * te;
        w.freqEst[b] = f.freq[b];
        w.stepPhasor[b] = turnPhasor(fraction(f.step[b]));
    }
    std::fill(w.amp + bandCount, w.amp + binCount, 0.0f);

    // Extra bins interpolate their two bands; energy far from the bin's own frequency is
    // relocated to the bins nearest the estimated frequency.
    for (int e = 0; e < t.extraCount; ++e) {
        const int j = bandCount + e;
        const ExtraBin& link = t.extraBins[e];
        const int b0 = link.band, b1 = link.band + 1;
        float amp = (link.w0 * M[b0 + 1] + link.w1 * M[b1 + 1]) * link.gain;
        const float sF = link.w1 * f.toneF[b1] + link.w0 * f.toneF[b0];
        const float freq = link.w1 * f.freq[b1] + link.w0 * f.freq[b0];
        const float ta = std::max(sF + 0.3f, 0.2f);
        const float te = std::max(link.w1 * f.toneT[b1] + link.w0 * f.toneT[b0] + 0.4f, 0.2f);
        w.tonalWeight[j] = ta * ta;
        w.couplingWeight[j] = te * te;
        w.freqEst[j] = freq;
        const float binTurns = static_cast<float>(t.firstExtraBin + e) * 0.25f;
        const float moveShare =
            std::min(std::max((std::fabs(freq - binTurns) - 0.4f) * 5.0f, 0.0f) * std::max(sF, 0.0f), 1.0f);
        if (moveShare > 1e-9f) {
            const float moved = moveShare * amp;
            amp -= moved;
            const float q = std::min((freq - static_cast<float>(t.firstExtraBin) * 0.25f) * 4.0f,
                                     static_cast<float>(t.extraCount) - 1.001f) +
                            static_cast<float>(bandCount);
            const int i = std::max(static_cast<int>(q), 0);
            const float fr = q - static_cast<float>(i);
            w.amp[i] += (1.0f - fr) * moved;
            w.amp[i + 1] += fr * moved;
        }
        w.amp[j] += amp;
        w.noiseFrac[j] = (link.w1 * f.tonal[b1] + link.w0 * f.tonal[b0]) * denAbs + denFloor;
        w.stepPhasor[j] = turnPhasor(fraction(link.w1 * f.step[b1] + link.w0 * f.step[b0]));
    }

    // Tonal prediction: advance each bin's phase by its estimated frequency.
    for (int j = 0; j < binCount; ++j) {
        Complex& state = voice.binState[j];
        state *= turnPhasor(fraction(w.freqEst[j]));
        w.tonalWeight[j] *= std::min(std::norm(state) * 1e20f + 0.001f, 1.0f);
        state += Complex(1e-30f, 1e-10f);
        w.phasorPower[j] = std::norm(w.stepPhasor[j]);
    }

    coherenceSolve(binCount, w.tonalWeight, w.couplingWeight, w.stepPhasor, w.phasorPower, voice.binState,
                   w.solverScratch);

    const float dense = std::max(den, 0.0f);
    const float tonalShare = std::sqrt(1.0f - dense * dense);
    for (int j = 0; j < binCount; ++j) {
        const float na = w.amp[j] * w.noiseFrac[j];
        Complex& state = voice.binState[j];
        // The magnitude without hypot's overflow guard, which the audio range never needs.
        const float gg = (na + w.amp[j]) * tonalShare / (std::sqrt(std::norm(state)) + na + tiny);
        state = gg * state + na * voice.noiseState[j];
    }
}

} // namespace tarvo
