#include "engine/BandSynth.h"

#include <algorithm>
#include <cstring>

namespace tarvo {

void BandSynth::prepare(float sampleRate) {
    sampleRate_ = sampleRate;
    reset(2);
}

void BandSynth::reset(uint32_t) {
    pendingHopSamples = 0;
}

void BandSynth::noteEvent(int note, float velocity, int channel) {
    if (eventTap != nullptr) eventTap->noteEvent(note, velocity, channel);
}

void BandSynth::polyPressure(float pressure, int note, int channel) {
    if (eventTap != nullptr) eventTap->polyPressure(pressure, note, channel);
}

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
    if (channelCount < 1 || outputs == nullptr) return;
    if (eventTap != nullptr) eventTap->subBlock(frames, offset);
    for (int c = 0; c < channelCount; ++c)
        if (outputs[c] != nullptr)
            std::memset(outputs[c] + offset, 0, sizeof(float) * static_cast<size_t>(frames));
    // Hop grid: output the samples left of the current hop; when they do not cover the rest of
    // the call, the next hop is made (silent until the voices render into it).
    for (int done = 0; done < frames;) {
        const int pending = pendingHopSamples;
        const int needed = frames - done;
        const int m = std::min(pending, needed);
        const bool newHop = pending < needed;
        done += m;
        pendingHopSamples = newHop ? hopSize : pending - m;
    }
}

} // namespace tarvo
