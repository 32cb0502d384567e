#include "instrument/Presets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>

#include "engine/Blob.h"
#include "engine/BlobSlots.h"
#include "instrument/Ombrix.h"
#include "instrument/StateChunk.h"
#include "persistence/Folders.h"
#include "support/ScopedHome.h"

namespace tarvo {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Param& hostSync(Ombrix& p) {
    return p.sequencer.param(StepSequencer::paramHostSync);
}

// A preset file whose state is recognisable by its BPM.
std::filesystem::path makePreset(const std::string& relative, float bpm) {
    auto p = std::make_unique<Ombrix>();
    p->sequencer.param(StepSequencer::paramBpm).set(bpm);
    const std::filesystem::path path = folderPath(Folder::Presets) / relative;
    writeBytes(path, saveState(*p));
    return path;
}

float bpmOf(Ombrix& p) {
    return p.sequencer.param(StepSequencer::paramBpm).value;
}

struct PresetsTest : ::testing::Test {
    test::ScopedHome home;
    std::unique_ptr<Ombrix> plugin = std::make_unique<Ombrix>();
};

TEST_F(PresetsTest, SavingNamesThePresetAfterTheFileAndCreatesFolders) {
    plugin->presetEditCount = 5;
    plugin->sequencer.insertNote(0, 0, 100, 100);
    ASSERT_TRUE(plugin->presetModified());
    const std::filesystem::path path = folderPath(Folder::Presets) / "0 User" / "new" / "My Kit.old.tarvo";
    ASSERT_TRUE(savePreset(*plugin, path));
    EXPECT_EQ(plugin->presetName, "My Kit.old");
    EXPECT_FALSE(plugin->presetModified());
    EXPECT_EQ(readBytes(path), saveState(*plugin));
}

TEST_F(PresetsTest, AFailedSaveChangesNothingAndSaysSo) {
    plugin->presetName = "Kept";
    plugin->presetEditCount = 2;
    const std::filesystem::path blocker = home.path() / "a file";
    writeBytes(blocker, {1});
    const std::filesystem::path path = blocker / "Kit.tarvo";
    EXPECT_FALSE(savePreset(*plugin, path));
    EXPECT_EQ(plugin->presetName, "Kept");
    EXPECT_TRUE(plugin->presetModified());
    EXPECT_EQ(plugin->statusText, "couldn't save preset: " + path.string());
}

TEST_F(PresetsTest, OpeningAPresetKeepsHostSyncAsItWas) {
    for (float before : {0.0f, 1.0f}) {
        SCOPED_TRACE(before);
        auto stored = std::make_unique<Ombrix>();
        hostSync(*stored).set(1.0f - before);
        stored->sequencer.param(StepSequencer::paramBpm).set(99.0f);
        const std::filesystem::path path = folderPath(Folder::Presets) / "Sync.tarvo";
        writeBytes(path, saveState(*stored));

        hostSync(*plugin).set(before);
        plugin->presetEditCount = 4;
        ASSERT_TRUE(openPreset(*plugin, path)) << plugin->statusText;
        EXPECT_EQ(hostSync(*plugin).value, before);
        EXPECT_EQ(bpmOf(*plugin), 99.0f);
        EXPECT_EQ(plugin->presetName, "Sync");
        EXPECT_FALSE(plugin->presetModified());
    }
}

TEST_F(PresetsTest, FilesThatDoNotLoadChangeNothingButTheStatus) {
    const std::filesystem::path folder = folderPath(Folder::Presets);
    writeBytes(folder / "Empty.tarvo", {});
    writeBytes(folder / "Foreign.tarvo", {'R', 'I', 'F', 'F', 0, 0, 0, 0});
    Bytes cut = saveState(*plugin);
    cut.resize(cut.size() / 2);
    writeBytes(folder / "Cut.tarvo", cut);
    struct Case {
        const char* file;
        std::string status;
    };
    const Case cases[] = {
        {"Missing.tarvo", "couldn't open preset: " + (folder / "Missing.tarvo").string()},
        {"Empty.tarvo", "couldn't open preset: " + (folder / "Empty.tarvo").string()},
        {"Foreign.tarvo", "The saved data is not recognized, possibly corrupted data."},
        {"Cut.tarvo", "The saved data is damaged and was not loaded: the "},
    };
    plugin->presetName = "Current";
    plugin->presetEditCount = 3;
    const Bytes before = saveState(*plugin);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_FALSE(openPreset(*plugin, folder / c.file));
        EXPECT_EQ(plugin->statusText.rfind(c.status, 0), 0u) << plugin->statusText;
        EXPECT_EQ(plugin->presetName, "Current");
        EXPECT_EQ(saveState(*plugin), before);
    }
}

TEST_F(PresetsTest, TrailingBytesLoadButAreReported) {
    Bytes bytes = saveState(*plugin);
    bytes.push_back(7);
    const std::filesystem::path path = folderPath(Folder::Presets) / "Long.tarvo";
    writeBytes(path, bytes);
    EXPECT_FALSE(openPreset(*plugin, path));
    EXPECT_EQ(plugin->presetName, "Long");
}

TEST_F(PresetsTest, BlobFilesHoldTheByteFormAlone) {
    Blob blob;
    blob.timeWarps[2][5] += 1.0f;
    blob.normalise();
    const std::filesystem::path full = home.path() / "elsewhere" / "Mine.blob";
    struct Case {
        std::string name;
        bool isFullPath;
        std::filesystem::path expected;
    };
    const Case cases[] = {
        {"Kicks/Deep", false, folderPath(Folder::Sounds) / "Kicks" / "Deep.blob"},
        {full.string(), true, full},
        {clipboardBlobPath().string(), true, home.path() / "Tarvo Data" / "clipboard.blob"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(saveBlob(blob, c.name, c.isFullPath)) << c.name;
        EXPECT_EQ(readBytes(c.expected).size(), Blob::byteSize);
        Blob back;
        std::string reason;
        ASSERT_TRUE(readBlobFile(c.expected, back, reason)) << reason;
        EXPECT_NEAR(back.timeWarps[2][5], blob.timeWarps[2][5], 0.001f);
    }
}

TEST_F(PresetsTest, ListingIsRecursiveRelativeAndSkipsDotNames) {
    makePreset("A.tarvo", 100);
    makePreset("Factory/Start Here.tarvo", 101);
    makePreset(".hidden/start.tarvo", 102);
    makePreset(".start.tarvo", 103);
    std::vector<std::string> files = listPresetFiles();
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"A.tarvo", "Factory/Start Here.tarvo"}));
}

TEST_F(PresetsTest, TheFirstPreparationLoadsTheStartPreset) {
    makePreset("A.tarvo", 100);
    makePreset("Factory/Start Here.tarvo", 101);
    makePreset("Zeta/other.tarvo", 102);
    ASSERT_EQ(plugin->loadCount, 0);
    EXPECT_TRUE(startPreset(*plugin));
    EXPECT_EQ(plugin->presetName, "Start Here");
    EXPECT_EQ(bpmOf(*plugin), 101.0f);
    EXPECT_GT(plugin->loadCount, 0);

    // Once per instance.
    plugin->sequencer.param(StepSequencer::paramBpm).set(90.0f);
    EXPECT_FALSE(startPreset(*plugin));
    EXPECT_EQ(bpmOf(*plugin), 90.0f);
}

TEST_F(PresetsTest, StartPresetFallsBackToAnyPresetAndThenToNothing) {
    // A damaged "start" preset is passed over; with no other, a random pick loads what there is.
    writeBytes(folderPath(Folder::Presets) / "Broken Start.tarvo", {'x'});
    EXPECT_FALSE(startPreset(*plugin)) << "only a damaged file";
    EXPECT_EQ(plugin->loadCount, 3); // the "start" attempt, the random attempt and the step

    auto second = std::make_unique<Ombrix>();
    std::filesystem::remove(folderPath(Folder::Presets) / "Broken Start.tarvo");
    makePreset("Only.tarvo", 111);
    EXPECT_TRUE(startPreset(*second));
    EXPECT_EQ(bpmOf(*second), 111.0f);

    auto third = std::make_unique<Ombrix>();
    std::filesystem::remove_all(folderPath(Folder::Presets));
    EXPECT_FALSE(startPreset(*third));
    EXPECT_EQ(third->loadCount, 1);
}

TEST_F(PresetsTest, AHostLoadBeforeTheFirstPreparationWins) {
    makePreset("Start.tarvo", 120);
    auto stored = std::make_unique<Ombrix>();
    stored->sequencer.param(StepSequencer::paramBpm).set(77.0f);
    const Bytes chunk = saveState(*stored);
    ASSERT_GT(readState(*plugin, chunk.data(), static_cast<int>(chunk.size())), 0);
    EXPECT_FALSE(startPreset(*plugin));
    EXPECT_EQ(bpmOf(*plugin), 77.0f);
}

} // namespace
} // namespace tarvo
