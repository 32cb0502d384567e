#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "analysis/AudioAnalysis.h"
#include "analysis/AudioImport.h"
#include "engine/BlobReader.h"
#include "engine/BlobSlots.h"
#include "engine/CanonicalPlane.h"
#include "instrument/ImportQueue.h"
#include "instrument/Ombrix.h"
#include "persistence/Folders.h"
#include "support/ScopedHome.h"
#include "tools/WavWriter.h"
#include "tools/factory/DrumSynth.h"

namespace tarvo {
namespace {

constexpr int rate = 44100;

// A short decaying tone, the smallest sound the analyser makes a full Blob of.
std::vector<float> hit(float level = 0.5f) {
    std::vector<float> samples(static_cast<size_t>(rate / 20));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = level * std::exp(-static_cast<float>(i) / 400.0f) *
                     std::sin(2.0f * 3.14159265f * 220.0f * static_cast<float>(i) / rate);
    return samples;
}

class AudioImport : public ::testing::Test {
protected:
    void SetUp() override {
        plugin_ = std::make_unique<Ombrix>();
        input_ = home_.path() / "input";
        std::filesystem::create_directories(input_);
    }

    std::string writeWav(const std::string& relative, const std::vector<float>& samples = hit(),
                         int wavRate = rate) {
        const std::filesystem::path file = input_ / relative;
        std::filesystem::create_directories(file.parent_path());
        EXPECT_TRUE(tool::writeFloatWav(file.string(), samples, 1, wavRate).ok);
        return file.string();
    }
    static std::filesystem::path userFolder() { return folderPath(Folder::Sounds) / userSoundsFolder; }
    static int blobFilesBelow(const std::filesystem::path& folder) {
        int count = 0;
        if (!std::filesystem::exists(folder)) return 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
            if (entry.is_regular_file() && entry.path().extension() == ".blob") ++count;
        return count;
    }
    BlobSlot& slot(int track, int which) {
        TrackBlobs& blobs = plugin_->engine.tracks[static_cast<size_t>(track)].blobs;
        return which == 0 ? blobs.slotA : blobs.slotB;
    }
    std::vector<int32_t> allVersions() {
        std::vector<int32_t> versions;
        for (int t = 0; t < BandSynth::trackCount; ++t)
            for (int s = 0; s < 2; ++s) versions.push_back(slot(t, s).working.version);
        return versions;
    }

    test::ScopedHome home_;
    std::unique_ptr<Ombrix> plugin_;
    std::filesystem::path input_;
};

TEST_F(AudioImport, NamesDropTheLastExtensionOnly) {
    EXPECT_EQ(importedBlobName("Kick 01.wav"), "0 User/Kick 01");
    EXPECT_EQ(importedBlobName("Drums/sub/kick.wav"), "0 User/Drums/sub/kick");
    EXPECT_EQ(importedBlobName("kick.v2.WAV"), "0 User/kick.v2");
    EXPECT_EQ(importedBlobName("My.Drums/kick"), "0 User/My.Drums/kick");
}

TEST_F(AudioImport, CollectsAudioFilesAndFoldersAndIgnoresTheRest) {
    const std::string lower = writeWav("a.wav");
    const std::string upper = writeWav("B.AIFF");
    const std::string mixed = writeWav("c.Wav");
    const std::string text = writeWav("notes.txt");
    writeWav("Drums/kick.wav");
    writeWav("Drums/sub/hat.aif");
    writeWav("Drums/.hidden.wav");
    writeWav("Drums/.cache/old.wav");
    writeWav("Drums/readme.md");
    const std::string folder = (input_ / "Drums").string() + "/";
    const std::string parent = input_.string() + "/";

    const std::vector<ImportEntry> entries =
        collectImportEntries({lower, upper, mixed, text, (input_ / "missing.wav").string(), folder});
    std::vector<std::pair<std::string, std::string>> got;
    for (const ImportEntry& e : entries) got.emplace_back(e.folder, e.file);
    std::sort(got.begin() + 2, got.end());
    const std::vector<std::pair<std::string, std::string>> expected = {
        {parent, "a.wav"}, {parent, "B.AIFF"}, {parent, "Drums/kick.wav"}, {parent, "Drums/sub/hat.aif"}};
    EXPECT_EQ(got, expected);
}

// Names the importer could misread: a folder dropped as "." or "..", whose name would lead
// the Blobs out of the user sounds folder, and a name holding a zero byte, which the system
// cuts short so that it names another file.
TEST_F(AudioImport, OddDroppedNamesStayInsideTheUserFolder) {
    writeWav("Drums/kick.wav");
    const std::string parent = input_.string() + "/";
    const std::string drums = (input_ / "Drums").string();
    struct Case {
        std::string dropped;
        std::vector<std::pair<std::string, std::string>> expected;
    };
    const std::vector<Case> cases = {
        {drums + "/.", {{parent, "Drums/kick.wav"}}},     {drums + "/sub/..", {{parent, "Drums/kick.wav"}}},
        {drums + "/./", {{parent, "Drums/kick.wav"}}},    {drums + std::string("\0/kick.wav", 10), {}},
        {drums + std::string("/kick.wav\0.wav", 14), {}},
    };
    std::filesystem::create_directories(input_ / "Drums" / "sub");
    for (const Case& c : cases) {
        std::vector<std::pair<std::string, std::string>> got;
        for (const ImportEntry& e : collectImportEntries({c.dropped})) {
            got.emplace_back(e.folder, e.file);
            EXPECT_EQ(importedBlobName(e.file).find(".."), std::string::npos) << c.dropped;
        }
        EXPECT_EQ(got, c.expected) << c.dropped;
    }
}

TEST_F(AudioImport, RefusesWhatCannotBecomeASound) {
    const std::filesystem::path target = home_.path() / "out" / "x.blob";
    std::vector<float> whisper(4000, 0.0f);
    whisper[100] = 1e-26f; // audible to the sum test, below anything the analyser keeps
    struct Case {
        const char* name;
        std::filesystem::path source;
        std::filesystem::path target;
    };
    std::filesystem::create_directories(home_.path() / "blocked");
    std::ofstream(home_.path() / "blocked" / "file") << "a file, not a folder";
    std::ofstream(input_ / "noise.wav") << std::string(600, 'Z');
    const Case cases[] = {
        {"silent", writeWav("silent.wav", std::vector<float>(4000, 0.0f)), target},
        {"nearly silent", writeWav("whisper.wav", whisper), target},
        {"not audio", input_ / "noise.wav", target},
        {"missing", input_ / "missing.wav", target},
        {"rate too low", writeWav("slow.wav", hit(), 500), target},
        {"unwritable", writeWav("fine.wav"), home_.path() / "blocked" / "file" / "x.blob"},
    };
    for (const Case& c : cases) {
        const ImportOutcome outcome = analyzeIntoBlobFile(c.source, c.target, AudioMessages::Silent);
        EXPECT_FALSE(outcome.written) << c.name;
        EXPECT_FALSE(outcome.message.empty()) << c.name;
        EXPECT_FALSE(std::filesystem::exists(target)) << c.name;
    }
    const ImportOutcome fine = analyzeIntoBlobFile(cases[5].source, target, AudioMessages::Silent);
    EXPECT_TRUE(fine.written) << fine.message;
    EXPECT_EQ(std::filesystem::file_size(target), Blob::byteSize);
    EXPECT_EQ(fine.frames, static_cast<int64_t>(hit().size()));
}

TEST_F(AudioImport, OneOrTwoFilesGoIntoTheCurrentTrack) {
    const std::string first = writeWav("Kick 01.wav");
    const std::string second = writeWav("snare.wav");
    plugin_->currentTrack = 2;
    Param& transform = plugin_->engine.param(plugin_->engine.layout.trackBase[2] + trackTransform);
    struct Case {
        const char* name;
        std::vector<std::string> paths;
        int slot;
        float transform;
        const char* slotA; // expected names; empty: the slot keeps its sound
        const char* slotB;
    };
    const Case cases[] = {
        {"automatic, Transform 80 %", {first, second}, -1, 80.0f, "0 User/snare", "0 User/Kick 01"},
        {"automatic, Transform 20 %", {first, second}, -1, 20.0f, "0 User/Kick 01", "0 User/snare"},
        {"automatic, one file, Transform 50 %", {second}, -1, 50.0f, "0 User/snare", ""},
        {"selector A", {first}, 0, 80.0f, "0 User/Kick 01", ""},
        {"selector B", {second}, 1, 0.0f, "", "0 User/snare"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int s = 0; s < 2; ++s) slot(2, s).working.name = "before";
        transform.set(c.transform);
        std::vector<int32_t> others = allVersions();
        importAudioPaths(*plugin_, c.paths, c.slot);
        EXPECT_EQ(slot(2, 0).working.name, *c.slotA != '\0' ? c.slotA : "before");
        EXPECT_EQ(slot(2, 1).working.name, *c.slotB != '\0' ? c.slotB : "before");
        const std::vector<int32_t> now = allVersions();
        for (size_t i = 0; i < now.size(); ++i)
            if (i / 2 != 2) {
                EXPECT_EQ(now[i], others[i]) << "only the current track changes";
            }
        EXPECT_TRUE(plugin_->importQueue.empty());
        EXPECT_EQ(plugin_->importIndex, -1);
    }
    EXPECT_TRUE(std::filesystem::exists(userFolder() / "Kick 01.blob"));
    EXPECT_TRUE(std::filesystem::exists(userFolder() / "snare.blob"));
}

TEST_F(AudioImport, BatchesWaitForStartAndRunOneFilePerTick) {
    std::vector<std::string> expectedBlobs;
    for (int i = 0; i < 50; ++i) {
        const std::string relative = "Drums/" +
                                     std::string(i % 3 == 0   ? ""
                                                 : i % 3 == 1 ? "sub/"
                                                              : "sub/deeper/") +
                                     "hit " + std::to_string(i);
        writeWav(relative + ".wav", hit(0.1f + 0.01f * static_cast<float>(i)));
        expectedBlobs.push_back(relative + ".blob");
    }
    writeWav("Drums/.hidden.wav");
    const std::vector<int32_t> versions = allVersions();

    importAudioPaths(*plugin_, {(input_ / "Drums").string()}, -1);
    ASSERT_EQ(plugin_->importQueue.size(), 50u);
    EXPECT_EQ(plugin_->importIndex, -1);
    for (int tick = 0; tick < 3; ++tick) plugin_->idleTick();
    EXPECT_EQ(blobFilesBelow(userFolder()), 0) << "nothing runs before START";

    plugin_->importIndex = 0; // START
    for (int tick = 0; tick < 50; ++tick) {
        plugin_->idleTick();
        EXPECT_EQ(plugin_->importIndex, tick + 1);
        EXPECT_EQ(blobFilesBelow(userFolder()), tick + 1);
    }
    plugin_->idleTick();
    EXPECT_TRUE(plugin_->importQueue.empty());
    EXPECT_EQ(plugin_->importIndex, -1);
    for (const std::string& blob : expectedBlobs)
        EXPECT_TRUE(std::filesystem::exists(userFolder() / blob)) << blob;
    EXPECT_EQ(allVersions(), versions) << "a batch loads nothing into tracks";
}

TEST_F(AudioImport, CancelStopsABatchAndFailuresDoNotStopIt) {
    for (int i = 0; i < 12; ++i) writeWav("Set/" + std::to_string(i) + ".wav");
    writeWav("Set/0.wav", std::vector<float>(2000, 0.0f)); // silent: skipped
    std::ofstream(input_ / "Set" / "1.wav", std::ios::trunc) << "not a wav";

    importAudioPaths(*plugin_, {(input_ / "Set").string()}, -1);
    ASSERT_EQ(plugin_->importQueue.size(), 12u);
    // The folder lists in the file system's order; the refused files are among the first ten
    // entries or not.
    int refused = 0;
    for (size_t i = 0; i < 10; ++i)
        refused += plugin_->importQueue[i].file == "Set/0.wav" || plugin_->importQueue[i].file == "Set/1.wav";
    plugin_->importIndex = 0;
    for (int tick = 0; tick < 10; ++tick) plugin_->idleTick();
    EXPECT_EQ(plugin_->importIndex, 10);
    const int written = blobFilesBelow(userFolder());
    EXPECT_EQ(written, 10 - refused) << "refused files are skipped, the batch goes on";

    plugin_->importQueue.clear(); // CANCEL
    plugin_->idleTick();
    EXPECT_EQ(plugin_->importIndex, -1);
    for (int tick = 0; tick < 5; ++tick) plugin_->idleTick();
    EXPECT_EQ(blobFilesBelow(userFolder()), written);

    // A new import during a batch discards what was left of it.
    importAudioPaths(*plugin_, {(input_ / "Set").string()}, -1);
    plugin_->importIndex = 4;
    importAudioPaths(*plugin_, {(input_ / "Set" / "3.wav").string()}, 0);
    EXPECT_TRUE(plugin_->importQueue.empty());
    EXPECT_EQ(plugin_->importIndex, -1);
}

// ---- Round trip: a recording imported into a track and played keeps its character ----------

// Seconds of the test recordings and of the played renders.
constexpr double renderSeconds = 1.2;
// Cells quieter than this below a picture's loudest cell count as silence.
constexpr double floorDb = -60.0;

std::vector<float> pitchedKick() {
    std::vector<float> x(static_cast<size_t>(0.6 * rate));
    double phase = 0.0;
    for (size_t i = 0; i < x.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        phase += 2.0 * M_PI * (50.0 + 110.0 * std::exp(-t / 0.04)) / rate;
        x[i] = static_cast<float>(0.8 * std::exp(-t / 0.2) * std::sin(phase));
    }
    return x;
}

// Uniform noise in -1..1 from a fixed linear congruential sequence.
std::vector<float> noise(size_t n, uint32_t seed) {
    std::vector<float> x(n);
    for (float& v : x) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<float>(seed) / 2147483648.0f - 1.0f;
    }
    return x;
}

std::vector<float> noiseSnare() {
    std::vector<float> x = noise(static_cast<size_t>(0.4 * rate), 17);
    for (size_t i = 0; i < x.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        x[i] = static_cast<float>(0.5 * x[i] * std::exp(-t / 0.07) +
                                  0.4 * std::exp(-t / 0.05) * std::sin(2.0 * M_PI * 190.0 * t));
    }
    return x;
}

std::vector<float> hiHat() {
    const std::vector<float> white = noise(static_cast<size_t>(0.25 * rate), 99);
    std::vector<float> x(white.size());
    // Second difference: a steep high-pass that leaves the bright hiss of a hat.
    for (size_t i = 2; i < x.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        x[i] =
            static_cast<float>(0.3 * (white[i] - 2.0f * white[i - 1] + white[i - 2]) * std::exp(-t / 0.03));
    }
    return x;
}

// The sound's energy over the plane's 96 warped frames and 80 bands, in dB below its loudest
// cell, floored at floorDb. Time starts at the first frame within 60 dB of the loudest.
std::vector<double> warpedPicture(const std::vector<analysis::BandFrame>& rows) {
    std::vector<double> totals(rows.size());
    for (size_t r = 0; r < rows.size(); ++r)
        for (float e : rows[r]) totals[r] += e;
    const double loudestRow = *std::max_element(totals.begin(), totals.end());
    size_t onset = 0;
    while (onset < rows.size() && totals[onset] < loudestRow * 1e-6) ++onset;

    std::vector<double> cells(static_cast<size_t>(plane::frameCount * plane::bandCount), 0.0);
    for (int w = 0; w < plane::frameCount; ++w) {
        const auto first = onset + static_cast<size_t>(plane::unwarpTime(w));
        const auto last = std::max(first + 1, onset + static_cast<size_t>(plane::unwarpTime(w + 1)));
        for (int k = 0; k < plane::bandCount; ++k) {
            double sum = 0.0;
            for (size_t r = first; r < last && r < rows.size(); ++r) sum += rows[r][static_cast<size_t>(k)];
            cells[static_cast<size_t>(w * plane::bandCount + k)] = sum / static_cast<double>(last - first);
        }
    }
    const double loudest = *std::max_element(cells.begin(), cells.end());
    for (double& c : cells) c = std::max(10.0 * std::log10(c / loudest + 1e-30), floorDb);
    return cells;
}

std::vector<double> warpedPicture(const std::vector<float>& signal) {
    return warpedPicture(analysis::bandEnergies(signal));
}

// The engine's Blob reader frames for the Blob file, one row per frame. The synthesis takes
// a frame's values as bin amplitudes, so their squares are what compares with band energies.
std::vector<double> readerPicture(const std::filesystem::path& blobFile) {
    Blob blob;
    std::string reason;
    EXPECT_TRUE(readBlobFile(blobFile, blob, reason)) << reason;
    BlobReader reader;
    reader.start(&blob, nullptr, 0.0f, -1, 1.0f, 1.0f);
    TailNoise noise;
    std::vector<analysis::BandFrame> rows(static_cast<size_t>(renderSeconds * plane::framesPerSecond));
    for (analysis::BandFrame& row : rows) {
        reader.renderFrame(1.0f, FrameControls{}, noise, row.data());
        for (float& value : row) value *= value;
    }
    return warpedPicture(rows);
}

// Mean absolute difference in dB of two pictures over the cells where either is above the floor.
double pictureDistance(const std::vector<double>& a, const std::vector<double>& b) {
    double sum = 0.0;
    int count = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] <= floorDb && b[i] <= floorDb) continue;
        sum += std::abs(a[i] - b[i]);
        ++count;
    }
    return count > 0 ? sum / count : 0.0;
}

// Imports the recording into slot A of track 1 (slot B off, track 1 and the effects at their
// defaults) and plays one note. The first idle tick after a reset makes the start kit, which
// would replace the imported sound and retune the track, so it runs before the import.
std::vector<float> importAndPlay(const std::filesystem::path& wav) {
    auto plugin = std::make_unique<Ombrix>();
    BandSynth& engine = plugin->engine;
    plugin->reset(static_cast<float>(rate));
    plugin->idleTick();
    for (int p = 0; p < ParamLayout::trackStride; ++p) {
        Param& param = engine.param(engine.layout.trackBase[0] + p);
        param.set(param.defaultValue);
    }
    for (int s = 0; s < ParamLayout::fxSlotCount; ++s)
        engine.param(engine.layout.fxSlotBase[static_cast<size_t>(s)] + fxPower).set(0.0f);
    importAudioPaths(*plugin, {wav.string()}, 0);
    engine.tracks[0].blobs.slotB.working.present = 0;
    plugin->idleTick();
    plugin->midiIn({0, 0x90, static_cast<uint8_t>(Ombrix::sequencerBaseNote), 100});
    const auto frames = static_cast<size_t>(renderSeconds * rate);
    constexpr int block = 512;
    std::vector<float> left(frames + block), right(frames + block);
    for (size_t done = 0; done < frames; done += block) {
        float* outputs[2] = {left.data() + done, right.data() + done};
        plugin->processBlock(outputs, 2, block, HostTransport{});
    }
    left.resize(frames);
    return left;
}

// Each imported sound, played, stays closer to its own recording than to the others. The
// noisy snare and hat come within 6 to 8 dB of their recordings (mean over the cells of the
// warped plane); the kick's falling pitch comes out at about 15 dB: the Blob's time rows
// follow the frequency knots as they slide down with the pitch and read the timing of
// neighbouring bands, so its body thins out. The limits leave a few dB for noise and
// platform differences.
TEST_F(AudioImport, ImportedSoundsKeepTheirCharacterWhenPlayed) {
    struct Sound {
        const char* name;
        std::vector<float> recording;
        double maxDistanceDb;
        std::vector<double> original, played, read;
    };
    std::vector<Sound> sounds = {{"kick", pitchedKick(), 18.0, {}, {}, {}},
                                 {"snare", noiseSnare(), 10.0, {}, {}, {}},
                                 {"hihat", hiHat(), 10.0, {}, {}, {}}};
    for (Sound& sound : sounds) {
        std::vector<float> padded = sound.recording;
        padded.resize(static_cast<size_t>(renderSeconds * rate), 0.0f);
        sound.original = warpedPicture(padded);
        sound.played =
            warpedPicture(importAndPlay(writeWav(std::string(sound.name) + ".wav", sound.recording)));
        sound.read = readerPicture(userFolder() / (std::string(sound.name) + ".blob"));
    }
    for (const Sound& sound : sounds) {
        const double own = pictureDistance(sound.original, sound.played);
        double nearestOther = 1e9;
        for (const Sound& other : sounds)
            if (&other != &sound)
                nearestOther = std::min(nearestOther, pictureDistance(sound.original, other.played));
        std::printf("round trip %-6s: played %.1f dB from its recording (nearest other sound %.1f dB), "
                    "Blob reader frames %.1f dB\n",
                    sound.name, own, nearestOther, pictureDistance(sound.original, sound.read));
        EXPECT_LT(own, sound.maxDistanceDb) << sound.name;
        EXPECT_LT(own, 0.6 * nearestOther) << sound.name << " sounds more like another sound than itself";
    }
}

} // namespace
} // namespace tarvo
