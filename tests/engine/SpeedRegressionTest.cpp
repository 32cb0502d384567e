// Guards the engine's speed: the worst-case real-time factor (32 voices, every effect slot on
// with its costliest unit) times the time of a fixed arithmetic kernel, both measured in the
// same run, must not fall more than 20 % below the stored baseline. The product cancels the
// machine's speed. Both are measured in the thread's own CPU time and the best of several
// runs counts: other programs on a busy machine only ever make a run slower, so the best run
// stays close to the undisturbed figure and the check holds on a loaded machine too.
//
// The engine is measured on the vector path it takes by default, the one a user's processor
// runs (AVX2 where it has it), and compared with that path's baseline: one line per path in
// the baseline file. Rewrite the current path's line (after a deliberate change, or for a new
// kind of machine) with TARVO_WRITE_SPEED_BASELINE=1 ctest -R SpeedRegression; with
// TARVO_VECTOR_PATH=baseline as well for the baseline path's line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "bench/scenes/KitScenes.h"
#include "engine/VectorPath.h"

namespace tarvo {
namespace {

constexpr const char* baselinePath = TARVO_SOURCE_DIR "/tests/engine/golden/worst_case_speed.txt";
// Largest loss accepted against the baseline.
constexpr double allowedLoss = 0.2;
// Runs of the engine and of the kernel per attempt; the best of each counts.
constexpr int roundsPerAttempt = 5;
// A failing attempt is measured again this many times before the verdict, keeping the best
// runs of all attempts.
constexpr int attempts = 3;
// Audio rendered per measurement of the worst case, seconds.
constexpr double worstCaseSeconds = 0.4;

// The best real-time factor and the shortest kernel time seen so far; their product is the
// figure compared with the baseline.
struct BestRuns {
    double factor = 0.0;
    double kernel = 1e9;
    double ratio() const { return factor * kernel; }
};

void measure(BestRuns& best) {
    for (int r = 0; r < roundsPerAttempt; ++r) {
        best.kernel = std::min(best.kernel, scenes::referenceKernelSeconds());
        best.factor = std::max(best.factor,
                               scenes::realtimeFactor(scenes::Load::worst, 44100.0f, 512, worstCaseSeconds));
    }
}

const char* pathName(VectorPath path) {
    return path == VectorPath::avx2 ? "avx2" : "baseline";
}

// The baseline file: a path's name and its figure on each line.
std::map<std::string, double> readBaselines() {
    std::map<std::string, double> baselines;
    std::ifstream file(baselinePath);
    std::string name;
    double figure = 0.0;
    while (file >> name >> figure) baselines[name] = figure;
    return baselines;
}

// Sanitizers slow the engine and the kernel by different factors.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool timingsMeanSomething = false;
#else
constexpr bool timingsMeanSomething = true;
#endif

TEST(SpeedRegression, WorstCaseKeepsItsSpeedAgainstTheReferenceKernel) {
    if (!timingsMeanSomething) GTEST_SKIP() << "timings under a sanitizer say nothing about speed";
    const char* path = pathName(defaultVectorPath());
    BestRuns best;
    measure(best);
    std::map<std::string, double> baselines = readBaselines();
    if (const char* write = std::getenv("TARVO_WRITE_SPEED_BASELINE"); write != nullptr && *write == '1') {
        baselines[path] = best.ratio();
        std::ofstream file(baselinePath);
        for (const auto& [name, figure] : baselines) file << name << " " << figure << "\n";
        GTEST_SKIP() << "baseline of the " << path << " path written: " << best.ratio();
    }
    const double baseline = baselines.count(path) != 0 ? baselines[path] : 0.0;
    ASSERT_GT(baseline, 0.0) << "no baseline for the " << path << " path in " << baselinePath;

    const double floor = (1.0 - allowedLoss) * baseline;
    for (int a = 1; a < attempts && best.ratio() < floor; ++a) measure(best);
    RecordProperty("vectorPath", path);
    RecordProperty("ratioToBaseline", std::to_string(best.ratio() / baseline));
    EXPECT_GE(best.ratio(), floor) << "worst case on the " << path << " path runs at "
                                   << 100.0 * best.ratio() / baseline << " % of its baseline speed";
}

} // namespace
} // namespace tarvo
