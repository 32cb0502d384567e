#pragma once
// The program's one real FFT, a thin wrapper around FFTW's single-precision real transforms.
//
// Spectra come in one of two layouts, both unnormalised:
// - interleaved (n floats): [X0.re, X(n/2).re, X1.re, X1.im, ..., X(n/2-1).re, X(n/2-1).im];
//   the purely real DC and Nyquist bins share the first pair;
// - split (n floats): re[k] = X_k.re in the first half and im[k] = X_k.im in the second, with
//   the Nyquist value in the place of im[0].
// The inverse gives DC and Nyquist weight 1 and every other bin weight 2, so forward then
// inverse returns n times the input.
//
// Threads: construction, moves and destruction plan or free FFTW state under a process-wide
// lock and may allocate; call them off the audio thread. The transforms use only the
// object's own preallocated buffers and may run on the audio thread; one object must not be
// used by two threads at once.

struct fftwf_plan_s;

namespace tarvo {

class Fft {
public:
    // Any thread but the audio thread; allocates. n = 2^log2n with log2n in 1..24 (throws
    // std::invalid_argument otherwise). mode 0 selects the split layout, any other mode the
    // interleaved one.
    Fft(int log2n, int mode);
    // The same for any even n from 2 to 2^24 (throws std::invalid_argument otherwise). FFTW is
    // fast for lengths whose prime factors are small (2, 3, 5, 7).
    static Fft ofLength(int n, int mode);
    ~Fft();
    Fft(Fft&& other) noexcept;
    Fft& operator=(Fft&& other) noexcept;
    Fft(const Fft&) = delete;
    Fft& operator=(const Fft&) = delete;

    // X_k = sum_m x_m e^(-2 pi i k m / n), written in the object's layout. input and output
    // may be the same array.
    void forward(const float* input, float* output) noexcept;
    // Backward transform of a spectrum in the object's layout.
    void inverse(const float* spectrum, float* output) noexcept;
    // Backward transform of re[0..n/2) and im[0..n/2), with im[0] read as the Nyquist value.
    void inverseSplit(const float* re, const float* im, float* output) noexcept;

    int size() const { return n_; }

    // 1 / n for callers that normalise; the transforms themselves do not scale.
    float invN = 0.0f;
    // True: spectra use the interleaved layout; false: the split layout.
    bool packedOutput = true;

private:
    struct Length {
        int n;
    };
    Fft(Length length, int mode);
    void release() noexcept;
    void runInverse(float* output) noexcept;

    int n_ = 0;
    float* real_ = nullptr;     // n real samples, FFTW-aligned
    float* spectrum_ = nullptr; // n/2 + 1 complex bins (re, im pairs), FFTW-aligned
    fftwf_plan_s* forwardPlan_ = nullptr;
    fftwf_plan_s* inversePlan_ = nullptr;
};

} // namespace tarvo
