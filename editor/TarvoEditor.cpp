#include "editor/TarvoEditor.h"

#include <cstdio>

#include "TarvoEditorData.h"
#include "editor/BlobEditor.h"
#include "editor/CurveEditors.h"
#include "editor/EditorGl.h"
#include "editor/EditorLayout.h"
#include "editor/FolderDropDown.h"
#include "editor/HelpTable.h"
#include "editor/Knob.h"
#include "editor/MidiDrag.h"
#include "editor/SequencerEditor.h"
#include "editor/SmallWidgets.h"
#include "editor/TrackStrip.h"
#include "editor/WaveButton.h"
#include "engine/BlobSlots.h"
#include "instrument/ImportQueue.h"
#include "instrument/Ombrix.h"
#include "instrument/Presets.h"
#include "persistence/AtomicFile.h"
#include "persistence/Folders.h"

namespace tarvo {

namespace {

// A display snapshot of silence, shown until the audio thread publishes one.
const DisplaySnapshot silentDisplay{};

constexpr const char* viewNames[] = {"SOUND", "SEQUENCE", "MODULATE", "MIX"};
constexpr const char* viewHelp[] = {"Sound View", "Sequence View", "Modulate View", "Mix View"};
constexpr float titleTextSize = 15.0f;
// The help box's text and the undo counts' squares.
constexpr float helpTextSize = 15.0f;
constexpr float countSquare = 16.0f;
// Picture scales of the play and host-sync buttons within their squares.
constexpr float playPictureScale = 0.58f, syncPictureScale = 0.64f;
// An error is shown in a box only while it is this recent.
constexpr auto errorFreshness = std::chrono::seconds(2);
// Gaps between the meters' two channels and before their part above full scale, in pixels.
constexpr float mainMeterChannelGap = 4.0f, fxMeterChannelGap = 2.0f, meterSegmentGap = 2.0f;

// The drop-downs' fixed entries.
constexpr const char* savePresetEntry = "Save Preset";
constexpr const char* showFolderEntry = "Show Folder";
constexpr const char* saveBlobEntry = "Save Blob";
constexpr const char* importEntry = "Import Audio File(s)";
constexpr const char* disableEntry = "Disable";
constexpr const char* enableEntry = "Enable";
// The names a slot takes when it is turned off, and when it is turned on again empty.
constexpr const char* offBlobName = "<off>";
constexpr const char* initBlobName = "init";
// The audio files the import dialog offers.
constexpr const char* importPatterns = "*.wav;*.WAV;*.aif;*.AIF;*.aiff;*.AIFF";

Blob& slotBlob(Ombrix& o, int track, int slot) {
    TrackBlobs& blobs =
        o.engine.tracks[static_cast<size_t>(std::clamp(track, 0, layout::trackCount - 1))].blobs;
    return slot == 0 ? blobs.slotA.working : blobs.slotB.working;
}

std::filesystem::path pathOf(const juce::File& file) {
    return std::filesystem::path(file.getFullPathName().toStdString());
}

// A Blob saved at path is named by its place in the sounds folder when it lies there, else by
// its file name, both without the extension.
std::string savedBlobName(const std::filesystem::path& path) {
    const juce::File file(juce::String(path.string()));
    const juce::File sounds(juce::String(folderPath(Folder::Sounds).string()));
    if (file.isAChildOf(sounds))
        return withoutLastExtension(
            file.getRelativePathFrom(sounds).replaceCharacter('\\', '/').toStdString());
    return file.getFileNameWithoutExtension().toStdString();
}

// Binders: a knob's parameter, found in the instrument each time it is needed.
using Binder = std::function<Param*(Ombrix&)>;

Binder trackParam(int offset) {
    return [offset](Ombrix& o) {
        return &o.engine.param(o.engine.layout.trackBase[static_cast<size_t>(o.currentTrackIndex())] +
                               offset);
    };
}

Binder fixedTrackParam(int track, int offset) {
    return [track, offset](Ombrix& o) {
        return &o.engine.param(o.engine.layout.trackBase[static_cast<size_t>(track)] + offset);
    };
}

Binder globalParam(int offset) {
    return [offset](Ombrix& o) { return &o.engine.param(o.engine.layout.globalBase + offset); };
}

Binder sequencerParam(StepSequencer::ParamId id) {
    return [id](Ombrix& o) { return &o.sequencer.param(id); };
}

Binder envelopeParam(int offset) {
    return [offset](Ombrix& o) {
        const int shown = std::clamp(o.editor.envelope, 0, ParamLayout::envCount - 1);
        return &o.engine.param(o.engine.layout.envBase[static_cast<size_t>(shown)] + offset);
    };
}

Binder lfoParam(int offset) {
    return [offset](Ombrix& o) {
        const int shown = std::clamp(o.editor.lfo, 0, ParamLayout::lfoCount - 1);
        return &o.engine.param(o.engine.layout.lfoBase[static_cast<size_t>(shown)] + offset);
    };
}

Binder modSlotParam(int slot, int offset) {
    return [slot, offset](Ombrix& o) {
        return &o.engine.param(o.engine.layout.modSlotBase[static_cast<size_t>(slot)] + offset);
    };
}

Binder fxSlotParam(int slot, int offset) {
    return [slot, offset](Ombrix& o) {
        return &o.engine.param(o.engine.layout.fxSlotBase[static_cast<size_t>(slot)] + offset);
    };
}

KnobSetup knob(Binder binder, int kind, std::string styleId) {
    KnobSetup setup;
    setup.param = std::move(binder);
    setup.kind = kind;
    setup.styleId = std::move(styleId);
    return setup;
}

} // namespace

// ---- Construction -----------------------------------------------------------------------

TarvoEditor::TarvoEditor(juce::AudioProcessor& processor, EditorHost& host)
    : juce::AudioProcessorEditor(processor), host_(host), display_(&silentDisplay) {
    content_.setBounds(layout::whole);
    addAndMakeVisible(content_);
    setWantsKeyboardFocus(true);

    buildFrame();
    buildSoundView();
    buildSequenceView();
    buildModulateView();
    buildMixView();

    Ombrix& o = instrument();
    for (juce::Component* c : groups_[overlayGroup]) c->setVisible(false);
    selectTrack(o.currentTrackIndex(), false);
    setView(o.editor.view);
    updateMuteSolo();
    applyTheme();
    o.engine.metersOn.store(true);
    o.editor.displayWanted.store(true);
    restyleCountdown_ = restyleFrames;

    sizePercent_ = percentFromSetting(host_.setting(Settings::sizeKey));
    setSizePercent(sizePercent_);
    startTimerHz(displayTicksPerSecond);
    gl_ = std::make_unique<EditorGl>(*this);
    gl_->add(*blobEditor_);
}

TarvoEditor::~TarvoEditor() {
    stopTimer();
    gl_.reset();
    Ombrix& o = instrument();
    o.engine.metersOn.store(false);
    o.editor.displayWanted.store(false);
}

template <class W>
W& TarvoEditor::add(std::unique_ptr<W> widget, juce::Rectangle<int> bounds, int group,
                    const juce::String& id) {
    W& placed = *widget;
    placed.setBounds(bounds);
    placed.setComponentID(id);
    content_.addAndMakeVisible(placed);
    if (auto* asWidget = dynamic_cast<Widget*>(&placed); asWidget != nullptr) widgets_.push_back(asWidget);
    if (group >= 0) groups_[static_cast<size_t>(group)].push_back(&placed);
    owned_.push_back(std::move(widget));
    return placed;
}

void TarvoEditor::buildFrame() {
    constexpr int always = -1;
    add(std::make_unique<FadeBox>("top", FadeBox::top | FadeBox::bottom), layout::topBar, always, "topBar");
    add(std::make_unique<FadeBox>("bottom", FadeBox::top | FadeBox::bottom), layout::bottomBar, always,
        "bottomBar");
    auto& logo =
        add(std::make_unique<SvgView>(loadIcon("tarvoLogo.svg"), "logo", 0.8f), layout::logo, always, "logo");
    logo.setHelpName("Logo");
    add(std::make_unique<StyledRect>("label_bg"), layout::trackLabelBackground, always,
        "trackLabelBackground");

    // The settings menu: an invisible button over the logo.
    auto& settings = add(std::make_unique<TextButton>(
                             "", "settings", [this](Widget&) { openSettingsMenu(); }, false),
                         layout::logo, always, "settings");
    settings.setHelpName("Logo");

    int x = layout::tabStartX;
    for (int v = 0; v < 4; ++v) {
        const juce::String label = viewNames[v];
        const int w = juce::roundToInt(EditorFonts::big(layout::tabTextSize).getStringWidthFloat(label)) +
                      layout::tabPadding;
        auto& tab = add(std::make_unique<TabButton>(label, "bigFont", layout::tabTextSize,
                                                    [this, v](Widget&) { setView(v); }),
                        {x, layout::tabY, w, layout::tabHeight}, always, "tab" + juce::String(v));
        tab.setHelpName(viewHelp[v]);
        viewTabs_[static_cast<size_t>(v)] = &tab;
        x += w + layout::tabGap;
    }
    presetBrowser_ = &add(std::make_unique<FolderDropDown>("preset", "Preset Selector"),
                          layout::presetBrowser, always, "presetBrowser");
    presetBrowser_->setFolder(folderPath(Folder::Presets), ".tarvo");
    presetBrowser_->setFixedEntries([] { return juce::StringArray{savePresetEntry, showFolderEntry}; });
    presetBrowser_->setAction([this](FolderDropDown& browser) { presetChosen(browser); });
    add(std::make_unique<DiceButton>([this](int kind) {
            perform([kind](Ombrix& o) {
                // Only a new kit needs sounds; without any the dice changes nothing and says why.
                if (!o.randomize(kind))
                    o.setStatus("No sounds to build a kit from in " + folderPath(Folder::Sounds).string());
            });
        }),
        layout::dice, always, "dice");
    add(std::make_unique<StyledRect>("tracks_bg"), layout::tracksBackground, always, "tracksBackground");
    add(std::make_unique<StyledRect>("label_bg"), layout::tracksTitleBackground, always,
        "tracksTitleBackground");
    add(std::make_unique<StyledLabel>("Tracks", "label", "boldFont", titleTextSize), layout::tracksTitle,
        always, "tracksTitle");

    for (int t = 0; t < layout::trackCount; ++t) {
        const juce::String n(t + 1);
        trackStrips_[static_cast<size_t>(t)] =
            &add(std::make_unique<TrackStrip>(t, [this](int track) { selectTrack(track, true); }),
                 layout::trackStrip(t), always, "track" + n + ".strip");
        auto& mute =
            add(std::make_unique<TextButton>(
                    "M", "mutebutton",
                    [this, t](Widget& w) {
                        const bool on = static_cast<TextButton&>(w).isOn();
                        auto& mask = instrument().engine.muteMask;
                        const auto bit = static_cast<int16_t>(1 << t);
                        mask.store(static_cast<int16_t>(on ? (mask.load() | bit) : (mask.load() & ~bit)));
                        updateMuteSolo();
                    },
                    true),
                layout::muteButton(t), always, "track" + n + ".mute");
        mute.setFontName("bigFont");
        mute.setHelpName("Mute Button");
        muteButtons_[static_cast<size_t>(t)] = &mute;
        auto& solo = add(std::make_unique<TextButton>(
                             "S", "mutebutton",
                             [this, t](Widget& w) {
                                 const bool on = static_cast<TextButton&>(w).isOn();
                                 instrument().engine.soloTrack.store(static_cast<int16_t>(on ? t : -1));
                                 updateMuteSolo();
                             },
                             true),
                         layout::soloButton(t), always, "track" + n + ".solo");
        solo.setFontName("bigFont");
        solo.setHelpName("Solo Button");
        soloButtons_[static_cast<size_t>(t)] = &solo;
        // The preview reaches the processor, which outlives the editor: a button destroyed
        // while held still sends its note-off.
        add(std::make_unique<WaveButton>(
                t,
                [&host = host_](int track, bool on) { host.sendMidiFromEditor(previewMessage(track, on)); }),
            layout::waveButton(t), always, "track" + n + ".wave");
    }

    add(std::make_unique<StyledRect>("bottomKnobs_bg"), layout::bottomKnobs, always, "bottomKnobs");
    static constexpr int macroParams[] = {globalTransform, globalTimescale, globalFrequency, globalContrast,
                                          globalDensity};
    static constexpr const char* macroHelp[] = {"All Transform", "All Timescale", "All Frequency",
                                                "All Contrast", "All Density"};
    for (int k = 0; k < 5; ++k) {
        KnobSetup setup = knob(globalParam(macroParams[k]), 1, "macroParam");
        setup.helpName = macroHelp[k];
        add(std::make_unique<KnobWidget>(std::move(setup)), layout::macroKnob(k), always,
            "macro" + juce::String(k));
    }
    add(std::make_unique<LevelMeter>("main_meter", false, mainMeterChannelGap, meterSegmentGap,
                                     [](const DisplaySnapshot& d) {
                                         return std::array<float, 2>{d.meters[0], d.meters[1]};
                                     }),
        layout::mainMeter, always, "mainMeter");
    KnobSetup bpm = knob(sequencerParam(StepSequencer::paramBpm), 3, "bpmParam");
    bpm.fontName = "bigFont";
    bpm.textSize = 28.0f;
    bpm.textHeight = 32.0f;
    bpm.valueJustification = juce::Justification::centredRight;
    bpm.helpName = "BPM";
    add(std::make_unique<KnobWidget>(std::move(bpm)), layout::bpmNumber, always, "bpm");
    add(std::make_unique<StyledLabel>("BPM", "bpmLabel", "bigFont", 28.0f), layout::bpmLabel, always,
        "bpmLabel");
    syncButton_ = &add(std::make_unique<SvgButton>(
                           loadIcon("lock_open.svg"), loadIcon("lock.svg"), "syncbutton",
                           [this](Widget&) {
                               Param& sync = instrument().sequencer.param(StepSequencer::paramHostSync);
                               beginParamEdit(sync);
                               editParam(sync, sync.value != 0.0f ? 0.0f : 1.0f);
                               endParamEdit(sync);
                           },
                           SvgButton::Mode::plain, syncPictureScale),
                       layout::hostSync, always, "hostSync");
    syncButton_->setHelpName("Host Sync");
    playButton_ =
        &add(std::make_unique<SvgButton>(
                 loadIcon("playIcon.svg"), loadIcon("pauseIcon.svg"), "playbutton",
                 [this](Widget&) { instrument().setPlaying(-1); }, SvgButton::Mode::plain, playPictureScale),
             layout::play, always, "play");
    playButton_->setHelpName("Play Button");
    helpBox_ = &add(std::make_unique<HelpBox>("helpBox_", helpTextSize), layout::helpBox, always, "helpBox");
    helpBox_->setHelpName("Help View");
    styleHelp_ =
        &add(std::make_unique<StyledLabel>("", "style_help"), layout::styleHelp, always, "styleHelp");
    analyserPanel_ = &add(std::make_unique<AnalyserPanel>(), layout::whole, overlayGroup, "analyser");
}

void TarvoEditor::buildSoundView() {
    constexpr int sound = EditorState::soundView;
    add(std::make_unique<FadeBox>("soundCol", FadeBox::left), layout::soundColumn, sound, "soundColumn");
    blobEditor_ =
        &add(std::make_unique<BlobEditorWidget>(layout::blobCanvas - layout::blobEditor.getPosition()),
             layout::blobEditor, sound, "blobEditor");
    for (int slot = 0; slot < 2; ++slot) {
        auto& selector = add(std::make_unique<FolderDropDown>("soundselector", slot == 0 ? "Blob Selector A"
                                                                                         : "Blob Selector B"),
                             slot == 0 ? layout::blobSelectorA : layout::blobSelectorB, sound,
                             slot == 0 ? "blobSelectorA" : "blobSelectorB");
        selector.setFolder(folderPath(Folder::Sounds), ".blob");
        selector.setFixedEntries([this, slot] {
            juce::StringArray entries{saveBlobEntry, importEntry, showFolderEntry};
            entries.add(slotBlob(instrument(), instrument().currentTrackIndex(), slot).present != 0
                            ? disableEntry
                            : enableEntry);
            return entries;
        });
        selector.setAction([this, slot](FolderDropDown& chosen) { blobChosen(chosen, slot); });
        blobSelectors_[static_cast<size_t>(slot)] = &selector;
    }
    KnobSetup fader = knob(trackParam(trackTransform), 4, "soundfader");
    fader.showName = false;
    add(std::make_unique<KnobWidget>(std::move(fader)), layout::transformFader, sound, "transform");

    static constexpr const char* toolPictures[] = {"finger-drag.svg", "magnet.svg", "eraser.svg"};
    static constexpr const char* toolHelp[] = {"Drag Tool", "Attract Tool", "Repel Tool"};
    for (int k = 0; k < 3; ++k) {
        auto& tool = add(
            std::make_unique<SvgButton>(
                loadIcon(toolPictures[k]), nullptr, "tool",
                [this, k](Widget& w) {
                    instrument().editor.tool = k;
                    for (int i = 0; i < 3; ++i) toolButtons_[static_cast<size_t>(i)]->setValue(i == k);
                    // Dragging on a held tool button sizes the tool.
                    const auto& button = static_cast<SvgButton&>(w);
                    if (!button.isPressed()) {
                        toolSizeOverlay_->hide();
                        return;
                    }
                    blobEditor_->setToolSize(toolSizeAfterDrag(blobEditor_->toolSize(), button.dragStep()));
                    toolSizeOverlay_->show(button.getBounds().toFloat().getCentre(), blobEditor_->toolSize());
                }),
            layout::toolButton(k), sound, "tool" + juce::String(k));
        tool.setHelpName(toolHelp[k]);
        tool.setDragEnabled(true);
        toolButtons_[static_cast<size_t>(k)] = &tool;
    }
    auto mirror = [this](bool frequency) {
        perform([frequency](Ombrix& o) { o.mirrorCurrentTrack(frequency); });
    };
    add(std::make_unique<SvgButton>(loadIcon("reflectHori.svg"), nullptr, "tool",
                                    [mirror](Widget&) { mirror(true); }),
        layout::mirrorX, sound, "mirrorX")
        .setHelpName("Mirror X Button");
    add(std::make_unique<SvgButton>(loadIcon("reflectVert.svg"), nullptr, "tool",
                                    [mirror](Widget&) { mirror(false); }),
        layout::mirrorY, sound, "mirrorY")
        .setHelpName("Mirror Y Button");
    undoButton_ =
        &add(std::make_unique<SvgButton>(loadIcon("undo.svg"), nullptr, "tool",
                                         [this](Widget&) { perform([](Ombrix& o) { o.undoStep(-1); }); }),
             layout::undo, sound, "undo");
    undoButton_->setHelpName("Undo Button");
    redoButton_ =
        &add(std::make_unique<SvgButton>(loadIcon("unundo.svg"), nullptr, "tool",
                                         [this](Widget&) { perform([](Ombrix& o) { o.undoStep(1); }); }),
             layout::redo, sound, "redo");
    redoButton_->setHelpName("Redo Button");

    struct Group {
        const char* title;
        std::vector<std::pair<int, const char*>> knobs; // track parameter, help name
    };
    const Group groups[] = {
        {"Modify",
         {{trackTimescale, nullptr},
          {trackFrequency, nullptr},
          {trackContrast, nullptr},
          {trackDensity, nullptr}}},
        {"Variation", {{trackSeedMode, nullptr}, {trackSeed, nullptr}}},
        {"Voicing", {{trackPolyphony, nullptr}, {trackRelease, "Voice Release"}, {trackDamping, nullptr}}},
        {"Velocity", {{trackDynamics, nullptr}, {trackModel, nullptr}}},
    };
    int y = layout::soundColumnTop;
    bool first = true;
    for (const Group& group : groups) {
        if (!first) {
            add(std::make_unique<StyledRect>("soundCol_divider"), layout::soundDivider(y), sound,
                juce::String("divider.") + group.title);
            y += layout::soundDividerStep;
        }
        first = false;
        add(std::make_unique<StyledLabel>(group.title, "soundCol_label", "boldFont", titleTextSize,
                                          juce::Justification::centredLeft),
            layout::soundTitle(y), sound, juce::String("title.") + group.title);
        y += layout::soundTitleStep;
        for (const auto& [offset, help] : group.knobs) {
            KnobSetup setup = knob(trackParam(offset), 6, "soundParam");
            setup.nameJustification = juce::Justification::centredLeft;
            if (help != nullptr) setup.helpName = help;
            add(std::make_unique<KnobWidget>(std::move(setup)), layout::soundKnob(y), sound,
                "sound." + juce::String(offset));
            y += layout::soundKnobStep;
        }
    }
    add(std::make_unique<WaveEditor>(WaveEditor::Kind::velocity), layout::velocityCurve(y), sound,
        "velocityCurve");
    // Last of the view, so the ring of a tool's size draws over the buttons and strips it reaches.
    toolSizeOverlay_ = &add(std::make_unique<ToolSizeOverlay>(), layout::whole, sound, "toolSize");
}

void TarvoEditor::buildSequenceView() {
    constexpr int sequence = EditorState::sequenceView;
    add(std::make_unique<StyledRect>("sequenceView_bg"), layout::mainArea, sequence, "sequenceBackground");
    add(std::make_unique<SequencerEditor>(), layout::sequencer, sequence, "sequencer");
    static constexpr StepSequencer::ParamId params[] = {
        StepSequencer::paramSwing, StepSequencer::paramLooseTime, StepSequencer::paramLooseVelo};
    for (int k = 0; k < 3; ++k) {
        KnobSetup setup = knob(sequencerParam(params[k]), 6, "seqParam");
        setup.nameJustification = juce::Justification::centredLeft;
        setup.valueBoxHeight = 22.0f;
        setup.valueRightInset = 2.0f;
        add(std::make_unique<KnobWidget>(std::move(setup)), layout::sequenceKnob(k), sequence,
            "sequence.knob" + juce::String(k));
    }
    auto& exportMidi =
        add(std::make_unique<TextButton>(
                "Export MIDI", "seqParam",
                [this](Widget& button) { exportMidiDrag(instrument().sequencer, button); }, false),
            layout::exportMidi, sequence, "exportMidi");
    exportMidi.setTextSize(15.0f);
    exportMidi.setHelpName("Export MIDI");
}

void TarvoEditor::buildModulateView() {
    constexpr int modulate = EditorState::modulateView;
    add(std::make_unique<StyledRect>("modulateView_bg"), layout::mainArea, modulate, "modulateBackground");
    static constexpr const char* titles[] = {"Source", "Scaler", "Amount", "Target"};
    for (int k = 0; k < 4; ++k) {
        const auto [x, w] = layout::modColumn(k);
        add(std::make_unique<StyledLabel>(titles[k], "label", "boldFont", titleTextSize),
            {x, layout::modTitleY, w, layout::modTitleHeight}, modulate,
            juce::String("modTitle.") + titles[k]);
    }
    // Columns in their order on screen and the slot parameter each shows.
    static constexpr int columnParams[] = {modSource, modScaler, modAmount, modTarget};
    for (int m = 0; m < ParamLayout::modSlotCount; ++m) {
        for (int c = 0; c < 4; ++c) {
            const bool amount = columnParams[c] == modAmount;
            KnobSetup setup = knob(modSlotParam(m, columnParams[c]), amount ? 4 : 3, "mod");
            setup.helpName = titles[c];
            setup.showName = !amount;
            setup.valueJustification = juce::Justification::centredLeft;
            add(std::make_unique<KnobWidget>(std::move(setup)), layout::modRow(c, m), modulate,
                "mod" + juce::String(m) + "." + titles[c]);
        }
    }

    add(std::make_unique<StyledRect>("envBox_bg"), layout::envBox, modulate, "envBox");
    for (int k = 0; k < 4; ++k) {
        auto& tab = add(std::make_unique<TabButton>("Env " + juce::String(k + 1), "mainFont", 0.0f,
                                                    [this, k](Widget&) {
                                                        instrument().editor.envelope = k;
                                                        restyle();
                                                    }),
                        layout::envTab(k), modulate, "envTab" + juce::String(k));
        tab.setHelpName("Env Selector");
        envTabs_[static_cast<size_t>(k)] = &tab;
    }
    add(std::make_unique<EnvEditor>(), layout::envEditor, modulate, "envEditor");
    static constexpr int envParams[] = {envInitial, envAttack, envDecay, envSustain, envRelease};
    for (int k = 0; k < 5; ++k)
        add(std::make_unique<KnobWidget>(knob(envelopeParam(envParams[k]), 5, "envParam")),
            layout::envKnob(k), modulate, "envKnob" + juce::String(k));

    add(std::make_unique<StyledRect>("envBox_bg"), layout::lfoBox, modulate, "lfoBox");
    for (int k = 0; k < 4; ++k) {
        auto& tab = add(std::make_unique<TabButton>("LFO " + juce::String(k + 1), "mainFont", 0.0f,
                                                    [this, k](Widget&) {
                                                        instrument().editor.lfo = k;
                                                        restyle();
                                                    }),
                        layout::lfoTab(k), modulate, "lfoTab" + juce::String(k));
        tab.setHelpName("LFO Selector");
        lfoTabs_[static_cast<size_t>(k)] = &tab;
    }
    add(std::make_unique<WaveEditor>(WaveEditor::Kind::lfo), layout::lfoEditor, modulate, "lfoEditor");
    struct LfoKnob {
        int param, column;
    };
    static constexpr LfoKnob lfoKnobs[] = {{lfoBeatsync, 0}, {lfoRate, 1},      {lfoBeatRate, 1},
                                           {lfoLoop, 2},     {lfoRetrigger, 3}, {lfoPerVoice, 4}};
    for (const LfoKnob& k : lfoKnobs) {
        KnobSetup setup = knob(lfoParam(k.param), 5, "envParam");
        setup.menu = false;
        auto& placed = add(std::make_unique<KnobWidget>(std::move(setup)), layout::lfoKnob(k.column),
                           modulate, "lfoKnob" + juce::String(k.param));
        if (k.param == lfoRate) lfoRate_ = &placed;
        if (k.param == lfoBeatRate) lfoBeatRate_ = &placed;
    }
}

void TarvoEditor::buildMixView() {
    constexpr int mix = EditorState::mixView;
    add(std::make_unique<StyledRect>("mixView_bg"), layout::mainArea, mix, "mixBackground");
    static constexpr int columnParams[] = {trackFilter, trackClip,  trackAmp,   trackPan,
                                           trackWidth,  trackSend1, trackSend2, trackOutput};
    static constexpr const char* columnNames[] = {"Filter", "Clip",   "Amp",    "Pan",
                                                  "Width",  "Send 1", "Send 2", "Output"};
    for (int c = 0; c < 8; ++c) {
        add(std::make_unique<StyledLabel>(columnNames[c], "label", "boldFont", titleTextSize),
            layout::mixTitle(c), mix, juce::String("mixTitle.") + columnNames[c]);
        for (int t = 0; t < layout::trackCount; ++t) {
            const bool output = columnParams[c] == trackOutput;
            KnobSetup setup = knob(fixedTrackParam(t, columnParams[c]), output ? 3 : 2, "mixParam");
            setup.helpName = columnNames[c];
            setup.bipolar = false;
            setup.trackColour = "track" + std::to_string(t + 1);
            add(std::make_unique<KnobWidget>(std::move(setup)), layout::mixKnob(c, t), mix,
                "mix." + juce::String(columnNames[c]) + "." + juce::String(t + 1));
        }
    }
    add(std::make_unique<FadeBox>("top", FadeBox::left), layout::fxColumn, mix, "fxColumn");
    add(std::make_unique<StyledLabel>("Send FX", "fxLabel", "boldFont", titleTextSize), layout::sendFxLabel,
        mix, "sendFxLabel");
    for (int s = 0; s < ParamLayout::fxSlotCount; ++s) {
        const juce::String n(s + 1);
        if (s == 2)
            add(std::make_unique<StyledLabel>("Main FX", "fxLabel", "boldFont", titleTextSize),
                layout::mainFxLabel(), mix, "mainFxLabel");
        add(std::make_unique<StyledRect>("fx_bg"), layout::fxSlot(s), mix, "fx" + n + ".background");
        auto& power = add(std::make_unique<OnButton>(
                              [this, s] { return fxSlotParam(s, fxPower)(instrument()); }, "fxToggle"),
                          layout::fxPower(s), mix, "fx" + n + ".power");
        power.setHelpName("FX Enable");
        add(std::make_unique<LevelMeter>("fxMeter", true, fxMeterChannelGap, meterSegmentGap,
                                         [s](const DisplaySnapshot& d) {
                                             const auto& m = d.fxMeters[static_cast<size_t>(s)];
                                             return std::array<float, 2>{m[0], m[1]};
                                         }),
            layout::fxInputMeter(s), mix, "fx" + n + ".inputMeter");
        KnobSetup type = knob(fxSlotParam(s, fxType), 3, "fxParam");
        type.helpName = "FX Type";
        type.valueJustification = juce::Justification::centredLeft;
        add(std::make_unique<KnobWidget>(std::move(type)), layout::fxType(s), mix, "fx" + n + ".type");
        add(std::make_unique<StyledLabel>(juce::String(s % 2 + 1), "fxIndex", "mainFont", 15.0f),
            layout::fxIndex(s), mix, "fx" + n + ".index");
        for (int k = 0; k < 2; ++k)
            add(std::make_unique<KnobWidget>(knob(fxSlotParam(s, fxParam1 + k), 1, "fxParam")),
                layout::fxKnob(s, k), mix, "fx" + n + ".knob" + juce::String(k));
        add(std::make_unique<LevelMeter>("fxMeter", true, fxMeterChannelGap, meterSegmentGap,
                                         [s](const DisplaySnapshot& d) {
                                             const auto& m = d.fxMeters[static_cast<size_t>(s)];
                                             return std::array<float, 2>{m[2], m[3]};
                                         }),
            layout::fxOutputMeter(s), mix, "fx" + n + ".outputMeter");
    }
}

// ---- Context ----------------------------------------------------------------------------

const StyleOwner& TarvoEditor::style() const {
    return host_.instrument().editor.style;
}

void TarvoEditor::perform(const std::function<void(Ombrix&)>& action) {
    host_.performEditorAction(action);
    restyle();
}

void TarvoEditor::beginParamEdit(Param& param) {
    if (auto* hosted = host_.hostParameterOf(param); hosted != nullptr) hosted->beginChangeGesture();
}

void TarvoEditor::editParam(Param& param, float plainValue) {
    if (auto* hosted = host_.hostParameterOf(param); hosted != nullptr) {
        hosted->setValueNotifyingHost(hosted->getNormalisableRange().convertTo0to1(
            hosted->getNormalisableRange().snapToLegalValue(plainValue)));
        return;
    }
    param.set(plainValue);
}

void TarvoEditor::endParamEdit(Param& param) {
    if (auto* hosted = host_.hostParameterOf(param); hosted != nullptr) hosted->endChangeGesture();
}

void TarvoEditor::setView(int view) {
    view = std::clamp(view, 0, 3);
    for (int g = 0; g < 4; ++g)
        for (juce::Component* c : groups_[static_cast<size_t>(g)]) c->setVisible(g == view);
    for (int i = 0; i < 4; ++i)
        viewTabs_[static_cast<size_t>(i)]->setStyleId(i == view ? "topTab_on" : "topTab_off");
    instrument().editor.view = view;
    updateTrackStrips();
    restyle();
}

void TarvoEditor::selectTrack(int track, bool showSoundView) {
    track = std::clamp(track, 0, layout::trackCount - 1);
    host_.performEditorAction([track](Ombrix& o) {
        o.currentTrack = track;
        o.pushUndoSnapshot(true);
    });
    if (showSoundView) setView(EditorState::soundView);
    updateTrackStrips();
    restyle();
}

void TarvoEditor::showStatus(const juce::String& text) {
    statusText_ = text;
    helpText_ = text;
    helpBox_->setText(text);
}

void TarvoEditor::restyle() {
    for (Widget* w : widgets_) w->repaint();
    repaint();
}

// ---- Frame state ------------------------------------------------------------------------

void TarvoEditor::updateTrackStrips() {
    const Ombrix& o = host_.instrument();
    for (int t = 0; t < layout::trackCount; ++t) {
        const int state = o.editor.view != EditorState::soundView ? 1 : (t == o.currentTrackIndex() ? 2 : 0);
        trackStrips_[static_cast<size_t>(t)]->setState(state);
    }
}

void TarvoEditor::updateMuteSolo() {
    const Ombrix& o = host_.instrument();
    const int mask = o.engine.muteMask.load();
    const int solo = o.engine.soloTrack.load();
    for (int t = 0; t < layout::trackCount; ++t) {
        const bool muted = ((mask >> t) & 1) != 0;
        muteButtons_[static_cast<size_t>(t)]->setOn(muted);
        soloButtons_[static_cast<size_t>(t)]->setOn(solo == t);
        // Silenced: another track is soloed, or, with none soloed, this one is muted.
        trackStrips_[static_cast<size_t>(t)]->setDim(solo >= 0 ? solo != t : muted);
    }
}

void TarvoEditor::updateDropDowns() {
    Ombrix& o = instrument();
    if (!o.presetName.empty()) {
        presetBrowser_->setLabel(juce::String::fromUTF8(o.presetName.c_str()));
        presetBrowser_->setMarker(o.presetModified());
    }
    for (int slot = 0; slot < 2; ++slot) {
        const Blob& blob = slotBlob(o, o.currentTrackIndex(), slot);
        FolderDropDown& selector = *blobSelectors_[static_cast<size_t>(slot)];
        // The name without the folders it lies in.
        const juce::String name =
            juce::String::fromUTF8(blob.name.c_str()).fromLastOccurrenceOf("/", false, false);
        selector.setLabel(blob.present != 0 ? name : juce::String(offBlobName));
        selector.setMarker(blob.present != 0 && blob.editCount > 0);
    }
}

void TarvoEditor::updateAnalyser() {
    Ombrix& o = instrument();
    AnalyserPanel& panel = *analyserPanel_;
    if (!panel.isVisible()) {
        if (o.importQueue.empty()) return;
        panel.setState(AnalyserPanel::waiting);
        panel.setVisible(true);
    } else if (panel.state() == AnalyserPanel::started && o.importIndex < 0) {
        host_.performEditorAction([](Ombrix& running) { running.importIndex = 0; });
    } else if (panel.state() == AnalyserPanel::cancelRequested && !o.importQueue.empty()) {
        host_.performEditorAction([](Ombrix& running) {
            running.importQueue.clear();
            running.importIndex = -1;
        });
    }
    if (o.importQueue.empty()) {
        panel.setVisible(false);
        return;
    }
    const int count = static_cast<int>(o.importQueue.size());
    const int index = o.importIndex;
    const juce::String file =
        index >= 0 && index < count
            ? juce::String::fromUTF8(o.importQueue[static_cast<size_t>(index)].file.c_str())
            : juce::String();
    panel.setProgress(count, index, file);
}

int TarvoEditor::percentFromSetting(const std::string& text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return layout::defaultPercent;
    const int percent = std::stoi(text);
    return percent >= layout::minimumPercent && percent <= layout::maximumPercent ? percent
                                                                                  : layout::defaultPercent;
}

void TarvoEditor::setSizePercent(int percent) {
    sizePercent_ = percent;
    const float scale = static_cast<float>(percent) / 100.0f;
    content_.setTransform(juce::AffineTransform::scale(scale));
    setSize(juce::roundToInt(layout::width * scale), juce::roundToInt(layout::height * scale));
}

void TarvoEditor::applyTheme() {
    Ombrix& o = instrument();
    // Loading reads the theme file only; it writes the settings only when a newly chosen theme
    // differs from the stored one, which opening the editor never does.
    o.editor.style.loadTheme(host_.setting(Settings::themeKey), nullptr);
    restyle();
}

void TarvoEditor::paint(juce::Graphics& g) {
    g.fillAll(juce::Colours::black);
    const juce::Colour main = toJuce(style().colorOf("main_bg"));
    if (main.getAlpha() == 0) return;
    g.setColour(main);
    const float scale = static_cast<float>(sizePercent_) / 100.0f;
    g.addTransform(juce::AffineTransform::scale(scale));
    g.fillRect(layout::topBar);
    g.fillRect(layout::bottomBar);
}

void TarvoEditor::resized() {}

juce::Component* TarvoEditor::find(const juce::String& id) {
    for (const auto& c : owned_)
        if (c->getComponentID() == id) return c.get();
    return nullptr;
}

const juce::String& TarvoEditor::helpText() const {
    return helpText_;
}

const std::string& TarvoEditor::styleHelpText() const {
    return styleHelpText_;
}

// ---- Display tick -----------------------------------------------------------------------

juce::Component* TarvoEditor::componentUnderPointer() {
    std::optional<juce::Point<int>> at = pointerOverride_;
    if (!at && content_.isMouseOver(true)) at = content_.getMouseXYRelative();
    if (!at) return nullptr;
    juce::Component* hit = content_.getComponentAt(*at);
    return hit == &content_ ? nullptr : hit;
}

void TarvoEditor::updateHelp() {
    juce::Component* under = componentUnderPointer();
    if (pointedKnown_ && under == pointed_) return;
    pointed_ = under;
    pointedKnown_ = true;
    juce::String text;
    styleHelpText_.clear();
    Widget* widget = nullptr;
    for (juce::Component* c = under; c != nullptr && c != &content_; c = c->getParentComponent())
        if ((widget = dynamic_cast<Widget*>(c)) != nullptr) break;
    if (widget != nullptr) {
        const juce::String name = widget->helpName();
        if (name.isNotEmpty()) {
            if (const juce::String* found = helpTextOf(name); found != nullptr) text = name + ": " + *found;
            styleHelpText_ = widget->styleId();
        }
    }
    helpText_ = text;
    helpBox_->setText(text);
    styleHelp_->setText(juce::String(styleHelpText_));
}

void TarvoEditor::updateUndoButtons() {
    const UndoHistory& history = host_.instrument().editor.undo;
    const int undo = history.undoCount(), redo = history.redoCount();
    if (undo != shownUndo_) {
        shownUndo_ = undo;
        undoButton_->setCountLabel(undo > 0 ? juce::String(undo) : juce::String(),
                                   {0.0f, 16.0f, countSquare, countSquare});
        undoButton_->setDisabled(undo == 0);
    }
    if (redo != shownRedo_) {
        shownRedo_ = redo;
        redoButton_->setCountLabel(redo > 0 ? juce::String(redo) : juce::String(),
                                   {16.0f, 16.0f, countSquare, countSquare});
        redoButton_->setDisabled(redo == 0);
    }
}

void TarvoEditor::showError() {
    EditorState& state = instrument().editor;
    const auto now = std::chrono::system_clock::now();
    if (state.errorText.empty() || state.errorTime <= shownErrorTime_ ||
        state.errorTime < now - errorFreshness)
        return;
    shownErrorTime_ = state.errorTime;
    if (isShowing())
        juce::AlertWindow::showMessageBoxAsync(juce::MessageBoxIconType::WarningIcon, "Error",
                                               juce::String::fromUTF8(state.errorText.c_str()));
    else
        showStatus(juce::String::fromUTF8(state.errorText.c_str()));
    state.errorText.clear();
}

void TarvoEditor::displayTick() {
    Ombrix& o = instrument();
    display_ = &o.editor.display.latest();
    showError();

    if (o.editor.view != shownView_ || sizePercent_ != shownPercent_) {
        shownView_ = o.editor.view;
        shownPercent_ = sizePercent_;
        restyleCountdown_ = restyleFrames;
    }
    if (o.editor.style.revision() != shownStyleRevision_) {
        shownStyleRevision_ = o.editor.style.revision();
        restyleCountdown_ = std::max(restyleCountdown_, 1);
    }
    if (restyleCountdown_ > 0) {
        --restyleCountdown_;
        restyle();
    }

    for (int k = 0; k < 4; ++k) {
        envTabs_[static_cast<size_t>(k)]->setStyleId(k == o.editor.envelope ? "envTab_on" : "envTab_off");
        lfoTabs_[static_cast<size_t>(k)]->setStyleId(k == o.editor.lfo ? "envTab_on" : "envTab_off");
    }
    const int lfo = std::clamp(o.editor.lfo, 0, ParamLayout::lfoCount - 1);
    const bool beatSync =
        o.engine.param(o.engine.layout.lfoBase[static_cast<size_t>(lfo)] + lfoBeatsync).value != 0.0f;
    if (o.editor.view == EditorState::modulateView) {
        lfoRate_->setVisible(!beatSync);
        lfoBeatRate_->setVisible(beatSync);
    }
    for (int k = 0; k < 3; ++k) toolButtons_[static_cast<size_t>(k)]->setValue(o.editor.tool == k);
    playButton_->setValue(static_cast<float>(o.seqRunning.load()));
    syncButton_->setValue(o.sequencer.param(StepSequencer::paramHostSync).value);
    updateMuteSolo();
    updateHelp();
    if (o.statusTime.time_since_epoch().count() != shownStatusTime_ && !o.statusText.empty()) {
        shownStatusTime_ = o.statusTime.time_since_epoch().count();
        showStatus(juce::String::fromUTF8(o.statusText.c_str()));
    }
    updateUndoButtons();
    updateDropDowns();
    updateAnalyser();

    for (Widget* w : widgets_)
        if (w->isVisible() && (w->getParentComponent() == &content_) &&
            (w->isShowing() || !content_.isOnDesktop()))
            w->tick();
}

// ---- Presets, Blob selectors, dialogs and drops -------------------------------------------

void TarvoEditor::askForFiles(const FileRequest& request,
                              std::function<void(const juce::Array<juce::File>&)> answer) {
    if (fileDialog_) {
        fileDialog_(request, std::move(answer));
        return;
    }
    request.folder.createDirectory();
    chooser_ = std::make_unique<juce::FileChooser>(request.title, request.folder, request.patterns);
    int flags = request.save
                    ? juce::FileBrowserComponent::saveMode | juce::FileBrowserComponent::warnAboutOverwriting
                    : juce::FileBrowserComponent::openMode;
    flags |= juce::FileBrowserComponent::canSelectFiles;
    if (request.several) flags |= juce::FileBrowserComponent::canSelectMultipleItems;
    juce::Component::SafePointer<TarvoEditor> self(this);
    chooser_->launchAsync(flags, [self, answer = std::move(answer)](const juce::FileChooser& chooser) {
        if (self == nullptr) return;
        juce::Array<juce::File> chosen;
        for (const juce::File& file : chooser.getResults())
            if (file != juce::File()) chosen.add(file);
        answer(chosen);
    });
}

void TarvoEditor::presetChosen(FolderDropDown& browser) {
    const juce::String chosen = browser.chosenText();
    const juce::File folder(juce::String(folderPath(Folder::Presets).string()));
    if (chosen == savePresetEntry) {
        askForFiles({"Save Preset", folder, "*.tarvo", true, false},
                    [this](const juce::Array<juce::File>& files) {
                        if (files.isEmpty()) return;
                        const juce::File file = files[0].withFileExtension("tarvo");
                        perform([&file](Ombrix& o) { savePreset(o, pathOf(file)); });
                    });
    } else if (chosen == showFolderEntry) {
        folder.createDirectory();
        folder.startAsProcess();
    } else if (browser.selectedPath().isNotEmpty()) {
        const std::filesystem::path file = browser.root() / browser.selectedPath().toStdString();
        perform([&file](Ombrix& o) { openPreset(o, file); });
    }
}

void TarvoEditor::blobChosen(FolderDropDown& selector, int slot) {
    const juce::String chosen = selector.chosenText();
    // The dialogs answer later: what they act on is fixed now.
    const int track = instrument().currentTrackIndex();
    const juce::File folder(juce::String(folderPath(Folder::Sounds).string()));
    if (chosen == saveBlobEntry) {
        askForFiles({"Save Blob", folder, "*.blob", true, false},
                    [this, track, slot](const juce::Array<juce::File>& files) {
                        if (files.isEmpty()) return;
                        const std::filesystem::path path = pathOf(files[0].withFileExtension("blob"));
                        perform([&](Ombrix& o) {
                            Blob& blob = slotBlob(o, track, slot);
                            if (!saveBlob(blob, path.string(), true)) {
                                o.setStatus("couldn't save Blob: " + path.string());
                                return;
                            }
                            blob.name = savedBlobName(path);
                            blob.editCount = 0;
                        });
                    });
    } else if (chosen == importEntry) {
        askForFiles({"Import Audio File(s)", juce::File(), importPatterns, false, true},
                    [this, track, slot](const juce::Array<juce::File>& files) {
                        if (files.isEmpty()) return;
                        std::vector<std::string> paths;
                        for (const juce::File& file : files) paths.push_back(pathOf(file).string());
                        perform([&](Ombrix& o) {
                            const int shown = o.currentTrack;
                            o.currentTrack = track;
                            importAudioPaths(o, paths, slot);
                            o.currentTrack = shown;
                            // Imported at once (not queued) into the shown track: an undo step. The
                            // history follows the shown track only.
                            if (o.importQueue.empty() && track == o.currentTrackIndex())
                                o.pushUndoSnapshot(false);
                        });
                    });
    } else if (chosen == showFolderEntry) {
        folder.createDirectory();
        folder.startAsProcess();
    } else if (chosen == disableEntry || chosen == enableEntry) {
        const bool enable = chosen == enableEntry;
        perform([&](Ombrix& o) {
            Blob& blob = slotBlob(o, track, slot);
            if (enable) blob.clear();
            blob.name = enable ? initBlobName : offBlobName;
            blob.present = enable ? 1 : 0;
            o.pushUndoSnapshot(false);
        });
    } else if (selector.selectedPath().isNotEmpty()) {
        const std::string name = selector.selectedPath().toStdString();
        selector.clearSelectedPath();
        perform([&](Ombrix& o) {
            std::string reason;
            if (!loadBlobIntoSlot(slotBlob(o, track, slot), name, reason)) {
                o.setStatus(reason);
                return;
            }
            o.pushUndoSnapshot(false);
        });
    }
}

bool TarvoEditor::isInterestedInFileDrag(const juce::StringArray&) {
    return true;
}

void TarvoEditor::filesDropped(const juce::StringArray& files, int x, int y) {
    const juce::Point<int> at = content_.getLocalPoint(this, juce::Point<int>(x, y));
    int track = -1, slot = -1;
    for (int t = 0; t < layout::trackCount; ++t)
        if (layout::trackStrip(t).contains(at)) track = t;
    for (int s = 0; s < 2; ++s)
        if (blobSelectors_[static_cast<size_t>(s)]->isVisible() &&
            blobSelectors_[static_cast<size_t>(s)]->getBounds().contains(at))
            slot = s;
    if (track < 0 && slot < 0) return;
    std::vector<std::string> paths;
    for (const juce::String& file : files) paths.push_back(file.toStdString());
    if (track >= 0) selectTrack(track, false);
    perform([&paths, slot](Ombrix& o) {
        importAudioPaths(o, paths, slot);
        if (o.importQueue.empty()) o.pushUndoSnapshot(false);
    });
}

// ---- Keys and the settings menu -----------------------------------------------------------

bool TarvoEditor::keyPressed(const juce::KeyPress& key) {
    const auto mods = key.getModifiers();
    const int code = key.getKeyCode();
    if (!mods.isCtrlDown() || mods.isAltDown() || (code != 'Z' && code != 'z')) return false;
    const int direction = mods.isShiftDown() ? 1 : -1;
    perform([direction](Ombrix& o) { o.undoStep(direction); });
    return true;
}

juce::StringArray TarvoEditor::settingsEntries() const {
    juce::StringArray entries{"Open Manual", "Show Product Info", "Show Theme Folder"};
    for (const int percent : layout::resizeChoices) {
        juce::String entry = "Resize UI|" + juce::String(percent) + "%";
        if (percent == sizePercent_) entry += " (current)";
        entries.add(entry);
    }
    juce::Array<juce::File> themes =
        juce::File(folderPath(Folder::Themes).string()).findChildFiles(juce::File::findFiles, false, "*.txt");
    themes.sort();
    for (const juce::File& theme : themes) entries.add(theme.getFileNameWithoutExtension());
    entries.add(StyleOwner::invertEntry);
    entries.add(StyleOwner::randomizeEntry);
    return entries;
}

void TarvoEditor::chooseSetting(const juce::String& entry) {
    Ombrix& o = instrument();
    if (entry == "Open Manual") {
        openManual();
    } else if (entry == "Show Product Info") {
        showProductInfo();
    } else if (entry == "Show Theme Folder") {
        const juce::File folder(folderPath(Folder::Themes).string());
        folder.createDirectory();
        folder.startAsProcess();
    } else if (entry.startsWith("Resize UI|")) {
        const int percent = entry.fromFirstOccurrenceOf("|", false, false).substring(0, 3).getIntValue();
        if (percent < layout::minimumPercent || percent > layout::maximumPercent) return;
        setSizePercent(percent);
        host_.storeSetting(Settings::sizeKey, std::to_string(percent));
    } else if (entry == StyleOwner::invertEntry) {
        o.editor.style.invertColours();
    } else if (entry == StyleOwner::randomizeEntry) {
        o.editor.style.randomizeColours();
    } else if (entry.isNotEmpty()) {
        const std::string file = (entry + ".txt").toStdString();
        if (o.editor.style.loadTheme(file, nullptr)) host_.storeSetting(Settings::themeKey, file);
    }
    restyle();
}

void TarvoEditor::openSettingsMenu() {
    juce::PopupMenu menu;
    std::map<juce::String, juce::PopupMenu> submenus;
    const juce::StringArray entries = settingsEntries();
    for (int i = 0; i < entries.size(); ++i) {
        const juce::String& entry = entries[i];
        if (entry.containsChar('|'))
            submenus[entry.upToFirstOccurrenceOf("|", false, false)].addItem(
                i + 1, entry.fromFirstOccurrenceOf("|", false, false));
        else
            menu.addItem(i + 1, entry);
        if (i == 2)
            for (auto& [name, sub] : submenus) menu.addSubMenu(name, sub);
    }
    // The resize entries come right after the fixed ones.
    juce::PopupMenu ordered;
    int index = 0;
    for (const juce::String& entry : entries) {
        ++index;
        if (entry.containsChar('|')) continue;
        ordered.addItem(index, entry);
        if (entry == "Show Theme Folder") ordered.addSubMenu("Resize UI", submenus["Resize UI"]);
        if (entry == "Show Theme Folder") ordered.addSeparator();
    }
    juce::Component::SafePointer<TarvoEditor> self(this);
    ordered.showMenuAsync(juce::PopupMenu::Options().withTargetComponent(find("settings")),
                          [self, entries](int chosen) {
                              if (self != nullptr && chosen > 0 && chosen <= entries.size())
                                  self->chooseSetting(entries[chosen - 1]);
                          });
}

void TarvoEditor::showProductInfo() {
    const auto& processor = *getAudioProcessor();
    const juce::String host =
        juce::File::getSpecialLocation(juce::File::hostApplicationPath).getFullPathName();
    const juce::String lines[] = {
        "(hit ctrl+c to copy this)",
        "",
        "Product: Tarvo",
        "Version: " TARVO_VERSION_STRING,
        "Format: " + juce::String(juce::AudioProcessor::getWrapperTypeDescription(processor.wrapperType)),
#if defined(__x86_64__) || defined(_M_X64)
        "Arch: x86-64",
#elif defined(__aarch64__) || defined(_M_ARM64)
        "Arch: arm64",
#else
        "Arch: unknown",
#endif
        "Host: " + (host.isNotEmpty() ? host : juce::String("unknown")),
        "OS: " + juce::SystemStats::getOperatingSystemName(),
        "Buffersize: " + juce::String(instrument().lastBlockSize.load()),
        "Samplerate: " + juce::String(processor.getSampleRate(), 6),
        "Channels: " + juce::String(processor.getTotalNumOutputChannels()),
    };
    juce::String text;
    for (const auto& line : lines) text += line + "\r\n";
    juce::AlertWindow::showMessageBoxAsync(juce::MessageBoxIconType::InfoIcon, "Product Info", text);
}

void TarvoEditor::openManual() {
    const std::filesystem::path path = folderPath(Folder::Data) / "Manual" / "Tarvo Manual.html";
    const juce::File manual(juce::String(path.string()));
    const juce::MemoryBlock shipped(TarvoEditorData::manual_html, TarvoEditorData::manual_htmlSize);
    juce::MemoryBlock installed;
    if (!manual.loadFileAsData(installed) || installed != shipped) {
        const auto* bytes = static_cast<const uint8_t*>(shipped.getData());
        if (const FileWriteResult written = writeFileAtomically(path, {bytes, shipped.getSize()}); !written) {
            showStatus(juce::String::fromUTF8(written.error.c_str()));
            return;
        }
    }
    if (!juce::URL(manual).launchInDefaultBrowser())
        showStatus("No browser opened the manual: " + manual.getFullPathName());
}

} // namespace tarvo
