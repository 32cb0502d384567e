#pragma once
// The Blob editor's sculpting tools, without any drawing: where the pointer is relative to the
// canvas, the Drag, Attract and Repel deformations of a Blob's mesh, and one stroke of the
// mouse from press to release acting on a track's two Blobs by their Transform weights.
//
// User-interface thread only. The tools change working Blobs (engine/BlobSlots.h), which reach
// the audio thread at the next publication. Nothing here allocates.

#include <array>
#include <cstdint>

#include "engine/Blob.h"

namespace tarvo {

// The three sculpting tools, by the index the instrument keeps as its current tool.
enum class BlobTool : int32_t { drag = 0, attract = 1, repel = 2 };

// A rectangle in editor pixels: left, top, right, bottom.
struct CanvasRect {
    float left = 0.0f;
    float top = 0.0f;
    float right = 0.0f;
    float bottom = 0.0f;

    float width() const { return right - left; }
    float height() const { return bottom - top; }
};

// Where the pointer is relative to the canvas. Inside, the tools act around the pointer; below
// the canvas they act on whole frequency columns, right of it on whole time rows.
enum class CanvasRegion : int32_t { inside, below, right, elsewhere };

// The region of pointer (x, y), tested in the order inside, below, right.
CanvasRegion canvasRegion(const CanvasRect& canvas, float x, float y);

// Weight of slot (0 A, 1 B) under the shown mix: 0.5 for the slot Transform selects fully,
// 0.375 each at the middle, 0 or less for a slot the mix leaves out.
inline float slotWeight(int slot, float mix) {
    const float offset = static_cast<float>(slot) - mix;
    return (1.0f - offset * offset) * 0.5f;
}

// Pushes and pulls the mesh around plane point (u, w) (band fraction 0..1 from the left, frame
// fraction 0..1 from the bottom) by motion (du, dw), within radii (rx, ry), all as fractions of
// the plane. End knots never move. Counts editCount up and normalises.
void dragDeform(Blob& blob, float u, float w, float du, float dw, float rx, float ry);

// Draws knots towards plane point (u, w) with strength s (pushes them away for negative s),
// within radii (rx, ry). An unbounded radius leaves that direction's lists alone. Counts
// editCount up and normalises.
void attractDeform(Blob& blob, float u, float w, float s, float rx, float ry);

// Tool sizes in pixels, and the size after dragging vertically on a held tool button (dy in
// pixels, up negative: moving up enlarges the tool).
constexpr float minToolSize = 16.0f;
constexpr float maxToolSize = 128.0f;
constexpr float startToolSize = 64.0f;
float toolSizeAfterDrag(float size, float dy);

// The slots "Clear Blob" clears at the shown mix: A at 0, B at 1, both in between, none when no
// slot is shown (mix -1). Returns the number cleared.
int clearShownSlots(Blob& a, Blob& b, float mix);

// The slot "Paste Blob" writes: B when the mix leans to it, A otherwise.
inline int pasteSlot(float mix) {
    return mix > 0.5f ? 1 : 0;
}

// One mouse stroke on the canvas, from press to release.
class BlobStroke {
public:
    // Seconds without a drag event after which a held Attract or Repel acts on its own.
    static constexpr double holdInterval = 0.05;
    // Longest time step one tool step takes, so that a stalled display does not jump.
    static constexpr double maxStepSeconds = 0.2;

    // The Blobs a stroke edits, with the mix the editor shows (-1 none, 0 A, 1 B, or the
    // Transform fraction). A slot that is null or not present is never edited.
    struct Target {
        Blob* a = nullptr;
        Blob* b = nullptr;
        float mix = 0.0f;
    };

    void setCanvas(const CanvasRect& canvas) { canvas_ = canvas; }
    const CanvasRect& canvas() const { return canvas_; }

    // Pointer moved with the button up: the region follows it.
    void hover(float x, float y);
    // Pointer left the widget: no brush, no tool effect.
    void leave();
    // Left button down at (x, y): a stroke starts; nothing is changed yet.
    void press(float x, float y, double now);
    // Pointer dragged to (x, y) by (dx, dy) pixels with the button held. Applies the tool with
    // radius `toolRadius` (a fraction of the canvas width). Returns whether a Blob changed.
    bool drag(float x, float y, float dx, float dy, double now, BlobTool tool, float toolRadius,
              const Target& target);
    // Per-frame tick: a held Attract or Repel keeps acting while the mouse stands still.
    // Returns whether a Blob changed.
    bool hold(double now, BlobTool tool, float toolRadius, const Target& target);
    // Button up. Returns whether the stroke changed anything, so that it needs an undo step.
    bool release();

    bool held() const { return held_; }
    CanvasRegion region() const { return region_; }
    float x() const { return x_; }
    float y() const { return y_; }
    // Sum of the stroke's edit strength so far.
    float editAmount() const { return editAmount_; }
    // Phase of the brush rings, 0..1: falls under Attract, rises under Repel.
    float ringPhase() const { return ringPhase_; }

private:
    CanvasRect canvas_;
    CanvasRegion region_ = CanvasRegion::elsewhere;
    bool held_ = false;
    float x_ = 0.0f;
    float y_ = 0.0f;
    double strokeStart_ = 0.0;
    double lastDragTime_ = 0.0;
    float editAmount_ = 0.0f;
    float ringPhase_ = 0.0f;
};

} // namespace tarvo
