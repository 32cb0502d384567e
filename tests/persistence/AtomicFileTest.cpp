#include "persistence/AtomicFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>

#include "control/StepSequencer.h"
#include "engine/Blob.h"
#include "instrument/Ombrix.h"
#include "instrument/Presets.h"
#include "persistence/Folders.h"
#include "persistence/MidiExport.h"
#include "persistence/Settings.h"
#include "support/ScopedHome.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// The names in a folder, so a test sees a temporary file left behind.
std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Makes the file system refuse every write past a few bytes, as a full disk or a quota does
// part-way through a file. The process limit works for any user, root included; the signal
// the kernel sends at the limit is ignored so that the write fails with an error instead.
class DiskFullAfter {
public:
    explicit DiskFullAfter(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~DiskFullAfter() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    DiskFullAfter(const DiskFullAfter&) = delete;
    DiskFullAfter& operator=(const DiskFullAfter&) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

// Smaller than anything the writers below store, larger than the old content.
constexpr rlim_t diskFullLimit = 8;
const std::string oldContent = "old one";

TEST(AtomicFile, ReplacesTheWholeFileAndCreatesItsFolders) {
    test::ScopedHome home;
    const fs::path target = home.path() / "a" / "b" / "file.bin";
    ASSERT_TRUE(writeFileAtomically(target, std::string(5000, 'x')));
    ASSERT_TRUE(writeFileAtomically(target, "short"));
    EXPECT_EQ(readText(target), "short");
    EXPECT_EQ(namesIn(target.parent_path()), std::vector<std::string>{"file.bin"});
    ASSERT_TRUE(writeFileAtomically(target, ""));
    EXPECT_EQ(readText(target), "");
}

TEST(AtomicFile, ALinkKeepsPointingAtTheFileItNames) {
    test::ScopedHome home;
    const fs::path real = home.path() / "real" / "Kit.tarvo";
    writeText(real, oldContent);
    const fs::path link = home.path() / "Kit.tarvo";
    fs::create_symlink(real, link);
    ASSERT_TRUE(writeFileAtomically(link, "new"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readText(real), "new");
}

// Each way a write can fail leaves the old file as it was, no temporary file behind, and a
// message naming the file.
TEST(AtomicFile, AFailedWriteKeepsTheOldFileAndSaysWhy) {
    test::ScopedHome home;
    const fs::path folder = home.path() / "folder";
    struct Case {
        const char* name;
        fs::path target;
        std::function<void()> arrange;
        rlim_t limit; // 0: no limit
        const char* errorStart;
    };
    const Case cases[] = {
        {"the disk fills part-way", folder / "kit.tarvo",
         [&] { writeText(folder / "kit.tarvo", oldContent); }, diskFullLimit, "Cannot write "},
        {"a folder where the file belongs", folder / "dir.tarvo",
         [&] { writeText(folder / "dir.tarvo" / "inside", oldContent); }, 0, "Cannot write "},
        {"a file where a folder belongs", folder / "plain" / "kit.tarvo",
         [&] { writeText(folder / "plain", oldContent); }, 0, "Cannot create the folder "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(folder);
        c.arrange();
        const std::vector<std::string> before = namesIn(folder);
        FileWriteResult result;
        {
            std::unique_ptr<DiskFullAfter> full;
            if (c.limit != 0) full = std::make_unique<DiskFullAfter>(c.limit);
            result = writeFileAtomically(c.target, std::string(4096, 'n'));
        }
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error.rfind(c.errorStart, 0), 0u) << result.error;
        EXPECT_NE(result.error.find(c.target.parent_path().string()), std::string::npos) << result.error;
        EXPECT_EQ(namesIn(folder), before);
        if (fs::is_regular_file(c.target)) {
            EXPECT_EQ(readText(c.target), oldContent);
        }
    }
}

// Every writer of a user's file goes through the same replacement: a disk that fills
// part-way through a save leaves the previous version readable.
TEST(AtomicFile, EveryUserFileSurvivesASaveThatFailsPartWay) {
    test::ScopedHome home;
    auto plugin = std::make_unique<Ombrix>();
    Blob blob;
    StepSequencer sequencer;
    sequencer.insertNote(0, 0, 100, 100);
    Settings settings;
    struct Case {
        const char* name;
        fs::path target;
        std::function<bool()> save;
    };
    const Case cases[] = {
        {"preset", folderPath(Folder::Presets) / "Kit.tarvo",
         [&] { return savePreset(*plugin, folderPath(Folder::Presets) / "Kit.tarvo"); }},
        {"Blob", folderPath(Folder::Sounds) / "Kick.blob", [&] { return saveBlob(blob, "Kick", false); }},
        {"settings", Settings::filePath(), [&] { return settings.set(Settings::sizeKey, "150"); }},
        {"MIDI export", midiExportPath(), [&] { return !exportMidi(sequencer).empty(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeText(c.target, oldContent);
        bool saved;
        {
            DiskFullAfter full(diskFullLimit);
            saved = c.save();
        }
        EXPECT_FALSE(saved);
        EXPECT_EQ(readText(c.target), oldContent);
        for (const std::string& name : namesIn(c.target.parent_path()))
            EXPECT_NE(name.front(), '.') << "a temporary file was left behind: " << name;
        ASSERT_TRUE(c.save()) << "with room on the disk";
        EXPECT_NE(readText(c.target), oldContent);
    }
    EXPECT_EQ(plugin->presetName, "Kit");
}

} // namespace
} // namespace tarvo
