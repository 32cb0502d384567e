#include "instrument/StyleOwner.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <string>

#include "persistence/Folders.h"
#include "persistence/Settings.h"
#include "support/ScopedHome.h"

namespace tarvo {
namespace {

constexpr ArgbColour grey = StyleOwner::missingColour;
constexpr ArgbColour red{255, 255, 0, 0};
constexpr ArgbColour black{255, 0, 0, 0};

void writeTheme(const std::string& name, const std::string& text) {
    const auto path = folderPath(Folder::Themes) / name;
    ASSERT_TRUE(createParentFolders(path));
    std::ofstream(path, std::ios::binary) << text;
}

struct ColourCase {
    const char* text; // a whole style text
    const char* name; // colour looked up
    ArgbColour expected;
};

TEST(StyleText, LinesSetColoursByTheirRules) {
    const ColourCase cases[] = {
        {"color_a: #fff", "a", {255, 255, 255, 255}},
        {"color_a: #1234", "a", {68, 17, 34, 51}},
        {"color_a: #f0f0f018", "a", {24, 240, 240, 240}},
        {"color_a: #6BF", "a", {255, 0x66, 0xbb, 0xff}},
        {"color_a: #12", "a", black},                    // wrong length
        {"color_a: #1234567", "a", black},               // wrong length
        {"color_a: rgb(1,2,3)", "a", red},               // not a colour
        {"color_a: #xyz", "a", {255, 0, 0, 0}},          // non-digits count as 0
        {"color_a: var_never", "a", red},                // undefined variable
        {"color_a: var_late\nvar_late: #fff", "a", red}, // defined only further down
        {"var_c: #0f0\ncolor_a: var_c", "a", {255, 0, 255, 0}},
        {"var_c: #0f0\nvar_d: var_c\ncolor_a: var_d", "a", {255, 0, 255, 0}},
        {"color_a: #fff: ignored third field", "a", {255, 255, 255, 255}},
        {"::color_a:::#fff::", "a", {255, 255, 255, 255}}, // runs of ":" are one separator
        {"   color_a  :   #fff   ", "a", {255, 255, 255, 255}},
        {"color_a: #fff\ncolor_a: #000", "a", black},   // later lines win
        {"  # color_a: #fff", "a", grey},               // comment after spaces
        {"\tcolor_a: #fff", "a", grey},                 // a tab is part of the key
        {"color_fxlabel_bg: #fff", "fxLabel_bg", grey}, // keys are case-sensitive
        {"color_a #fff", "a", grey},                    // one field only
        {"colour_a: #fff", "a", grey},                  // no known prefix
        {"color_a: #fff\rcolor_b: #000", "b", black},   // CR ends a line
        {"color_a: #fff", "b", grey},                   // missing names are grey
    };
    for (const ColourCase& c : cases) {
        StyleOwner style;
        style.parseStyleText(c.text, false);
        EXPECT_EQ(style.colorOf(c.name), c.expected) << c.text;
    }
}

TEST(StyleText, NumbersFollowTheirSyntax) {
    const std::pair<const char*, float> cases[] = {
        {"0.7", 0.7f}, {"14", 14.0f}, {"-2.5", -2.5f}, {"  3", 3.0f}, {"+3", 0.0f}, {"", 0.0f}, {"abc", 0.0f},
    };
    // Beyond the float range (a theme's runaway digits): the largest float, never infinity.
    const std::string huge(400, '9');
    EXPECT_EQ(StyleOwner::parseNumber(huge), std::numeric_limits<float>::max());
    EXPECT_EQ(StyleOwner::parseNumber("-" + huge.substr(0, 40)), -std::numeric_limits<float>::max());
    for (const auto& [text, expected] : cases)
        EXPECT_FLOAT_EQ(StyleOwner::parseNumber(text), expected) << text;
    StyleOwner style;
    style.parseStyleText("value_corner: var_x\nvar_x: 4\nvalue_size: var_x", false);
    EXPECT_FLOAT_EQ(style.valueOf("size"), 4.0f);
    EXPECT_FLOAT_EQ(style.valueOf("corner"), 0.0f); // variable defined too late
    EXPECT_FLOAT_EQ(style.valueOr("absent", 0.1f), 0.1f);
}

TEST(StyleText, NulEndsTheTextAndAFinalLineNeedsNoEnd) {
    const char text[] = "color_a: #fff\0color_b: #fff";
    StyleOwner style;
    style.parseStyleText(text, sizeof(text) - 1, false);
    EXPECT_EQ(style.colorOf("a"), (ArgbColour{255, 255, 255, 255}));
    EXPECT_EQ(style.colorOf("b"), grey);
}

TEST(StyleText, ClearingEmptiesColoursAndNumbersButKeepsVariables) {
    StyleOwner style;
    style.parseStyleText("var_c: #fff\ncolor_a: #000\nvalue_v: 2", false);
    style.parseStyleText("color_b: var_c", true);
    EXPECT_EQ(style.colorOf("a"), grey);
    EXPECT_FLOAT_EQ(style.valueOf("v"), 0.0f);
    EXPECT_EQ(style.colorOf("b"), (ArgbColour{255, 255, 255, 255}));
}

TEST(BuiltInStyle, NamesEveryKeyTheEffectSlotsRead) {
    StyleOwner style;
    style.loadBuiltIn();
    for (const char* name :
         {"fxLabel_text", "fxMeter_bg", "fxMeter_on", "fxToggle_on", "fxToggle_off", "fxIndex_text",
          "helpBox_text", "modal_bg", "main_meter_on", "wave_fill_play", "track8"})
        EXPECT_TRUE(style.colours().count(name) != 0) << name;
    EXPECT_EQ(style.colorOf("top_bg"), (ArgbColour{255, 0x20, 0x20, 0x20}));
    EXPECT_FLOAT_EQ(style.valueOf("top_border"), 0.7f);
    EXPECT_EQ(style.colorOf("style_help_text").a, 0);
    ASSERT_NE(style.variable("var_shader"), nullptr);
    EXPECT_EQ(*style.variable("var_shader"), "blob_glass.frag");
}

TEST(Themes, AThemeIsLaidOverTheBuiltInLook) {
    const test::ScopedHome home;
    writeTheme("Few.txt", "color_track1: #123\nvalue_wave_padding: 9\ncolor_x: var_colBG\n");
    writeTheme("Other.txt", "color_track2: #456\n");
    StyleOwner style;
    EXPECT_TRUE(style.loadTheme("Few.txt", nullptr));
    EXPECT_EQ(style.colorOf("track1"), (ArgbColour{255, 0x11, 0x22, 0x33}));
    EXPECT_FLOAT_EQ(style.valueOf("wave_padding"), 9.0f);
    // Everything else keeps the built-in look, and the theme may use its variables.
    EXPECT_EQ(style.colorOf("track2"), (ArgbColour{255, 0xbb, 0x88, 0xdd}));
    EXPECT_EQ(style.colorOf("x"), (ArgbColour{255, 0x20, 0x20, 0x20}));
    // The look never depends on the order themes were chosen in.
    EXPECT_TRUE(style.loadTheme("Other.txt", nullptr));
    EXPECT_EQ(style.colorOf("track1"), (ArgbColour{255, 0x66, 0xbb, 0xff}));
    EXPECT_EQ(style.colorOf("track2"), (ArgbColour{255, 0x44, 0x55, 0x66}));
}

TEST(Themes, AnEmptyMissingOrUnsafeThemeGivesTheBuiltInLookAndKeepsTheSetting) {
    const test::ScopedHome home;
    writeTheme("Empty.txt", "");
    Settings settings;
    ASSERT_TRUE(settings.load());
    ASSERT_TRUE(settings.set(Settings::themeKey, "Mine.txt"));
    StyleOwner builtIn;
    builtIn.loadBuiltIn();
    for (const char* name : {"Empty.txt", "Missing.txt", "", "../userSettings.dat", "/etc/passwd"}) {
        StyleOwner style;
        style.parseStyleText("color_track1: #000", false);
        EXPECT_FALSE(style.loadTheme(name, &settings)) << name;
        EXPECT_EQ(style.colours(), builtIn.colours()) << name;
        EXPECT_EQ(settings.get(Settings::themeKey), "Mine.txt");
    }
}

TEST(Themes, ALoadedThemeIsStoredOnlyWhenItChanges) {
    const test::ScopedHome home;
    writeTheme("Dark.txt", "color_track1: #000");
    Settings settings;
    ASSERT_TRUE(settings.load());
    StyleOwner style;
    ASSERT_TRUE(style.loadTheme("Dark.txt", &settings));
    EXPECT_EQ(settings.get(Settings::themeKey), "Dark.txt");
    // The same theme again (every editor opening) leaves the settings file alone.
    std::filesystem::remove(Settings::filePath());
    ASSERT_TRUE(style.loadTheme("Dark.txt", &settings));
    EXPECT_FALSE(std::filesystem::exists(Settings::filePath()));
}

TEST(ColourOperations, InvertTwiceRestoresAndRandomKeepsChannelsInRange) {
    StyleOwner style;
    style.loadBuiltIn();
    const auto before = style.colours();
    style.invertColours();
    EXPECT_EQ(style.colorOf("track1"), (ArgbColour{255, 0x99, 0x44, 0x00}));
    style.invertColours();
    EXPECT_EQ(style.colours(), before);
    style.randomizeColours();
    for (const auto& [name, c] : style.colours()) {
        EXPECT_GE(c.a, 128) << name;
        EXPECT_LE(c.a, 254) << name;
        EXPECT_LE(c.r, 254) << name;
    }
}

TEST(ColourOperations, HelpersRoundAndClamp) {
    EXPECT_EQ(scaledAlpha({200, 1, 2, 3}, 0.5f), (ArgbColour{100, 1, 2, 3}));
    EXPECT_EQ(scaledRgb({255, 100, 200, 255}, 0.7f), (ArgbColour{255, 70, 140, 179}));
    EXPECT_EQ(scaledRgb({255, 200, 200, 200}, 2.0f), (ArgbColour{255, 255, 255, 255}));
    EXPECT_EQ(brightened({9, 250, 5, 100}, 10), (ArgbColour{9, 255, 15, 110}));
    EXPECT_EQ(brightened({9, 250, 5, 100}, -10), (ArgbColour{9, 240, 0, 90}));
    // Opaque over anything is itself; transparent over a base leaves the base.
    EXPECT_EQ(blendOver({255, 10, 20, 30}, {255, 200, 100, 0}), (ArgbColour{255, 200, 100, 0}));
    EXPECT_EQ(blendOver({255, 10, 20, 30}, {0, 200, 100, 0}), (ArgbColour{255, 10, 20, 30}));
    EXPECT_EQ(blendOver({255, 0, 0, 0}, {128, 255, 255, 255}), (ArgbColour{255, 128, 128, 128}));
}

} // namespace
} // namespace tarvo
