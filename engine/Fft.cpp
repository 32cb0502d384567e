#include "engine/Fft.h"

#include <fftw3.h>

#include <map>
#include <mutex>

namespace tarvo {

namespace {

struct Plans {
    fftwf_plan forward = nullptr;
    fftwf_plan backward = nullptr;
};

// FFTW's planner is not thread-safe; plans are made once per size, under one lock, and live
// until the process ends. Executing a plan on other aligned buffers is thread-safe.
class PlanCache {
public:
    ~PlanCache() {
        for (auto& [n, p] : made) {
            fftwf_destroy_plan(p.forward);
            fftwf_destroy_plan(p.backward);
        }
    }

    Plans get(int n) {
        std::lock_guard<std::mutex> guard(lock);
        Plans& p = made[n];
        if (p.forward == nullptr) {
            float* r = fftwf_alloc_real(static_cast<size_t>(n));
            fftwf_complex* c = fftwf_alloc_complex(static_cast<size_t>(n / 2 + 1));
            p.forward = fftwf_plan_dft_r2c_1d(n, r, c, FFTW_ESTIMATE);
            p.backward = fftwf_plan_dft_c2r_1d(n, c, r, FFTW_ESTIMATE | FFTW_DESTROY_INPUT);
            fftwf_free(c);
            fftwf_free(r);
        }
        return p;
    }

private:
    std::mutex lock;
    std::map<int, Plans> made;
};

Plans plansFor(int n) {
    static PlanCache cache;
    return cache.get(n);
}

} // namespace

Fft::Fft(int log2n, int mode) : n(1 << log2n), packedOutput(mode == 2 ? 1 : mode) {
    invN = 1.0f / static_cast<float>(n);
    real = fftwf_alloc_real(static_cast<size_t>(n));
    bins = reinterpret_cast<float*>(fftwf_alloc_complex(static_cast<size_t>(n / 2 + 1)));
    const Plans p = plansFor(n);
    forwardPlan = p.forward;
    backwardPlan = p.backward;
}

Fft::~Fft() {
    fftwf_free(bins);
    fftwf_free(real);
}

void Fft::forward(const float* input, float* output) noexcept {
    for (int i = 0; i < n; ++i) real[i] = input[i];
    fftwf_execute_dft_r2c(static_cast<fftwf_plan>(forwardPlan), real, reinterpret_cast<fftwf_complex*>(bins));
    const int half = n / 2;
    if (packedOutput != 0) {
        output[0] = bins[0];
        output[1] = bins[2 * half];
        for (int k = 1; k < half; ++k) {
            output[2 * k] = bins[2 * k];
            output[2 * k + 1] = bins[2 * k + 1];
        }
    } else {
        output[0] = bins[0];
        output[half] = bins[2 * half];
        for (int k = 1; k < half; ++k) {
            output[k] = bins[2 * k];
            output[half + k] = bins[2 * k + 1];
        }
    }
}

void Fft::inverse(const float* spectrum, float* output) noexcept {
    if (packedOutput == 0) return inverseSplit(spectrum, spectrum + n / 2, output);
    const int half = n / 2;
    bins[0] = spectrum[0];
    bins[1] = 0.0f;
    bins[2 * half] = spectrum[1];
    bins[2 * half + 1] = 0.0f;
    for (int k = 1; k < half; ++k) {
        bins[2 * k] = spectrum[2 * k];
        bins[2 * k + 1] = spectrum[2 * k + 1];
    }
    backward(output);
}

void Fft::inverseSplit(const float* re, const float* im, float* output) noexcept {
    const int half = n / 2;
    bins[0] = re[0];
    bins[1] = 0.0f;
    bins[2 * half] = im[0];
    bins[2 * half + 1] = 0.0f;
    for (int k = 1; k < half; ++k) {
        bins[2 * k] = re[k];
        bins[2 * k + 1] = im[k];
    }
    backward(output);
}

void Fft::backward(float* output) noexcept {
    fftwf_execute_dft_c2r(static_cast<fftwf_plan>(backwardPlan), reinterpret_cast<fftwf_complex*>(bins),
                          real);
    for (int i = 0; i < n; ++i) output[i] = real[i];
}

} // namespace tarvo
