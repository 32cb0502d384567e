// The curve editors as widgets: what they are bound to, mouse edits reaching the instrument,
// and their look with and without the mouse over them.
#include "editor/CurveEditors.h"

#include <gtest/gtest.h>

#include "control/ParamLayout.h"
#include "editor/WidgetHarness.h"

namespace tarvo {
namespace {

int differingPixels(const juce::Image& a, const juce::Image& b) {
    int n = 0;
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x) n += a.getPixelAt(x, y) != b.getPixelAt(x, y);
    return n;
}

TEST(WaveEditorWidget, TheVelocityEditorEditsTheCurrentTracksCurve) {
    WidgetHarness harness;
    auto& editor = harness.place(std::make_unique<WaveEditor>(WaveEditor::Kind::velocity), {0, 0, 112, 112});
    harness.selectTrack(2, false);
    editor.tick();
    Curve& curve = harness.instrument().engine.tracks[2].velocityCurve;
    ASSERT_EQ(editor.editing().curve(), &curve);
    // The top point of the straight curve, dragged beyond the plot, stops at the border.
    editor.mouseDown(mouseEvent(editor, {106, 6}, 0));
    editor.mouseDrag(mouseEvent(editor, {80, 36}, 10));
    EXPECT_NEAR(curve.points[1].y, 0.7f, 1e-5f);
    editor.mouseDrag(mouseEvent(editor, {300, -200}, 20));
    EXPECT_EQ(curve.points[1].x, 1.0f);
    EXPECT_EQ(curve.points[1].y, 1.0f);
    EXPECT_GT(harness.instrument().presetEditCount, 0) << "a shaped curve is an edit of the preset";

    editor.mouseDown(mouseEvent(editor, {40, 30}, 100));
    editor.mouseDoubleClick(mouseEvent(editor, {40, 30}, 100, {}, 2));
    EXPECT_EQ(curve.count, 2) << "no points are added to a velocity curve";
}

TEST(WaveEditorWidget, TheLfoEditorFollowsItsTabAndAddsPointsByDoubleClick) {
    WidgetHarness harness;
    auto& editor = harness.place(std::make_unique<WaveEditor>(WaveEditor::Kind::lfo), {0, 0, 112, 112});
    harness.instrument().editor.lfo = 1;
    editor.tick();
    Curve& curve = harness.instrument().engine.modSystem.lfoCurves[1];
    ASSERT_EQ(editor.editing().curve(), &curve);
    const int before = curve.count;
    // An empty place: the middle of the bottom edge is far from the rise-and-fall shape.
    editor.mouseDown(mouseEvent(editor, {56, 104}, 0));
    ASSERT_EQ(editor.editing().selected(), -1);
    editor.mouseDoubleClick(mouseEvent(editor, {56, 104}, 0, {}, 2));
    EXPECT_EQ(curve.count, before + 1);
}

TEST(WaveEditorWidget, TheMouseOverFillsTheCurveAndShowsTheMidHandles) {
    WidgetHarness harness;
    auto& editor = harness.place(std::make_unique<WaveEditor>(WaveEditor::Kind::velocity), {0, 0, 112, 112});
    editor.tick();
    const juce::Image away = paintWidget(editor);
    editor.mouseEnter(mouseEvent(editor, {50, 50}, 0, {}));
    const juce::Image over = paintWidget(editor);
    EXPECT_GT(differingPixels(away, over), 100);
    // The mid handle of the straight line sits at the plot's centre.
    EXPECT_NE(over.getPixelAt(56, 56), away.getPixelAt(56, 56));
    editor.mouseExit(mouseEvent(editor, {500, 500}, 0, {}));
    EXPECT_EQ(differingPixels(away, paintWidget(editor)), 0);
}

TEST(EnvEditorWidget, DraggingTheAttackShapeHandleEditsTheParameterThroughTheHost) {
    WidgetHarness harness;
    auto& editor = harness.place(std::make_unique<EnvEditor>(), {0, 0, 314, 178});
    harness.instrument().editor.envelope = 2;
    editor.tick();
    const ParamLayout layout;
    Param& shape = harness.instrument().engine.param(layout.envBase[2] + envAttackShape);
    shape.set(0.0f);
    editor.tick();
    const PlotPoint handle = editor.editing().handles()[EnvelopeEditing::firstShapeHandle];
    editor.mouseDown(mouseEvent(editor, {handle.x, handle.y}, 0));
    editor.mouseDrag(mouseEvent(editor, {handle.x, handle.y - 50}, 10));
    editor.mouseUp(mouseEvent(editor, {handle.x, handle.y - 50}, 20));
    EXPECT_NEAR(shape.value, 0.5f, 1e-5f);
    EXPECT_GT(harness.edits, 0);
    EXPECT_EQ(harness.editsBegun, harness.editsEnded);
    EXPECT_GT(harness.editsBegun, 0);
}

TEST(EnvEditorWidget, TheDecayCornerDraggedLeftOfTheAttackClampsTheDecay) {
    WidgetHarness harness;
    auto& editor = harness.place(std::make_unique<EnvEditor>(), {0, 0, 314, 178});
    editor.tick();
    const ParamLayout layout;
    Param& decay = harness.instrument().engine.param(layout.envBase[0] + envDecay);
    const PlotPoint corner = editor.editing().handles()[2];
    editor.mouseDown(mouseEvent(editor, {corner.x, corner.y}, 0));
    editor.mouseDrag(mouseEvent(editor, {0.0f, corner.y}, 10));
    EXPECT_EQ(decay.value, decay.lowest());
}

} // namespace
} // namespace tarvo
