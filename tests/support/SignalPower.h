#pragma once
// The power in each bin of one transform over a whole signal, zero-padded to a power of two:
// how the tests measure where a rendered hit's energy lies.

#include <fftw3.h>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace tarvo::test {

struct PowerSpectrum {
    std::vector<double> power; // |X[k]|² for bins 0 .. length / 2
    size_t length = 0;         // the transform's length
    double binHz = 0.0;

    double hz(size_t bin) const { return static_cast<double>(bin) * binHz; }
};

inline PowerSpectrum powerSpectrum(const std::vector<float>& x, double rate) {
    size_t n = 1;
    while (n < x.size()) n <<= 1;
    std::vector<float> in(n, 0.0f);
    std::copy(x.begin(), x.end(), in.begin());
    std::vector<fftwf_complex> out(n / 2 + 1);
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(static_cast<int>(n), in.data(), out.data(), FFTW_ESTIMATE);
    fftwf_execute(plan);
    fftwf_destroy_plan(plan);
    PowerSpectrum spectrum{std::vector<double>(out.size()), n, rate / static_cast<double>(n)};
    for (size_t k = 0; k < out.size(); ++k)
        spectrum.power[k] = double(out[k][0]) * out[k][0] + double(out[k][1]) * out[k][1];
    return spectrum;
}

} // namespace tarvo::test
