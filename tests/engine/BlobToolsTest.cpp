#include "engine/BlobTools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace tarvo {
namespace {

// The canvas of the Sound view: 432 x 430 pixels.
constexpr CanvasRect canvas{180.0f, 76.0f, 612.0f, 506.0f};
constexpr float radius = 0.2f;

Blob evenBlob() {
    Blob blob;
    blob.clear();
    return blob;
}

template <typename Lists> float movement(const Lists& a, const Lists& b) {
    float total = 0.0f;
    for (size_t l = 0; l < a.size(); ++l)
        for (size_t k = 0; k < a[l].size(); ++k) total += std::abs(a[l][k] - b[l][k]);
    return total;
}

template <size_t N> float listMovement(const std::array<float, N>& a, const std::array<float, N>& b) {
    float total = 0.0f;
    for (size_t k = 0; k < N; ++k) total += std::abs(a[k] - b[k]);
    return total;
}

float timeMovement(const Blob& a, const Blob& b) {
    return movement(a.timeWarps, b.timeWarps);
}
float freqMovement(const Blob& a, const Blob& b) {
    return movement(a.freqWarps, b.freqWarps);
}
float totalMovement(const Blob& a, const Blob& b) {
    return timeMovement(a, b) + freqMovement(a, b);
}

// Frames spanned by the eight time knots of row 3 around the canvas middle (frame 48).
float middleSpan(const Blob& blob) {
    return blob.timeWarps[3][24] - blob.timeWarps[3][16];
}

TEST(BlobTools, RegionsFollowThePointerInTheirOrder) {
    struct Case {
        float x, y;
        CanvasRegion region;
    };
    const Case cases[] = {
        {180.0f, 76.0f, CanvasRegion::inside},     {611.9f, 505.9f, CanvasRegion::inside},
        {400.0f, 520.0f, CanvasRegion::below},     {650.0f, 560.0f, CanvasRegion::below}, // below wins
        {640.0f, 300.0f, CanvasRegion::right},     {640.0f, 50.0f, CanvasRegion::right},
        {150.0f, 300.0f, CanvasRegion::elsewhere}, {400.0f, 60.0f, CanvasRegion::elsewhere},
        {612.0f, 300.0f, CanvasRegion::elsewhere}, // the right edge itself is outside but not beyond
    };
    for (const Case& c : cases) EXPECT_EQ(canvasRegion(canvas, c.x, c.y), c.region) << c.x << ", " << c.y;
}

// One short upward drag stroke in the middle of the canvas at a given mix.
struct StrokeResult {
    Blob a, b;
    bool undoStep;
};
StrokeResult dragUpwards(float mix, bool presentA = true, bool presentB = true) {
    StrokeResult r{evenBlob(), evenBlob(), false};
    r.a.present = presentA ? 1 : 0;
    r.b.present = presentB ? 1 : 0;
    BlobStroke stroke;
    stroke.setCanvas(canvas);
    stroke.press(396.0f, 300.0f, 1.0);
    stroke.drag(396.0f, 290.0f, 0.0f, -10.0f, 1.02, BlobTool::drag, radius, {&r.a, &r.b, mix});
    r.undoStep = stroke.release();
    return r;
}

TEST(BlobTools, TransformWeightsDecideWhichSlotsADragEdits) {
    struct Case {
        const char* what;
        float mix;
        bool presentA, presentB;
        bool editsA, editsB;
    };
    const Case cases[] = {
        {"Transform at A", 0.0f, true, true, true, false},
        {"Transform at B", 1.0f, true, true, false, true},
        {"halfway", 0.5f, true, true, true, true},
        // Neither slot present: the mix is -1 and B's weight -1.5 must not edit it backwards.
        {"nothing shown", -1.0f, false, false, false, false},
        {"B switched off at a mix of 0.5", 0.5f, true, false, true, false},
    };
    const Blob even = evenBlob();
    for (const Case& c : cases) {
        const StrokeResult r = dragUpwards(c.mix, c.presentA, c.presentB);
        EXPECT_EQ(totalMovement(r.a, even) > 0.0f, c.editsA) << c.what;
        EXPECT_EQ(totalMovement(r.b, even) > 0.0f, c.editsB) << c.what;
        EXPECT_EQ(r.a.editCount > 0, c.editsA) << c.what;
        EXPECT_EQ(r.undoStep, c.editsA || c.editsB) << c.what;
    }
}

TEST(BlobTools, SlotWeightsAreHalfAtTheEndsAndThreeEighthsInTheMiddle) {
    EXPECT_FLOAT_EQ(slotWeight(0, 0.0f), 0.5f);
    EXPECT_FLOAT_EQ(slotWeight(1, 0.0f), 0.0f);
    EXPECT_FLOAT_EQ(slotWeight(0, 0.5f), 0.375f);
    EXPECT_FLOAT_EQ(slotWeight(1, 0.5f), 0.375f);
    // Halfway both slots move alike and less than a slot Transform selects fully.
    const StrokeResult half = dragUpwards(0.5f);
    const StrokeResult full = dragUpwards(0.0f);
    const Blob even = evenBlob();
    EXPECT_NEAR(totalMovement(half.a, even), totalMovement(half.b, even), 1e-4f);
    EXPECT_LT(totalMovement(half.a, even), totalMovement(full.a, even));
}

TEST(BlobTools, AnUpwardDragPushesTimeKnotsUpAndKeepsTheEnds) {
    const Blob even = evenBlob();
    const StrokeResult r = dragUpwards(0.0f);
    // The canvas middle is band 40, frame ~48: the knots there move up the time axis.
    const Blob::MeshPoint at = even.locate(40.0f, 48.0f, 10);
    const int row = static_cast<int>(std::lround(at.g / Blob::knotsPerLine));
    const int knot = static_cast<int>(std::lround(at.h));
    EXPECT_GT(r.a.timeWarps[row][knot], even.timeWarps[row][knot] + 0.1f);
    EXPECT_EQ(freqMovement(r.a, even), 0.0f);
    for (const auto& v : r.a.timeWarps) {
        EXPECT_EQ(v.front(), 0.0f);
        EXPECT_EQ(v.back(), 96.0f);
    }
}

TEST(BlobTools, OutsideTheCanvasTheToolsActOnWholeColumnsOrRows) {
    struct Case {
        const char* what;
        float x, y, dx, dy;
        BlobTool tool;
        bool movesTime, movesFrequency;
    };
    const Case cases[] = {
        // Below: vertical motion is ignored and every frequency column shifts sideways.
        {"drag sideways below", 396.0f, 520.0f, 12.0f, -8.0f, BlobTool::drag, false, true},
        // Right: horizontal motion is ignored and every time row shifts.
        {"drag upwards on the right", 640.0f, 300.0f, 9.0f, -12.0f, BlobTool::drag, true, false},
        {"attract below", 396.0f, 520.0f, 0.0f, 0.0f, BlobTool::attract, false, true},
        {"attract on the right", 640.0f, 300.0f, 0.0f, 0.0f, BlobTool::attract, true, false},
        {"drag outside both", 100.0f, 300.0f, 12.0f, -12.0f, BlobTool::drag, false, false},
    };
    const Blob even = evenBlob();
    for (const Case& c : cases) {
        Blob a = evenBlob();
        Blob b = evenBlob();
        BlobStroke stroke;
        stroke.setCanvas(canvas);
        stroke.press(c.x, c.y, 0.0);
        stroke.drag(c.x + c.dx, c.y + c.dy, c.dx, c.dy, 0.1, c.tool, radius, {&a, &b, 0.0f});
        EXPECT_EQ(timeMovement(a, even) > 0.0f, c.movesTime) << c.what;
        EXPECT_EQ(freqMovement(a, even) > 0.0f, c.movesFrequency) << c.what;
        if (c.movesFrequency) {
            // Every column moved, not just the ones near the pointer.
            for (int col = 0; col < Blob::freqColumnCount; ++col)
                EXPECT_GT(listMovement(a.freqWarps[col], even.freqWarps[col]), 0.01f)
                    << c.what << " column " << col;
        }
        if (c.movesTime) {
            for (int row = 0; row < Blob::timeRowCount; ++row)
                EXPECT_GT(listMovement(a.timeWarps[row], even.timeWarps[row]), 0.01f)
                    << c.what << " row " << row;
        }
    }
}

TEST(BlobTools, AHeldAttractKeepsGatheringKnotsAndRepelScattersThem) {
    for (const BlobTool tool : {BlobTool::attract, BlobTool::repel}) {
        Blob a = evenBlob();
        Blob b = evenBlob();
        const float spanBefore = middleSpan(a);
        BlobStroke stroke;
        stroke.setCanvas(canvas);
        const double start = 2.0;
        stroke.press(396.0f, 291.0f, start);
        // A still mouse for one second at 60 frames per second: no drag events at all.
        int steps = 0;
        int lastCount = a.editCount;
        for (int frame = 1; frame <= 60; ++frame) {
            const double now = start + frame / 60.0;
            const bool changed = stroke.hold(now, tool, radius, {&a, &b, 0.0f});
            // Nothing happens until the mouse has stood still for 0.05 s.
            if (now - start <= BlobStroke::holdInterval) {
                EXPECT_FALSE(changed);
            }
            if (changed) {
                ++steps;
                EXPECT_GT(a.editCount, lastCount);
                lastCount = a.editCount;
            }
        }
        // Every 0.05 s or so after the first: the Blob keeps changing all second long.
        EXPECT_GE(steps, 14);
        const float spanAfter = middleSpan(a);
        if (tool == BlobTool::attract) {
            EXPECT_LT(spanAfter, 0.9f * spanBefore);
        } else {
            EXPECT_GT(spanAfter, 1.1f * spanBefore);
        }
        EXPECT_TRUE(stroke.release());
        EXPECT_EQ(totalMovement(b, evenBlob()), 0.0f);
    }
}

TEST(BlobTools, TheBrushRingsTurnInwardsForAttractAndOutwardsForRepel) {
    for (const BlobTool tool : {BlobTool::attract, BlobTool::repel}) {
        Blob a = evenBlob();
        BlobStroke stroke;
        stroke.setCanvas(canvas);
        stroke.press(396.0f, 291.0f, 0.0);
        stroke.drag(396.0f, 291.0f, 0.0f, 0.0f, 0.1, tool, radius, {&a, nullptr, 0.0f});
        const float phase = stroke.ringPhase();
        EXPECT_GE(phase, 0.0f);
        EXPECT_LT(phase, 1.0f);
        // A short step from 0: Repel rises a little, Attract wraps to just below 1.
        if (tool == BlobTool::repel) {
            EXPECT_LT(phase, 0.5f);
        } else {
            EXPECT_GT(phase, 0.5f);
        }
        stroke.release();
        EXPECT_EQ(stroke.ringPhase(), 0.0f);
    }
}

TEST(BlobTools, ADragStrokeKeepsItsUndoStepWhenItEndsStill) {
    Blob a = evenBlob();
    BlobStroke stroke;
    stroke.setCanvas(canvas);
    stroke.press(396.0f, 300.0f, 0.0);
    stroke.drag(396.0f, 280.0f, 0.0f, -20.0f, 0.05, BlobTool::drag, radius, {&a, nullptr, 0.0f});
    // The last events carry no motion; the stroke has still edited the Blob.
    stroke.drag(396.0f, 280.0f, 0.0f, 0.0f, 0.10, BlobTool::drag, radius, {&a, nullptr, 0.0f});
    stroke.drag(396.0f, 280.0f, 0.0f, 0.0f, 0.15, BlobTool::drag, radius, {&a, nullptr, 0.0f});
    EXPECT_GT(stroke.editAmount(), 0.0f);
    EXPECT_TRUE(stroke.release());

    // A click without motion records nothing and changes nothing.
    Blob untouched = evenBlob();
    const int version = untouched.version;
    stroke.press(396.0f, 300.0f, 1.0);
    stroke.drag(396.0f, 300.0f, 0.0f, 0.0f, 1.05, BlobTool::drag, radius, {&untouched, nullptr, 0.0f});
    EXPECT_FALSE(stroke.release());
    EXPECT_EQ(untouched.version, version);
}

TEST(BlobTools, ToolSizeFollowsTheDragOnAToolButtonWithinItsRange) {
    struct Case {
        float from, dy, to;
    };
    const Case cases[] = {
        {64.0f, -200.0f, 128.0f},
        {64.0f, -10.0f, 74.0f},
        {64.0f, 30.0f, 34.0f},
        {20.0f, 30.0f, 16.0f},
    };
    for (const Case& c : cases)
        EXPECT_FLOAT_EQ(toolSizeAfterDrag(c.from, c.dy), c.to) << c.from << " " << c.dy;
    // One event per pixel, as a slow mouse sends them.
    float size = startToolSize;
    for (int i = 0; i < 200; ++i) size = toolSizeAfterDrag(size, -1.0f);
    EXPECT_FLOAT_EQ(size, 128.0f);
}

TEST(BlobTools, ClearTakesTheShownSlotsAndNoneWhenNothingIsShown) {
    struct Case {
        float mix;
        int cleared;
        bool clearsA, clearsB;
    };
    const Case cases[] = {
        {0.0f, 1, true, false}, {1.0f, 1, false, true}, {0.4f, 2, true, true}, {-1.0f, 0, false, false}};
    for (const Case& c : cases) {
        Blob a = evenBlob();
        Blob b = evenBlob();
        a.timeWarps[0][5] += 0.5f;
        b.timeWarps[0][5] += 0.5f;
        EXPECT_EQ(clearShownSlots(a, b, c.mix), c.cleared) << c.mix;
        EXPECT_EQ(a.timeWarps[0][5] == evenBlob().timeWarps[0][5], c.clearsA) << c.mix;
        EXPECT_EQ(b.timeWarps[0][5] == evenBlob().timeWarps[0][5], c.clearsB) << c.mix;
    }
    EXPECT_EQ(pasteSlot(0.0f), 0);
    EXPECT_EQ(pasteSlot(0.5f), 0);
    EXPECT_EQ(pasteSlot(0.51f), 1);
    EXPECT_EQ(pasteSlot(-1.0f), 0);
}

} // namespace
} // namespace tarvo
