// A stroke on the canvas while a note sounds reaches the audio thread through the Blob
// publication and changes the note as it plays, with nothing forbidden on the audio thread.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "engine/BlobTools.h"
#include "instrument/Ombrix.h"
#include "support/EngineDriver.h"
#include "support/RealtimeGuard.h"

namespace tarvo {
namespace {

using testsupport::AudioThreadScope;
using testsupport::OutputBuffers;
using testsupport::RealtimeGuard;

constexpr float rate = 44100.0f;
constexpr int blockFrames = 512;
// Blocks rendered: about 0.7 s, the even Blob's plane and the start of its tail.
constexpr int blockCount = 60;
// The stroke comes after this many blocks (about 0.12 s into the note).
constexpr int strokeBlock = 10;
constexpr CanvasRect canvas{180.0f, 76.0f, 612.0f, 506.0f};

// Renders a held note of track 1 (note C), optionally with a stroke of Attract below the canvas
// at band 20 after `strokeBlock` blocks: the frequency knots gather there, so the note's
// spectrum moves towards the low bands. Returns the left channel.
std::vector<float> heldNote(bool stroke) {
    auto plugin = std::make_unique<Ombrix>();
    plugin->reset(rate);
    plugin->skipFirstStart();
    plugin->currentTrack = 0;
    TrackBlobs& blobs = plugin->engine.tracks[0].blobs;
    blobs.slotA.working.clear();
    blobs.slotB.working.present = 0;
    plugin->handOverToAudio();

    OutputBuffers out;
    std::vector<float> left;
    plugin->midiIn({0, 0x90, 36, 110});
    RealtimeGuard::clear();
    for (int block = 0; block < blockCount; ++block) {
        if (stroke && block == strokeBlock) {
            // The user's side: a held Attract below the canvas for a second and a half, then the
            // idle tick's publication.
            BlobStroke s;
            s.setCanvas(canvas);
            const float x = canvas.left + canvas.width() * 20.0f / 80.0f;
            s.press(x, canvas.bottom + 10.0f, 0.0);
            for (int step = 1; step <= 30; ++step)
                s.hold(0.05 * step + 0.001, BlobTool::attract, 0.2f,
                       {&blobs.slotA.working, &blobs.slotB.working, 0.0f});
            EXPECT_TRUE(s.release());
            plugin->handOverToAudio();
        }
        {
            AudioThreadScope audio;
            plugin->processBlock(out.channels(), 2, blockFrames, {});
        }
        left.insert(left.end(), out.channels()[0], out.channels()[0] + blockFrames);
    }
    char report[160];
    RealtimeGuard::describe(report, sizeof report);
    EXPECT_EQ(RealtimeGuard::total(), 0) << report;
    return left;
}

// Energy of the difference between two signals over [from, to), relative to the first's.
double relativeDifference(const std::vector<float>& a, const std::vector<float>& b, size_t from, size_t to) {
    double difference = 0.0;
    double reference = 0.0;
    for (size_t i = from; i < to; ++i) {
        difference += (static_cast<double>(a[i]) - b[i]) * (static_cast<double>(a[i]) - b[i]);
        reference += static_cast<double>(a[i]) * a[i];
    }
    return reference > 0.0 ? difference / reference : 0.0;
}

TEST(BlobEditWhilePlaying, AStrokeChangesTheHeldNoteFromTheNextPublication) {
    const std::vector<float> plain = heldNote(false);
    const std::vector<float> edited = heldNote(true);
    ASSERT_EQ(plain.size(), edited.size());
    const size_t edit = static_cast<size_t>(strokeBlock) * blockFrames;
    // Until the stroke the two notes are the same sound, sample for sample.
    EXPECT_EQ(relativeDifference(plain, edited, 0, edit), 0.0);
    double energy = 0.0;
    for (size_t i = 0; i < edit; ++i) energy += static_cast<double>(plain[i]) * plain[i];
    EXPECT_GT(energy, 1e-3) << "the note sounds before the stroke";
    // After it, while the note still plays, it sounds clearly different.
    EXPECT_GT(relativeDifference(plain, edited, edit, edit + 20 * blockFrames), 0.1);
}

} // namespace
} // namespace tarvo
