// Cost of the time-based effect units, in nanoseconds per stereo frame, on noise in
// 64-frame blocks at 48 kHz with default settings.

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "control/Param.h"
#include "effects/ChorusDelay.h"
#include "effects/PlateSpring.h"
#include "effects/RoomReverbs.h"

namespace {

using namespace tarvo;

template <class Unit> void perFrame(benchmark::State& state) {
    constexpr float sampleRate = 48000.0f;
    constexpr int block = 64;
    constexpr int blocks = 750; // one second
    Param params[2];
    Unit unit;
    unit.bindParams(params);
    unit.setSampleRate(sampleRate);
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    std::vector<float> left(block * blocks), right(block * blocks), outL(block), outR(block);
    for (size_t i = 0; i < left.size(); ++i) left[i] = noise(rng), right[i] = noise(rng);
    int b = 0;
    for (auto _ : state) {
        float* in[2] = {left.data() + b * block, right.data() + b * block};
        float* out[2] = {outL.data(), outR.data()};
        unit.process(in, out, block);
        benchmark::DoNotOptimize(outL.data());
        if (++b == blocks) b = 0;
    }
    state.SetItemsProcessed(state.iterations() * block);
    state.counters["ns/frame"] =
        benchmark::Counter(static_cast<double>(state.iterations() * block),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK_TEMPLATE(perFrame, FxChorus);
BENCHMARK_TEMPLATE(perFrame, FxTempoDelay);
BENCHMARK_TEMPLATE(perFrame, ReverbDiffuser);
BENCHMARK_TEMPLATE(perFrame, ReverbHall);
BENCHMARK_TEMPLATE(perFrame, ReverbPlate);
BENCHMARK_TEMPLATE(perFrame, ReverbSpring);

} // namespace
