#pragma once
// Offline playing of a loaded state: the sequencer runs on its own clock, blocks go through
// the whole plug-in object (MIDI queue, engine, mixer, effects) and idle ticks are interleaved
// as a host's timer would run them, so Blobs are published and effect units installed the
// way they are in a live session. Used by `tarvo render` and by the factory generator to
// measure the factory presets.
//
// Runs every callback of the plug-in on the calling thread, one after the other; allocates.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include "instrument/Ombrix.h"

namespace tarvo::tool {

struct RenderSettings {
    double seconds = 0.0;      // length of the render
    int sampleRate = 44100;    // Hz
    int blockFrames = 512;     // host block size
    int busCount = 1;          // stereo output buses, "Main" first
    double idleSeconds = 0.03; // audio time between two idle ticks, about a GUI timer's period
};

struct RenderResult {
    // One interleaved stereo buffer per bus.
    std::vector<std::vector<float>> buses;
    std::vector<float> peak;  // per bus, the largest absolute sample of both channels
    std::vector<float> rms;   // per bus, over both channels
    double seconds = 0.0;     // audio length
    double wallSeconds = 0.0; // time spent rendering, idle ticks included
};

// Seconds of `bars` bars of 4/4 at the sequencer's tempo.
inline double barSeconds(const Ombrix& plugin, double bars) {
    const float bpm = plugin.sequencer.param(StepSequencer::paramBpm).effective();
    return bars * 4.0 * 60.0 / std::max(bpm, 1.0f);
}

// Prepares the plug-in for the rate (the host's reset), runs one idle tick (which also runs a
// new instance's first start), then plays the pattern from its start for the settings' length.
inline RenderResult renderPattern(Ombrix& plugin, const RenderSettings& settings) {
    const int rate = std::max(settings.sampleRate, 1);
    const int block = std::max(settings.blockFrames, 1);
    const int busCount = std::clamp(settings.busCount, 1, Ombrix::maxOutputBuses);
    const auto total = static_cast<size_t>(std::max(0.0, std::round(settings.seconds * rate)));
    const auto idleFrames = static_cast<size_t>(std::max(1.0, settings.idleSeconds * rate));

    RenderResult result;
    result.seconds = static_cast<double>(total) / rate;
    const auto started = std::chrono::steady_clock::now();

    plugin.reset(static_cast<float>(rate));
    plugin.idleTick();
    // The render plays on the sequencer's own clock, whatever the state says about the host.
    plugin.sequencer.param(StepSequencer::paramHostSync).set(0.0f);
    plugin.setPlaying(1);

    std::vector<std::vector<float>> channels(2 * static_cast<size_t>(busCount), std::vector<float>(total));
    std::vector<float*> outputs(channels.size());
    const HostTransport transport{};
    size_t sinceIdle = 0;
    for (size_t done = 0; done < total;) {
        const size_t n = std::min(static_cast<size_t>(block), total - done);
        for (size_t c = 0; c < channels.size(); ++c) outputs[c] = channels[c].data() + done;
        plugin.processBlock(outputs.data(), static_cast<int>(outputs.size()), static_cast<int>(n), transport);
        done += n;
        sinceIdle += n;
        if (sinceIdle >= idleFrames) {
            plugin.idleTick();
            sinceIdle = 0;
        }
    }
    result.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    for (int bus = 0; bus < busCount; ++bus) {
        const std::vector<float>& left = channels[2 * static_cast<size_t>(bus)];
        const std::vector<float>& right = channels[2 * static_cast<size_t>(bus) + 1];
        std::vector<float> interleaved(2 * total);
        float peak = 0.0f;
        double energy = 0.0;
        for (size_t i = 0; i < total; ++i) {
            interleaved[2 * i] = left[i];
            interleaved[2 * i + 1] = right[i];
            // A sample that is not finite shows as an infinite peak rather than vanishing.
            const float loudest = std::max(std::fabs(left[i]), std::fabs(right[i]));
            peak = std::isfinite(left[i]) && std::isfinite(right[i]) ? std::max(peak, loudest) : INFINITY;
            energy += static_cast<double>(left[i]) * left[i] + static_cast<double>(right[i]) * right[i];
        }
        result.buses.push_back(std::move(interleaved));
        result.peak.push_back(peak);
        result.rms.push_back(total > 0 ? static_cast<float>(std::sqrt(energy / (2.0 * total))) : 0.0f);
    }
    return result;
}

} // namespace tarvo::tool
