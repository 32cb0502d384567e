#include "host/TarvoProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>

namespace tarvo {

namespace {

// Room for a parameter's display text, as the host name buffer of the parameter table.
constexpr int displayTextCapacity = 100;

juce::String displayText(const Param& param, float value, int maximumLength) {
    char text[displayTextCapacity];
    param.formatValue(text, displayTextCapacity, value);
    const juce::String shown = juce::String::fromUTF8(text);
    return maximumLength > 0 ? shown.substring(0, maximumLength) : shown;
}

// A typed number is read with the parameter's own conversion (decibels for the gains); text
// that is not a number stands for the default value.
float valueFromText(const Param& param, const juce::String& text) {
    const std::string typed = text.trim().toStdString();
    char* end = nullptr;
    const float number = std::strtof(typed.c_str(), &end);
    if (end == typed.c_str() || !std::isfinite(number)) return param.defaultValue;
    return param.fromText != nullptr ? param.fromText(number) : number;
}

juce::String hostName(const Param& param) {
    const juce::String name = juce::String::fromUTF8(param.name != nullptr ? param.name : "");
    if (param.group == nullptr || param.group[0] == '\0') return name;
    return juce::String::fromUTF8(param.group) + " " + name;
}

// A host parameter bound to one engine parameter: every value the host, its automation or the
// generic editor sets is handed on to the engine parameter.
class EngineParameter final : public juce::AudioParameterFloat {
public:
    EngineParameter(Param& target, const juce::String& name, juce::NormalisableRange<float> range)
        : juce::AudioParameterFloat(
              juce::ParameterID{hostParameterId(name), 1}, name, range,
              std::clamp(target.effective(), range.start, range.end),
              juce::AudioParameterFloatAttributes()
                  .withStringFromValueFunction([&target](float value, int maximumLength) {
                      return displayText(target, value, maximumLength);
                  })
                  .withValueFromStringFunction(
                      [&target](const juce::String& text) { return valueFromText(target, text); })),
          target_(target) {}

protected:
    // Any thread: the host or the editor changed the value. Param::set only stores floats.
    void valueChanged(float newValue) override { target_.set(newValue); }

private:
    Param& target_;
};

} // namespace

juce::NormalisableRange<float> hostRangeFor(const Param& param) {
    using Range = juce::NormalisableRange<float>;
    const float low = param.fromNormalized(0.0f);
    const float high = param.fromNormalized(1.0f);
    if (param.shape == Param::PowerCurve) {
        const float exponent = param.curve;
        return Range(
            low, high,
            [exponent](float start, float end, float n) {
                return start + std::pow(n, exponent) * (end - start);
            },
            [exponent](float start, float end, float value) {
                return std::pow(std::max(0.0f, (value - start) / (end - start)), 1.0f / exponent);
            });
    }
    if (param.shape == Param::Exponential && low > 0.0f && high > 0.0f) {
        return Range(
            low, high,
            [](float start, float end, float n) { return start * std::exp(std::log(end / start) * n); },
            [](float start, float end, float value) {
                return std::log(std::max(value, start) / start) / std::log(end / start);
            });
    }
    return Range(low, high);
}

juce::String hostParameterId(const juce::String& hostName) {
    juce::String id;
    bool wordStart = false;
    for (const juce::juce_wchar c : hostName) {
        if (!juce::CharacterFunctions::isLetterOrDigit(c)) {
            wordStart = true;
            continue;
        }
        if (id.isEmpty())
            id += juce::CharacterFunctions::toLowerCase(c);
        else
            id += wordStart ? juce::CharacterFunctions::toUpperCase(c) : c;
        wordStart = false;
    }
    return id;
}

TarvoProcessor::BusesProperties TarvoProcessor::makeBuses() {
    BusesProperties buses;
    for (int bus = 0; bus < Ombrix::maxOutputBuses; ++bus)
        buses = buses.withOutput(Ombrix::busName(false, bus), juce::AudioChannelSet::stereo(), bus == 0);
    return buses;
}

TarvoProcessor::TarvoProcessor() : juce::AudioProcessor(makeBuses()), ombrix_(std::make_unique<Ombrix>()) {
    addHostParameters();
    auto bypass = std::make_unique<juce::AudioParameterBool>(juce::ParameterID{"bypass", 1}, "Bypass", false);
    bypass_ = bypass.get();
    addParameter(bypass.release());
}

TarvoProcessor::~TarvoProcessor() = default;

void TarvoProcessor::addHostParameters() {
    auto& engine = ombrix_->engine;
    // Consecutive parameters of one group form one host group, so the host order stays the
    // order of the host indices.
    std::unique_ptr<juce::AudioProcessorParameterGroup> group;
    std::set<juce::String> groupIds;
    auto closeGroup = [this, &group] {
        if (group != nullptr) addParameterGroup(std::move(group));
        group.reset();
    };
    for (const int index : engine.hostParams) {
        Param& param = engine.param(index);
        const juce::String name = hostName(param);
        auto parameter = std::make_unique<EngineParameter>(param, name, hostRangeFor(param));
        hostParameters_.push_back(parameter.get());

        const juce::String groupName = juce::String::fromUTF8(param.group != nullptr ? param.group : "");
        if (groupName.isEmpty()) {
            closeGroup();
            addParameter(parameter.release());
            continue;
        }
        if (group == nullptr || group->getName() != groupName) {
            closeGroup();
            juce::String id = hostParameterId(groupName);
            for (int suffix = 2; groupIds.count(id) != 0; ++suffix)
                id = hostParameterId(groupName) + "_" + juce::String(suffix);
            groupIds.insert(id);
            group = std::make_unique<juce::AudioProcessorParameterGroup>(id, groupName, "|");
        }
        group->addChild(std::move(parameter));
    }
    closeGroup();
}

juce::RangedAudioParameter* TarvoProcessor::hostParameter(int hostIndex) const {
    if (hostIndex < 0 || hostIndex >= static_cast<int>(hostParameters_.size())) return nullptr;
    return hostParameters_[static_cast<size_t>(hostIndex)];
}

void TarvoProcessor::prepareToPlay(double sampleRate, int) {
    ombrix_->reset(static_cast<float>(sampleRate));
    bypassGainStep_ = static_cast<float>(1.0 / std::max(1.0, bypassFadeSeconds * sampleRate));
    bypassGain_ = bypass_->get() ? 0.0f : 1.0f;
}

void TarvoProcessor::processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midi) {
    juce::ScopedNoDenormals noDenormals;
    const int frames = buffer.getNumSamples();
    const int channels = std::min(buffer.getNumChannels(), Ombrix::maxOutputBuses * channelsPerBus);
    for (int c = channels; c < buffer.getNumChannels(); ++c) buffer.clear(c, 0, frames);
    if (frames <= 0) return;

    // Before the first activation there is nothing to render with.
    if (ombrix_->sampleRate() <= 0.0f) {
        buffer.clear();
        return;
    }

    for (const auto event : midi) {
        if (event.numBytes < 1) continue;
        MidiMessage message;
        message.offset = std::max(0, event.samplePosition);
        message.status = event.data[0];
        message.data1 = event.numBytes > 1 ? event.data[1] : 0;
        message.data2 = event.numBytes > 2 ? event.data[2] : 0;
        ombrix_->midiIn(message);
    }

    HostTransport transport;
    if (auto* head = getPlayHead()) {
        if (const auto position = head->getPosition()) {
            if (const auto bpm = position->getBpm(); bpm && std::isfinite(*bpm) && *bpm > 0.0)
                transport.tempoBpm = *bpm;
            if (const auto ppq = position->getPpqPosition(); ppq && std::isfinite(*ppq))
                transport.ppqPosition = *ppq;
            transport.playing = position->getIsPlaying();
        }
    }
    // The engine keeps running while bypassed, so that the sequencer stays in time with the host
    // and note offs and transport notes sent meanwhile are not lost.
    ombrix_->processBlock(buffer.getArrayOfWritePointers(), channels, frames, transport);

    const float targetGain = bypass_->get() ? 0.0f : 1.0f;
    if (bypassGain_ == targetGain) {
        if (targetGain == 0.0f) buffer.clear();
        return;
    }
    // Fade linearly towards the target; the fade may end inside this block.
    const float distance = std::fabs(targetGain - bypassGain_);
    const bool fadeEnds = distance <= frames * bypassGainStep_;
    const int fadeFrames =
        fadeEnds ? std::clamp(static_cast<int>(std::ceil(distance / bypassGainStep_)), 1, frames) : frames;
    const float endGain =
        fadeEnds ? targetGain
                 : bypassGain_ + std::copysign(frames * bypassGainStep_, targetGain - bypassGain_);
    for (int c = 0; c < channels; ++c) {
        buffer.applyGainRamp(c, 0, fadeFrames, bypassGain_, endGain);
        if (endGain == 0.0f) buffer.clear(c, fadeFrames, frames - fadeFrames);
    }
    bypassGain_ = endGain;
}

bool TarvoProcessor::isBusesLayoutSupported(const BusesLayout& layouts) const {
    for (const auto& input : layouts.inputBuses)
        if (!input.isDisabled()) return false;
    const int busCount = layouts.outputBuses.size();
    if (busCount < 1 || busCount > Ombrix::maxOutputBuses) return false;
    // One to nine stereo buses, always starting with the main bus and without gaps.
    bool pastLastEnabled = false;
    for (int bus = 0; bus < busCount; ++bus) {
        const auto& set = layouts.outputBuses.getReference(bus);
        if (set.isDisabled()) {
            if (bus == 0) return false;
            pastLastEnabled = true;
        } else if (pastLastEnabled || set != juce::AudioChannelSet::stereo()) {
            return false;
        }
    }
    return true;
}

juce::AudioProcessorEditor* TarvoProcessor::createEditor() {
    return new juce::GenericAudioProcessorEditor(*this);
}

void TarvoProcessor::getStateInformation(juce::MemoryBlock&) {}

void TarvoProcessor::setStateInformation(const void*, int) {}

} // namespace tarvo
