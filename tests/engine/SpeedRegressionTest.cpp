// Guards the engine's speed: the worst-case real-time factor (32 voices, every effect slot on
// with its costliest unit) times the time of a fixed arithmetic kernel, both measured in the
// same run, must not fall more than 20 % below the stored baseline. The product cancels the
// machine's speed, so the check also holds on a slower or busier machine of the same kind.
//
// Rewrite the baseline (after a deliberate change, or for a new kind of machine) with
// TARVO_WRITE_SPEED_BASELINE=1 ctest -R SpeedRegression.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "bench/scenes/KitScenes.h"

namespace tarvo {
namespace {

constexpr const char* baselinePath = TARVO_SOURCE_DIR "/tests/engine/golden/worst_case_speed.txt";
// Largest loss accepted against the baseline.
constexpr double allowedLoss = 0.2;
// Paired measurements per attempt; the median of their ratios counts.
constexpr int roundsPerAttempt = 5;
// A failing attempt is measured again this many times before the verdict.
constexpr int attempts = 3;
// Audio rendered per measurement of the worst case, seconds.
constexpr double worstCaseSeconds = 0.4;
// The reference kernel's slowest run may exceed its fastest by this share on a quiet machine;
// beyond it the machine is busy enough to disturb the engine's timing too.
constexpr double quietSpread = 0.25;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Attempt {
    double ratio;  // median of real-time factor times kernel seconds
    double spread; // (slowest - fastest) / fastest kernel run
};

Attempt measure() {
    std::vector<double> ratios, kernels;
    for (int r = 0; r < roundsPerAttempt; ++r) {
        const double kernel = scenes::referenceKernelSeconds();
        const double factor = scenes::realtimeFactor(scenes::Load::worst, 44100.0f, 512, worstCaseSeconds);
        kernels.push_back(kernel);
        ratios.push_back(factor * kernel);
    }
    const auto [fastest, slowest] = std::minmax_element(kernels.begin(), kernels.end());
    return {median(ratios), (*slowest - *fastest) / *fastest};
}

// Sanitizers slow the engine and the kernel by different factors.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool timingsMeanSomething = false;
#else
constexpr bool timingsMeanSomething = true;
#endif

TEST(SpeedRegression, WorstCaseKeepsItsSpeedAgainstTheReferenceKernel) {
    if (!timingsMeanSomething) GTEST_SKIP() << "timings under a sanitizer say nothing about speed";
    Attempt attempt = measure();
    if (const char* write = std::getenv("TARVO_WRITE_SPEED_BASELINE"); write != nullptr && *write == '1') {
        std::ofstream(baselinePath) << attempt.ratio << "\n";
        GTEST_SKIP() << "baseline written: " << attempt.ratio;
    }
    double baseline = 0.0;
    std::ifstream(baselinePath) >> baseline;
    ASSERT_GT(baseline, 0.0) << "no baseline in " << baselinePath;

    const double floor = (1.0 - allowedLoss) * baseline;
    for (int a = 1; a < attempts && attempt.ratio < floor; ++a) attempt = measure();
    RecordProperty("ratioToBaseline", std::to_string(attempt.ratio / baseline));
    if (attempt.ratio < floor && attempt.spread > quietSpread)
        GTEST_SKIP() << "machine too busy to judge: the reference kernel's runs differ by "
                     << 100.0 * attempt.spread << " %; ratio " << attempt.ratio / baseline
                     << " of the baseline";
    EXPECT_GE(attempt.ratio, floor) << "worst case runs at " << 100.0 * attempt.ratio / baseline
                                    << " % of its baseline speed";
}

} // namespace
} // namespace tarvo
