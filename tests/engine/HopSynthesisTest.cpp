#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <vector>

#include <fftw3.h>

#include "engine/HopSynthesis.h"
#include "engine/ResynthBank.h"

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
        std::vector<Complex> phasor, y, input;
    };
    auto solve = std::make_unique<LaneSolve>();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // The last lane is not loaded: it solves NaN into a state of its own.
    std::vector<VoiceOperands> alone(solveLanes);
    alone[voices].a.assign(n, nan);
    alone[voices].e.assign(n, 0.0f);
    alone[voices].phasor.assign(n, Complex{1.0f, 0.0f});
    alone[voices].y.assign(n, Complex{nan, 0.0f});
    uint32_t seed = 99;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<float>(seed >> 8) / 16777216.0f;
    };
    std::array<LaneOperands, solveLanes> lanes{};
    for (int v = 0; v < solveLanes; ++v) {
        VoiceOperands& o = alone[static_cast<size_t>(v)];
        if (v < voices) {
            o.scratch.resize(n);
            for (int j = 0; j < n; ++j) {
                o.a.push_back(next() * 2.0f);
                o.e.push_back(next() * 4.0f * static_cast<float>(v));
                o.phasor.push_back(turnPhasor(next()));
                o.power.push_back(std::norm(o.phasor.back()));
                o.y.push_back({next() - 0.5f, next() - 0.5f});
            }
        }
        o.input = o.y;
        lanes[static_cast<size_t>(v)] = {o.a.data(), o.e.data(), o.phasor.data(), o.input.data()};
        if (v < voices)
            coherenceSolve(n, o.a.data(), o.e.data(), o.phasor.data(), o.power.data(), o.y.data(),
                           o.scratch.data());
    }
    loadSolveLanes(n, lanes.data(), *solve);
    coherenceSolveLanes(n, *solve, voices);
    storeSolveLanes(n, lanes.data(), *solve);
    for (int v = 0; v < voices; ++v) {
        const VoiceOperands& o = alone[static_cast<size_t>(v)];
        for (int j = 0; j < n; ++j) {
            EXPECT_EQ(o.input[j].real(), o.y[j].real()) << v << " " << j;
            EXPECT_EQ(o.input[j].imag(), o.y[j].imag()) << v << " " << j;
        }
    }
}

// The lane copies of every path move each voice's operands to its lane and its solution back
// exactly, bins in blocks of eight and the rest one by one.
TEST(HopSynthesis, LaneCopiesOfEveryPathAreExact) {
    constexpr int n = 37;
    std::array<std::array<float, n>, solveLanes> a{}, e{};
    std::array<std::array<Complex, n>, solveLanes> phasor{}, state{}, back{};
    std::array<LaneOperands, solveLanes> lanes{}, backLanes{};
    for (int l = 0; l < solveLanes; ++l) {
        const auto i = static_cast<size_t>(l);
        for (int j = 0; j < n; ++j) {
            const float id = static_cast<float>(1000 * l + j);
            a[i][j] = id + 0.1f;
            e[i][j] = id + 0.2f;
            phasor[i][j] = {id + 0.3f, id + 0.4f};
            state[i][j] = {id + 0.5f, id + 0.6f};
        }
        lanes[i] = {a[i].data(), e[i].data(), phasor[i].data(), state[i].data()};
        backLanes[i] = {a[i].data(), e[i].data(), phasor[i].data(), back[i].data()};
    }
    for (const VectorPath path : {VectorPath::baseline, VectorPath::avx2}) {
        if (!vectorPathAvailable(path)) continue;
        const HopKernels& kernels = hopKernels(path);
        auto solve = std::make_unique<LaneSolve>();
        kernels.loadLanes(n, lanes.data(), *solve);
        for (int l = 0; l < solveLanes; ++l) {
            const auto i = static_cast<size_t>(l);
            for (int j = 0; j < n; ++j) {
                ASSERT_EQ(solve->a[j][l], a[i][j]) << l << " " << j;
                ASSERT_EQ(solve->e[j][l], e[i][j]) << l << " " << j;
                ASSERT_EQ(solve->phasorRe[j][l], phasor[i][j].real()) << l << " " << j;
                ASSERT_EQ(solve->phasorIm[j][l], phasor[i][j].imag()) << l << " " << j;
                ASSERT_EQ(solve->yRe[j][l], state[i][j].real()) << l << " " << j;
                ASSERT_EQ(solve->yIm[j][l], state[i][j].imag()) << l << " " << j;
            }
        }
        back = {};
        kernels.storeLanes(n, backLanes.data(), *solve);
        EXPECT_EQ(back, state);
    }
}

// The AVX2 kernels round some products and sums once instead of twice; over a few hops of
// eight voices (features, targets, prediction, solve, mixing) their bins stay within a
// millionth or so of the baseline's, relative to the largest bin. The rates differ in how
// the extra bins fall on the bands, which the AVX2 path reads eight bins at a time.
class HopSynthesisPaths : public ::testing::TestWithParam<double> {};

TEST_P(HopSynthesisPaths, Avx2KernelsFollowTheBaselineWithinRounding) {
    if (!vectorPathAvailable(VectorPath::avx2)) GTEST_SKIP() << "no AVX2 on this processor or build";
    EngineTables tables;
    ASSERT_TRUE(tables.prepare(GetParam()));
    const int n = tables.binCount;
    struct PathState {
        const HopKernels* kernels;
        std::array<std::array<Complex, maxBinCount>, solveLanes> bins{}, noise{};
        std::array<uint32_t, solveLanes> seeds{};
        std::array<std::array<float, maxBinCount>, solveLanes> amp{}, noiseFrac{}, tonal{}, coupling{};
        std::array<std::array<Complex, maxBinCount>, solveLanes> phasor{};
        std::array<float, maxBinCount> freq{}, power{}, scratch{};
        std::array<LaneOperands, solveLanes> lanes{};
        ExtraBinBands extraBands{};
        std::unique_ptr<LaneSolve> solve = std::make_unique<LaneSolve>();
        HopFeatures features{};
    };
    std::array<PathState, 2> paths;
    paths[0].kernels = &hopKernels(VectorPath::baseline);
    paths[1].kernels = &hopKernels(VectorPath::avx2);
    ASSERT_NE(paths[0].kernels, paths[1].kernels);

    // Three guarded frames per voice and hop: decaying peaks that move with the voice.
    const auto frame = [](int voice, int hop, float* guarded) {
        for (int k = 0; k < frameBands; ++k) {
            const float centre = 10.0f + 7.0f * static_cast<float>(voice) + 0.5f * static_cast<float>(hop);
            const float d = (static_cast<float>(k) - centre) / (3.0f + static_cast<float>(voice % 3));
            guarded[k + 1] =
                std::exp(-d * d - 0.05f * static_cast<float>(hop)) + 1e-4f * static_cast<float>(k % 5);
        }
        setFrameGuards(guarded);
    };
    constexpr int hops = 6;
    for (int hop = 0; hop < hops; ++hop) {
        for (PathState& p : paths) {
            for (int v = 0; v < solveLanes; ++v) {
                std::array<std::array<float, guardedFrameSize>, 3> frames{};
                for (int f = 0; f < 3; ++f) frame(v, hop + f, frames[static_cast<size_t>(f)].data());
                p.kernels->features(frames[0].data(), frames[1].data(), frames[2].data(), tables.freqPoly,
                                    p.features);
                const auto l = static_cast<size_t>(v);
                const HopWork work{p.amp[l].data(),      p.noiseFrac[l].data(), p.tonal[l].data(),
                                   p.coupling[l].data(), p.freq.data(),         p.phasor[l].data(),
                                   p.power.data(),       p.scratch.data(),      &p.extraBands};
                const VoiceBins bins{p.bins[l].data(), p.noise[l].data(), &p.seeds[l]};
                const float density = 0.25f * static_cast<float>(v % 5) - 0.5f;
                p.kernels->prepare(tables, p.features, frames[1].data(), density, hop == 0, bins, work);
                p.lanes[l] = {work.tonalWeight, work.couplingWeight, work.stepPhasor, p.bins[l].data()};
            }
            p.kernels->loadLanes(n, p.lanes.data(), *p.solve);
            p.kernels->solve(n, *p.solve, solveLanes);
            p.kernels->storeLanes(n, p.lanes.data(), *p.solve);
            for (int v = 0; v < solveLanes; ++v) {
                const auto l = static_cast<size_t>(v);
                p.kernels->finish(n, 0.25f * static_cast<float>(v % 5) - 0.5f, p.amp[l].data(),
                                  p.noiseFrac[l].data(),
                                  VoiceBins{p.bins[l].data(), p.noise[l].data(), &p.seeds[l]});
            }
        }
    }
    for (int v = 0; v < solveLanes; ++v) {
        const auto& base = paths[0].bins[static_cast<size_t>(v)];
        const auto& wide = paths[1].bins[static_cast<size_t>(v)];
        float largest = 0.0f, worst = 0.0f;
        for (int j = 0; j < n; ++j) {
            largest = std::max(largest, std::abs(base[static_cast<size_t>(j)]));
            worst = std::max(worst, std::abs(base[static_cast<size_t>(j)] - wide[static_cast<size_t>(j)]));
        }
        ASSERT_GT(largest, 0.0f) << v;
        EXPECT_LE(worst, 1e-5f * largest) << "voice " << v;
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, HopSynthesisPaths, ::testing::Values(8000.0, 44100.0, 48000.0, 192000.0));

// The strongest frequency of one steady band, lit alone, as the kernel and a bank without
// output filters play it for a second at 44.1 kHz.
double strongestHzOfBandAlone(int band) {
    constexpr double rate = 44100.0;
    EngineTables tables;
    EXPECT_TRUE(tables.prepare(rate));
    ResynthBank bank;
    bank.prepare(tables);
    const auto n = static_cast<size_t>(tables.binCount);
    std::vector<Complex> bins(n), noise(n), phasor(n);
    std::vector<float> amp(n), noiseFrac(n), tonal(n), coupling(n), freq(n), power(n), scratch(n);
    auto extraBands = std::make_unique<ExtraBinBands>();
    uint32_t seed = 1;
    const HopWork work{amp.data(),    noiseFrac.data(), tonal.data(),   coupling.data(), freq.data(),
                       phasor.data(), power.data(),     scratch.data(), extraBands.get()};
    std::array<float, guardedFrameSize> frame{};
    frame[static_cast<size_t>(band + 1)] = 1e-3f;
    setFrameGuards(frame.data());
    HopFeatures features{};
    computeHopFeatures(frame.data(), frame.data(), frame.data(), tables.freqPoly, features);
    std::vector<float> out;
    std::array<float, hopSize> piece{};
    for (int hop = 0; hop < static_cast<int>(rate) / hopSize; ++hop) {
        synthesizeVoiceHop(tables, features, frame.data(), 0.0f, hop == 0,
                           VoiceBins{bins.data(), noise.data(), &seed}, work);
        bank.addBands(bins.data());
        bank.addExtraBins(bins.data() + tables.bandCount);
        bank.hop();
        bool silent = false;
        const int count = bank.read(piece.data(), hopSize, silent);
        out.insert(out.end(), piece.begin(), piece.begin() + count);
    }
    const auto length = static_cast<int>(out.size());
    std::vector<fftwf_complex> spectrum(out.size() / 2 + 1);
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(length, out.data(), spectrum.data(), FFTW_ESTIMATE);
    fftwf_execute(plan);
    fftwf_destroy_plan(plan);
    size_t strongest = 0;
    double most = -1.0;
    for (size_t k = 0; k < spectrum.size(); ++k) {
        const double e = double(spectrum[k][0]) * spectrum[k][0] + double(spectrum[k][1]) * spectrum[k][1];
        if (e > most) {
            most = e;
            strongest = k;
        }
    }
    return static_cast<double>(strongest) * rate / length;
}

// A band lit alone plays within its own width. Band 0's peak estimate, from a guard that
// rises below it, put its tone at 12 Hz; the top band's frequency was read as 0 by the bins
// above 19 kHz, which moved its level to the bins of 1 kHz (and a hat's top to its mid
// octaves, which vanished at rates that have no bins up there).
TEST(HopSynthesis, ABandLitAlonePlaysWithinItsOwnWidth) {
    for (int band : {0, 1, 5, 30, 60, 78, 79}) {
        const double centre = plane::bandCentreHz(band);
        const double width = plane::bandWidthHz(band);
        // Half the band's width either side; above the resonator bands a bin (172 Hz) is the
        // finest step there is.
        const double tolerance = std::max(0.5 * width, 172.3);
        EXPECT_NEAR(strongestHzOfBandAlone(band), centre, tolerance) << "band " << band;
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
