#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "control/Curve.h"

namespace tarvo {
namespace {

TEST(Bend, EndpointsFixedAndValuesStayInRange) {
    for (float s : {-1.0f, -0.75f, -0.5f, -0.2f, 0.0f, 0.2f, 0.5f, 0.75f, 1.0f}) {
        SCOPED_TRACE(s);
        EXPECT_FLOAT_EQ(bend(0.0f, s), 0.0f);
        EXPECT_FLOAT_EQ(bend(1.0f, s), 1.0f);
        float previous = 0.0f;
        for (int i = 1; i <= 100; ++i) {
            const float v = bend(static_cast<float>(i) / 100.0f, s);
            EXPECT_GE(v, previous - 1e-6f);
            EXPECT_LE(v, 1.0f);
            previous = v;
        }
    }
    // Where the steep form rounds a step above 1 before it is limited: a curve segment ending
    // at level 0 went below 0 there.
    EXPECT_LE(bend(0.999796569f, 0.99609369f), 1.0f);
}

TEST(Bend, QuadraticUpToHalfShape) {
    struct Case {
        float p, s, expected;
    };
    // Up to |s| = 0.5 the bend is ((1 - p) 2s + 1) p.
    for (const Case& c : {Case{0.3f, 0.0f, 0.3f}, Case{0.5f, 0.5f, 0.75f}, Case{0.5f, -0.5f, 0.25f},
                          Case{0.2f, 0.25f, 0.28f}}) {
        EXPECT_NEAR(bend(c.p, c.s), c.expected, 1e-6f) << c.p << " " << c.s;
    }
    // Beyond, the curve steepens further than the quadratic.
    EXPECT_GT(bend(0.2f, 1.0f), bend(0.2f, 0.5f));
    EXPECT_LT(bend(0.2f, -1.0f), bend(0.2f, -0.5f));
}

TEST(Curve, EvaluateEmptySinglePointAndSegments) {
    Curve empty;
    EXPECT_FLOAT_EQ(empty.evaluate(0.3f), 0.5f);

    Curve single;
    single.setLoop(true);
    single.insertPoint({0.0f, 0.7f, 0.0f});
    for (float x : {0.0f, 0.4f, 0.99f, 1.0f}) EXPECT_FLOAT_EQ(single.evaluate(x), 0.7f);

    // Linear rise to x = 0.5, then a linear fall; the terminal point repeats the last level
    // unless the curve loops, when it repeats the first.
    Curve tri;
    const CurvePoint points[] = {{0.0f, 0.0f, 0.0f}, {0.5f, 1.0f, 0.0f}, {0.75f, 0.5f, 0.0f}};
    tri.setPoints(points, 3);
    float segment = -1.0f;
    EXPECT_NEAR(tri.evaluate(0.25f, &segment), 0.5f, 1e-6f);
    EXPECT_NEAR(segment, 0.5f, 1e-6f);
    EXPECT_NEAR(tri.evaluate(0.625f, &segment), 0.75f, 1e-6f);
    EXPECT_NEAR(segment, 1.5f, 1e-6f);
    EXPECT_NEAR(tri.evaluate(0.9f), 0.5f, 1e-6f);
    tri.setLoop(true);
    EXPECT_NEAR(tri.evaluate(0.875f), 0.25f, 1e-6f);
    EXPECT_NEAR(tri.evaluate(1.0f), 0.0f, 1e-6f);
    // Inputs outside 0..1 are clamped.
    EXPECT_NEAR(tri.evaluate(-3.0f), 0.0f, 1e-6f);
    EXPECT_NEAR(tri.evaluate(7.0f), 0.0f, 1e-6f);
}

TEST(Curve, MovePointKeepsOrderAndLimits) {
    struct Case {
        const char* what;
        bool loop;
        int index;
        CurvePoint to;
        CurvePoint expected;
    };
    const Case cases[] = {
        {"first point stays at 0", false, 0, {0.3f, 0.4f, 0.2f}, {0.0f, 0.4f, 0.2f}},
        {"kept after the previous point", false, 1, {0.0f, 0.5f, 0.0f}, {0.01f, 0.5f, 0.0f}},
        {"kept before the next point", false, 1, {0.9f, 0.5f, 0.0f}, {0.69f, 0.5f, 0.0f}},
        {"last point of a plain curve may reach 1", false, 2, {1.0f, 0.5f, 0.0f}, {1.0f, 0.5f, 0.0f}},
        {"last point of a looping curve stops at 0.99", true, 2, {1.0f, 0.5f, 0.0f}, {0.99f, 0.5f, 0.0f}},
        {"level and shape stay in range", false, 1, {0.5f, 1.5f, -3.0f}, {0.5f, 1.0f, -1.0f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Curve curve;
        const CurvePoint points[] = {{0.0f, 0.0f, 0.0f}, {0.3f, 1.0f, 0.0f}, {0.7f, 0.0f, 0.0f}};
        curve.setPoints(points, 3);
        curve.setLoop(c.loop);
        curve.changed = 0;
        curve.movePoint(c.index, c.to);
        const CurvePoint& p = curve.points[static_cast<size_t>(c.index)];
        EXPECT_NEAR(p.x, c.expected.x, 1e-6f);
        EXPECT_FLOAT_EQ(p.y, c.expected.y);
        EXPECT_FLOAT_EQ(p.shape, c.expected.shape);
        EXPECT_EQ(curve.changed, 1);
        EXPECT_EQ(curve.count, 3);
        EXPECT_FLOAT_EQ(curve.points[3].x, 1.0f);
    }

    Curve curve;
    curve.insertPoint({0.0f, 0.2f, 0.0f});
    curve.changed = 0;
    curve.movePoint(-1, {0.5f, 0.5f, 0.0f});
    curve.movePoint(5, {0.5f, 0.5f, 0.0f});
    EXPECT_EQ(curve.changed, 0);
    EXPECT_FLOAT_EQ(curve.evaluate(0.5f), 0.2f);
}

TEST(Curve, InsertAndRemoveKeepTerminalPoint) {
    Curve curve;
    EXPECT_EQ(curve.insertPoint({0.0f, 0.0f, 0.0f}), 0);
    EXPECT_EQ(curve.insertPoint({0.8f, 0.4f, 0.0f}), 1);
    EXPECT_EQ(curve.insertPoint({0.5f, 1.0f, 0.0f}), 1);
    ASSERT_EQ(curve.count, 3);
    EXPECT_FLOAT_EQ(curve.points[1].x, 0.5f);
    EXPECT_FLOAT_EQ(curve.points[2].x, 0.8f);
    EXPECT_FLOAT_EQ(curve.points[3].y, 0.4f);

    curve.removePoint(2);
    EXPECT_EQ(curve.count, 2);
    EXPECT_FLOAT_EQ(curve.points[2].x, 1.0f);
    EXPECT_FLOAT_EQ(curve.points[2].y, 1.0f);
    curve.removePoint(2); // no such point
    curve.removePoint(-1);
    EXPECT_EQ(curve.count, 2);
    curve.removePoint(0);
    curve.removePoint(0);
    EXPECT_EQ(curve.count, 0);
    EXPECT_FLOAT_EQ(curve.evaluate(0.3f), curve.emptyLevel);
}

TEST(Curve, InsertIntoFullCurveDropsLastPoint) {
    // 64 points: ten 0.05 apart from x = 0, then 54 points 0.01 apart up to x = 0.99.
    Curve curve(64);
    std::vector<CurvePoint> points;
    for (int i = 0; i < 64; ++i) {
        const float x = i < 10 ? 0.05f * static_cast<float>(i) : 0.46f + 0.01f * static_cast<float>(i - 10);
        points.push_back({x, static_cast<float>(i) / 64.0f, 0.0f});
    }
    curve.setPoints(points.data(), 64);

    EXPECT_EQ(curve.insertPoint({0.125f, 0.9f, 0.0f}), 3);
    ASSERT_EQ(curve.count, 64);
    EXPECT_NEAR(curve.points[2].x, 0.1f, 1e-6f);
    EXPECT_NEAR(curve.points[3].x, 0.125f, 1e-6f);
    EXPECT_FLOAT_EQ(curve.points[3].y, 0.9f);
    EXPECT_NEAR(curve.points[4].x, 0.15f, 1e-6f);
    // The former last point (x = 0.99) is gone; the one before it is now last.
    EXPECT_NEAR(curve.points[63].x, 0.98f, 1e-5f);
    EXPECT_FLOAT_EQ(curve.points[64].y, 62.0f / 64.0f);

    // No room after the last point of a full curve.
    EXPECT_EQ(curve.insertPoint({0.995f, 0.1f, 0.0f}), -1);
    EXPECT_EQ(curve.count, 64);
    EXPECT_NEAR(curve.points[63].x, 0.98f, 1e-5f);
}

TEST(Curve, StateRoundTripAndDamagedData) {
    Curve curve;
    const CurvePoint points[] = {{0.0f, 0.25f, -0.5f}, {0.4f, 1.0f, 0.3f}, {0.9f, 0.1f, 0.0f}};
    curve.setPoints(points, 3);
    std::vector<uint8_t> bytes(static_cast<size_t>(curveByteSize(curve)));
    int position = 0;
    writeCurve(curve, bytes.data(), position, static_cast<int>(bytes.size()));
    ASSERT_EQ(position, 37);
    EXPECT_EQ(bytes[0], 3);
    // x of the second point, little-endian.
    const uint8_t expectedX[4] = {0xcd, 0xcc, 0xcc, 0x3e};
    EXPECT_EQ(std::memcmp(bytes.data() + 13, expectedX, 4), 0);

    Curve back;
    position = 0;
    ASSERT_TRUE(readCurve(back, bytes.data(), position, static_cast<int>(bytes.size())));
    EXPECT_EQ(position, 37);
    ASSERT_EQ(back.count, 3);
    EXPECT_EQ(back.changed, 1);
    for (float x : {0.0f, 0.2f, 0.55f, 1.0f}) EXPECT_FLOAT_EQ(back.evaluate(x), curve.evaluate(x));

    // Writing past the end only advances the position.
    position = 30;
    writeCurve(curve, bytes.data(), position, static_cast<int>(bytes.size()));
    EXPECT_EQ(position, 67);

    // Truncated data and non-finite numbers are rejected without consuming anything.
    Curve kept;
    kept.insertPoint({0.0f, 0.3f, 0.0f});
    position = 0;
    EXPECT_FALSE(readCurve(kept, bytes.data(), position, 36));
    std::vector<uint8_t> poisoned = bytes;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::memcpy(poisoned.data() + 17, &nan, 4);
    EXPECT_FALSE(readCurve(kept, poisoned.data(), position, static_cast<int>(poisoned.size())));
    EXPECT_FALSE(readCurve(kept, nullptr, position, 100));
    EXPECT_EQ(position, 0);
    EXPECT_EQ(kept.count, 1);
    EXPECT_FLOAT_EQ(kept.evaluate(0.5f), 0.3f);
}

TEST(Curve, ReadClampsValuesAndSkipsPointsBeyondCapacity) {
    // Five stored points with out-of-range values into a curve that holds four.
    std::vector<uint8_t> bytes(1 + 5 * 12 + 1);
    bytes[0] = 5;
    const float values[5][3] = {{-1.0f, 2.0f, 5.0f},
                                {0.2f, -1.0f, -5.0f},
                                {0.4f, 0.5f, 0.0f},
                                {0.6f, 0.5f, 0.0f},
                                {0.8f, 0.5f, 0.0f}};
    std::memcpy(bytes.data() + 1, values, sizeof(values));
    bytes.back() = 0x7e; // the next item of the state
    Curve curve(4);
    int position = 0;
    ASSERT_TRUE(readCurve(curve, bytes.data(), position, static_cast<int>(bytes.size())));
    EXPECT_EQ(position, 61);
    EXPECT_EQ(bytes[static_cast<size_t>(position)], 0x7e);
    ASSERT_EQ(curve.count, 4);
    EXPECT_FLOAT_EQ(curve.points[0].x, 0.0f);
    EXPECT_FLOAT_EQ(curve.points[0].y, 1.0f);
    EXPECT_FLOAT_EQ(curve.points[0].shape, 1.0f);
    EXPECT_FLOAT_EQ(curve.points[1].y, 0.0f);
    EXPECT_FLOAT_EQ(curve.points[1].shape, -1.0f);
    EXPECT_FLOAT_EQ(curve.points[4].x, 1.0f);
}

TEST(Curve, SetPointsKeepsPointsInsideTheUnitSquare) {
    // A peak far beyond x = 1 (as from an unscaled random number) would flatten the curve.
    const CurvePoint given[] = {{-1.0f, 2.0f, 5.0f}, {44051.0f, 1.0f, -0.05f}, {1.0f, -3.0f, -5.0f}};
    const float kept[3][3] = {{0.0f, 1.0f, 1.0f}, {1.0f, 1.0f, -0.05f}, {1.0f, 0.0f, -1.0f}};
    Curve curve;
    curve.setPoints(given, 3);
    ASSERT_EQ(curve.count, 3);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(curve.points[static_cast<size_t>(i)].x, kept[i][0]);
        EXPECT_EQ(curve.points[static_cast<size_t>(i)].y, kept[i][1]);
        EXPECT_EQ(curve.points[static_cast<size_t>(i)].shape, kept[i][2]);
    }
}

TEST(Curve, UnorderedStoredPointsStayBounded) {
    // A stored curve that starts at x = 0.5 with a steep bend must not extrapolate below it.
    std::vector<uint8_t> bytes(1 + 2 * 12);
    bytes[0] = 2;
    const float values[2][3] = {{0.5f, 0.0f, 1.0f}, {0.3f, 1.0f, -1.0f}};
    std::memcpy(bytes.data() + 1, values, sizeof(values));
    Curve curve;
    int position = 0;
    ASSERT_TRUE(readCurve(curve, bytes.data(), position, static_cast<int>(bytes.size())));
    for (int i = 0; i <= 200; ++i) {
        const float v = curve.evaluate(static_cast<float>(i) / 200.0f);
        ASSERT_TRUE(std::isfinite(v));
        EXPECT_GE(v, 0.0f);
        EXPECT_LE(v, 1.0f);
    }
}

} // namespace
} // namespace tarvo
