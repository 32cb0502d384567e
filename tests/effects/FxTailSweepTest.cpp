// The time-based units at the edges: the lowest and highest rates, modulation past the ends
// of the ranges; their longest tails must die away, and a decaying tail must cost no more
// than the signal did.

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <functional>
#include <random>
#include <string>

#include "effects/ChorusDelay.h"
#include "effects/PlateSpring.h"
#include "effects/RoomReverbs.h"
#include "effects/UnitHarness.h"

namespace tarvo {
namespace {

using testing::Stereo;
using testing::UnitHarness;

struct UnitCase {
    std::string name;
    std::function<FxBase*()> create;
    // Settings (plain values) with the longest tail that still dies away, and how many
    // seconds of silence that tail may take to fall below -80 dB.
    float longFirst, longSecond;
    float decaySeconds;
};

std::vector<UnitCase> units() {
    return {
        {"Chorus", [] { return new FxChorus(); }, 100.0f, 10.0f, 3.0f},
        // 1 dB lost per round at full feedback, one round per second.
        {"TempoDelay", [] { return new FxTempoDelay(); }, 8.0f, 100.0f, 150.0f},
        {"Diffuser", [] { return new ReverbDiffuser(); }, 100.0f, 300.0f, 4.5f},
        {"Room", [] { return new ReverbHall(); }, 100.0f, 50.0f, 30.0f},
        {"Plate", [] { return new ReverbPlate(); }, 100.0f, 100.0f, 45.0f},
        {"Spring", [] { return new ReverbSpring(); }, 100.0f, 50.0f, 60.0f},
    };
}

const float sampleRates[] = {44100.0f, 48000.0f, 96000.0f};

// Full-scale stereo noise.
Stereo makeNoise(size_t frames, uint32_t seed) {
    Stereo audio(frames);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    for (size_t i = 0; i < frames; ++i) {
        audio.left[i] = noise(rng);
        audio.right[i] = noise(rng);
    }
    return audio;
}

void expectFiniteAndBounded(const Stereo& audio, const std::string& what) {
    for (size_t i = 0; i < audio.size(); ++i) {
        ASSERT_TRUE(std::isfinite(audio.left[i]) && std::isfinite(audio.right[i])) << what << " frame " << i;
        ASSERT_LT(std::max(std::abs(audio.left[i]), std::abs(audio.right[i])), 32.0f)
            << what << " frame " << i;
    }
}

TEST(FxTailSweep, RunsAtTheLowestAndHighestRates) {
    for (const UnitCase& u : units()) {
        for (float sr : {8000.0f, 384000.0f}) {
            for (float position : {0.0f, 1.0f}) {
                for (int block : {1, 64}) {
                    UnitHarness unit(u.create(), sr);
                    unit.params[0].setNormalized(position);
                    unit.params[1].setNormalized(position);
                    Stereo audio = makeNoise(static_cast<size_t>(1.25f * sr), 6);
                    unit.run(audio, block);
                    const std::string what = u.name + " at " + std::to_string(static_cast<int>(sr)) +
                                             " Hz, block " + std::to_string(block);
                    expectFiniteAndBounded(audio, what);
                    EXPECT_GT(testing::peak(audio), 1e-3f) << what;
                }
            }
        }
    }
}

TEST(FxTailSweep, ExtremeModulationStaysFiniteAndBounded) {
    // Modulation may carry a value past either end of its range.
    for (const UnitCase& u : units()) {
        for (float offset : {-1.0f, 1.0f}) {
            UnitHarness unit(u.create(), 44100.0f);
            unit.params[0].addModA(offset);
            unit.params[1].addModA(offset);
            Stereo audio = makeNoise(44100, 2);
            unit.run(audio);
            expectFiniteAndBounded(audio, u.name + " modulated by " + std::to_string(offset));
        }
    }
}

TEST(FxTailSweep, LongestTailsDieAway) {
    for (const UnitCase& u : units()) {
        for (float sr : sampleRates) {
            UnitHarness unit(u.create(), sr);
            unit.set(u.longFirst, u.longSecond);
            Stereo noise = makeNoise(static_cast<size_t>(0.5f * sr), 3);
            unit.run(noise);
            // Longer than the longest echo period, so a window never falls between echoes.
            const size_t window = static_cast<size_t>(1.5f * sr);
            float level = 1.0f;
            float seconds = 0.0f;
            for (; seconds < u.decaySeconds && level > 1e-4f; seconds += 1.5f) {
                const Stereo tail = unit.runSilence(window);
                expectFiniteAndBounded(tail, u.name);
                level = testing::peak(tail);
            }
            EXPECT_LE(level, 1e-4f) << u.name << " at " << sr << " Hz still at " << level << " after "
                                    << seconds << " s";
        }
    }
}

TEST(FxTailSweep, ResetLeavesSilence) {
    for (const UnitCase& u : units()) {
        UnitHarness unit(u.create(), 48000.0f);
        unit.set(u.longFirst, u.longSecond);
        Stereo noise = makeNoise(48000, 4);
        unit.run(noise);
        unit.unit->reset();
        EXPECT_EQ(testing::peak(unit.runSilence(96000)), 0.0f) << u.name;
    }
}

// CPU time of the calling thread: what other programs on a busy machine do meanwhile does
// not count in it.
double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Least CPU time over a few tries of processing `source` in 64-frame blocks.
double fastestRun(UnitHarness& unit, const Stereo& source, int tries) {
    double best = 1e9;
    for (int t = 0; t < tries; ++t) {
        Stereo audio = source;
        const double start = threadCpuSeconds();
        unit.run(audio);
        best = std::min(best, threadCpuSeconds() - start);
    }
    return best;
}

TEST(FxTailSweep, DecayingTailsCostNoMoreThanSignal) {
    const float sr = 44100.0f;
    for (const UnitCase& u : units()) {
        UnitHarness unit(u.create(), sr);
        // Short settings let the tail reach the tiniest magnitudes within seconds.
        unit.params[0].setNormalized(0.0f);
        const Stereo noise = makeNoise(static_cast<size_t>(0.5f * sr), 5);
        const double signal = fastestRun(unit, noise, 5);
        unit.runSilence(static_cast<size_t>(8.0f * sr));
        const Stereo silence(static_cast<size_t>(0.5f * sr));
        const double tail = fastestRun(unit, silence, 5);
        EXPECT_LT(tail, 1.5 * signal)
            << u.name << ": tail " << tail * 1e3 << " ms, signal " << signal * 1e3 << " ms";
    }
}

} // namespace
} // namespace tarvo
