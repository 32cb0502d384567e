#include <gtest/gtest.h>

#include <string>

#include "control/SequencerParams.h"

namespace tarvo {
namespace {

TEST(SequencerParams, Definitions) {
    Param five[sequencerParamCount];
    defineSequencerParams(five);
    struct Case {
        int at;
        const char* name;
        int shape;
        float min, max, defaultValue;
        float shown;
        const char* text;
        int snapCount;
    };
    const Case cases[] = {
        {seqBpm, "BPM", Param::Linear, 1, 400, 120, 127.6f, "128", 0},
        {seqHostSync, "Host Sync", Param::Stepped, 0, 1, 0, 1, "on", 0},
        {seqSwing, "Swing", Param::Linear, -50, 50, 0, -12, "-12%", 1},
        {seqLooseTime, "Loose Time", Param::Linear, 0, 100, 0, 40, "40%", 0},
        {seqLooseVelo, "Loose Velo", Param::Linear, 0, 100, 0, 100, "100%", 0},
    };
    for (const Case& c : cases) {
        const Param& p = five[c.at];
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(p.name, c.name);
        EXPECT_EQ(p.shape, c.shape);
        EXPECT_EQ(p.min, c.min);
        EXPECT_EQ(p.max, c.max);
        EXPECT_EQ(p.value, c.defaultValue);
        EXPECT_EQ(p.group, nullptr);
        EXPECT_EQ(p.hostIndex, -1);
        EXPECT_EQ(p.listener, nullptr);
        EXPECT_EQ(p.snapCount, c.snapCount);
        char text[32];
        p.formatValue(text, sizeof text, c.shown);
        EXPECT_STREQ(text, c.text);
    }
    EXPECT_EQ(five[seqSwing].snapValues[0], 0.0f);
}

} // namespace
} // namespace tarvo
