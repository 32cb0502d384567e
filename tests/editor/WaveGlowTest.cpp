#include "editor/WaveGlow.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarvo {
namespace {

constexpr int slices = 12;

std::vector<float> flat(float level) {
    return std::vector<float>(slices, level);
}

TEST(WaveGlow, APlayheadLightsItsNeighbourhoodAndFades) {
    WaveGlow glow;
    glow.addPlayhead(slices, 0.5f, 0.0f, 1.0f);
    // Playhead at slice 6, reach 2: slices 5..7 get (1 - t²)², slice 6 the full intensity.
    EXPECT_FLOAT_EQ(glow[6], 1.0f);
    EXPECT_FLOAT_EQ(glow[5], 0.5625f);
    EXPECT_FLOAT_EQ(glow[7], 0.5625f);
    EXPECT_EQ(glow[4], 0.0f);
    EXPECT_EQ(glow[8], 0.0f);

    const std::vector<float> v = flat(0.5f);
    std::vector<float> lit(slices + 1);
    const float added = glow.light(v.data(), slices, 10.0, lit.data());
    EXPECT_FLOAT_EQ(lit[6], 0.5f + 0.5f * 1.0f / 2.0f);
    EXPECT_FLOAT_EQ(lit[0], 0.5f);
    EXPECT_EQ(lit[slices], 0.0f);
    EXPECT_FLOAT_EQ(added, 0.25f * (1.0f + 2 * 0.5625f));
    EXPECT_TRUE(glow.glowing());

    // A fraction of a second later the glow is gone.
    glow.light(v.data(), slices, 10.5, lit.data());
    EXPECT_FALSE(glow.glowing() && glow[6] > 0.0f);
    glow.light(v.data(), slices, 10.6, lit.data());
    EXPECT_FALSE(glow.glowing());
    EXPECT_EQ(lit[6], 0.5f);
}

TEST(WaveGlow, WhileGlowingAVoiceLeavesATrail) {
    WaveGlow glow;
    glow.addPlayhead(slices, 0.1f, 0.0f, 1.0f);
    std::vector<float> lit(slices + 1);
    const std::vector<float> v = flat(0.5f);
    glow.light(v.data(), slices, 0.0, lit.data());
    ASSERT_TRUE(glow.glowing());
    glow.addPlayhead(slices, 0.5f, 0.0f, 1.0f);
    // Slice 5 lies behind the playhead at 6: full intensity while glowing.
    EXPECT_GT(glow[5], 1.0f - 1e-6f);
    EXPECT_EQ(glow[3], 0.0f) << "beyond the reach";
}

TEST(WaveGlow, OutlineEndsWhereItsTailFadesOut) {
    struct Case {
        std::vector<float> y;
        float end;
    };
    const Case cases[] = {
        {{0.5f, 0.5f, 0.5f}, 3.0f - 0.001f / 0.25f},
        {{0.5f, 0.0f, 0.0f}, 1.0f - 0.001f / 0.25f},
        {{0.0f, 0.0f, 0.0f}, 3.0f},
        {{}, 0.0f},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(outlineEnd(c.y.data(), static_cast<int>(c.y.size())), c.end, 1e-6f) << c.y.size();
}

} // namespace
} // namespace tarvo
