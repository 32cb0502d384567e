#include "effects/ChorusDelay.h"
#include "effects/FxMath.h"

#include <algorithm>
#include <cmath>

#include "effects/FlushDenormals.h"

namespace tarvo {

namespace {

// Schroeder coefficient of the chorus's smearing all-passes.
constexpr float allpassCoefficient = -0.618f;
// Share of each processed voice fed back into its own line.
constexpr float chorusFeedback = 0.15f;
// Rate of the echo wobble in Hz, and its depth in seconds.
constexpr float echoWobbleHz = 0.66f;
constexpr float echoWobbleSeconds = 0.003f;
// Largest glide of the echo length per chunk, in sixteenths.
constexpr float lengthGlide = 0.05f;
// Largest change of the feedback gain per sample.
constexpr float feedbackSlew = 0.01f;

// Weight of a tap from its closeness v to the echo length (1 on the length, 0 from 1/1.2
// sixteenths away), bent so that a half-way blend keeps the loudness.
inline float tapWeight(float v) noexcept {
    const float p = std::max(v, 0.0f);
    return p * ((1.0f - p) * 0.83f + 1.0f);
}

inline float fraction(float x) noexcept {
    return x - std::floor(x);
}

void silence(float* const* outputs, int frames) noexcept {
    std::fill(outputs[0], outputs[0] + frames, 0.0f);
    std::fill(outputs[1], outputs[1] + frames, 0.0f);
}

} // namespace

void FxChorus::bindParams(Param* first) {
    first[0].init(Param::Exponential, 1.0f, 100.0f, 0.0f, "%.1f cent", "Depth", 10.0f, false, nullptr);
    first[1].init(Param::PowerCurve, 0.5f, 10.0f, 2.0f, "%.2f Hz", "Rate", 2.0f, false, nullptr);
    FxBase::bindParams(first);
}

void FxChorus::setSampleRate(float rate) {
    sampleRate = rate;
    // A quarter second of voice delay, never less than 512 samples.
    const int voiceSamples = std::max(static_cast<int>(0.25f * rate), 512);
    for (DelayLine& line : voiceLines) line.setSize(voiceSamples + DelayLine::guardSamples);
    for (int k = 0; k < 3; ++k) rotationLines[k].setSeconds(0.01f * std::exp2(-0.3f * k), rate);
    for (int k = 0; k < 2; ++k) allpassLines[k].setSeconds(0.012f * std::exp2(-k / 7.0f), rate);
}

void FxChorus::reset() noexcept {
    for (DelayLine& line : voiceLines) line.clear();
    for (DelayLine& line : rotationLines) line.clear();
    for (DelayLine& line : allpassLines) line.clear();
}

void FxChorus::process(float* const* inputs, float* const* outputs, int frames) noexcept {
    if (params == nullptr || sampleRate <= 0.0f) return silence(outputs, frames);
    ScopedFlushDenormals noDenormals;
    const float depth = params[0].effective();
    const float rate = std::max(params[1].effective(), 0.0f);
    const float sr = sampleRate;

    const float base = std::max(0.01f * sr, 36.0f);
    // The sweep grows with depth and shrinks with rate, so the pitch deviation stays near
    // the depth in cents; it never reaches past a third of the voice line.
    const float limit = static_cast<float>(voiceLines[0].length() / 3) - base;
    const float sweep =
        std::min((1.0f / (rate * 1.5f * 3.14f + 0.01f) + 0.1f) * sr * std::max(depth, 0.0f) / 1700.0f, limit);

    float voice[2][chunkFrames];
    float feed[chunkFrames];
    for (int start = 0; start < frames; start += chunkFrames) {
        const int n = std::min(chunkFrames, frames - start);
        lfoPhase = fraction(lfoPhase) + static_cast<float>(n) * rate / sr;
        for (int i = 0; i < 2; ++i) {
            const float o = fraction(lfoPhase + 0.35f * static_cast<float>(i));
            const float delay = (sineApprox(o) + 1.33f + 0.05f * static_cast<float>(i)) * sweep + base;
            readVarispeed(voiceLines[i], voice[i], n, delay, 0.0f);
            allpass(allpassLines[i], voice[i], n, allpassLines[i].length(), allpassCoefficient, 0.0f);
        }
        for (DelayLine& line : rotationLines) rotate(line, voice[0], voice[1], n, line.length(), 0.0f);
        for (int i = 0; i < 2; ++i) {
            const float* x = inputs[i] + start;
            for (int j = 0; j < n; ++j) feed[j] = x[j] + chorusFeedback * voice[i][j];
            voiceLines[i].write(feed, n);
            std::copy(voice[i], voice[i] + n, outputs[i] + start);
        }
    }
}

void FxTempoDelay::bindParams(Param* first) {
    first[0].init(Param::Linear, 1.0f, 8.0f, 0.0f, "%.1f", "Length", 2.7f, false, nullptr);
    first[1].init(Param::Linear, 0.0f, 100.0f, 0.0f, "%.0f%%", "Feedback", 50.0f, false, nullptr);
    FxBase::bindParams(first);
}

void FxTempoDelay::setSampleRate(float rate) {
    sampleRate = rate;
    for (DelayLine& line : echoLines) line.setSeconds(echoSeconds, rate);
    for (int k = 0; k < 2; ++k) rotationLines[k].setSeconds(0.02f * std::exp2(-0.3f * k), rate);
    for (auto& slot : readers)
        for (DelayReader& reader : slot) reader.restart();
}

void FxTempoDelay::reset() noexcept {
    for (DelayLine& line : echoLines) line.clear();
    for (DelayLine& line : rotationLines) line.clear();
    for (int i = 0; i < 2; ++i) toneLow[i] = toneHigh[i] = 0.0f;
}

void FxTempoDelay::setTempo(float bpm) noexcept {
    if (std::isfinite(bpm) && bpm > 0.0f) tempo = bpm;
}

float FxTempoDelay::tailSeconds() const noexcept {
    const float length = std::max(lengthNow, params != nullptr ? params[0].effective() : lengthNow);
    // Two sixteenths beyond the shorter tap cover the longer one and its wobble.
    const float sixteenths = std::floor(std::max(length, 1.0f)) + 2.0f;
    return std::min(sixteenths * 15.0f / tempo, echoSeconds) + shortTailSeconds;
}

void FxTempoDelay::process(float* const* inputs, float* const* outputs, int frames) noexcept {
    if (params == nullptr || sampleRate <= 0.0f) return silence(outputs, frames);
    ScopedFlushDenormals noDenormals;
    const float sr = sampleRate;
    const float sixteenth = sr * 60.0f / (tempo * 4.0f);
    const float length = std::max(params[0].effective(), 1.0f);
    const float feedback = std::clamp(params[1].effective() / 100.0f, 0.0f, 1.0f);

    float mix[2][chunkFrames];
    float tap[chunkFrames];
    float feed[chunkFrames];
    for (int start = 0; start < frames; start += chunkFrames) {
        const int n = std::min(chunkFrames, frames - start);
        const float invN = 1.0f / static_cast<float>(n);
        lfoPhase = fraction(lfoPhase) + static_cast<float>(n) * echoWobbleHz / sr;
        const float next = lengthNow + std::clamp(length - lengthNow, -lengthGlide, lengthGlide);

        std::fill(&mix[0][0], &mix[0][0] + 2 * chunkFrames, 0.0f);
        const int shortest = static_cast<int>(std::floor(lengthNow));
        for (int k = shortest; k <= shortest + 1; ++k) {
            const int slot = k & 1;
            const float kf = static_cast<float>(k);
            const float wFrom = tapWeight(1.0f - 1.2f * std::fabs(lengthNow - kf));
            const float wTo = tapWeight(1.0f - 1.2f * std::fabs(next - kf));
            if (wFrom == 0.0f && wTo == 0.0f) {
                // A silent tap restarts exactly on its delay when it comes back.
                readers[slot][0].restart();
                readers[slot][1].restart();
                continue;
            }
            const float wStep = (wTo - wFrom) * invN;
            for (int i = 0; i < 2; ++i) {
                const float o =
                    fraction(lfoPhase + 0.25f * static_cast<float>(i) + 0.5f * static_cast<float>(slot));
                const float delay = kf * sixteenth + echoWobbleSeconds * sr * sineApprox(o);
                readVarispeed(echoLines[i], tap, n, delay, 0.0f, &readers[slot][i]);
                float w = wFrom;
                for (int j = 0; j < n; ++j, w += wStep) mix[i][j] += tap[j] * w;
            }
        }
        lengthNow = next;

        for (DelayLine& line : rotationLines) rotate(line, mix[0], mix[1], n, line.length(), 0.0f);

        const float step = std::clamp((feedback - fbGain) * invN, -feedbackSlew, feedbackSlew);
        for (int i = 0; i < 2; ++i) {
            const float* x = inputs[i] + start;
            float low = toneLow[i];
            float high = toneHigh[i];
            float g = fbGain;
            for (int j = 0; j < n; ++j, g += step) {
                float y = mix[i][j];
                // Thin the echoes a little on every round: lows and the top octave go.
                low += (y - low) * 0.01f;
                high = 0.2f * y - 0.8f * high;
                y -= high + low;
                mix[i][j] = y;
                feed[j] = FxMath::softClip(g * y) + x[j];
            }
            toneLow[i] = low;
            toneHigh[i] = high;
            echoLines[i].write(feed, n);
            std::copy(mix[i], mix[i] + n, outputs[i] + start);
        }
        fbGain += static_cast<float>(n) * step;
    }
}

} // namespace tarvo
