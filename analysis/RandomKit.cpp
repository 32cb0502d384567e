#include "analysis/RandomKit.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "analysis/AudioImport.h"
#include "analysis/SoundCategories.h"
#include "control/StepSequencer.h"
#include "engine/BandSynth.h"
#include "engine/BlobSlots.h"
#include "persistence/Folders.h"

namespace tarvo {

namespace {

// Velocity of a track 1 note; later tracks reach down by `velocitySpreadPerTrack` per track.
constexpr float topVelocity = 100.0f;
constexpr float velocitySpreadPerTrack = 7.0f;
// The table's chances are in tenths.
constexpr float chanceUnit = 10.0f;
// "BPM" is drawn from [lowestTempo, lowestTempo + tempoSpan]; the feel parameters from
// [0, feelSpan].
constexpr float lowestTempo = 105.0f;
constexpr float tempoSpan = 15.0f;
constexpr float feelSpan = 20.0f;

} // namespace

bool loadSoundIntoSlot(BlobSlot& slot, const std::string& entry) {
    std::string reason;
    if (!loadBlobIntoSlot(slot.working, entry, reason)) return false;
    slot.working.name = withoutLastExtension(entry);
    return true;
}

bool randomizeKit(BandSynth& engine, DiceGenerator& dice) {
    const std::vector<std::string> soundList = listFolder(folderText(Folder::Sounds));
    if (soundList.empty()) return false;
    for (int t = 0; t < BandSynth::trackCount; ++t) {
        const int category = categoryOfTrack(t, dice);
        const std::vector<int32_t> candidates =
            candidatesFor(soundList, soundCategories[static_cast<size_t>(category)]);
        const auto [a, b] = pickSoundPair(soundList, candidates, dice);
        TrackBlobs& blobs = engine.tracks[static_cast<size_t>(t)].blobs;
        loadSoundIntoSlot(blobs.slotA, soundList[static_cast<size_t>(a)]);
        loadSoundIntoSlot(blobs.slotB, soundList[static_cast<size_t>(b)]);
    }
    return true;
}

void routeTempoToTimescale(BandSynth& engine) {
    const int base = engine.layout.modSlotBase[0];
    const int timescale = engine.layout.globalBase + globalTimescale;
    const auto target = std::find(engine.modTargets.begin(), engine.modTargets.end(), timescale);
    engine.param(base + modSource).set(static_cast<float>(ModSystem::sourceBpmOctave));
    engine.param(base + modAmount).set(tempoRoutingAmount);
    engine.param(base + modTarget).set(static_cast<float>(target - engine.modTargets.begin()));
}

void randomizePattern(StepSequencer& sequencer, DiceGenerator& dice) {
    sequencer.clear(StepSequencer::allTracks);
    const int tracks = std::min(sequencer.trackCount(), static_cast<int>(stepChanceTable.size()));
    const int steps =
        std::min(static_cast<int>(sequencer.loopSteps), static_cast<int>(stepChanceTable[0].size()));
    for (int t = 0; t < tracks; ++t) {
        const auto& chances = stepChanceTable[static_cast<size_t>(t)];
        float weight = 1.0f;
        for (int j = 0; j < steps; ++j) {
            const float u = dice.uniform();
            if (static_cast<float>(chances[static_cast<size_t>(j)]) / chanceUnit * weight > u) {
                const float spread = dice.uniform() * (velocitySpreadPerTrack * static_cast<float>(t));
                const int velocity = static_cast<int>(topVelocity - spread);
                sequencer.insertNote(t, j * StepSequencer::ticksPerStep, StepSequencer::ticksPerStep,
                                     velocity);
                weight *= runThinning;
            } else {
                weight = std::min(weight * runRecovery, 1.0f);
            }
        }
    }
}

void randomizeTempoAndFeel(StepSequencer& sequencer, DiceGenerator& dice) {
    sequencer.param(StepSequencer::paramBpm).set(std::round(dice.uniform() * tempoSpan + lowestTempo));
    sequencer.param(StepSequencer::paramSwing).set(dice.uniform() * feelSpan);
    sequencer.param(StepSequencer::paramLooseTime).set(dice.uniform() * feelSpan);
    sequencer.param(StepSequencer::paramLooseVelo).set(dice.uniform() * feelSpan);
}

bool rollDice(BandSynth& engine, StepSequencer& sequencer, int mode, DiceGenerator& dice) {
    if (mode != randomSounds && mode != randomSequence && mode != randomAll) return false;
    if (mode != randomSequence && !randomizeKit(engine, dice)) return false;
    if (mode == randomAll) routeTempoToTimescale(engine);
    if (mode != randomSounds) {
        randomizePattern(sequencer, dice);
        randomizeTempoAndFeel(sequencer, dice);
    }
    return true;
}

} // namespace tarvo
