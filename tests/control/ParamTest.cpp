#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "control/Param.h"

namespace tarvo {
namespace {

// Counts the listener calls a parameter makes.
struct CountingListener : Param::Listener {
    int calls = 0;
    void paramChanged() override { ++calls; }
};

std::string textOf(const Param& p, float x, int capacity = 64) {
    char text[64];
    p.formatValue(text, capacity, x);
    return text;
}

TEST(Param, FreshRecordIsEmpty) {
    const Param p;
    EXPECT_EQ(p.shape, Param::Linear);
    EXPECT_EQ(p.name, nullptr);
    EXPECT_EQ(p.listener, nullptr);
    EXPECT_EQ(p.index, -1);
    EXPECT_EQ(p.hostIndex, -1);
    EXPECT_EQ(p.min, 0.0f);
    EXPECT_EQ(p.max, 1.0f);
    EXPECT_EQ(p.value, 0.0f);
    EXPECT_EQ(p.snapCount, 0);
    EXPECT_EQ(p.isModulated, 0);
}

struct ShapeCase {
    const char* label;
    int shape;
    float min, max, curve;
    float normalized, plain;
};

TEST(Param, ShapesMapBothWays) {
    const ShapeCase cases[] = {
        {"linear", Param::Linear, -100, 100, 0, 0.25f, -50},
        {"power curve", Param::PowerCurve, 0, 4, 2, 0.5f, 1},
        {"power curve below 0", Param::PowerCurve, 0, 4, 2, -0.5f, -1},
        {"power curve offset", Param::PowerCurve, 0.01f, 10, 3, 1, 10},
        {"signed power negative", Param::SignedPower, -2, 2, 2, 0.25f, -1},
        {"signed power positive", Param::SignedPower, -2, 2, 2, 1, 4},
        {"exponential", Param::Exponential, 0.125f, 8, 0, 0.5f, 1},
        {"exponential top", Param::Exponential, 0.01f, 100, 0, 0.75f, 10},
        {"logarithmic", Param::Logarithmic, 1, 11, 2, 0.1f, 2 * std::log(2.0f)},
        {"stepped polyphony", Param::Stepped, 1, 4, 0, 0.5f, 3},
        {"stepped top", Param::Stepped, 0, 14, 0, 1, 14},
    };
    for (const ShapeCase& c : cases) {
        SCOPED_TRACE(c.label);
        Param p;
        p.init(c.shape, c.min, c.max, c.curve, nullptr, "x", c.min, false, nullptr);
        EXPECT_NEAR(p.fromNormalized(c.normalized), c.plain, 1e-4f);
        if (c.shape != Param::Stepped) {
            EXPECT_NEAR(p.toNormalized(c.plain), c.normalized, 1e-5f);
        }
    }
}

TEST(Param, SteppedRoundsToNearestAndUsesUnitSpanBelowOne) {
    Param p;
    p.init(Param::Stepped, 0, 10, 0, "%.0f", "Model", 0, false, nullptr);
    EXPECT_EQ(p.fromNormalized(0.34f), 3.0f); // 3.4 rounds down
    EXPECT_EQ(p.fromNormalized(0.36f), 4.0f); // 3.6 rounds up
    EXPECT_FLOAT_EQ(p.toNormalized(3), 0.3f);

    Param narrow;
    narrow.init(Param::Stepped, 0, 0.5f, 0, "%.0f", "Narrow", 0, false, nullptr);
    EXPECT_FLOAT_EQ(narrow.toNormalized(0.25f), 0.25f);
}

TEST(Param, UnknownShapeYieldsMinusOne) {
    Param p;
    p.init(Param::Linear, 0, 10, 0, nullptr, "x", 0, false, nullptr);
    p.shape = 6;
    testing::internal::CaptureStderr();
    EXPECT_EQ(p.fromNormalized(0.5f), -1.0f);
    EXPECT_EQ(p.toNormalized(5), -1.0f);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Warning: check is false!"), std::string::npos);
}

TEST(Param, SetTellsListenerOnlyOnChange) {
    CountingListener listener;
    Param p;
    p.init(Param::Linear, 0, 100, 0, "%.0f", "Clip", 0, true, nullptr);
    p.listener = &listener;

    p.set(0); // the current value
    EXPECT_EQ(listener.calls, 0);
    p.set(40);
    EXPECT_EQ(listener.calls, 1);
    EXPECT_EQ(p.value, 40.0f);

    p.set(1000); // clamped
    EXPECT_EQ(p.value, 100.0f);
    EXPECT_EQ(p.requested, 1000.0f);
    EXPECT_EQ(listener.calls, 2);

    p.set(500); // differs from value, clamps back to the same value: still told
    EXPECT_EQ(p.value, 100.0f);
    EXPECT_EQ(p.requested, 500.0f);
    EXPECT_EQ(listener.calls, 3);

    p.set(-5);
    EXPECT_EQ(p.value, 0.0f);
}

TEST(Param, SetClampsToMappedRangeWhateverItsDirection) {
    // A power curve whose plain range runs from 0.01 up: the lower bound is fromNormalized(0).
    Param p;
    p.init(Param::PowerCurve, 0.01f, 10, 3, "%.2f s", "Decay", 0.3f, false, nullptr);
    p.set(0);
    EXPECT_FLOAT_EQ(p.value, 0.01f);
    // Reversed range: min above max.
    Param reversed;
    reversed.init(Param::Linear, 10, -10, 0, nullptr, "Reversed", 0, false, nullptr);
    reversed.set(50);
    EXPECT_EQ(reversed.value, 10.0f);
    reversed.set(-50);
    EXPECT_EQ(reversed.value, -10.0f);
}

TEST(Param, SetNormalizedClampsAndReturnsValue) {
    Param p;
    p.init(Param::Linear, -100, 100, 0, nullptr, "Pan", 0, true, nullptr);
    EXPECT_EQ(p.setNormalized(0.75f), 50.0f);
    testing::internal::CaptureStderr();
    EXPECT_EQ(p.setNormalized(1.5f), 100.0f);
    EXPECT_EQ(p.setNormalized(-0.5f), -100.0f);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Warning: check is false!"), std::string::npos);
}

TEST(Param, NonFiniteValuesAreIgnored) {
    CountingListener listener;
    Param p;
    p.init(Param::Linear, 0, 100, 0, "%.0f", "Clip", 10, true, nullptr);
    p.listener = &listener;
    for (float bad : {NAN, INFINITY, -INFINITY}) {
        p.set(bad);
        EXPECT_EQ(p.setNormalized(bad), 10.0f);
        EXPECT_EQ(p.value, 10.0f);
        EXPECT_EQ(p.requested, 10.0f);
    }
    EXPECT_EQ(listener.calls, 0);
}

TEST(Param, InitDefinesAndRedefines) {
    Param p;
    p.init(Param::Linear, 0, 100, 0, "%.0f", "Width", 25, true, "Track 1");
    EXPECT_EQ(p.value, 25.0f);
    EXPECT_EQ(p.defaultValue, 25.0f);
    EXPECT_EQ(p.hostIndex, 0);
    EXPECT_STREQ(p.group, "Track 1");

    p.hostIndex = 17; // numbered by the owner; a redefinition keeps the number
    p.init(Param::Linear, 0, 48, 0, "%.0f dB", "Gain", 6, true, nullptr);
    EXPECT_EQ(p.hostIndex, 17);
    EXPECT_STREQ(p.group, "Track 1"); // a null group keeps the previous one
    EXPECT_EQ(p.value, 6.0f);
    EXPECT_STREQ(p.name, "Gain");

    p.init(Param::Linear, 0, 1, 0, nullptr, "Hidden", 0, false, "Global");
    EXPECT_EQ(p.hostIndex, -1);
    EXPECT_STREQ(p.group, "Global");
}

TEST(Param, SnapValuesStopAtTheLastPresentOne) {
    Param p;
    p.setSnapValues(0);
    EXPECT_EQ(p.snapCount, 1);
    p.setSnapValues(0, 100);
    EXPECT_EQ(p.snapCount, 2);
    EXPECT_EQ(p.snapValues[1], 100.0f);
    p.setSnapValues(-1, Param::noSnap, 3);
    EXPECT_EQ(p.snapCount, 3);
    EXPECT_EQ(p.snapValues[0], -1.0f);
    EXPECT_EQ(p.snapValues[1], 100.0f); // an absent value leaves its slot alone
    EXPECT_EQ(p.snapValues[2], 3.0f);
    // The marker as the literal callers may pass.
    p.setSnapValues(1, 1.0000000409184788e+35f);
    EXPECT_EQ(p.snapCount, 1);
}

TEST(Param, ValueTexts) {
    static const char* const targets[] = {"Global|Amp", "Track 3|Pan"};
    Param p;
    p.init(Param::Stepped, 0, 1, 0, "%.0f", "Target", 0, false, nullptr);
    p.setValueTexts(targets, 2);
    EXPECT_EQ(textOf(p, 0), "Global Amp");
    EXPECT_EQ(textOf(p, 1.7f), "Track 3 Pan"); // truncated to the entry
    EXPECT_EQ(textOf(p, 2), "2");              // beyond the list: the format
    EXPECT_EQ(textOf(p, -1), "-1");
    EXPECT_EQ(textOf(p, 1e30f), "1000000015047466219876688855040");
    EXPECT_EQ(textOf(p, NAN), "nan");
    EXPECT_EQ(textOf(p, 1, 6), "Track"); // cut to the capacity and terminated

    // Lists that start above zero index from min; values below min have no entry.
    static const char* const polyphony[] = {"one", "two"};
    Param q;
    q.init(Param::Stepped, 1, 2, 0, "%.0f", "Voices", 1, false, nullptr);
    q.setValueTexts(polyphony, 2);
    EXPECT_EQ(textOf(q, 2), "two");
    EXPECT_EQ(textOf(q, 0.5f), "0");
}

TEST(Param, FormatRules) {
    struct Case {
        const char* label;
        int shape;
        const char* format;
        float x;
        const char* text;
    };
    const Case cases[] = {
        {"switch off", Param::Stepped, "off|on", 0, "off"},
        {"switch on", Param::Stepped, "off|on", 1, "on"},
        {"two-word field", Param::Stepped, "Free|Frozen", 1, "Frozen"},
        {"field beyond the list", Param::Stepped, "off|on", 2, ""},
        {"bars only for steps", Param::Linear, "%.1f|x", 2, "2.0|x"},
        {"printf", Param::Linear, "%+.0f mel", 40, "+40 mel"},
        {"percent", Param::Linear, "%.0f%%", 25, "25%"},
        {"padded", Param::Linear, "%4.2f s", 10, "10.00 s"},
        {"no format", Param::Linear, nullptr, 0.5f, "0.500"},
        {"empty format", Param::Linear, "", 0.25f, "0.250"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Param p;
        p.init(c.shape, 0, 2, 0, c.format, "x", 0, false, nullptr);
        EXPECT_EQ(textOf(p, c.x), c.text);
    }
}

TEST(Param, CustomDisplays) {
    Param amp;
    amp.init(Param::PowerCurve, 0, 4, 2, nullptr, "Amp", 1, true, nullptr);
    amp.toText = formatDecibels;
    amp.fromText = decibelsToGain;
    EXPECT_EQ(textOf(amp, 1), "+0 dB");
    EXPECT_EQ(textOf(amp, 4), "+12 dB");
    EXPECT_EQ(textOf(amp, 0), "-inf dB");
    EXPECT_NEAR(amp.fromText(-6), 0.501f, 0.001f);
    EXPECT_EQ(textOf(amp, 0.5f, 4), "-6 "); // custom displays respect the capacity too

    Param pan;
    pan.init(Param::Linear, -100, 100, 0, "%.0f%%", "Pan", 0, true, nullptr);
    pan.toText = formatPan;
    EXPECT_EQ(textOf(pan, -30), "30 L");
    EXPECT_EQ(textOf(pan, 30), "30 R");
    EXPECT_EQ(textOf(pan, 0), "0  ");
    EXPECT_EQ(textOf(pan, 100), "100 R");
}

TEST(Param, HostName) {
    Param p;
    char text[Param::hostNameCapacity];
    p.init(Param::Linear, 0, 1, 0, nullptr, "Amount", 0, true, "Mod3");
    p.formatHostName(text, sizeof text);
    EXPECT_STREQ(text, "Mod3 Amount");
    Param bare;
    bare.init(Param::Linear, 0, 1, 0, nullptr, "BPM", 0, false, nullptr);
    bare.formatHostName(text, sizeof text);
    EXPECT_STREQ(text, "BPM");
}

TEST(Param, Modulation) {
    Param p;
    p.init(Param::Linear, 0, 100, 0, nullptr, "Transform", 40, true, nullptr);

    // Zero offsets leave the base value in force whatever modulatedValue holds.
    p.modulatedValue = 77;
    p.recompute();
    EXPECT_EQ(p.isModulated, 0);
    EXPECT_EQ(p.effective(), 40.0f);

    p.addModA(0.25f);
    p.addModB(0.5f);
    EXPECT_EQ(p.isModulated, 1);
    EXPECT_EQ(p.modRecomputed, 1);
    EXPECT_FLOAT_EQ(p.effective(), 115.0f); // not clamped to the range
    EXPECT_FLOAT_EQ(p.offsetFromDefault(), 0.75f);
    EXPECT_EQ(p.value, 40.0f); // modulation never touches the stored value

    p.addModA(-0.25f);
    p.addModB(-0.5f);
    EXPECT_EQ(p.isModulated, 0);
    EXPECT_EQ(p.modRecomputed, 1); // stays set until the next reset
    EXPECT_EQ(p.effective(), 40.0f);

    p.addModA(0.1f);
    p.resetModulation();
    EXPECT_EQ(p.isModulated, 0);
    EXPECT_EQ(p.modRecomputed, 0);
    EXPECT_EQ(p.modOffsetA, 0.0f);
    EXPECT_EQ(p.modOffsetB, 0.0f);
    EXPECT_EQ(p.modulatedValue, 40.0f);

    Param gain;
    gain.init(Param::PowerCurve, 0, 4, 2, nullptr, "Amp", 1, true, nullptr);
    gain.addModA(-1.0f); // normalized 0.5 - 1 = -0.5: a negative gain
    EXPECT_FLOAT_EQ(gain.effective(), -1.0f);
}

TEST(Param, StateBytes) {
    Param p;
    p.init(Param::Linear, 0, 100, 0, nullptr, "Clip", 1, true, nullptr);

    uint8_t bytes[6] = {};
    int position = 0;
    p.writeValue(bytes, position, sizeof bytes);
    EXPECT_EQ(position, 4);
    const uint8_t one[4] = {0x00, 0x00, 0x80, 0x3f}; // 1.0f, little-endian
    EXPECT_EQ(std::memcmp(bytes, one, 4), 0);

    p.addModA(0.5f); // the stored value is never the modulated one
    position = 2;
    p.writeValue(bytes, position, sizeof bytes);
    EXPECT_EQ(std::memcmp(bytes + 2, one, 4), 0);

    position = 4; // only two bytes left: nothing written, position still advances
    p.writeValue(bytes, position, sizeof bytes);
    EXPECT_EQ(position, 8);
    position = 0;
    p.writeValue(nullptr, position, 0);
    EXPECT_EQ(position, 4);

    const uint8_t sixtyFour[4] = {0x00, 0x00, 0x80, 0x42};
    position = 0;
    p.readValue(sixtyFour, position, 4, 3);
    EXPECT_EQ(p.value, 64.0f);
    EXPECT_EQ(position, 4);

    p.readValue(sixtyFour, position, 4, 3); // data ends early: value kept
    EXPECT_EQ(p.value, 64.0f);
    EXPECT_EQ(position, 8);

    const uint8_t notANumber[4] = {0x00, 0x00, 0xc0, 0x7f};
    position = 0;
    p.readValue(notANumber, position, 4, 3); // damaged data never becomes the value
    EXPECT_EQ(p.value, 64.0f);
    EXPECT_EQ(position, 4);
}

TEST(Param, StateOlderThanParameterGivesDefault) {
    CountingListener listener;
    Param p;
    p.init(Param::Linear, 0, 100, 0, nullptr, "New", 30, false, nullptr, 5);
    p.listener = &listener;
    p.set(80);
    listener.calls = 0;

    const uint8_t sixtyFour[4] = {0x00, 0x00, 0x80, 0x42};
    int position = 0;
    p.readValue(sixtyFour, position, 4, 4);
    EXPECT_EQ(p.value, 30.0f);
    EXPECT_EQ(p.requested, 30.0f);
    EXPECT_EQ(position, 0); // nothing consumed
    EXPECT_EQ(listener.calls, 0);

    p.readValue(sixtyFour, position, 4, 5);
    EXPECT_EQ(p.value, 64.0f);
    EXPECT_EQ(position, 4);

    position = 0;
    p.set(10);
    p.readValue(sixtyFour, position, 4, -1); // an unknown version reads the value
    EXPECT_EQ(p.value, 64.0f);
    EXPECT_EQ(position, 4);
}

} // namespace
} // namespace tarvo
