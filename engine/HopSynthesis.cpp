#include "engine/HopSynthesis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace tarvo {

namespace baseline {
#include "engine/HopSynthesisKernels.inl"
} // namespace baseline

#if defined(TARVO_AVX2_KERNELS)
// Defined in HopSynthesisAvx2.cpp, compiled for AVX2 with fused multiply-adds.
namespace avx2 {
extern const HopKernels kernels;
}
#endif

Complex turnPhasor(float w) noexcept {
    float re, im;
    baseline::phasorOfTurn(w, re, im);
    return {re, im};
}

void setFrameGuards(float* f) noexcept {
    f[0] = std::max(1.5f * f[1] - 0.5f * f[2], 0.8f * f[1]);
    f[81] = std::max(1.5f * f[80] - 0.5f * f[79], 0.8f * f[80]);
}

void computeHopFeatures(const float* oldest, const float* middle, const float* newest,
                        const std::array<std::array<float, 3>, frameBands>& freqPoly,
                        HopFeatures& out) noexcept {
    baseline::hopFeatures(oldest, middle, newest, freqPoly, out);
}

void prepareVoiceHop(const EngineTables& t, const HopFeatures& f, const float* M, float den, bool firstHop,
                     VoiceBins voice, HopWork w) noexcept {
    baseline::prepareHop(t, f, M, den, firstHop, voice, w);
}

void finishVoiceHop(int binCount, float den, const float* amp, const float* noiseFrac,
                    VoiceBins voice) noexcept {
    baseline::finishHop(binCount, den, amp, noiseFrac, voice);
}

void loadSolveLanes(int n, const LaneOperands* voices, LaneSolve& S) noexcept {
    baseline::loadLanes(n, voices, S);
}

void storeSolveLanes(int n, const LaneOperands* voices, const LaneSolve& S) noexcept {
    baseline::storeLanes(n, voices, S);
}

void coherenceSolveLanes(int n, LaneSolve& S, int lanes) noexcept {
    baseline::solveLaneGroups(n, S, lanes);
}

// The arithmetic is written out on real and imaginary parts: std::complex's product checks
// for NaN after every multiplication, which costs a branch and a possible library call per bin
// and keeps the loops from vectorising. The formulas are the same products and sums.
void coherenceSolve(int n, const float* a, const float* e, const Complex* phasor, const float* c, Complex* yc,
                    float* s) noexcept {
    if (n <= 0) return;
    constexpr float tiny = baseline::tiny;
    const float* P = baseline::parts(phasor);
    float* y = baseline::parts(yc);
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

void synthesizeVoiceHop(const EngineTables& t, const HopFeatures& f, const float* M, float den, bool firstHop,
                        VoiceBins voice, HopWork w) noexcept {
    prepareVoiceHop(t, f, M, den, firstHop, voice, w);
    const int binCount = t.bandCount + t.extraCount;
    coherenceSolve(binCount, w.tonalWeight, w.couplingWeight, w.stepPhasor, w.phasorPower, voice.binState,
                   w.solverScratch);
    finishVoiceHop(binCount, den, w.amp, w.noiseFrac, voice);
}

bool vectorPathAvailable(VectorPath path) noexcept {
    switch (path) {
    case VectorPath::baseline:
        return true;
    case VectorPath::avx2:
#if defined(TARVO_AVX2_KERNELS)
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
        return false;
#endif
    }
    return false;
}

VectorPath defaultVectorPath() noexcept {
    const char* asked = std::getenv("TARVO_VECTOR_PATH");
    const std::string_view name = asked != nullptr ? asked : "";
    if (name == "baseline") return VectorPath::baseline;
    if (name == "avx2" || name.empty())
        if (vectorPathAvailable(VectorPath::avx2)) return VectorPath::avx2;
    return VectorPath::baseline;
}

const HopKernels& hopKernels(VectorPath path) noexcept {
#if defined(TARVO_AVX2_KERNELS)
    if (path == VectorPath::avx2 && vectorPathAvailable(path)) return avx2::kernels;
#else
    (void)path;
#endif
    return baseline::kernels;
}

} // namespace tarvo
