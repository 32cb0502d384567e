#pragma once
// What the Blob canvas draws, worked out on the CPU each display frame and independent of any
// graphics API: the shown Blob easing towards the mix of a track's two Blobs, and from it a
// mesh of 41 x 49 vertices (one per mesh node) and a 64 x 64 float map that holds per node the
// sound's amplitude, its gradient and a shadow term. A renderer uploads both as they are.
//
// User-interface thread only, apart from `CanvasFrame`, a plain value that a renderer on
// another thread receives through a hand-over (editor side). Construction allocates; `build`
// does not.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/Blob.h"

namespace tarvo {

// One frame of canvas data.
struct CanvasFrame {
    // Mesh nodes: one per time knot (rows, i) and frequency knot (columns, k).
    static constexpr int rows = Blob::timeKnotCount;
    static constexpr int columns = Blob::freqKnotCount;
    static constexpr int vertexCount = rows * columns;
    // Floats per vertex: position x, y in -1..1 and map coordinates s, t.
    static constexpr int vertexFloats = 4;
    // The map texture's side in texels and its channels (amplitude, band gradient, frame
    // gradient, shadow).
    static constexpr int mapSize = 64;
    static constexpr int mapChannels = 4;
    // The texel column that carries the eight track colours (rows 0..7) for shaders.
    static constexpr int trackColourColumn = mapSize - 1;
    static constexpr int trackCount = 8;

    // Vertex of node (i, k) at index k + columns * i.
    std::array<float, vertexCount * vertexFloats> vertices{};
    // Texel (x, y) at (x + mapSize * y) * mapChannels; node (i, k) is texel (k, i).
    std::array<float, mapSize * mapSize * mapChannels> map{};
    // Whether there was a Blob to draw; without one the canvas shows "<off>" and no mesh.
    bool hasBlob = false;
};

// Triangle indices of the mesh, three per triangle, two triangles per cell.
std::vector<uint32_t> canvasMeshIndices();

// The canvas's view of the sound parameters, each -1..1: the grid warps follow Frequency and
// Timescale, the shading follows Contrast and Density.
struct CanvasViewParams {
    float warpX = 0.0f;
    float warpY = 0.0f;
    float contrast = 0.0f;
    float density = 0.0f;
};

// From the parameters' normalised values (0..1, modulation included).
CanvasViewParams canvasViewParams(float frequency, float timescale, float contrast, float density);

// The mix the canvas shows: -1 with neither slot present, 0 with only A, 1 with only B,
// otherwise the Transform fraction clamped to 0..1.
float shownMix(bool presentA, bool presentB, float transform);

// A sounding voice of the shown track: where its reader is (0..1 along the time axis) and how
// strongly it sounds.
struct CanvasPlayhead {
    float position = 0.0f;
    float intensity = 0.0f;
};

// Style inputs of one frame.
struct CanvasStyle {
    // Seconds the shown Blob takes to reach a new target.
    float animateSeconds = 0.12f;
    // How far the mesh bulges under playheads; 0 never.
    float playSwell = 0.0f;
    // Track colours R, G, B in 0..1 for the map's colour column.
    std::array<std::array<float, 3>, CanvasFrame::trackCount> trackColours{};
};

class BlobCanvasModel {
public:
    // The shown Blob's source: the working Blobs of one track (either may be null).
    // Switching to another track starts an animation.
    void setSource(const Blob* a, const Blob* b, int track, double now);
    // The mix (see shownMix). A change starts an animation once the canvas has drawn.
    void setMix(float mix, double now);
    // The canvas became visible again: what it showed before is stale, so nothing animates
    // from it.
    void shownAgain();

    // Works out the frame for time `now` (seconds): updates the target and the shown Blob,
    // smooths the view parameters towards `view`, lets playheads swell the rows and fills
    // `out`. Returns whether the canvas should keep redrawing (an animation runs, a row still
    // swells or voices sound). Does not allocate.
    bool build(double now, const CanvasViewParams& view, std::span<const CanvasPlayhead> playheads,
               const CanvasStyle& style, CanvasFrame& out);

    float mix() const { return mix_; }
    // The knot-by-knot mix of A and B ("Copy Blob Mix" serialises it).
    const Blob& target() const { return target_; }
    const Blob& shown() const { return shown_; }
    const CanvasViewParams& smoothedView() const { return smoothed_; }
    bool animating() const { return animating_; }

private:
    void updateTarget();
    // Moves the shown Blob towards the target; returns this frame's animation fraction.
    float animate(double now, float animateSeconds);
    void computeNodes();
    void fill(const CanvasStyle& style, CanvasFrame& out);

    static constexpr int rows = CanvasFrame::rows;
    static constexpr int columns = CanvasFrame::columns;

    const Blob* a_ = nullptr;
    const Blob* b_ = nullptr;
    int track_ = -1;
    float mix_ = -1.0f;
    Blob target_;
    Blob shown_;
    bool animating_ = false;
    double animationStart_ = 0.0;
    // Time of the last build; negative until the canvas has drawn (or after shownAgain).
    double lastDraw_ = -100.0;
    CanvasViewParams smoothed_;
    // Per node: band and frame fractions of the plane, amplitude.
    std::array<std::array<float, columns>, rows> bandFrac_{};
    std::array<std::array<float, columns>, rows> frameFrac_{};
    std::array<std::array<float, columns>, rows> amplitude_{};
    // Density per knot of every time row and frequency column.
    std::array<Blob::TimeRow, Blob::timeRowCount> timeDensity_{};
    std::array<Blob::FreqColumn, Blob::freqColumnCount> freqDensity_{};
    // Per row: how much the playheads swell it; decays between frames.
    std::array<float, rows> swell_{};
    // The largest amplitude shown at full brightness.
    float ceiling_ = 1.0f;
};

// The background picture the canvas refracts: a soft-lit dome seen from inside, size x size
// texels of R, G, B, A floats (A 0), generated rather than stored.
std::vector<float> generateDomePicture(int size);

} // namespace tarvo
