#include "persistence/Settings.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "support/ScopedHome.h"

namespace tarvo {
namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

TEST(Settings, FirstLoadCreatesTheFileWithTheDefaultTheme) {
    test::ScopedHome home;
    Settings settings;
    ASSERT_TRUE(settings.load());
    EXPECT_EQ(settings.get("ui_theme"), "Default.txt");
    EXPECT_EQ(readFile(home.path() / "Tarvo Data" / "userSettings.dat"), "ui_theme\nDefault.txt\n");
}

TEST(Settings, SetRewritesTheFileInKeyOrder) {
    test::ScopedHome home;
    Settings settings;
    ASSERT_TRUE(settings.load());
    ASSERT_TRUE(settings.set("ui_size_percent", "150"));
    ASSERT_TRUE(settings.set("ui_theme", "Dark.txt"));
    EXPECT_EQ(readFile(Settings::filePath()), "ui_size_percent\n150\nui_theme\nDark.txt\n");

    Settings again;
    ASSERT_TRUE(again.load());
    EXPECT_EQ(again.values, settings.values);
}

TEST(Settings, ParsePairsLinesAndIgnoresALastUnpairedLine) {
    using Pairs = std::map<std::string, std::string>;
    struct Case {
        const char* text;
        Pairs pairs;
    };
    const Case cases[] = {
        {"", {}},
        {"ui_theme\nA.txt\n", {{"ui_theme", "A.txt"}}},
        {"ui_theme\nA.txt\nui_size_percent\n", {{"ui_theme", "A.txt"}}}, // odd line ignored
        {"ui_theme\nA.txt\nui_size_percent", {{"ui_theme", "A.txt"}}},   // without its line feed
        {"k\nfirst\nk\nsecond\n", {{"k", "second"}}},                    // a later duplicate wins
        {"k\n\n", {{"k", ""}}},                                          // an empty value
        {"ui_theme\r\nA.txt\r\n", {{"ui_theme", "A.txt"}}},              // edited on Windows
        {"ui_theme\r\r\nA.txt\r\r\n", {{"ui_theme", "A.txt"}}},          // converted twice
    };
    for (const Case& c : cases) EXPECT_EQ(Settings::parse(c.text), c.pairs) << c.text;
}

// A line break inside a key or value would pair the file's lines up wrongly from there on and
// shift every later setting.
TEST(Settings, APairTheFileCannotHoldIsRefusedAndDisturbsNoOther) {
    test::ScopedHome home;
    Settings settings;
    ASSERT_TRUE(settings.load());
    ASSERT_TRUE(settings.set("ui_size_percent", "150"));
    const std::string before = readFile(Settings::filePath());
    for (const auto& [key, value] : std::map<std::string, std::string>{
             {"ui_theme", "Two\nLines.txt"}, {"ui_theme", "Ends in CR\r"}, {"a\nkey", "x"}}) {
        EXPECT_FALSE(settings.set(key, value)) << key << " = " << value;
        EXPECT_EQ(settings.get("ui_theme"), "Default.txt");
        EXPECT_EQ(readFile(Settings::filePath()), before);
    }
    const std::map<std::string, std::string> mixed = {{"a", "Two\nLines"}, {"b", "kept"}, {"c\r", "x"}};
    EXPECT_EQ(Settings::parse(Settings::format(mixed)), (std::map<std::string, std::string>{{"b", "kept"}}));
}

TEST(Settings, AnExistingFileIsReadAsItIs) {
    test::ScopedHome home;
    writeFile(Settings::filePath(), "ui_size_percent\n125\nstray\n");
    Settings settings;
    ASSERT_TRUE(settings.load());
    EXPECT_EQ(settings.values, (std::map<std::string, std::string>{{"ui_size_percent", "125"}}));
    EXPECT_EQ(settings.get("ui_theme", "none"), "none");
}

} // namespace
} // namespace tarvo
