#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "engine/HopSynthesis.h"

namespace tarvo {
namespace {

// The polynomial trades about one percent of accuracy for speed.
TEST(HopSynthesis, TurnPhasorFollowsTheUnitCircle) {
    for (float w = 0.0f; w < 1.0f; w += 0.03125f) {
        const Complex p = turnPhasor(w);
        const double angle = 2.0 * std::numbers::pi * w;
        EXPECT_NEAR(p.real(), std::cos(angle), 1e-2) << w;
        EXPECT_NEAR(p.imag(), std::sin(angle), 1e-2) << w;
    }
}

struct SolveCase {
    float coupling;
    bool expectUnchanged;
};

TEST(HopSynthesis, CoherenceSolveKeepsInputWithoutCouplingAndSmoothsWithIt) {
    constexpr int n = 8;
    for (const SolveCase c : {SolveCase{0.0f, true}, SolveCase{1e6f, false}}) {
        std::vector<float> a(n, 1.0f), e(n, c.coupling), power(n, 1.0f), scratch(n);
        std::vector<Complex> phasor(n, Complex(1.0f, 0.0f)), y(n);
        for (int j = 0; j < n; ++j) y[j] = Complex(j % 2 == 0 ? 1.0f : -1.0f, 0.5f);
        const std::vector<Complex> x = y;
        coherenceSolve(n, a.data(), e.data(), phasor.data(), power.data(), y.data(), scratch.data());
        Complex mean{};
        for (const Complex& v : x) mean += v / static_cast<float>(n);
        for (int j = 0; j < n; ++j) {
            const Complex expected = c.expectUnchanged ? x[j] : mean;
            EXPECT_NEAR(y[j].real(), expected.real(), 1e-3) << j;
            EXPECT_NEAR(y[j].imag(), expected.imag(), 1e-3) << j;
        }
    }
}

TEST(HopSynthesis, FeaturesOfSilenceAreFiniteAndNeutral) {
    float silent[guardedFrameSize] = {};
    std::array<std::array<float, 3>, frameBands> poly{};
    HopFeatures features{};
    computeHopFeatures(silent, silent, silent, poly, features);
    for (int k = 0; k < frameBands; ++k) {
        EXPECT_TRUE(std::isfinite(features.tonal[k]));
        EXPECT_EQ(features.step[k], 0.0f);
        EXPECT_LE(features.tonal[k], 1.0f);
    }
    EXPECT_EQ(features.tonal[79], features.tonal[78]);
}

} // namespace
} // namespace tarvo
