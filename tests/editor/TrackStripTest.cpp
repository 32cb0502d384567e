// Track strips, mute and solo, the dice, the level meters' ballistics and the audio-analysis
// panel, on their own and inside the editor.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "editor/SmallWidgets.h"
#include "editor/TarvoEditor.h"
#include "editor/TrackStrip.h"
#include "editor/WidgetHarness.h"
#include "host/TarvoProcessor.h"
#include "support/ScopedHome.h"

namespace tarvo {
namespace {

struct Opened {
    TarvoProcessor processor;
    std::unique_ptr<juce::AudioProcessorEditor> window{processor.createEditor()};
    TarvoEditor& editor = dynamic_cast<TarvoEditor&>(*window);
    ~Opened() {
        processor.editorBeingDeleted(window.get());
        window.reset();
    }
};

void click(juce::Component& c, juce::Point<float> at = {5.0f, 5.0f},
           juce::ModifierKeys mods = juce::ModifierKeys::leftButtonModifier) {
    c.mouseDown(mouseEvent(c, at, 0, mods));
    c.mouseUp(mouseEvent(c, at, 0, mods));
}

TEST(Dice, ALeftClickRollsOnceAndShakesForFourFrames) {
    WidgetHarness harness;
    std::vector<int> kinds;
    auto& dice =
        harness.place(std::make_unique<DiceButton>([&](int kind) { kinds.push_back(kind); }), {0, 0, 24, 24});
    EXPECT_EQ(dice.face(), 2);
    click(dice);
    ASSERT_EQ(kinds, std::vector<int>{DiceButton::both});
    EXPECT_EQ(dice.kind(), DiceButton::both);
    for (int frame = 4; frame > 0; --frame) {
        EXPECT_EQ(dice.rollCounter(), frame);
        dice.tick();
        EXPECT_EQ(dice.kind(), DiceButton::none);
        EXPECT_GE(dice.face(), 0);
        EXPECT_LT(dice.face(), 6);
    }
    const int face = dice.face();
    for (int frame = 0; frame < 10; ++frame) dice.tick();
    EXPECT_EQ(dice.rollCounter(), 0);
    EXPECT_EQ(dice.face(), face);
    EXPECT_EQ(kinds.size(), 1u);

    // The right-click menu: new sounds or a new sequence, without shaking.
    std::vector<juce::String> entries;
    const juce::PopupMenu menu = DiceButton::menu();
    for (juce::PopupMenu::MenuItemIterator it(menu); it.next();)
        entries.push_back(juce::String(it.getItem().itemID) + " " + it.getItem().text);
    EXPECT_EQ(entries, (std::vector<juce::String>{"1 Random sounds", "2 Random sequence"}));
    dice.chooseMenuItem(DiceButton::sequence);
    dice.chooseMenuItem(0); // dismissed
    EXPECT_EQ(kinds, (std::vector<int>{DiceButton::both, DiceButton::sequence}));
    EXPECT_EQ(dice.rollCounter(), 0);
    paintWidget(dice);
}

TEST(Dice, TheEditorsDiceRollsANewSequence) {
    const test::ScopedHome home;
    Opened opened;
    Ombrix& o = opened.editor.instrument();
    const int32_t before = o.sequencer.changeCount.load();
    auto& dice = dynamic_cast<DiceButton&>(*opened.editor.find("dice"));
    dice.chooseMenuItem(DiceButton::sequence);
    EXPECT_NE(o.sequencer.changeCount.load(), before);
    // New sounds from an empty sounds folder: nothing changes, and the help box says why.
    EXPECT_TRUE(o.statusText.empty());
    dice.chooseMenuItem(DiceButton::sounds);
    EXPECT_NE(o.statusText.find("No sounds"), std::string::npos) << o.statusText;
    opened.editor.displayTick();
    EXPECT_TRUE(opened.editor.helpText().startsWith("No sounds"));
}

struct MeterRig {
    WidgetHarness harness;
    double seconds = 10.0;
    LevelMeter* meter;
    MeterRig(bool vertical, juce::Rectangle<int> bounds) {
        meter = &harness.place(
            std::make_unique<LevelMeter>("main_meter", vertical, 4.0f, 2.0f,
                                         [](const DisplaySnapshot& d) {
                                             return std::array<float, 2>{d.meters[0], d.meters[1]};
                                         }),
            bounds);
        meter->setClock([this] { return seconds; });
    }
    void frame(float level, double dt = 1.0 / 60.0) {
        harness.shown.meters[0] = harness.shown.meters[1] = level;
        seconds += dt;
        meter->tick();
    }
};

TEST(LevelMeter, ARiseShowsAtOnceAndAFallEasesDownOverAboutASecond) {
    MeterRig rig(false, {0, 0, 196, 10});
    rig.frame(1.0f);
    EXPECT_EQ(rig.meter->shown(0), 1.0f);
    // Each frame the shown level becomes E + (D − E)(1 − dt): a time constant of a second.
    for (int f = 0; f < 60; ++f) rig.frame(0.0f);
    EXPECT_NEAR(rig.meter->shown(0), std::pow(1.0f - 1.0f / 60.0f, 60.0f), 1e-4f);
    EXPECT_NEAR(rig.meter->shown(1), 0.364f, 0.01f);
    rig.frame(0.5f);
    EXPECT_EQ(rig.meter->shown(0), 0.5f);
    // A long pause counts as one second at most: the fall ends there.
    rig.frame(0.0f, 5.0);
    EXPECT_EQ(rig.meter->shown(0), 0.0f);
}

TEST(LevelMeter, FullScaleLightsTheFirstSegmentAndLeavesTheOversDark) {
    MeterRig rig(false, {0, 0, 196, 10});
    rig.frame(1.0f);
    rig.frame(1.0f);
    const juce::Image picture = paintWidget(*rig.meter);
    const juce::Colour on = toJuce(Widget::builtInStyle().colorOf("main_meter_on"));
    const juce::Colour off = toJuce(Widget::builtInStyle().colorOf("main_meter_bg"));
    const int fullScale = static_cast<int>(0.8f * 196.0f); // 156
    for (const int x : {2, fullScale / 2, fullScale - 3}) EXPECT_EQ(picture.getPixelAt(x, 2), on) << x;
    for (const int x : {fullScale + 4, 190}) EXPECT_EQ(picture.getPixelAt(x, 2), off) << x;
    // The two channels are separate bars with the gap between them.
    EXPECT_EQ(picture.getPixelAt(fullScale / 2, 4).getAlpha(), 0);
    EXPECT_EQ(picture.getPixelAt(fullScale / 2, 8), on);

    // A vertical meter grows from the bottom.
    MeterRig upright(true, {0, 0, 6, 56});
    upright.frame(0.25f); // half of full scale: the square root
    upright.frame(0.25f);
    const juce::Image column = paintWidget(*upright.meter);
    EXPECT_EQ(column.getPixelAt(0, 54), on);
    EXPECT_EQ(column.getPixelAt(0, 20), off);
}

TEST(AnalyserPanel, ShowsTheQueueStartsAndCancels) {
    const test::ScopedHome home;
    Opened opened;
    TarvoEditor& editor = opened.editor;
    Ombrix& o = editor.instrument();
    auto& panel = dynamic_cast<AnalyserPanel&>(*editor.find("analyser"));
    editor.displayTick();
    EXPECT_FALSE(panel.isVisible());

    o.importQueue = {{"/in/", "kick.wav"}, {"/in/", "snare.wav"}, {"/in/", "hat.wav"}};
    editor.displayTick();
    ASSERT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.state(), AnalyserPanel::waiting);
    EXPECT_EQ(panel.statusText(), "Found 3 files to be analyzed");
    EXPECT_EQ(panel.startArea(), juce::Rectangle<int>::leftTopRightBottom(216, 301, 576, 361));
    EXPECT_EQ(panel.cancelArea(), juce::Rectangle<int>::leftTopRightBottom(476, 381, 576, 413));
    EXPECT_EQ(o.importIndex, -1);

    // A click beside the panel's boxes does nothing; START begins the batch.
    click(panel, {20.0f, 20.0f});
    EXPECT_EQ(panel.state(), AnalyserPanel::waiting);
    click(panel, {300.0f, 330.0f});
    EXPECT_EQ(panel.state(), AnalyserPanel::started);
    editor.displayTick();
    EXPECT_EQ(o.importIndex, 0);
    EXPECT_EQ(panel.statusText(), "Analyzing file 1 of 3: kick.wav");
    o.importIndex = 1; // the idle tick analysed the first
    editor.displayTick();
    EXPECT_EQ(panel.statusText(), "Analyzing file 2 of 3: snare.wav");
    paintWidget(panel);

    // CANCEL empties the queue and hides the panel in the same frame.
    click(panel, {500.0f, 400.0f});
    EXPECT_EQ(panel.state(), AnalyserPanel::cancelRequested);
    editor.displayTick();
    EXPECT_TRUE(o.importQueue.empty());
    EXPECT_EQ(o.importIndex, -1);
    EXPECT_FALSE(panel.isVisible());

    // The next batch starts waiting again.
    o.importQueue = {{"/in/", "a.wav"}, {"/in/", "b.wav"}, {"/in/", "c.wav"}, {"/in/", "d.wav"}};
    editor.displayTick();
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.state(), AnalyserPanel::waiting);
    EXPECT_EQ(panel.statusText(), "Found 4 files to be analyzed");
}

TEST(TrackColumn, StripsSelectTracksAndMuteAndSoloDimThem) {
    const test::ScopedHome home;
    Opened opened;
    TarvoEditor& editor = opened.editor;
    Ombrix& o = editor.instrument();
    editor.setView(EditorState::mixView);
    auto strip = [&](int t) -> TrackStrip& {
        return dynamic_cast<TrackStrip&>(*editor.find("track" + juce::String(t + 1) + ".strip"));
    };
    for (int t = 0; t < 8; ++t) EXPECT_EQ(strip(t).state(), 1);
    click(strip(4));
    EXPECT_EQ(o.currentTrackIndex(), 4);
    EXPECT_EQ(o.editor.view, EditorState::soundView);
    for (int t = 0; t < 8; ++t) EXPECT_EQ(strip(t).state(), t == 4 ? 2 : 0);

    click(*editor.find("track3.mute"));
    EXPECT_EQ(o.engine.muteMask.load(), 1 << 2);
    editor.displayTick();
    for (int t = 0; t < 8; ++t) EXPECT_EQ(strip(t).dim(), t == 2) << t;
    // A solo silences every other track, the muted one included.
    click(*editor.find("track6.solo"));
    EXPECT_EQ(o.engine.soloTrack.load(), 5);
    editor.displayTick();
    for (int t = 0; t < 8; ++t) EXPECT_EQ(strip(t).dim(), t != 5) << t;
    click(*editor.find("track6.solo"));
    click(*editor.find("track3.mute"));
    EXPECT_EQ(o.engine.soloTrack.load(), -1);
    EXPECT_EQ(o.engine.muteMask.load(), 0);
    editor.displayTick();
    for (int t = 0; t < 8; ++t) EXPECT_FALSE(strip(t).dim()) << t;
    paintWidget(strip(0));
}

} // namespace
} // namespace tarvo
