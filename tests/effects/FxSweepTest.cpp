// Every unit a slot can hold, driven with silence, DC, full-scale noise, an impulse and
// one-frame blocks at several rates, with its parameters at their extremes and defaults in
// every combination: the output stays finite and bounded, and silence stays silent.

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "effects/FxTypes.h"
#include "effects/UnitHarness.h"

namespace tarvo {
namespace {

using testing::Stereo;
using testing::UnitHarness;

// Every unit a slot can hold. A unit outside the two lists joins with one more entry here.
std::vector<const FxBase*> sweptUnits() {
    std::vector<const FxBase*> units;
    for (const FxTypeList* list : {&sendFxTypes(), &mainFxTypes()})
        units.insert(units.end(), list->prototypes.begin(), list->prototypes.end());
    return units;
}

// Largest output magnitude accepted for inputs within +-1.
constexpr float outputBound = 16.0f;
// Long enough for the feedback of the delays and reverbs to build up.
constexpr float sweepSeconds = 0.5f;

struct Signal {
    const char* name;
    Stereo samples;
    int blockFrames;
};

std::vector<Signal> signals(float rate) {
    const size_t frames = static_cast<size_t>(rate * sweepSeconds);
    Stereo noise(frames);
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    for (size_t i = 0; i < frames; ++i) {
        noise.left[i] = d(rng);
        noise.right[i] = d(rng);
    }
    Stereo impulse(frames);
    impulse.left[0] = impulse.right[0] = 1.0f;
    Stereo dc(frames, 1.0f);
    for (float& v : dc.right) v = -1.0f;
    return {{"silence", Stereo(frames), 64},
            {"dc", dc, 64},
            {"noise", noise, 64},
            {"impulse", impulse, 64},
            {"one-frame blocks", noise, 1}};
}

class FxSweep : public ::testing::TestWithParam<const FxBase*> {};

TEST_P(FxSweep, StaysFiniteAndBoundedEverywhere) {
    const FxBase& prototype = *GetParam();
    for (float rate : {44100.0f, 48000.0f, 96000.0f}) {
        const std::vector<Signal> inputs = signals(rate);
        // The parameter extremes and defaults, in every combination.
        UnitHarness probe(prototype, rate, 0, 0);
        const float firsts[3] = {probe.params[0].lowest(), probe.params[0].defaultValue,
                                 probe.params[0].highest()};
        const float seconds[3] = {probe.params[1].lowest(), probe.params[1].defaultValue,
                                  probe.params[1].highest()};
        for (float first : firsts)
            for (float second : seconds)
                for (const Signal& signal : inputs) {
                    SCOPED_TRACE(::testing::Message()
                                 << rate << " Hz, " << first << " / " << second << ", " << signal.name);
                    UnitHarness h(prototype, rate, first, second);
                    const Stereo out = h.processed(signal.samples, signal.blockFrames);
                    float largest = 0.0f;
                    bool finite = true;
                    for (const std::vector<float>* channel : {&out.left, &out.right})
                        for (float v : *channel) {
                            finite = finite && std::isfinite(v);
                            largest = std::max(largest, std::fabs(v));
                        }
                    ASSERT_TRUE(finite);
                    ASSERT_LE(largest, outputBound);
                    if (std::string(signal.name) == "silence") {
                        ASSERT_EQ(largest, 0.0f);
                    }
                }
    }
}

INSTANTIATE_TEST_SUITE_P(AllUnits, FxSweep, ::testing::ValuesIn(sweptUnits()),
                         [](const ::testing::TestParamInfo<const FxBase*>& info) {
                             std::string name = std::to_string(info.index) + "_";
                             for (const char* c = info.param->name(); *c != '\0'; ++c)
                                 if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                             return name;
                         });

} // namespace
} // namespace tarvo
