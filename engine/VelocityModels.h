#pragma once
// The velocity models: per drum family, five layers of corrections that the Blob reader
// applies to make a soft hit sound soft and a hard hit hard, beyond plain loudness. The
// layers sit at MIDI velocities 0, 33 1/3, 66 2/3, 100 and 127 and are mixed linearly between.
//
// Layout of one layer (272 floats):
//   0..11    band gain curve, 12 points across bands 0..79
//   12..151  time remap, 7 rows x 20 points: the warped frame read when the plane position
//            is at point j of the row (points every 96 / 20 frames)
//   152..271 row frequency offsets in bands, 6 column positions x 20 band positions
//
// The table is constant data, read-only on any thread; nothing here allocates.

#include <array>

namespace tarvo {

struct VelocityModel {
    // Velocity layers per model.
    static constexpr int layerCount = 5;
    // Floats per layer.
    static constexpr int layerSize = 272;
    // Points of the band gain curve.
    static constexpr int bandGainPoints = 12;
    // First float of the time remap and its points per row.
    static constexpr int timeRemapStart = 12;
    static constexpr int timeRemapPoints = 20;
    // First float of the frequency offsets, with their column and band positions.
    static constexpr int freqOffsetStart = 152;
    static constexpr int freqOffsetColumns = 6;
    static constexpr int freqOffsetPoints = 20;

    using Layer = std::array<float, layerSize>;

    const char* name;
    std::array<Layer, layerCount> layers;
};

// Models in the order of the "Model" parameter's table entries.
constexpr int velocityModelCount = 7;

// Model m (0..velocityModelCount - 1): "Kick", "Snare", "Tom", "Hihat Closed", "Hihat Open",
// "Crash", "Piano".
const VelocityModel& velocityModel(int m);

} // namespace tarvo
