#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "analysis/RandomKit.h"
#include "engine/Blob.h"
#include "instrument/Ombrix.h"
#include "persistence/Folders.h"
#include "support/ScopedHome.h"

namespace tarvo {
namespace {

constexpr int trackCount = BandSynth::trackCount;

class RandomKit : public ::testing::Test {
protected:
    void SetUp() override { plugin_ = std::make_unique<Ombrix>(); }

    // Writes a valid Blob file at the path relative to the sounds folder.
    static void writeBlob(const std::string& relative) { writeRaw(relative, blobBytes()); }
    static void writeRaw(const std::string& relative, const std::vector<uint8_t>& bytes) {
        const std::filesystem::path file = folderPath(Folder::Sounds) / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static std::vector<uint8_t> blobBytes() {
        Blob blob;
        blob.clear();
        std::vector<uint8_t> bytes(Blob::byteSize);
        blob.serialize(bytes);
        return bytes;
    }

    std::array<int32_t, 2 * trackCount> slotVersions() const {
        std::array<int32_t, 2 * trackCount> versions{};
        for (int t = 0; t < trackCount; ++t) {
            versions[static_cast<size_t>(2 * t)] =
                plugin_->engine.tracks[static_cast<size_t>(t)].blobs.slotA.working.version;
            versions[static_cast<size_t>(2 * t + 1)] =
                plugin_->engine.tracks[static_cast<size_t>(t)].blobs.slotB.working.version;
        }
        return versions;
    }
    const std::string& nameA(int t) const {
        return plugin_->engine.tracks[static_cast<size_t>(t)].blobs.slotA.working.name;
    }
    const std::string& nameB(int t) const {
        return plugin_->engine.tracks[static_cast<size_t>(t)].blobs.slotB.working.name;
    }
    Param& modSlotParam(int slot, int which) {
        return plugin_->engine.param(plugin_->engine.layout.modSlotBase[static_cast<size_t>(slot)] + which);
    }
    Param& seqParam(StepSequencer::ParamId id) { return plugin_->sequencer.param(id); }

    // Everything the dice may change besides the Blob slots, as plain values.
    std::vector<float> otherState() {
        std::vector<float> state;
        for (int slot = 0; slot < ParamLayout::modSlotCount; ++slot)
            for (int which = 0; which < ParamLayout::modSlotStride; ++which)
                state.push_back(modSlotParam(slot, which).value);
        for (const Param& p : plugin_->sequencer.params) state.push_back(p.value);
        for (const TrackPattern& pattern : plugin_->sequencer.patterns) {
            state.push_back(static_cast<float>(pattern.length));
            for (const SeqNote& note : pattern.notes) state.push_back(note.start + 65536.0f * note.velocity);
        }
        return state;
    }

    // A non-default pattern and feel, so that a change (or its absence) shows.
    void presetSequence() {
        plugin_->sequencer.patterns[0].length = 7;
        plugin_->sequencer.insertNote(1, 3 * StepSequencer::ticksPerStep, 512, 77);
        seqParam(StepSequencer::paramBpm).set(133.0f);
        seqParam(StepSequencer::paramSwing).set(-40.0f);
        modSlotParam(0, modScaler).set(2.0f);
        modSlotParam(1, modAmount).set(0.5f);
    }

    test::ScopedHome home_;
    std::unique_ptr<Ombrix> plugin_;
};

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

TEST_F(RandomKit, KitsDrawEachTrackFromItsCategoryWithTwoDifferentSounds) {
    for (const char* file : {"KICK DRUMS/bd one.blob", "KICK DRUMS/BD two.blob", "Snare/sn1.blob",
                             "Snare/SNARE hard.blob", "Hihat/closed.blob", "Hihat/open.blob",
                             "Vocals/hey.blob", "Vocals/ho.blob", "misc/blip.blob", "misc/blop.blob"})
        writeBlob(file);

    bool trackEightVocals = false, trackEightOthers = false;
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        SCOPED_TRACE(seed);
        DiceGenerator dice(seed * 2654435761u);
        ASSERT_TRUE(rollDice(plugin_->engine, plugin_->sequencer, randomSounds, dice));
        struct Expected {
            int track;
            const char* folder; // empty: drawn from the whole folder
        };
        for (const Expected& e : {Expected{0, "KICK DRUMS/"}, Expected{1, ""}, Expected{2, "Snare/"},
                                  Expected{3, ""}, Expected{4, ""}, Expected{5, ""}, Expected{6, "Hihat/"}}) {
            EXPECT_TRUE(startsWith(nameA(e.track), e.folder)) << nameA(e.track);
            EXPECT_TRUE(startsWith(nameB(e.track), e.folder)) << nameB(e.track);
            EXPECT_NE(nameA(e.track), nameB(e.track)) << "track " << e.track + 1;
            EXPECT_EQ(nameA(e.track).find(".blob"), std::string::npos) << "names drop the extension";
        }
        EXPECT_NE(nameA(7), nameB(7));
        if (startsWith(nameA(7), "Vocals/") && startsWith(nameB(7), "Vocals/"))
            trackEightVocals = true;
        else
            trackEightOthers = true;
    }
    // Track 8 picks vocals, cymbals or effects; only vocals exist here, the rest falls back.
    EXPECT_TRUE(trackEightVocals);
    EXPECT_TRUE(trackEightOthers);
}

TEST_F(RandomKit, OneCandidateFillsBothSlotsAndBrokenFilesKeepTheSlot) {
    writeBlob("kick/only kick.blob");
    writeRaw("snare/short.blob", std::vector<uint8_t>(100, 1));
    writeRaw("snare/notes.txt", {'h', 'i'});
    DiceGenerator dice(7);
    ASSERT_TRUE(rollDice(plugin_->engine, plugin_->sequencer, randomSounds, dice));
    EXPECT_EQ(nameA(0), "kick/only kick");
    EXPECT_EQ(nameB(0), "kick/only kick");

    // The snare track's candidates are a damaged Blob file and a text file: neither loads.
    const std::string before = nameA(2);
    const int32_t version = plugin_->engine.tracks[2].blobs.slotA.working.version;
    for (uint32_t seed = 1; seed < 10; ++seed) {
        DiceGenerator again(seed);
        rollDice(plugin_->engine, plugin_->sequencer, randomSounds, again);
        EXPECT_EQ(nameA(2), before);
        EXPECT_EQ(plugin_->engine.tracks[2].blobs.slotA.working.version, version);
    }
}

TEST_F(RandomKit, EmptySoundsFolderChangesNothingForKits) {
    presetSequence();
    for (int mode : {int{randomSounds}, int{randomAll}, 0, 4}) {
        SCOPED_TRACE(mode);
        const auto versions = slotVersions();
        const std::vector<float> state = otherState();
        DiceGenerator dice(99);
        EXPECT_FALSE(rollDice(plugin_->engine, plugin_->sequencer, mode, dice));
        EXPECT_EQ(slotVersions(), versions);
        EXPECT_EQ(otherState(), state);
    }
    // A sequence needs no sounds.
    DiceGenerator dice(99);
    const std::vector<float> state = otherState();
    EXPECT_TRUE(rollDice(plugin_->engine, plugin_->sequencer, randomSequence, dice));
    EXPECT_NE(otherState(), state);
}

TEST_F(RandomKit, ModesChangeOnlyTheirHalf) {
    writeBlob("kick/a.blob");
    writeBlob("kick/b.blob");
    presetSequence();

    // "Random sequence": no Blob and no modulation slot changes.
    auto versions = slotVersions();
    const float scaler = modSlotParam(0, modScaler).value;
    const float source = modSlotParam(0, modSource).value;
    DiceGenerator dice(1234);
    ASSERT_TRUE(rollDice(plugin_->engine, plugin_->sequencer, randomSequence, dice));
    EXPECT_EQ(slotVersions(), versions);
    EXPECT_EQ(modSlotParam(0, modSource).value, source);
    EXPECT_NE(seqParam(StepSequencer::paramBpm).value, 133.0f);

    // "Random sounds": only the Blob slots.
    const std::vector<float> state = otherState();
    ASSERT_TRUE(rollDice(plugin_->engine, plugin_->sequencer, randomSounds, dice));
    EXPECT_EQ(otherState(), state);
    const auto after = slotVersions();
    for (size_t i = 0; i < after.size(); ++i) EXPECT_NE(after[i], versions[i]) << "slot " << i;

    // Everything: the kit, the tempo routing on slot 1 (its scaler kept), the sequence.
    versions = slotVersions();
    ASSERT_TRUE(rollDice(plugin_->engine, plugin_->sequencer, randomAll, dice));
    EXPECT_NE(slotVersions(), versions);
    EXPECT_EQ(modSlotParam(0, modSource).value, static_cast<float>(ModSystem::sourceBpmOctave));
    EXPECT_FLOAT_EQ(modSlotParam(0, modAmount).value, -1.0f / 6.0f);
    EXPECT_EQ(modSlotParam(0, modScaler).value, scaler);
    const int target = static_cast<int>(modSlotParam(0, modTarget).value);
    EXPECT_EQ(plugin_->engine.modTargets[static_cast<size_t>(target)],
              plugin_->engine.layout.globalBase + globalTimescale);
    EXPECT_EQ(modSlotParam(1, modAmount).value, 0.5f) << "other slots stay";
}

TEST_F(RandomKit, PatternsFollowTheChanceTableAndRanges) {
    constexpr int rolls = 400;
    std::array<std::array<int, 16>, 8> hits{};
    // Notes on step j + 1 right after a note on step j, and notes on step j, per track.
    std::array<std::array<int, 16>, 8> followed{};
    std::set<int> tempos;
    for (int roll = 0; roll < rolls; ++roll) {
        plugin_->sequencer.patterns[3].length = 5;
        DiceGenerator dice(static_cast<uint32_t>(roll) * 747796405u + 1u);
        randomizePattern(plugin_->sequencer, dice);
        randomizeTempoAndFeel(plugin_->sequencer, dice);
        for (int t = 0; t < trackCount; ++t) {
            const TrackPattern& pattern = plugin_->sequencer.patterns[static_cast<size_t>(t)];
            ASSERT_EQ(pattern.length, 16);
            std::array<bool, 16> on{};
            for (const SeqNote& note : pattern.notes) {
                ASSERT_EQ(note.start % StepSequencer::ticksPerStep, 0);
                ASSERT_EQ(note.length, StepSequencer::ticksPerStep);
                ASSERT_LE(note.velocity, 100);
                ASSERT_GE(note.velocity, 100 - 7 * t);
                const int step = note.start / StepSequencer::ticksPerStep;
                ASSERT_GT(stepChanceTable[static_cast<size_t>(t)][static_cast<size_t>(step)], 0)
                    << "track " << t + 1 << " step " << step + 1;
                on[static_cast<size_t>(step)] = true;
                ++hits[static_cast<size_t>(t)][static_cast<size_t>(step)];
            }
            for (size_t j = 0; j + 1 < 16; ++j)
                if (on[j] && on[j + 1]) ++followed[static_cast<size_t>(t)][j];
        }
        const float bpm = seqParam(StepSequencer::paramBpm).value;
        EXPECT_EQ(bpm, std::round(bpm));
        EXPECT_GE(bpm, 105.0f);
        EXPECT_LE(bpm, 120.0f);
        tempos.insert(static_cast<int>(bpm));
        for (auto id :
             {StepSequencer::paramSwing, StepSequencer::paramLooseTime, StepSequencer::paramLooseVelo}) {
            EXPECT_GE(seqParam(id).value, 0.0f);
            EXPECT_LT(seqParam(id).value, 20.0f);
        }
    }
    EXPECT_GE(tempos.size(), 12u) << "tempos spread over the range";
    // Track 1's first step is strong; runs are thinned: after a note on step j the next
    // step's chance is at most a third of its table value.
    EXPECT_GT(hits[0][0], rolls * 8 / 10);
    for (size_t t = 0; t < 8; ++t)
        for (size_t j = 0; j + 1 < 16; ++j) {
            if (hits[t][j] < 40) continue;
            const double chance = stepChanceTable[t][j + 1] / 10.0 * runThinning;
            EXPECT_LE(followed[t][j], hits[t][j] * chance + 4.0 * std::sqrt(hits[t][j] * chance) + 2)
                << "track " << t + 1 << " step " << j + 1;
        }
    // Velocities spread below 100 on later tracks, never on track 1.
    for (const SeqNote& note : plugin_->sequencer.patterns[0].notes) EXPECT_EQ(note.velocity, 100);
}

TEST_F(RandomKit, TempoRoutingScalesTimescaleWithTheTempo) {
    writeBlob("kick/a.blob");
    ASSERT_TRUE(plugin_->randomize(randomAll));
    plugin_->reset(44100.0f);
    Param& timescale = plugin_->engine.param(plugin_->engine.layout.globalBase + globalTimescale);
    ASSERT_EQ(timescale.value, 1.0f);
    std::vector<float> left(256), right(256);
    float* outputs[2] = {left.data(), right.data()};
    for (const auto& [bpm, acting] :
         {std::pair{240.0f, 0.5f}, std::pair{60.0f, 2.0f}, std::pair{120.0f, 1.0f}}) {
        seqParam(StepSequencer::paramBpm).set(bpm);
        plugin_->processBlock(outputs, 2, 256, HostTransport{});
        EXPECT_NEAR(timescale.effective(), acting, acting * 1e-3f) << bpm << " BPM";
        EXPECT_EQ(timescale.value, 1.0f);
    }
}

} // namespace
} // namespace tarvo
