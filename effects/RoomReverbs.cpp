#include "effects/RoomReverbs.h"

#include <algorithm>
#include <cmath>

#include "effects/ChorusDelay.h"
#include "effects/FlushDenormals.h"

namespace tarvo {

namespace {

// Schroeder coefficient of the room's all-pass stages.
constexpr float allpassCoefficient = -0.618f;
// Equal-power crossover of the diffuser's mono bass, in Hz (a speed of sound over 0.17 m).
constexpr float diffuserBassHz = 343.0f / 0.17f;
// Rate of the room's delay wobble in Hz.
constexpr float roomWobbleHz = 0.5f;
// Delay of the main taps in samples, and the extra delay of the second one.
constexpr float mainTapSamples = 700.0f;
constexpr float mainTapSpacing = 5000.0f;
// Decay constant that makes a line's gain expDecay(length x k) fall by about 30 dB over the
// decay time.
constexpr float decayPerSecond = 3.45f;
// Largest pre-delay in milliseconds.
constexpr float maxPreDelayMs = 300.0f;

inline float fraction(float x) noexcept {
    return x - std::floor(x);
}

inline float towards(float value, float target, float slew) noexcept {
    return value + std::clamp(target - value, -slew, slew);
}

void silence(float* const* outputs, int frames) noexcept {
    std::fill(outputs[0], outputs[0] + frames, 0.0f);
    std::fill(outputs[1], outputs[1] + frames, 0.0f);
}

} // namespace

void ToneFilter::process(float* left, float* right, int n, float cutoff, float q) noexcept {
    if (q < bypassBelow) return;
    const float c2 = cutoff * cutoff;
    const float freqTarget = 3.0f * c2 / (c2 + 0.077f);
    float* channel[2] = {left, right};
    float f = freq, r = res;
    float lo[2] = {low[0], low[1]};
    float hi[2] = {high[0], high[1]};
    for (int j = 0; j < n; ++j) {
        f = towards(f, freqTarget, slew);
        r = towards(r, q, slew);
        const float through = 1.0f - r * r;
        for (int c = 0; c < 2; ++c) {
            hi[c] = through * channel[c][j] + r * hi[c] - lo[c];
            lo[c] += f * hi[c];
            channel[c][j] = hi[c];
        }
    }
    freq = f;
    res = r;
    for (int c = 0; c < 2; ++c) {
        low[c] = lo[c];
        high[c] = hi[c];
    }
}

void ToneFilter::clear() noexcept {
    low[0] = low[1] = high[0] = high[1] = 0.0f;
}

ShelfCoefficients shelfDesign(float f, float a, float b) noexcept {
    const float fc = std::clamp(f, 0.0001f, 0.495f);
    const float a1 = std::max(a, 0.001f * b + 1e-35f);
    const float p = 1.0f - 4.0f * fc;
    const float q = 1.0f - p;
    float r = (b / a1) * (p + 1.0f);
    r = (r - q) / (q + r);
    ShelfCoefficients s;
    s.b0 = q * a1 / (1.0f - r);
    s.b1 = -s.b0 * r;
    s.p = p;
    return s;
}

void ShelfFilter::process(float* left, float* right, int n) noexcept {
    float* channel[2] = {left, right};
    ShelfCoefficients c = now;
    float z[2] = {state[0], state[1]};
    for (int j = 0; j < n; ++j) {
        c.b0 = towards(c.b0, target.b0, slew);
        c.b1 = towards(c.b1, target.b1, slew);
        c.p = towards(c.p, target.p, slew);
        for (int ch = 0; ch < 2; ++ch) {
            const float x = channel[ch][j];
            const float y = c.b0 * x + z[ch];
            z[ch] = c.b1 * x + c.p * y;
            channel[ch][j] = y;
        }
    }
    now = c;
    state[0] = z[0];
    state[1] = z[1];
}

void ShelfFilter::clear() noexcept {
    state[0] = state[1] = 0.0f;
}

void ReverbDiffuser::bindParams(Param* first) {
    first[0].init(Param::Linear, 0.0f, 100.0f, 0.0f, "%.0f", "Length", 50.0f, false, nullptr);
    first[1].init(Param::PowerCurve, 0.0f, 300.0f, 2.0f, "%.0f ms", "Pre-delay", 10.0f, false, nullptr);
    FxBase::bindParams(first);
}

void ReverbDiffuser::setSampleRate(float rate) {
    sampleRate = rate;
    for (int k = 0; k < stageCount; ++k) stages[k].setSeconds(0.2f * std::exp2(-0.584f * k), rate);
    // Room for the longest pre-delay plus one chunk, in whole chunks.
    const int preSamples =
        (chunkFrames + static_cast<int>(maxPreDelayMs * 0.001f * rate)) / chunkFrames * chunkFrames;
    preDelay.setSize(preSamples, 2);
}

void ReverbDiffuser::reset() noexcept {
    preDelay.clear();
    for (DelayLine& line : stages) line.clear();
    bassLeft = bassRight = 0.0f;
}

void ReverbDiffuser::process(float* const* inputs, float* const* outputs, int frames) noexcept {
    if (params == nullptr || sampleRate <= 0.0f) return silence(outputs, frames);
    ScopedFlushDenormals noDenormals;
    const float length = std::clamp(params[0].toNormalized(params[0].effective()), 0.0f, 1.0f);
    const float preMs = std::max(params[1].effective(), 0.0f);
    const float sr = sampleRate;

    // "Length" scales every stage from a tenth of its line to all of it.
    const float spread = 0.9f * length + 0.1f;
    const int pre = static_cast<int>(preMs * 0.001f * sr + 0.5f);
    const float bassCoef = std::min(diffuserBassHz / sr, 1.0f);

    float wet[2][chunkFrames];
    for (int start = 0; start < frames; start += chunkFrames) {
        const int n = std::min(chunkFrames, frames - start);
        const float* in[2] = {inputs[0] + start, inputs[1] + start};
        float* w[2] = {wet[0], wet[1]};
        preDelay.write(in, n);
        preDelay.read(w, n, pre);
        for (int k = 0; k < stageCount; ++k) {
            const int target = static_cast<int>(static_cast<float>(stages[k].length()) * spread);
            lenNow[k] += std::clamp(target - lenNow[k], -1, 1);
            rotate(stages[k], wet[0], wet[1], n, lenNow[k], 0.0f);
        }
        float* outL = outputs[0] + start;
        float* outR = outputs[1] + start;
        for (int j = 0; j < n; ++j) {
            // The low end leaves in mono, the rest stays wide.
            bassLeft += (wet[0][j] - bassLeft) * bassCoef;
            bassRight += (wet[1][j] - bassRight) * bassCoef;
            const float mid = (bassLeft + bassRight) * width * 0.5f;
            outL[j] = wet[0][j] - bassLeft + mid;
            outR[j] = wet[1][j] - bassRight + mid;
        }
    }
}

void RoomEngine::setSampleRate(float rate) {
    sampleRate = rate;
    preDelay.setSize(static_cast<int>(maxPreDelayMs * 0.001f * rate) + 16, 2);
    for (DelayLine& line : mainLines) line.setSize(mainLineSamples + DelayLine::guardSamples);
    float seconds = 0.0f;
    for (int k = 0; k < stageLines; ++k) {
        // 1.6 ms growing by half again per line, up to 128.6 ms.
        const float lineSeconds = 0.0016f * std::pow(1.49f, static_cast<float>(k));
        DelayLine& line = k < 6 ? rotationLines[k] : allpassLines[k - 6];
        line.setSeconds(lineSeconds, rate);
        seconds += lineSeconds;
    }
    loopLength = seconds * rate;
    pathLength = 0.1f * rate + loopLength;
    shelf = ShelfFilter();
    tone = ToneFilter();
    bassLeft = bassRight = 0.0f;
    inGainNow = 0.0f;
}

void RoomEngine::reset() noexcept {
    preDelay.clear();
    for (DelayLine& line : mainLines) line.clear();
    for (DelayLine& line : rotationLines) line.clear();
    for (DelayLine& line : allpassLines) line.clear();
    shelf.clear();
    tone.clear();
    bassLeft = bassRight = 0.0f;
    // The project's linear congruential generator; the top 24 bits give a phase in [0, 1).
    randomState = randomState * 1664525u + 1013904223u;
    lfoPhase = static_cast<float>(randomState >> 8) * (1.0f / 16777216.0f);
}

void RoomEngine::process(const float* const* inputs, float* const* outputs, int frames) noexcept {
    if (sampleRate <= 0.0f) return silence(outputs, frames);
    const float sr = sampleRate;
    const float k = decayPerSecond / (sr * std::max(decaySeconds, 1e-6f));
    const float depth = modDepth * 1.28f;
    // Damping: a high shelf whose loss over one trip round the path grows with dampPercent.
    const float damp = dampPercent / 100.0f;
    const float g = expDecay(damp * damp * (k + 0.0001f) * pathLength);
    shelf.target = shelfDesign(0.5f * g, 1.0f, g * g);
    // Input gain: makes up for the loop's loss so that short and long rooms sound alike.
    const float h = expDecay(0.5f * pathLength * k);
    const float v = 1.0f / (0.5f * loopLength * k);
    const float inGain = std::sqrt(std::max(1.0f - h * h, 0.0f)) * 1.3f * (v + 0.3f) / (v + 0.0001f);
    const int pre = static_cast<int>(std::clamp(preDelayMs, 0.0f, maxPreDelayMs) * sr * 0.001f + 0.5f);
    const float cutoff = std::min(toneCutoff * 1000.0f / sr, 0.45f);
    const float res = (1.0f - toneWidth / 100.0f) * 0.995f;
    const float bassCoef = std::min((1.0f - bassSplitPercent / 100.0f) * 25000.0f / sr, 1.0f);
    const float gainStep = (inGain - inGainNow) / static_cast<float>(frames);

    float dry[2][chunkFrames];
    float wet[2][chunkFrames];
    for (int start = 0; start < frames; start += chunkFrames) {
        const int n = std::min(chunkFrames, frames - start);
        lfoPhase = fraction(lfoPhase) + roomWobbleHz * static_cast<float>(n) / sr;

        float* d[2] = {dry[0], dry[1]};
        if (pre >= 1) {
            const float* in[2] = {inputs[0] + start, inputs[1] + start};
            preDelay.write(in, n);
            preDelay.read(d, n, pre);
        } else {
            for (int c = 0; c < 2; ++c) std::copy(inputs[c] + start, inputs[c] + start + n, dry[c]);
        }

        for (int i = 0; i < 2; ++i) {
            const float o = fraction(lfoPhase + 0.33f * static_cast<float>(i));
            const float delay =
                sineApprox(o) * depth + mainTapSamples + mainTapSpacing * static_cast<float>(i);
            readVarispeed(mainLines[i], wet[i], n, delay, k);
        }
        shelf.process(wet[0], wet[1], n);
        for (int i = 0; i < 2; ++i) {
            float gain = inGainNow;
            for (int j = 0; j < n; ++j) {
                gain += gainStep;
                wet[i][j] += gain * dry[i][j];
            }
        }
        inGainNow += gainStep * static_cast<float>(n);

        for (int s = 0; s < 3; ++s) rotate(rotationLines[s], wet[0], wet[1], n, rotationLines[s].length(), k);
        for (int s = 0; s < 6; ++s)
            allpass(allpassLines[s], wet[s & 1], n, allpassLines[s].length(), allpassCoefficient, k);
        for (int s = 3; s < 6; ++s) rotate(rotationLines[s], wet[0], wet[1], n, rotationLines[s].length(), k);
        mainLines[0].write(wet[0], n);
        mainLines[1].write(wet[1], n);

        tone.process(wet[0], wet[1], n, cutoff, res);
        if (bassCoef >= 0.00001f) {
            for (int j = 0; j < n; ++j) {
                bassLeft += (wet[0][j] - bassLeft) * bassCoef;
                bassRight += (wet[1][j] - bassRight) * bassCoef;
                const float mid = (bassLeft + bassRight) * bassWidth * 0.5f;
                wet[0][j] = wet[0][j] - bassLeft + mid;
                wet[1][j] = wet[1][j] - bassRight + mid;
            }
        }
        std::copy(wet[0], wet[0] + n, outputs[0] + start);
        std::copy(wet[1], wet[1] + n, outputs[1] + start);
    }
    inGainNow = inGain;
}

void ReverbHall::bindParams(Param* first) {
    first[0].init(Param::Linear, 0.0f, 100.0f, 0.0f, "%.0f", "Length", 50.0f, false, nullptr);
    first[1].init(Param::Linear, 0.0f, 100.0f, 0.0f, "%.0f", "Color", 50.0f, false, nullptr);
    FxBase::bindParams(first);
}

void ReverbHall::applySettings(float length, float color) noexcept {
    // 0.0375 s at "Length" 0, 0.6 s at 50, 3.04 s at 100.
    const float l = std::max(length / 100.0f, 0.0f) + 0.5f;
    engine.decaySeconds = 0.6f * l * l * l * l;
    // Dark and damped below a "Color" of 37.5, bright and thin above 62.5.
    const float c = std::clamp(color / 100.0f, 0.0f, 1.0f);
    engine.dampPercent = std::clamp(2.5f - 4.0f * c, 0.0f, 1.0f) * 100.0f;
    engine.toneWidth = (std::fabs(c - 0.5f) * 2.0f + 1.0f) * 60.0f + 20.0f;
    const float bright = std::max(4.0f * c - 3.0f, 0.0f);
    engine.toneCutoff = bright * bright * 4.0f + 0.3f - std::max(1.0f - 4.0f * c, 0.0f) * 0.25f;
}

void ReverbHall::process(float* const* inputs, float* const* outputs, int frames) noexcept {
    if (params == nullptr) return silence(outputs, frames);
    ScopedFlushDenormals noDenormals;
    applySettings(params[0].effective(), params[1].effective());
    engine.process(inputs, outputs, frames);
}

} // namespace tarvo
