#include "engine/SoloHit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>

#include "engine/BandSynth.h"

namespace tarvo {

namespace {
// The note that plays track 1.
constexpr int trackOneNote = 36;
} // namespace

SoloHitRender renderSoloHit(const Blob& blob, double sampleRate, double seconds, double velocity) {
    // The engine is large: on the heap, not the caller's stack.
    auto engine = std::make_unique<BandSynth>();
    BandSynth& synth = *engine;
    synth.prepare(static_cast<float>(sampleRate));
    for (int s = 0; s < ParamLayout::fxSlotCount; ++s)
        synth.param(synth.layout.fxSlotBase[static_cast<size_t>(s)] + fxPower).set(0.0f);
    Track& track = synth.tracks[0];
    track.blobs.slotA.working.copyFrom(blob, false);
    track.blobs.slotA.working.present = 1;
    track.blobs.slotB.working.present = 0;
    track.blobs.publish();

    synth.noteEvent(trackOneNote, static_cast<float>(velocity / 127.0), 0);
    const auto frames = static_cast<size_t>(std::llround(seconds * sampleRate));
    SoloHitRender out{std::vector<float>(frames), std::vector<float>(frames)};
    for (size_t done = 0; done < frames;) {
        const int n = static_cast<int>(std::min<size_t>(BandSynth::hopSize, frames - done));
        float* outputs[2] = {out.left.data() + done, out.right.data() + done};
        synth.renderSubBlock(outputs, n, 2, 0);
        done += static_cast<size_t>(n);
    }
    return out;
}

} // namespace tarvo
