#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include "analysis/AudioAnalysis.h"
#include "analysis/DrumSynth.h"
#include "engine/BandSynth.h"

namespace tarvo {
namespace {

// Note that plays track 1.
constexpr int trackOneNote = 36;
// Long enough for the longest factory sound to fade out, in seconds.
constexpr double renderSeconds = 3.0;

// Plays a Blob once on track 1 of a fresh engine at velocity 100, effects off, and returns
// the left channel.
std::vector<float> play(const Blob& blob) {
    auto engine = std::make_unique<BandSynth>();
    BandSynth& synth = *engine;
    synth.prepare(static_cast<float>(drumSampleRate));
    for (int s = 0; s < ParamLayout::fxSlotCount; ++s)
        synth.param(synth.layout.fxSlotBase[static_cast<size_t>(s)] + fxPower).set(0.0f);
    Track& track = synth.tracks[0];
    track.blobs.slotA.working.copyFrom(blob, false);
    track.blobs.slotA.working.present = 1;
    track.blobs.slotB.working.present = 0;
    track.blobs.publish();
    synth.noteEvent(trackOneNote, 100.0f / 127.0f, 0);
    const auto frames = static_cast<size_t>(renderSeconds * drumSampleRate);
    std::vector<float> left(frames), right(frames);
    for (size_t done = 0; done < frames;) {
        const int n = static_cast<int>(std::min<size_t>(BandSynth::hopSize, frames - done));
        float* outputs[2] = {left.data() + done, right.data() + done};
        synth.renderSubBlock(outputs, n, 2, 0);
        done += static_cast<size_t>(n);
    }
    return left;
}

struct Played {
    const DrumRecipe* recipe;
    HitMeasures measures;
    double loudestRms; // RMS of the loudest 10 ms
    double tailRms;    // RMS of the last 100 ms
    double body;       // seconds until 90 % of the energy has sounded
};

double rmsOf(const std::vector<float>& x, size_t start, size_t n) {
    double sum = 0.0;
    for (size_t i = start; i < start + n; ++i) sum += double(x[i]) * x[i];
    return std::sqrt(sum / static_cast<double>(n));
}

// Every factory sound as the instrument plays it: rendered, analysed into a Blob, played.
const std::vector<Played>& playedSounds() {
    static const std::vector<Played> all = [] {
        std::vector<Played> sounds;
        for (const DrumRecipe& recipe : factoryDrumRecipes()) {
            Blob blob;
            blob.clear();
            analyzeAudio(blob, renderDrumHit(recipe), drumSampleRate);
            const std::vector<float> out = play(blob);
            const size_t window = static_cast<size_t>(0.01 * drumSampleRate);
            const size_t tail = static_cast<size_t>(0.1 * drumSampleRate);
            double loudest = 0.0, total = 0.0, sounded = 0.0;
            for (size_t start = 0; start + window <= out.size(); start += window)
                loudest = std::max(loudest, rmsOf(out, start, window));
            for (float v : out) total += double(v) * v;
            size_t i = 0;
            for (; i < out.size() && sounded < 0.9 * total; ++i) sounded += double(out[i]) * out[i];
            sounds.push_back({&recipe, measureHit(out), loudest, rmsOf(out, out.size() - tail, tail),
                              static_cast<double>(i) / drumSampleRate});
        }
        return sounds;
    }();
    return all;
}

TEST(FactorySounds, EverySoundPlaysAndFadesOut) {
    for (const Played& sound : playedSounds()) {
        SCOPED_TRACE(sound.recipe->name);
        EXPECT_GT(sound.measures.peak, 1e-3f);
        EXPECT_TRUE(std::isfinite(sound.measures.peak));
        // Analysed Blobs keep a quiet wash after short sounds; it lies well below the hit.
        EXPECT_LT(sound.tailRms, 0.03 * sound.loudestRms);
    }
}

// The ordering a listener hears from the played sounds: kicks lowest, hats and cymbals
// highest, closed hats shorter than open ones.
TEST(FactorySounds, CategoriesKeepTheirOrderWhenPlayed) {
    std::map<DrumCategory, std::vector<float>> centroids;
    float longestClosed = 0.0f;
    float shortestOpen = 1e9f;
    for (const Played& sound : playedSounds()) {
        centroids[categoryOfKind(sound.recipe->kind)].push_back(sound.measures.centroidHz);
        if (sound.recipe->kind == DrumKind::ClosedHat)
            longestClosed = std::max(longestClosed, static_cast<float>(sound.body));
        if (sound.recipe->kind == DrumKind::OpenHat)
            shortestOpen = std::min(shortestOpen, static_cast<float>(sound.body));
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

} // namespace
} // namespace tarvo
