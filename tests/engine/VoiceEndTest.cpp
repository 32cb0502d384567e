#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "analysis/AudioAnalysis.h"
#include "engine/BandSynth.h"
#include "tools/factory/DrumSynth.h"

namespace tarvo {
namespace {

// Note that plays track 1.
constexpr int trackOneNote = 36;
// The hit is played again after this many seconds, then the render runs a second longer.
constexpr double replaySeconds = 3.0;
constexpr double renderSeconds = replaySeconds + 1.0;
// -100 dB relative to full scale.
constexpr float inaudible = 1e-5f;

struct Hit {
    std::vector<float> left, right;
    double voiceSeconds = 0.0; // how long the first note's voice ran
};

// Plays a Blob twice on track 1, effects off, with early ending on or off. A soft velocity:
// its tails fall below audibility sooner.
Hit play(const Blob& blob, bool endInaudible) {
    constexpr float velocity = 0.4f;
    auto engine = std::make_unique<BandSynth>();
    BandSynth& synth = *engine;
    synth.prepare(static_cast<float>(drumSampleRate));
    synth.endInaudibleVoices = endInaudible;
    for (int s = 0; s < ParamLayout::fxSlotCount; ++s)
        synth.param(synth.layout.fxSlotBase[static_cast<size_t>(s)] + fxPower).set(0.0f);
    Track& track = synth.tracks[0];
    track.blobs.slotA.working.copyFrom(blob, false);
    track.blobs.slotA.working.present = 1;
    track.blobs.slotB.working.present = 0;
    track.blobs.publish();
    synth.noteEvent(trackOneNote, velocity, 0);
    const auto frames = static_cast<size_t>(renderSeconds * drumSampleRate);
    const auto replay =
        static_cast<size_t>(replaySeconds * drumSampleRate) / BandSynth::hopSize * BandSynth::hopSize;
    Hit hit;
    hit.left.resize(frames);
    hit.right.resize(frames);
    for (size_t done = 0; done < frames;) {
        if (done == replay) synth.noteEvent(trackOneNote, velocity, 0);
        const int n = static_cast<int>(std::min<size_t>(BandSynth::hopSize, frames - done));
        float* outputs[2] = {hit.left.data() + done, hit.right.data() + done};
        synth.renderSubBlock(outputs, n, 2, 0);
        done += static_cast<size_t>(n);
        if (track.activeVoices > 0 && done <= replay)
            hit.voiceSeconds = static_cast<double>(done) / drumSampleRate;
    }
    return hit;
}

// A voice that ends early drops only what it would have played after its end, so the two
// renders differ by exactly that remainder: it must stay below audibility for every sound.
// The second note shows that an ended voice kept its clocks running: with its noise
// generator a step behind, the note would differ by about as much as it is loud.
TEST(VoiceEnd, FactorySoundsEndOnlyOnceWhatTheyWouldStillPlayIsInaudible) {
    int endedEarly = 0, played = 0;
    for (const DrumRecipe& recipe : factoryDrumRecipes()) {
        Blob blob;
        blob.clear();
        analyzeAudio(blob, renderDrumHit(recipe), drumSampleRate);
        const Hit ended = play(blob, true);
        const Hit full = play(blob, false);
        float diff = 0.0f;
        for (size_t i = 0; i < full.left.size(); ++i)
            diff = std::max(
                {diff, std::fabs(ended.left[i] - full.left[i]), std::fabs(ended.right[i] - full.right[i])});
        EXPECT_LT(diff, inaudible) << recipe.name;
        ++played;
        if (ended.voiceSeconds < full.voiceSeconds - 0.1) ++endedEarly;
    }
    // Most factory sounds end by themselves or still sound at the end of the render; the
    // ones whose tails fade out slowly end early.
    EXPECT_GE(endedEarly, 2) << "of " << played;
}

} // namespace
} // namespace tarvo
