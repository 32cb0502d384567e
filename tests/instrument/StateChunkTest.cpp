#include "instrument/StateChunk.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "instrument/Ombrix.h"

namespace tarvo {
namespace {

using Bytes = std::vector<uint8_t>;

// Offsets of the fixed front of a chunk: magic, version, engine version, parameter values.
constexpr size_t versionAt = 12;
constexpr size_t paramsAt = 18;
constexpr size_t firstSlotAt = paramsAt + 4 * 270;

std::unique_ptr<Ombrix> makePlugin() {
    return std::make_unique<Ombrix>();
}

Blob& slot(Ombrix& p, int track, int s) {
    TrackBlobs& blobs = p.engine.tracks[static_cast<size_t>(track)].blobs;
    return (s == 0 ? blobs.slotA : blobs.slotB).working;
}

// A sound that differs from the even mesh, settled as a long series of small edits leaves it
// and as its stored form has it (a reloaded Blob lies on the stored grid; one that was never
// stored may move by one grid step when it is first reloaded).
void shapeBlob(Blob& blob, int seed) {
    for (auto& row : blob.timeWarps)
        for (size_t j = 1; j + 1 < row.size(); ++j)
            row[j] *= 0.6f + 0.01f * static_cast<float>((seed + j) % 7);
    blob.freqWarps[static_cast<size_t>(seed % 6)][20] += 3.0f;
    for (int pass = 0; pass < 200 && blob.normalise() > 0.0f; ++pass) {
    }
    std::vector<uint8_t> stored(Blob::byteSize);
    blob.serialize(stored);
    blob.deserialize(stored);
}

// Gives every part of the state a value of its own: parameters, both slots of every track
// (one absent, some edited), velocity curves, LFO shapes, mute, solo, the sequence and its
// parameters, and the preset name.
void fillEveryField(Ombrix& p) {
    for (size_t i = 0; i < p.engine.params.size(); ++i) {
        Param& param = p.engine.params[i];
        param.set(param.fromNormalized(static_cast<float>((i * 37) % 101) / 100.0f));
    }
    for (int t = 0; t < BandSynth::trackCount; ++t) {
        for (int s = 0; s < 2; ++s) {
            Blob& blob = slot(p, t, s);
            shapeBlob(blob, t * 2 + s);
            blob.name = "Sound " + std::to_string(t) + (s == 0 ? "A" : "B");
            blob.editCount = (t + s) % 3;
        }
        const CurvePoint points[] = {{0.0f, 0.1f * t, 0.2f}, {0.5f, 0.7f, -0.4f}, {1.0f, 1.0f, 0.0f}};
        p.engine.tracks[static_cast<size_t>(t)].velocityCurve.setPoints(points, 3);
    }
    slot(p, 5, 1).present = 0;
    for (int l = 0; l < ModSystem::lfoCount; ++l) {
        const CurvePoint points[] = {{0.0f, 0.5f, 0.0f}, {0.25f * (l + 1) - 0.01f, 0.9f, 0.3f}};
        p.engine.modSystem.lfoCurves[static_cast<size_t>(l)].setPoints(points, 2);
    }
    p.engine.muteMask.store(0b10100101);
    p.engine.soloTrack.store(6);
    for (int t = 0; t < 8; ++t) {
        p.sequencer.patterns[static_cast<size_t>(t)].length = 16 - t;
        for (int n = 0; n <= t; ++n) p.sequencer.insertNote(t, n * 1024 + t, 512 + n, 20 + 10 * n);
    }
    p.sequencer.param(StepSequencer::paramBpm).set(133.0f);
    p.sequencer.param(StepSequencer::paramSwing).set(21.0f);
    p.sequencer.param(StepSequencer::paramLooseTime).set(7.0f);
    p.sequencer.param(StepSequencer::paramLooseVelo).set(9.0f);
    p.sequencer.param(StepSequencer::paramHostSync).set(1.0f);
    p.presetName = "Full Kit";
    p.presetEditCount = 0;
    p.savedSeqCount = p.sequencer.changeCount;
}

struct StateChunkTest : ::testing::Test {
    std::unique_ptr<Ombrix> source = makePlugin();
    void SetUp() override { fillEveryField(*source); }

    // The full state with all but two sounds switched off: every kind of field, in a chunk
    // small enough to be damaged at every byte.
    Bytes compactChunk() {
        for (int t = 0; t < BandSynth::trackCount; ++t)
            for (int s = 0; s < 2; ++s)
                if (t * 2 + s != 0 && t * 2 + s != 3) slot(*source, t, s).present = 0;
        return saveState(*source);
    }
};

// Where two chunks first differ, for readable failures; -1 when they are equal.
long firstDifference(const Bytes& a, const Bytes& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return static_cast<long>(i);
    return a.size() == b.size() ? -1 : static_cast<long>(n);
}

int load(Ombrix& p, const Bytes& chunk) {
    return readState(p, chunk.data(), static_cast<int>(chunk.size()));
}

TEST_F(StateChunkTest, SaveLoadSaveIsByteIdentical) {
    const Bytes first = saveState(*source);
    auto target = makePlugin();
    ASSERT_EQ(load(*target, first), static_cast<int>(first.size())) << target->statusText;
    EXPECT_EQ(firstDifference(saveState(*target), first), -1);

    EXPECT_EQ(target->presetName, "Full Kit");
    EXPECT_FALSE(target->presetModified());
    EXPECT_EQ(target->engine.muteMask.load(), 0b10100101);
    EXPECT_EQ(target->engine.soloTrack.load(), 6);
    const Blob& edited = slot(*target, 1, 0); // editCount 1 at the source
    EXPECT_EQ(edited.name, "Sound 1A");
    EXPECT_EQ(edited.editCount, 1);
    const Blob& clean = slot(*target, 0, 0);
    EXPECT_EQ(clean.name, "Sound 0A");
    EXPECT_EQ(clean.editCount, 0);
    EXPECT_NEAR(clean.timeWarps[3][10], slot(*source, 0, 0).timeWarps[3][10], 0.001f);
    const Blob& absent = slot(*target, 5, 1);
    EXPECT_EQ(absent.present, 0);
    EXPECT_EQ(absent.name, "<off>");
    EXPECT_EQ(target->sequencer.patterns[7].notes.size(), 8u);
    EXPECT_EQ(target->sequencer.param(StepSequencer::paramBpm).value, 133.0f);
}

// Equal bytes after a second save would also pass if writer and reader both skipped a field:
// after a load every field must hold what was set before the save.
TEST_F(StateChunkTest, ALoadedStateHoldsEveryFieldThatWasSet) {
    const Bytes chunk = saveState(*source);
    auto target = makePlugin();
    ASSERT_EQ(load(*target, chunk), static_cast<int>(chunk.size())) << target->statusText;

    for (size_t i = 0; i < source->engine.params.size(); ++i)
        EXPECT_EQ(target->engine.params[i].value, source->engine.params[i].value)
            << "parameter " << i << " "
            << (source->engine.params[i].name ? source->engine.params[i].name : "");
    auto expectSameCurve = [](const Curve& loaded, const Curve& set, const std::string& what) {
        ASSERT_EQ(loaded.count.load(), set.count.load()) << what;
        for (int i = 0; i < set.count; ++i) {
            const CurvePoint& a = loaded.points[static_cast<size_t>(i)];
            const CurvePoint& b = set.points[static_cast<size_t>(i)];
            EXPECT_EQ(a.x.load(), b.x.load()) << what << " point " << i;
            EXPECT_EQ(a.y.load(), b.y.load()) << what << " point " << i;
            EXPECT_EQ(a.shape.load(), b.shape.load()) << what << " point " << i;
        }
    };
    for (int t = 0; t < BandSynth::trackCount; ++t) {
        const auto track = static_cast<size_t>(t);
        expectSameCurve(target->engine.tracks[track].velocityCurve,
                        source->engine.tracks[track].velocityCurve, "velocity curve " + std::to_string(t));
        const TrackPattern& loaded = target->sequencer.patterns[track];
        const TrackPattern& set = source->sequencer.patterns[track];
        EXPECT_EQ(loaded.length.load(), set.length.load()) << "track " << t;
        ASSERT_EQ(loaded.notes.size(), set.notes.size()) << "track " << t;
        for (size_t n = 0; n < set.notes.size(); ++n) {
            EXPECT_EQ(loaded.notes[n].start, set.notes[n].start) << "track " << t << " note " << n;
            EXPECT_EQ(loaded.notes[n].length, set.notes[n].length) << "track " << t << " note " << n;
            EXPECT_EQ(loaded.notes[n].velocity, set.notes[n].velocity) << "track " << t << " note " << n;
        }
        for (int s = 0; s < 2; ++s) {
            EXPECT_EQ(slot(*target, t, s).present, slot(*source, t, s).present) << t << "/" << s;
            if (slot(*source, t, s).present != 0) {
                EXPECT_EQ(slot(*target, t, s).name, slot(*source, t, s).name) << t << "/" << s;
                // A chunk keeps whether a sound was edited, not how often.
                EXPECT_EQ(slot(*target, t, s).editCount != 0, slot(*source, t, s).editCount != 0)
                    << t << "/" << s;
            }
        }
    }
    for (size_t l = 0; l < ModSystem::lfoCount; ++l)
        expectSameCurve(target->engine.modSystem.lfoCurves[l], source->engine.modSystem.lfoCurves[l],
                        "LFO " + std::to_string(l));
    for (const StepSequencer::ParamId index :
         {StepSequencer::paramBpm, StepSequencer::paramSwing, StepSequencer::paramLooseTime,
          StepSequencer::paramLooseVelo, StepSequencer::paramHostSync})
        EXPECT_EQ(target->sequencer.param(index).value, source->sequencer.param(index).value) << index;
    EXPECT_EQ(target->engine.muteMask.load(), source->engine.muteMask.load());
    EXPECT_EQ(target->engine.soloTrack.load(), source->engine.soloTrack.load());
    EXPECT_EQ(target->presetName, source->presetName);
}

TEST_F(StateChunkTest, LoadingCountsNoEditsAndHandsEffectValuesOver) {
    const Bytes chunk = saveState(*source);
    auto target = makePlugin();
    target->engine.param(0).set(target->engine.param(0).fromNormalized(0.9f));
    ASSERT_GT(target->presetEditCount.load(), 0);
    ASSERT_GT(load(*target, chunk), 0);
    EXPECT_EQ(target->presetEditCount.load(), 0);
    EXPECT_EQ(target->engine.keepFxParamValues.load(), 1);

    // While the hand-over is pending parameter changes are not edits; afterwards they are.
    target->engine.param(1).set(target->engine.param(1).fromNormalized(0.123f));
    EXPECT_EQ(target->presetEditCount.load(), 0);
    target->engine.keepFxParamValues.store(0);
    target->engine.param(1).set(target->engine.param(1).fromNormalized(0.456f));
    EXPECT_EQ(target->presetEditCount.load(), 1);
}

TEST_F(StateChunkTest, ForeignTooNewAndTooOldChunksChangeNothing) {
    const Bytes good = saveState(*source);
    auto withVersion = [&](int32_t version) {
        Bytes chunk = good;
        std::memcpy(chunk.data() + versionAt, &version, 4);
        return chunk;
    };
    struct Case {
        const char* label;
        Bytes chunk;
        const char* status;
    };
    const Case cases[] = {
        {"empty", {}, "The saved data is not recognized, possibly corrupted data."},
        {"foreign", Bytes{'O', 't', 'h', 'e', 'r', 'S', 't', 'a', 't', 'e', 0, 0, 2, 1, 1, 0},
         "The saved data is not recognized, possibly corrupted data."},
        {"short magic", Bytes{'O', 'm', 'b', 'r', 'i', 'x'},
         "The saved data is not recognized, possibly corrupted data."},
        {"newer", withVersion(65795),
         "This preset was created with a newer version of Tarvo. You need to upgrade to load this."},
        {"too old", withVersion(2307), "This preset is too old to open with your version of Tarvo, sorry!"},
        {"negative", withVersion(-1), "This preset is too old to open with your version of Tarvo, sorry!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        auto target = makePlugin();
        target->presetName = "Mine";
        const Bytes before = saveState(*target);
        EXPECT_EQ(load(*target, c.chunk), 0);
        EXPECT_EQ(target->statusText, c.status);
        EXPECT_EQ(target->loadCount, 1);
        EXPECT_EQ(saveState(*target), before);
    }
}

TEST_F(StateChunkTest, OlderVersionsLoadAndOnlyNewerOnesCarryThePresetName) {
    source->presetName = "Named";
    const Bytes current = saveState(*source);
    const size_t nameBytes = std::strlen("Named") + 1;
    struct Case {
        int32_t version;
        bool withName;
    };
    for (const Case c : {Case{65794, true}, Case{65553, true}, Case{65552, false}, Case{2308, false}}) {
        SCOPED_TRACE(c.version);
        Bytes chunk = current;
        std::memcpy(chunk.data() + versionAt, &c.version, 4);
        if (!c.withName) chunk.resize(chunk.size() - nameBytes);
        auto target = makePlugin();
        target->presetName = "Before";
        ASSERT_EQ(load(*target, chunk), static_cast<int>(chunk.size())) << target->statusText;
        EXPECT_EQ(target->presetName, c.withName ? "Named" : "");
        EXPECT_EQ(slot(*target, 2, 1).name, "Sound 2B");
    }
}

TEST_F(StateChunkTest, ModifiedMarksTravelBothWays) {
    struct Case {
        const char* label;
        int edits;
        bool changeSequence;
        const char* stored;
    };
    const Case cases[] = {
        {"clean", 0, false, "Full Kit"},
        {"edited parameters", 3, false, "Full Kit*"},
        {"edited sequence", 0, true, "Full Kit*"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        auto p = makePlugin();
        fillEveryField(*p);
        p->presetEditCount = c.edits;
        if (c.changeSequence) p->sequencer.insertNote(0, 15 * 1024, 100, 100);
        const Bytes chunk = saveState(*p);
        const std::string tail(chunk.end() - static_cast<long>(std::strlen(c.stored)) - 1, chunk.end() - 1);
        EXPECT_EQ(tail, c.stored);
        EXPECT_EQ(chunk.back(), 0);

        auto target = makePlugin();
        ASSERT_GT(load(*target, chunk), 0);
        EXPECT_EQ(target->presetName, "Full Kit");
        EXPECT_EQ(target->presetModified(), c.edits > 0 || c.changeSequence);
        EXPECT_EQ(target->presetEditCount.load(), c.edits > 0 || c.changeSequence ? 100 : 0);
    }
}

TEST_F(StateChunkTest, HostStateTakesHostSyncFromTheChunk) {
    for (float stored : {0.0f, 1.0f}) {
        source->sequencer.param(StepSequencer::paramHostSync).set(stored);
        auto target = makePlugin();
        target->sequencer.param(StepSequencer::paramHostSync).set(1.0f - stored);
        ASSERT_GT(load(*target, saveState(*source)), 0);
        EXPECT_EQ(target->sequencer.param(StepSequencer::paramHostSync).value, stored);
    }
}

// Every shortened chunk is refused as a whole: nothing of it is applied.
TEST_F(StateChunkTest, AChunkCutAtAnyLengthChangesNothing) {
    const Bytes full = compactChunk();
    auto target = makePlugin();
    target->presetName = "Untouched";
    shapeBlob(slot(*target, 0, 0), 3);
    const Bytes before = saveState(*target);
    for (size_t length = 0; length < full.size(); ++length) {
        const Bytes cut(full.begin(), full.begin() + static_cast<long>(length));
        ASSERT_EQ(load(*target, cut), 0) << length;
        ASSERT_FALSE(target->statusText.empty());
        ASSERT_EQ(saveState(*target), before) << length;
    }
    EXPECT_EQ(target->statusText,
              "The saved data is damaged and was not loaded: the data ends within the preset name.");
}

TEST_F(StateChunkTest, DamagedPartsAreNamedAndNothingIsApplied) {
    const Bytes good = saveState(*source);
    const size_t slotA = firstSlotAt;            // present byte of track 1, slot A
    const size_t nameA = slotA + 1;              // "Sound 0A"
    const size_t blobA = nameA + 9;              // after the name and its zero byte
    const size_t slotB = blobA + Blob::byteSize; // present byte of track 1, slot B
    struct Case {
        const char* label;
        size_t at;
        std::vector<uint8_t> bytes;
        const char* status;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    uint8_t nanBytes[4];
    std::memcpy(nanBytes, &nan, 4);
    const size_t slotBName = slotB + 1 + 9; // "Sound 0B" and the mark of editCount 1: "Sound 0B*"
    const size_t velocity = slotBName + 1 + Blob::byteSize;
    const Case cases[] = {
        {"blob format",
         blobA,
         {2},
         "The saved data is damaged and was not loaded: the sound of track 1, slot A is damaged ("},
        {"velocity curve value",
         velocity + 1,
         {nanBytes[0], nanBytes[1], nanBytes[2], nanBytes[3]},
         "The saved data is damaged and was not loaded: the velocity curve of track 1 is damaged."},
        {"velocity curve count", velocity, {250}, "The saved data is damaged and was not loaded: the "},
    };
    ASSERT_EQ(good[slotA], 1);
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(&good[nameA])), "Sound 0A");
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(&good[slotB + 1])), "Sound 0B*");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Bytes chunk = good;
        std::copy(c.bytes.begin(), c.bytes.end(), chunk.begin() + static_cast<long>(c.at));
        auto target = makePlugin();
        const Bytes before = saveState(*target);
        EXPECT_EQ(load(*target, chunk), 0);
        EXPECT_EQ(target->statusText.rfind(c.status, 0), 0u) << target->statusText;
        EXPECT_EQ(saveState(*target), before);
    }

    // A sequence with a note count no writer produces.
    Bytes chunk = good;
    const size_t sequenceAt = good.size() - std::strlen("Full Kit") - 1 - 20 - 8 * 2 - 6 * 36;
    ASSERT_EQ(chunk[sequenceAt], 1); // track 1 holds one note
    chunk[sequenceAt] = 0x90;
    auto target = makePlugin();
    const Bytes before = saveState(*target);
    EXPECT_EQ(load(*target, chunk), 0);
    EXPECT_EQ(target->statusText, "The saved data is damaged and was not loaded: the sequence is damaged.");
    EXPECT_EQ(saveState(*target), before);
}

// The fuzzer reuses one instance and undoes each load by loading a new instance's chunk; the
// check that a load starts with decides alone whether it loads. Both must agree with a new
// instance's load, chunk by chunk.
TEST_F(StateChunkTest, ResetInstanceAndCheckAgreeWithANewInstance) {
    const Bytes full = saveState(*source);
    const Bytes fresh = saveState(*makePlugin());
    const auto withVersion = [&](int32_t version, size_t cutBytes) {
        Bytes chunk = full;
        std::memcpy(chunk.data() + versionAt, &version, 4);
        chunk.resize(chunk.size() - cutBytes);
        return chunk;
    };
    struct Case {
        const char* label;
        Bytes chunk;
    };
    const Case cases[] = {
        {"current", full},
        {"without a preset name", withVersion(65552, std::strlen("Full Kit") + 1)},
        {"oldest readable", withVersion(2308, std::strlen("Full Kit") + 1)},
        {"new instance", fresh},
        {"cut short", Bytes(full.begin(), full.begin() + static_cast<long>(full.size() / 2))},
        {"too new", withVersion(firstUnknownStateVersion, 0)},
        {"foreign", Bytes{'x', 'y'}},
    };
    auto reused = makePlugin();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        auto fresh1 = makePlugin();
        const int expected = load(*fresh1, c.chunk);

        ASSERT_EQ(load(*reused, full), static_cast<int>(full.size()));
        ASSERT_EQ(load(*reused, fresh), static_cast<int>(fresh.size()));
        EXPECT_EQ(load(*reused, c.chunk), expected);
        // New instances differ only in their LFOs' random start shapes: a refused chunk leaves
        // the reused one as its reset made it.
        EXPECT_EQ(firstDifference(saveState(*reused), expected == 0 ? fresh : saveState(*fresh1)), -1);
        if (expected == 0) {
            EXPECT_EQ(reused->statusText, fresh1->statusText);
        }

        std::string why = "unchanged";
        const auto untouched = makePlugin();
        EXPECT_EQ(checkState(*untouched, c.chunk.data(), static_cast<int>(c.chunk.size()), &why), expected);
        EXPECT_EQ(why, expected == 0 ? fresh1->statusText : std::string());
    }
}

// Whatever a damaged byte does, a load either applies a whole chunk or nothing.
TEST_F(StateChunkTest, AnyDamagedByteLoadsWhollyOrNotAtAll) {
    const Bytes good = compactChunk();
    auto target = makePlugin();
    Bytes before = saveState(*target);
    for (size_t at = 0; at < good.size(); ++at) {
        Bytes chunk = good;
        chunk[at] ^= 0xA5;
        const int consumed = load(*target, chunk);
        if (consumed == 0) {
            ASSERT_EQ(firstDifference(saveState(*target), before), -1) << at;
        } else {
            ASSERT_LE(consumed, static_cast<int>(chunk.size())) << at;
            before = saveState(*target); // the damage was one a whole chunk can carry
        }
    }
}

TEST_F(StateChunkTest, AStateBeyond64KBIsWrittenWholeAndReadsBack) {
    for (int t = 0; t < BandSynth::trackCount; ++t)
        for (int s = 0; s < 2; ++s) {
            slot(*source, t, s).present = 1;
            slot(*source, t, s).name = std::string(4000, static_cast<char>('a' + t)) + std::to_string(s);
        }
    source->presetName = std::string(4096, 'P');
    const Bytes chunk = saveState(*source);
    ASSERT_GT(chunk.size(), 65536u);
    EXPECT_EQ(chunk[chunk.size() - 2], 'P');
    EXPECT_EQ(chunk.back(), 0);
    EXPECT_EQ(writeState(*source, nullptr, 0), static_cast<int>(chunk.size()));

    auto target = makePlugin();
    ASSERT_EQ(load(*target, chunk), static_cast<int>(chunk.size())) << target->statusText;
    EXPECT_EQ(slot(*target, 7, 1).name, std::string(4000, 'h') + "1");
    EXPECT_EQ(target->presetName, std::string(4096, 'P'));
    EXPECT_EQ(firstDifference(saveState(*target), chunk), -1);
}

TEST_F(StateChunkTest, LoadedSoundsReachTheAudioThreadOnlyThroughPublication) {
    auto target = makePlugin();
    BlobSlot& slotA = target->engine.tracks[0].blobs.slotA;
    slotA.publish();
    const int32_t publishedVersion = slotA.acquire().version;
    const float publishedKnot = slotA.acquire().timeWarps[3][10];
    ASSERT_GT(load(*target, saveState(*source)), 0);

    // The audio thread still reads the copy published before the load.
    EXPECT_EQ(slotA.acquire().version, publishedVersion);
    EXPECT_EQ(slotA.acquire().timeWarps[3][10], publishedKnot);
    EXPECT_TRUE(slotA.publish());
    EXPECT_EQ(slotA.acquire().version, slotA.working.version);
    EXPECT_NEAR(slotA.acquire().timeWarps[3][10], slot(*source, 0, 0).timeWarps[3][10], 0.001f);
}

// Host state loads arrive on another thread while blocks render: the renderer must keep going
// and produce finite output whatever moment a load lands in.
TEST_F(StateChunkTest, LoadingWhileAudioRunsKeepsRendering) {
    const Bytes chunks[] = {saveState(*source), compactChunk()};
    auto target = makePlugin();
    target->reset(44100.0f);
    std::atomic<bool> done{false};
    std::atomic<bool> finite{true};
    std::atomic<int> blocks{0};
    std::thread audio([&] {
        constexpr int frames = 256;
        std::vector<float> left(frames), right(frames);
        float* outputs[] = {left.data(), right.data()};
        HostTransport transport;
        transport.playing = true;
        while (!done.load()) {
            target->processBlock(outputs, 2, frames, transport);
            for (int i = 0; i < frames; ++i)
                if (!std::isfinite(left[static_cast<size_t>(i)]) ||
                    !std::isfinite(right[static_cast<size_t>(i)]))
                    finite = false;
            transport.ppqPosition += frames / 44100.0 * 2.0;
            ++blocks;
        }
    });
    for (int i = 0; i < 40; ++i) {
        const Bytes& chunk = chunks[i % 2];
        EXPECT_EQ(load(*target, chunk), static_cast<int>(chunk.size()));
        for (Track& track : target->engine.tracks) track.blobs.publish();
    }
    while (blocks.load() < 20) std::this_thread::yield();
    done = true;
    audio.join();
    EXPECT_TRUE(finite.load());
}

} // namespace
} // namespace tarvo
