#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "engine/Blob.h"
#include "engine/BlobReader.h"

namespace tarvo {
namespace {

using Frame = std::array<float, 80>;

// Density of the even mesh above the silence thresholds: frequency knots per band times
// time knots per frame.
constexpr float evenAmplitude = (0.6f - 0.25220588f) * (40.0f / 96.0f - 0.17585784f);

Blob evenBlob() {
    Blob blob;
    blob.clear();
    return blob;
}

// A Blob with a loud low cluster early on and a sparse high region.
Blob shapedBlob() {
    Blob blob;
    blob.clear();
    for (int r = 0; r < 3; ++r)
        for (int k = 1; k < 10; ++k) blob.timeWarps[r][k] = 0.9f * static_cast<float>(k);
    for (int c = 0; c < 6; ++c)
        for (int k = 10; k < 20; ++k) blob.freqWarps[c][k] = 15.0f + 0.8f * static_cast<float>(k - 10);
    blob.normalise();
    return blob;
}

struct Read {
    const Blob* a;
    const Blob* b = nullptr;
    float transform = 0.0f;
    float shift = 0.0f;
    float contrast = 0.0f;
    int model = -1;
    float velocity = 0.8f;
};

std::vector<Frame> render(const Read& read, int frames, float rate = 1.0f) {
    BlobReader reader;
    TailNoise noise;
    reader.start(read.a, read.b, read.transform, read.model, read.velocity, 1.0f);
    std::vector<Frame> out(static_cast<size_t>(frames));
    for (auto& frame : out)
        reader.renderFrame(rate, {read.transform, read.shift, read.contrast}, noise, frame.data());
    return out;
}

// The band amplitude before gain and squaring.
float amplitude(float power, const Blob& blob) {
    return std::sqrt(power) * std::sqrt(blob.energy);
}

TEST(WarpInverse, EvenSpacingIsLinearAndUnevenIsMonotone) {
    std::array<float, 41> even{};
    std::array<float, 41> uneven{};
    for (int k = 0; k < 41; ++k) {
        even[k] = 2.4f * static_cast<float>(k);
        uneven[k] = 0.06f * static_cast<float>(k * k);
    }
    WarpInverse linear;
    linear.reset(even.data(), even.data(), 41, 0.3f);
    for (float s = 0.0f; s < 95.0f; s += 0.7f) EXPECT_NEAR(linear.evaluate(s), s / 2.4f, 1e-4f) << s;

    WarpInverse curved;
    curved.reset(uneven.data(), even.data(), 41, 0.25f);
    float previous = -1.0f;
    for (float s = 0.0f; s < 96.0f; s += 0.1f) {
        const float at = curved.evaluate(s);
        EXPECT_GE(at, previous) << s;
        previous = at;
    }
    EXPECT_NEAR(previous, 40.0f, 0.5f);
}

TEST(BlobReader, EvenBlobReadsTheThresholdedDensityEverywhere) {
    const Blob blob = evenBlob();
    EXPECT_NEAR(evenAmplitude, 0.0838f, 1e-4f);
    const std::vector<Frame> frames = render({&blob}, 90);
    for (size_t f = 0; f < frames.size(); ++f) {
        for (int b = 0; b < 78; ++b)
            ASSERT_NEAR(amplitude(frames[f][b], blob), evenAmplitude, 1e-4f)
                << "frame " << f << " band " << b;
        // The top two bands border the sentinel knots above the plane, which bend the
        // interpolation of the last knot segment slightly.
        for (int b = 78; b < 80; ++b)
            ASSERT_NEAR(amplitude(frames[f][b], blob), evenAmplitude, 0.15f * evenAmplitude) << "frame " << f;
    }
}

// Row 1 races through its first 20 time knots while row 0 stays even, so the knots between
// them are read from columns far apart: column 0 spreads its first knots wide, the later
// columns pack them into the lowest band. The knots interpolated between the two rows then
// cross, as they do in many analysed hits, and must not read as a huge knot density.
TEST(BlobReader, CrossingKnotsBetweenRowsDoNotClick) {
    Blob blob;
    blob.clear();
    for (int k = 1; k <= 20; ++k) blob.timeWarps[1][k] = 0.5f * static_cast<float>(k);
    for (int k = 21; k < 41; ++k) blob.timeWarps[1][k] = 10.0f + 4.3f * static_cast<float>(k - 20);
    const auto fillColumn = [&](int c, float firstStep) {
        for (int k = 1; k <= 8; ++k) blob.freqWarps[c][k] = firstStep * static_cast<float>(k);
        const float from = 8.0f * firstStep;
        for (int k = 9; k < 49; ++k)
            blob.freqWarps[c][k] = from + (80.0f - from) * static_cast<float>(k - 8) / 40.0f;
    };
    fillColumn(0, 4.5f);
    for (int c = 1; c < 6; ++c) fillColumn(c, 0.07f);
    blob.normalise();

    // No band holds more frequency knots than the closest steps of a normalised column allow,
    // and no row here passes much more than 2 time knots per frame.
    const float densest = 1.0f / (7.5f / 49.0f * 0.41176468f);
    const float loudest = (densest - 0.25220588f) * 2.5f;
    const std::vector<Frame> frames = render({&blob}, 60);
    for (size_t f = 0; f < frames.size(); ++f)
        for (int b = 0; b < 80; ++b)
            ASSERT_LE(amplitude(frames[f][b], blob), loudest) << "frame " << f << " band " << b;
}

TEST(BlobReader, FirstFrameReadsWarpedZeroToOne) {
    const Blob blob = shapedBlob();
    BlobReader reader;
    TailNoise noise;
    reader.start(&blob, nullptr, 0.0f, -1, 1.0f, 1.0f);
    Frame frame{};
    reader.renderFrame(1.0f, {}, noise, frame.data());
    EXPECT_FLOAT_EQ(reader.lastPos(), 1.0f);
    EXPECT_FLOAT_EQ(reader.timePos(), 1.0f);
    EXPECT_EQ(reader.tailLevel(), 1.0f);
}

TEST(BlobReader, FrequencyShift) {
    const Blob blob = shapedBlob();
    const Frame plain = render({&blob}, 4)[3];
    struct Case {
        float shift;
        int silentFrom, silentTo; // bands forced to 0
        int integerShift;         // bands read from b - shift, when the shift is whole
    };
    const std::vector<Case> cases = {
        {2.5f, 0, 2, 0}, {3.0f, 0, 3, 3}, {-20.0f, 60, 80, -20}, {-2.5f, 78, 80, 0}, {64.0f, 0, 64, 64},
    };
    for (const Case& c : cases) {
        Read read{&blob};
        read.shift = c.shift;
        const Frame shifted = render(read, 4)[3];
        for (int b = c.silentFrom; b < c.silentTo; ++b)
            EXPECT_EQ(shifted[b], 0.0f) << c.shift << " band " << b;
        // The band next to the silent range reads the plane's edge.
        const int edge = c.silentFrom == 0 ? c.silentTo : c.silentFrom - 1;
        EXPECT_GT(shifted[edge], 0.0f) << c.shift;
        for (int b = 0; b < 80; ++b) {
            if (b >= c.silentFrom && b < c.silentTo) continue;
            if (c.integerShift != 0) {
                EXPECT_NEAR(shifted[b], plain[b - c.integerShift], 1e-6f * plain[b - c.integerShift])
                    << c.shift << " band " << b;
            }
        }
    }
}

TEST(BlobReader, MorphEndsMatchTheirBlobs) {
    const Blob a = shapedBlob();
    const Blob b = evenBlob();
    const Blob sameAsA = a;
    Read onlyA{&a};
    Read fullySame{&a, &sameAsA, 1.0f};
    Read fullyB{&a, &b, 1.0f};
    Read half{&a, &b, 0.5f};
    const auto framesA = render(onlyA, 20);
    const auto framesSame = render(fullySame, 20);
    const auto framesB = render(fullyB, 20);
    const auto framesEven = render({&b}, 20);
    const auto framesHalf = render(half, 20);
    for (int f = 0; f < 20; ++f)
        for (int band = 0; band < 80; ++band) {
            EXPECT_NEAR(framesSame[f][band], framesA[f][band], 1e-5f * framesA[f][band]);
            EXPECT_NEAR(framesB[f][band], framesEven[f][band], 1e-5f * framesEven[f][band]);
        }
    // Halfway the morph differs from both ends.
    EXPECT_NE(framesHalf[5][20], framesA[5][20]);
    EXPECT_NE(framesHalf[5][20], framesEven[5][20]);
}

// The models are measured against velocity 100: there every model is neutral, while soft and
// hard hits change the frames.
TEST(BlobReader, VelocityModelsAreNeutralAtVelocity100) {
    const Blob blob = shapedBlob();
    for (int model = 0; model < 7; ++model)
        for (float velocity : {0.0f, 100.0f / 127.0f, 1.0f}) {
            Read plain{&blob};
            Read modelled{&blob};
            modelled.model = model;
            modelled.velocity = velocity;
            const auto expected = render(plain, 150);
            const auto actual = render(modelled, 150);
            float largest = 0.0f;
            for (size_t f = 0; f < expected.size(); f += 7)
                for (int b = 0; b < 80; ++b) {
                    if (velocity == 100.0f / 127.0f) {
                        ASSERT_NEAR(actual[f][b], expected[f][b], 1e-3f * expected[f][b] + 1e-12f)
                            << "model " << model << " frame " << f << " band " << b;
                    }
                    largest =
                        std::max(largest, std::abs(actual[f][b] - expected[f][b]) / (expected[f][b] + 1e-9f));
                }
            if (velocity != 100.0f / 127.0f) {
                EXPECT_GT(largest, 0.01f) << "model " << model << " velocity " << velocity;
            }
        }
}

TEST(BlobReader, ContrastSharpensOrSoftens) {
    const Blob blob = shapedBlob();
    const Frame plain = render({&blob}, 6)[5];
    Read sharp{&blob};
    sharp.contrast = 1.0f;
    Read soft{&blob};
    soft.contrast = -1.0f;
    const Frame sharpened = render(sharp, 6)[5];
    const Frame softened = render(soft, 6)[5];
    // Spread between the loud cluster and the quiet top grows with contrast, shrinks without.
    const auto spread = [](const Frame& f) { return f[18] / f[70]; };
    EXPECT_GT(spread(sharpened), spread(plain));
    EXPECT_LT(spread(softened), spread(plain));
}

TEST(BlobReader, TailDecaysAndNeverGrows) {
    // Time knots that spread towards the end: a sound that is dying away at the plane's end.
    Blob blob;
    for (auto& row : blob.timeWarps)
        for (int k = 0; k < 41; ++k) row[k] = 96.0f * std::pow(static_cast<float>(k) / 40.0f, 1.6f);
    blob.normalise();
    ASSERT_GT(blob.tailTime[0], 0.1f);
    ASSERT_LT(blob.tailTime[0], 2.0f);
    BlobReader reader;
    TailNoise noise;
    reader.start(&blob, nullptr, 0.0f, -1, 1.0f, 1.0f);
    Frame frame{};
    float lastLevel = 1.0f;
    float firstTailSum = -1.0f;
    int frames = 0;
    while (reader.tailLevel() >= 1e-5f && frames < 100000) {
        reader.renderFrame(1.0f, {}, noise, frame.data());
        ++frames;
        if (reader.lastPos() < 96.0f) continue;
        float sum = 0.0f;
        for (float v : frame) {
            ASSERT_TRUE(std::isfinite(v));
            sum += v;
        }
        if (firstTailSum < 0.0f) firstTailSum = sum;
        EXPECT_LE(reader.tailLevel(), lastLevel);
        EXPECT_LE(sum, firstTailSum * 1.001f);
        lastLevel = reader.tailLevel();
    }
    EXPECT_LT(reader.tailLevel(), 1e-5f);
    EXPECT_GT(frames, 405);
    EXPECT_LT(frames, 10000);
}

TEST(BlobReader, RenderingIsDeterministic) {
    const Blob blob = shapedBlob();
    const auto run = [&] {
        BlobReader first;
        BlobReader second;
        TailNoise noise;
        first.start(&blob, nullptr, 0.0f, -1, 0.7f, 1.0f);
        second.start(&blob, nullptr, 0.0f, -1, 0.7f, 1.0f);
        std::vector<float> all;
        Frame frame{};
        for (int f = 0; f < 800; ++f) {
            first.renderFrame(1.0f, {}, noise, frame.data());
            all.insert(all.end(), frame.begin(), frame.end());
            second.renderFrame(1.5f, {0.0f, 1.0f, 0.2f}, noise, frame.data());
            all.insert(all.end(), frame.begin(), frame.end());
        }
        return all;
    };
    EXPECT_EQ(run(), run());
}

// The AVX2 copy of the frame kernels is built without fused multiply-adds, so its vector
// operations round as the baseline's do: every path reads every frame to the bit, whatever
// the controls, including knots that cross and bands shifted out of the plane.
TEST(BlobReader, EveryVectorPathReadsTheSameFrames) {
    if (!vectorPathAvailable(VectorPath::avx2)) GTEST_SKIP() << "no AVX2 on this processor or build";
    const Blob even = evenBlob();
    const Blob shaped = shapedBlob();
    Blob crossing;
    crossing.clear();
    for (int k = 1; k <= 20; ++k) crossing.timeWarps[1][k] = 0.5f * static_cast<float>(k);
    for (int c = 1; c < 6; ++c)
        for (int k = 1; k < 49; ++k)
            crossing.freqWarps[c][k] = 0.07f * static_cast<float>(k * k) * 80.0f / 161.28f;
    crossing.normalise();
    struct Case {
        const char* name;
        Read read;
    };
    const Case cases[] = {
        {"one Blob", {&shaped}},
        {"morph, model and contrast", {&shaped, &even, 0.4f, 1.5f, 0.3f, 4, 0.9f}},
        {"shifted down, softened", {&even, &shaped, 0.7f, -12.25f, -0.6f}},
        {"shifted out of the plane", {&shaped, nullptr, 0.0f, 79.5f}},
        {"crossing knots, model", {&crossing, &shaped, 0.5f, 0.0f, 1.0f, 2, 0.3f}},
    };
    for (const Case& c : cases) {
        BlobReader baseline, avx2;
        TailNoise baselineNoise, avx2Noise;
        baseline.start(c.read.a, c.read.b, c.read.transform, c.read.model, c.read.velocity, 1.0f);
        avx2.start(c.read.a, c.read.b, c.read.transform, c.read.model, c.read.velocity, 1.0f);
        const FrameControls controls{c.read.transform, c.read.shift, c.read.contrast};
        Frame fromBaseline{}, fromAvx2{};
        for (int f = 0; f < 500; ++f) {
            baseline.renderFrame(1.3f, controls, baselineNoise, fromBaseline.data(),
                                 frameKernels(VectorPath::baseline));
            avx2.renderFrame(1.3f, controls, avx2Noise, fromAvx2.data(), frameKernels(VectorPath::avx2));
            ASSERT_EQ(0, std::memcmp(fromBaseline.data(), fromAvx2.data(), sizeof(Frame)))
                << c.name << ", frame " << f;
        }
    }
}

// The band work finds each band's and each band edge's knot segment from its distance to the
// first band instead of walking up the knots. Values one apart land within rounding of a whole
// distance from every threshold, so thresholds on, just below and just above a value, bunched
// or far outside, must give what the walk gives, on every path; lists that do not rise take
// the walk.
TEST(FrameKernels, SegmentsAreWhereTheWalkEnds) {
    const auto walk = [](int first, int count, float shift, const std::vector<float>& t) {
        std::vector<int> reached;
        size_t j = 0;
        for (int i = 0; i < count; ++i) {
            const float value = static_cast<float>(first + i) - shift;
            while (j < t.size() && value >= t[j]) ++j;
            reached.push_back(static_cast<int>(j));
        }
        return reached;
    };
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        int first, count;
        float shift;
        std::vector<float> thresholds;
    };
    std::vector<Case> cases = {
        {"bunched, touching, outside",
         3,
         70,
         2.5f,
         {-40.0f, -3.0f, 0.5f, 0.5f, 0.5f, 0.51f, 0.52f, 7.0f, 66.0f, 160.0f}},
        {"infinite ends", 0, 80, 0.0f, {-inf, 0.0f, 1.5f, 79.0f, inf}},
        {"one value", 79, 1, -0.999999f, {79.5f, 79.999999f, 80.0f, 80.1f}},
        {"none reached", 0, 80, 80.0f, {1.0f, 2.0f}},
        {"out of order", 0, 80, 0.0f, {5.0f, 3.0f, 40.0f, 20.0f, 60.0f}},
        {"not a number", 0, 80, 0.0f, {5.0f, nan, 40.0f}},
        {"not a number first", 0, 80, 0.0f, {nan, 40.0f}},
    };
    // Thresholds on every value and 1 ulp either side of it, at shifts whose fractions round
    // the distances differently.
    for (const float shift : {-12.25f, 0.1f, -0.3f, 1.0f / 3.0f, -63.7f, 79.9f}) {
        std::vector<float> around;
        for (int i = 0; i < 81; ++i) {
            const float value = static_cast<float>(i) - shift;
            around.insert(around.end(), {std::nextafter(value, -inf), value, std::nextafter(value, inf)});
        }
        for (size_t from = 0; from < 3 * 2; ++from) {
            std::vector<float> t;
            for (size_t k = from; k < around.size(); k += 3 * 2) t.push_back(around[k]);
            t.resize(std::min<size_t>(t.size(), WarpInverse::maxKnots));
            cases.push_back({"around the values", 0, 81, shift, t});
        }
    }
    // Rising lists of every density at shifts of every fraction, some thresholds on values.
    std::mt19937 random(7);
    std::uniform_real_distribution<float> spread(-20.0f, 180.0f), fraction(-80.0f, 80.0f);
    for (int c = 0; c < 300; ++c) {
        const float shift = c % 3 == 0 ? std::round(fraction(random)) : fraction(random);
        const int first = static_cast<int>(random() % 81);
        const int count = 1 + static_cast<int>(random() % static_cast<unsigned>(81 - first));
        std::vector<float> t(1 + random() % WarpInverse::maxKnots);
        for (float& v : t)
            v = random() % 4 == 0 ? static_cast<float>(first + static_cast<int>(random() % 81)) - shift
                                  : spread(random);
        std::sort(t.begin(), t.end());
        cases.push_back({"random", first, count, shift, t});
    }
    for (const VectorPath path : {VectorPath::baseline, VectorPath::avx2}) {
        if (!vectorPathAvailable(path)) continue;
        for (const Case& c : cases) {
            std::vector<int> reached(static_cast<size_t>(c.count), -1);
            frameKernels(path).thresholdsReached(c.first, c.count, c.shift, c.thresholds.data(),
                                                 static_cast<int>(c.thresholds.size()), reached.data());
            EXPECT_EQ(reached, walk(c.first, c.count, c.shift, c.thresholds))
                << c.name << ", shift " << c.shift << ", path " << static_cast<int>(path);
        }
    }
}

TEST(BlobReader, EmptySlotsStaySilent) {
    // Never-normalised Blobs (what an empty slot holds) and a missing Blob.
    const Blob unloaded;
    for (const auto& frame : render({&unloaded, &unloaded, 0.5f}, 200))
        for (float v : frame) {
            EXPECT_TRUE(std::isfinite(v));
            EXPECT_LT(v, 1e-20f);
        }
    for (const auto& frame : render({nullptr}, 3))
        for (float v : frame) EXPECT_EQ(v, 0.0f);
}

TEST(BlobReader, DamagedBlobsAndExtremeControlsStayFinite) {
    std::mt19937 random(11);
    std::vector<uint8_t> bytes(Blob::byteSize);
    for (int trial = 0; trial < 40; ++trial) {
        for (auto& b : bytes) b = static_cast<uint8_t>(random() % (trial % 2 == 0 ? 256 : 8));
        bytes[0] = 1;
        Blob blob;
        ASSERT_EQ(blob.deserialize(bytes), Blob::byteSize);
        Read read{&blob};
        read.shift = static_cast<float>(static_cast<int>(random() % 129) - 64) + 0.37f;
        read.contrast = static_cast<float>(random() % 3) - 1.0f;
        read.model = static_cast<int>(random() % 9) - 1;
        read.velocity = 1.0f;
        for (const auto& frame : render(read, 700, 3.0f))
            for (float v : frame) ASSERT_TRUE(std::isfinite(v)) << "trial " << trial;
    }
}

TEST(PlaybackRate, TimescaleFadesInAfterTheFirstFiveFrames) {
    struct Case {
        float timescale, sampleRate, pos, rate;
    };
    const std::vector<Case> cases = {
        {2.0f, 44100.0f, 0.0f, 1.0f},    {2.0f, 44100.0f, 5.0f, 1.0f},  {2.0f, 44100.0f, 10.0f, 0.75f},
        {2.0f, 44100.0f, 15.0f, 0.5f},   {2.0f, 44100.0f, 60.0f, 0.5f}, {1.0f, 88200.0f, 0.0f, 1.0f},
        {1.0f, 88200.0f, 3.0f, 0.5f},    {0.5f, 44100.0f, 20.0f, 2.0f}, {0.0f, 44100.0f, 20.0f, 100.0f},
        {1e6f, 44100.0f, 20.0f, 0.001f},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(playbackRate(c.pos, c.timescale, c.sampleRate), c.rate, 1e-5f)
            << c.timescale << " at " << c.pos << " and " << c.sampleRate;

    // Driven through a reader: whole frames up to frame 5, half frames from frame 15.
    const Blob blob = evenBlob();
    BlobReader reader;
    TailNoise noise;
    reader.start(&blob, nullptr, 0.0f, -1, 1.0f, 1.0f);
    Frame frame{};
    std::vector<float> positions{0.0f};
    while (reader.lastPos() < 24.0f) {
        reader.renderFrame(playbackRate(reader.lastPos(), 2.0f, 44100.0f), {}, noise, frame.data());
        positions.push_back(reader.lastPos());
    }
    for (size_t i = 1; i < positions.size(); ++i) {
        const float step = positions[i] - positions[i - 1];
        if (positions[i - 1] <= 5.0f) {
            EXPECT_FLOAT_EQ(step, 1.0f) << positions[i - 1];
        }
        if (positions[i - 1] >= 15.0f) {
            EXPECT_NEAR(step, 0.5f, 1e-5f) << positions[i - 1];
        }
    }
}

TEST(Density, ExtremesGivePureNoiseOrNone) {
    struct Case {
        float density;
        float noiseAtTonal0, noiseAtTonal1, tonalScale;
    };
    const std::vector<Case> cases = {
        {1.0f, 1.0f, 1.0f, 0.0f},
        {-1.0f, 0.0f, 0.0f, 1.0f},
        {0.0f, 1.0f, 0.0f, 1.0f},
    };
    for (const Case& c : cases) {
        EXPECT_FLOAT_EQ(densityNoiseFraction(c.density, 0.0f), c.noiseAtTonal0) << c.density;
        EXPECT_FLOAT_EQ(densityNoiseFraction(c.density, 1.0f), c.noiseAtTonal1) << c.density;
        EXPECT_FLOAT_EQ(densityTonalScale(c.density), c.tonalScale) << c.density;
    }
}

} // namespace
} // namespace tarvo
