#include "engine/Blob.h"

#include <algorithm>
#include <cmath>

#include "engine/BlobReader.h"
#include "engine/CanonicalPlane.h"
#include "engine/MeshInterpolation.h"

namespace tarvo {

namespace {

// Steps of an even mesh are 2.4 frames and 1.67 bands; the normalisation keeps every step
// between 7.5 / n and 1.15 R / n, both scaled by this factor.
constexpr float stepScale = 0.41176468f;
// Quantisation unit of the byte form (frames or bands per integer step) and its reciprocal.
constexpr double quantStep = 0.0009765774;
constexpr double quantScale = 1023.9844;
// Evening-out passes a loaded list gets at most before it is taken as it is; lists the
// project writes settle in one or two, hostile ones within a few dozen.
constexpr int maxSettlePasses = 200;
// Store-and-reload rounds a loaded list gets at most to reach a stored form that loads back to
// itself. A run of knots held at the smallest step settles about one knot per round (hostile
// files needed up to 47), so this leaves ample room.
constexpr int maxStoreRounds = 256;
// Centre of the energy's frequency weighting, as a fraction of the band range: regions away
// from it count less towards the loudness measure.
constexpr double energyWeightCentre = 0.63;

// The smallest and largest step between neighbouring knots that the normalisation keeps in
// a list of n knots over 0..range.
struct StepLimits {
    float minStep;
    float maxStep;
};
StepLimits stepLimits(int n, float range) {
    const float count = static_cast<float>(n);
    return {7.5f / count * stepScale, range * 1.15f / count / stepScale};
}

// std::min, std::max and std::clamp on values, with the same comparisons in the same order
// (a NaN passes through as it does there).
template <typename T> T minValue(T a, T b) {
    return b < a ? b : a;
}
template <typename T> T maxValue(T a, T b) {
    return a < b ? b : a;
}
template <typename T> T clampValue(T value, T low, T high) {
    return minValue(maxValue(value, low), high);
}

// Knot k of an even list of n knots over 0..range.
float evenKnot(int k, int n, float range) {
    return static_cast<float>(k) * range / static_cast<float>(n - 1);
}

// Mirrors the first a knots of v inside their own end points.
void reflect(float* v, int a) {
    if (a < 3) return;
    const float d = v[0] + v[a - 1];
    for (int j = 1, k = a - 2; j < k; ++j, --k) {
        const float low = v[j];
        v[j] = d - v[k];
        v[k] = d - low;
    }
    if (a % 2 == 1) v[a / 2] = d - v[a / 2];
}

// Little-endian unsigned 16-bit integers of the byte form.
void putU16(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value & 0xff);
    p[1] = static_cast<uint8_t>((value >> 8) & 0xff);
}
uint32_t getU16(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8);
}

// Writes the increments of knots 1..n-1 so that rounding errors never add up: each integer
// is taken against the sum of those already written. Knots below their predecessor or beyond
// the 16-bit range are written at the nearest value the format can hold.
uint8_t* writeList(uint8_t* p, const float* v, int n) {
    int64_t sum = 0;
    for (int j = 1; j < n; ++j) {
        const double g =
            std::trunc((static_cast<double>(v[j]) - static_cast<double>(sum) * quantStep) * quantScale + 0.5);
        const int64_t step = std::isfinite(g) ? static_cast<int64_t>(clampValue(g, 0.0, 65535.0)) : 0;
        putU16(p, static_cast<uint32_t>(step));
        sum += step;
        p += 2;
    }
    return p;
}

const uint8_t* readList(const uint8_t* p, float* v, int n) {
    int64_t sum = 0;
    v[0] = 0.0f;
    for (int j = 1; j < n; ++j) {
        sum += getU16(p);
        v[j] = static_cast<float>(static_cast<double>(sum) * quantStep);
        p += 2;
    }
    return p;
}

} // namespace

Blob::Blob() {
    for (auto& row : timeWarps)
        for (int k = 0; k < timeKnotCount; ++k) row[k] = evenKnot(k, timeKnotCount, plane::frameCount);
    for (auto& column : freqWarps)
        for (int k = 0; k < freqKnotCount; ++k) column[k] = evenKnot(k, freqKnotCount, plane::bandCount);
}

void Blob::clear() {
    for (auto& row : timeWarps)
        for (int k = 0; k < timeKnotCount; ++k) row[k] = evenKnot(k, timeKnotCount, plane::frameCount);
    for (auto& column : freqWarps)
        for (int k = 0; k < freqKnotCount; ++k) column[k] = evenKnot(k, freqKnotCount, plane::bandCount);
    normalise();
}

float Blob::normalise() {
    float movement = 0.0f;
    for (auto& row : timeWarps) movement += evenOut(row.data(), timeKnotCount, plane::frameCount);
    for (auto& column : freqWarps) movement += evenOut(column.data(), freqKnotCount, plane::bandCount);
    deriveTimeValues();
    deriveEnergy();
    ++version;
    return movement;
}

// Holds the steps of one list between minStep and maxStep: a forward pass pushes knots up,
// a backward pass pulls them down, and each knot lands halfway between the two. The end
// knots stay. Returns how far the knots moved in total.
// The limits are taken by value (the standard clamp binds them by reference, which gives each
// sum a stack slot that address checking poisons and clears on every step of a loop that
// settling runs thousands of times per loaded Blob); the results are the same.
float Blob::evenOut(float* v, int n, float range) {
    const StepLimits limits = stepLimits(n, range);
    const float minStep = limits.minStep;
    const float maxStep = limits.maxStep;
    float* lo = lowScratch_.data();
    float* hi = highScratch_.data();
    lo[0] = v[0];
    const float last = v[n - 1];
    for (int k = 1; k <= n - 2; ++k) {
        const float low = clampValue(v[k], lo[k - 1] + minStep, lo[k - 1] + maxStep);
        lo[k] = minValue(low, last - static_cast<float>(n - 1 - k) * minStep);
    }
    hi[n - 1] = last;
    float movement = 0.0f;
    for (int k = n - 2; k >= 1; --k) {
        const float high = clampValue(lo[k], hi[k + 1] - maxStep, hi[k + 1] - minStep);
        hi[k] = maxValue(high, static_cast<float>(k) * minStep);
        const float next = (hi[k] + lo[k]) * 0.5f;
        movement += std::abs(v[k] - next);
        v[k] = next;
    }
    return movement;
}

// A stored list's increments are free, so its last knot can lie where no even-stepped list
// reaches, and its inner knots so far from even that one evening-out pass leaves them moving
// on the next: such a Blob would sound different after every save and load. The last knot is
// drawn into reach and the list evened out until it stops moving. A list that one pass
// settles, as every list the project writes does, ends exactly as after that one pass.
void Blob::settleLoaded(float* v, int n, float range) {
    const auto [minStep, maxStep] = stepLimits(n, range);
    const float steps = static_cast<float>(n - 1);
    v[n - 1] = std::clamp(v[n - 1], v[0] + steps * minStep, v[0] + steps * maxStep);
    for (int pass = 0; pass < maxSettlePasses; ++pass)
        if (evenOut(v, n, range) == 0.0f) break;
}

// Reads one stored list and settles it. A settled list can still lie so close to a step limit
// that its stored form rounds across it, and the next load settles it a rounding step away:
// the sound would creep with every save. Such a list is stored and settled again until its
// stored form repeats, so that what is loaded saves back to bytes that load to it again. A
// list whose stored form already repeats (what the project saves after a load) loads exactly
// as one settling makes it.
const uint8_t* Blob::loadList(const uint8_t* p, float* v, int n, float range) {
    const size_t bytes = 2 * static_cast<size_t>(n - 1);
    std::array<uint8_t, 2 * (freqKnotCount - 1)> stored{};
    std::array<uint8_t, 2 * (freqKnotCount - 1)> again{};
    std::copy_n(p, bytes, stored.begin());
    for (int round = 0; round < maxStoreRounds; ++round) {
        readList(stored.data(), v, n);
        settleLoaded(v, n, range);
        writeList(again.data(), v, n);
        if (std::equal(again.begin(), again.begin() + static_cast<std::ptrdiff_t>(bytes), stored.begin()))
            break;
        stored = again;
    }
    return p + bytes;
}

// Length, audible knots and tail times from the time rows.
void Blob::deriveTimeValues() {
    length = 0.0f;
    audibleKnots = 0;
    for (int r = 0; r < timeRowCount; ++r) {
        const int k = lastAudibleSegment(timeWarps[r]);
        if (k < timeKnotCount) {
            length = std::max(length, timeWarps[r][k] + 1.0f);
            audibleKnots = std::max(audibleKnots, k + 1);
        }
        tailTime[r] = rowTailTime(timeWarps[r]);
    }
}

int Blob::lastAudibleSegment(const TimeRow& v) {
    for (int k = timeKnotCount - 1; k >= 1; --k)
        if (v[k] - v[k - 1] < audibleSegmentFrames) return k;
    return timeKnotCount;
}

float Blob::rowTailTime(const TimeRow& v) {
    // A row that still sounds near the plane's end decays with the slope of its last two knot
    // pairs; a row that fell silent earlier has no tail.
    if (lastAudibleSegment(v) < timeKnotCount - 2) return 0.0f;
    float seconds[2];
    float amplitude[2];
    for (int s = 0; s < 2; ++s) {
        const float early = v[timeKnotCount - 1 - 4 * s - 2];
        const float late = v[timeKnotCount - 1 - 4 * s];
        const double middle = (static_cast<double>(early) + late) * 0.5;
        seconds[s] = static_cast<float>(plane::unwarpTime(middle) / plane::framesPerSecond);
        amplitude[s] = std::max(2.0f / (late - early) - timeDensityThreshold, s * 0.001f + 1e-9f);
    }
    const float ratio = std::max(amplitude[1] / amplitude[0], 1.01f);
    const float time = (seconds[0] - seconds[1]) / std::log(ratio);
    return std::isfinite(time) ? time : 0.0f;
}

// Loudness estimate from the knots alone: per time row, the time density (to the fourth
// power) times the frequency density of the columns the row crosses. It calibrates the
// played measure below on the even mesh.
double Blob::knotEnergy() const {
    double columnSums[freqColumnCount][timeRowCount] = {};
    for (int c = 0; c < freqColumnCount; ++c) {
        const FreqColumn& v = freqWarps[c];
        for (int i = 1; i <= freqKnotCount - 2; ++i) {
            const double half = (static_cast<double>(v[i + 1]) - v[i - 1]) * 0.5;
            // Knots that touch or cross carry no density (the limit of the formula below).
            if (!(half > 0.0)) continue;
            const double density = std::max(1.0 / half - freqDensityThreshold, 0.0);
            const double weight = std::pow(energyWeightCentre - v[i] / 80.0, 2) * 8.0 + 1.0;
            const double value = std::pow(density, 4) * half / (weight * weight);
            const double p = (i - 0.5) * 0.125;
            const int row = static_cast<int>(p);
            const double frac = p - row;
            columnSums[c][row] += (1.0 - frac) * value;
            columnSums[c][row + 1] += frac * value;
        }
    }
    double total = 0.0;
    for (int r = 0; r < timeRowCount; ++r) {
        const TimeRow& v = timeWarps[r];
        double rowSum = 0.0;
        for (int j = 1; j <= timeKnotCount - 2; ++j) {
            const double half = (static_cast<double>(v[j + 1]) - v[j - 1]) * 0.5;
            if (!(half > 0.0)) continue;
            const double density = std::max(1.0 / half - timeDensityThreshold, 0.0);
            const double q = (j - 0.5) * 0.125;
            const int column = static_cast<int>(q);
            const double frac = q - column;
            rowSum += std::pow(density, 4) * half *
                      ((1.0 - frac) * columnSums[column][r] + frac * columnSums[column + 1][r]);
        }
        total += std::sqrt(rowSum);
    }
    return total;
}

namespace {

// Frames read before the tail: warped frame 96 is reached at about 404.9 linear frames.
const int planeFrames = static_cast<int>(plane::unwarpTime(plane::frameCount));

// Sum over the plane's frames and bands of the squared band powers the reader draws from the
// mesh with neutral controls: the energy of the signal the engine makes of it. The Blob's
// energy must be 1, so that the reader applies no gain.
double playedEnergySum(const Blob& blob) {
    BlobReader reader;
    TailNoise noise;
    reader.start(&blob, nullptr, 0.0f, -1, 1.0f, 1.0f);
    std::array<float, plane::bandCount> frame{};
    double sum = 0.0;
    for (int f = 0; f < planeFrames; ++f) {
        reader.renderFrame(1.0f, FrameControls{}, noise, frame.data());
        for (float power : frame) sum += static_cast<double>(power) * power;
    }
    return sum;
}

} // namespace

// The reader divides every band amplitude by the square root of `energy`, so the played
// signal's energy is the sum of amplitude^4 divided by energy^2. The knot formula alone
// misjudges that sum by up to 40 dB for analysed hits (it pairs time and frequency densities
// per row, not where they meet, and weighs late frames by warped rather than played time),
// so equally loud recordings played 100 times apart. `energy` is therefore the square root
// of the played sum, scaled so that the even mesh keeps the value of the knot formula and
// an undeformed Blob sounds as it always has.
void Blob::deriveEnergy() {
    static const double evenKnotEnergy = Blob().knotEnergy();
    static const double evenPlayedSum = [] {
        Blob even;
        even.energy = 1.0f;
        return playedEnergySum(even);
    }();
    energy = 1.0f;
    const double played = playedEnergySum(*this);
    const double measure = evenKnotEnergy * std::sqrt(played / evenPlayedSum);
    energy = std::isfinite(measure) ? static_cast<float>(measure) : unnormalisedEnergy;
}

void Blob::mirrorFrequency() {
    std::reverse(timeWarps.begin(), timeWarps.end());
    for (auto& column : freqWarps) reflect(column.data(), freqKnotCount);
    normalise();
}

void Blob::mirrorTime() {
    std::reverse(freqWarps.begin(), freqWarps.end());
    const int audible =
        std::min(static_cast<int>(std::floor(static_cast<float>(audibleKnots) + 0.999f)), timeKnotCount);
    for (auto& row : timeWarps) reflect(row.data(), audible);
    normalise();
}

void Blob::copyFrom(const Blob& other, bool withIdentity) {
    timeWarps = other.timeWarps;
    freqWarps = other.freqWarps;
    energy = other.energy;
    length = other.length;
    audibleKnots = other.audibleKnots;
    tailTime = other.tailTime;
    if (withIdentity) {
        name = other.name;
        present = other.present;
        editCount = other.editCount;
    }
    ++version;
}

size_t Blob::serialize(std::span<uint8_t> out) const {
    if (out.size() < byteSize) return 0;
    uint8_t* p = out.data();
    *p++ = static_cast<uint8_t>(formatVersion);
    for (const auto& row : timeWarps) p = writeList(p, row.data(), timeKnotCount);
    for (const auto& column : freqWarps) p = writeList(p, column.data(), freqKnotCount);
    return byteSize;
}

size_t Blob::deserialize(std::span<const uint8_t> in, std::string* reason) {
    const size_t used = readKnots(in, reason);
    if (used == byteSize) normalise();
    return used;
}

size_t Blob::readKnots(std::span<const uint8_t> in, std::string* reason) {
    if (in.empty()) {
        if (reason != nullptr) *reason = "the Blob data is empty";
        return 0;
    }
    const int format = static_cast<int8_t>(in[0]);
    if (format != 0 && format != 1) {
        if (reason != nullptr)
            *reason = "unsupported Blob format " + std::to_string(format) + " (formats 0 and 1 are read)";
        return 0;
    }
    if (in.size() < byteSize) {
        if (reason != nullptr)
            *reason = "a Blob needs " + std::to_string(byteSize) + " bytes but only " +
                      std::to_string(in.size()) + " are there";
        return 1;
    }
    const uint8_t* p = in.data() + 1;
    for (auto& row : timeWarps) p = loadList(p, row.data(), timeKnotCount, plane::frameCount);
    for (auto& column : freqWarps) p = loadList(p, column.data(), freqKnotCount, plane::bandCount);
    return byteSize;
}

Blob::PlanePoint Blob::planePosition(float g, float h) const {
    return {bilinear(freqWarps, h / knotsPerLine, g), bilinear(timeWarps, g / knotsPerLine, h)};
}

Blob::MeshPoint Blob::locate(float band, float frame, int iterations) const {
    // Knots per band and per frame of the even mesh: the step that an even mesh would need.
    constexpr float knotsPerBand = 49.0f / plane::bandCount;
    constexpr float knotsPerFrame = 41.0f / plane::frameCount;
    float g = knotsPerBand * band;
    float h = knotsPerFrame * frame;
    for (int i = 0; i < iterations; ++i) {
        const PlanePoint at = planePosition(g, h);
        const float stepG = knotsPerBand * (band - at.band);
        const float stepH = knotsPerFrame * (frame - at.frame);
        g += stepG;
        h += stepH;
        if (std::abs(stepG) + std::abs(stepH) < 0.001f) break;
    }
    return {g, h};
}

} // namespace tarvo
