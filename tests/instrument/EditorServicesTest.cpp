// The instrument's services for its editor: the undo history and the display snapshots.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "instrument/DisplaySnapshot.h"
#include "instrument/Ombrix.h"
#include "instrument/StateChunk.h"
#include "instrument/UndoHistory.h"

namespace tarvo {
namespace {

// A Blob told apart by one knot.
Blob marked(float knot) {
    Blob blob;
    blob.timeWarps[0][1] = knot;
    return blob;
}

TEST(UndoHistory, KeepsTheLatest89States) {
    UndoHistory history;
    EXPECT_FALSE(history.record(marked(0), marked(0), false)); // the first state starts it
    for (int i = 1; i <= 100; ++i)
        EXPECT_TRUE(history.record(marked(static_cast<float>(i)), marked(0), false));
    EXPECT_EQ(history.undoCount(), 88);
    EXPECT_EQ(history.redoCount(), 0);
    const UndoHistory::Entry* entry = nullptr;
    for (int i = 0; i < 88; ++i) ASSERT_NE(entry = history.step(-1), nullptr);
    EXPECT_FLOAT_EQ(entry->a.timeWarps[0][1], 12.0f);
    EXPECT_EQ(history.step(-1), nullptr); // beyond the oldest kept state
    EXPECT_EQ(history.undoCount(), 0);
    EXPECT_EQ(history.redoCount(), 88);
}

TEST(UndoHistory, RedoAfterUndoAndANewEditClearsRedo) {
    UndoHistory history;
    history.record(marked(1), marked(0), true);
    history.record(marked(2), marked(0), false);
    history.record(marked(3), marked(0), false);
    EXPECT_FLOAT_EQ(history.step(-1)->a.timeWarps[0][1], 2.0f);
    EXPECT_FLOAT_EQ(history.step(-1)->a.timeWarps[0][1], 1.0f);
    EXPECT_EQ(history.step(-1), nullptr);
    EXPECT_FLOAT_EQ(history.step(1)->a.timeWarps[0][1], 2.0f);
    EXPECT_EQ(history.redoCount(), 1);
    history.record(marked(4), marked(0), false);
    EXPECT_EQ(history.redoCount(), 0);
    EXPECT_EQ(history.step(1), nullptr);
    EXPECT_EQ(history.undoCount(), 2);
    // A restart (another track) forgets everything.
    history.record(marked(5), marked(0), true);
    EXPECT_EQ(history.undoCount(), 0);
    EXPECT_EQ(history.redoCount(), 0);
}

TEST(UndoHistory, TheInstrumentRestoresTheCurrentTracksBlobsAndCountsEdits) {
    Ombrix plugin;
    plugin.currentTrack = 2;
    Blob& a = plugin.engine.tracks[2].blobs.slotA.working;
    a.name = "before";
    plugin.pushUndoSnapshot(true);
    const int edits = plugin.presetEditCount.load();
    a.timeWarps[0][1] += 0.5f;
    a.name = "after";
    plugin.pushUndoSnapshot(false);
    EXPECT_EQ(plugin.presetEditCount.load(), edits + 1);
    const int32_t version = a.version;
    ASSERT_TRUE(plugin.undoStep(-1));
    EXPECT_EQ(a.name, "before");
    EXPECT_GT(a.version, version); // the audio thread picks the restored Blob up
    ASSERT_TRUE(plugin.undoStep(1));
    EXPECT_EQ(a.name, "after");
    EXPECT_FALSE(plugin.undoStep(1));
}

TEST(UndoHistory, AStateLoadIsOneUndoStepAndLeavesThePresetUnmodified) {
    Ombrix plugin;
    plugin.currentTrack = 1;
    Blob& a = plugin.engine.tracks[1].blobs.slotA.working;
    a.name = "loaded";
    const std::vector<uint8_t> chunk = saveState(plugin);
    a.name = "drawn by hand";
    plugin.pushUndoSnapshot(true);
    ASSERT_GT(readState(plugin, chunk.data(), static_cast<int>(chunk.size())), 0);
    EXPECT_EQ(a.name, "loaded");
    EXPECT_EQ(plugin.editor.undo.undoCount(), 1);
    EXPECT_FALSE(plugin.presetModified());
    // The hand-drawn sound the load replaced is one undo away.
    ASSERT_TRUE(plugin.undoStep(-1));
    EXPECT_EQ(a.name, "drawn by hand");
    // A refused chunk records nothing.
    const uint8_t damaged[] = {'n', 'o', 't', ' ', 'a', ' ', 's', 't', 'a', 't', 'e', 0};
    EXPECT_EQ(readState(plugin, damaged, sizeof damaged), 0);
    EXPECT_EQ(plugin.editor.undo.redoCount(), 1);
}

TEST(DisplayPublisher, TheReaderOnlyEverSeesWholeSnapshots) {
    DisplayPublisher publisher;
    EXPECT_EQ(publisher.latest().sequence, 0u); // nothing published yet
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 1; i <= 200000; ++i) {
            DisplaySnapshot& back = publisher.back();
            // Every field of one snapshot carries the same number.
            back.sequencerSteps = i;
            for (auto& track : back.tracks) track.sequencerPosition = i;
            back.meters.fill(static_cast<float>(i));
            publisher.publish();
        }
        done = true;
    });
    uint32_t lastSeen = 0;
    while (!done.load()) {
        const DisplaySnapshot& shown = publisher.latest();
        ASSERT_GE(shown.sequence, lastSeen);
        lastSeen = shown.sequence;
        if (shown.sequence == 0) continue;
        const auto value = static_cast<int>(shown.sequencerSteps);
        for (const auto& track : shown.tracks) ASSERT_EQ(track.sequencerPosition, value);
        ASSERT_EQ(shown.meters[17], static_cast<float>(value));
    }
    writer.join();
    EXPECT_EQ(publisher.latest().sequence, 200000u);
}

} // namespace
} // namespace tarvo
