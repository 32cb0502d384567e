// The engine's parameter table: every parameter's name, mapping, range, default, display
// and host flag, block by block, plus the modulation target lists and the host list.
#include <cstdio>
#include <iterator>

#include "control/LfoBeatRates.h"
#include "engine/BandSynth.h"

namespace tarvo {
namespace {

// Parameters of a track block that modulation can reach, in target order.
constexpr int trackTargetOffsets[] = {trackTimescale, trackFrequency, trackContrast, trackTransform,
                                      trackDensity,   trackAmp,       trackPan,      trackWidth,
                                      trackFilter,    trackClip,      trackSend1,    trackSend2};
constexpr int trackTargetCount = static_cast<int>(std::size(trackTargetOffsets));
// Every modulation target: the global block, then each track's targets.
constexpr int modTargetCount = ParamLayout::globalStride + ParamLayout::trackCount * trackTargetCount;

// Text capacities, including the terminating zero.
constexpr int trackGroupCapacity = 8;
constexpr int envGroupCapacity = 16;
constexpr int lfoGroupCapacity = 16;
constexpr int modGroupCapacity = 8;
constexpr int outputTextsCapacity = 128;
constexpr int beatRateCapacity = 8;
constexpr int sourceNameCapacity = 16;
constexpr int targetLabelCapacity = 32;

// Output buses a track can feed besides "Main".
constexpr int outputBusCount = 8;
constexpr int outputTextCount = outputBusCount + 1;
// Modulation sources: none, four envelopes, four LFOs and six fixed sources.
constexpr int modSourceCount = 15;

const char* const modelTexts[] = {"None", "Transform",    "Timescale",  "Contrast", "Kick", "Snare",
                                  "Tom",  "Hihat Closed", "Hihat Open", "Crash",    "Piano"};
const char* const scalerTexts[] = {"-", "Velocity", "Mod Wheel", "Pitchbend", "Aftertouch", "Note Octave"};

// Group labels and value texts that do not depend on a table, formatted once and shared
// by every engine instance (a function-local static, so the first construction on any
// thread builds them exactly once).
struct SharedTexts {
    char trackGroups[ParamLayout::trackCount][trackGroupCapacity];
    char envGroups[ParamLayout::envCount][envGroupCapacity];
    char lfoGroups[ParamLayout::lfoCount][lfoGroupCapacity];
    char modGroups[ParamLayout::modSlotCount][modGroupCapacity];
    char outputBuffer[outputTextsCapacity];
    const char* outputTexts[outputTextCount];
    char beatRateBuffers[lfoBeatRateCount][beatRateCapacity];
    const char* beatRateTexts[lfoBeatRateCount];
    char sourceBuffers[modSourceCount][sourceNameCapacity];
    const char* sourceTexts[modSourceCount];

    SharedTexts() {
        for (int t = 0; t < ParamLayout::trackCount; ++t)
            std::snprintf(trackGroups[t], trackGroupCapacity, "Track %d", t + 1);
        for (int k = 0; k < ParamLayout::envCount; ++k)
            std::snprintf(envGroups[k], envGroupCapacity, "Env%d", k + 1);
        for (int k = 0; k < ParamLayout::lfoCount; ++k)
            std::snprintf(lfoGroups[k], lfoGroupCapacity, "LFO%d", k + 1);
        for (int j = 0; j < ParamLayout::modSlotCount; ++j)
            std::snprintf(modGroups[j], modGroupCapacity, "Mod%d", j + 1);

        // "Main", "Bus 1" ... "Bus 8", one after the other in one buffer.
        int used = 0;
        for (int bus = 0; bus < outputTextCount; ++bus) {
            char* text = outputBuffer + used;
            const int room = outputTextsCapacity - used;
            const int length = bus == 0 ? std::snprintf(text, static_cast<size_t>(room), "Main")
                                        : std::snprintf(text, static_cast<size_t>(room), "Bus %d", bus);
            outputTexts[bus] = text;
            used += length + 1;
        }

        for (int r = 0; r < lfoBeatRateCount; ++r) {
            std::snprintf(beatRateBuffers[r], beatRateCapacity, "%d/%d", lfoBeatRateNumerators[r],
                          lfoBeatRateDenominators[r]);
            beatRateTexts[r] = beatRateBuffers[r];
        }

        static const char* const fixedSources[] = {"Constant",   "BPM Octave",  "Noise White",
                                                   "Noise Pink", "Noise Brown", "Noise Hold"};
        int s = 0;
        std::snprintf(sourceBuffers[s++], sourceNameCapacity, "-");
        for (int k = 1; k <= ParamLayout::envCount; ++k)
            std::snprintf(sourceBuffers[s++], sourceNameCapacity, "Env %d", k);
        for (int k = 1; k <= ParamLayout::lfoCount; ++k)
            std::snprintf(sourceBuffers[s++], sourceNameCapacity, "LFO %d", k);
        for (const char* name : fixedSources)
            std::snprintf(sourceBuffers[s++], sourceNameCapacity, "%s", name);
        for (int i = 0; i < modSourceCount; ++i) sourceTexts[i] = sourceBuffers[i];
    }
};

const SharedTexts& sharedTexts() {
    static const SharedTexts texts;
    return texts;
}

// The modulation slots' "Target" texts, "group|name" of each target. Every engine builds
// the same table, so the first construction formats them and all instances share them.
struct TargetTexts {
    char buffers[modTargetCount][targetLabelCapacity];
    const char* texts[modTargetCount];

    TargetTexts(const std::vector<Param>& params, const std::vector<int>& targets) {
        for (int v = 0; v < modTargetCount; ++v) {
            const Param& p = params[static_cast<size_t>(targets[static_cast<size_t>(v)])];
            std::snprintf(buffers[v], targetLabelCapacity, "%s%s%s", p.group != nullptr ? p.group : "",
                          p.group != nullptr ? "|" : "", p.name);
            texts[v] = buffers[v];
        }
    }
};

const TargetTexts& targetTexts(const std::vector<Param>& params, const std::vector<int>& targets) {
    static const TargetTexts texts(params, targets);
    return texts;
}

void defineGlobalParams(Param* p) {
    constexpr const char* group = "Global";
    p[globalAmp].init(Param::Linear, -100, 100, 0, "%.0f", "Amp", 1, true, group);
    p[globalAmp].setSnapValues(0);
    p[globalTimescale].init(Param::Exponential, 0.125f, 8, 0, "%.2f", "Timescale", 1, true, group);
    p[globalTimescale].setSnapValues(1);
    p[globalFrequency].init(Param::Linear, -800, 800, 0, "%+.0f mel", "Frequency", 0, true, group);
    p[globalFrequency].setSnapValues(0);
    p[globalContrast].init(Param::Linear, -100, 100, 0, "%+.0f", "Contrast", 0, true, group);
    p[globalContrast].setSnapValues(0);
    p[globalTransform].init(Param::Linear, -100, 100, 0, "%.1f", "Transform", 0, true, group);
    p[globalTransform].setSnapValues(0, 100);
    p[globalDensity].init(Param::Linear, -100, 100, 0, "%+.0f", "Density", 0, true, group);
    p[globalDensity].setSnapValues(0);
}

// Gains in decibels: shown as dB, typed as dB.
void defineGain(Param& p, const char* name, float defaultGain) {
    p.init(Param::PowerCurve, 0, 4, 2, nullptr, name, defaultGain, true, nullptr);
    p.toText = formatDecibels;
    p.fromText = decibelsToGain;
}

void defineTrackParams(Param* p, const SharedTexts& texts) {
    defineGain(p[trackAmp], "Amp", 1);
    p[trackAmp].setSnapValues(1);
    p[trackPan].init(Param::Linear, -100, 100, 0, "%.0f%%", "Pan", 0, true, nullptr);
    p[trackPan].toText = formatPan;
    p[trackPan].setSnapValues(0);
    p[trackFilter].init(Param::Linear, -100, 100, 0, "%.0f", "Filter", 0, true, nullptr);
    p[trackFilter].setSnapValues(0);
    p[trackClip].init(Param::Linear, 0, 100, 0, "%.0f", "Clip", 0, true, nullptr);
    defineGain(p[trackSend1], "Send 1", 0);
    defineGain(p[trackSend2], "Send 2", 0);
    p[trackOutput].init(Param::Stepped, 0, outputBusCount, 0, "%.0f", "Output", 0, false, nullptr);
    p[trackOutput].setValueTexts(texts.outputTexts, outputTextCount);
    p[trackWidth].init(Param::Linear, 0, 100, 0, "%.0f%%", "Width", 25, true, nullptr);
    p[trackTimescale].init(Param::Exponential, 0.125f, 8, 0, "%.2f", "Timescale", 1, true, nullptr);
    p[trackTimescale].setSnapValues(1);
    p[trackFrequency].init(Param::Linear, -800, 800, 0, "%+.0f mel", "Frequency", 0, true, nullptr);
    p[trackFrequency].setSnapValues(0);
    p[trackContrast].init(Param::Linear, -100, 100, 0, "%+.0f", "Contrast", 0, true, nullptr);
    p[trackContrast].setSnapValues(0);
    p[trackTransform].init(Param::Linear, 0, 100, 0, "%.0f", "Transform", 0, true, nullptr);
    p[trackModel].init(Param::Stepped, 0, 10, 0, "%.0f", "Model", 0, false, nullptr);
    p[trackModel].setValueTexts(modelTexts, static_cast<int32_t>(std::size(modelTexts)));
    p[trackDynamics].init(Param::Linear, 0, 100, 0, "%.0f%%", "Dynamics", 50, false, nullptr);
    p[trackDensity].init(Param::Linear, -100, 100, 0, "%+.0f", "Density", 0, true, nullptr);
    p[trackDensity].setSnapValues(0);
    p[trackSeedMode].init(Param::Stepped, 0, 1, 0, "Free|Frozen", "Seed Mode", 0, false, nullptr);
    p[trackSeed].init(Param::Stepped, 0, 999, 0, "%.0f", "Seed", 666, false, nullptr);
    p[trackPolyphony].init(Param::Stepped, 1, 4, 0, "%.0f", "Polyphony", 1, false, nullptr);
    p[trackRelease].init(Param::Exponential, 0.01f, 100, 0, "%4.2f s", "Release", 10, false, nullptr);
    p[trackDamping].init(Param::Linear, 0, 100, 0, "%.0f%%", "Damping", 25, false, nullptr);
}

void defineEnvelopeParams(Param* p, int k, const char* group) {
    // Later envelopes decay more slowly: 0.3 s, 0.6 s, 0.9 s, 1.2 s.
    const auto decay = static_cast<float>(0.3 * (k + 1));
    p[envInitial].init(Param::Linear, 0, 1, 0, "%.3f", "Initial", 0.2f, false, group);
    p[envAttack].init(Param::PowerCurve, 0, 5000, 4, "%.0f ms", "Attack", 10, false, group);
    p[envDecay].init(Param::PowerCurve, 0.01f, 10, 3, "%.2f s", "Decay", decay, false, group);
    p[envSustain].init(Param::Linear, 0, 1, 0, "%.3f", "Sustain", 0.5f, false, group);
    p[envRelease].init(Param::PowerCurve, 0.01f, 10, 3, "%.2f s", "Release", 0.2f, false, group);
    p[envAttackShape].init(Param::Linear, -1, 1, 0, "%.2f", "Attack Shape", -0.5f, false, group);
    p[envDecayShape].init(Param::Linear, -1, 1, 0, "%.2f", "Decay Shape", 0.3f, false, group);
    p[envReleaseShape].init(Param::Linear, -1, 1, 0, "%.2f", "Release Shape", 0.5f, false, group);
}

void defineLfoParams(Param* p, const char* group, const SharedTexts& texts) {
    // The default beat rate is a quarter note.
    constexpr float quarterNote = 7;
    p[lfoBeatsync].init(Param::Stepped, 0, 1, 0, "off|on", "Beatsync", 0, false, group);
    p[lfoRate].init(Param::PowerCurve, 0.01f, 20, 2, "%3.2f Hz", "Rate", 0.25f, false, group);
    p[lfoBeatRate].init(Param::Stepped, 0, lfoBeatRateCount - 1, 0, "%.0f", "Beat Rate", quarterNote, false,
                        group);
    p[lfoBeatRate].setValueTexts(texts.beatRateTexts, lfoBeatRateCount);
    p[lfoLoop].init(Param::Stepped, 0, 1, 0, "off|on", "Loop", 1, false, group);
    p[lfoRetrigger].init(Param::Stepped, 0, 1, 0, "off|on", "Retrigger", 0, false, group);
    p[lfoPerVoice].init(Param::Stepped, 0, 1, 0, "off|on", "Per Voice", 0, false, group);
}

void defineModSlotParams(Param* p, int j, const char* group, const SharedTexts& texts,
                         const TargetTexts& targets) {
    p[modSource].init(Param::Stepped, 0, modSourceCount - 1, 0, "%.0f", "Source", 0, false, group);
    p[modSource].setValueTexts(texts.sourceTexts, modSourceCount);
    p[modAmount].init(Param::Linear, -1, 1, 0, "%+.3f", "Amount", 0, true, group);
    p[modAmount].setSnapValues(0);
    p[modScaler].init(Param::Stepped, 0, static_cast<float>(std::size(scalerTexts) - 1), 0, "%.0f", "Scaler",
                      0, false, group);
    p[modScaler].setValueTexts(scalerTexts, static_cast<int32_t>(std::size(scalerTexts)));
    // Slot j starts on target j, so a fresh kit's slots point at distinct targets.
    p[modTarget].init(Param::Stepped, 0, modTargetCount - 1, 0, "%.0f", "Target", static_cast<float>(j),
                      false, group);
    p[modTarget].setValueTexts(targets.texts, modTargetCount);
}

} // namespace

BandSynth::BandSynth() {
    const SharedTexts& texts = sharedTexts();
    auto block = [this](int base) { return &params[static_cast<size_t>(base)]; };

    for (int s = 0; s < ParamLayout::fxSlotCount; ++s)
        defineFxSlot(fxSlots[static_cast<size_t>(s)], s, block(layout.fxSlotBase[static_cast<size_t>(s)]));
    defineGlobalParams(block(layout.globalBase));
    for (int t = 0; t < ParamLayout::trackCount; ++t) {
        Param* track = block(layout.trackBase[static_cast<size_t>(t)]);
        defineTrackParams(track, texts);
        for (int i = 0; i < ParamLayout::trackStride; ++i) track[i].group = texts.trackGroups[t];
    }
    for (int k = 0; k < ParamLayout::envCount; ++k)
        defineEnvelopeParams(block(layout.envBase[static_cast<size_t>(k)]), k, texts.envGroups[k]);
    for (int k = 0; k < ParamLayout::lfoCount; ++k)
        defineLfoParams(block(layout.lfoBase[static_cast<size_t>(k)]), texts.lfoGroups[k], texts);

    for (int g = 0; g < ParamLayout::globalStride; ++g) {
        modTargets.push_back(layout.globalBase + g);
        globalTargets.push_back(layout.globalBase + g);
    }
    for (int t = 0; t < ParamLayout::trackCount; ++t) {
        for (int offset : trackTargetOffsets) {
            const int target = layout.trackBase[static_cast<size_t>(t)] + offset;
            modTargets.push_back(target);
            trackTargets[static_cast<size_t>(t)].push_back(target);
        }
    }

    const TargetTexts& targets = targetTexts(params, modTargets);
    for (int j = 0; j < ParamLayout::modSlotCount; ++j)
        defineModSlotParams(block(layout.modSlotBase[static_cast<size_t>(j)]), j, texts.modGroups[j], texts,
                            targets);

    for (size_t i = 0; i < params.size(); ++i) {
        Param& p = params[i];
        p.index = static_cast<int32_t>(i);
        if (p.hostIndex < 0) continue;
        p.hostIndex = static_cast<int32_t>(hostParams.size());
        hostParams.push_back(static_cast<int>(i));
    }
}

} // namespace tarvo
