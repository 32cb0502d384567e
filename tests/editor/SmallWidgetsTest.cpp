// The small widgets, painted into pictures and read back pixel by pixel.
#include <gtest/gtest.h>

#include "editor/HelpTable.h"
#include "editor/SmallWidgets.h"

namespace tarvo {
namespace {

// Painted over opaque black, so colours read back exactly.
juce::Image paintOf(juce::Component& widget) {
    juce::Image image(juce::Image::RGB, widget.getWidth(), widget.getHeight(), true);
    juce::Graphics g(image);
    g.fillAll(juce::Colours::black);
    widget.paintEntireComponent(g, false);
    return image;
}

juce::Colour overBlack(ArgbColour c) {
    return toJuce(blendOver({255, 0, 0, 0}, c));
}

bool near(juce::Colour a, juce::Colour b) {
    return std::abs(a.getRed() - b.getRed()) <= 1 && std::abs(a.getGreen() - b.getGreen()) <= 1 &&
           std::abs(a.getBlue() - b.getBlue()) <= 1;
}

// A parent that gives widgets style tables of a test's making.
struct StyledHost : juce::Component, EditorContext {
    StyleOwner looks;
    explicit StyledHost(const char* styleText) { looks.parseStyleText(styleText, true); }
    const StyleOwner& style() const override { return looks; }
    Ombrix& instrument() override { std::abort(); }
    const DisplaySnapshot& display() const override { std::abort(); }
    void perform(const std::function<void(Ombrix&)>&) override {}
    void beginParamEdit(Param&) override {}
    void editParam(Param&, float) override {}
    void endParamEdit(Param&) override {}
    void setView(int) override {}
    void selectTrack(int, bool) override {}
    void showStatus(const juce::String&) override {}
    void restyle() override {}
};

juce::MouseEvent mouseAt(juce::Component& target) {
    const auto source = juce::Desktop::getInstance().getMainMouseSource();
    const juce::Point<float> at{2.0f, 2.0f};
    return juce::MouseEvent(source, at, {}, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, &target, &target,
                            juce::Time::getCurrentTime(), at, juce::Time::getCurrentTime(), 1, false);
}

TEST(TextButton, AMuteButtonTogglesItsColoursAndDarkensWhileHeld) {
    TextButton mute("M", "mutebutton", {}, true);
    mute.setBounds(0, 0, 22, 22);
    const StyleOwner& looks = Widget::builtInStyle();
    const ArgbColour off = looks.colorOf("mutebutton_off_bg"), on = looks.colorOf("mutebutton_on_bg");
    // A pixel inside the border and away from the letter shows the background.
    auto background = [&] { return paintOf(mute).getPixelAt(3, 11); };
    EXPECT_TRUE(near(background(), overBlack(off)));
    mute.mouseDown(mouseAt(mute));
    EXPECT_TRUE(mute.isOn());
    EXPECT_TRUE(near(background(), overBlack(scaledRgb(on, 0.7f))));
    mute.mouseUp(mouseAt(mute));
    EXPECT_TRUE(near(background(), overBlack(on)));
    mute.mouseDown(mouseAt(mute));
    mute.mouseUp(mouseAt(mute));
    EXPECT_FALSE(mute.isOn());
    EXPECT_TRUE(near(background(), overBlack(off)));
}

TEST(SvgButton, TheUndoButtonShowsItsCountAndADimIconWhenDisabled) {
    SvgButton undo(loadIcon("undo.svg"), nullptr, "tool", {});
    undo.setBounds(0, 0, 32, 32);
    ASSERT_NE(loadIcon("undo.svg"), nullptr);
    const juce::Image plain = paintOf(undo);
    undo.setCountLabel("3", {0.0f, 16.0f, 16.0f, 16.0f});
    const juce::Image counted = paintOf(undo);
    int changed = 0, changedOutside = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            if (plain.getPixelAt(x, y) != counted.getPixelAt(x, y))
                (x < 16 && y >= 16 ? changed : changedOutside)++;
    EXPECT_GT(changed, 5);        // the digit, in the bottom-left square
    EXPECT_EQ(changedOutside, 0); // nothing else
    // Disabled: the icon's most opaque pixel is about half as strong.
    auto strongestIcon = [](const juce::Image& image) {
        float best = 0.0f;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 32; ++x) best = std::max(best, image.getPixelAt(x, y).getBrightness());
        return best;
    };
    undo.setCountLabel("", {});
    const float enabled = strongestIcon(paintOf(undo));
    undo.setDisabled(true);
    const float disabled = strongestIcon(paintOf(undo));
    EXPECT_LT(disabled, enabled * 0.75f);
}

TEST(TextButton, ATwoLineLabelTooWideIsDrawnSmallerToFit) {
    StyledHost host("color_b_text: #fff");
    TextButton button("Export\nMIDI and more text", "b", {}, false);
    host.setBounds(0, 0, 40, 40);
    button.setBounds(0, 0, 40, 40);
    host.addAndMakeVisible(button);
    const juce::Image image = paintOf(button);
    // Columns holding text: the longer line fills the width but for a pixel on each side.
    int left = 40, right = -1, topInk = 0, bottomInk = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            if (image.getPixelAt(x, y).getBrightness() < 0.1f) continue;
            left = std::min(left, x);
            right = std::max(right, x);
            (y < 20 ? topInk : bottomInk)++;
        }
    EXPECT_GE(left, 1);
    EXPECT_LE(right, 38);
    EXPECT_GT(right - left, 30);
    EXPECT_GT(topInk, 5);
    EXPECT_GT(bottomInk, 5);
}

TEST(HelpBox, WrapsAtSpacesKeepsLongWordsAndDropsEmptyLines) {
    const juce::Font font = EditorFonts::main(15.0f);
    const float width = font.getStringWidthFloat("Push and pull the");
    const auto rows = HelpBox::wrap("\n\nPush and pull the blob\n\nwhen dragging", font, width);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0], "Push and pull the");
    EXPECT_EQ(rows[1], "blob");
    EXPECT_EQ(rows[2], "when dragging");
    const auto long_ = HelpBox::wrap("Incomprehensibilities short", font, 20.0f);
    EXPECT_EQ(long_[0], "Incomprehensibilities");
}

TEST(FadeBox, ANegativeFadeShadesDarkAndAZeroSizeLeavesOnlyTheLines) {
    StyledHost host("color_box_bg: #808080\nvalue_box_fade: -40\nvalue_box_fade_size: 14");
    FadeBox box("box", FadeBox::top);
    host.setBounds(0, 0, 40, 40);
    box.setBounds(0, 0, 40, 40);
    host.addAndMakeVisible(box);
    const juce::Image shaded = paintOf(box);
    EXPECT_LT(shaded.getPixelAt(20, 1).getBrightness(), shaded.getPixelAt(20, 30).getBrightness());
    host.looks.parseStyleText("value_box_fade: 40", false);
    const juce::Image light = paintOf(box);
    EXPECT_GT(light.getPixelAt(20, 1).getBrightness(), light.getPixelAt(20, 30).getBrightness());
    host.looks.parseStyleText("value_box_fade_size: 0\nvalue_box_border: 2\ncolor_box_border: #fff", false);
    const juce::Image flat = paintOf(box);
    EXPECT_EQ(flat.getPixelAt(20, 5), flat.getPixelAt(20, 30));
    EXPECT_EQ(flat.getPixelAt(20, 0), juce::Colours::white); // the border line along the top
}

TEST(HelpTable, HoldsEveryHelpNameOnce) {
    const auto& table = helpTable();
    EXPECT_EQ(table.size(), 89u);
    ASSERT_NE(helpTextOf("Mute Button"), nullptr);
    EXPECT_EQ(*helpTextOf("Mute Button"), "Mute this track");
    EXPECT_EQ(*helpTextOf("Age"), "Increasing this makes the sound more vintage (i.e. worn, broken)");
    EXPECT_EQ(helpTextOf("Nothing"), nullptr);
    const auto parsed = parseHelpText("A|one\nB|two|three\nC\n|empty\nD|four");
    EXPECT_EQ(parsed.size(), 2u);
}

} // namespace
} // namespace tarvo
