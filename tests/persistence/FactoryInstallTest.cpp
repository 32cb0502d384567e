#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "persistence/FactoryInstall.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

// Every test gets an empty folder tree of its own below the test home.
class FactoryInstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* outer = std::getenv("TARVO_HOME");
        saved_ = outer != nullptr ? outer : "";
        const fs::path base =
            outer != nullptr ? fs::path(outer) : fs::temp_directory_path() / "tarvo-test-home";
        home_ = base / "factory-install" / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(home_);
        fs::create_directories(home_);
        setenv("TARVO_HOME", home_.c_str(), 1);
    }
    void TearDown() override {
        if (saved_.empty())
            unsetenv("TARVO_HOME");
        else
            setenv("TARVO_HOME", saved_.c_str(), 1);
    }

    static std::string read(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }

    fs::path home_;
    std::string saved_;
};

const uint8_t kickBytes[] = {1, 2, 3, 4};
const uint8_t snareBytes[] = {5, 6};
const uint8_t presetBytes[] = {'T', 'V', 0, 9};

const std::vector<FactoryFile> versionOne = {
    {Folder::Sounds, "Factory/Kick/Punch.blob", kickBytes, sizeof kickBytes},
    {Folder::Sounds, "Factory/Snare/Tight.blob", snareBytes, sizeof snareBytes},
    {Folder::Presets, "Factory/Start Here.tarvo", presetBytes, sizeof presetBytes},
};

TEST_F(FactoryInstallTest, FirstUseWritesEveryFileOnce) {
    const FactoryInstallReport first = installFactoryContent({"1", versionOne});
    EXPECT_FALSE(first.upToDate);
    EXPECT_EQ(first.written, 3);
    EXPECT_EQ(first.failed, 0);
    EXPECT_TRUE(first.error.empty());
    EXPECT_EQ(read(folderPath(Folder::Sounds) / "Factory/Kick/Punch.blob"), std::string("\1\2\3\4"));
    EXPECT_EQ(read(folderPath(Folder::Presets) / "Factory/Start Here.tarvo"), std::string("TV\0\x09", 4));

    const FactoryInstallReport second = installFactoryContent({"1", versionOne});
    EXPECT_TRUE(second.upToDate);
    EXPECT_EQ(second.written, 0);
}

TEST_F(FactoryInstallTest, UserFilesAreNeverOverwritten) {
    const fs::path mine = folderPath(Folder::Sounds) / "Factory/Kick/Punch.blob";
    write(mine, "my own kick");
    const FactoryInstallReport report = installFactoryContent({"1", versionOne});
    EXPECT_EQ(report.kept, 1);
    EXPECT_EQ(report.written, 2);
    EXPECT_EQ(read(mine), "my own kick");
}

TEST_F(FactoryInstallTest, NewerVersionAddsOnlyItsNewFiles) {
    installFactoryContent({"1", versionOne});
    const fs::path deleted = folderPath(Folder::Sounds) / "Factory/Snare/Tight.blob";
    fs::remove(deleted);
    const fs::path edited = folderPath(Folder::Sounds) / "Factory/Kick/Punch.blob";
    write(edited, "edited");

    std::vector<FactoryFile> versionTwo = versionOne;
    versionTwo.push_back({Folder::Sounds, "Factory/Clap/Wide.blob", snareBytes, sizeof snareBytes});
    // The same relative path in the other folder is a different file.
    versionTwo.push_back({Folder::Presets, "Factory/Kick/Punch.blob", kickBytes, sizeof kickBytes});
    const FactoryInstallReport report = installFactoryContent({"2", versionTwo});
    EXPECT_EQ(report.written, 2);
    EXPECT_FALSE(fs::exists(deleted));
    EXPECT_EQ(read(edited), "edited");
    EXPECT_TRUE(fs::exists(folderPath(Folder::Sounds) / "Factory/Clap/Wide.blob"));
    EXPECT_TRUE(installFactoryContent({"2", versionTwo}).upToDate);
}

TEST_F(FactoryInstallTest, FailedWriteIsReportedAndRetried) {
    // A plain file where the sounds folder belongs blocks every sound.
    write(folderPath(Folder::Sounds), "not a folder");
    const FactoryInstallReport blocked = installFactoryContent({"1", versionOne});
    EXPECT_EQ(blocked.failed, 2);
    EXPECT_EQ(blocked.written, 1);
    EXPECT_FALSE(blocked.error.empty());

    fs::remove(folderPath(Folder::Sounds));
    const FactoryInstallReport retried = installFactoryContent({"1", versionOne});
    EXPECT_FALSE(retried.upToDate);
    EXPECT_EQ(retried.written, 2);
    EXPECT_EQ(retried.failed, 0);
    EXPECT_TRUE(installFactoryContent({"1", versionOne}).upToDate);
}

TEST_F(FactoryInstallTest, PathsLeavingTheFolderAreRefused) {
    const char* paths[] = {"",           "../escape.blob", "/absolute.blob", "a//b.blob",
                           "a/./b.blob", "C:/x.blob",      "a\\..\\b.blob",  "Factory/.."};
    for (const char* path : paths) {
        SCOPED_TRACE(path);
        const std::vector<FactoryFile> files = {{Folder::Sounds, path, kickBytes, sizeof kickBytes}};
        const FactoryInstallReport report = installFactoryContent({"1", files});
        EXPECT_EQ(report.failed, 1);
        EXPECT_EQ(report.written, 0);
    }
    EXPECT_FALSE(fs::exists(folderPath(Folder::Base).parent_path() / "escape.blob"));
    EXPECT_FALSE(fs::exists(folderPath(Folder::Base) / "escape.blob"));
}

TEST_F(FactoryInstallTest, DamagedRecordOffersFilesAgainWithoutOverwriting) {
    installFactoryContent({"1", versionOne});
    const fs::path kick = folderPath(Folder::Sounds) / "Factory/Kick/Punch.blob";
    write(kick, "edited");
    write(factoryRecordPath(), std::string("\0\xff garbage\r\n", 12));
    const FactoryInstallReport report = installFactoryContent({"1", versionOne});
    EXPECT_EQ(report.kept, 3);
    EXPECT_EQ(report.written, 0);
    EXPECT_EQ(read(kick), "edited");
    EXPECT_TRUE(installFactoryContent({"1", versionOne}).upToDate);
}

} // namespace
} // namespace tarvo
