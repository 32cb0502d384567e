#include "engine/Ombrix.h"

#include <cstring>

namespace tarvo {

Ombrix::Ombrix() = default;
Ombrix::~Ombrix() = default;

void Ombrix::reset(float hostSampleRate) {
    if (hostSampleRate != sampleRate_) {
        sampleRate_ = hostSampleRate;
        engine.prepare(hostSampleRate);
    } else {
        engine.reset(0);
    }
}

void Ombrix::midiIn(const MidiMessage&) {}

void Ombrix::processBlock(float* const* outputs, int channelCount, int frames, const HostTransport&) noexcept {
    for (int c = 0; c < channelCount; ++c)
        if (outputs[c] != nullptr) std::memset(outputs[c], 0, sizeof(float) * static_cast<size_t>(frames));
}

std::string Ombrix::busName(bool isInput, int bus) {
    if (isInput) return {};
    return bus == 0 ? std::string("Main") : "Bus " + std::to_string(bus);
}

void Ombrix::paramChanged() {}

} // namespace tarvo
