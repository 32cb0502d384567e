#include "control/TrackMixer.h"

#include <algorithm>
#include <cmath>

#include "control/EngineControls.h"
#include "control/ParamLayout.h"

namespace tarvo {

namespace {

// All-pass coefficients of the width stage: k1, k2 (left chain) and k3, k4 (right chain) at
// width 0, 0.2, ... 1. The two chains' phase responses drift apart as the width grows.
constexpr int widthRows = 6;
constexpr std::array<std::array<float, TrackStereo::stageCount>, widthRows> widthTable{{
    {0.0f, 0.0f, 0.0f, 0.0f},
    {-0.88852793f, 0.078202479f, -0.80962962f, 0.33365110f},
    {-0.92124140f, 0.0025971900f, -0.75929892f, 0.52193922f},
    {-0.94859719f, 0.00024329800f, -0.65206963f, 0.72817773f},
    {-0.98442203f, 0.00016971800f, -0.46577659f, 0.86722982f},
    {-0.99075991f, 0.10961790f, -0.00036482149f, 0.50563300f},
}};

// Gains and coefficients move this fraction of the way per sample towards their targets,
// a quarter of the way over a 64-frame chunk.
constexpr float rampDivisor = 256.0f;
// Largest chunk between two ramp-step updates.
constexpr int rampChunk = 64;
// Below this clip amount, and with the gain back at 1, the clipper is bypassed.
constexpr float clipBypass = 0.00001f;
// Positive half-waves drive the clipper this much harder than negative ones.
constexpr float positiveDrive = 1.5f;
// Filter amounts closer to 0 than this leave the bands unchanged.
constexpr float filterDeadZone = 0.00001f;
// Band-to-band step of the filter's fade.
constexpr float filterFadeStep = 0.05f;
// Time constant of the meters' fall, in seconds.
constexpr float meterFallSeconds = 0.05f;
// Meter levels at or below this read as 0.
constexpr float meterFloor = 1e-9f;
// The mixer caps levels and sends at this many times the parameter's top value.
constexpr float levelHeadroom = 4.0f;

constexpr std::array<const char*, TrackMixer::busCount> busNames{"Main",  "Bus 1", "Bus 2", "Bus 3", "Bus 4",
                                                                 "Bus 5", "Bus 6", "Bus 7", "Bus 8"};

// Clamps v into lo..hi, with anything not a number taken as lo.
float bounded(float v, float lo, float hi) {
    return v >= lo ? std::min(v, hi) : lo;
}

// Smoothstep used by the filter's fades.
float smooth(float x) {
    return x * x * (3.0f - 2.0f * x);
}

float allPass(AllPassStage& stage, float in) {
    const float w = in - stage.coefficient * stage.state;
    const float out = stage.coefficient * w + stage.state;
    stage.state = w;
    return out;
}

} // namespace

const char* outputBusName(int bus) {
    return bus >= 0 && bus < TrackMixer::busCount ? busNames[static_cast<size_t>(bus)] : "";
}

bool trackMuted(int track, int muteMask, int soloTrack) noexcept {
    if (soloTrack >= 0) return track != soloTrack;
    return ((muteMask >> track) & 1) != 0;
}

void processClipper(TrackClipper& clipper, float* x, int n, float b) noexcept {
    if (b < clipBypass && std::fabs(clipper.gain - 1.0f) < clipBypass) return;
    const float sr = clipper.sampleRate;
    // Gain follower rates: e on the way up, e + c when the gain has to come down.
    const float e = 1.0f / (1.0f + 0.00002f * sr);
    const float c = 1.0f / (1.0f + 0.00001f * sr) - e;
    const float floorLevel = (1.0f - 0.95f * b) * 0.1f / (b + 1e-9f);
    const float top = floorLevel + 0.3f;
    float gain = clipper.gain;
    for (int i = 0; i < n; ++i) {
        const float d = x[i] >= 0.0f ? positiveDrive * x[i] : -x[i];
        const float target = top / std::max(d, floorLevel);
        gain += (target - gain) * (gain > target ? e + c : e);
        x[i] *= gain;
    }
    clipper.gain = gain;
}

void processStereo(TrackStereo& stereo, const float* x, float* left, float* right, int n,
                   const StripSettings& settings) noexcept {
    const float targetL = std::min(1.0f - settings.pan, 1.0f) * settings.amp;
    const float targetR = std::min(1.0f + settings.pan, 1.0f) * settings.amp;
    const float e = settings.width * 5.0f;
    const int row = std::min(static_cast<int>(e), widthRows - 2);
    const float frac = e - static_cast<float>(row);
    std::array<float, TrackStereo::stageCount> targetK{};
    for (size_t j = 0; j < targetK.size(); ++j)
        targetK[j] = (1.0f - frac) * widthTable[static_cast<size_t>(row)][j] +
                     frac * widthTable[static_cast<size_t>(row + 1)][j];

    auto& st = stereo.stages;
    if (stereo.snap != 0) {
        stereo.gainL = targetL;
        stereo.gainR = targetR;
        for (size_t j = 0; j < st.size(); ++j) st[j].coefficient = targetK[j];
        stereo.snap = 0;
    }

    // The states, gains and coefficients live in registers for the whole call: written through
    // the record, every sample would store them and load them back (the outputs may alias it),
    // which lengthens the all-pass recurrences.
    std::array<AllPassStage, TrackStereo::stageCount> s = st;
    float gainL = stereo.gainL, gainR = stereo.gainR;
    for (int start = 0; start < n; start += rampChunk) {
        const int end = std::min(n, start + rampChunk);
        const float stepL = (targetL - gainL) / rampDivisor;
        const float stepR = (targetR - gainR) / rampDivisor;
        std::array<float, TrackStereo::stageCount> stepK{};
        for (size_t j = 0; j < s.size(); ++j) stepK[j] = (targetK[j] - s[j].coefficient) / rampDivisor;
        for (int i = start; i < end; ++i) {
            const float l = allPass(s[1], allPass(s[0], x[i]));
            const float r = allPass(s[3], allPass(s[2], x[i]));
            left[i] = l * gainL;
            right[i] = r * gainR;
            gainL += stepL;
            gainR += stepR;
            for (size_t j = 0; j < s.size(); ++j) s[j].coefficient += stepK[j];
        }
    }
    st = s;
    stereo.gainL = gainL;
    stereo.gainR = gainR;
}

void djFilterBands(float* bands, float filter) noexcept {
    const int count = TrackMixer::bandCount;
    // A filter value that is not a number leaves the spectrum alone.
    const float f = std::isnan(filter) ? 0.0f : std::clamp(filter / 100.0f, -1.0f, 1.0f);
    if (f > filterDeadZone) {
        // High-pass: fade in over up to 20 bands above the cut, silence below it.
        const float c = 60.0f * f - 20.0f;
        const int lo = std::clamp(static_cast<int>(c + 1.0f), 0, count);
        const int hi = std::min(static_cast<int>(c + 20.0f), count);
        float x = (static_cast<float>(lo) - c) * filterFadeStep;
        for (int b = lo; b < hi; ++b, x += filterFadeStep) bands[b] *= smooth(x);
        std::fill(bands, bands + lo, 0.0f);
    } else if (f < -filterDeadZone) {
        // Low-pass: fade out over up to 20 bands above the cut, silence above them.
        const float c = (f + 1.0f) * static_cast<float>(count);
        const int lo = std::max(static_cast<int>(c + 1.0f), 0);
        const int hi = std::clamp(static_cast<int>(c + 20.0f), 0, count);
        float x = 1.0f - (static_cast<float>(lo) - c) * filterFadeStep;
        for (int b = lo; b < hi; ++b, x -= filterFadeStep) bands[b] *= smooth(x);
        std::fill(bands + hi, bands + count, 0.0f);
    }
}

TrackMixer::TrackMixer(EngineControls& synth) : synth_(synth) {}

void TrackMixer::prepare(float sampleRate) {
    sampleRate_ = sampleRate;
    for (TrackClipper& clipper : clippers) clipper.sampleRate = sampleRate;
    reset();
}

void TrackMixer::reset() noexcept {
    for (TrackClipper& clipper : clippers) clipper.gain = 1.0f;
    for (TrackStereo& s : stereo) s = TrackStereo{};
    silent.fill(false);
}

StripSettings TrackMixer::stripSettings(int track, bool muted) const noexcept {
    const int base = synth_.layout.trackBase[static_cast<size_t>(track)];
    const Param& ampParam = synth_.param(base + trackAmp);
    const Param& clipParam = synth_.param(base + trackClip);
    StripSettings s;
    s.amp = muted ? 0.0f : bounded(ampParam.effective(), 0.0f, levelHeadroom * ampParam.fromNormalized(1.0f));
    s.pan = bounded(synth_.param(base + trackPan).effective() / 100.0f, -1.0f, 1.0f);
    s.width = bounded(synth_.param(base + trackWidth).effective() / 100.0f, 0.0f, 1.0f);
    s.clip = bounded(clipParam.toNormalized(clipParam.effective()), 0.0f, 1.0f);
    return s;
}

bool TrackMixer::mixTrack(int track, float* mono, int frames, bool sounding, float* const* outputs,
                          int outputCount, int busOffset) noexcept {
    if (track < 0 || track >= trackCount) return false;
    const size_t t = static_cast<size_t>(track);
    const int base = synth_.layout.trackBase[t];
    const int bus = static_cast<int>(std::trunc(synth_.param(base + trackOutput).effective()));
    const int leftChannel = 2 * bus;
    if (!sounding || bus < 0 || leftChannel + 1 >= outputCount || outputs[leftChannel] == nullptr ||
        outputs[leftChannel + 1] == nullptr) {
        silent[t] = true;
        return false;
    }
    silent[t] = false;
    frames = std::clamp(frames, 0, sendFrames);

    const bool muted = trackMuted(track, synth_.muteMask.load(std::memory_order_relaxed),
                                  synth_.soloTrack.load(std::memory_order_relaxed));
    const StripSettings settings = stripSettings(track, muted);
    processClipper(clippers[t], mono, frames, settings.clip);
    std::array<float, sendFrames> left, right;
    processStereo(stereo[t], mono, left.data(), right.data(), frames, settings);

    float* outL = outputs[leftChannel] + busOffset;
    float* outR = outputs[leftChannel + 1] + busOffset;
    for (int i = 0; i < frames; ++i) {
        outL[i] += left[static_cast<size_t>(i)];
        outR[i] += right[static_cast<size_t>(i)];
    }

    // Sends are taken after mute, clip, level, pan and width.
    constexpr std::array<int, sendCount> sendParams{trackSend1, trackSend2};
    for (size_t s = 0; s < sendParams.size(); ++s) {
        const Param& sendParam = synth_.param(base + sendParams[s]);
        const float a = bounded(sendParam.effective(), 0.0f, levelHeadroom * sendParam.fromNormalized(1.0f));
        if (!(a > 0.0f)) continue;
        float* busL = synth_.sendBus[s].data();
        float* busR = busL + sendFrames;
        for (int i = 0; i < frames; ++i) {
            busL[i] += a * left[static_cast<size_t>(i)];
            busR[i] += a * right[static_cast<size_t>(i)];
        }
    }
    return true;
}

void TrackMixer::meterBuses(const float* const* outputs, int buses, int frames, int offset) noexcept {
    if (!synth_.metersOn.load(std::memory_order_relaxed) || frames <= 0) return;
    const float dt = static_cast<float>(frames) / sampleRate_;
    const float rise = dt / (dt + meterFallSeconds);
    const int channels = 2 * std::min(buses, busCount);
    for (int ch = 0; ch < channels; ++ch) {
        const float* x = outputs[ch];
        if (x == nullptr) continue;
        float peak = 0.0f;
        for (int i = 0; i < frames; ++i) peak = std::max(peak, std::fabs(x[offset + i]));
        std::atomic<float>& meter = synth_.meterLevel[static_cast<size_t>(ch)];
        float level = meter.load(std::memory_order_relaxed);
        level = std::max(level + rise * (peak - level), peak);
        meter.store(level > meterFloor ? level : 0.0f, std::memory_order_relaxed);
    }
}

void TrackMixer::toggleMute(int track) {
    if (track < 0 || track >= trackCount) return;
    synth_.muteMask.fetch_xor(static_cast<int16_t>(1 << track), std::memory_order_relaxed);
}

void TrackMixer::toggleSolo(int track) {
    if (track < 0 || track >= trackCount) return;
    const int16_t current = synth_.soloTrack.load(std::memory_order_relaxed);
    synth_.soloTrack.store(current == track ? int16_t{-1} : static_cast<int16_t>(track),
                           std::memory_order_relaxed);
}

} // namespace tarvo
