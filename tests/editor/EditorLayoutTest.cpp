// The editor window: where every widget sits at 100 % and 200 %, views, help, sizes, and
// opening and closing it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "editor/SmallWidgets.h"
#include "editor/TarvoEditor.h"
#include "host/TarvoProcessor.h"
#include "instrument/Ombrix.h"
#include "persistence/Folders.h"
#include "persistence/Settings.h"
#include "support/RealtimeGuard.h"
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

// Bounds of a widget in window pixels (through the size transform).
juce::Rectangle<int> shownBounds(TarvoEditor& editor, const juce::String& id) {
    juce::Component* c = editor.find(id);
    if (c == nullptr) return {};
    return editor.getLocalArea(c, c->getLocalBounds());
}

struct Place {
    const char* id;
    int l, t, r, b;
};

// Every rectangle of the layout, as (left, top, right, bottom) at 100 %.
const Place places[] = {
    {"topBar", 0, 0, 792, 40},
    {"bottomBar", 0, 538, 792, 602},
    {"logo", 0, 0, 100, 40},
    {"settings", 0, 0, 100, 40},
    {"trackLabelBackground", 0, 40, 136, 74},
    {"presetBrowser", 596, 8, 756, 32},
    {"dice", 760, 8, 784, 32},
    {"tracksBackground", 0, 40, 136, 538},
    {"tracksTitleBackground", 0, 40, 136, 72},
    {"tracksTitle", 4, 44, 84, 72},
    {"track8.strip", 0, 74, 136, 130},
    {"track1.strip", 0, 480, 136, 536},
    {"track1.mute", 4, 484, 26, 506},
    {"track1.solo", 4, 510, 26, 532},
    {"track1.wave", 30, 484, 90, 532},
    {"track5.mute", 4, 252, 26, 274},
    {"bottomKnobs", 232, 538, 560, 602},
    {"macro0", 236, 543, 300, 597},
    {"macro4", 492, 543, 556, 597},
    {"mainMeter", 586, 584, 782, 594},
    {"bpm", 612, 548, 668, 580},
    {"bpmLabel", 668, 548, 724, 580},
    {"hostSync", 724, 548, 756, 580},
    {"play", 756, 548, 788, 580},
    {"helpBox", 4, 542, 228, 598},
    {"styleHelp", 692, 0, 792, 16},
    {"analyser", 0, 0, 792, 602},
    // Sound view
    {"soundColumn", 644, 40, 792, 538},
    {"blobEditor", 136, 40, 644, 538},
    {"blobSelectorA", 142, 45, 298, 69},
    {"blobSelectorB", 482, 45, 638, 69},
    {"transform", 300, 47, 480, 67},
    {"tool0", 142, 76, 174, 108},
    {"tool2", 142, 144, 174, 176},
    {"mirrorX", 142, 190, 174, 222},
    {"mirrorY", 142, 224, 174, 256},
    {"undo", 142, 270, 174, 302},
    {"redo", 142, 304, 174, 336},
    {"title.Modify", 650, 44, 782, 60},
    {"sound.8", 652, 66, 784, 88},    // Timescale
    {"sound.14", 652, 144, 784, 166}, // Density
    {"divider.Variation", 644, 170, 792, 171},
    {"title.Variation", 650, 174, 782, 190},
    {"sound.15", 652, 196, 784, 218}, // Seed Mode
    {"title.Velocity", 650, 356, 782, 372},
    {"sound.13", 652, 378, 784, 400}, // Dynamics
    {"sound.12", 652, 404, 784, 426}, // Model
    {"velocityCurve", 652, 430, 784, 532},
    // Sequence view
    {"sequenceBackground", 136, 40, 792, 538},
    {"sequencer", 140, 74, 786, 538},
    {"sequence.knob0", 140, 44, 272, 70},
    {"sequence.knob2", 412, 44, 544, 70},
    {"exportMidi", 548, 44, 628, 70},
    // Modulate view
    {"modTitle.Source", 140, 44, 302, 72},
    {"modTitle.Scaler", 304, 44, 430, 72},
    {"modTitle.Amount", 432, 44, 626, 72},
    {"modTitle.Target", 628, 44, 788, 72},
    {"mod0.Source", 140, 74, 302, 98},
    {"mod7.Target", 628, 256, 788, 280},
    {"envBox", 140, 284, 462, 534},
    {"envTab0", 144, 288, 223, 308},
    {"envTab3", 380, 288, 458, 308},
    {"envEditor", 144, 308, 458, 486},
    {"envKnob0", 145, 490, 206, 530},
    {"envKnob4", 396, 490, 457, 530},
    {"lfoBox", 466, 284, 788, 534},
    {"lfoTab0", 470, 288, 549, 308},
    {"lfoEditor", 470, 308, 784, 486},
    {"lfoKnob0", 471, 490, 531, 530},
    {"lfoKnob5", 722, 490, 783, 530},
    // Mix view
    {"mixTitle.Filter", 140, 44, 194, 72},
    {"mixTitle.Amp", 258, 44, 312, 72},
    {"mixTitle.Output", 550, 44, 614, 72},
    {"mix.Filter.1", 140, 480, 194, 536},
    {"mix.Filter.8", 140, 74, 194, 130},
    {"mix.Output.8", 550, 74, 614, 130},
    {"fxColumn", 620, 40, 792, 538},
    {"sendFxLabel", 624, 44, 788, 72},
    {"fx1.background", 624, 74, 788, 166},
    {"fx2.background", 624, 170, 788, 262},
    {"mainFxLabel", 624, 274, 788, 306},
    {"fx3.background", 624, 308, 788, 400},
    {"fx4.background", 624, 404, 788, 496},
    {"fx1.power", 628, 79, 642, 93},
    {"fx1.inputMeter", 632, 102, 638, 158},
    {"fx1.type", 646, 76, 766, 96},
    {"fx1.index", 770, 79, 784, 93},
    {"fx1.knob0", 640, 106, 704, 160},
    {"fx1.knob1", 708, 106, 772, 160},
    {"fx4.outputMeter", 774, 432, 780, 488},
};

TEST(EditorLayout, EveryRectangleAtOneAndTwoTimesTheSize) {
    const test::ScopedHome home;
    Opened opened;
    for (const int percent : {100, 200}) {
        opened.editor.setSizePercent(percent);
        EXPECT_EQ(opened.editor.getWidth(), 792 * percent / 100);
        EXPECT_EQ(opened.editor.getHeight(), 602 * percent / 100);
        for (const Place& p : places) {
            const auto expected =
                juce::Rectangle<int>::leftTopRightBottom(p.l, p.t, p.r, p.b) * percent / 100;
            EXPECT_EQ(shownBounds(opened.editor, p.id), expected) << p.id << " at " << percent << " %";
        }
    }
}

TEST(EditorLayout, ViewTabsFollowTheirTextAndSwitchViews) {
    const test::ScopedHome home;
    Opened opened;
    TarvoEditor& editor = opened.editor;
    int x = 172;
    for (int v = 0; v < 4; ++v) {
        const auto tab = shownBounds(editor, "tab" + juce::String(v));
        EXPECT_EQ(tab.getX(), x);
        EXPECT_EQ(tab.getY(), 2);
        EXPECT_EQ(tab.getHeight(), 36);
        EXPECT_GT(tab.getWidth(), 16);
        x = tab.getRight() + 12;
    }
    const char* shownIn[] = {"blobEditor", "sequencer", "envEditor", "fxColumn"};
    for (int v = 0; v < 4; ++v) {
        editor.setView(v);
        EXPECT_EQ(editor.instrument().editor.view, v);
        for (int other = 0; other < 4; ++other)
            EXPECT_EQ(editor.find(shownIn[other])->isVisible(), other == v)
                << shownIn[other] << " in view " << v;
        for (int t = 0; t < 4; ++t)
            EXPECT_EQ(static_cast<Widget*>(editor.find("tab" + juce::String(t)))->styleId(),
                      t == v ? "topTab_on" : "topTab_off");
        EXPECT_TRUE(editor.find("track1.mute")->isVisible());
        EXPECT_FALSE(editor.find("analyser")->isVisible());
    }
}

TEST(EditorLayout, TheViewAndTrackSurviveReopening) {
    const test::ScopedHome home;
    TarvoProcessor processor;
    {
        std::unique_ptr<juce::AudioProcessorEditor> window(processor.createEditor());
        auto& editor = dynamic_cast<TarvoEditor&>(*window);
        editor.setView(3);
        processor.editorBeingDeleted(window.get());
    }
    std::unique_ptr<juce::AudioProcessorEditor> window(processor.createEditor());
    auto& editor = dynamic_cast<TarvoEditor&>(*window);
    EXPECT_TRUE(editor.find("fxColumn")->isVisible());
    EXPECT_FALSE(editor.find("blobEditor")->isVisible());
    processor.editorBeingDeleted(window.get());
}

TEST(EditorHelp, PointingAtAWidgetShowsItsHelp) {
    const test::ScopedHome home;
    Opened opened;
    TarvoEditor& editor = opened.editor;
    editor.setPointerOverride(juce::Point<int>(10, 490)); // track 1's Mute button
    editor.displayTick();
    EXPECT_EQ(editor.helpText(), "Mute Button: Mute this track");
    EXPECT_EQ(editor.styleHelpText(), "mutebutton");
    // Framed sections and labels are never hit: the strip below them answers.
    editor.setPointerOverride(juce::Point<int>(120, 500));
    editor.displayTick();
    EXPECT_TRUE(editor.helpText().startsWith("Track: "));
    // Nothing under the pointer clears the box.
    editor.setPointerOverride(std::nullopt);
    editor.displayTick();
    EXPECT_TRUE(editor.helpText().isEmpty());
}

TEST(EditorSize, StoredPercentagesOutsideTheRangeOpenAtOneHundred) {
    const std::pair<const char*, int> cases[] = {{"", 100},  {"5", 100},     {"2000", 100}, {"150", 150},
                                                 {"10", 10}, {"1000", 1000}, {"abc", 100},  {"-50", 100}};
    for (const auto& [text, percent] : cases)
        EXPECT_EQ(TarvoEditor::percentFromSetting(text), percent) << text;
    for (const auto& [text, expected] :
         {std::pair<const char*, int>{"5", 792}, {"2000", 792}, {"150", 1188}}) {
        const test::ScopedHome home;
        Settings settings;
        ASSERT_TRUE(settings.load());
        ASSERT_TRUE(settings.set(Settings::sizeKey, text));
        Opened opened;
        EXPECT_EQ(opened.editor.getWidth(), expected) << text;
    }
}

TEST(EditorSize, TheResizeMenuMarksTheCurrentSizeAndStoresTheChoice) {
    const test::ScopedHome home;
    Opened opened;
    TarvoEditor& editor = opened.editor;
    EXPECT_TRUE(editor.settingsEntries().contains("Resize UI|100% (current)"));
    editor.chooseSetting("Resize UI|150%");
    EXPECT_EQ(editor.getWidth(), 1188);
    EXPECT_EQ(opened.processor.setting(Settings::sizeKey), "150");
    const auto entries = editor.settingsEntries();
    EXPECT_TRUE(entries.contains("Resize UI|150% (current)"));
    EXPECT_TRUE(entries.contains("Resize UI|100%"));
    editor.setSizePercent(110);
    for (const auto& entry : editor.settingsEntries()) EXPECT_FALSE(entry.contains("(current)")) << entry;
}

TEST(EditorKeys, CtrlZUndoesCtrlShiftZRedoesAndAltLeavesThemAlone) {
    const test::ScopedHome home;
    Opened opened;
    Ombrix& plugin = opened.editor.instrument();
    Blob& a = plugin.engine.tracks[static_cast<size_t>(plugin.currentTrackIndex())].blobs.slotA.working;
    a.name = "one";
    plugin.pushUndoSnapshot(true);
    a.name = "two";
    plugin.pushUndoSnapshot(false);
    const auto ctrl = juce::ModifierKeys::ctrlModifier, shift = juce::ModifierKeys::shiftModifier,
               alt = juce::ModifierKeys::altModifier;
    EXPECT_FALSE(opened.editor.keyPressed(juce::KeyPress('Z', ctrl | alt, 0)));
    EXPECT_EQ(a.name, "two");
    EXPECT_TRUE(opened.editor.keyPressed(juce::KeyPress('Z', ctrl, 0)));
    EXPECT_EQ(a.name, "one");
    EXPECT_TRUE(opened.editor.keyPressed(juce::KeyPress('Z', ctrl | shift, 0)));
    EXPECT_EQ(a.name, "two");
    EXPECT_FALSE(opened.editor.keyPressed(juce::KeyPress('Z', 0, 0)));
}

TEST(EditorLifetime, AThousandOpeningsLeakNothingAndNeverBlockTheAudioThread) {
    const test::ScopedHome home;
    TarvoProcessor processor;
    processor.setPlayConfigDetails(0, processor.getTotalNumOutputChannels(), 44100.0, 256);
    processor.prepareToPlay(44100.0, 256);
    std::atomic<bool> done{false};
    std::atomic<int> blocks{0};
    testsupport::RealtimeGuard::clear();
    std::thread audio([&] {
        juce::AudioBuffer<float> buffer(processor.getTotalNumOutputChannels(), 256);
        juce::MidiBuffer midi;
        midi.ensureSize(64);
        const testsupport::AudioThreadScope audioThread;
        while (!done.load()) {
            processor.processBlock(buffer, midi);
            blocks.fetch_add(1);
        }
    });
    const int componentsBefore = juce::Desktop::getInstance().getNumComponents();
    for (int i = 0; i < 1000; ++i) {
        std::unique_ptr<juce::AudioProcessorEditor> window(processor.createEditor());
        dynamic_cast<TarvoEditor&>(*window).displayTick();
        processor.editorBeingDeleted(window.get());
    }
    done = true;
    audio.join();
    EXPECT_GT(blocks.load(), 0);
    char violations[200];
    testsupport::RealtimeGuard::describe(violations, sizeof(violations));
    EXPECT_EQ(testsupport::RealtimeGuard::total(), 0) << violations;
    EXPECT_EQ(juce::Desktop::getInstance().getNumComponents(), componentsBefore);
    EXPECT_FALSE(processor.instrument().engine.metersOn.load());
    EXPECT_FALSE(processor.instrument().editor.displayWanted.load());
}

TEST(EditorLifetime, AnEditorOnlyInstanceWritesNoFiles) {
    const test::ScopedHome home;
    const auto base = folderPath(Folder::Base);
    {
        Opened opened; // a host's scan: construct, open the editor, measure it, close
        opened.editor.displayTick();
        EXPECT_EQ(opened.editor.getWidth(), 792);
    }
    std::error_code error;
    const bool anything = std::filesystem::exists(base, error) && !std::filesystem::is_empty(base, error);
    EXPECT_FALSE(anything);
}

} // namespace
} // namespace tarvo
