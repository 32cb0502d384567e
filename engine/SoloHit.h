#pragma once

#include <vector>

#include "engine/Blob.h"

namespace tarvo {

// One note of a Blob played on its own: track 1 of a fresh engine, slot B empty, every effect
// slot off, rendered in steps of one hop. This is how a sound is heard when it is measured
// (import fidelity, the factory sounds at every rate), so every measurement hears it alike.
// Any thread; allocates (a whole engine and the render).
struct SoloHitRender {
    std::vector<float> left;
    std::vector<float> right;
};

// velocity on the MIDI scale 0..127; seconds rounded to the nearest frame.
SoloHitRender renderSoloHit(const Blob& blob, double sampleRate, double seconds, double velocity);

} // namespace tarvo
