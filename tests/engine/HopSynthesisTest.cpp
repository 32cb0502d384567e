#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
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

// The engine solves the voices of a track side by side; each voice must come out exactly as
// if solved alone, whatever its neighbours hold (a lane not loaded this hop keeps old values,
// here a NaN).
TEST(HopSynthesis, VoicesSolvedSideBySideMatchTheirSolveAloneBitForBit) {
    constexpr int n = 37;
    constexpr int voices = solveLanes - 1;
    struct VoiceOperands {
        std::vector<float> a, e, power, scratch;
        std::vector<Complex> phasor, y;
    };
    auto solve = std::make_unique<LaneSolve>();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int j = 0; j < n; ++j) {
        solve->a[j][voices] = nan;
        solve->yRe[j][voices] = nan;
    }
    std::vector<VoiceOperands> alone(voices);
    uint32_t seed = 99;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<float>(seed >> 8) / 16777216.0f;
    };
    for (int v = 0; v < voices; ++v) {
        VoiceOperands& o = alone[static_cast<size_t>(v)];
        o.scratch.resize(n);
        for (int j = 0; j < n; ++j) {
            o.a.push_back(next() * 2.0f);
            o.e.push_back(next() * 4.0f * static_cast<float>(v));
            o.phasor.push_back(turnPhasor(next()));
            o.power.push_back(std::norm(o.phasor.back()));
            o.y.push_back({next() - 0.5f, next() - 0.5f});
        }
        const HopWork work{nullptr,         nullptr,        o.a.data(), o.e.data(), nullptr,
                           o.phasor.data(), o.power.data(), nullptr,    nullptr};
        loadSolveLane(n, v, work, o.y.data(), *solve);
        coherenceSolve(n, o.a.data(), o.e.data(), o.phasor.data(), o.power.data(), o.y.data(),
                       o.scratch.data());
    }
    coherenceSolveLanes(n, *solve);
    for (int v = 0; v < voices; ++v) {
        std::vector<Complex> sideBySide(n);
        storeSolveLane(n, v, *solve, sideBySide.data());
        for (int j = 0; j < n; ++j) {
            EXPECT_EQ(sideBySide[j].real(), alone[v].y[j].real()) << v << " " << j;
            EXPECT_EQ(sideBySide[j].imag(), alone[v].y[j].imag()) << v << " " << j;
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
