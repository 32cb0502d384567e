#pragma once
// Shared pieces of the host tests: a state prepared in-process (the start kit with a chosen
// pattern and routing), handed to a loaded bundle in its format's own state form; a host
// transport; and the measurements made on rendered audio.

#include <juce_audio_processors/juce_audio_processors.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "host/TarvoProcessor.h"

namespace tarvo::hosttest {

enum class Format { vst3, lv2 };

// The host state of an in-process instance after its first start (the start preset, or a
// random kit when none is installed), changed by edit before it is saved. The result is the
// plug-in's own state: the chunk followed by the bypass flag.
std::vector<uint8_t> startKitState(const std::function<void(Ombrix&)>& edit = {});

// Pattern edit: every track emptied, track 0 playing notes at the given steps, no swing and
// no random timing or velocity, "Host Sync" as given.
void playTrackOneOnSteps(Ombrix& plugin, const std::vector<int>& steps, bool hostSync);

// Hands a plug-in state to a loaded instance, wrapped as its format's host keeps it.
void loadPluginState(juce::AudioPluginInstance& instance, Format format, const std::vector<uint8_t>& state);

// A host transport that runs at a fixed tempo from a start position; the test moves it on
// after each block.
class SteadyTransport final : public juce::AudioPlayHead {
public:
    SteadyTransport(double bpm, double startQuarters, double sampleRate)
        : bpm_(bpm), quarters_(startQuarters), sampleRate_(sampleRate) {}
    juce::Optional<PositionInfo> getPosition() const override;
    void advance(int frames) { quarters_ += frames / sampleRate_ * bpm_ / 60.0; }

private:
    double bpm_;
    double quarters_;
    double sampleRate_;
};

// Every channel of a render, one after the other per channel.
using Render = std::vector<std::vector<float>>;

// The first sample at or after from (and before to) whose magnitude reaches threshold.
std::optional<size_t> firstAbove(const std::vector<float>& samples, size_t from, size_t to, float threshold);

// The largest magnitude in [from, to).
float peakOf(const std::vector<float>& samples, size_t from = 0, size_t to = SIZE_MAX);

// Whether any sample is a NaN, an infinity or a denormal.
bool hasBadSamples(const Render& render);

} // namespace tarvo::hosttest
