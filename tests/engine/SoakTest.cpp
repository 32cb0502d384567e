// Long random run of the whole plug-in: every host parameter automated with values in and
// far outside their ranges (NaN and infinities included), MIDI on every channel, block sizes
// from 1 to 8192 and sample-rate changes between 22050 and 192000 Hz. The output must stay
// finite and below a fixed peak.
//
// CI runs a few seconds; TARVO_SOAK_SECONDS=3600 runs an hour. TARVO_SOAK_SEED picks another
// random sequence; a failure names the seed and block so that it can be replayed.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "instrument/Ombrix.h"
#include "support/EngineDriver.h"

namespace tarvo {
namespace {

using testsupport::AudioDriver;
using testsupport::OutputBuffers;
using testsupport::TestRandom;
using testsupport::ValueRange;

// Largest output sample accepted, 60 dB over full scale: gains at their maxima on every track
// stay far below it, while a runaway filter or feedback path passes it within a second.
constexpr float peakLimit = 1000.0f;
// Default running time in seconds.
constexpr double defaultSeconds = 3.0;
// Rates a host may switch to; a random rate in between is also tried.
constexpr float hostRates[] = {22050.0f, 32000.0f, 44100.0f,  48000.0f,
                               88200.0f, 96000.0f, 176400.0f, 192000.0f};
constexpr float lowestRate = 22050.0f, highestRate = 192000.0f;

double envNumber(const char* name, double fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    return end != text && std::isfinite(v) && v > 0.0 ? v : fallback;
}

TEST(Soak, OutputStaysFiniteAndBoundedUnderRandomAutomationMidiBlocksAndRates) {
    const double seconds = envNumber("TARVO_SOAK_SECONDS", defaultSeconds);
    const auto seed = static_cast<uint32_t>(envNumber("TARVO_SOAK_SEED", 20240611.0));
    SCOPED_TRACE(::testing::Message() << "seed " << seed);

    auto plugin = std::make_unique<Ombrix>();
    OutputBuffers out;
    AudioDriver driver(seed);
    driver.midiPerBlock = 12;
    TestRandom random(seed ^ 0x9e3779b9u);
    float rate = 44100.0f;
    plugin->reset(rate);
    testsupport::loadKit(*plugin, random);
    testsupport::fillPatterns(plugin->sequencer, random);
    plugin->seqRunning.store(1);

    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    long block = 0;
    double renderedSeconds = 0.0;
    float worst = 0.0f;
    while (std::chrono::steady_clock::now() < until) {
        ++block;
        // Automation between blocks, as hosts deliver it.
        const int writes = random.below(24);
        for (int i = 0; i < writes; ++i) testsupport::editorStep(*plugin, random, ValueRange::hostile);
        if (random.chance(0.05f)) {
            Param& sync = plugin->sequencer.param(StepSequencer::paramHostSync);
            sync.set(sync.value > 0.0f ? 0.0f : 1.0f);
        }
        if (random.chance(0.004f)) {
            rate = random.chance(0.7f) ? hostRates[random.below(static_cast<int>(std::size(hostRates)))]
                                       : lowestRate + random.uniform() * (highestRate - lowestRate);
            plugin->reset(rate);
            plugin->idleTick(); // effect units follow the new rate
        }
        const testsupport::BlockResult r = driver.renderBlock(*plugin, out);
        renderedSeconds += r.frames / static_cast<double>(rate);
        worst = std::max(worst, r.peak);
        ASSERT_TRUE(std::isfinite(r.peak))
            << "block " << block << " of " << r.frames << " frames at " << rate << " Hz";
        ASSERT_LE(r.peak, peakLimit) << "block " << block << " of " << r.frames << " frames at " << rate
                                     << " Hz";
    }
    RecordProperty("blocks", static_cast<int>(block));
    RecordProperty("renderedSeconds", static_cast<int>(renderedSeconds));
    RecordProperty("peak", std::to_string(worst));
    EXPECT_GT(block, 0);
}

} // namespace
} // namespace tarvo
