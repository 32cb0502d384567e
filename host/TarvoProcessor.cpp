#include "host/TarvoProcessor.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>

#include "analysis/RandomKit.h"
#include "editor/TarvoEditor.h"
#include "instrument/Presets.h"
#include "instrument/StateChunk.h"
#include "persistence/Folders.h"
#include "tools/factory/FactoryContent.h"

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

// The factory presets built into the plug-in, in the order they ship: the programs.
const std::vector<const FactoryFile*>& factoryPresets() {
    static const std::vector<const FactoryFile*> presets = [] {
        std::vector<const FactoryFile*> found;
        for (const FactoryFile& file : factoryContent().files)
            if (file.folder == Folder::Presets) found.push_back(&file);
        return found;
    }();
    return presets;
}

// Bytes of the bypass flag that follows the chunk in the host's state.
constexpr int bypassFlagBytes = 4;

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

    float engineValue() const { return target_.value; }
    // The value the host parameter shows for the engine parameter's value.
    float shownValue() const {
        const auto& range = getNormalisableRange();
        return range.convertFrom0to1(range.convertTo0to1(target_.value));
    }

protected:
    // Any thread: the host or the editor changed the value. Param::set only stores floats.
    // Values that are not numbers are ignored. A value that only mirrors the engine's own
    // (our push, or the host echoing it back) is not set again: the round trip through the
    // normalized range would otherwise nudge the stored value.
    void valueChanged(float newValue) override {
        if (!std::isfinite(newValue) || newValue == shownValue()) return;
        target_.set(newValue);
    }

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
                return start + std::pow(std::clamp(n, 0.0f, 1.0f), exponent) * (end - start);
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
    ombrix_->shippedContent = &factoryContent();
    // The program list is built here: a host's first program change may come on the audio
    // thread, which must not build it.
    factoryPresets();
    addHostParameters();
    auto bypass = std::make_unique<juce::AudioParameterBool>(juce::ParameterID{"bypass", 1}, "Bypass", false);
    bypass_ = bypass.get();
    addParameter(bypass.release());
    setLatencySamples(noteLatencySamples);
    startTimer(idleTickMilliseconds);
}

TarvoProcessor::~TarvoProcessor() {
    closing_.store(true);
    stopTimer();
    while (ticksInFlight_.load() != 0) std::this_thread::yield();
}

void TarvoProcessor::timerCallback() {
    ticksInFlight_.fetch_add(1);
    if (!closing_.load()) runIdleTick();
    ticksInFlight_.fetch_sub(1);
}

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
    // Every activation resets the engine: a new rate prepares it, the same rate reseeds it.
    // Preparing reallocates what the idle tick works on, so the two never overlap; processing
    // is stopped meanwhile, so no audio callback waits here.
    const std::lock_guard<std::mutex> guard(uiMutex_);
    ombrix_->reset(static_cast<float>(sampleRate));
    // The effect units and Blobs a loaded state asks for go in now, not on a later tick, so
    // that playback starts the same way every time.
    ombrix_->handOverToAudio();
    bypassFadeFrames_ = std::max(1, static_cast<int>(std::lround(bypassFadeSeconds * sampleRate)));
    bypassFadePosition_ = bypass_->get() ? 0 : bypassFadeFrames_;
}

void TarvoProcessor::runIdleTick() {
    const std::lock_guard<std::mutex> guard(uiMutex_);
    loadSettingsOnce();
    // After a preparation, before any state load: factory content, then the start preset or
    // a random kit. The host hears about the loaded values at once.
    if (ombrix_->firstStart()) {
        ombrix_->handOverToAudio();
        pushParametersToHost();
    }
    if (const int program = pendingProgram_.exchange(-1); program >= 0 && loadProgram(program))
        pushParametersToHost();
    ombrix_->idleTick();
}

void TarvoProcessor::pushParametersToHost() {
    for (auto* parameter : hostParameters_) {
        auto& bound = static_cast<EngineParameter&>(*parameter);
        // The host parameter then holds exactly the value it shows for the engine's, which its
        // change callback recognises and does not hand back.
        if (bound.get() != bound.shownValue())
            bound.setValueNotifyingHost(bound.getNormalisableRange().convertTo0to1(bound.engineValue()));
    }
}

int TarvoProcessor::getNumPrograms() {
    return std::max(1, static_cast<int>(factoryPresets().size()));
}

const juce::String TarvoProcessor::getProgramName(int index) {
    const auto& presets = factoryPresets();
    if (index < 0 || index >= static_cast<int>(presets.size())) return defaultProgramName;
    const juce::String name = presetNameOf(presets[static_cast<size_t>(index)]->path);
    return name.isNotEmpty() ? name : juce::String(defaultProgramName);
}

void TarvoProcessor::setCurrentProgram(int index) {
    if (index < 0 || index >= static_cast<int>(factoryPresets().size())) return;
    currentProgram_.store(index);
    // Some hosts choose programs from their audio thread: the files wait for the idle tick.
    if (std::this_thread::get_id() == audioThread_.load()) {
        pendingProgram_.store(index);
        return;
    }
    const std::lock_guard<std::mutex> guard(uiMutex_);
    if (!loadProgram(index)) return;
    ombrix_->handOverToAudio();
    pushParametersToHost();
}

bool TarvoProcessor::loadProgram(int index) {
    const auto& presets = factoryPresets();
    if (index < 0 || index >= static_cast<int>(presets.size())) return false;
    const FactoryFile& preset = *presets[static_cast<size_t>(index)];
    Ombrix& plugin = *ombrix_;
    if (openPreset(plugin, folderPath(Folder::Presets) / preset.path)) return true;
    // The user's copy is gone or damaged: the built-in bytes, with what opening a file keeps.
    Param& hostSync = plugin.sequencer.param(StepSequencer::paramHostSync);
    const bool synced = hostSync.effective() != 0.0f;
    if (readState(plugin, preset.data, static_cast<int>(preset.size)) == 0) return false;
    hostSync.setNormalized(synced ? 1.0f : 0.0f);
    plugin.presetName = presetNameOf(preset.path);
    plugin.presetEditCount.store(0, std::memory_order_relaxed);
    return true;
}

bool TarvoProcessor::sendMidiFromEditor(const MidiMessage& message) {
    const auto scope = previewFifo_.write(1);
    if (scope.blockSize1 + scope.blockSize2 == 0) return false;
    previewNotes_[static_cast<size_t>(scope.blockSize1 > 0 ? scope.startIndex1 : scope.startIndex2)] =
        message;
    return true;
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

    audioThread_.store(std::this_thread::get_id(), std::memory_order_relaxed);

    // The editor's notes play at the start of the block, before the host's.
    {
        const auto scope = previewFifo_.read(previewFifo_.getNumReady());
        for (int i = 0; i < scope.blockSize1; ++i)
            ombrix_->midiIn(previewNotes_[static_cast<size_t>(scope.startIndex1 + i)]);
        for (int i = 0; i < scope.blockSize2; ++i)
            ombrix_->midiIn(previewNotes_[static_cast<size_t>(scope.startIndex2 + i)]);
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

    // The fade counts whole frames, so it ends exactly bypassFadeFrames_ after it starts.
    const int target = bypass_->get() ? 0 : bypassFadeFrames_;
    if (bypassFadePosition_ == target) {
        if (target == 0) buffer.clear();
        return;
    }
    const int fadeFrames = std::min(frames, std::abs(target - bypassFadePosition_));
    const int endPosition = bypassFadePosition_ + (target > bypassFadePosition_ ? fadeFrames : -fadeFrames);
    const auto gainAt = [this](int position) { return static_cast<float>(position) / bypassFadeFrames_; };
    for (int c = 0; c < channels; ++c) {
        buffer.applyGainRamp(c, 0, fadeFrames, gainAt(bypassFadePosition_), gainAt(endPosition));
        if (endPosition == 0) buffer.clear(c, fadeFrames, frames - fadeFrames);
    }
    bypassFadePosition_ = endPosition;
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

void TarvoProcessor::loadSettingsOnce() {
    if (settingsLoaded_) return;
    settingsLoaded_ = true;
    ombrix_->settings.load();
}

void TarvoProcessor::performEditorAction(const std::function<void(Ombrix&)>& action) {
    {
        const std::lock_guard<std::mutex> guard(uiMutex_);
        action(*ombrix_);
        ombrix_->handOverToAudio();
    }
    pushParametersToHost();
}

std::string TarvoProcessor::setting(const std::string& key) {
    const std::lock_guard<std::mutex> guard(uiMutex_);
    if (!settingsLoaded_) {
        const juce::File file(juce::String(Settings::filePath().string()));
        if (!file.existsAsFile()) return {};
        const auto pairs = Settings::parse(file.loadFileAsString().toStdString());
        const auto found = pairs.find(key);
        return found != pairs.end() ? found->second : std::string();
    }
    return ombrix_->settings.get(key);
}

void TarvoProcessor::storeSetting(const std::string& key, const std::string& value) {
    const std::lock_guard<std::mutex> guard(uiMutex_);
    loadSettingsOnce();
    ombrix_->setSetting(key, value);
}

juce::AudioProcessorEditor* TarvoProcessor::createEditor() {
    return new TarvoEditor(*this, *this);
}

void TarvoProcessor::getStateInformation(juce::MemoryBlock& destination) {
    std::vector<uint8_t> chunk;
    {
        const std::lock_guard<std::mutex> guard(uiMutex_);
        chunk = saveState(*ombrix_);
    }
    const juce::uint32 bypassed = bypass_->get() ? 1u : 0u;
    destination.setSize(chunk.size() + bypassFlagBytes);
    auto* out = static_cast<uint8_t*>(destination.getData());
    std::copy(chunk.begin(), chunk.end(), out);
    for (int b = 0; b < bypassFlagBytes; ++b)
        out[chunk.size() + static_cast<size_t>(b)] = static_cast<uint8_t>(bypassed >> (8 * b));
}

void TarvoProcessor::setStateInformation(const void* data, int sizeInBytes) {
    if (data == nullptr || sizeInBytes <= 0) return;
    const auto* bytes = static_cast<const uint8_t*>(data);
    int consumed = 0;
    {
        const std::lock_guard<std::mutex> guard(uiMutex_);
        consumed = readState(*ombrix_, bytes, sizeInBytes);
        if (consumed == 0) return;
        ombrix_->handOverToAudio();
    }
    // The state changed even when no bypass flag follows (a bare preset chunk): the host
    // must see the loaded values either way.
    pushParametersToHost();
    if (consumed + bypassFlagBytes <= sizeInBytes) {
        const bool bypassed = juce::ByteOrder::littleEndianInt(bytes + consumed) != 0;
        bypass_->setValueNotifyingHost(bypassed ? 1.0f : 0.0f);
    }
}

} // namespace tarvo
