#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/factory/DrumSynth.h"

namespace tarvo {
namespace {

struct Rendered {
    const DrumRecipe* recipe;
    std::vector<float> samples;
    HitMeasures measures;
};

// Every factory hit, rendered once for the whole suite.
const std::vector<Rendered>& factoryHits() {
    static const std::vector<Rendered> hits = [] {
        std::vector<Rendered> all;
        for (const DrumRecipe& r : factoryDrumRecipes()) {
            std::vector<float> samples = renderDrumHit(r);
            const HitMeasures m = measureHit(samples);
            all.push_back({&r, std::move(samples), m});
        }
        return all;
    }();
    return hits;
}

double rmsOf(const float* x, size_t n) {
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i) sum += double(x[i]) * x[i];
    return n > 0 ? std::sqrt(sum / static_cast<double>(n)) : 0.0;
}

TEST(DrumSynth, EveryFactoryHitSoundsAndFadesToSilence) {
    for (const Rendered& hit : factoryHits()) {
        SCOPED_TRACE(hit.recipe->name);
        const std::vector<float>& x = hit.samples;
        ASSERT_GT(x.size(), 441u);
        for (float v : x) ASSERT_TRUE(std::isfinite(v));
        EXPECT_GT(hit.measures.peak, 0.5f);
        EXPECT_LT(hit.measures.peak, 1.0f);
        EXPECT_EQ(x.back(), 0.0f);
        // The last 10 ms lie below -60 dB of the peak.
        EXPECT_LT(rmsOf(x.data() + x.size() - 441, 441), 1e-3 * hit.measures.peak);
        EXPECT_LT(static_cast<double>(x.size()) / drumSampleRate, 7.01);
    }
}

TEST(DrumSynth, RendersAreRepeatable) {
    const DrumRecipe& snare = factoryDrumRecipes()[10];
    EXPECT_EQ(renderDrumHit(snare, 0.6f), renderDrumHit(snare, 0.6f));
}

TEST(DrumSynth, EveryCategoryHasFourDistinctlyNamedSounds) {
    std::map<DrumCategory, std::set<std::string>> names;
    for (const DrumRecipe& r : factoryDrumRecipes()) {
        const bool fresh = names[categoryOfKind(r.kind)].insert(r.name).second;
        EXPECT_TRUE(fresh) << r.name << " twice in " << drumCategoryFolder(categoryOfKind(r.kind));
    }
    for (int c = 0; c < drumCategoryCount; ++c)
        EXPECT_GE(names[static_cast<DrumCategory>(c)].size(), 4u)
            << drumCategoryFolder(static_cast<DrumCategory>(c));
}

// The ordering a listener hears: kicks lowest, hats and cymbals highest, closed hats shorter
// than open ones.
TEST(DrumSynth, CategoriesDifferInBrightnessAndLength) {
    std::map<DrumCategory, std::vector<float>> centroids;
    float longestClosed = 0.0f;
    float shortestOpen = 1e9f;
    for (const Rendered& hit : factoryHits()) {
        centroids[categoryOfKind(hit.recipe->kind)].push_back(hit.measures.centroidHz);
        if (hit.recipe->kind == DrumKind::ClosedHat)
            longestClosed = std::max(longestClosed, hit.measures.decaySeconds);
        if (hit.recipe->kind == DrumKind::OpenHat)
            shortestOpen = std::min(shortestOpen, hit.measures.decaySeconds);
    }
    auto median = [](std::vector<float> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const float kick = median(centroids[DrumCategory::Kick]);
    const float hats = median(centroids[DrumCategory::Hihat]);
    const float cymbals = median(centroids[DrumCategory::Cymbal]);
    for (const auto& [category, values] : centroids) {
        SCOPED_TRACE(drumCategoryFolder(category));
        if (category != DrumCategory::Kick) {
            EXPECT_GT(median(values), kick);
        }
        if (category != DrumCategory::Hihat && category != DrumCategory::Cymbal) {
            EXPECT_LT(median(values), hats);
            EXPECT_LT(median(values), cymbals);
        }
    }
    EXPECT_LT(longestClosed, shortestOpen);
}

TEST(DrumSynth, HarderHitsAreLouderAndBrighter) {
    for (const DrumRecipe& r : factoryDrumRecipes()) {
        if (r.kind != DrumKind::Kick && r.kind != DrumKind::Snare && r.kind != DrumKind::ClosedHat &&
            r.kind != DrumKind::Tom)
            continue;
        SCOPED_TRACE(r.name);
        const HitMeasures soft = measureHit(renderDrumHit(r, 0.25f));
        const HitMeasures hard = measureHit(renderDrumHit(r, 1.0f));
        EXPECT_LT(soft.peak, 0.5f * hard.peak);
        EXPECT_LT(soft.centroidHz, hard.centroidHz);
    }
}

TEST(DrumSynth, MeasuresOfKnownSignals) {
    EXPECT_EQ(measureHit(std::vector<float>(1000, 0.0f)).centroidHz, 0.0f);
    EXPECT_EQ(measureHit({}).decaySeconds, 0.0f);

    // A 1 kHz sine decaying with a 0.1 s time constant falls by 40 dB in 0.46 s.
    std::vector<float> ring(44100);
    for (size_t i = 0; i < ring.size(); ++i) {
        const double t = static_cast<double>(i) / drumSampleRate;
        ring[i] =
            static_cast<float>(0.5 * std::sin(2.0 * 3.14159265358979 * 1000.0 * t) * std::exp(-t / 0.1));
    }
    const HitMeasures m = measureHit(ring);
    EXPECT_NEAR(m.peak, 0.5f, 0.01f);
    EXPECT_NEAR(m.centroidHz, 1000.0f, 30.0f);
    EXPECT_NEAR(m.decaySeconds, 0.46f, 0.02f);
}

} // namespace
} // namespace tarvo
