// The folder drop-downs: the scan, the menu, the arrows; the preset browser and the Blob
// selectors with their dialogs (answered by the test); files dropped onto tracks and selectors.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "editor/EditorLayout.h"
#include "editor/FolderDropDown.h"
#include "editor/TarvoEditor.h"
#include "editor/WidgetHarness.h"
#include "engine/BlobSlots.h"
#include "host/TarvoProcessor.h"
#include "instrument/Presets.h"
#include "persistence/Folders.h"
#include "support/ScopedHome.h"
#include "tools/WavWriter.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

void touch(const fs::path& file) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "x";
}

struct Opened {
    TarvoProcessor processor;
    std::unique_ptr<juce::AudioProcessorEditor> window{processor.createEditor()};
    TarvoEditor& editor = dynamic_cast<TarvoEditor&>(*window);
    // The dialogs the editor opened, answered when the test says so.
    std::vector<std::pair<TarvoEditor::FileRequest, std::function<void(const juce::Array<juce::File>&)>>>
        dialogs;
    Opened() {
        editor.setFileDialog([this](const TarvoEditor::FileRequest& request, auto answer) {
            dialogs.emplace_back(request, std::move(answer));
        });
    }
    ~Opened() {
        processor.editorBeingDeleted(window.get());
        window.reset();
    }
    FolderDropDown& dropDown(const char* id) { return dynamic_cast<FolderDropDown&>(*editor.find(id)); }
    Ombrix& o() { return editor.instrument(); }
};

// The texts of a menu's entries, submenus as "name/" followed by their own entries.
std::vector<std::string> entriesOf(const juce::PopupMenu& menu, const std::string& prefix = "") {
    std::vector<std::string> texts;
    for (juce::PopupMenu::MenuItemIterator it(menu); it.next();) {
        const auto& item = it.getItem();
        if (item.isSeparator) continue;
        if (item.subMenu != nullptr) {
            for (const std::string& inner : entriesOf(*item.subMenu, prefix + item.text.toStdString() + "/"))
                texts.push_back(inner);
        } else {
            texts.push_back(prefix + item.text.toStdString());
        }
    }
    return texts;
}

int idOf(const juce::PopupMenu& menu, const juce::String& text) {
    for (juce::PopupMenu::MenuItemIterator it(menu, true); it.next();)
        if (it.getItem().text == text) return it.getItem().itemID;
    return 0;
}

struct DropRig {
    test::ScopedHome home;
    fs::path root = home.path() / "tree";
    WidgetHarness harness;
    FolderDropDown* dropDown;
    std::vector<juce::String> actions;
    DropRig() {
        dropDown =
            &harness.place(std::make_unique<FolderDropDown>("preset", "Preset Selector"), {0, 0, 160, 24});
        dropDown->setFolder(root, ".tarvo");
        dropDown->setFixedEntries([] {
            return juce::StringArray{"Save Preset", "Resize UI|100%", "Show Folder", "Resize UI|200%"};
        });
        dropDown->setAction(
            [this](FolderDropDown& d) { actions.push_back(d.chosenText() + " @" + d.selectedPath()); });
    }
};

TEST(FolderDropDown, FixedEntriesComeFirstAndFoldersBecomeSubmenus) {
    DropRig rig;
    touch(rig.root / "b.tarvo");
    touch(rig.root / "a.tarvo");
    touch(rig.root / "Kits" / "deep" / "c.tarvo");
    touch(rig.root / ".hidden.tarvo");
    touch(rig.root / ".trash" / "d.tarvo");
    touch(rig.root / "notes.txt");
    const juce::PopupMenu menu = rig.dropDown->buildMenu();
    EXPECT_EQ(entriesOf(menu), (std::vector<std::string>{"Save Preset", "Resize UI/100%", "Resize UI/200%",
                                                         "Show Folder", "a", "b", "Kits/deep/c"}));
    EXPECT_EQ(rig.dropDown->files(), (std::vector<std::string>{"a", "b", "Kits/deep/c"}));

    // A file is chosen by its path below the folder; a fixed entry by its full text.
    rig.dropDown->choose(idOf(menu, "c"));
    EXPECT_EQ(rig.dropDown->label(), "c");
    rig.dropDown->choose(idOf(menu, "200%"));
    rig.dropDown->choose(0); // dismissed
    EXPECT_EQ(rig.actions,
              (std::vector<juce::String>{"c @Kits/deep/c.tarvo", "Resize UI|200% @Kits/deep/c.tarvo"}));
}

TEST(FolderDropDown, ArrowsStepAndWrap) {
    DropRig rig;
    // Nothing to step through: the arrows do nothing.
    rig.dropDown->step(1);
    EXPECT_TRUE(rig.actions.empty());
    for (const char* name : {"a.tarvo", "b.tarvo", "sub/c.tarvo"}) touch(rig.root / name);
    // With nothing selected, back selects the last, forward the first.
    rig.dropDown->step(-1);
    EXPECT_EQ(rig.dropDown->label(), "c");
    EXPECT_EQ(rig.dropDown->selectedPath(), "sub/c.tarvo");
    rig.dropDown->step(1);
    EXPECT_EQ(rig.dropDown->label(), "a");
    rig.dropDown->step(1);
    rig.dropDown->step(1);
    EXPECT_EQ(rig.dropDown->label(), "c");
    rig.dropDown->step(1);
    EXPECT_EQ(rig.dropDown->label(), "a");
    rig.dropDown->step(-1);
    EXPECT_EQ(rig.dropDown->label(), "c");
    // The marker goes with every step; the arrows are the box's ends.
    rig.dropDown->setMarker(true);
    const auto right = mouseEvent(*rig.dropDown, {155.0f, 12.0f}, 0);
    rig.dropDown->mouseDown(right);
    rig.dropDown->mouseUp(right);
    EXPECT_EQ(rig.dropDown->label(), "a");
    EXPECT_FALSE(rig.dropDown->marker());
    EXPECT_EQ(rig.actions.size(), 7u);
    paintWidget(*rig.dropDown);
}

TEST(FolderDropDown, FilesRenamedOrDeletedBetweenOpeningsAreHandled) {
    DropRig rig;
    for (const char* name : {"a.tarvo", "b.tarvo", "c.tarvo"}) touch(rig.root / name);
    rig.dropDown->step(1);
    rig.dropDown->step(1);
    EXPECT_EQ(rig.dropDown->label(), "b");
    // The shown file is renamed: stepping starts again from the ends.
    fs::rename(rig.root / "b.tarvo", rig.root / "z.tarvo");
    rig.dropDown->step(1);
    EXPECT_EQ(rig.dropDown->label(), "a");
    // A menu chosen after its file was deleted still names that file; the owner finds it gone.
    const juce::PopupMenu menu = rig.dropDown->buildMenu();
    const int cId = idOf(menu, "c");
    fs::remove(rig.root / "c.tarvo");
    rig.dropDown->choose(cId);
    EXPECT_EQ(rig.dropDown->selectedPath(), "c.tarvo");
    // Everything deleted, folder too: only the fixed entries are left.
    fs::remove_all(rig.root);
    EXPECT_EQ(entriesOf(rig.dropDown->buildMenu()).size(), 4u);
    rig.dropDown->step(1);
    rig.dropDown->choose(cId); // a stale id of a list that is now empty
    EXPECT_EQ(rig.actions.size(), 4u);
}

TEST(FolderDropDown, ALinkToItsParentDoesNotLoop) {
    DropRig rig;
    touch(rig.root / "a.tarvo");
    touch(rig.root / "sub" / "b.tarvo");
    std::error_code error;
    fs::create_directory_symlink("..", rig.root / "sub" / "up", error);
    if (error) GTEST_SKIP() << "no links here: " << error.message();
    rig.dropDown->buildMenu();
    EXPECT_EQ(rig.dropDown->files(), (std::vector<std::string>{"a", "sub/b"}));
}

TEST(PresetBrowser, ChoosingLoadsSavingWritesAndTheNameShowsChanges) {
    const test::ScopedHome home;
    Opened opened;
    // Prepared, as a host does before it plays: a loaded preset's effect units are installed.
    opened.processor.prepareToPlay(44100.0, 512);
    Ombrix& o = opened.o();
    FolderDropDown& browser = opened.dropDown("presetBrowser");
    // Two presets of different tempi.
    o.sequencer.param(StepSequencer::paramBpm).set(97.0f);
    ASSERT_TRUE(savePreset(o, folderPath(Folder::Presets) / "Mine" / "Slow.tarvo"));
    o.sequencer.param(StepSequencer::paramBpm).set(141.0f);
    ASSERT_TRUE(savePreset(o, folderPath(Folder::Presets) / "Fast.tarvo"));

    const juce::PopupMenu menu = browser.buildMenu();
    EXPECT_EQ(entriesOf(menu), (std::vector<std::string>{"Save Preset", "Show Folder", "Fast", "Mine/Slow"}));
    browser.choose(idOf(menu, "Slow"));
    EXPECT_EQ(o.sequencer.param(StepSequencer::paramBpm).value, 97.0f);
    EXPECT_EQ(o.presetName, "Slow");
    opened.editor.displayTick();
    EXPECT_EQ(browser.label(), "Slow");
    EXPECT_FALSE(browser.marker());
    o.engine.param(o.engine.layout.trackBase[0] + trackDamping).set(60.0f);
    opened.editor.displayTick();
    EXPECT_TRUE(browser.marker());
    browser.step(-1); // from "Mine/Slow" back to "Fast"
    EXPECT_EQ(o.presetName, "Fast");
    EXPECT_EQ(o.sequencer.param(StepSequencer::paramBpm).value, 141.0f);

    // Save: the dialog answers later; a cancelled one writes nothing.
    browser.choose(idOf(browser.buildMenu(), "Save Preset"));
    ASSERT_EQ(opened.dialogs.size(), 1u);
    EXPECT_TRUE(opened.dialogs[0].first.save);
    opened.dialogs[0].second({});
    browser.choose(idOf(browser.buildMenu(), "Save Preset"));
    const juce::File target(juce::String((folderPath(Folder::Presets) / "New Kit").string()));
    opened.dialogs[1].second({target});
    EXPECT_TRUE(fs::exists(folderPath(Folder::Presets) / "New Kit.tarvo"));
    EXPECT_EQ(o.presetName, "New Kit");

    // A preset deleted while its menu was open: a status message, nothing else changes.
    const juce::PopupMenu stale = browser.buildMenu();
    fs::remove(folderPath(Folder::Presets) / "Fast.tarvo");
    browser.choose(idOf(stale, "Fast"));
    EXPECT_EQ(o.presetName, "New Kit");
    EXPECT_NE(o.statusText.find(openPresetFailedText), std::string::npos) << o.statusText;
}

TEST(BlobSelector, EntriesDisableEnableLoadAndSaveTheirSlot) {
    const test::ScopedHome home;
    Opened opened;
    Ombrix& o = opened.o();
    opened.editor.selectTrack(3, false);
    FolderDropDown& selectorB = opened.dropDown("blobSelectorB");
    auto slotB = [&](int track) -> Blob& {
        return o.engine.tracks[static_cast<size_t>(track)].blobs.slotB.working;
    };
    slotB(3).present = 1;
    slotB(3).name = "mine";

    // A Blob file to load, below a folder.
    Blob stored;
    stored.clear();
    stored.timeWarps[3][10] += 2.0f;
    stored.normalise();
    ASSERT_TRUE(saveBlob(stored, "Kicks/Deep Kick", false));

    auto entries = [&] { return entriesOf(selectorB.buildMenu()); };
    EXPECT_EQ(entries(), (std::vector<std::string>{"Save Blob", "Import Audio File(s)", "Show Folder",
                                                   "Disable", "Kicks/Deep Kick"}));
    selectorB.choose(idOf(selectorB.buildMenu(), "Disable"));
    EXPECT_EQ(slotB(3).present, 0);
    opened.editor.displayTick();
    EXPECT_EQ(selectorB.label(), "<off>");
    EXPECT_EQ(entries()[3], "Enable");
    selectorB.choose(idOf(selectorB.buildMenu(), "Enable"));
    EXPECT_EQ(slotB(3).present, 1);
    EXPECT_EQ(slotB(3).name, "init");

    // Loading a file: its name shows; an edit adds "*", loading another removes it.
    selectorB.choose(idOf(selectorB.buildMenu(), "Deep Kick"));
    EXPECT_EQ(slotB(3).name, "Deep Kick");
    EXPECT_TRUE(selectorB.selectedPath().isEmpty());
    opened.editor.displayTick();
    EXPECT_EQ(selectorB.label(), "Deep Kick");
    EXPECT_FALSE(selectorB.marker());
    slotB(3).editCount = 2;
    opened.editor.displayTick();
    EXPECT_TRUE(selectorB.marker());
    selectorB.choose(idOf(selectorB.buildMenu(), "Deep Kick"));
    opened.editor.displayTick();
    EXPECT_FALSE(selectorB.marker());

    // Save: the dialog keeps the track and slot it was opened for, even after a track change.
    slotB(3).timeWarps[2][5] += 1.0f;
    slotB(3).normalise();
    selectorB.choose(idOf(selectorB.buildMenu(), "Save Blob"));
    opened.editor.selectTrack(6, false);
    ASSERT_EQ(opened.dialogs.size(), 1u);
    opened.dialogs[0].second(
        {juce::File(juce::String((folderPath(Folder::Sounds) / "Saved" / "Edited").string()))});
    Blob reread;
    std::string reason;
    ASSERT_TRUE(readBlobFile(folderPath(Folder::Sounds) / "Saved" / "Edited.blob", reread, reason)) << reason;
    EXPECT_EQ(slotB(3).name, "Saved/Edited");
    opened.editor.selectTrack(3, false);
    opened.editor.displayTick();
    EXPECT_EQ(selectorB.label(), "Edited"); // without its folder
    EXPECT_EQ(slotB(3).editCount, 0);
    EXPECT_NE(slotB(6).name, "Saved/Edited");
    std::vector<uint8_t> a(Blob::byteSize), b(Blob::byteSize);
    slotB(3).serialize(a);
    reread.serialize(b);
    EXPECT_EQ(a, b);
}

TEST(BlobSelector, ImportsAndDropsReachTheTrackAndSlotTheyWereMeantFor) {
    const test::ScopedHome home;
    Opened opened;
    Ombrix& o = opened.o();
    std::vector<float> hit(2205);
    for (size_t i = 0; i < hit.size(); ++i)
        hit[i] = 0.5f * std::exp(-static_cast<float>(i) / 300.0f) * std::sin(0.06f * static_cast<float>(i));
    const fs::path input = home.path() / "input";
    fs::create_directories(input);
    for (const char* name : {"one.wav", "two.wav"})
        ASSERT_TRUE(tool::writeFloatWav((input / name).string(), hit, 1, 44100).ok);
    auto slot = [&](int track, int s) -> Blob& {
        TrackBlobs& blobs = o.engine.tracks[static_cast<size_t>(track)].blobs;
        return s == 0 ? blobs.slotA.working : blobs.slotB.working;
    };

    // The import dialog of selector A, opened on track 2, answered after a switch to track 5.
    opened.editor.selectTrack(1, false);
    FolderDropDown& selectorA = opened.dropDown("blobSelectorA");
    selectorA.choose(idOf(selectorA.buildMenu(), "Import Audio File(s)"));
    ASSERT_EQ(opened.dialogs.size(), 1u);
    EXPECT_TRUE(opened.dialogs[0].first.several);
    opened.editor.selectTrack(4, false);
    opened.dialogs[0].second({juce::File(juce::String((input / "one.wav").string()))});
    EXPECT_EQ(slot(1, 0).name, "0 User/one");
    EXPECT_NE(slot(4, 0).name, "0 User/one");
    EXPECT_EQ(o.currentTrackIndex(), 4);

    // Dropped onto track 7's strip: that track, the slot its Transform picks (A at 0).
    const juce::StringArray dropped{juce::String((input / "two.wav").string())};
    const auto strip7 = layout::trackStrip(6).getCentre();
    opened.editor.filesDropped(dropped, strip7.x, strip7.y);
    EXPECT_EQ(o.currentTrackIndex(), 6);
    EXPECT_EQ(slot(6, 0).name, "0 User/two");
    // The import is one undo step of the track.
    const std::string imported = slot(6, 0).name;
    EXPECT_EQ(o.editor.undo.undoCount(), 1);
    opened.editor.perform([](Ombrix& running) { running.undoStep(-1); });
    EXPECT_NE(slot(6, 0).name, imported);
    // Dropped onto selector B in the Sound view: slot B of the current track.
    opened.editor.setView(EditorState::soundView);
    const auto selectorB = layout::blobSelectorB.getCentre();
    opened.editor.filesDropped(dropped, selectorB.x, selectorB.y);
    EXPECT_EQ(slot(6, 1).name, "0 User/two");
    // Three files wait for the analyser panel; a drop elsewhere imports nothing.
    opened.editor.filesDropped(dropped, 400, 570);
    EXPECT_TRUE(o.importQueue.empty());
    const juce::StringArray three{dropped[0], juce::String((input / "one.wav").string()), dropped[0]};
    opened.editor.filesDropped(three, strip7.x, strip7.y);
    EXPECT_EQ(o.importQueue.size(), 3u);
}

} // namespace
} // namespace tarvo
