#pragma once
// The loudness outline of a track's sound, worked out from the meshes of its two Blobs
// without synthesis: one value per time slice over the plane's first 95 frames, low
// frequencies weighted most, normalised so that the slices' level is about 0.5. The track's
// waveform button draws it, and the sequencer grid draws it inside the track's notes.
//
// Threads: user-interface thread (it reads the Blob working copies, which belong to that
// thread). Nothing allocates; the picture has a fixed room of 64 slices.

#include <array>

#include "engine/Blob.h"

namespace tarvo {

class BlobOutline {
public:
    // Most slices a picture has.
    static constexpr int maxSlices = 64;
    // Slices when the theme names no resolution.
    static constexpr int defaultSlices = 16;
    // A mix change smaller than this keeps the picture.
    static constexpr float mixTolerance = 0.001f;

    // The slice count for a theme's resolution value: its whole part, at most 64; 0 or less
    // means no picture.
    static int slicesFor(float resolution);

    // The weight of Blob B in the picture: the normalized Transform position (clamped to
    // 0..1) when both slots hold a sound, 1 when only B does, 0 otherwise.
    static float mixWeight(const Blob& a, const Blob& b, float transform);

    // Computes count (1..64) slice values from Blobs a and b with weight x of b into out.
    static void compute(const Blob& a, const Blob& b, float x, int count, float* out);

    // Brings the picture up to date for the track's Blobs, its Transform position and the
    // wanted slice count; recomputes only when a Blob's version, the presence of a sound, the
    // mix (by more than `mixTolerance`) or the slice count changed. Returns whether it did;
    // `changedAt` then takes now (seconds).
    bool refresh(const Blob& a, const Blob& b, float transform, int slices, double now);

    int size() const { return size_; }
    const float* values() const { return values_.data(); }
    float operator[](int i) const { return values_[static_cast<size_t>(i)]; }
    // When the picture last changed, in the caller's seconds; -100 before the first.
    double changedAt() const { return changedAt_; }

private:
    std::array<float, maxSlices> values_{};
    int size_ = 0;
    int key_ = 0;
    float mix_ = -1.0f; // no picture yet: any mix differs
    double changedAt_ = -100.0;
};

} // namespace tarvo
