#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "control/ParamLayout.h"
#include "effects/FxSlot.h"

namespace tarvo {
namespace {

// What the spy units saw; reset by every fixture.
struct SpyLog {
    std::atomic<int> created{0}, destroyed{0}, resets{0}, processes{0};
    // Process or reset calls on a unit that was not bound and rated, or was being destroyed.
    std::atomic<int> unconfiguredUse{0}, useWhileDying{0};
    // Units destroyed while the slot was not fully faded out.
    std::atomic<int> destroyedWhileAudible{0};
    std::atomic<const void*> dying{nullptr};
    const FxSlot* watchedSlot = nullptr;
    std::function<void()> onCreate, onDestroy;
    std::chrono::microseconds destroyDelay{0};
};
SpyLog* spyLog = nullptr;

// A unit that halves its input and reports how the slot drives it.
class SpyUnit : public FxBase {
public:
    SpyUnit(const char* unitName, float amountMax, float amountDefault)
        : name_(unitName), max_(amountMax), default_(amountDefault) {}
    ~SpyUnit() override {
        if (spyLog == nullptr || !counted_) return;
        spyLog->dying = this;
        if (spyLog->watchedSlot != nullptr &&
            (spyLog->watchedSlot->gain.load() != 0.0f || spyLog->watchedSlot->target.load() != 0.0f))
            ++spyLog->destroyedWhileAudible;
        if (spyLog->onDestroy) spyLog->onDestroy();
        if (spyLog->destroyDelay.count() > 0) std::this_thread::sleep_for(spyLog->destroyDelay);
        ++spyLog->destroyed;
        spyLog->dying = nullptr;
    }
    const char* name() const override { return name_; }
    void bindParams(Param* first) override {
        first[0].init(Param::Linear, 0, max_, 0, "%.1f", "Amount", default_, false, nullptr);
        first[1].init(Param::Linear, -1, 1, 0, "%.2f", "Other", 0, false, nullptr);
        FxBase::bindParams(first);
    }
    FxBase* create() const override {
        auto* unit = new SpyUnit(name_, max_, default_);
        unit->counted_ = true;
        if (spyLog != nullptr) {
            ++spyLog->created;
            if (spyLog->onCreate) spyLog->onCreate();
        }
        return unit;
    }
    void setSampleRate(float rate) override { rate_ = rate; }
    void process(float* const* in, float* const* out, int frames) noexcept override {
        check();
        ++spyLog->processes;
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < frames; ++i) out[c][i] = 0.5f * in[c][i];
    }
    void reset() noexcept override {
        check();
        ++spyLog->resets;
    }
    float rate() const { return rate_; }

private:
    void check() noexcept {
        if (params == nullptr || rate_ <= 0.0f) ++spyLog->unconfiguredUse;
        if (spyLog->dying.load() == this) ++spyLog->useWhileDying;
    }
    const char* name_;
    float max_, default_;
    float rate_ = 0.0f;
    bool counted_ = false;
};

const SpyUnit spyA("Spy A", 10, 5);
const SpyUnit spyB("Spy B", 4, 1);
const FxTypeList& spyList() {
    static const FxTypeList list{{&spyA, &spyB}, {"Spy A", "Spy B"}};
    return list;
}

struct StereoBus {
    explicit StereoBus(int frames, float value = 0.0f)
        : left(static_cast<size_t>(frames), value), right(left) {}
    float* const* ptr() {
        channels[0] = left.data();
        channels[1] = right.data();
        return channels;
    }
    std::vector<float> left, right;
    float* channels[2] = {};
};

StereoBus noise(int frames, unsigned seed, float scale = 0.8f) {
    StereoBus bus(frames);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-scale, scale);
    for (int i = 0; i < frames; ++i) {
        bus.left[static_cast<size_t>(i)] = d(rng);
        bus.right[static_cast<size_t>(i)] = d(rng);
    }
    return bus;
}

constexpr float rate44 = 44100.0f;

// Four slots on spy units, the first two sends, the last two the main chain.
class FxSlotFixture : public ::testing::Test {
protected:
    void SetUp() override {
        spyLog = &log;
        for (int s = 0; s < FxSlot::slotCount; ++s)
            slots[static_cast<size_t>(s)].define(s, slotParams(s), spyList());
        // Defining the parameters used throw-away units; count only what the slots do.
        log.created = 0;
        log.destroyed = 0;
    }
    void TearDown() override {
        EXPECT_EQ(log.unconfiguredUse.load(), 0);
        EXPECT_EQ(log.useWhileDying.load(), 0);
        EXPECT_EQ(log.destroyedWhileAudible.load(), 0);
        log.onCreate = nullptr;
        log.onDestroy = nullptr;
    }
    Param* slotParams(int s) { return params.data() + 4 * s; }
    Param& power(int s) { return slotParams(s)[fxPower]; }
    Param& type(int s) { return slotParams(s)[fxType]; }
    FxSlot& slot(int s) { return slots[static_cast<size_t>(s)]; }

    // One pass of the effect chain on a main bus with the sends silent.
    void runMain(StereoBus& bus, float rate = rate44) {
        StereoBus s1(static_cast<int>(bus.left.size())), s2(s1);
        runFxPass(slots, s1.ptr(), s2.ptr(), bus.ptr(), static_cast<int>(bus.left.size()), 120.0f, rate);
    }
    // Runs one-frame passes of a steady signal until slot s's gain stops moving; returns the count.
    int framesUntilSettled(int s, float rate) {
        for (int i = 1; i < 100000; ++i) {
            StereoBus bus(1, 0.25f);
            runMain(bus, rate);
            const float g = slot(s).gain.load();
            if (g == slot(s).target.load() && (g == 0.0f || g == 1.0f)) return i;
        }
        return -1;
    }
    void settle(float rate = rate44) {
        for (int s = 0; s < FxSlot::slotCount; ++s) framesUntilSettled(s, rate);
    }

    SpyLog log;
    std::vector<Param> params = std::vector<Param>(16);
    FxSlots slots;
};

TEST_F(FxSlotFixture, TypeChangeFadesOutSwapsAndFadesInFromCleanState) {
    std::atomic<uint8_t> keep{0};
    swapFxUnits(slots, rate44, keep);
    settle();
    ASSERT_EQ(slot(2).gain.load(), 1.0f);
    FxBase* old = slot(2).installedUnit();
    ASSERT_STREQ(old->name(), "Spy A");

    type(2).set(1);
    StereoBus first(64, 0.5f);
    runMain(first);
    const float g = slot(2).gain.load();
    EXPECT_GT(g, 0.0f);
    EXPECT_LT(g, 1.0f);
    // Still audible: the swap must wait for the fade to finish.
    EXPECT_FALSE(slot(2).swap(rate44, false));
    EXPECT_EQ(slot(2).installedUnit(), old);

    StereoBus rest(200, 0.5f);
    runMain(rest);
    EXPECT_EQ(slot(2).gain.load(), 0.0f);
    // Faded out, the slot passes the dry mix; Main 1 is silent here because Main 2 (Spy B
    // requested, Spy A installed) passes its input too.
    EXPECT_EQ(rest.left.back(), 0.5f);

    const int resetsBefore = log.resets.load();
    swapFxUnits(slots, rate44, keep);
    EXPECT_STREQ(slot(2).installedUnit()->name(), "Spy B");
    EXPECT_EQ(slot(2).typeIndex.load(), 1);
    EXPECT_EQ(log.destroyed.load(), 1);
    EXPECT_EQ(log.resets.load(), resetsBefore);

    StereoBus after(64, 0.5f);
    runMain(after);
    EXPECT_EQ(log.resets.load(), resetsBefore + 1); // the new unit starts from silence
    EXPECT_GT(slot(2).gain.load(), 0.0f);
    settle();
    StereoBus on(8, 0.5f);
    runMain(on);
    EXPECT_EQ(on.left[0], 0.25f); // fully processed by the new unit
}

TEST_F(FxSlotFixture, PowerFadesTakeAboutThreeMillisecondsAndRestartFromReset) {
    for (float rate : {22050.0f, 44100.0f, 96000.0f}) {
        SCOPED_TRACE(rate);
        std::atomic<uint8_t> keep{0};
        power(2).set(1);
        // A new rate: the slots fade out, then the units are re-rated.
        for (int tick = 0; tick < 2; ++tick) {
            swapFxUnits(slots, rate, keep);
            settle(rate);
        }
        const int expected = static_cast<int>(std::ceil((rate + 1.0f) / 300.0f));

        power(2).set(0);
        EXPECT_NEAR(framesUntilSettled(2, rate), expected, 2);
        EXPECT_EQ(slot(2).gain.load(), 0.0f);

        const int resets = log.resets.load();
        power(2).set(1);
        EXPECT_NEAR(framesUntilSettled(2, rate), expected, 2);
        EXPECT_EQ(log.resets.load(), resets + 1);
        EXPECT_EQ(slot(2).gain.load(), 1.0f);
    }
}

TEST_F(FxSlotFixture, MainSlotOffPassesBitExactAndMetersMatch) {
    struct Case {
        const char* name;
        float rate;
        bool install;
    };
    for (const Case& c : {Case{"no sample rate", 0.0f, false}, Case{"powered off", rate44, true}}) {
        SCOPED_TRACE(c.name);
        std::atomic<uint8_t> keep{0};
        if (c.install) swapFxUnits(slots, c.rate, keep);
        power(2).set(0);
        power(3).set(0);
        settle(c.rate);
        StereoBus bus = noise(64, 3);
        const StereoBus dry = bus;
        runMain(bus, c.rate);
        EXPECT_EQ(std::memcmp(bus.left.data(), dry.left.data(), 64 * sizeof(float)), 0);
        EXPECT_EQ(std::memcmp(bus.right.data(), dry.right.data(), 64 * sizeof(float)), 0);
        for (size_t ch = 0; ch < 2; ++ch) EXPECT_EQ(slot(3).outLevel[ch].load(), slot(3).inLevel[ch].load());
        if (c.install) {
            EXPECT_GT(slot(3).inLevel[0].load(), 0.0f);
        }
    }
}

TEST_F(FxSlotFixture, WithoutSampleRateNothingIsInstalledAndSendsAddNothing) {
    std::atomic<uint8_t> keep{1};
    swapFxUnits(slots, 0.0f, keep);
    EXPECT_EQ(log.created.load(), 0);
    EXPECT_EQ(keep.load(), 1); // still waiting for the units it should keep values for
    StereoBus s1 = noise(64, 1), s2 = noise(64, 2), mainBus = noise(64, 4);
    const StereoBus dry = mainBus;
    runFxPass(slots, s1.ptr(), s2.ptr(), mainBus.ptr(), 64, 120.0f, 0.0f);
    EXPECT_EQ(mainBus.left, dry.left);
    EXPECT_EQ(mainBus.right, dry.right);
    for (const FxSlot& s : slots) EXPECT_EQ(s.typeIndex.load(), FxSlot::noUnit);
}

TEST_F(FxSlotFixture, SendReturnsAreAddedAndOffSendsAreSkipped) {
    std::atomic<uint8_t> keep{0};
    power(0).set(1);
    power(1).set(0);
    power(2).set(0);
    power(3).set(0);
    swapFxUnits(slots, rate44, keep);
    for (int i = 0; i < 10; ++i) {
        StereoBus s1(64), s2(64), m(64);
        runFxPass(slots, s1.ptr(), s2.ptr(), m.ptr(), 64, 120.0f, rate44);
    }
    StereoBus s1(64, 0.5f), s2(64, 0.75f), m(64, 0.125f);
    runFxPass(slots, s1.ptr(), s2.ptr(), m.ptr(), 64, 120.0f, rate44);
    // Send 1 halves its bus into the mix; Send 2 is off and contributes nothing.
    EXPECT_EQ(m.left[10], 0.125f + 0.25f);
    EXPECT_EQ(m.right[63], 0.125f + 0.25f);
    EXPECT_NEAR(slot(0).outLevel[0].load(), 0.25f, 1e-6f);
    EXPECT_EQ(slot(1).inLevel[0].load(), 0.0f);
    EXPECT_EQ(slot(1).outLevel[0].load(), 0.0f);
}

TEST_F(FxSlotFixture, MetersRiseInstantlyAndFallWithFiftyMilliseconds) {
    std::atomic<uint8_t> keep{0};
    power(3).set(0);
    swapFxUnits(slots, rate44, keep);
    settle();
    StereoBus loud(64, 0.0f);
    loud.left[5] = -1.0f;
    runMain(loud);
    EXPECT_EQ(slot(2).inLevel[0].load(), 1.0f);
    // 50 ms of silence: the level falls to about 1/e.
    for (int i = 0; i < static_cast<int>(0.05f * rate44 / 64); ++i) {
        StereoBus quiet(64);
        runMain(quiet);
    }
    EXPECT_NEAR(slot(2).inLevel[0].load(), std::exp(-1.0f), 0.03f);
    for (int i = 0; i < 2000; ++i) {
        StereoBus quiet(64);
        runMain(quiet);
    }
    EXPECT_EQ(slot(2).inLevel[0].load(), 0.0f);
}

TEST_F(FxSlotFixture, LoadedUnitParameterValuesSurviveTheSwapOnlyWhenKept) {
    struct Case {
        int from, to;
        bool keep;
        const char* unit;
        float amount, other;
    };
    // Spy A's Amount reaches 10, Spy B's 4. A kept 8 is clamped by B; without keeping, the new
    // unit's defaults. Loaded while B (up to 4) is still installed, a kept 8 must reach A whole.
    for (const Case& c : {Case{0, 1, true, "Spy B", 4.0f, 0.5f}, Case{0, 1, false, "Spy B", 1.0f, 0.0f},
                          Case{1, 0, true, "Spy A", 8.0f, 0.5f}}) {
        SCOPED_TRACE(testing::Message() << c.from << " to " << c.to << " keep " << c.keep);
        std::atomic<uint8_t> keep{0};
        type(2).set(static_cast<float>(c.from));
        swapFxUnits(slots, rate44, keep);
        settle();
        // A state load: new type and unit values, then the flag.
        type(2).set(static_cast<float>(c.to));
        slotParams(2)[fxParam1].set(8);
        slotParams(2)[fxParam2].set(0.5f);
        keep = c.keep ? 1 : 0;
        settle();
        swapFxUnits(slots, rate44, keep);
        EXPECT_STREQ(slot(2).installedUnit()->name(), c.unit);
        EXPECT_EQ(slotParams(2)[fxParam1].value, c.amount);
        EXPECT_EQ(slotParams(2)[fxParam2].value, c.other);
        EXPECT_EQ(keep.load(), 0);
    }
}

TEST_F(FxSlotFixture, KeepFlagStaysUntilEverySlotHoldsItsType) {
    std::atomic<uint8_t> keep{0};
    swapFxUnits(slots, rate44, keep);
    settle();
    type(0).set(1); // Send 1 still audible, so it cannot swap on this tick
    keep = 1;
    swapFxUnits(slots, rate44, keep);
    EXPECT_EQ(keep.load(), 1);
    settle();
    swapFxUnits(slots, rate44, keep);
    EXPECT_EQ(keep.load(), 0);
}

TEST_F(FxSlotFixture, SampleRateChangeReRatesInstalledUnits) {
    std::atomic<uint8_t> keep{0};
    swapFxUnits(slots, rate44, keep);
    settle();
    auto* unit = static_cast<SpyUnit*>(slot(2).installedUnit());
    slotParams(2)[fxParam1].set(7);

    // The engine now runs at 96 kHz: the unit sized for 44.1 kHz must not run.
    const int processes = log.processes.load();
    StereoBus bus = noise(64, 9);
    const StereoBus dry = bus;
    runMain(bus, 96000.0f);
    EXPECT_EQ(log.processes.load(), processes);
    EXPECT_EQ(bus.left, dry.left);

    swapFxUnits(slots, 96000.0f, keep);
    EXPECT_EQ(slot(2).installedUnit(), unit);
    EXPECT_EQ(unit->rate(), 96000.0f);
    EXPECT_EQ(slot(2).sampleRate.load(), 96000.0f);
    EXPECT_EQ(slotParams(2)[fxParam1].value, 7.0f); // the user's setting stays
    const int resets = log.resets.load();
    StereoBus next(64, 0.5f);
    runMain(next, 96000.0f);
    EXPECT_EQ(log.resets.load(), resets + 2); // both main slots come back from silence
    EXPECT_GT(slot(2).gain.load(), 0.0f);
}

// "Type" set back to the installed unit while the swap routine is between its check and
// the destruction of the old unit: the audio thread must not revive the old unit.
TEST_F(FxSlotFixture, TypeSetBackDuringSwapNeverRevivesTheDoomedUnit) {
    struct Case {
        const char* name;
        bool duringCreate;
    };
    for (const Case& c : {Case{"while creating", true}, Case{"while destroying", false}}) {
        SCOPED_TRACE(c.name);
        std::atomic<uint8_t> keep{0};
        type(2).set(0);
        swapFxUnits(slots, rate44, keep);
        settle();
        log.watchedSlot = &slot(2);
        type(2).set(1);
        settle();
        // The audio thread runs a pass at the worst moment, with "Type" back on Spy A.
        std::function<void()> interleave = [this] {
            type(2).set(0);
            StereoBus bus(64, 0.5f);
            runMain(bus);
            StereoBus more(64, 0.5f);
            runMain(more);
        };
        (c.duringCreate ? log.onCreate : log.onDestroy) = interleave;
        swapFxUnits(slots, rate44, keep);
        log.onCreate = nullptr;
        log.onDestroy = nullptr;
        settle();
        swapFxUnits(slots, rate44, keep);
        settle();
        EXPECT_STREQ(slot(2).installedUnit()->name(), "Spy A");
        EXPECT_EQ(slot(2).gain.load(), 1.0f);
        log.watchedSlot = nullptr;
    }
}

TEST_F(FxSlotFixture, ConcurrentTypeFlipsAndSwapsStaySafe) {
    std::atomic<uint8_t> keep{0};
    swapFxUnits(slots, rate44, keep);
    log.watchedSlot = &slot(2);
    log.destroyDelay = std::chrono::microseconds(30);
    std::atomic<bool> running{true};
    std::thread audio([&] {
        StereoBus s1(64), s2(64), m(64, 0.5f);
        while (running.load()) {
            runFxPass(slots, s1.ptr(), s2.ptr(), m.ptr(), 64, 120.0f, rate44);
            // Like a host, leave gaps between blocks.
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    });
    std::mt19937 rng(7);
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::steady_clock::now() - start; };
    while (elapsed() < std::chrono::milliseconds(300) ||
           (log.destroyed.load() < 4 && elapsed() < std::chrono::seconds(5))) {
        type(2).set(static_cast<float>(rng() % 2));
        if (rng() % 3 == 0) type(2).set(static_cast<float>(rng() % 2));
        swapFxUnits(slots, rate44, keep);
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
    }
    running = false;
    audio.join();
    log.watchedSlot = nullptr;
    EXPECT_GT(log.destroyed.load(), 0);
}

TEST_F(FxSlotFixture, QuietSlotsSleepAfterTheTailAndWakeOnTheFirstSound) {
    std::atomic<uint8_t> keep{0};
    power(0).set(1);
    power(2).set(1);
    swapFxUnits(slots, rate44, keep);
    settle();
    // The spy keeps the default tail: asleep after that much quiet, not before.
    const int tailBlocks = static_cast<int>(spyA.tailSeconds() * rate44) / 64;
    const auto silentPass = [&] {
        StereoBus s1(64), s2(64), m(64);
        runFxPass(slots, s1.ptr(), s2.ptr(), m.ptr(), 64, 120.0f, rate44);
    };
    // Both slots hear a sound; from then on the whole tail must pass before they sleep.
    StereoBus heard1(64, 0.25f), heard2(64), heardMain(64, 0.25f);
    runFxPass(slots, heard1.ptr(), heard2.ptr(), heardMain.ptr(), 64, 120.0f, rate44);
    for (int b = 0; b < tailBlocks - 2; ++b) silentPass();
    EXPECT_FALSE(slot(0).asleep());
    EXPECT_FALSE(slot(2).asleep());
    for (int b = 0; b < 4; ++b) silentPass();
    ASSERT_TRUE(slot(0).asleep());
    ASSERT_TRUE(slot(2).asleep());

    // Asleep: nothing runs, a main slot passes what comes, a send returns nothing. An input
    // below the wake level counts as silence.
    const int processes = log.processes.load();
    StereoBus s1(64, 1e-9f), s2(64), m(64, 5e-9f);
    runFxPass(slots, s1.ptr(), s2.ptr(), m.ptr(), 64, 120.0f, rate44);
    EXPECT_EQ(log.processes.load(), processes);
    EXPECT_EQ(m.left[7], 5e-9f);

    // The first sound wakes both, from the start of the block.
    StereoBus s1Loud(64), s2Quiet(64), mLoud(64);
    s1Loud.left[40] = 0.5f;
    mLoud.right[63] = 0.25f;
    runFxPass(slots, s1Loud.ptr(), s2Quiet.ptr(), mLoud.ptr(), 64, 120.0f, rate44);
    EXPECT_FALSE(slot(0).asleep());
    EXPECT_FALSE(slot(2).asleep());
    // Send 1 halves its 0.5 into the mix, and Main 1 halves the sum; Main 2 is off.
    EXPECT_EQ(mLoud.left[40], 0.125f);
    EXPECT_EQ(mLoud.right[63], 0.125f);

    // A fade wakes a sleeping slot so that it can reach silence and take a new unit.
    for (int b = 0; b < tailBlocks + 2; ++b) silentPass();
    ASSERT_TRUE(slot(2).asleep());
    type(2).set(1);
    silentPass();
    EXPECT_FALSE(slot(2).asleep());
    EXPECT_GT(framesUntilSettled(2, rate44), 0);
    EXPECT_EQ(slot(2).gain.load(), 0.0f);
}

TEST(FxSlotSleep, TempoDelayKeepsItsEchoesThroughTheQuietBetweenThem) {
    // One click into the longest, slowest echo: two seconds of silence before it comes back.
    std::vector<Param> params(4);
    FxSlot slot;
    slot.define(0, params.data(), sendFxTypes());
    params[fxType].set(5);
    ASSERT_STREQ(sendFxTypes().names[5], "Tempo Delay");
    params[fxPower].set(1);
    ASSERT_TRUE(slot.swap(rate44, false));
    params[fxParam1].set(8);
    params[fxParam2].set(50);
    constexpr float tempo = 60.0f;
    const int total = static_cast<int>(3 * rate44);
    float loudest = 0.0f;
    bool slept = false;
    for (int done = 0; done < total; done += 64) {
        StereoBus bus(64);
        if (done == 64 * 100) bus.left[0] = bus.right[0] = 1.0f;
        slot.process(bus.ptr(), 64, rate44, tempo);
        slept = slept || slot.asleep();
        if (done > static_cast<int>(1.9 * rate44))
            for (int i = 0; i < 64; ++i)
                loudest = std::max({loudest, std::fabs(bus.left[static_cast<size_t>(i)]),
                                    std::fabs(bus.right[static_cast<size_t>(i)])});
    }
    // Before the click the fresh unit may sleep; after it the echo must still come.
    EXPECT_TRUE(slept);
    EXPECT_GT(loudest, 1e-3f);
}

TEST(FxSlotLists, TypeParametersListTheUnitsAndSlotsStartWithTheirDefaults) {
    std::vector<Param> params(16);
    FxSlots slots;
    for (int s = 0; s < FxSlot::slotCount; ++s)
        defineFxSlot(slots[static_cast<size_t>(s)], s, params.data() + 4 * s);
    struct Expect {
        int values;
        float power, type;
        const char *firstName, *param1, *param2;
        float default1;
    };
    const Expect expect[4] = {{8, 1, 0, "Chorus", "Depth", "Rate", 10},
                              {8, 0, 1, "Chorus", "Length", "Pre-delay", 50},
                              {6, 1, 0, "Sticky Compressor", "Gain", "Speed", 6},
                              {6, 0, 1, "Sticky Compressor", "Gain", "Speed", 6}};
    for (size_t s = 0; s < 4; ++s) {
        SCOPED_TRACE(s);
        const Param* p = params.data() + 4 * s;
        EXPECT_EQ(p[fxType].valueTextCount, expect[s].values);
        EXPECT_EQ(p[fxType].highest(), static_cast<float>(expect[s].values - 1));
        EXPECT_STREQ(p[fxType].valueTexts[0], expect[s].firstName);
        EXPECT_EQ(p[fxPower].value, expect[s].power);
        EXPECT_EQ(p[fxType].value, expect[s].type);
        EXPECT_STREQ(p[fxParam1].name, expect[s].param1);
        EXPECT_STREQ(p[fxParam2].name, expect[s].param2);
        EXPECT_EQ(p[fxParam1].value, expect[s].default1);
        char text[32];
        p[fxPower].formatValue(text, sizeof text);
        EXPECT_STREQ(text, expect[s].power > 0 ? "on" : "off");
    }
    char text[32];
    params[4 * 3 + fxType].formatValue(text, sizeof text);
    EXPECT_STREQ(text, "L.A. Optical");
    params[fxType].formatValue(text, sizeof text, 7);
    EXPECT_STREQ(text, "Stereo Fuzz");

    // Main 2 asks for the optical compressor, whose gain starts at 12 dB.
    std::atomic<uint8_t> keep{0};
    swapFxUnits(slots, rate44, keep);
    EXPECT_STREQ(slots[3].installedUnit()->name(), "L.A. Optical");
    EXPECT_EQ(params[4 * 3 + fxParam1].value, 12.0f);
    EXPECT_STREQ(slots[1].installedUnit()->name(), "Diffuser");
}

TEST(FxSlotLists, NamesMatchThePrototypes) {
    for (const FxTypeList* list : {&sendFxTypes(), &mainFxTypes()})
        for (int i = 0; i < list->size(); ++i) {
            std::unique_ptr<FxBase> unit(list->prototypes[static_cast<size_t>(i)]->create());
            EXPECT_STREQ(unit->name(), list->names[static_cast<size_t>(i)]);
        }
    const std::vector<std::string> send = {"Chorus",        "Diffuser",    "Plate Reverb", "Room Reverb",
                                           "Spring Reverb", "Tempo Delay", "Compressor",   "Stereo Fuzz"};
    const std::vector<std::string> main = {"Sticky Compressor", "L.A. Optical",   "Upward Compressor",
                                           "Limiter",           "Tape Simulator", "Transformer Amp"};
    EXPECT_EQ(std::vector<std::string>(sendFxTypes().names.begin(), sendFxTypes().names.end()), send);
    EXPECT_EQ(std::vector<std::string>(mainFxTypes().names.begin(), mainFxTypes().names.end()), main);
}

// Unit parameters belong to the instrument, never to the host: a swap must not expose them.
TEST(FxSlotLists, UnitParametersStayHiddenFromTheHost) {
    for (const FxTypeList* list : {&sendFxTypes(), &mainFxTypes()})
        for (const FxBase* prototype : list->prototypes) {
            std::unique_ptr<FxBase> unit(prototype->create());
            Param pair[2];
            unit->bindParams(pair);
            EXPECT_EQ(pair[0].hostIndex, -1) << unit->name();
            EXPECT_EQ(pair[1].hostIndex, -1) << unit->name();
        }
}

} // namespace
} // namespace tarvo
