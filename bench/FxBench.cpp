// Cost of every effect unit: nanoseconds per stereo frame, processing noise in place in
// blocks of one engine hop at 48 kHz with default parameters.

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "control/Param.h"
#include "effects/FxTypes.h"

namespace tarvo {
namespace {

constexpr float benchRate = 48000.0f;
constexpr int hopFrames = 64;

void unitCost(benchmark::State& state, const FxBase* prototype) {
    std::unique_ptr<FxBase> unit(prototype->create());
    Param params[2];
    unit->bindParams(params);
    unit->setSampleRate(benchRate);
    std::vector<float> left(hopFrames), right(hopFrames);
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> d(-0.5f, 0.5f);
    const std::vector<float> source = [&] {
        std::vector<float> s(hopFrames);
        for (float& v : s) v = d(rng);
        return s;
    }();
    for (auto _ : state) {
        left = source;
        right = source;
        float* io[2] = {left.data(), right.data()};
        unit->process(io, io, hopFrames);
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
    }
    // Seconds per stereo frame (shown with an SI prefix: "n" is nanoseconds).
    state.counters["perFrame"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * hopFrames,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

const bool registered = [] {
    for (const FxTypeList* list : {&sendFxTypes(), &mainFxTypes()})
        for (const FxBase* prototype : list->prototypes)
            benchmark::RegisterBenchmark((std::string("Fx/") + prototype->name()).c_str(), unitCost,
                                         prototype);
    return true;
}();

} // namespace
} // namespace tarvo
