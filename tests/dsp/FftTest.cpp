#include "dsp/Fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace tarvo {
namespace {

constexpr int log2Size = 8;
constexpr int n = 1 << log2Size;
constexpr double twoPi = 6.283185307179586476925286766559;

std::vector<float> noise(int count, uint32_t seed) {
    std::vector<float> x(static_cast<size_t>(count));
    for (float& v : x) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<float>(seed * 0x1p-32 - 0.5);
    }
    return x;
}

// Direct DFT in double precision: bins 0..count/2.
std::vector<std::complex<double>> directDft(const std::vector<float>& x) {
    const size_t count = x.size();
    std::vector<std::complex<double>> bins(count / 2 + 1);
    for (size_t k = 0; k < bins.size(); ++k)
        for (size_t m = 0; m < count; ++m)
            bins[k] += static_cast<double>(x[m]) *
                       std::polar(1.0, -twoPi * static_cast<double>(k * m % count) / count);
    return bins;
}

// Reads bin k of a spectrum in the interleaved or the split layout.
std::complex<double> binOf(const std::vector<float>& spectrum, int k, bool packed) {
    const int half = static_cast<int>(spectrum.size()) / 2;
    const auto at = [&spectrum](int i) { return static_cast<double>(spectrum[static_cast<size_t>(i)]); };
    if (packed) {
        if (k == 0) return {at(0), 0.0};
        if (k == half) return {at(1), 0.0};
        return {at(2 * k), at(2 * k + 1)};
    }
    if (k == 0) return {at(0), 0.0};
    if (k == half) return {at(half), 0.0};
    return {at(k), at(half + k)};
}

TEST(Fft, ForwardMatchesDirectDftInEveryMode) {
    const std::vector<float> x = noise(n, 7);
    const auto expected = directDft(x);
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        Fft fft(log2Size, mode);
        EXPECT_EQ(fft.packedOutput, mode != 0);
        EXPECT_EQ(fft.size(), n);
        EXPECT_FLOAT_EQ(fft.invN, 1.0f / n);
        std::vector<float> spectrum(n);
        fft.forward(x.data(), spectrum.data());
        for (int k = 0; k <= n / 2; ++k) {
            const auto got = binOf(spectrum, k, fft.packedOutput);
            EXPECT_NEAR(got.real(), expected[static_cast<size_t>(k)].real(), 1e-4) << "bin " << k;
            EXPECT_NEAR(got.imag(), expected[static_cast<size_t>(k)].imag(), 1e-4) << "bin " << k;
        }
    }
}

TEST(Fft, ForwardOfImpulseAndConstantInInterleavedLayout) {
    struct Case {
        const char* name;
        std::vector<float> input;
        std::vector<float> expected;
    };
    std::vector<float> impulse(n, 0.0f);
    impulse[0] = 1.0f;
    std::vector<float> flat(n, 1.0f); // every bin (1, 0): [1, 1, 1, 0, 1, 0, ...]
    for (int k = 1; k < n / 2; ++k) flat[static_cast<size_t>(2 * k + 1)] = 0.0f;
    std::vector<float> onlyDc(n, 0.0f);
    onlyDc[0] = n * 0.75f;
    const Case cases[] = {{"impulse", impulse, flat}, {"constant", std::vector<float>(n, 0.75f), onlyDc}};
    Fft fft(log2Size, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<float> out(n);
        fft.forward(c.input.data(), out.data());
        for (int i = 0; i < n; ++i)
            EXPECT_NEAR(out[static_cast<size_t>(i)], c.expected[static_cast<size_t>(i)], 1e-4) << i;
    }
}

TEST(Fft, InverseOfSingleBinsInEveryEntryPoint) {
    struct Case {
        const char* name;
        int bin;
        float re, im;
        double (*sample)(int m);
    };
    const Case cases[] = {
        {"DC", 0, 1.0f, 0.0f, [](int) { return 1.0; }},
        {"X1 real", 1, 1.0f, 0.0f, [](int m) { return 2.0 * std::cos(twoPi * m / n); }},
        {"X1 imaginary", 1, 0.0f, 1.0f, [](int m) { return -2.0 * std::sin(twoPi * m / n); }},
        {"X5", 5, 0.5f, -0.25f,
         [](int m) {
             return 2.0 * (0.5 * std::cos(twoPi * 5 * m / n) + 0.25 * std::sin(twoPi * 5 * m / n));
         }},
        {"Nyquist", n / 2, 1.0f, 0.0f, [](int m) { return m % 2 == 0 ? 1.0 : -1.0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Interleaved, split, and separate re / im arrays.
        std::vector<float> packed(n, 0.0f), split(n, 0.0f), re(n / 2, 0.0f), im(n / 2, 0.0f);
        if (c.bin == 0) {
            packed[0] = split[0] = re[0] = c.re;
        } else if (c.bin == n / 2) {
            packed[1] = split[n / 2] = im[0] = c.re;
        } else {
            packed[static_cast<size_t>(2 * c.bin)] = split[static_cast<size_t>(c.bin)] =
                re[static_cast<size_t>(c.bin)] = c.re;
            packed[static_cast<size_t>(2 * c.bin + 1)] = split[static_cast<size_t>(n / 2 + c.bin)] =
                im[static_cast<size_t>(c.bin)] = c.im;
        }
        Fft packedFft(log2Size, 1);
        Fft splitFft(log2Size, 0);
        std::vector<float> viaPacked(n), viaSplit(n), viaArrays(n);
        packedFft.inverse(packed.data(), viaPacked.data());
        splitFft.inverse(split.data(), viaSplit.data());
        packedFft.inverseSplit(re.data(), im.data(), viaArrays.data());
        for (int m = 0; m < n; ++m) {
            const double expected = c.sample(m);
            EXPECT_NEAR(viaPacked[static_cast<size_t>(m)], expected, 1e-5) << m;
            EXPECT_NEAR(viaSplit[static_cast<size_t>(m)], expected, 1e-5) << m;
            EXPECT_NEAR(viaArrays[static_cast<size_t>(m)], expected, 1e-5) << m;
        }
    }
}

TEST(Fft, ForwardThenInverseReturnsNTimesTheInput) {
    for (int log2n : {1, 4, 8, 11}) {
        for (int mode : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "log2n " << log2n << " mode " << mode);
            const int size = 1 << log2n;
            Fft fft(log2n, mode);
            const std::vector<float> x = noise(size, 99u + static_cast<uint32_t>(log2n));
            // In place: input and output are the same array.
            std::vector<float> y = x;
            fft.forward(y.data(), y.data());
            fft.inverse(y.data(), y.data());
            for (int m = 0; m < size; ++m)
                EXPECT_NEAR(y[static_cast<size_t>(m)], size * x[static_cast<size_t>(m)], 1e-5 * size) << m;
        }
    }
}

TEST(Fft, RejectsSizesItCannotLayOut) {
    for (int log2n : {-1, 0, 25}) EXPECT_THROW(Fft(log2n, 1), std::invalid_argument) << log2n;
}

TEST(Fft, MovedObjectsKeepTransforming) {
    Fft first(log2Size, 1);
    Fft moved(std::move(first));
    Fft assigned(4, 0);
    assigned = std::move(moved);
    EXPECT_EQ(assigned.size(), n);
    EXPECT_TRUE(assigned.packedOutput);
    std::vector<float> x(n, 0.0f), out(n);
    x[0] = 1.0f;
    assigned.forward(x.data(), out.data());
    EXPECT_FLOAT_EQ(out[2], 1.0f);
    EXPECT_FLOAT_EQ(out[3], 0.0f);
}

} // namespace
} // namespace tarvo
