#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "analysis/SoundCategories.h"
#include "engine/BlobSlots.h"
#include "support/JsonReader.h"
#include "support/ToolRun.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;
using test::JsonReader;
using test::JsonValue;
using test::ToolErrors;
using test::ToolRun;

ToolRun runTool(const std::string& environment, const std::string& arguments) {
    return test::runTool(arguments, ToolErrors::shown, environment);
}

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Every built-in sound is found by the dice under exactly one category, the one its folder
// names, and each category offers several sounds.
TEST(FactoryCommand, EverySoundLandsInExactlyOneCategory) {
    const ToolRun run = runTool("", "factory-install --list");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    JsonValue json;
    ASSERT_TRUE(JsonReader::parse(run.out, json)) << run.out;
    std::map<std::string, int> perCategory;
    for (const JsonValue& file : json["files"].items) {
        if (file["folder"].text != "sounds") continue;
        const std::string path = file["path"].text;
        SCOPED_TRACE(path);
        EXPECT_EQ(file["size"].number, static_cast<double>(Blob::byteSize));
        std::vector<std::string> matches;
        for (const char* word : soundCategories)
            if (lowered(path).find(word) != std::string::npos) matches.push_back(word);
        ASSERT_EQ(matches.size(), 1u);
        ++perCategory[matches[0]];
    }
    for (const char* word : soundCategories) EXPECT_GE(perCategory[word], 4) << word;
}

TEST(FactoryCommand, InstallsLoadableSoundsOnce) {
    const char* outer = std::getenv("TARVO_HOME");
    const fs::path home =
        (outer != nullptr ? fs::path(outer) : fs::temp_directory_path() / "tarvo-test-home") /
        "factory-command";
    fs::remove_all(home);
    const std::string environment = "TARVO_HOME='" + home.string() + "'";

    const ToolRun first = runTool(environment, "factory-install");
    ASSERT_EQ(first.exitCode, 0) << first.out;
    JsonValue report;
    ASSERT_TRUE(JsonReader::parse(first.out, report)) << first.out;
    EXPECT_GT(report["written"].number, 0.0);
    int sounds = 0;
    for (const auto& entry : fs::recursive_directory_iterator(home / "Tarvo Sounds")) {
        if (!entry.is_regular_file()) continue;
        Blob blob;
        std::string reason;
        EXPECT_TRUE(readBlobFile(entry.path(), blob, reason)) << entry.path() << ": " << reason;
        ++sounds;
    }
    int presets = 0;
    for (const auto& entry : fs::recursive_directory_iterator(home / "Tarvo Presets"))
        presets += entry.is_regular_file() && entry.path().extension() == ".tarvo" ? 1 : 0;
    EXPECT_GE(presets, 8);
    EXPECT_EQ(static_cast<double>(sounds + presets), report["written"].number);

    const ToolRun second = runTool(environment, "factory-install");
    ASSERT_EQ(second.exitCode, 0) << second.out;
    ASSERT_TRUE(JsonReader::parse(second.out, report)) << second.out;
    EXPECT_TRUE(report["upToDate"].boolean);
    EXPECT_EQ(report["written"].number, 0.0);
}

} // namespace
} // namespace tarvo
