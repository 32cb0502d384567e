#pragma once
// The program's one real FFT. Spectra use the interleaved layout [X0.re, X(n/2).re, X1.re,
// X1.im, ..., X(n/2-1).re, X(n/2-1).im], or, without packed output, the split layout (re in
// the first half, im in the second, the Nyquist value in place of im[0]). No transform
// scales: forward then inverse gives n times the input.
//
// Threads: an object belongs to one thread at a time. Construction may allocate and takes a
// process-wide lock while plans are made; the transforms never allocate or lock.

#include <cstdint>

namespace tarvo {

class Fft {
public:
    // Any thread, allocates: n = 2^log2n points; mode 2 or 1 keeps spectra interleaved,
    // 0 converts them to and from the split layout.
    Fft(int log2n, int mode);
    ~Fft();
    Fft(const Fft&) = delete;
    Fft& operator=(const Fft&) = delete;

    // X_k = sum of x_m e^(-2 pi i k m / n), unnormalised.
    void forward(const float* input, float* output) noexcept;
    // Backward transform of a spectrum in the object's layout.
    void inverse(const float* spectrum, float* output) noexcept;
    // Backward transform of re[0..n/2) and im[0..n/2), im[0] read as the Nyquist value.
    void inverseSplit(const float* re, const float* im, float* output) noexcept;
    int size() const { return n; }

    // 1 / n, for callers that scale; the transforms do not.
    float invN = 0.0f;

private:
    void backward(float* output) noexcept;

    int n = 0;
    int32_t packedOutput = 1;
    // Aligned work buffers: n real samples and n/2 + 1 complex bins.
    float* real = nullptr;
    float* bins = nullptr;
    void* forwardPlan = nullptr;
    void* backwardPlan = nullptr;
};

} // namespace tarvo
