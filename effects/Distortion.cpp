#include "effects/Distortion.h"

#include <algorithm>
#include <cmath>

#include "effects/FxUnitIo.h"

namespace tarvo {

using FxMath::dbToLog2;
using FxMath::fastExp2;
using FxMath::softClip;

namespace {

// Longest stretch over which the tape unit's random curves and tone ramps stay fixed.
constexpr int tapeChunk = 64;

// The tape units' shared generator (linear congruential, seed 12345). Plug-in instances on
// different audio threads may interleave their draws; each draw is still a whole value.
constexpr uint32_t tapeRandomSeed = 12345u;
std::atomic<uint32_t> tapeRandomState{tapeRandomSeed};

} // namespace

// ---------------------------------------------------------------------------------------
// Tape Simulator

void CompTape::restartSharedRandom() noexcept {
    tapeRandomState.store(tapeRandomSeed, std::memory_order_relaxed);
}

float CompTape::nextRandom() noexcept {
    const uint32_t state = tapeRandomState.load(std::memory_order_relaxed) * 1664525u + 1013904223u;
    tapeRandomState.store(state, std::memory_order_relaxed);
    return static_cast<float>(state) * 2.3283e-10f;
}

float CompTape::RandomCurve::advance(float step) noexcept {
    phase += step;
    if (phase >= 1.0f) {
        oldPoint = midPoint;
        midPoint = newPoint;
        newPoint = nextRandom();
        phase -= std::floor(phase);
    }
    const float u = phase;
    return 0.5f * ((1.0f + 2.0f * u - 2.0f * u * u) * midPoint + u * u * newPoint +
                   (1.0f - u) * (1.0f - u) * oldPoint);
}

void CompTape::bindParams(Param* first) {
    first[0].init(Param::Linear, 0, 100, 0, "%.0f", "Drive", 50, false, nullptr);
    first[1].init(Param::Linear, 0, 100, 0, "%.0f", "Age", 50, false, nullptr);
    FxBase::bindParams(first);
}

void CompTape::setSampleRate(float rate) {
    sampleRate = rate;
    for (FxMath::Ramp* r : {&softness, &stiffness, &squareTerm}) r->unprime();
}

void CompTape::process(float* const* inputs, float* const* outputs, int frames) noexcept {
    if (params == nullptr || sampleRate <= 0.0f) return passThrough(inputs, outputs, frames);
    const float drive = unitParamNormalized(params[0]);
    const float age = unitParamNormalized(params[1]);
    const float h = std::min(5000.0f / sampleRate, 1.0f);
    const float outJ = 1.0f / (h + 0.25f);
    const float outM = 1.0f / (4.0f * h + 1.0f);
    softness.aim(1.0f - 0.9f * drive, frames);
    stiffness.aim(2.0f * drive + 0.5f, frames);
    squareTerm.aim(age * age * drive, frames);

    for (int start = 0; start < frames; start += tapeChunk) {
        const int n = std::min(tapeChunk, frames - start);
        // The random curves take three new points per second.
        const float step = std::min(3.0f * static_cast<float>(n) / sampleRate, 1.0f);
        std::array<float, 2> cutoffStep{}, dampStep{}, brightStep{};
        for (size_t c = 0; c < 2; ++c) {
            Channel& ch = channels[c];
            const float cutoffTarget = h * (1.0f + age * (ch.cutoffCurve.advance(step) - 0.5f));
            const float dampTarget = 1.0f / (4.0f * cutoffTarget + 1.0f);
            const float brightTarget = 0.25f + 0.25f * age * (ch.brightCurve.advance(step) - 0.8f);
            const float perFrame = 1.0f / static_cast<float>(n);
            cutoffStep[c] = (cutoffTarget - ch.cutoff) * perFrame;
            dampStep[c] = (dampTarget - ch.damp) * perFrame;
            brightStep[c] = (brightTarget - ch.bright) * perFrame;
        }
        for (int i = start; i < start + n; ++i) {
            const float k = softness.next(), s = stiffness.next(), q = squareTerm.next();
            for (size_t c = 0; c < 2; ++c) {
                Channel& ch = channels[c];
                // Tone filter: high frequencies lowered, wobbling with Age.
                ch.hp = ch.damp * ch.hp + inputs[c][i] - ch.lp;
                ch.lp += ch.hp * ch.cutoff;
                float y = ch.bright * ch.hp + ch.lp;
                y = y / (s * std::fabs(y) + k + q * y * y);
                // Output filter.
                const float t = (y - ch.prev) * outJ;
                const float previousSlope = ch.slope;
                ch.slope = t;
                const float shaped = ch.prev + t - outM * previousSlope;
                ch.prev = y - 0.25f * t;
                // Gain follower: quick to duck, slow to recover.
                const float target = 1.0f / (s * std::fabs(shaped) + k);
                ch.follow += (ch.follow > target ? 0.7f : 0.1f) * (target - ch.follow);
                outputs[c][i] = ch.follow * shaped;
                ch.cutoff += cutoffStep[c];
                ch.damp += dampStep[c];
                ch.bright += brightStep[c];
            }
        }
    }
    for (FxMath::Ramp* r : {&softness, &stiffness, &squareTerm}) r->finish();
}

// ---------------------------------------------------------------------------------------
// Transformer Amp

void Distorter::bindParams(Param* first) {
    first[0].init(Param::Linear, 0, 48, 0, "%.0f dB", "Gain", 12, false, nullptr);
    first[1].init(Param::Linear, -100, 100, 0, "%.0f", "Bias", 20, false, nullptr);
    FxBase::bindParams(first);
}

void Distorter::setSampleRate(float rate) {
    sampleRate = rate;
    for (FxMath::Ramp* r : {&positiveSlope, &negativeSlope, &gainFactor}) r->unprime();
}

void Distorter::process(float* const* inputs, float* const* outputs, int frames) noexcept {
    if (params == nullptr || sampleRate <= 0.0f) return passThrough(inputs, outputs, frames);
    const float c = fastExp2(unitParamValue(params[0]) * dbToLog2);
    const float bias = unitParamValue(params[1]) / 100.0f;
    const float k = 0.5f * c / (0.25f * c + 1.0f) + 0.5f;
    const float soft = (1.0f - 0.6f * std::fabs(bias)) * k;
    const float hard = k / (1.05f - std::fabs(bias));
    // Negative bias compresses the negative half-wave harder, positive bias the positive one.
    positiveSlope.aim(bias < 0.0f ? soft : hard, frames);
    negativeSlope.aim(bias < 0.0f ? hard : soft, frames);
    // The gain itself glides, so a change is spread evenly over the block.
    gainFactor.aim(c, frames);

    for (int i = 0; i < frames; ++i) {
        const float pos = positiveSlope.next(), neg = negativeSlope.next(), inv = 1.0f / gainFactor.next();
        for (size_t ch = 0; ch < 2; ++ch) {
            const float x = inputs[ch][i];
            const float slope = x > 0.0f ? pos : neg;
            smoothGain[ch] += 0.5f * (1.0f / (slope * std::fabs(x) + inv) - smoothGain[ch]);
            outputs[ch][i] = softClip(smoothGain[ch] * x);
        }
    }
    for (FxMath::Ramp* r : {&positiveSlope, &negativeSlope, &gainFactor}) r->finish();
}

// ---------------------------------------------------------------------------------------
// Stereo Fuzz

void ParaDist::bindParams(Param* first) {
    first[0].init(Param::Linear, 0, 100, 0, "%.0f%%", "Drive", 50, false, nullptr);
    first[1].init(Param::Linear, 0, 100, 0, "%.0f", "Color", 50, false, nullptr);
    FxBase::bindParams(first);
}

void ParaDist::setSampleRate(float rate) {
    sampleRate = rate;
    for (FxMath::Ramp* r : {&positiveSlope, &negativeSlope, &floorLevel}) r->unprime();
}

void ParaDist::process(float* const* inputs, float* const* outputs, int frames) noexcept {
    if (params == nullptr || sampleRate <= 0.0f) return passThrough(inputs, outputs, frames);
    const float drive = unitParamValue(params[0]) / 100.0f;
    const float color = unitParamValue(params[1]) / 100.0f;
    const float f0 = 1.0f - 0.92f * drive;
    const float g = 1.0f / (f0 * f0 + 0.1f);
    positiveSlope.aim(2.0f * g, frames);
    negativeSlope.aim(g, frames);
    floorLevel.aim(f0 * f0 / (0.5f * color + 0.2f), frames);
    const float base = 0.7f * color + 0.3f;
    const float l = base * base * base * 3000.0f / sampleRate;
    const float freqTarget = l * l / (0.5f * l * l + 0.025f);
    const float dampTarget = 1.0f - l / (l + 0.1f);
    // The filter glides toward its targets over about 10 ms, or within a longer call.
    const float r = 1.0f / std::max(0.01f * sampleRate, static_cast<float>(frames));
    const float freqStep = (freqTarget - freq) * r;
    const float dampStep = (dampTarget - damp) * r;

    for (int i = 0; i < frames; ++i) {
        const float pos = positiveSlope.next(), neg = negativeSlope.next(), fl = floorLevel.next();
        for (size_t c = 0; c < 2; ++c) {
            hp[c] = damp * hp[c] + inputs[c][i] - lp[c];
            lp[c] += hp[c] * freq;
            const float slope = hp[c] > 0.0f ? pos : neg;
            outputs[c][i] = hp[c] / (slope * std::fabs(hp[c]) + fl);
        }
        freq += freqStep;
        damp += dampStep;
    }
    for (FxMath::Ramp* r2 : {&positiveSlope, &negativeSlope, &floorLevel}) r2->finish();
}

} // namespace tarvo
