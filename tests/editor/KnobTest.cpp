// The parameter knob's gestures with synthetic mouse events and a clock of the test's making:
// drag speed, snap values, the value entry, double click, toggles and menus, and the host
// gestures around every edit.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "editor/Knob.h"
#include "editor/TarvoEditor.h"
#include "editor/WidgetHarness.h"
#include "host/TarvoProcessor.h"
#include "support/ScopedHome.h"

namespace tarvo {
namespace {

Param& trackParamOf(Ombrix& o, int offset) {
    return o.engine.param(o.engine.layout.trackBase[0] + offset);
}

// A knob of track 1's parameter at offset in a harness, driven by the test's clock.
struct KnobRig {
    WidgetHarness harness;
    double seconds = 100.0;
    KnobWidget* knob = nullptr;
    juce::Point<float> at{30.0f, 30.0f};

    explicit KnobRig(int offset, int kind = 1, bool menu = true) {
        KnobSetup setup;
        setup.param = [offset](Ombrix& o) { return &trackParamOf(o, offset); };
        setup.kind = kind;
        setup.styleId = "macroParam";
        setup.menu = menu;
        knob = &harness.place(std::make_unique<KnobWidget>(std::move(setup)), {0, 0, 64, 54});
        knob->setClock([this] { return seconds; });
    }
    Param& param() { return *knob->param(); }
    float normalized() { return param().toNormalized(param().value); }
    juce::MouseEvent event(int clicks = 1) {
        return mouseEvent(*knob, at, static_cast<int64_t>(seconds * 1000.0),
                          juce::ModifierKeys::leftButtonModifier, clicks);
    }
    void press(int clicks = 1) { knob->mouseDown(event(clicks)); }
    void release(int clicks = 1) { knob->mouseUp(event(clicks)); }
    // Moves by (dx, dy) pixels per step, stepSeconds apart.
    void drag(float dx, float dy, int steps, double stepSeconds) {
        for (int i = 0; i < steps; ++i) {
            seconds += stepSeconds;
            at += juce::Point<float>(dx, dy);
            knob->mouseDrag(event());
        }
    }
    void click() {
        press();
        seconds += 0.05;
        release();
    }
};

TEST(KnobGestures, SlowDragIsFinerThanAFlick) {
    // Damping: a plain 0..100 range without snap values.
    KnobRig slow(trackDamping);
    slow.param().set(0.0f);
    slow.press();
    slow.drag(0.0f, -1.0f, 70, 0.1); // 70 pixels up at 10 pixels per second
    slow.release();
    EXPECT_GT(slow.normalized(), 0.05f);
    EXPECT_LT(slow.normalized(), 0.25f);

    KnobRig flick(trackDamping);
    flick.param().set(0.0f);
    flick.press();
    flick.drag(0.0f, -10.0f, 7, 0.01); // the same 70 pixels at 1000 pixels per second
    flick.release();
    EXPECT_GT(flick.normalized(), 0.9f);

    // Right counts half as much as up; down decreases.
    KnobRig sideways(trackDamping);
    sideways.param().set(50.0f);
    sideways.press();
    sideways.drag(10.0f, 0.0f, 7, 0.01);
    const float right = sideways.normalized() - 0.5f;
    sideways.drag(0.0f, 10.0f, 14, 0.01);
    sideways.release();
    EXPECT_GT(right, 0.3f);
    EXPECT_LT(right, 0.5f);
    EXPECT_LT(sideways.normalized(), 0.5f);
}

TEST(KnobGestures, ABipolarKnobHoldsAtItsCentreUntilTheDragPushesPast) {
    // Frequency: -800..800 mel, snapping at 0 (the centre).
    KnobRig rig(trackFrequency);
    rig.param().set(-80.0f); // 0.45
    rig.press();
    rig.drag(0.0f, -2.0f, 4, 0.02); // about 0.076 up: crosses the centre
    EXPECT_EQ(rig.param().value, 0.0f);
    // Small further steps stay on the centre while the held drag is below 5 % of the range.
    rig.drag(0.0f, -1.0f, 2, 0.02);
    EXPECT_EQ(rig.param().value, 0.0f);
    // Going on, the knob leaves it upwards.
    rig.drag(0.0f, -1.0f, 20, 0.02);
    rig.release();
    EXPECT_GT(rig.param().value, 0.0f);
    EXPECT_LT(rig.normalized(), 0.7f);
}

TEST(KnobGestures, AFaderFollowsThePointerAlongItsTrack) {
    KnobRig rig(trackDamping, 4);
    rig.knob->setSize(180, 20);
    paintWidget(*rig.knob); // measures the track: 180 - 2 × (6 + 4) = 160 pixels
    rig.param().set(0.0f);
    rig.press();
    rig.drag(8.0f, 0.0f, 10, 0.5); // 80 pixels, slowly: no speed factor for a fader
    rig.release();
    EXPECT_NEAR(rig.normalized(), 0.5f, 1e-4f);
}

TEST(KnobGestures, AClickOpensTheValueEntryAfterAPauseAndADoubleClickResets) {
    KnobRig rig(trackDamping);
    rig.param().set(40.0f);
    rig.click();
    EXPECT_TRUE(rig.knob->entryPending());
    rig.seconds += 0.2;
    rig.knob->tick();
    EXPECT_EQ(rig.knob->entry(), nullptr);
    rig.seconds += 0.11;
    rig.knob->tick();
    ASSERT_NE(rig.knob->entry(), nullptr);
    EXPECT_EQ(rig.knob->entry()->getText(), "40%");
    rig.knob->completeEntry("  62.5 percent");
    EXPECT_EQ(rig.param().value, 62.5f);
    EXPECT_EQ(rig.knob->entry(), nullptr);

    // A click right after an entry closed opens none.
    rig.click();
    EXPECT_FALSE(rig.knob->entryPending());

    // Double click: the default (25 %), and no entry, not even after the second release.
    rig.seconds += 1.0;
    rig.click();
    rig.press(2);
    rig.knob->mouseDoubleClick(rig.event(2));
    rig.release(2);
    EXPECT_EQ(rig.param().value, 25.0f);
    rig.seconds += 1.0;
    rig.knob->tick();
    EXPECT_EQ(rig.knob->entry(), nullptr);

    // A long press or a drag is no click.
    rig.seconds += 1.0;
    rig.press();
    rig.seconds += 0.3;
    rig.release();
    EXPECT_FALSE(rig.knob->entryPending());
    rig.press();
    rig.drag(0.0f, -3.0f, 4, 0.01);
    rig.release();
    EXPECT_FALSE(rig.knob->entryPending());
}

// The closed entry waits for a message to be deleted; a knob that goes first (a window
// closed, a host stopping its message loop) takes it along instead of leaking it.
TEST(KnobGestures, AClosedEntryGoesWithTheKnobWhenNoMessageComes) {
    juce::Component::SafePointer<juce::TextEditor> closed;
    {
        KnobRig rig(trackDamping);
        rig.click();
        rig.seconds += KnobWidget::entryDelay + 0.01;
        rig.knob->tick();
        closed = rig.knob->entry();
        ASSERT_NE(closed, nullptr);
        rig.knob->completeEntry("50");
        EXPECT_EQ(rig.knob->entry(), nullptr);
    }
    EXPECT_EQ(closed, nullptr);
}

TEST(KnobGestures, TypedTextThatIsNoFiniteNumberChangesNothing) {
    struct Case {
        const char* typed;
        float expected;
    };
    const Case cases[] = {
        {"70", 70.0f},   {" 12abc", 12.0f}, {"1e2", 100.0f}, {"500", 100.0f}, // clamped to the range
        {"nan", 33.0f},  {"NaN", 33.0f},    {"inf", 33.0f},  {"-inf", 33.0f},
        {"1e50", 33.0f}, {"abc", 33.0f},    {"", 33.0f},     {"  ", 33.0f},
    };
    for (const Case& c : cases) {
        KnobRig rig(trackDamping);
        rig.param().set(33.0f);
        rig.knob->completeEntry(c.typed);
        EXPECT_EQ(rig.param().value, c.expected) << '"' << c.typed << '"';
    }
    // A parameter with its own text rule: the track level is typed in decibels.
    KnobRig level(trackAmp);
    level.knob->completeEntry("-6");
    EXPECT_NEAR(level.param().value, 0.501f, 0.002f);
}

TEST(KnobGestures, TwoValuedParametersToggleAndOthersOpenTheirMenu) {
    KnobRig seedMode(trackSeedMode, 6);
    ASSERT_TRUE(isToggle(seedMode.param()));
    EXPECT_EQ(seedMode.param().value, 0.0f);
    seedMode.click();
    EXPECT_EQ(seedMode.param().value, 1.0f);
    seedMode.seconds += 1.0;
    seedMode.click();
    EXPECT_EQ(seedMode.param().value, 0.0f);
    // A toggle opens no value entry.
    seedMode.seconds += 1.0;
    seedMode.knob->tick();
    EXPECT_EQ(seedMode.knob->entry(), nullptr);

    // Output: "Main" and the buses "Bus 1" .. "Bus 8", chosen from a menu.
    KnobRig output(trackOutput, 3);
    const juce::PopupMenu menu = output.knob->menu();
    std::vector<juce::String> texts;
    for (juce::PopupMenu::MenuItemIterator it(menu); it.next();) texts.push_back(it.getItem().text);
    ASSERT_EQ(texts.size(), 9u);
    EXPECT_EQ(texts[0], "Main");
    EXPECT_EQ(texts[1], "Bus 1");
    EXPECT_EQ(texts[8], "Bus 8");
    output.knob->chooseMenuItem(4);
    EXPECT_EQ(output.param().value, 3.0f);
    output.knob->chooseMenuItem(0); // dismissed: nothing
    EXPECT_EQ(output.param().value, 3.0f);

    // Without its menu an enumerated knob is dragged.
    KnobRig dragged(trackModel, 5, false);
    EXPECT_EQ(dragged.knob->menu().getNumItems(), 0);
    dragged.press();
    dragged.drag(0.0f, -10.0f, 7, 0.01);
    dragged.release();
    EXPECT_GT(dragged.param().value, 5.0f);
}

TEST(KnobGestures, MenuLabelsWithABarGoIntoOneSubmenuPerGroup) {
    const std::vector<std::string> labels{"none",       "Track 1|Amp",   "Track 1|Pan",
                                          "Global|Amp", "Track 1|Width", "last"};
    const juce::PopupMenu menu = enumerationMenu(labels, 2);
    struct Seen {
        juce::String text;
        int id;
        bool ticked;
        int children;
    };
    std::vector<Seen> top;
    for (juce::PopupMenu::MenuItemIterator it(menu); it.next();) {
        const auto& item = it.getItem();
        top.push_back({item.text, item.itemID, item.isTicked,
                       item.subMenu != nullptr ? item.subMenu->getNumItems() : 0});
    }
    ASSERT_EQ(top.size(), 4u);
    EXPECT_EQ(top[0].text, "none");
    EXPECT_EQ(top[0].id, 1);
    EXPECT_EQ(top[1].text, "Track 1");
    EXPECT_EQ(top[1].children, 3); // Amp, Pan and the later Width share it
    EXPECT_EQ(top[2].text, "Global");
    EXPECT_EQ(top[3].text, "last");
    EXPECT_EQ(top[3].id, 6);
    // Item ids inside the submenu keep their label positions; the current one is ticked.
    std::vector<int> ids;
    bool panTicked = false;
    for (juce::PopupMenu::MenuItemIterator it(menu, true); it.next();) {
        ids.push_back(it.getItem().itemID);
        if (it.getItem().text == "Pan") panTicked = it.getItem().isTicked;
    }
    EXPECT_TRUE(panTicked);
    EXPECT_NE(std::find(ids.begin(), ids.end(), 5), ids.end());
}

TEST(KnobGestures, AModulationTargetMenuHasOneSubmenuPerGroup) {
    WidgetHarness harness;
    KnobSetup setup;
    setup.param = [](Ombrix& o) { return &o.engine.param(o.engine.layout.modSlotBase[0] + modTarget); };
    setup.kind = 3;
    auto& knob = harness.place(std::make_unique<KnobWidget>(std::move(setup)), {0, 0, 160, 24});
    const juce::PopupMenu menu = knob.menu();
    std::vector<juce::String> groups;
    int entries = 0;
    for (juce::PopupMenu::MenuItemIterator it(menu); it.next();) {
        EXPECT_NE(it.getItem().subMenu, nullptr) << it.getItem().text;
        groups.push_back(it.getItem().text);
    }
    for (juce::PopupMenu::MenuItemIterator it(menu, true); it.next();)
        entries += it.getItem().subMenu == nullptr;
    ASSERT_EQ(groups.size(), 9u);
    EXPECT_EQ(groups.front(), "Global");
    EXPECT_EQ(groups[1], "Track 1");
    EXPECT_EQ(groups.back(), "Track 8");
    EXPECT_EQ(entries, static_cast<int>(harness.instrument().engine.modTargets.size()));
    // An entry of a submenu sets the target to its position in the whole list.
    knob.chooseMenuItem(10);
    EXPECT_EQ(knob.param()->value, 9.0f);
}

TEST(KnobGestures, AKnobWithoutAParameterIgnoresTheMouse) {
    WidgetHarness harness;
    KnobSetup setup;
    setup.param = [](Ombrix&) -> Param* { return nullptr; };
    auto& knob = harness.place(std::make_unique<KnobWidget>(std::move(setup)), {0, 0, 64, 54});
    knob.mouseDown(mouseEvent(knob, {10, 10}, 0));
    knob.mouseDrag(mouseEvent(knob, {10, 0}, 10));
    knob.mouseUp(mouseEvent(knob, {10, 0}, 20));
    knob.tick();
    EXPECT_FALSE(knob.isDragging());
    EXPECT_EQ(harness.edits, 0);
    paintWidget(knob);
}

// Records what a host sees of the processor's parameters.
struct HostRecord : juce::AudioProcessorListener {
    std::vector<std::string> calls;
    void audioProcessorParameterChanged(juce::AudioProcessor*, int index, float value) override {
        calls.push_back("value " + std::to_string(index) + " " + std::to_string(value));
    }
    void audioProcessorParameterChangeGestureBegin(juce::AudioProcessor*, int index) override {
        calls.push_back("begin " + std::to_string(index));
    }
    void audioProcessorParameterChangeGestureEnd(juce::AudioProcessor*, int index) override {
        calls.push_back("end " + std::to_string(index));
    }
    void audioProcessorChanged(juce::AudioProcessor*, const ChangeDetails&) override {}
};

TEST(KnobGestures, AHostSeesBeginValuesAndEndForAnEditorEdit) {
    const test::ScopedHome home;
    TarvoProcessor processor;
    std::unique_ptr<juce::AudioProcessorEditor> window(processor.createEditor());
    auto& editor = dynamic_cast<TarvoEditor&>(*window);
    HostRecord host;
    processor.addListener(&host);

    // The first macro knob: the global Transform, a host parameter.
    auto& knob = dynamic_cast<KnobWidget&>(*editor.find("macro0"));
    Param& transform = *knob.param();
    ASSERT_GE(transform.hostIndex, 0);
    auto* hosted = processor.hostParameter(transform.hostIndex);
    const int index = hosted->getParameterIndex();
    double seconds = 10.0;
    knob.setClock([&] { return seconds; });
    juce::Point<float> at{30, 30};
    knob.mouseDown(mouseEvent(knob, at, 0));
    for (int i = 0; i < 5; ++i) {
        seconds += 0.01;
        at.y -= 10.0f;
        knob.mouseDrag(mouseEvent(knob, at, 0));
    }
    knob.mouseUp(mouseEvent(knob, at, 0));
    processor.removeListener(&host);

    ASSERT_GE(host.calls.size(), 3u);
    EXPECT_EQ(host.calls.front(), "begin " + std::to_string(index));
    EXPECT_EQ(host.calls.back(), "end " + std::to_string(index));
    for (size_t i = 1; i + 1 < host.calls.size(); ++i)
        EXPECT_EQ(host.calls[i].rfind("value " + std::to_string(index) + " ", 0), 0u) << host.calls[i];
    EXPECT_GT(transform.value, 0.0f);
    EXPECT_FLOAT_EQ(hosted->convertFrom0to1(hosted->getValue()), transform.value);

    // A toggle or a menu choice of a host parameter is one gesture too: the effect power.
    host.calls.clear();
    processor.addListener(&host);
    auto& exact = dynamic_cast<KnobWidget&>(*editor.find("mix.Pan.1"));
    exact.completeEntry("30");
    processor.removeListener(&host);
    ASSERT_EQ(host.calls.size(), 3u);
    EXPECT_EQ(host.calls[0].rfind("begin", 0), 0u);
    EXPECT_EQ(host.calls[1].rfind("value", 0), 0u);
    EXPECT_EQ(host.calls[2].rfind("end", 0), 0u);
    EXPECT_FLOAT_EQ(exact.param()->value, 30.0f);
    processor.editorBeingDeleted(window.get());
}

} // namespace
} // namespace tarvo
