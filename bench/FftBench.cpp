// Cost of the engine's per-hop kernels: one 256-point inverse FFT, and one track bank hop
// with every bin filled at 44.1 kHz.
#include <benchmark/benchmark.h>

#include <array>
#include <vector>

#include "dsp/Fft.h"
#include "engine/EngineSetup.h"
#include "engine/ResynthBank.h"

namespace tarvo {
namespace {

void inverseFft256(benchmark::State& state) {
    Fft fft(8, 1);
    std::array<float, fftSize> spectrum{};
    std::array<float, fftSize> output{};
    for (size_t i = 0; i < spectrum.size(); ++i) spectrum[i] = static_cast<float>(i % 7) * 0.1f - 0.3f;
    for (auto _ : state) {
        fft.inverse(spectrum.data(), output.data());
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(inverseFft256);

void bankHop(benchmark::State& state) {
    EngineTables tables;
    tables.prepare(44100.0);
    ResynthBank bank;
    bank.prepare(tables);
    bank.setShelf(tables.sampleRate, ResynthBank::trackShelfHz, ResynthBank::trackShelfGain);
    const std::vector<Complex> bands(static_cast<size_t>(tables.bandCount), Complex(0.01f, 0.02f));
    const std::vector<Complex> extras(static_cast<size_t>(tables.extraCount), Complex(0.02f, -0.01f));
    std::array<float, hopSize> out{};
    for (auto _ : state) {
        bank.addBands(bands.data());
        bank.addExtraBins(extras.data());
        bank.hop();
        bool silent = false;
        bank.read(out.data(), hopSize, silent);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(bankHop);

} // namespace
} // namespace tarvo
