#pragma once
// One track slot's sound: a deformable mesh over the canonical plane (engine/CanonicalPlane.h).
// Seven time-warp rows say at which frame each of 41 time knots lies; six frequency-warp
// columns say at which band each of 49 frequency knots lies. Where knots crowd the sound is
// loud, where they spread it is quiet; the even mesh is a uniform wash of noise.
//
// A Blob is a plain value. Everything here runs on the user-interface thread except that the
// audio thread reads published copies (engine/BlobSlots.h); nothing here allocates apart from
// `name` (copied only by copyFrom with identity) and deserialize's error text.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tarvo {

class Blob {
public:
    // Rows of timeWarps; row r sits at frequency knot 8 r.
    static constexpr int timeRowCount = 7;
    // Knots per time row, evenly spread over frames 0..96 in the even mesh.
    static constexpr int timeKnotCount = 41;
    // Columns of freqWarps; column c sits at time knot 8 c.
    static constexpr int freqColumnCount = 6;
    // Knots per frequency column, evenly spread over bands 0..80 in the even mesh.
    static constexpr int freqKnotCount = 49;
    // Mesh knots between two neighbouring rows or columns.
    static constexpr int knotsPerLine = 8;
    // Size of the byte form: a format byte and the 16-bit knot increments of every list.
    static constexpr size_t byteSize =
        1 + 2 * (timeRowCount * (timeKnotCount - 1) + freqColumnCount * (freqKnotCount - 1));
    // The format byte written; 0 and 1 are read.
    static constexpr int formatVersion = 1;
    // Energy of a never-normalised Blob: so large that it plays practically silent.
    static constexpr float unnormalisedEnergy = 1e30f;
    // A time segment shorter than this (frames) is dense enough to sound.
    static constexpr float audibleSegmentFrames = 5.6295476f;
    // Time knots per frame that count as silence; only the density above it sounds.
    static constexpr float timeDensityThreshold = 0.17585784f;
    // Frequency knots per band that count as silence.
    static constexpr float freqDensityThreshold = 0.25220588f;

    using TimeRow = std::array<float, timeKnotCount>;
    using FreqColumn = std::array<float, freqKnotCount>;

    // The even mesh, not normalised: energy 1e30, length and audibleKnots -1.
    Blob();

    std::array<TimeRow, timeRowCount> timeWarps;
    std::array<FreqColumn, freqColumnCount> freqWarps;
    float energy = unnormalisedEnergy;
    float length = -1.0f;
    int32_t audibleKnots = -1;
    std::array<float, timeRowCount> tailTime{};
    std::string name;
    int32_t present = 1;
    int32_t version = 0;
    int32_t editCount = 0;

    // Resets the knots to the even mesh and normalises.
    void clear();

    // Evens out the knot steps, derives length, audibleKnots, tailTime and energy and counts
    // the version up. Returns the total knot movement (0 for a Blob that was already normal).
    // Reads the mesh once through a BlobReader to measure its energy (about 400 frames).
    float normalise();

    // "Mirror X": turns the sound upside down in frequency, then normalises.
    void mirrorFrequency();
    // "Mirror Y": plays the audible part backwards in time, then normalises.
    void mirrorTime();

    // Copies the knots and derived values; with identity also name, present and editCount.
    // Counts the version up. Allocates only with identity (the name).
    void copyFrom(const Blob& other, bool withIdentity);

    // Writes the byte form into out. Returns byteSize, or 0 when out is too small.
    size_t serialize(std::span<uint8_t> out) const;

    // Reads the byte form from the start of in. On success replaces the knots, brings every
    // list into a shape that the normalisation keeps and that saves back to bytes loading to
    // it again (so the Blob sounds the same after any number of saves and loads), normalises
    // and returns byteSize; otherwise leaves the Blob unchanged,
    // returns the bytes looked at (0 or 1) and, when reason is given, says why.
    size_t deserialize(std::span<const uint8_t> in, std::string* reason = nullptr);
    // The reading half of deserialize: accepts or refuses exactly as it does and settles the
    // knots the same way, but derives nothing (length, energy and the version stay as they
    // were); normalise() afterwards completes the load. For checks that decide whether bytes
    // load without paying for the loudness measurement.
    size_t readKnots(std::span<const uint8_t> in, std::string* reason = nullptr);

    // Plane position of the mesh point at fractional frequency knot g and time knot h.
    struct PlanePoint {
        float band;
        float frame;
    };
    PlanePoint planePosition(float g, float h) const;

    // The mesh point (frequency knot g, time knot h) lying at plane point (band, frame),
    // refined by at most `iterations` steps.
    struct MeshPoint {
        float g;
        float h;
    };
    MeshPoint locate(float band, float frame, int iterations) const;

    // The last segment k (knots k - 1 to k) of a time row dense enough to sound, or
    // timeKnotCount when none is.
    static int lastAudibleSegment(const TimeRow& v);
    // The decay time constant in seconds of a row's tail after the plane (its row speed falls
    // by e in that time), from the spacing of its last knots: 0 when the row falls silent
    // before them.
    static float rowTailTime(const TimeRow& v);

private:
    // Work space of the normalisation, not part of the value.
    std::array<float, freqKnotCount> lowScratch_{};
    std::array<float, freqKnotCount> highScratch_{};

    float evenOut(float* v, int n, float range);
    void settleLoaded(float* v, int n, float range);
    const uint8_t* loadList(const uint8_t* p, float* v, int n, float range);
    void deriveTimeValues();
    double knotEnergy() const;
    void deriveEnergy();
};

} // namespace tarvo
