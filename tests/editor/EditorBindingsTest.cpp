// Every control of the editor against the parameter it changes: each control is moved as a
// user moves it (a drag, a click, a menu choice) and exactly its parameter must change.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <vector>

#include "editor/Knob.h"
#include "editor/SmallWidgets.h"
#include "editor/TarvoEditor.h"
#include "editor/WidgetHarness.h"
#include "host/TarvoProcessor.h"
#include "instrument/Ombrix.h"
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

// The track, envelope and LFO the editor shows during the test: controls that follow them must
// reach these, not the first ones.
constexpr int shownTrack = 2, shownEnvelope = 2, shownLfo = 3;

struct Binding {
    juce::String control;
    Param* param;
};

std::vector<Binding> bindingTable(Ombrix& o) {
    BandSynth& e = o.engine;
    auto track = [&](int t, int offset) {
        return &e.param(e.layout.trackBase[static_cast<size_t>(t)] + offset);
    };
    auto global = [&](int offset) { return &e.param(e.layout.globalBase + offset); };
    auto envelope = [&](int offset) { return &e.param(e.layout.envBase[shownEnvelope] + offset); };
    auto lfo = [&](int offset) { return &e.param(e.layout.lfoBase[shownLfo] + offset); };
    auto modSlot = [&](int m, int offset) {
        return &e.param(e.layout.modSlotBase[static_cast<size_t>(m)] + offset);
    };
    auto fxSlot = [&](int s, int offset) {
        return &e.param(e.layout.fxSlotBase[static_cast<size_t>(s)] + offset);
    };
    auto sequencer = [&](StepSequencer::ParamId id) { return &o.sequencer.param(id); };

    std::vector<Binding> table{
        // Bottom bar
        {"macro0", global(globalTransform)},
        {"macro1", global(globalTimescale)},
        {"macro2", global(globalFrequency)},
        {"macro3", global(globalContrast)},
        {"macro4", global(globalDensity)},
        {"bpm", sequencer(StepSequencer::paramBpm)},
        {"hostSync", sequencer(StepSequencer::paramHostSync)},
        // Sound view: the current track's sound
        {"transform", track(shownTrack, trackTransform)},
        {"sound.8", track(shownTrack, trackTimescale)},
        {"sound.9", track(shownTrack, trackFrequency)},
        {"sound.10", track(shownTrack, trackContrast)},
        {"sound.14", track(shownTrack, trackDensity)},
        {"sound.15", track(shownTrack, trackSeedMode)},
        {"sound.16", track(shownTrack, trackSeed)},
        {"sound.17", track(shownTrack, trackPolyphony)},
        {"sound.18", track(shownTrack, trackRelease)},
        {"sound.19", track(shownTrack, trackDamping)},
        {"sound.13", track(shownTrack, trackDynamics)},
        {"sound.12", track(shownTrack, trackModel)},
        // Sequence view
        {"sequence.knob0", sequencer(StepSequencer::paramSwing)},
        {"sequence.knob1", sequencer(StepSequencer::paramLooseTime)},
        {"sequence.knob2", sequencer(StepSequencer::paramLooseVelo)},
        // Modulate view: the shown envelope and LFO
        {"envKnob0", envelope(envInitial)},
        {"envKnob1", envelope(envAttack)},
        {"envKnob2", envelope(envDecay)},
        {"envKnob3", envelope(envSustain)},
        {"envKnob4", envelope(envRelease)},
        {"lfoKnob" + juce::String(lfoBeatsync), lfo(lfoBeatsync)},
        {"lfoKnob" + juce::String(lfoRate), lfo(lfoRate)},
        {"lfoKnob" + juce::String(lfoBeatRate), lfo(lfoBeatRate)},
        {"lfoKnob" + juce::String(lfoLoop), lfo(lfoLoop)},
        {"lfoKnob" + juce::String(lfoRetrigger), lfo(lfoRetrigger)},
        {"lfoKnob" + juce::String(lfoPerVoice), lfo(lfoPerVoice)},
    };
    // Modulation rows, one per slot.
    const std::pair<const char*, int> modColumns[] = {
        {"Source", modSource}, {"Scaler", modScaler}, {"Amount", modAmount}, {"Target", modTarget}};
    for (int m = 0; m < ParamLayout::modSlotCount; ++m)
        for (const auto& [name, offset] : modColumns)
            table.push_back({"mod" + juce::String(m) + "." + name, modSlot(m, offset)});
    // Mix view: seven columns for eight tracks, and the four effect slots.
    const std::pair<const char*, int> mixColumns[] = {
        {"Filter", trackFilter}, {"Clip", trackClip},    {"Amp", trackAmp},      {"Pan", trackPan},
        {"Width", trackWidth},   {"Send 1", trackSend1}, {"Send 2", trackSend2}, {"Output", trackOutput}};
    for (int t = 0; t < ParamLayout::trackCount; ++t)
        for (const auto& [name, offset] : mixColumns)
            table.push_back({"mix." + juce::String(name) + "." + juce::String(t + 1), track(t, offset)});
    for (int s = 0; s < ParamLayout::fxSlotCount; ++s) {
        const juce::String n = "fx" + juce::String(s + 1);
        table.push_back({n + ".power", fxSlot(s, fxPower)});
        table.push_back({n + ".type", fxSlot(s, fxType)});
        table.push_back({n + ".knob0", fxSlot(s, fxParam1)});
        table.push_back({n + ".knob1", fxSlot(s, fxParam2)});
    }
    return table;
}

// Every value a control could move: the engine's parameters and the sequencer's.
std::vector<float> everyValue(Ombrix& o) {
    std::vector<float> values;
    for (int i = 0; i < o.engine.layout.paramCount; ++i) values.push_back(o.engine.param(i).value);
    for (int i = 0; i < StepSequencer::paramCount; ++i)
        values.push_back(o.sequencer.param(static_cast<StepSequencer::ParamId>(i)).value);
    return values;
}

// Moves a control the way a user would: toggles are clicked, menus choose another entry,
// everything else is dragged up (a fader to the right).
void move(juce::Component& control, Param& param) {
    if (auto* knob = dynamic_cast<KnobWidget*>(&control); knob != nullptr) {
        double seconds = 50.0;
        knob->setClock([&seconds] { return seconds; });
        juce::Point<float> at{10.0f, 10.0f};
        if (knob->menu().getNumItems() > 0) {
            const int current = static_cast<int>(param.value - param.min);
            const int count = static_cast<int>(enumerationLabels(param).size());
            knob->chooseMenuItem((current + 1) % count + 1);
            return;
        }
        knob->mouseDown(mouseEvent(*knob, at, 0));
        for (int i = 0; i < 6; ++i) {
            seconds += 0.01;
            at +=
                knob->setup().kind == 4 ? juce::Point<float>(10.0f, 0.0f) : juce::Point<float>(0.0f, -10.0f);
            knob->mouseDrag(mouseEvent(*knob, at, 0));
        }
        seconds += 0.3;
        knob->mouseUp(mouseEvent(*knob, at, 0));
        return;
    }
    control.mouseDown(mouseEvent(control, {5.0f, 5.0f}, 0));
    control.mouseUp(mouseEvent(control, {5.0f, 5.0f}, 0));
}

TEST(EditorBindings, EveryControlMovesItsOwnParameterAndNothingElse) {
    const test::ScopedHome home;
    Opened opened;
    TarvoEditor& editor = opened.editor;
    Ombrix& o = editor.instrument();
    editor.selectTrack(shownTrack, false);
    o.editor.envelope = shownEnvelope;
    o.editor.lfo = shownLfo;

    const std::vector<Binding> table = bindingTable(o);
    std::set<juce::String> listed;
    for (const Binding& b : table) {
        SCOPED_TRACE(b.control.toStdString());
        listed.insert(b.control);
        juce::Component* control = editor.find(b.control);
        ASSERT_NE(control, nullptr);
        if (auto* knob = dynamic_cast<KnobWidget*>(control); knob != nullptr) {
            EXPECT_EQ(knob->param(), b.param);
        }
        // From a value off the snap values and the ends, so that any movement shows.
        if (enumerationLabels(*b.param).empty()) b.param->setNormalized(0.3f);
        const std::vector<float> before = everyValue(o);
        const float was = b.param->value;
        move(*control, *b.param);
        EXPECT_NE(b.param->value, was);
        const std::vector<float> after = everyValue(o);
        int changed = 0;
        for (size_t i = 0; i < before.size(); ++i) changed += before[i] != after[i] ? 1 : 0;
        EXPECT_EQ(changed, 1);
    }
    // No parameter control of the editor is missing from the table.
    for (const juce::Component* child : editor.content().getChildren()) {
        if (dynamic_cast<const KnobWidget*>(child) != nullptr ||
            dynamic_cast<const OnButton*>(child) != nullptr) {
            EXPECT_TRUE(listed.count(child->getComponentID()) == 1) << child->getComponentID();
        }
    }
}

TEST(EditorBindings, TheSoundColumnFollowsTheCurrentTrack) {
    const test::ScopedHome home;
    Opened opened;
    TarvoEditor& editor = opened.editor;
    Ombrix& o = editor.instrument();
    auto& timescale = dynamic_cast<KnobWidget&>(*editor.find("sound.8"));
    auto& release = dynamic_cast<KnobWidget&>(*editor.find("sound.18"));
    for (const int t : {0, 5, 7}) {
        editor.selectTrack(t, false);
        EXPECT_EQ(timescale.param(),
                  &o.engine.param(o.engine.layout.trackBase[static_cast<size_t>(t)] + trackTimescale));
    }
    EXPECT_EQ(release.helpName(), "Voice Release");
    // The envelope and LFO tabs rebind their knobs.
    auto& attack = dynamic_cast<KnobWidget&>(*editor.find("envKnob1"));
    editor.find("envTab3")->mouseDown(mouseEvent(*editor.find("envTab3"), {4, 4}, 0));
    EXPECT_EQ(attack.param(), &o.engine.param(o.engine.layout.envBase[3] + envAttack));
    auto& loop = dynamic_cast<KnobWidget&>(*editor.find("lfoKnob" + juce::String(lfoLoop)));
    editor.find("lfoTab1")->mouseDown(mouseEvent(*editor.find("lfoTab1"), {4, 4}, 0));
    EXPECT_EQ(loop.param(), &o.engine.param(o.engine.layout.lfoBase[1] + lfoLoop));
}

TEST(EditorBindings, BeatsyncSwapsTheRateKnobForTheBeatRate) {
    const test::ScopedHome home;
    Opened opened;
    TarvoEditor& editor = opened.editor;
    Ombrix& o = editor.instrument();
    editor.setView(EditorState::modulateView);
    auto& beatsync = dynamic_cast<KnobWidget&>(*editor.find("lfoKnob" + juce::String(lfoBeatsync)));
    juce::Component& rate = *editor.find("lfoKnob" + juce::String(lfoRate));
    juce::Component& beatRate = *editor.find("lfoKnob" + juce::String(lfoBeatRate));
    Param& sync = o.engine.param(o.engine.layout.lfoBase[0] + lfoBeatsync);
    sync.set(0.0f);
    editor.displayTick();
    EXPECT_TRUE(rate.isVisible());
    EXPECT_FALSE(beatRate.isVisible());
    beatsync.mouseDown(mouseEvent(beatsync, {4, 4}, 0));
    beatsync.mouseUp(mouseEvent(beatsync, {4, 4}, 0));
    EXPECT_EQ(sync.value, 1.0f);
    editor.displayTick();
    EXPECT_FALSE(rate.isVisible());
    EXPECT_TRUE(beatRate.isVisible());
}

} // namespace
} // namespace tarvo
