// The audio thread never allocates, locks, sleeps or does I/O: the real-time guard counts
// every such call made inside an audio-thread scope while the plug-in renders under load.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "instrument/Ombrix.h"
#include "support/EngineDriver.h"
#include "support/RealtimeGuard.h"

namespace tarvo {
namespace {

using testsupport::AudioDriver;
using testsupport::AudioThreadScope;
using testsupport::OutputBuffers;
using testsupport::RealtimeGuard;
using testsupport::TestRandom;
using testsupport::ValueRange;
using testsupport::Violation;

// Keeps the optimiser from removing an allocation whose result is never used.
void escape(void* p) {
    asm volatile("" : : "g"(p) : "memory");
}

std::string guardReport() {
    char text[160];
    RealtimeGuard::describe(text, sizeof text);
    return text;
}

// ---- The guard itself ------------------------------------------------------------------------

struct ForbiddenCall {
    const char* name;
    Violation kind;
    std::function<void()> call;
    bool cAllocator = false; // a call of the C allocator
};

class RealtimeGuardTest : public ::testing::TestWithParam<ForbiddenCall> {};

TEST_P(RealtimeGuardTest, CountsTheCallOnlyInsideAnAudioThreadScope) {
    const ForbiddenCall& c = GetParam();
    if (c.cAllocator && !RealtimeGuard::countsCAllocator())
        GTEST_SKIP() << "the sanitizer's runtime owns the C allocator here";
    RealtimeGuard::clear();
    c.call();
    EXPECT_EQ(RealtimeGuard::count(c.kind), 0) << "outside a scope nothing counts";
    {
        AudioThreadScope scope;
        c.call();
    }
    EXPECT_GE(RealtimeGuard::count(c.kind), 1) << guardReport();
    EXPECT_NE(RealtimeGuard::firstCall(), nullptr);
    RealtimeGuard::clear();
}

std::mutex sharedMutex;

INSTANTIATE_TEST_SUITE_P(
    Calls, RealtimeGuardTest,
    ::testing::Values(ForbiddenCall{"new", Violation::allocation,
                                    [] {
                                        int* p = new int(3);
                                        escape(p);
                                        testsupport::AllowedScope allowed;
                                        delete p;
                                    }},
                      ForbiddenCall{"newArrayAligned", Violation::allocation,
                                    [] {
                                        struct alignas(64) Wide {
                                            float v[16];
                                        };
                                        auto* p = new Wide[2];
                                        escape(p);
                                        testsupport::AllowedScope allowed;
                                        delete[] p;
                                    }},
                      ForbiddenCall{"vectorGrowth", Violation::allocation,
                                    [] {
                                        std::vector<int> v;
                                        v.push_back(1);
                                        escape(v.data());
                                    }},
                      ForbiddenCall{"delete", Violation::deallocation,
                                    [] {
                                        int* p = nullptr;
                                        {
                                            testsupport::AllowedScope allowed;
                                            p = new int(4);
                                        }
                                        escape(p);
                                        delete p;
                                    }},
                      ForbiddenCall{"malloc", Violation::allocation,
                                    [] {
                                        void* p = std::malloc(24);
                                        escape(p);
                                        testsupport::AllowedScope allowed;
                                        std::free(p);
                                    },
                                    true},
                      ForbiddenCall{"calloc", Violation::allocation,
                                    [] {
                                        void* p = std::calloc(3, 8);
                                        escape(p);
                                        testsupport::AllowedScope allowed;
                                        std::free(p);
                                    },
                                    true},
                      ForbiddenCall{"realloc", Violation::allocation,
                                    [] {
                                        void* p = nullptr;
                                        {
                                            testsupport::AllowedScope allowed;
                                            p = std::malloc(8);
                                            escape(p);
                                        }
                                        p = std::realloc(p, 4096);
                                        escape(p);
                                        testsupport::AllowedScope allowed;
                                        std::free(p);
                                    },
                                    true},
                      ForbiddenCall{"posixMemalign", Violation::allocation,
                                    [] {
                                        void* p = nullptr;
                                        if (posix_memalign(&p, 64, 256) != 0) return;
                                        escape(p);
                                        testsupport::AllowedScope allowed;
                                        std::free(p);
                                    },
                                    true},
                      ForbiddenCall{"free", Violation::deallocation,
                                    [] {
                                        void* p = nullptr;
                                        {
                                            testsupport::AllowedScope allowed;
                                            p = std::malloc(16);
                                        }
                                        escape(p);
                                        std::free(p);
                                    },
                                    true},
                      ForbiddenCall{"mutexLock", Violation::mutexLock,
                                    [] {
                                        sharedMutex.lock();
                                        sharedMutex.unlock();
                                    }},
                      ForbiddenCall{"sleep", Violation::sleep,
                                    [] { std::this_thread::sleep_for(std::chrono::microseconds(1)); }},
                      ForbiddenCall{"logLine", Violation::fileOrConsoleIo,
                                    [] {
                                        FILE* f = nullptr;
                                        {
                                            testsupport::AllowedScope allowed;
                                            f = std::fopen("/dev/null", "wb");
                                        }
                                        if (f == nullptr) return;
                                        std::fputs("a log line\n", f);
                                        testsupport::AllowedScope allowed;
                                        std::fclose(f);
                                    }},
                      ForbiddenCall{"fileOpen", Violation::fileOrConsoleIo,
                                    [] {
                                        FILE* f = std::fopen("/dev/null", "rb");
                                        testsupport::AllowedScope allowed;
                                        if (f != nullptr) std::fclose(f);
                                    }}),
    [](const ::testing::TestParamInfo<ForbiddenCall>& info) { return std::string(info.param.name); });

TEST(RealtimeGuard, AllowsTryLockAndIgnoresOtherThreads) {
    RealtimeGuard::clear();
    {
        AudioThreadScope scope;
        if (sharedMutex.try_lock()) sharedMutex.unlock();
        // Another thread allocating and locking while this one is the audio thread.
        testsupport::AllowedScope allowed; // starting a thread allocates
        std::thread other([] {
            auto p = std::make_unique<int>(5);
            escape(p.get());
            const std::lock_guard<std::mutex> guard(sharedMutex);
        });
        other.join();
    }
    EXPECT_EQ(RealtimeGuard::total(), 0) << guardReport();
}

// ---- The plug-in under load ------------------------------------------------------------------

constexpr float sampleRate = 48000.0f;

class RealtimeSafety : public ::testing::Test {
protected:
    RealtimeSafety() {
        TestRandom random(7);
        plugin.reset(sampleRate); // a new rate prepares the engine: allowed to allocate
        testsupport::loadKit(plugin, random);
        testsupport::fillPatterns(plugin.sequencer, random);
        plugin.seqRunning.store(1);
        RealtimeGuard::clear();
    }

    // Renders blocks inside an audio-thread scope until `blocks` are done; returns the
    // largest peak seen. While it runs, `editorWork` (if any) repeats on a second thread.
    float render(AudioDriver& driver, int blocks, const std::function<void(TestRandom&)>& editorWork = {}) {
        std::atomic<bool> done{false};
        std::thread editor;
        if (editorWork)
            editor = std::thread([&] {
                TestRandom random(99);
                while (!done.load(std::memory_order_relaxed)) editorWork(random);
            });
        float peak = 0.0f;
        {
            AudioThreadScope scope;
            for (int b = 0; b < blocks; ++b) {
                const testsupport::BlockResult r = driver.renderBlock(plugin, out);
                peak = std::max(peak, r.peak);
                // A host resets at an unchanged rate when playback restarts.
                if (driver.random.chance(0.01f)) plugin.reset(sampleRate);
            }
        }
        done.store(true);
        if (editor.joinable()) editor.join();
        return peak;
    }

    Ombrix plugin;
    OutputBuffers out;
};

TEST_F(RealtimeSafety, EveryBlockSizeWithMidiAndTheSequencerRunning) {
    AudioDriver driver(1);
    // Every size from 1 to 64 once, then the driver's mix of host sizes up to 8192.
    {
        AudioThreadScope scope;
        for (int frames = 1; frames <= 64; ++frames)
            plugin.processBlock(out.channels(), OutputBuffers::channelCount, frames, driver.transport);
    }
    const float peak = render(driver, 200);
    EXPECT_EQ(RealtimeGuard::total(), 0) << guardReport();
    EXPECT_TRUE(std::isfinite(peak));
}

TEST_F(RealtimeSafety, HostSyncWithTransportChanges) {
    plugin.sequencer.param(StepSequencer::paramHostSync).set(1.0f);
    AudioDriver driver(2);
    driver.transport.playing = true;
    const float peak = render(driver, 200);
    EXPECT_EQ(RealtimeGuard::total(), 0) << guardReport();
    EXPECT_TRUE(std::isfinite(peak));
}

TEST_F(RealtimeSafety, ParameterChangesOnTheAudioThread) {
    // Hosts may deliver automation on the audio thread itself, inside the block callback.
    AudioDriver driver(3);
    OutputBuffers& buffers = out;
    TestRandom random(5);
    {
        AudioThreadScope scope;
        for (int b = 0; b < 150; ++b) {
            for (int i = 0; i < 20; ++i) {
                Param& p = plugin.engine.param(random.below(static_cast<int>(plugin.engine.params.size())));
                p.setNormalized(random.uniform());
            }
            driver.renderBlock(plugin, buffers);
        }
    }
    EXPECT_EQ(RealtimeGuard::total(), 0) << guardReport();
}

TEST_F(RealtimeSafety, WhileTheEditorAndHostChangeThingsOnAnotherThread) {
    AudioDriver driver(4);
    const float peak = render(driver, 300, [this](TestRandom& random) {
        testsupport::editorStep(plugin, random, ValueRange::valid);
    });
    EXPECT_EQ(RealtimeGuard::total(), 0) << guardReport();
    EXPECT_TRUE(std::isfinite(peak));
}

} // namespace
} // namespace tarvo
