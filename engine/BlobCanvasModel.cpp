#include "engine/BlobCanvasModel.h"

#include <algorithm>
#include <cmath>

#include "engine/CanonicalPlane.h"
#include "engine/MeshInterpolation.h"

namespace tarvo {

namespace {

constexpr float bands = static_cast<float>(plane::bandCount);
constexpr float frames = static_cast<float>(plane::frameCount);
// The even mesh's knot steps as a fraction of the normalisation's step scale: the density
// below which a list counts as silent.
constexpr float silentDensityScale = 0.41176468f;
// Keeps a node's amplitude above zero, so the contrast curve and the ceiling stay defined.
constexpr float amplitudeFloor = 1e-30f;
// The smallest ceiling: a silent mesh then shows as silence, not as full brightness.
constexpr float ceilingFloor = 1e-6f;
// The smallest distance (plane fractions) a gradient divides by; a folded or collapsed mesh
// then gives a steep but finite slope.
constexpr float gradientSpanFloor = 1e-4f;
// The outer nodes lie just outside the canvas, so the mesh covers it edge to edge.
constexpr float outerNodeInset = 0.001f;
// Knot differences below which an animation has arrived.
constexpr float arrivedDifference = 1e-4f;
// The shortest time step of an animation, so that a late frame still moves the Blob.
constexpr double minAnimationStep = 0.01;
// View smoothing per frame while no animation runs.
constexpr float restingSmoothing = 0.5f;
// Each frame a row's swell keeps 80 % and loses a little more, so it settles at zero.
constexpr float swellKeep = 0.8f;
constexpr float swellLoss = 0.01f;
// Node column whose band position is a row's centre for the swell's sideways bulge.
constexpr int centreColumn = CanvasFrame::columns / 2;
// Neighbours on each side that the gradients and the swell's tilt span.
constexpr int span = 2;
// The rows' sideways bulge is steepest this far (in -1..1 units) either side of the centre.
constexpr float bulgeSharpness = 10.0f;
// Largest vertical shift of a row under a swell, in -1..1 units.
constexpr float swellLift = 0.05f;

// Knots per unit at every knot of list v, above the silent density t and floored at 0, then
// blended where knots crowd closer than one unit, so that a dense cluster reads as one smooth
// hill rather than single spikes.
template <size_t N> void listDensity(const std::array<float, N>& v, float t, std::array<float, N>& d) {
    constexpr int n = static_cast<int>(N);
    for (int j = 0; j < n; ++j) {
        const int lo = std::max(j - 1, 0);
        const int hi = std::min(j + 1, n - 1);
        d[j] = std::max(static_cast<float>(hi - lo) / std::max(v[hi] - v[lo], 1e-9f) - t, 0.0f);
    }
    // A blend weight stays within 0..1 even where a list runs backwards, so that the passes
    // average and never amplify.
    const auto blend = [](float step) { return std::clamp(1.0f - step, 0.0f, 1.0f); };
    for (int round = 0; round < 2; ++round) {
        for (int j = 1; j < n; ++j) d[j] += blend(v[j] - v[j - 1]) * (d[j - 1] - d[j]);
        for (int j = n - 2; j >= 0; --j) d[j] += blend(v[j + 1] - v[j]) * (d[j + 1] - d[j]);
    }
}

// The silent density of a warp set: its knot count per unit of the mean list length, scaled.
template <size_t Lists, size_t Knots>
float silentDensity(const std::array<std::array<float, Knots>, Lists>& lists) {
    float lastSum = 0.0f;
    for (const auto& v : lists) lastSum += v[Knots - 1];
    const float meanLast = std::max(lastSum / static_cast<float>(Lists), 1e-9f);
    return static_cast<float>(Knots - 1) * silentDensityScale / meanLast;
}

// The reader's "Contrast" curve on one amplitude: positive c pushes weak values towards 0,
// negative c lifts them.
float contrastShaped(float v, float c) {
    if (c > 0.0f) {
        const float d = std::max(v - 0.1f * c, 0.0f);
        return v + c * ((0.1f * d + 1.0f) * d * d / ((0.4f * d + 0.4f) * d + 0.15f) - v);
    }
    if (c < 0.0f) {
        const float knee = (0.1f + 0.08f * c) * (0.1f + 0.08f * c);
        return (v * (-0.2f * c) / (v * v + knee) + 1.0f + c) * v;
    }
    return v;
}

// s / (|s| + 0.4): a parameter's offset from its middle, squashed into -1..1.
float squashed(float fraction) {
    const float s = fraction - 0.5f;
    return s / (std::abs(s) + 0.4f);
}

// A normalised parameter value mapped from 0..1 onto -1..1.
float bipolar(float fraction) {
    return std::clamp(2.0f * fraction - 1.0f, -1.0f, 1.0f);
}

template <typename Lists> void blendLists(Lists& out, const Lists& a, const Lists& b, float mix) {
    for (size_t l = 0; l < out.size(); ++l)
        for (size_t k = 0; k < out[l].size(); ++k) out[l][k] = (1.0f - mix) * a[l][k] + mix * b[l][k];
}

// Moves every knot of out towards to by fraction f; returns the largest difference before.
template <typename Lists> float approach(Lists& out, const Lists& to, float f) {
    float largest = 0.0f;
    for (size_t l = 0; l < out.size(); ++l)
        for (size_t k = 0; k < out[l].size(); ++k) {
            const float difference = to[l][k] - out[l][k];
            largest = std::max(largest, std::abs(difference));
            out[l][k] += difference * f;
        }
    return largest;
}

} // namespace

std::vector<uint32_t> canvasMeshIndices() {
    constexpr uint32_t columns = CanvasFrame::columns;
    std::vector<uint32_t> indices;
    indices.reserve(static_cast<size_t>((CanvasFrame::rows - 1) * (columns - 1) * 6));
    for (uint32_t i = 0; i + 1 < CanvasFrame::rows; ++i)
        for (uint32_t k = 0; k + 1 < columns; ++k) {
            const uint32_t g = k + columns * i;
            indices.insert(indices.end(), {g, g + 1, g + columns, g + columns, g + 1, g + columns + 1});
        }
    return indices;
}

CanvasViewParams canvasViewParams(float frequency, float timescale, float contrast, float density) {
    return {squashed(frequency), squashed(timescale), bipolar(contrast), bipolar(density)};
}

float shownMix(bool presentA, bool presentB, float transform) {
    if (!presentA && !presentB) return -1.0f;
    if (!presentB) return 0.0f;
    if (!presentA) return 1.0f;
    // A transform that is not a number shows A.
    return transform > 0.0f ? std::min(transform, 1.0f) : 0.0f;
}

void BlobCanvasModel::setSource(const Blob* a, const Blob* b, int track, double now) {
    if (track != track_) {
        animating_ = true;
        animationStart_ = now;
    }
    a_ = a;
    b_ = b;
    track_ = track;
}

void BlobCanvasModel::setMix(float mix, double now) {
    if (mix != mix_ && lastDraw_ >= 0.0) {
        animating_ = true;
        animationStart_ = now;
    }
    mix_ = mix;
}

void BlobCanvasModel::shownAgain() {
    lastDraw_ = -100.0;
    animating_ = false;
}

void BlobCanvasModel::updateTarget() {
    static const Blob even;
    const Blob& a = a_ != nullptr ? *a_ : even;
    const Blob& b = b_ != nullptr ? *b_ : even;
    const float x = std::clamp(mix_, 0.0f, 1.0f);
    blendLists(target_.timeWarps, a.timeWarps, b.timeWarps, x);
    blendLists(target_.freqWarps, a.freqWarps, b.freqWarps, x);
    target_.name = x > 0.5f ? b.name : a.name;
}

float BlobCanvasModel::animate(double now, float animateSeconds) {
    if (!animating_ || lastDraw_ < 0.0) {
        animating_ = false;
        shown_.timeWarps = target_.timeWarps;
        shown_.freqWarps = target_.freqWarps;
        return restingSmoothing;
    }
    const double elapsed = now - animationStart_;
    const double step = std::max(now - std::max(animationStart_, lastDraw_), minAnimationStep);
    const double remaining = animateSeconds - elapsed;
    const float f = static_cast<float>(step / std::max(remaining, step));
    const float largest = std::max(approach(shown_.timeWarps, target_.timeWarps, f),
                                   approach(shown_.freqWarps, target_.freqWarps, f));
    if (largest < arrivedDifference) animating_ = false;
    return f;
}

void BlobCanvasModel::computeNodes() {
    const float timeSilence = silentDensity(shown_.timeWarps);
    const float freqSilence = silentDensity(shown_.freqWarps);
    for (int r = 0; r < Blob::timeRowCount; ++r)
        listDensity(shown_.timeWarps[r], timeSilence, timeDensity_[r]);
    for (int c = 0; c < Blob::freqColumnCount; ++c)
        listDensity(shown_.freqWarps[c], freqSilence, freqDensity_[c]);
    const float perLine = static_cast<float>(Blob::knotsPerLine);
    for (int i = 0; i < rows; ++i) {
        for (int k = 0; k < columns; ++k) {
            const float g = static_cast<float>(k);
            const float h = static_cast<float>(i);
            const Blob::PlanePoint at = shown_.planePosition(g, h);
            float band = at.band / bands;
            float frame = at.frame / frames;
            if (k == 0) band = -outerNodeInset;
            if (k == columns - 1) band = 1.0f + outerNodeInset;
            if (i == 0) frame = -outerNodeInset;
            if (i == rows - 1) frame = 1.0f + outerNodeInset;
            bandFrac_[i][k] = band;
            frameFrac_[i][k] = frame;
            const float timeDensity = bilinear(timeDensity_, g / perLine, h);
            const float freqDensity = bilinear(freqDensity_, h / perLine, g);
            amplitude_[i][k] = contrastShaped(timeDensity * freqDensity + amplitudeFloor, smoothed_.contrast);
        }
    }
    double sum4 = 0.0;
    float largest = 0.0f;
    for (const auto& row : amplitude_)
        for (float v : row) {
            const double v2 = static_cast<double>(v) * v;
            sum4 += v2 * v2;
            largest = std::max(largest, v);
        }
    const float m4 = static_cast<float>(std::pow(sum4 / (rows * columns), 0.25));
    ceiling_ = std::max(std::min(largest, 1.5f * m4), ceilingFloor);
}

void BlobCanvasModel::fill(const CanvasStyle& style, CanvasFrame& out) {
    const float p = style.playSwell;
    const float q = 2.5f * p;
    std::array<float, rows> gain{};
    for (int i = 0; i < rows; ++i) gain[i] = (q * swell_[i] + 1.0f) / ceiling_;

    for (int i = 0; i < rows; ++i) {
        const int below = std::max(i - span, 0);
        const int above = std::min(i + span, rows - 1);
        const float centre = 2.0f * std::clamp(bandFrac_[i][centreColumn], 0.1f, 0.9f) - 1.0f;
        const float v = p * swell_[i];
        float lift = 0.0f;
        if (i > 0 && i < rows - 1) {
            const float d = (swell_[below] - swell_[above]) * q;
            lift = swellLift * d / (std::abs(d) + 1.0f);
        }
        for (int k = 0; k < columns; ++k) {
            const float x = 2.0f * bandFrac_[i][k] - 1.0f;
            const float y = 2.0f * frameFrac_[i][k] - 1.0f;
            const float room = std::max(1.0f - std::abs(x), 0.0f);
            const float a = (x - centre) * bulgeSharpness;
            float* vertex = &out.vertices[static_cast<size_t>((k + columns * i) * CanvasFrame::vertexFloats)];
            vertex[0] = x + room * v / (room + std::abs(v) + 1e-30f) * a / (std::abs(a) + 1.0f + 1e-30f);
            vertex[1] = y + lift;
            vertex[2] = (static_cast<float>(k) + 0.5f) / CanvasFrame::mapSize;
            vertex[3] = (static_cast<float>(i) + 0.5f) / CanvasFrame::mapSize;
        }
    }

    out.map.fill(0.0f);
    // The shadow's horizon per column, walked from the top row down; one spare entry on the
    // right, where the light comes from.
    std::array<float, columns + 1> horizon{};
    for (int i = rows - 1; i >= 0; --i) {
        const int below = std::max(i - span, 0);
        const int above = std::min(i + span, rows - 1);
        for (int k = 0; k < columns; ++k) {
            const int left = std::max(k - span, 0);
            const int right = std::min(k + span, columns - 1);
            float* texel =
                &out.map[static_cast<size_t>((k + CanvasFrame::mapSize * i) * CanvasFrame::mapChannels)];
            const float amplitude = amplitude_[i][k] * gain[i];
            const float bandSpan = std::max(bandFrac_[i][right] - bandFrac_[i][left], gradientSpanFloor);
            const float frameSpan = std::max(frameFrac_[above][k] - frameFrac_[below][k], gradientSpanFloor);
            texel[0] = amplitude;
            texel[1] = (amplitude_[i][right] - amplitude_[i][left]) * gain[i] / bandSpan;
            texel[2] = (amplitude_[above][k] * gain[above] - amplitude_[below][k] * gain[below]) / frameSpan;
            const float bandStep = bandFrac_[above][k] - bandFrac_[below][k];
            const float distance = std::sqrt(frameSpan * frameSpan + bandStep * bandStep);
            const float h = horizon[k + 1] - distance;
            texel[3] = (amplitude - h) * 2.0f + 1.0f;
            horizon[k] = std::max(amplitude, h);
        }
    }
    for (int t = 0; t < CanvasFrame::trackCount; ++t) {
        float* texel = &out.map[static_cast<size_t>(
            (CanvasFrame::trackColourColumn + CanvasFrame::mapSize * t) * CanvasFrame::mapChannels)];
        for (int c = 0; c < 3; ++c) texel[c] = style.trackColours[t][c];
    }
}

bool BlobCanvasModel::build(double now, const CanvasViewParams& view,
                            std::span<const CanvasPlayhead> playheads, const CanvasStyle& style,
                            CanvasFrame& out) {
    const bool hasBlob = mix_ >= 0.0f && (a_ != nullptr || b_ != nullptr);
    out.hasBlob = hasBlob;
    if (!hasBlob) {
        lastDraw_ = now;
        return false;
    }
    updateTarget();
    const float f = animate(now, style.animateSeconds);
    lastDraw_ = now;
    smoothed_.warpX += (view.warpX - smoothed_.warpX) * f;
    smoothed_.warpY += (view.warpY - smoothed_.warpY) * f;
    smoothed_.contrast += (view.contrast - smoothed_.contrast) * f;
    smoothed_.density += (view.density - smoothed_.density) * f;

    computeNodes();
    bool swelling = false;
    for (int i = 0; i < rows; ++i) {
        float s = std::max(swellKeep * swell_[i] - swellLoss, 0.0f);
        const float rowFrame = frameFrac_[i][0];
        for (const CanvasPlayhead& head : playheads) {
            const float u = head.position;
            const float reach = (u - rowFrame) * 10.0f * (u * u + 1.0f);
            s += (1.0f - 0.5f * u * u) * head.intensity / (reach * reach + 1.0f);
        }
        swell_[i] = s;
        swelling = swelling || s > 0.0f;
    }
    fill(style, out);
    const bool smoothing = std::abs(view.warpX - smoothed_.warpX) + std::abs(view.warpY - smoothed_.warpY) +
                               std::abs(view.contrast - smoothed_.contrast) +
                               std::abs(view.density - smoothed_.density) >
                           1e-4f;
    return animating_ || swelling || !playheads.empty() || smoothing;
}

std::vector<float> generateDomePicture(int size) {
    std::vector<float> rgba(static_cast<size_t>(size) * size * 4, 0.0f);
    const float scale = 1.0f / static_cast<float>(std::max(size - 1, 1));
    for (int row = 0; row < size; ++row) {
        // y runs from the dome's crown (0, top row) to the floor (1).
        const float y = static_cast<float>(row) * scale;
        for (int column = 0; column < size; ++column) {
            const float x = static_cast<float>(column) * scale;
            const float dx = x - 0.5f;
            const float dy = y - 0.42f;
            const float r = std::sqrt(dx * dx + dy * dy);
            const float angle = std::atan2(dy, dx);
            // The vault: light falls from above, so the crown is bright and the floor dark.
            const float vault = std::clamp(1.0f - y * 1.1f, 0.0f, 1.0f);
            // Twelve ribs meeting at the crown, fading towards the horizon.
            const float rib =
                std::pow(std::abs(std::cos(6.0f * angle)), 24.0f) * std::clamp(0.5f - r, 0.0f, 0.5f);
            // The round skylight at the crown and a warm glow along the horizon.
            const float skylight = 1.0f / (1.0f + std::pow(r / 0.07f, 6.0f));
            const float horizon = std::exp(-std::pow((y - 0.66f) / 0.045f, 2.0f));
            // Tall windows around the walls below the horizon's glow.
            const float window = std::pow(std::max(std::cos(x * 2.0f * 3.14159265f * 5.0f), 0.0f), 8.0f) *
                                 std::clamp((y - 0.42f) * 6.0f, 0.0f, 1.0f) *
                                 std::clamp((0.64f - y) * 8.0f, 0.0f, 1.0f);
            const float floor = std::clamp((y - 0.7f) * 2.0f, 0.0f, 1.0f);
            // Dim overall, so that the relief seen through it keeps the grid visible.
            float red =
                0.05f + 0.18f * vault + 0.35f * horizon + 0.12f * window + 0.8f * skylight - 0.03f * floor;
            float green =
                0.06f + 0.22f * vault + 0.26f * horizon + 0.13f * window + 0.8f * skylight - 0.04f * floor;
            float blue =
                0.09f + 0.30f * vault + 0.14f * horizon + 0.16f * window + 0.85f * skylight - 0.05f * floor;
            red -= 0.12f * rib;
            green -= 0.12f * rib;
            blue -= 0.10f * rib;
            float* texel = &rgba[(static_cast<size_t>(row) * size + column) * 4];
            texel[0] = std::clamp(red, 0.0f, 1.0f);
            texel[1] = std::clamp(green, 0.0f, 1.0f);
            texel[2] = std::clamp(blue, 0.0f, 1.0f);
        }
    }
    return rgba;
}

} // namespace tarvo
