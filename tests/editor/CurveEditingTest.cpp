#include "editor/CurveEditing.h"

#include <gtest/gtest.h>

#include <cmath>

#include "control/ParamLayout.h"
#include "engine/BandSynth.h"

namespace tarvo {
namespace {

// A 112 × 112 editor: the plot is 100 × 100 pixels from (6, 6), so one pixel is 0.01.
constexpr float editorSize = 112.0f;

Curve straightLine() {
    Curve c;
    const CurvePoint points[2] = {{0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 0.0f}};
    c.setPoints(points, 2);
    return c;
}

Curve loopingShape() {
    Curve c;
    const CurvePoint points[3] = {{0.0f, 0.2f, 0.0f}, {0.3f, 0.9f, 0.0f}, {0.7f, 0.4f, 0.0f}};
    c.setPoints(points, 3);
    c.setLoop(true);
    return c;
}

class WaveCurveEditingTest : public ::testing::Test {
protected:
    WaveCurveEditing editor(bool editable, Curve& curve) {
        WaveCurveEditing e(editable);
        e.bind(&curve);
        e.setBounds(0.0f, 0.0f, editorSize, editorSize);
        return e;
    }
};

TEST_F(WaveCurveEditingTest, PressSelectsTheNearestHandleWithinReach) {
    Curve c = loopingShape();
    WaveCurveEditing e = editor(true, c);
    EXPECT_EQ(e.shownPoints(), 4) << "three points and the repeated first";
    EXPECT_EQ(e.segments(), 3);
    struct Case {
        const char* what;
        PlotPoint at;
        int selected;
    };
    const PlotPoint second = e.pointAt(1), mid = e.midHandle(1), repeated = e.pointAt(3);
    const Case cases[] = {
        {"a point", {second.x + 3.0f, second.y}, 1},
        {"a mid handle", {mid.x, mid.y - 2.0f}, WaveCurveEditing::midHandleBase + 1},
        {"the repeated first point", repeated, 0},
        {"too far from everything", {second.x + 9.0f, second.y + 3.0f}, -1},
    };
    for (const Case& k : cases) {
        e.press(k.at.x, k.at.y);
        EXPECT_EQ(e.selected(), k.selected) << k.what;
    }
}

TEST_F(WaveCurveEditingTest, DraggingAPointStopsAtThePlotBorder) {
    Curve c = straightLine();
    WaveCurveEditing e = editor(false, c);
    const PlotPoint top = e.pointAt(1);
    e.press(top.x, top.y);
    ASSERT_EQ(e.selected(), 1);
    EXPECT_TRUE(e.drag(-20.0f, 30.0f));
    EXPECT_NEAR(c.points[1].x, 0.8f, 1e-5f);
    EXPECT_NEAR(c.points[1].y, 0.7f, 1e-5f);
    e.drag(500.0f, -500.0f);
    EXPECT_EQ(c.points[1].x, 1.0f);
    EXPECT_EQ(c.points[1].y, 1.0f);
    EXPECT_FALSE(e.drag(0.2f, -0.3f)) << "less than half a pixel";
}

TEST_F(WaveCurveEditingTest, MidHandlesBendRisingAndFallingSegmentsAlike) {
    Curve c = loopingShape();
    WaveCurveEditing e = editor(true, c);
    struct Case {
        int segment;
        float dy;
        float shape;
    };
    // Segment 0 rises, segment 1 falls; dragging up by 20 pixels moves each handle up.
    const Case cases[] = {{0, -20.0f, 0.2f}, {1, -20.0f, -0.2f}, {0, -500.0f, 1.0f}, {1, -500.0f, -1.0f}};
    for (const Case& k : cases) {
        const PlotPoint h = e.midHandle(k.segment);
        const float before = h.y;
        e.press(h.x, h.y);
        ASSERT_EQ(e.selected(), WaveCurveEditing::midHandleBase + k.segment);
        e.drag(0.0f, k.dy);
        EXPECT_NEAR(c.points[static_cast<size_t>(k.segment)].shape, k.shape, 1e-5f);
        EXPECT_LT(e.midHandle(k.segment).y, before);
        EXPECT_NEAR(c.points[static_cast<size_t>(k.segment)].x, k.segment == 0 ? 0.0f : 0.3f, 1e-6f)
            << "only the shape";
    }
}

TEST_F(WaveCurveEditingTest, DoubleClicksAddAndRemovePointsOnlyWhereAllowed) {
    Curve velocity = straightLine();
    WaveCurveEditing v = editor(false, velocity);
    v.press(56.0f, 20.0f);
    EXPECT_FALSE(v.doubleClick(56.0f, 20.0f)) << "the velocity editor adds nothing";
    EXPECT_EQ(velocity.count, 2);

    Curve lfo = loopingShape();
    WaveCurveEditing e = editor(true, lfo);
    e.press(96.0f, 20.0f);
    ASSERT_EQ(e.selected(), -1);
    EXPECT_TRUE(e.doubleClick(96.0f, 20.0f));
    ASSERT_EQ(lfo.count, 4);
    EXPECT_NEAR(lfo.points[3].x, 0.9f, 1e-5f);
    EXPECT_NEAR(lfo.points[3].y, 0.86f, 1e-5f);
    EXPECT_EQ(lfo.points[3].shape, 0.0f);

    const PlotPoint first = e.pointAt(0);
    e.press(first.x, first.y);
    EXPECT_FALSE(e.doubleClick(first.x, first.y)) << "the first point stays";
    const PlotPoint mid = e.midHandle(1);
    e.press(mid.x, mid.y);
    EXPECT_FALSE(e.doubleClick(mid.x, mid.y)) << "mid handles are not removable";
    const PlotPoint second = e.pointAt(1);
    e.press(second.x, second.y);
    EXPECT_TRUE(e.doubleClick(second.x, second.y));
    EXPECT_EQ(lfo.count, 3);
    EXPECT_NEAR(lfo.points[1].x, 0.7f, 1e-6f);
}

TEST_F(WaveCurveEditingTest, WithoutACurveTheMouseIsIgnored) {
    WaveCurveEditing e(true);
    e.setBounds(0.0f, 0.0f, editorSize, editorSize);
    e.press(50.0f, 50.0f);
    EXPECT_FALSE(e.drag(10.0f, 10.0f));
    EXPECT_FALSE(e.doubleClick(50.0f, 50.0f));
    EXPECT_EQ(e.shownPoints(), 0);
}

class EnvelopeEditingTest : public ::testing::Test {
protected:
    void SetUp() override {
        editor.bind(&synth.param(layout.envBase[0]));
        // A 212 × 112 editor: the plot is 200 wide and 100 high.
        editor.setBounds(0.0f, 0.0f, 212.0f, 112.0f);
        value(EnvelopeEditing::initial) = 0.0f;
        value(EnvelopeEditing::attack) = 1000.0f;
        value(EnvelopeEditing::decay) = 1.25f;
        value(EnvelopeEditing::sustain) = 0.5f;
        value(EnvelopeEditing::release) = 4.0f;
    }
    Relaxed<float>& value(EnvelopeEditing::Parameter p) { return synth.param(layout.envBase[0] + p).value; }
    void grab(int handle) {
        const PlotPoint h = editor.handles()[static_cast<size_t>(handle)];
        editor.press(h.x, h.y);
        ASSERT_EQ(editor.selected(), handle);
    }

    ParamLayout layout;
    BandSynth synth;
    EnvelopeEditing editor;
};

TEST_F(EnvelopeEditingTest, CornersSitOnASquareRootTimeAxis) {
    const auto h = editor.handles();
    EXPECT_FLOAT_EQ(h[0].x, 6.0f);
    EXPECT_FLOAT_EQ(h[0].y, 106.0f);
    EXPECT_FLOAT_EQ(h[1].x, 6.0f + 200.0f * std::sqrt(1.0f / 25.0f));
    EXPECT_FLOAT_EQ(h[1].y, 6.0f);
    EXPECT_FLOAT_EQ(h[2].x, 6.0f + 200.0f * std::sqrt(2.25f / 25.0f));
    EXPECT_FLOAT_EQ(h[2].y, 56.0f);
    EXPECT_FLOAT_EQ(h[3].x, 6.0f + 200.0f * std::sqrt(6.25f / 25.0f));
    EXPECT_FLOAT_EQ(h[3].y, 106.0f);
}

TEST_F(EnvelopeEditingTest, CornerDragsSetTimesAndLevels) {
    grab(2);
    editor.drag(0.0f, -20.0f);
    EXPECT_NEAR(value(EnvelopeEditing::sustain), 0.7f, 1e-5f);
    EXPECT_NEAR(value(EnvelopeEditing::decay), 1.25f, 1e-4f) << "time unchanged";
    // The decay corner dragged left of the attack corner: a negative decay, clamped.
    editor.drag(-60.0f, 0.0f);
    EXPECT_EQ(value(EnvelopeEditing::decay),
              synth.param(layout.envBase[0] + EnvelopeEditing::decay).lowest());
    editor.endDrag();
    EXPECT_EQ(editor.selected(), -1);

    grab(1);
    editor.drag(-500.0f, 0.0f);
    EXPECT_EQ(value(EnvelopeEditing::attack), 0.0f) << "left of the plot is time 0";
    grab(0);
    editor.drag(0.0f, -30.0f);
    EXPECT_NEAR(value(EnvelopeEditing::initial), 0.3f, 1e-5f);
    editor.drag(0.0f, -300.0f);
    EXPECT_EQ(value(EnvelopeEditing::initial), 1.0f);

    grab(3);
    const float before = value(EnvelopeEditing::release);
    editor.drag(5.0f, 40.0f);
    EXPECT_GT(value(EnvelopeEditing::release), before) << "moving right lengthens the release";
}

TEST_F(EnvelopeEditingTest, ShapeHandlesFollowThePointer) {
    value(EnvelopeEditing::attackShape) = 0.0f;
    value(EnvelopeEditing::decayShape) = 0.0f;
    grab(5);
    editor.drag(0.0f, -50.0f);
    EXPECT_NEAR(value(EnvelopeEditing::attackShape), 0.5f, 1e-5f);
    grab(6);
    editor.drag(0.0f, -50.0f);
    EXPECT_NEAR(value(EnvelopeEditing::decayShape), -0.5f, 1e-5f);
    editor.drag(0.0f, -500.0f);
    EXPECT_EQ(value(EnvelopeEditing::decayShape), -1.0f);
}

TEST_F(EnvelopeEditingTest, ChangesGoThroughTheGivenSetter) {
    int calls = 0;
    editor.setSetter([&](Param& p, float v) {
        ++calls;
        p.set(v);
    });
    grab(2);
    editor.drag(1.0f, 1.0f);
    EXPECT_EQ(calls, 2) << "decay and sustain";
}

} // namespace
} // namespace tarvo
