#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "engine/Blob.h"
#include "engine/BlobReader.h"
#include "engine/BlobSlots.h"
#include "engine/CanonicalPlane.h"
#include "persistence/Folders.h"

namespace tarvo {
namespace {

using Bytes = std::vector<uint8_t>;

// A normalised Blob with a loud cluster: time knots crowded around frame 10 on the lower
// rows and frequency knots crowded around band 30 on the first columns.
Blob deformedBlob() {
    Blob blob;
    blob.clear();
    for (int r = 0; r < 4; ++r)
        for (int k = 2; k < 12; ++k) blob.timeWarps[r][k] = 5.0f + 0.6f * static_cast<float>(k);
    for (int c = 0; c < 3; ++c)
        for (int k = 15; k < 25; ++k) blob.freqWarps[c][k] = 28.0f + 0.3f * static_cast<float>(k - 15);
    blob.normalise();
    return blob;
}

Bytes serialized(const Blob& blob) {
    Bytes bytes(Blob::byteSize);
    EXPECT_EQ(blob.serialize(bytes), Blob::byteSize);
    return bytes;
}

template <typename Lists> float largestDifference(const Lists& a, const Lists& b) {
    float worst = 0.0f;
    for (size_t l = 0; l < a.size(); ++l)
        for (size_t k = 0; k < a[l].size(); ++k) worst = std::max(worst, std::abs(a[l][k] - b[l][k]));
    return worst;
}

float largestKnotDifference(const Blob& a, const Blob& b) {
    return std::max(largestDifference(a.timeWarps, b.timeWarps), largestDifference(a.freqWarps, b.freqWarps));
}

// Keeps the tests out of a user's folders when the binary runs outside ctest.
void useTestHome() {
    const auto home = std::filesystem::temp_directory_path() / "tarvo-test-home";
    setenv("TARVO_HOME", home.c_str(), 0);
}

void writeFile(const std::filesystem::path& file, const Bytes& bytes) {
    ASSERT_TRUE(createParentFolders(file));
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(Blob, ConstructionIsEvenAndNotNormalised) {
    const Blob blob;
    EXPECT_FLOAT_EQ(blob.timeWarps[3][40], 96.0f);
    EXPECT_FLOAT_EQ(blob.timeWarps[3][1], 2.4f);
    EXPECT_FLOAT_EQ(blob.freqWarps[5][48], 80.0f);
    EXPECT_FLOAT_EQ(blob.energy, 1e30f);
    EXPECT_EQ(blob.length, -1.0f);
    EXPECT_EQ(blob.audibleKnots, -1);
    EXPECT_EQ(blob.present, 1);
    EXPECT_EQ(blob.version, 0);
}

TEST(Blob, ClearedBlobPlaysToTheTail) {
    Blob blob = deformedBlob();
    blob.clear();
    EXPECT_FLOAT_EQ(blob.length, 97.0f);
    EXPECT_EQ(blob.audibleKnots, 41);
    for (float t : blob.tailTime) {
        // Equal density in the last knot pairs: the ratio floor of 1.01 sets the decay.
        EXPECT_GT(t, 0.0f);
        EXPECT_TRUE(std::isfinite(t));
    }
    EXPECT_GT(blob.energy, 0.0f);
    EXPECT_LT(blob.energy, 1e3f);
    const Blob before = blob;
    EXPECT_EQ(blob.normalise(), 0.0f);
    EXPECT_EQ(largestKnotDifference(blob, before), 0.0f);
}

// Energy of the signal the engine makes of a Blob over the plane: the sum of the squared
// band powers the reader delivers, gain included.
double playedEnergy(const Blob& blob) {
    BlobReader reader;
    TailNoise noise;
    reader.start(&blob, nullptr, 0.0f, -1, 1.0f, 1.0f);
    std::array<float, plane::bandCount> frame{};
    double sum = 0.0;
    // Warped frame 96, where the tail begins, comes after 404.9 frames.
    for (int f = 0; f < 404; ++f) {
        reader.renderFrame(1.0f, FrameControls{}, noise, frame.data());
        for (float power : frame) sum += static_cast<double>(power) * power;
    }
    return sum;
}

// The energy divides the played amplitudes, so however the knots crowd, the played energy
// stays that of the even mesh; and the even mesh keeps the energy it always had.
TEST(Blob, EnergyEvensOutThePlayedLoudness) {
    Blob even;
    even.clear();
    EXPECT_NEAR(even.energy, 1.027687f, 1e-5f);
    const double reference = playedEnergy(even);

    struct Case {
        const char* name;
        void (*shape)(Blob&);
    };
    const Case cases[] = {
        {"early burst in every row",
         [](Blob& b) {
             for (auto& row : b.timeWarps)
                 for (int k = 1; k <= 30; ++k) row[k] = 0.3f * static_cast<float>(k);
         }},
        {"narrow tone",
         [](Blob& b) {
             for (auto& column : b.freqWarps)
                 for (int k = 10; k <= 40; ++k) column[k] = 20.0f + 0.1f * static_cast<float>(k - 10);
         }},
        {"late and sparse",
         [](Blob& b) {
             for (auto& row : b.timeWarps)
                 for (int k = 1; k < 40; ++k) row[k] = 60.0f + 0.8f * static_cast<float>(k);
         }},
        {"burst in one low row",
         [](Blob& b) {
             for (int k = 1; k <= 20; ++k) b.timeWarps[0][k] = 0.25f * static_cast<float>(k);
             for (int k = 21; k < 40; ++k) b.timeWarps[0][k] = 5.0f + 4.5f * static_cast<float>(k - 20);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Blob blob;
        blob.clear();
        c.shape(blob);
        blob.normalise();
        EXPECT_NEAR(10.0 * std::log10(playedEnergy(blob) / reference), 0.0, 0.1);
    }
}

TEST(Blob, NormaliseHoldsStepsAboveTheMinimum) {
    Blob blob;
    // Every inner knot of a row on one spot, and a column folded back on itself.
    for (int k = 1; k < 40; ++k) blob.timeWarps[0][k] = 40.0f;
    for (int k = 1; k < 48; ++k) blob.freqWarps[2][k] = static_cast<float>(48 - k);
    const int versionBefore = blob.version;
    EXPECT_GT(blob.normalise(), 1.0f);
    EXPECT_EQ(blob.version, versionBefore + 1);
    const float timeMin = 7.5f / 41.0f * 0.41176468f;
    const float freqMin = 7.5f / 49.0f * 0.41176468f;
    EXPECT_NEAR(timeMin, 0.0753f, 1e-4f);
    EXPECT_NEAR(freqMin, 0.0630f, 1e-4f);
    for (const auto& row : blob.timeWarps) {
        EXPECT_EQ(row[0], 0.0f);
        EXPECT_EQ(row[40], 96.0f);
        for (int k = 1; k < 41; ++k) EXPECT_GE(row[k] - row[k - 1], timeMin - 1e-4f) << "knot " << k;
    }
    for (const auto& column : blob.freqWarps) {
        EXPECT_EQ(column[48], 80.0f);
        for (int k = 1; k < 49; ++k) EXPECT_GE(column[k] - column[k - 1], freqMin - 1e-4f) << "knot " << k;
    }
}

TEST(Blob, SilentEndGivesShorterLengthAndNoTail) {
    Blob blob;
    blob.clear();
    // Row 2 spends its last knots sparsely: audible only up to knot 30.
    auto& row = blob.timeWarps[2];
    for (int k = 0; k <= 30; ++k) row[k] = 1.2f * static_cast<float>(k);
    for (int k = 31; k <= 40; ++k) row[k] = 36.0f + 6.0f * static_cast<float>(k - 30);
    blob.normalise();
    EXPECT_EQ(blob.tailTime[2], 0.0f);
    EXPECT_GT(blob.tailTime[1], 0.0f);
    EXPECT_EQ(blob.audibleKnots, 41); // the other rows still sound to the end
}

TEST(Blob, SerialisationRoundTrip) {
    const Blob blob = deformedBlob();
    const Bytes bytes = serialized(blob);
    EXPECT_EQ(bytes[0], 1);
    Blob read;
    std::string reason;
    ASSERT_EQ(read.deserialize(bytes, &reason), Blob::byteSize) << reason;
    // The even 2.4-frame steps are no multiple of the quantisation unit, so rounding each
    // increment on its own would drift by far more than this.
    EXPECT_LT(largestKnotDifference(read, blob), 0.001f);
    EXPECT_GT(read.version, 0);
    EXPECT_NEAR(read.energy, blob.energy, 1e-3f * blob.energy);
    // Saving and loading again and again does not drift.
    for (int cycle = 0; cycle < 20; ++cycle) ASSERT_EQ(read.deserialize(serialized(read)), Blob::byteSize);
    EXPECT_LT(largestKnotDifference(read, blob), 0.001f);
}

TEST(Blob, DeserializeRejectsBadData) {
    const Bytes good = serialized(deformedBlob());
    struct Case {
        const char* what;
        Bytes bytes;
        size_t consumed;
        const char* reasonPart;
    };
    Bytes format2 = good;
    format2[0] = 2;
    Bytes formatMinus1 = good;
    formatMinus1[0] = 0xff;
    const std::vector<Case> cases = {
        {"empty", {}, 0, "empty"},
        {"one byte short", Bytes(good.begin(), good.end() - 1), 1, "1136"},
        {"format 2", format2, 0, "format 2"},
        {"format -1", formatMinus1, 0, "format -1"},
    };
    for (const Case& c : cases) {
        Blob blob = deformedBlob();
        const Blob before = blob;
        std::string reason;
        EXPECT_EQ(blob.deserialize(c.bytes, &reason), c.consumed) << c.what;
        EXPECT_NE(reason.find(c.reasonPart), std::string::npos) << c.what << ": " << reason;
        EXPECT_EQ(largestKnotDifference(blob, before), 0.0f) << c.what;
        EXPECT_EQ(blob.version, before.version) << c.what;
    }
    Bytes format0 = good;
    format0[0] = 0;
    Blob blob;
    EXPECT_EQ(blob.deserialize(format0), Blob::byteSize);
}

// The stored increments of a list are free, so a damaged or hostile file can hold lists that
// no edit produces. Each case changes a few increments of an even Blob's bytes (list l counts
// the 7 time rows, then the 6 frequency columns; knot k is 1-based); the first was found by
// fuzzing, where the loaded Blob's length went 123 -> 138 -> 97 frames over two saves. The
// last packs a column at the smallest step, which the byte form cannot hold exactly.
TEST(Blob, DamagedListsLoadIntoABlobThatSaveAndReloadKeep) {
    struct Increment {
        int list;
        int firstKnot;
        int lastKnot;
        uint16_t value;
    };
    struct Case {
        const char* what;
        std::vector<Increment> increments;
    };
    const std::vector<Case> cases = {
        {"a last time step of 64 frames", {{0, 40, 40, 0xffff}}},
        {"a time row ending near frame 550, beyond what even steps reach", {{3, 1, 40, 0x3700}}},
        {"a time row of zero steps", {{5, 1, 40, 0}}},
        {"a band column ending at band 3", {{7 + 2, 1, 48, 0x40}}},
        {"a band column of steps so wide it ends near band 3000", {{7 + 4, 1, 48, 0xf000}}},
        {"a band column packed at the smallest step", {{7 + 1, 1, 48, 0}, {7 + 1, 48, 48, 0x0c00}}},
    };
    Blob even;
    even.clear();
    for (const Case& c : cases) {
        Bytes bytes = serialized(even);
        for (const Increment& inc : c.increments)
            for (int k = inc.firstKnot; k <= inc.lastKnot; ++k) {
                const int before = inc.list < Blob::timeRowCount
                                       ? inc.list * (Blob::timeKnotCount - 1)
                                       : Blob::timeRowCount * (Blob::timeKnotCount - 1) +
                                             (inc.list - Blob::timeRowCount) * (Blob::freqKnotCount - 1);
                const size_t at = 1 + 2 * static_cast<size_t>(before + k - 1);
                bytes[at] = static_cast<uint8_t>(inc.value & 0xff);
                bytes[at + 1] = static_cast<uint8_t>(inc.value >> 8);
            }
        Blob loaded;
        ASSERT_EQ(loaded.deserialize(bytes), Blob::byteSize) << c.what;
        // Settled: normalising again moves nothing.
        Blob again = loaded;
        EXPECT_EQ(again.normalise(), 0.0f) << c.what;
        const Bytes stored = serialized(loaded);
        for (int cycle = 1; cycle <= 3; ++cycle) {
            ASSERT_EQ(again.deserialize(serialized(again)), Blob::byteSize) << c.what;
            EXPECT_EQ(serialized(again), stored) << c.what << ", save " << cycle;
            EXPECT_LT(largestKnotDifference(again, loaded), 0.005f) << c.what << ", save " << cycle;
            EXPECT_NEAR(again.length, loaded.length, 0.01f) << c.what << ", save " << cycle;
            EXPECT_NEAR(again.energy, loaded.energy, 0.02f * loaded.energy) << c.what << ", save " << cycle;
        }
    }
}

TEST(Blob, RandomBytesLoadOnlyWhenWellFormedAndStayFinite) {
    useTestHome();
    std::mt19937 random(7);
    const std::filesystem::path file = folderPath(Folder::Sounds) / "fuzz" / "random.blob";
    for (int trial = 0; trial < 200; ++trial) {
        const size_t size = trial % 4 == 0 ? Blob::byteSize : random() % 2400;
        Bytes bytes(size);
        for (auto& b : bytes) b = static_cast<uint8_t>(random());
        if (trial % 8 == 0 && size > 0) bytes[0] = static_cast<uint8_t>(random() % 2);
        const bool wellFormed = size == Blob::byteSize && (bytes[0] == 0 || bytes[0] == 1);
        writeFile(file, bytes);
        Blob blob;
        std::string reason;
        ASSERT_EQ(readBlobFile(file, blob, reason), wellFormed) << "trial " << trial << ": " << reason;
        if (!wellFormed) {
            EXPECT_FALSE(reason.empty());
            continue;
        }
        EXPECT_TRUE(std::isfinite(blob.energy));
        EXPECT_TRUE(std::isfinite(blob.length));
        for (float t : blob.tailTime) EXPECT_TRUE(std::isfinite(t));
        for (const auto& row : blob.timeWarps)
            for (float v : row) EXPECT_TRUE(std::isfinite(v));
    }
}

TEST(Blob, MirrorsTwiceGiveTheKnotsBack) {
    const Blob start = deformedBlob();
    Blob x = start;
    x.mirrorFrequency();
    EXPECT_GT(largestKnotDifference(x, start), 1.0f);
    EXPECT_EQ(x.timeWarps[6], start.timeWarps[0]);
    x.mirrorFrequency();
    EXPECT_LT(largestKnotDifference(x, start), 1e-3f);

    Blob y = start;
    y.mirrorTime();
    EXPECT_EQ(y.freqWarps[5][20], start.freqWarps[0][20]);
    y.mirrorTime();
    EXPECT_LT(largestKnotDifference(y, start), 1e-3f);
}

TEST(Blob, MirrorTimeKeepsSilentKnotsAfterTheAudiblePart) {
    Blob blob;
    for (auto& row : blob.timeWarps) {
        for (int k = 0; k <= 30; ++k) row[k] = 36.0f * std::pow(static_cast<float>(k) / 30.0f, 1.5f);
        for (int k = 31; k <= 40; ++k) row[k] = 36.0f + 6.0f * static_cast<float>(k - 30);
    }
    blob.normalise();
    ASSERT_EQ(blob.audibleKnots, 31);
    const Blob before = blob;
    blob.mirrorTime();
    EXPECT_GT(std::abs(blob.timeWarps[0][10] - before.timeWarps[0][10]), 1.0f);
    for (int k = 30; k < 41; ++k) EXPECT_NEAR(blob.timeWarps[0][k], before.timeWarps[0][k], 1e-3f);
    // A never-normalised Blob has no audible knots yet: nothing to reflect, nothing breaks.
    Blob fresh;
    fresh.mirrorTime();
    EXPECT_FLOAT_EQ(fresh.length, 97.0f);
}

TEST(Blob, CopyFromCarriesIdentityOnlyWhenAsked) {
    Blob source = deformedBlob();
    source.name = "Kick 1";
    source.present = 0;
    source.editCount = 12;
    Blob target;
    const int version = target.version;
    target.copyFrom(source, false);
    EXPECT_EQ(largestKnotDifference(target, source), 0.0f);
    EXPECT_EQ(target.energy, source.energy);
    EXPECT_EQ(target.tailTime, source.tailTime);
    EXPECT_EQ(target.name, "");
    EXPECT_EQ(target.present, 1);
    EXPECT_EQ(target.version, version + 1);
    target.copyFrom(source, true);
    EXPECT_EQ(target.name, "Kick 1");
    EXPECT_EQ(target.present, 0);
    EXPECT_EQ(target.editCount, 12);
}

TEST(Blob, LocateInvertsThePlanePosition) {
    const Blob blob = deformedBlob();
    for (float g : {3.0f, 17.5f, 20.2f, 40.0f})
        for (float h : {1.0f, 6.5f, 25.0f, 38.0f}) {
            const Blob::PlanePoint at = blob.planePosition(g, h);
            const Blob::MeshPoint found = blob.locate(at.band, at.frame, 50);
            EXPECT_NEAR(found.g, g, 0.02f) << g << "," << h;
            EXPECT_NEAR(found.h, h, 0.02f) << g << "," << h;
        }
    Blob even;
    const Blob::PlanePoint at = even.planePosition(24.0f, 20.0f);
    EXPECT_FLOAT_EQ(at.band, 40.0f);
    EXPECT_FLOAT_EQ(at.frame, 48.0f);
}

class BlobSlotTest : public ::testing::Test {
protected:
    void SetUp() override {
        useTestHome();
        std::filesystem::remove_all(folderPath(Folder::Sounds) / "slot-test");
    }
};

TEST_F(BlobSlotTest, LoadsNamedFilesAndRejectsBadOnes) {
    const Bytes good = serialized(deformedBlob());
    const std::filesystem::path folder = folderPath(Folder::Sounds) / "slot-test";
    writeFile(folder / "snare.v2.blob", good);
    writeFile(folder / "short.blob", Bytes(good.begin(), good.end() - 1));
    Bytes longer = good;
    longer.push_back(0);
    writeFile(folder / "long.blob", longer);
    Bytes format2 = good;
    format2[0] = 2;
    writeFile(folder / "format2.blob", format2);

    Blob slot;
    slot.clear();
    slot.editCount = 5;
    std::string reason;
    ASSERT_TRUE(loadBlobIntoSlot(slot, "slot-test/snare.v2", reason)) << reason;
    EXPECT_EQ(slot.name, "snare.v2");
    EXPECT_EQ(slot.editCount, 0);
    EXPECT_EQ(slot.present, 1);
    EXPECT_LT(largestKnotDifference(slot, deformedBlob()), 0.001f);
    ASSERT_TRUE(loadBlobIntoSlot(slot, "slot-test/snare.v2.blob", reason)) << reason;

    for (const char* bad : {"slot-test/short", "slot-test/long.blob", "slot-test/format2",
                            "slot-test/missing", "../slot-test/snare.v2", "", "/etc/passwd"}) {
        const Blob before = slot;
        reason.clear();
        EXPECT_FALSE(loadBlobIntoSlot(slot, bad, reason)) << bad;
        EXPECT_FALSE(reason.empty()) << bad;
        EXPECT_EQ(slot.version, before.version) << bad;
        EXPECT_EQ(largestKnotDifference(slot, before), 0.0f) << bad;
    }
}

TEST(BlobSlot, PublishesEveryChangeOnceAndAtOnce) {
    BlobSlot slot;
    EXPECT_FALSE(slot.publish()); // nothing changed yet
    slot.working = deformedBlob();
    ASSERT_TRUE(slot.publish());
    EXPECT_FALSE(slot.publish());
    EXPECT_EQ(slot.publishedIndex(), 1u);
    const Blob& taken = slot.acquire();
    EXPECT_EQ(taken.version, slot.working.version);
    EXPECT_EQ(largestKnotDifference(taken, slot.working), 0.0f);

    slot.working.present = 0;
    slot.publish();
    EXPECT_FALSE(slot.isPresent());
}

// A track without a sounding voice reads nothing for as long as it stays silent; its changes
// must still reach the next note whole, while an entry the audio thread holds stays intact.
TEST(BlobSlot, ChangesReachTheAudioThreadHoweverLongItDidNotRead) {
    struct Case {
        const char* name;
        bool holdsAnEntry; // the audio thread took a copy before the changes
        int changes;
    };
    const Case cases[] = {
        {"silent track, four changes", false, 4},
        {"silent track, many changes", false, 11},
        {"held copy, four changes", true, 4},
        {"held copy, many changes", true, 11},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BlobSlot slot;
        slot.working = deformedBlob();
        ASSERT_TRUE(slot.publish());
        const Blob* held = c.holdsAnEntry ? &slot.acquire() : nullptr;
        const Blob heldCopy = held != nullptr ? *held : Blob();
        for (int i = 0; i < c.changes; ++i) {
            slot.working.mirrorTime();
            EXPECT_TRUE(slot.publish()) << "change " << i;
            if (held != nullptr) {
                EXPECT_EQ(held->version, heldCopy.version) << "change " << i;
                EXPECT_EQ(largestKnotDifference(*held, heldCopy), 0.0f) << "change " << i;
            }
        }
        EXPECT_EQ(slot.publishedIndex(), static_cast<uint32_t>(c.changes + 1));
        const Blob& next = slot.acquire();
        EXPECT_EQ(next.version, slot.working.version);
        EXPECT_EQ(largestKnotDifference(next, slot.working), 0.0f);
    }
}

TEST(BlobSlot, AudioThreadNeverSeesAHalfWrittenCopy) {
    BlobSlot slot;
    std::atomic<bool> done{false};
    std::atomic<int> checked{0};
    std::atomic<int> torn{0};
    std::thread audio([&] {
        while (!done.load()) {
            const Blob& blob = slot.acquire();
            if (blob.version == 0) continue; // nothing published yet
            // Every knot of a published copy carries the same stamp.
            const float stamp = blob.timeWarps[0][1];
            bool whole = blob.freqWarps[5][47] == stamp;
            for (const auto& row : blob.timeWarps)
                for (int k = 1; k < 40; ++k) whole = whole && row[k] == stamp;
            if (!whole) torn.fetch_add(1);
            checked.fetch_add(1);
        }
    });
    // Publication never waits for the audio thread, so keep editing until it has read plenty.
    for (int edit = 1; edit <= 3000 || checked.load() < 3000; ++edit) {
        const float stamp = static_cast<float>(edit);
        for (auto& row : slot.working.timeWarps)
            for (int k = 1; k < 40; ++k) row[k] = stamp;
        for (auto& column : slot.working.freqWarps) column[47] = stamp;
        ++slot.working.version;
        EXPECT_TRUE(slot.publish());
    }
    done.store(true);
    audio.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(checked.load(), 0);
}

} // namespace
} // namespace tarvo
