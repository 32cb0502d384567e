#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <vector>

#include "analysis/AudioAnalysis.h"
#include "engine/Blob.h"
#include "engine/CanonicalPlane.h"

namespace tarvo {
namespace {

constexpr double twoPi = 6.283185307179586;

// A drum-like hit: a decaying tone plus a decaying burst of deterministic noise.
std::vector<float> hit(double rate, double seconds, double toneHz = 180.0, double decay = 0.08) {
    std::vector<float> out(static_cast<size_t>(rate * seconds));
    uint32_t noise = 12345;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        noise = noise * 1664525u + 1013904223u;
        const double white = static_cast<double>(noise) / 4294967296.0 * 2.0 - 1.0;
        out[i] =
            static_cast<float>(std::exp(-t / decay) * (0.7 * std::sin(twoPi * toneHz * t) + 0.3 * white));
    }
    return out;
}

bool sameKnots(const Blob& a, const Blob& b) {
    return a.timeWarps == b.timeWarps && a.freqWarps == b.freqWarps;
}

// Mean absolute knot difference in frames and bands.
double knotDistance(const Blob& a, const Blob& b) {
    double sum = 0.0;
    int count = 0;
    for (int r = 0; r < Blob::timeRowCount; ++r)
        for (int k = 0; k < Blob::timeKnotCount; ++k, ++count)
            sum += std::abs(a.timeWarps[r][k] - b.timeWarps[r][k]);
    for (int c = 0; c < Blob::freqColumnCount; ++c)
        for (int k = 0; k < Blob::freqKnotCount; ++k, ++count)
            sum += std::abs(a.freqWarps[c][k] - b.freqWarps[c][k]);
    return sum / count;
}

Blob analysed(const std::vector<float>& samples, double rate) {
    Blob blob;
    analyzeAudio(blob, samples, rate);
    return blob;
}

TEST(AudioAnalysis, NothingToAnalyseLeavesTheBlobAlone) {
    struct Case {
        const char* name;
        std::vector<float> samples;
        double rate;
    };
    const Case cases[] = {
        {"empty", {}, 44100.0},
        {"digital silence", std::vector<float>(44100, 0.0f), 44100.0},
        {"below the silence sum", std::vector<float>(1000, 1e-24f), 44100.0},
        {"zero rate", hit(44100, 0.2), 0.0},
        {"negative rate", hit(44100, 0.2), -1.0},
        {"no rate", hit(44100, 0.2), std::numeric_limits<double>::quiet_NaN()},
    };
    for (const Case& c : cases) {
        Blob blob;
        const Blob before = blob;
        EXPECT_EQ(analyzeAudio(blob, c.samples, c.rate), 1.0f) << c.name;
        EXPECT_TRUE(sameKnots(blob, before)) << c.name;
        EXPECT_EQ(blob.version, before.version) << c.name;
    }
}

// Every analysed Blob must be a valid, audible mesh.
void expectPlayableBlob(const Blob& blob, const char* what) {
    for (const auto& row : blob.timeWarps) {
        EXPECT_NEAR(row.front(), 0.0f, 1e-3f) << what;
        EXPECT_NEAR(row.back(), 96.0f, 1e-3f) << what;
        for (int k = 1; k < Blob::timeKnotCount; ++k) {
            ASSERT_TRUE(std::isfinite(row[k])) << what;
            ASSERT_GT(row[k], row[k - 1]) << what;
        }
    }
    for (const auto& column : blob.freqWarps) {
        EXPECT_NEAR(column.front(), 0.0f, 1e-3f) << what;
        EXPECT_NEAR(column.back(), 80.0f, 1e-3f) << what;
        for (int k = 1; k < Blob::freqKnotCount; ++k) {
            ASSERT_TRUE(std::isfinite(column[k])) << what;
            ASSERT_GT(column[k], column[k - 1]) << what;
        }
    }
    EXPECT_TRUE(std::isfinite(blob.energy) && blob.energy > 0.0f && blob.energy < 1e29f) << what;
    EXPECT_GT(blob.length, 0.0f) << what;
    std::vector<uint8_t> bytes(Blob::byteSize);
    EXPECT_EQ(blob.serialize(bytes), Blob::byteSize) << what;
}

TEST(AudioAnalysis, ShortLongAndOddInputsGiveFullBlobs) {
    std::vector<float> click(static_cast<size_t>(0.005 * 44100), 0.0f);
    for (size_t i = 0; i < click.size(); ++i) click[i] = (i % 2 == 0 ? 0.9f : -0.9f) * (1.0f - i / 220.0f);
    std::vector<float> single(1, 0.5f);
    std::vector<float> withNan = hit(44100, 0.3);
    withNan[500] = std::numeric_limits<float>::quiet_NaN();
    withNan[700] = std::numeric_limits<float>::infinity();
    struct Case {
        const char* name;
        std::vector<float> samples;
        double rate;
    };
    const Case cases[] = {
        {"5 ms click", click, 44100.0},
        {"one sample", single, 44100.0},
        {"one second hit", hit(44100, 1.0), 44100.0},
        {"8 kHz", hit(8000, 0.5), 8000.0},
        {"192 kHz", hit(192000, 0.3), 192000.0},
        {"damaged samples", withNan, 44100.0},
        {"full-scale square", std::vector<float>(20000, 1.0f), 44100.0},
    };
    for (const Case& c : cases) {
        Blob blob;
        const float movement = analyzeAudio(blob, c.samples, c.rate);
        EXPECT_TRUE(std::isfinite(movement)) << c.name;
        expectPlayableBlob(blob, c.name);
    }
}

TEST(AudioAnalysis, SameInputSameBlob) {
    const std::vector<float> sound = hit(44100, 0.4);
    Blob first, second;
    EXPECT_EQ(analyzeAudio(first, sound, 44100.0), analyzeAudio(second, sound, 44100.0));
    EXPECT_TRUE(sameKnots(first, second));
    EXPECT_EQ(first.energy, second.energy);
}

TEST(AudioAnalysis, LeadingSilenceIsCutButAQuietStartIsKept) {
    const std::vector<float> sound = hit(44100, 0.4);
    std::vector<float> delayed(3000, 0.0f);
    delayed.insert(delayed.end(), sound.begin(), sound.end());
    EXPECT_TRUE(sameKnots(analysed(delayed, 44100.0), analysed(sound, 44100.0)));

    // The trim level follows the first sound, not the loudest: a faint lead-in whose first
    // sample is 1e-6 keeps 1e-9 samples (far below 1e-4 of the peak).
    std::vector<float> faint = {1e-6f};
    faint.insert(faint.end(), 2000, 1e-9f);
    faint.insert(faint.end(), sound.begin(), sound.end());
    std::vector<float> delayedFaint(500, 0.0f);
    delayedFaint.insert(delayedFaint.end(), faint.begin(), faint.end());
    const Blob withLeadIn = analysed(faint, 44100.0);
    EXPECT_TRUE(sameKnots(analysed(delayedFaint, 44100.0), withLeadIn));
    EXPECT_FALSE(sameKnots(withLeadIn, analysed(sound, 44100.0)));
}

TEST(AudioAnalysis, RatesAreConvertedTo44100) {
    const Blob at44 = analysed(hit(44100, 0.4), 44100.0);
    EXPECT_TRUE(sameKnots(analysed(hit(44100, 0.4), 44100.05), at44)) << "44100.05 Hz counts as 44100 Hz";
    EXPECT_FALSE(sameKnots(analysed(hit(44100, 0.4), 44100.2), at44));
    // The same sound recorded at 48 kHz gives nearly the same Blob.
    const Blob at48 = analysed(hit(48000, 0.4), 48000.0);
    EXPECT_LT(knotDistance(at48, at44), 1.0);
    // While the same samples played as if at 48 kHz (a different sound) differ more.
    EXPECT_GT(knotDistance(analysed(hit(44100, 0.4), 48000.0), at44), knotDistance(at48, at44));
}

// The plane holds the first 0.59 s; what follows only sets how fast the tail decays, which the
// last time knots carry.
TEST(AudioAnalysis, OnlyTheFirstSixtenthsOfASecondCount) {
    std::vector<float> sound = hit(44100, 2.0, 180.0, 0.5);
    std::vector<float> changedTail = sound;
    for (size_t i = static_cast<size_t>(0.7 * 44100); i < changedTail.size(); ++i) changedTail[i] *= -3.0f;
    const Blob plain = analysed(sound, 44100.0);
    const Blob louderTail = analysed(changedTail, 44100.0);
    EXPECT_EQ(plain.freqWarps, louderTail.freqWarps);
    EXPECT_LT(knotDistance(plain, louderTail), 0.05);
    // The engine render the rows' decay is fitted to hears the first frames of the tail, which
    // moves the tail times by float rounding.
    for (int r = 0; r < Blob::timeRowCount; ++r)
        EXPECT_GE(louderTail.tailTime[r], plain.tailTime[r] * (1.0f - 1e-5f)) << r;
    // A change inside the first half second does show.
    std::vector<float> changedBody = sound;
    for (size_t i = static_cast<size_t>(0.2 * 44100); i < changedBody.size(); ++i) changedBody[i] *= 0.01f;
    EXPECT_FALSE(sameKnots(analysed(sound, 44100.0), analysed(changedBody, 44100.0)));
    // A long recording costs no more than its first second.
    std::vector<float> minute = hit(44100, 60.0, 180.0, 0.5);
    expectPlayableBlob(analysed(minute, 44100.0), "one minute");
}

// Share of the interior frequency knots of the columns that lie in the sound's body (time
// knots 8 to 32) within four bands of a given band. An even mesh puts about 10 % there.
double knotShareNear(const Blob& blob, double band) {
    int near = 0, all = 0;
    for (int c = 1; c <= 4; ++c)
        for (int k = 1; k + 1 < Blob::freqKnotCount; ++k, ++all)
            if (std::abs(blob.freqWarps[c][k] - band) <= 4.0) ++near;
    return static_cast<double>(near) / all;
}

TEST(AudioAnalysis, ToneEnergyGathersTheKnotsAtItsBand) {
    // Every fifth band: a tone sits next to bands without energy wherever it is.
    for (int band = 15; band <= 70; band += 5) {
        std::vector<float> tone(static_cast<size_t>(0.4 * 44100));
        for (size_t i = 0; i < tone.size(); ++i) {
            const double t = static_cast<double>(i) / 44100.0;
            tone[i] =
                static_cast<float>(std::exp(-t / 0.1) * std::sin(twoPi * plane::bandCentreHz(band) * t));
        }
        const Blob blob = analysed(tone, 44100.0);
        EXPECT_GT(knotShareNear(blob, band), 0.3) << "tone at band " << band;
        EXPECT_LT(knotShareNear(blob, band > 40 ? band - 30 : band + 30), 0.15) << "tone at band " << band;
    }
}

// A hit shorter than the plane ends where it ends: its last time knots are too sparse to
// sound and no row keeps a tail, so a voice stops at the Blob's length. A sound that
// outlasts the plane still plays into its tail.
TEST(AudioAnalysis, ShortHitsEndWithTheSound) {
    struct Case {
        const char* name;
        std::vector<float> samples;
        bool endsOnThePlane;
    };
    const Case cases[] = {
        {"30 ms tick", hit(44100.0, 0.03, 6000.0, 0.005), true},
        {"tone-less noise burst", hit(44100.0, 0.12, 180.0, 0.02), true},
        {"a quarter second", hit(44100.0, 0.25, 400.0, 0.04), true},
        {"a long ring", hit(44100.0, 1.5, 180.0, 0.5), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Blob blob = analysed(c.samples, 44100.0);
        if (c.endsOnThePlane) {
            EXPECT_LT(blob.length, 95.0f);
        } else {
            EXPECT_GT(blob.length, 96.0f);
        }
    }
}

// Implied level of each time segment of a row in dB: the engine's output power goes with the
// knot density above its threshold to the fourth power.
std::vector<double> segmentLevels(const Blob& blob, int row) {
    std::vector<double> levels;
    const auto& v = blob.timeWarps[row];
    for (int k = 1; k < Blob::timeKnotCount; ++k) {
        const double above = 1.0 / (v[k] - v[k - 1]) - Blob::timeDensityThreshold;
        levels.push_back(above > 0.0 ? 40.0 * std::log10(above) : -1000.0);
    }
    return levels;
}

// Where a recording decays smoothly, neighbouring time segments of a row play at nearly the
// same level: a jump in knot spacing is a blip, or a gap, in the replay.
TEST(AudioAnalysis, NeighbouringTimeSegmentsPlayAlike) {
    struct Case {
        const char* name;
        std::vector<float> samples;
    };
    const Case cases[] = {
        {"drum hit", hit(44100.0, 0.4)},
        {"bright short hit", hit(44100.0, 0.3, 3000.0, 0.03)},
        {"long ring", hit(44100.0, 1.0, 180.0, 0.4)},
    };
    // The steps compared: within this many dB of the row's loudest segment, above where the
    // level dives into the threshold at the end of a sound.
    constexpr double heardRangeDb = 15.0;
    constexpr size_t endSegments = 3;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Blob blob = analysed(c.samples, 44100.0);
        double sum = 0.0;
        int steps = 0;
        for (int r = 0; r < Blob::timeRowCount; ++r) {
            const std::vector<double> levels = segmentLevels(blob, r);
            const double loudest = *std::max_element(levels.begin(), levels.end());
            // Where the sound falls silent the knots must thin out at once; leave the last
            // audible segments out.
            size_t audible = levels.size();
            while (audible > 0 && levels[audible - 1] < -999.0) --audible;
            for (size_t k = 1; k + endSegments < audible; ++k) {
                if (levels[k] < loudest - heardRangeDb || levels[k - 1] < loudest - heardRangeDb) continue;
                const double step = std::abs(levels[k] - levels[k - 1]);
                EXPECT_LT(step, 4.0) << "row " << r << " segment " << k;
                sum += step;
                ++steps;
            }
        }
        ASSERT_GT(steps, 0);
        EXPECT_LT(sum / steps, 1.5);
    }
}

// After a short hit the Blob holds just too few time knots to sound: no wash of noise, and
// no stretch without knots that would draw them out of the hit and silence its quiet end.
TEST(AudioAnalysis, TheSilenceAfterAShortHitStaysJustBelowSounding) {
    struct Case {
        const char* name;
        std::vector<float> samples;
    };
    const Case cases[] = {
        {"30 ms tick", hit(44100.0, 0.03, 6000.0, 0.005)},
        {"a quarter second", hit(44100.0, 0.25, 400.0, 0.04)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Blob blob = analysed(c.samples, 44100.0);
        // The analysed buffer: the sound, padded to at least 0.1 s, plus 256 samples.
        const double seconds =
            std::max(0.1, static_cast<double>(c.samples.size()) / 44100.0 + 256.0 / 44100.0);
        const double end = plane::warpTime(seconds * plane::framesPerSecond);
        int silentSegments = 0;
        for (int r = 0; r < Blob::timeRowCount; ++r) {
            const auto& v = blob.timeWarps[r];
            for (int k = 1; k < Blob::timeKnotCount; ++k) {
                if (v[k - 1] < end) continue;
                const double share = 1.0 / (v[k] - v[k - 1]) / Blob::timeDensityThreshold;
                EXPECT_GT(share, 0.85) << "row " << r << " segment " << k;
                EXPECT_LT(share, 1.0) << "row " << r << " segment " << k;
                ++silentSegments;
            }
        }
        EXPECT_GT(silentSegments, 0);
    }
}
} // namespace
} // namespace tarvo
