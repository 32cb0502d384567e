#include "persistence/Settings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>

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

// Two instances in one session share the settings file. However their saves interleave, a
// reader only ever finds one instance's complete text, and so does the next start.
TEST(Settings, TwoInstancesSavingAtOnceLeaveOneCompleteFile) {
    test::ScopedHome home;
    using Pairs = std::map<std::string, std::string>;
    const Pairs first = {{"ui_size_percent", "100"}, {"ui_theme", "First.txt"}};
    const Pairs second = {{"ui_size_percent", "250"}, {"ui_theme", "A much longer second theme name.txt"}};
    const std::string firstText = Settings::format(first), secondText = Settings::format(second);
    writeFile(Settings::filePath(), firstText);

    constexpr int savesPerInstance = 60;
    std::atomic<int> saving{2};
    std::atomic<int> failedSaves{0};
    auto instance = [&](const Pairs& pairs) {
        Settings settings;
        settings.values = pairs;
        for (int i = 0; i < savesPerInstance; ++i)
            if (!settings.set(Settings::themeKey, pairs.at(Settings::themeKey))) ++failedSaves;
        --saving;
    };
    std::thread a(instance, first), b(instance, second);
    int reads = 0;
    std::vector<std::string> torn;
    while (saving.load() > 0) {
        const std::string text = readFile(Settings::filePath());
        ++reads;
        if (text != firstText && text != secondText && torn.size() < 3) torn.push_back(text);
    }
    a.join();
    b.join();

    EXPECT_EQ(failedSaves.load(), 0);
    EXPECT_TRUE(torn.empty()) << torn.size() << " torn reads of " << reads << ", first: \"" << torn.front()
                              << "\"";
    Settings next;
    ASSERT_TRUE(next.load());
    EXPECT_TRUE(next.values == first || next.values == second);
    int files = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator(Settings::filePath().parent_path()))
        ++files;
    EXPECT_EQ(files, 1) << "a temporary file was left behind";
}

} // namespace
} // namespace tarvo
