// The hand-overs between the audio thread and the other threads, hammered from all sides at
// once: the audio thread renders while an editor thread edits notes, track lengths and the
// transport and restores host states, and a host thread automates parameters. Run under ThreadSanitizer this
// finds data races; in every build it checks that nothing the audio thread reads was moved or corrupted on
// the way.
//
// TARVO_STRESS_SECONDS sets the running time (default 2 s).

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "instrument/Ombrix.h"
#include "support/EngineDriver.h"

namespace tarvo {
namespace {

using testsupport::AudioDriver;
using testsupport::OutputBuffers;
using testsupport::TestRandom;
using testsupport::ValueRange;

// Default running time in seconds; the audio thread renders at least minBlocks either way.
constexpr double defaultSeconds = 2.0;
constexpr long minBlocks = 50;

double stressSeconds() {
    const char* text = std::getenv("TARVO_STRESS_SECONDS");
    const double v = text != nullptr ? std::atof(text) : 0.0;
    return v > 0.0 && std::isfinite(v) ? v : defaultSeconds;
}

TEST(HandoverStress, AudioThreadAgainstEditorAndHostThreads) {
    auto plugin = std::make_unique<Ombrix>();
    plugin->reset(44100.0f);
    {
        TestRandom random(3);
        testsupport::loadKit(*plugin, random);
        testsupport::fillPatterns(plugin->sequencer, random);
    }
    plugin->seqRunning.store(1);
    std::vector<const SeqNote*> noteStorage;
    for (const TrackPattern& pattern : plugin->sequencer.patterns)
        noteStorage.push_back(pattern.notes.data());

    std::atomic<bool> stop{false};
    std::atomic<long> editorSteps{0}, hostWrites{0}, stateLoads{0};
    std::thread editor([&] {
        TestRandom random(11);
        while (!stop.load(std::memory_order_relaxed)) {
            if (testsupport::editorStep(*plugin, random, ValueRange::valid)) {
                // A state load hands new note arrays over under the lock; edits from here on
                // must stay inside them.
                for (size_t t = 0; t < noteStorage.size(); ++t)
                    noteStorage[t] = plugin->sequencer.patterns[t].notes.data();
                stateLoads.fetch_add(1, std::memory_order_relaxed);
            }
            editorSteps.fetch_add(1, std::memory_order_relaxed);
        }
    });
    std::thread host([&] {
        TestRandom random(13);
        const int count = static_cast<int>(plugin->engine.hostParams.size());
        while (!stop.load(std::memory_order_relaxed) && count > 0) {
            plugin->engine.param(plugin->engine.hostParams[static_cast<size_t>(random.below(count))])
                .setNormalized(random.uniform());
            hostWrites.fetch_add(1, std::memory_order_relaxed);
            std::this_thread::yield();
        }
    });

    OutputBuffers out;
    AudioDriver driver(17);
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(stressSeconds());
    long blocks = 0;
    bool finite = true;
    while (blocks < minBlocks || std::chrono::steady_clock::now() < until) {
        finite = finite && std::isfinite(driver.renderBlock(*plugin, out).peak);
        ++blocks;
    }
    stop.store(true);
    editor.join();
    host.join();

    EXPECT_TRUE(finite);
    EXPECT_GT(editorSteps.load(), 0);
    EXPECT_GT(stateLoads.load(), 0);
    // The note arrays never moved since the last state load: every edit stayed within the
    // room reserved up front, so the audio thread never read freed memory.
    const StepSequencer& sequencer = plugin->sequencer;
    for (size_t t = 0; t < sequencer.patterns.size(); ++t) {
        const TrackPattern& pattern = sequencer.patterns[t];
        EXPECT_EQ(pattern.notes.data(), noteStorage[t]) << "track " << t;
        EXPECT_TRUE(std::is_sorted(pattern.notes.begin(), pattern.notes.end(),
                                   [](const SeqNote& a, const SeqNote& b) { return a.start < b.start; }))
            << "track " << t;
        EXPECT_GE(pattern.length, 1);
        EXPECT_LE(pattern.length, sequencer.loopSteps);
    }
}

} // namespace
} // namespace tarvo
