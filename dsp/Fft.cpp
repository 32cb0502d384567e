#include "dsp/Fft.h"

#include <cstring>
#include <fftw3.h>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace tarvo {

namespace {

// FFTW's planner, allocator and plan destruction are not thread-safe; only execution is.
std::mutex& plannerMutex() {
    static std::mutex mutex;
    return mutex;
}

// Largest supported transform: 2^24 points.
constexpr int maxLog2n = 24;

} // namespace

Fft::Fft(int log2n, int mode)
    : Fft(Length{log2n >= 1 && log2n <= maxLog2n
                     ? 1 << log2n
                     : throw std::invalid_argument("Fft: log2n must lie in 1..24")},
          mode) {}

Fft Fft::ofLength(int n, int mode) {
    if (n < 2 || n > (1 << maxLog2n) || n % 2 != 0)
        throw std::invalid_argument("Fft: the length must be even and lie in 2..2^24");
    return Fft(Length{n}, mode);
}

Fft::Fft(Length length, int mode) {
    n_ = length.n;
    invN = 1.0f / static_cast<float>(n_);
    packedOutput = mode != 0;

    const std::lock_guard<std::mutex> lock(plannerMutex());
    real_ = fftwf_alloc_real(static_cast<size_t>(n_));
    auto* bins = fftwf_alloc_complex(static_cast<size_t>(n_ / 2 + 1));
    spectrum_ = reinterpret_cast<float*>(bins);
    if (real_ != nullptr && bins != nullptr) {
        // Estimated plans: fast to build and the same on every run.
        forwardPlan_ = fftwf_plan_dft_r2c_1d(n_, real_, bins, FFTW_ESTIMATE);
        inversePlan_ = fftwf_plan_dft_c2r_1d(n_, bins, real_, FFTW_ESTIMATE);
    }
    if (forwardPlan_ == nullptr || inversePlan_ == nullptr) {
        release();
        throw std::bad_alloc();
    }
    std::memset(real_, 0, sizeof(float) * static_cast<size_t>(n_));
    std::memset(spectrum_, 0, sizeof(float) * static_cast<size_t>(n_ + 2));
}

Fft::~Fft() {
    if (real_ == nullptr && spectrum_ == nullptr) return;
    const std::lock_guard<std::mutex> lock(plannerMutex());
    release();
}

Fft::Fft(Fft&& other) noexcept
    : invN(other.invN), packedOutput(other.packedOutput), n_(std::exchange(other.n_, 0)),
      real_(std::exchange(other.real_, nullptr)), spectrum_(std::exchange(other.spectrum_, nullptr)),
      forwardPlan_(std::exchange(other.forwardPlan_, nullptr)),
      inversePlan_(std::exchange(other.inversePlan_, nullptr)) {}

Fft& Fft::operator=(Fft&& other) noexcept {
    if (this != &other) {
        std::swap(invN, other.invN);
        std::swap(packedOutput, other.packedOutput);
        std::swap(n_, other.n_);
        std::swap(real_, other.real_);
        std::swap(spectrum_, other.spectrum_);
        std::swap(forwardPlan_, other.forwardPlan_);
        std::swap(inversePlan_, other.inversePlan_);
    }
    return *this;
}

// Caller holds the planner lock.
void Fft::release() noexcept {
    if (forwardPlan_ != nullptr) fftwf_destroy_plan(forwardPlan_);
    if (inversePlan_ != nullptr) fftwf_destroy_plan(inversePlan_);
    fftwf_free(real_);
    fftwf_free(spectrum_);
    forwardPlan_ = inversePlan_ = nullptr;
    real_ = spectrum_ = nullptr;
}

void Fft::forward(const float* input, float* output) noexcept {
    const int half = n_ / 2;
    std::memcpy(real_, input, sizeof(float) * static_cast<size_t>(n_));
    fftwf_execute_dft_r2c(forwardPlan_, real_, reinterpret_cast<fftwf_complex*>(spectrum_));
    if (packedOutput) {
        output[0] = spectrum_[0];
        output[1] = spectrum_[2 * half];
        std::memcpy(output + 2, spectrum_ + 2, sizeof(float) * static_cast<size_t>(n_ - 2));
    } else {
        for (int k = 0; k < half; ++k) {
            output[k] = spectrum_[2 * k];
            output[half + k] = spectrum_[2 * k + 1];
        }
        output[half] = spectrum_[2 * half];
    }
}

void Fft::inverse(const float* spectrum, float* output) noexcept {
    if (packedOutput) {
        const int half = n_ / 2;
        std::memcpy(spectrum_ + 2, spectrum + 2, sizeof(float) * static_cast<size_t>(n_ - 2));
        spectrum_[0] = spectrum[0];
        spectrum_[1] = 0.0f;
        spectrum_[2 * half] = spectrum[1];
        spectrum_[2 * half + 1] = 0.0f;
        runInverse(output);
    } else {
        inverseSplit(spectrum, spectrum + n_ / 2, output);
    }
}

void Fft::inverseSplit(const float* re, const float* im, float* output) noexcept {
    const int half = n_ / 2;
    for (int k = 1; k < half; ++k) {
        spectrum_[2 * k] = re[k];
        spectrum_[2 * k + 1] = im[k];
    }
    spectrum_[0] = re[0];
    spectrum_[1] = 0.0f;
    spectrum_[2 * half] = im[0];
    spectrum_[2 * half + 1] = 0.0f;
    runInverse(output);
}

void Fft::runInverse(float* output) noexcept {
    fftwf_execute_dft_c2r(inversePlan_, reinterpret_cast<fftwf_complex*>(spectrum_), real_);
    std::memcpy(output, real_, sizeof(float) * static_cast<size_t>(n_));
}

} // namespace tarvo
