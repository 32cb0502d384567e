#include "HostFixtures.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tarvo::hosttest {

std::vector<uint8_t> startKitState(const std::function<void(Ombrix&)>& edit) {
    TarvoProcessor processor;
    processor.setRateAndBufferSizeDetails(48000.0, 512);
    processor.prepareToPlay(48000.0, 512);
    processor.runIdleTick();
    if (edit) edit(processor.plugin());
    // The state as a host holds it after one reload: loading brings values that only a fresh
    // kit may hold (notes past the loop end) into their ranges once, so later round trips
    // compare like with like.
    juce::MemoryBlock block;
    processor.getStateInformation(block);
    TarvoProcessor reloaded;
    reloaded.setStateInformation(block.getData(), static_cast<int>(block.getSize()));
    reloaded.getStateInformation(block);
    const auto* bytes = static_cast<const uint8_t*>(block.getData());
    return {bytes, bytes + block.getSize()};
}

void playTrackOneOnSteps(Ombrix& plugin, const std::vector<int>& steps, bool hostSync) {
    StepSequencer& sequencer = plugin.sequencer;
    sequencer.clear(StepSequencer::allTracks);
    for (const int step : steps)
        sequencer.insertNote(0, step * StepSequencer::ticksPerStep, StepSequencer::ticksPerStep / 2, 120);
    sequencer.param(StepSequencer::paramHostSync).setNormalized(hostSync ? 1.0f : 0.0f);
    for (const auto id :
         {StepSequencer::paramSwing, StepSequencer::paramLooseTime, StepSequencer::paramLooseVelo})
        sequencer.param(id).set(0.0f);
}

namespace {

// The LV2 state as lilv writes it holds the plug-in's state as one base64 string literal after
// the "StateString" property: the literal is replaced.
juce::String replaceLv2StateString(const juce::String& ttl, const juce::String& base64) {
    const int property = ttl.indexOf("StateString");
    if (property < 0) return {};
    const int open = ttl.indexOfChar(property, '"');
    if (open < 0) return {};
    const bool longQuote = ttl.substring(open, open + 3) == "\"\"\"";
    const juce::String quote = longQuote ? "\"\"\"" : "\"";
    const int start = open + quote.length();
    const int close = ttl.indexOf(start, quote);
    if (close < 0) return {};
    return ttl.substring(0, start) + base64 + ttl.substring(close);
}

} // namespace

void loadPluginState(juce::AudioPluginInstance& instance, Format format, const std::vector<uint8_t>& state) {
    const juce::MemoryBlock raw(state.data(), state.size());
    juce::MemoryBlock wrapped;
    if (format == Format::vst3) {
        juce::XmlElement xml("VST3PluginState");
        xml.createNewChildElement("IComponent")->addTextElement(raw.toBase64Encoding());
        juce::AudioProcessor::copyXmlToBinary(xml, wrapped);
    } else {
        juce::MemoryBlock current;
        instance.getStateInformation(current);
        const juce::String ttl = replaceLv2StateString(current.toString(), raw.toBase64Encoding());
        wrapped.replaceAll(ttl.toRawUTF8(), ttl.getNumBytesAsUTF8());
    }
    instance.setStateInformation(wrapped.getData(), static_cast<int>(wrapped.getSize()));
}

juce::Optional<juce::AudioPlayHead::PositionInfo> SteadyTransport::getPosition() const {
    PositionInfo info;
    info.setBpm(bpm_);
    info.setPpqPosition(quarters_);
    info.setTimeInSeconds(quarters_ * 60.0 / bpm_);
    info.setTimeInSamples(static_cast<int64_t>(std::llround(quarters_ * 60.0 / bpm_ * sampleRate_)));
    info.setTimeSignature(juce::AudioPlayHead::TimeSignature{4, 4});
    info.setIsPlaying(true);
    return info;
}

std::optional<size_t> firstAbove(const std::vector<float>& samples, size_t from, size_t to, float threshold) {
    for (size_t i = from; i < std::min(to, samples.size()); ++i)
        if (std::fabs(samples[i]) >= threshold) return i;
    return std::nullopt;
}

float peakOf(const std::vector<float>& samples, size_t from, size_t to) {
    float peak = 0.0f;
    for (size_t i = from; i < std::min(to, samples.size()); ++i) peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

bool hasBadSamples(const Render& render) {
    for (const auto& channel : render)
        for (const float sample : channel)
            if (!std::isfinite(sample) ||
                (sample != 0.0f && std::fabs(sample) < std::numeric_limits<float>::min()))
                return true;
    return false;
}

} // namespace tarvo::hosttest
