#include "engine/BandSynth.h"

#include <cstring>

namespace tarvo {

void BandSynth::prepare(float sampleRate) {
    sampleRate_ = sampleRate;
    reset(2);
}

void BandSynth::reset(uint32_t) { pendingHopSamples = 0; }

void BandSynth::noteEvent(int, float, int) {}
void BandSynth::polyPressure(float, int, int) {}

void BandSynth::controller(int code, float value, int channel) {
    if (channel < 0 || channel >= midiChannelCount) return;
    ChannelControls& controls = channelControls[static_cast<size_t>(channel)];
    if (code == 0)
        controls.pitchBend = value;
    else if (code == 1)
        controls.aftertouch = value;
    else if (code == 1001)
        controls.modWheel = value;
}

void BandSynth::renderSubBlock(float* const* outputs, int frames, int channelCount, int offset) noexcept {
    for (int c = 0; c < channelCount; ++c)
        if (outputs[c] != nullptr) std::memset(outputs[c] + offset, 0, sizeof(float) * static_cast<size_t>(frames));
}

} // namespace tarvo
