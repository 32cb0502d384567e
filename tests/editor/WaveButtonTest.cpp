// The track waveform buttons: their pictures follow the Blobs, the mix and the theme; a press
// plays the track's note and every press ends in a note-off.
#include "editor/WaveButton.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "control/ParamLayout.h"
#include "editor/WidgetHarness.h"

namespace tarvo {
namespace {

struct Sent {
    int track;
    bool on;
    bool operator==(const Sent&) const = default;
};

class WaveButtonTest : public ::testing::Test {
protected:
    WaveButton& button(int track) {
        return harness.place(std::make_unique<WaveButton>(track,
                                                          [this](int t, bool on) {
                                                              sent.push_back({t, on});
                                                          }),
                             {30, 4, 60, 48});
    }
    Track& track(int t) { return harness.instrument().engine.tracks[static_cast<size_t>(t)]; }
    bool paintsAnything(WaveButton& b) {
        const juce::Image image = paintWidget(b);
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                if (image.getPixelAt(x, y).getAlpha() != 0) return true;
        return false;
    }

    WidgetHarness harness;
    std::vector<Sent> sent;
};

TEST_F(WaveButtonTest, PressingTrackThreePlaysNote38AndReleasingStopsIt) {
    WaveButton& b = button(2);
    b.mouseDown(mouseEvent(b, {10, 10}, 0));
    b.mouseUp(mouseEvent(b, {10, 10}, 100));
    EXPECT_EQ(sent, (std::vector<Sent>{{2, true}, {2, false}}));

    const MidiMessage on = previewMessage(2, true), off = previewMessage(2, false);
    EXPECT_EQ(on.status, 0x90);
    EXPECT_EQ(on.data1, 38);
    EXPECT_EQ(on.data2, 100);
    EXPECT_EQ(off.status, 0x80);
    EXPECT_EQ(off.data1, 38);
    EXPECT_EQ(off.data2, 0);
}

TEST_F(WaveButtonTest, ClosingTheEditorWhileHeldReleasesTheNote) {
    std::vector<Sent> heard;
    {
        WaveButton held(5, [&](int t, bool on) { heard.push_back({t, on}); });
        held.mouseDown(mouseEvent(held, {1, 1}, 0));
    }
    EXPECT_EQ(heard, (std::vector<Sent>{{5, true}, {5, false}}));

    heard.clear();
    {
        WaveButton released(5, [&](int t, bool on) { heard.push_back({t, on}); });
        released.mouseDown(mouseEvent(released, {1, 1}, 0));
        released.mouseUp(mouseEvent(released, {1, 1}, 10));
    }
    EXPECT_EQ(heard.size(), 2u) << "no second note-off";
}

TEST_F(WaveButtonTest, ThePictureFollowsBlobsMixAndResolution) {
    WaveButton& b = button(0);
    track(0).blobs.slotA.working.clear();
    track(0).blobs.slotB.working.clear();
    b.tick();
    ASSERT_EQ(b.picture().size(), static_cast<int>(Widget::builtInStyle().valueOr("wave_resolution", 16)));
    for (int i = 0; i < b.picture().size(); ++i) EXPECT_NEAR(b.picture()[i], 0.5f, 1e-4f);
    EXPECT_TRUE(paintsAnything(b));

    const double first = b.picture().changedAt();
    b.tick();
    EXPECT_EQ(b.picture().changedAt(), first) << "nothing changed";

    // A Blob edit (its version moves) and a Transform change each recompute.
    for (auto& row : track(0).blobs.slotB.working.timeWarps)
        for (int j = 0; j < Blob::timeKnotCount; ++j)
            row[static_cast<size_t>(j)] = 96.0f * (j / 40.0f) * (j / 40.0f);
    ++track(0).blobs.slotB.working.version;
    juce::Thread::sleep(2);
    b.tick();
    const double second = b.picture().changedAt();
    EXPECT_GT(second, first);
    Param& transform = harness.instrument().engine.param(trackTransform);
    transform.set(transform.fromNormalized(0.9f));
    juce::Thread::sleep(2);
    b.tick();
    EXPECT_GT(b.picture().changedAt(), second);
    EXPECT_GT(b.picture()[0], b.picture()[b.picture().size() - 1]) << "mostly B, a short hit";
}

TEST_F(WaveButtonTest, ATrackWithoutSoundDrawsNothing) {
    WaveButton& b = button(1);
    track(1).blobs.slotA.working.present = 0;
    track(1).blobs.slotB.working.present = 0;
    b.tick();
    EXPECT_EQ(b.picture().size(), 0);
    EXPECT_FALSE(paintsAnything(b));
}

TEST_F(WaveButtonTest, MuteAndSoloDimTheButton) {
    WaveButton& b = button(3);
    Ombrix& ombrix = harness.instrument();
    struct Case {
        int mutes;
        int solo;
        bool dim;
    };
    const Case cases[] = {{0, -1, false}, {1 << 3, -1, true}, {0, 2, true}, {1 << 3, 3, false}};
    for (const Case& c : cases) {
        ombrix.engine.muteMask = static_cast<int16_t>(c.mutes);
        ombrix.engine.soloTrack = static_cast<int16_t>(c.solo);
        b.tick();
        EXPECT_EQ(b.isDim(), c.dim) << c.mutes << " " << c.solo;
    }
}

TEST_F(WaveButtonTest, APlayingVoiceLightsTheOutline) {
    WaveButton& b = button(0);
    track(0).blobs.slotA.working.clear();
    track(0).blobs.slotB.working.clear();
    b.tick();
    const juce::Image still = paintWidget(b);
    VoiceDisplay& voice = harness.shown.tracks[0].voices[0];
    voice.state = Voice::stateHeld;
    voice.readerPosition = 48.0f;
    voice.dynGain = 1.0f;
    b.tick();
    const juce::Image lit = paintWidget(b);
    int differing = 0;
    for (int y = 0; y < still.getHeight(); ++y)
        for (int x = 0; x < still.getWidth(); ++x)
            differing += still.getPixelAt(x, y) != lit.getPixelAt(x, y);
    EXPECT_GT(differing, 10) << "the outline rises around the playhead";
}

} // namespace
} // namespace tarvo
