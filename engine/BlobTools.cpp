#include "engine/BlobTools.h"

#include <algorithm>
#include <cmath>

#include "engine/CanonicalPlane.h"

namespace tarvo {

namespace {

constexpr float bands = static_cast<float>(plane::bandCount);
constexpr float frames = static_cast<float>(plane::frameCount);
// Added to a radius to make it unbounded: the tool then reaches every row or column.
constexpr float unbounded = 1e30f;
// Keeps a radius of zero from dividing by zero.
constexpr float radiusFloor = 1e-9f;
// Refinement steps when finding the mesh point under the pointer.
constexpr int locateIterations = 10;
// Motion in plane units below which a drag leaves that direction alone.
constexpr float motionThreshold = 1e-4f;
// Radii in plane units beyond which Attract leaves the time rows (frames) or the frequency
// columns (bands) alone: ten times the plane, reached only by an unbounded radius.
constexpr float attractRowReach = 10.0f * frames;
constexpr float attractColumnReach = 10.0f * bands;

// How far knot j of a list of n knots may move: 0 at both ends, so the end knots stay, and
// nearly flat in the middle.
float envelope(int j, int n) {
    const float q = static_cast<float>(j) / static_cast<float>(n - 1);
    return q * (1.0f - q) / ((q + 0.1f) * (1.1f - q));
}

// The pointer and the radii of one deformation in plane units.
struct Reach {
    float band;
    float frame;
    float radiusBands;
    float radiusFrames;
    float rowPos;    // the time row nearest the pointer, fractional
    float columnPos; // the frequency column nearest the pointer, fractional
};

Reach reachOf(const Blob& blob, float u, float w, float rx, float ry) {
    Reach r{};
    r.band = bands * u;
    r.frame = frames * w;
    r.radiusBands = bands * rx + radiusFloor;
    r.radiusFrames = frames * ry + radiusFloor;
    const Blob::MeshPoint at = blob.locate(r.band, r.frame, locateIterations);
    r.rowPos = at.g / Blob::knotsPerLine;
    r.columnPos = at.h / Blob::knotsPerLine;
    return r;
}

// Moves every inner knot of the time rows by shift(v, distance²), where the distance from the
// pointer counts the knot's frame offset and the smaller of its band offset and its row's
// offset from the pointer's row, each in radii.
template <typename Shift> void moveTimeKnots(Blob& blob, const Reach& at, Shift shift) {
    for (int r = 0; r < Blob::timeRowCount; ++r) {
        const float rowOffset = at.rowPos - static_cast<float>(r);
        for (int j = 1; j < Blob::timeKnotCount - 1; ++j) {
            float& v = blob.timeWarps[r][j];
            const float band =
                blob.planePosition(static_cast<float>(Blob::knotsPerLine * r), static_cast<float>(j)).band;
            const float dt = (v - at.frame) / at.radiusFrames;
            const float db = std::min(std::abs(band - at.band) / at.radiusBands, rowOffset * rowOffset);
            v += envelope(j, Blob::timeKnotCount) * shift(v - at.frame, dt * dt + db * db);
        }
    }
}

// The same for the inner knots of the frequency columns.
template <typename Shift> void moveFreqKnots(Blob& blob, const Reach& at, Shift shift) {
    for (int c = 0; c < Blob::freqColumnCount; ++c) {
        const float columnOffset = at.columnPos - static_cast<float>(c);
        for (int j = 1; j < Blob::freqKnotCount - 1; ++j) {
            float& v = blob.freqWarps[c][j];
            const float frame =
                blob.planePosition(static_cast<float>(j), static_cast<float>(Blob::knotsPerLine * c)).frame;
            const float db = (v - at.band) / at.radiusBands;
            const float dt =
                std::min(std::abs(frame - at.frame) / at.radiusFrames, columnOffset * columnOffset);
            v += envelope(j, Blob::freqKnotCount) * shift(v - at.band, dt * dt + db * db);
        }
    }
}

bool isEditable(const Blob* blob) {
    return blob != nullptr && blob->present != 0;
}

float fractionalPart(float x) {
    return x - std::floor(x);
}

} // namespace

CanvasRegion canvasRegion(const CanvasRect& canvas, float x, float y) {
    if (x >= canvas.left && x < canvas.right && y >= canvas.top && y < canvas.bottom)
        return CanvasRegion::inside;
    if (y > canvas.bottom) return CanvasRegion::below;
    if (x > canvas.right) return CanvasRegion::right;
    return CanvasRegion::elsewhere;
}

void dragDeform(Blob& blob, float u, float w, float du, float dw, float rx, float ry) {
    const Reach at = reachOf(blob, u, w, rx, ry);
    const float moveFrames = frames * dw;
    const float moveBands = bands * du;
    const bool alongTime = std::abs(moveFrames) > motionThreshold;
    const bool alongFrequency = std::abs(moveBands) > motionThreshold;
    if (!alongTime && !alongFrequency) return;
    if (alongTime)
        moveTimeKnots(blob, at,
                      [&](float, float distance2) { return moveFrames * 0.5f / (distance2 + 1.0f); });
    if (alongFrequency)
        moveFreqKnots(blob, at,
                      [&](float, float distance2) { return moveBands * 0.5f / (distance2 + 1.0f); });
    ++blob.editCount;
    blob.normalise();
}

void attractDeform(Blob& blob, float u, float w, float s, float rx, float ry) {
    const Reach at = reachOf(blob, u, w, rx, ry);
    const auto pull = [s](float offset, float distance2) { return -s * offset / (1.0f + distance2); };
    if (at.radiusFrames < attractRowReach) moveTimeKnots(blob, at, pull);
    if (at.radiusBands < attractColumnReach) moveFreqKnots(blob, at, pull);
    ++blob.editCount;
    blob.normalise();
}

float toolSizeAfterDrag(float size, float dy) {
    return std::clamp(size - dy, minToolSize, maxToolSize);
}

int clearShownSlots(Blob& a, Blob& b, float mix) {
    // Slots from floor(mix + 0.01) to floor(mix + 0.99): one slot at the ends of the mix,
    // both in between. A mix of -1 (nothing shown) names no slot.
    const int first = std::max(static_cast<int>(std::floor(mix + 0.01f)), 0);
    const int last = std::min(static_cast<int>(std::floor(mix + 0.99f)), 1);
    int cleared = 0;
    for (int slot = first; slot <= last; ++slot) {
        (slot == 0 ? a : b).clear();
        ++cleared;
    }
    return cleared;
}

void BlobStroke::hover(float x, float y) {
    if (held_) return;
    x_ = x;
    y_ = y;
    region_ = canvasRegion(canvas_, x, y);
}

void BlobStroke::leave() {
    if (!held_) region_ = CanvasRegion::elsewhere;
}

void BlobStroke::press(float x, float y, double now) {
    x_ = x;
    y_ = y;
    region_ = canvasRegion(canvas_, x, y);
    held_ = true;
    strokeStart_ = now;
    // The stroke's time starts at the press: the first step must not draw strength from the
    // pause before it.
    lastDragTime_ = now;
    ringPhase_ = 0.0f;
    editAmount_ = 0.0f;
}

bool BlobStroke::drag(float x, float y, float dx, float dy, double now, BlobTool tool, float toolRadius,
                      const Target& target) {
    if (!held_) return false;
    const float width = canvas_.width();
    const float height = canvas_.height();
    bool changed = false;
    const double sinceLast = now - lastDragTime_;
    const float age = static_cast<float>(std::max(now - strokeStart_, 0.0));
    // Tools grow stronger the longer a stroke lasts: half strength at the start, full after
    // four seconds, towards one and a half.
    const float ramp = age / (age + 4.0f) + 0.5f;
    if (region_ != CanvasRegion::elsewhere && width > 0.0f && height > 0.0f) {
        const bool right = region_ == CanvasRegion::right;
        const bool below = region_ == CanvasRegion::below;
        const float rx = toolRadius + (right ? unbounded : 0.0f);
        const float ry = toolRadius + (below ? unbounded : 0.0f);
        const float u = (x - canvas_.left) / width;
        const float w = (canvas_.bottom - y) / height;
        const float du = right ? 0.0f : dx / width;
        const float dw = below ? 0.0f : -dy / height;
        const float step = static_cast<float>(std::clamp(sinceLast, 0.0, maxStepSeconds));
        Blob* const slots[2] = {target.a, target.b};
        for (int i = 0; i < 2; ++i) {
            const float g = slotWeight(i, target.mix);
            // A slot the mix leaves out, or one without a sound, is never edited.
            if (!(g > 0.0f) || !isEditable(slots[i])) continue;
            Blob& blob = *slots[i];
            if (tool == BlobTool::drag) {
                const float amount = std::abs(du) + std::abs(dw);
                if (!(amount > 0.0f)) continue;
                dragDeform(blob, u, w, du * g, dw * g, rx, ry);
                // Summed over the stroke: a stroke that ends on a still event keeps its undo step.
                editAmount_ += amount;
            } else {
                const float s = g * ramp * step;
                if (!(s > 0.0f)) continue;
                attractDeform(blob, u, w, tool == BlobTool::repel ? -s : s, rx, ry);
                editAmount_ += s;
            }
            changed = true;
        }
    }
    const float direction = tool == BlobTool::repel ? 1.0f : tool == BlobTool::attract ? -1.0f : 0.0f;
    ringPhase_ = fractionalPart(ringPhase_ + ramp * static_cast<float>(sinceLast) * direction);
    x_ = x;
    y_ = y;
    lastDragTime_ = now;
    return changed;
}

bool BlobStroke::hold(double now, BlobTool tool, float toolRadius, const Target& target) {
    if (!held_ || tool == BlobTool::drag || now - lastDragTime_ <= holdInterval) return false;
    return drag(x_, y_, 0.0f, 0.0f, now, tool, toolRadius, target);
}

bool BlobStroke::release() {
    const bool edited = held_ && editAmount_ > 0.0f;
    held_ = false;
    ringPhase_ = 0.0f;
    editAmount_ = 0.0f;
    return edited;
}

} // namespace tarvo
