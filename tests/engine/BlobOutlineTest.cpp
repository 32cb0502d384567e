#include "engine/BlobOutline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace tarvo {
namespace {

// A short hit: every time row crowds its knots towards the start, so the first frames are
// loud and the rest fades.
Blob shortHit() {
    Blob blob;
    for (auto& row : blob.timeWarps)
        for (int j = 0; j < Blob::timeKnotCount; ++j) {
            const float u = static_cast<float>(j) / (Blob::timeKnotCount - 1);
            row[static_cast<size_t>(j)] = 96.0f * u * u;
        }
    return blob;
}

std::vector<float> outline(const Blob& a, const Blob& b, float x, int count) {
    std::vector<float> v(static_cast<size_t>(count));
    BlobOutline::compute(a, b, x, count, v.data());
    return v;
}

std::vector<float> picture(const BlobOutline& p) {
    return {p.values(), p.values() + p.size()};
}

TEST(BlobOutline, EvenMeshGivesEqualSlicesAtHalfLevel) {
    Blob cleared;
    cleared.clear();
    for (int count : {1, 12, 64})
        for (float v : outline(cleared, cleared, 0.3f, count)) EXPECT_NEAR(v, 0.5f, 1e-4f) << count;
}

TEST(BlobOutline, AShortHitStartsLoudAndFades) {
    const std::vector<float> v = outline(shortHit(), shortHit(), 0.0f, 16);
    EXPECT_GT(v.front(), 10.0f * v.back());
    for (float x : v) {
        EXPECT_GE(x, 0.0f);
        EXPECT_LE(x, 1.0f);
    }
}

TEST(BlobOutline, ResolutionFollowsTheThemeWithinItsLimits) {
    struct Case {
        float resolution;
        int slices;
    };
    const Case cases[] = {{12.0f, 12}, {12.9f, 12}, {100.0f, 64},
                          {64.0f, 64}, {1.0f, 1},   {0.0f, 0},
                          {0.5f, 0},   {-3.0f, 0},  {std::numeric_limits<float>::quiet_NaN(), 0}};
    for (const Case& c : cases) EXPECT_EQ(BlobOutline::slicesFor(c.resolution), c.slices) << c.resolution;
}

TEST(BlobOutline, TheMixFollowsWhichSlotsHoldASound) {
    Blob a = shortHit(), b;
    b.clear();
    struct Case {
        bool aPresent, bPresent;
        float transform;
        float weight;
    };
    const Case cases[] = {{true, true, 0.25f, 0.25f}, {true, true, 3.0f, 1.0f},   {true, true, -1.0f, 0.0f},
                          {false, true, 0.25f, 1.0f}, {true, false, 0.75f, 0.0f}, {false, false, 0.5f, 0.0f}};
    for (const Case& c : cases) {
        a.present = c.aPresent ? 1 : 0;
        b.present = c.bPresent ? 1 : 0;
        EXPECT_EQ(BlobOutline::mixWeight(a, b, c.transform), c.weight)
            << c.aPresent << c.bPresent << c.transform;
    }
}

TEST(BlobOutline, TransformMorphsFromAsOutlineToBs) {
    const Blob a = shortHit();
    Blob b;
    b.clear();
    BlobOutline p;
    p.refresh(a, b, 0.0f, 12, 0.0);
    EXPECT_EQ(picture(p), outline(a, a, 0.0f, 12));
    p.refresh(a, b, 1.0f, 12, 0.0);
    EXPECT_EQ(picture(p), outline(b, b, 0.0f, 12));
    p.refresh(a, b, 0.5f, 12, 0.0);
    EXPECT_NE(picture(p), outline(a, a, 0.0f, 12));
    EXPECT_NE(picture(p), outline(b, b, 0.0f, 12));

    Blob absentA = a;
    absentA.present = 0;
    p.refresh(absentA, b, 0.0f, 12, 0.0);
    EXPECT_EQ(picture(p), outline(b, b, 0.0f, 12)) << "only B present: B's outline whatever Transform is";
}

TEST(BlobOutline, RecomputesOnlyWhenItsInputsChange) {
    Blob a = shortHit(), b = shortHit();
    BlobOutline p;
    EXPECT_EQ(p.changedAt(), -100.0);
    EXPECT_TRUE(p.refresh(a, b, 0.5f, 12, 1.0)) << "the first refresh always computes";
    EXPECT_EQ(p.changedAt(), 1.0);
    EXPECT_FALSE(p.refresh(a, b, 0.5f, 12, 2.0));
    EXPECT_FALSE(p.refresh(a, b, 0.5005f, 12, 2.0)) << "within the mix tolerance";
    EXPECT_EQ(p.changedAt(), 1.0);
    EXPECT_TRUE(p.refresh(a, b, 0.502f, 12, 3.0));
    ++b.version;
    EXPECT_TRUE(p.refresh(a, b, 0.502f, 12, 4.0)) << "a Blob edit";
    EXPECT_TRUE(p.refresh(a, b, 0.502f, 20, 5.0)) << "a new resolution";
    EXPECT_EQ(p.size(), 20);
    EXPECT_EQ(p.changedAt(), 5.0);

    a.present = b.present = 0;
    EXPECT_TRUE(p.refresh(a, b, 0.502f, 20, 6.0)) << "the sounds went away";
    EXPECT_EQ(p.size(), 0);
    EXPECT_FALSE(p.refresh(a, b, 0.502f, 20, 7.0));
    a.present = 1;
    EXPECT_TRUE(p.refresh(a, b, 0.502f, 20, 8.0));
    EXPECT_EQ(p.size(), 20);
    EXPECT_TRUE(p.refresh(a, b, 0.502f, 0, 9.0));
    EXPECT_EQ(p.size(), 0) << "resolution 0: no picture";
}

} // namespace
} // namespace tarvo
