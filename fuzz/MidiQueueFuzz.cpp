// The plug-in's MIDI queue and block loop driven by a hostile host.
// Input: flags (u8: host sync, sequencer running, host playing), tempo (f32), position
// (f64), then commands until the end: a byte below 0x80 queues a message (offset i16
// modulo 8448, status, data 1, data 2), a byte of 0x80 or more renders a block (frames u16
// modulo 8193, channel count u8 modulo 19).
// Checks: every rendered sample is finite and every queued message is dispatched once its
// block has come.

#include <cmath>
#include <memory>
#include <vector>

#include "fuzz/FuzzInput.h"
#include "instrument/Ombrix.h"

using tarvo::Ombrix;
using tarvo::StepSequencer;
using tarvo::fuzz::FuzzInput;

namespace {

constexpr float sampleRate = 44100.0f;
constexpr int maxFrames = 8192;
constexpr int channelLimit = 2 * Ombrix::maxOutputBuses;
// Offsets range over a little more than the largest block either way, so that messages for
// later blocks and late ones occur; two largest blocks after the input pass them all.
constexpr int offsetRange = maxFrames + 256;
constexpr int drainBlocks = 2;

// Kept out of line: the coverage ignore list names it, and inlined it would be traced again.
[[gnu::noinline]] bool allFinite(const float* samples, int count) {
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(samples[i])) return false;
    return true;
}

struct Rig {
    Ombrix plugin;
    std::vector<std::vector<float>> buffers{channelLimit, std::vector<float>(maxFrames)};
    std::vector<float*> channels;

    Rig() {
        plugin.reset(sampleRate);
        for (auto& b : buffers) channels.push_back(b.data());
    }

    void render(int frames, int channelCount, const tarvo::HostTransport& transport) {
        plugin.processBlock(channels.data(), channelCount, frames, transport);
        for (int c = 0; c < channelCount; ++c) TARVO_FUZZ_CHECK(allFinite(buffers[c].data(), frames));
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto rig = std::make_unique<Rig>();
    Ombrix& plugin = rig->plugin;
    // Same rate: clears voices and banks without preparing again.
    plugin.reset(sampleRate);
    plugin.sequencer.rewind();

    FuzzInput in(data, size);
    const uint8_t flags = in.u8();
    plugin.sequencer.param(StepSequencer::paramHostSync).set((flags & 1) != 0 ? 1.0f : 0.0f);
    plugin.seqRunning.store((flags & 2) != 0 ? 1 : 0);
    tarvo::HostTransport transport;
    transport.playing = (flags & 4) != 0;
    transport.tempoBpm = in.f32();
    transport.ppqPosition = in.f64();

    while (!in.empty()) {
        const uint8_t command = in.u8();
        if (command < 0x80) {
            tarvo::MidiMessage m;
            m.offset = static_cast<int16_t>(in.u16()) % offsetRange;
            m.status = in.u8();
            m.data1 = in.u8();
            m.data2 = in.u8();
            plugin.midiIn(m);
        } else {
            const int frames = in.u16() % (maxFrames + 1);
            const int channelCount = in.u8() % (channelLimit + 1);
            rig->render(frames, channelCount, transport);
        }
    }
    for (int i = 0; i < drainBlocks && plugin.queuedMidiCount() > 0; ++i)
        rig->render(maxFrames, channelLimit, transport);
    TARVO_FUZZ_CHECK(plugin.queuedMidiCount() == 0);
    return 0;
}
