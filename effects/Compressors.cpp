#include "effects/Compressors.h"

#include <algorithm>
#include <cmath>

#include "effects/FxUnitIo.h"

namespace tarvo {

using FxMath::dbToLog2;
using FxMath::dbToNeper;
using FxMath::fastExp2;
using FxMath::fastLog2;
using FxMath::smoothCoef;
using FxMath::softClip;

namespace {

// Detector floor: about -80 dB, so silence never drives a logarithm to minus infinity.
constexpr float peakFloor = 0.0001f;

float stereoPeak(float l, float r) {
    return std::max({std::fabs(l), std::fabs(r), peakFloor});
}

// One step of a log-domain gain follower: release always, plus attack while falling.
float followGain(float gain, float target, float release, float attack) {
    return gain + (release + (gain > target ? attack : 0.0f)) * (target - gain);
}

void defineSpeed(Param& p) {
    p.init(Param::Linear, 0, 100, 0, "%.0f", "Speed", 50, false, nullptr);
}

} // namespace

// ---------------------------------------------------------------------------------------
// Sticky Compressor

void CompGlue::bindParams(Param* first) {
    first[0].init(Param::Linear, 0, 48, 0, "%.0f dB", "Gain", 6, false, nullptr);
    defineSpeed(first[1]);
    FxBase::bindParams(first);
}

void CompGlue::setSampleRate(float rate) {
    sampleRate = rate;
    for (FxMath::Ramp* r : {&release, &attack, &threshold, &makeup}) r->unprime();
}

void CompGlue::process(float* const* inputs, float* const* outputs, int frames) noexcept {
    if (params == nullptr || sampleRate <= 0.0f) return passThrough(inputs, outputs, frames);
    const float gainDb = unitParamValue(params[0]);
    const float speed = unitParamNormalized(params[1]);
    const float x = 1.0f - 0.98f * speed;
    const float releaseSamples = x * x * 0.2f * sampleRate + 0.0005f * sampleRate;
    const float attackSamples = x * x * 0.02f * sampleRate + 0.0005f * sampleRate;
    const float releaseCoef = smoothCoef(releaseSamples);
    release.aim(releaseCoef, frames);
    attack.aim(smoothCoef(attackSamples) - releaseCoef, frames);
    // The threshold falls by 1.333 dB per dB of make-up gain.
    threshold.aim((-10.0f - 1.333f * gainDb) * dbToLog2, frames);
    makeup.aim(gainDb * dbToLog2, frames);

    // The follower and its ramps run in locals: the outputs may alias the unit, so members
    // would be stored and loaded again at every frame.
    FxMath::Ramp rel = release, att = attack, thr = threshold, up = makeup;
    float gain = gainLog2;
    const float* inL = inputs[0];
    const float* inR = inputs[1];
    float* outL = outputs[0];
    float* outR = outputs[1];
    for (int i = 0; i < frames; ++i) {
        const float l = inL[i], r = inR[i];
        const float level = fastLog2(stereoPeak(l, r));
        // 3:1 above the threshold, plus the make-up gain.
        const float target = std::min(thr.next() - level, 0.0f) * (2.0f / 3.0f) + up.next();
        gain = followGain(gain, target, rel.next(), att.next());
        gain = std::min(gain, -level); // never lift the peak above 1
        const float g = fastExp2(gain);
        outL[i] = softClip(g * l);
        outR[i] = softClip(g * r);
    }
    gainLog2 = gain;
    release = rel;
    attack = att;
    threshold = thr;
    makeup = up;
    for (FxMath::Ramp* ramp : {&release, &attack, &threshold, &makeup}) ramp->finish();
}

// ---------------------------------------------------------------------------------------
// L.A. Optical

void CompOptical::bindParams(Param* first) {
    first[0].init(Param::Linear, 0, 48, 0, "%.0f dB", "Gain", 12, false, nullptr);
    defineSpeed(first[1]);
    FxBase::bindParams(first);
}

void CompOptical::setSampleRate(float rate) {
    sampleRate = rate;
    for (FxMath::Ramp* r : {&release, &attack, &knee, &kneeOverGain, &inverseGain}) r->unprime();
}

void CompOptical::process(float* const* inputs, float* const* outputs, int frames) noexcept {
    if (params == nullptr || sampleRate <= 0.0f) return passThrough(inputs, outputs, frames);
    const float gainDb = unitParamValue(params[0]);
    const float speed = unitParamNormalized(params[1]);
    // Release from 400 ms (slowest) to 5 ms, attack from 8 ms to 2 ms.
    const float releaseCoef = 1.0f / ((400.0f - 395.0f * speed) * 0.001f * sampleRate + 1.0f);
    const float attackCoef = 1.0f / ((8.0f - 6.0f * speed) * 0.001f * sampleRate + 1.0f) - releaseCoef;
    const float linearGain = fastExp2(gainDb * dbToLog2);
    const float kneeGain = fastExp2(-0.25f * gainDb * dbToLog2);
    release.aim(releaseCoef, frames);
    attack.aim(attackCoef, frames);
    knee.aim(kneeGain, frames);
    kneeOverGain.aim(kneeGain / linearGain, frames);
    inverseGain.aim(1.0f / linearGain, frames);

    // Negative half-waves count 80 % in the detector.
    auto detect = [](float v) { return v >= 0.0f ? v : -0.8f * v; };
    for (int i = 0; i < frames; ++i) {
        const float l = inputs[0][i], r = inputs[1][i];
        const float u = std::max(detect(l), detect(r)) + peakFloor;
        envelope += (0.01f + (envelope < u ? 0.1f : 0.0f)) * (u - envelope);
        const float k = knee.next();
        const float target = k / (envelope + kneeOverGain.next());
        const float delta = target - opticalGain;
        const float rel = release.next(), att = attack.next();
        // The further off, the faster the cell moves.
        opticalGain += (std::fabs(delta) + 0.1f) * (rel + (delta < 0.0f ? att : 0.0f)) * delta;
        opticalGain = std::min(opticalGain, 1.0f / (u + inverseGain.next()));
        outputs[0][i] = opticalGain * l;
        outputs[1][i] = opticalGain * r;
    }
    for (FxMath::Ramp* ramp : {&release, &attack, &knee, &kneeOverGain, &inverseGain}) ramp->finish();
}

// ---------------------------------------------------------------------------------------
// Upward Compressor

void CompVinyl::bindParams(Param* first) {
    first[0].init(Param::Linear, 0.1f, 10, 0, "%.1f", "Ratio", 2, false, nullptr);
    defineSpeed(first[1]);
    FxBase::bindParams(first);
}

void CompVinyl::setSampleRate(float rate) {
    sampleRate = rate;
    for (FxMath::Ramp* r : {&slope, &offset, &threshold, &release, &attack}) r->unprime();
}

void CompVinyl::reset() noexcept {
    gainLog2 = 0.0f;
    peakHold = 0.0f;
}

void CompVinyl::process(float* const* inputs, float* const* outputs, int frames) noexcept {
    if (params == nullptr || sampleRate <= 0.0f) return passThrough(inputs, outputs, frames);
    const float ratio = unitParamValue(params[0]);
    const float speed = unitParamNormalized(params[1]);
    const float b = 1.0f - 1.0f / ratio;
    const float f = std::max(1.0f - ratio, 0.0f);
    const float v = (1.0f - speed) * 0.2f * sampleRate;
    // Upward (b >= 0) the gain rises slowly and falls fast; turned over, the other way round.
    const float releaseSamples = (b >= 0.0f ? 1.0f : 0.1f) * v + 3.0f;
    const float attackSamples = (b < 0.0f ? 1.0f : 0.1f) * v + 3.0f;
    const float releaseCoef = smoothCoef(releaseSamples);
    slope.aim(b, frames);
    offset.aim(f, frames);
    threshold.aim((std::min(-10.0f * b, 0.0f) - 12.0f) * dbToLog2 - f, frames);
    release.aim(releaseCoef, frames);
    attack.aim(smoothCoef(attackSamples) - releaseCoef, frames);

    for (int i = 0; i < frames; ++i) {
        const float l = inputs[0][i], r = inputs[1][i];
        peakHold = std::max(0.99f * peakHold, stereoPeak(l, r));
        const float level = fastLog2(peakHold);
        const float target = std::max(threshold.next() - level, 0.0f) * slope.next() + offset.next();
        gainLog2 = followGain(gainLog2, target, release.next(), attack.next());
        gainLog2 = std::min(gainLog2, -level);
        const float g = fastExp2(gainLog2);
        outputs[0][i] = g * l;
        outputs[1][i] = g * r;
    }
    for (FxMath::Ramp* ramp : {&slope, &offset, &threshold, &release, &attack}) ramp->finish();
}

// ---------------------------------------------------------------------------------------
// Limiter

void CompLimiter::bindParams(Param* first) {
    first[0].init(Param::Linear, 0, 48, 0, "%.0f dB", "Gain", 0, false, nullptr);
    defineSpeed(first[1]);
    FxBase::bindParams(first);
}

void CompLimiter::setSampleRate(float rate) {
    sampleRate = rate;
    for (FxMath::Ramp* r : {&drive, &fastRelease, &fastAttack, &slowRelease, &slowAttack}) r->unprime();
}

void CompLimiter::process(float* const* inputs, float* const* outputs, int frames) noexcept {
    if (params == nullptr || sampleRate <= 0.0f) return passThrough(inputs, outputs, frames);
    const float gainDb = unitParamValue(params[0]);
    const float speed = unitParamNormalized(params[1]);
    const float ceiling = FxMath::expNeg(0.3f * dbToNeper); // about -0.3 dB
    const float knee = FxMath::expNeg(3.0f * dbToNeper);    // about -3 dB
    const float k = 1.0f - knee;
    const float a = sampleRate * 0.005f * (1.2f - speed);
    const float c = (1.1f - speed) * sampleRate * 0.1f;
    const float fastRel = 1.0f / (c + 1.0f);
    const float slowRel = 1.0f / (0.5f * c + 1.0f);
    drive.aim(fastExp2(gainDb * dbToLog2), frames);
    fastRelease.aim(fastRel, frames);
    fastAttack.aim(1.0f / (a + 1.0f) - fastRel, frames);
    slowRelease.aim(slowRel, frames);
    slowAttack.aim(1.0f / (0.5f * a + 1.0f) - slowRel, frames);

    // Followers and ramps in locals, as in the Sticky Compressor.
    FxMath::Ramp dr = drive, fr = fastRelease, fa = fastAttack, sr = slowRelease, sa = slowAttack;
    float fast = fastGain, slow = slowGain;
    const float* inL = inputs[0];
    const float* inR = inputs[1];
    float* outL = outputs[0];
    float* outR = outputs[1];
    for (int i = 0; i < frames; ++i) {
        const float d = dr.next();
        const float l = d * inL[i], r = d * inR[i];
        // The gain that puts this frame exactly at the ceiling.
        const float atCeiling = ceiling / (std::max(std::fabs(l), std::fabs(r)) + 0.001f);
        const float b = std::min(atCeiling * knee, 1.0f);
        fast = followGain(fast, b, fr.next(), fa.next());
        slow = followGain(slow, fast, sr.next(), sa.next());
        // Soft minimum of the ceiling gain and the slow gain.
        const float e = std::max(slow * k - std::fabs(slow - atCeiling), 0.0f);
        float gain = std::min(atCeiling, slow);
        if (e > 0.0f) gain -= e * e * 0.25f / (slow * k);
        outL[i] = gain * l;
        outR[i] = gain * r;
    }
    fastGain = fast;
    slowGain = slow;
    drive = dr;
    fastRelease = fr;
    fastAttack = fa;
    slowRelease = sr;
    slowAttack = sa;
    for (FxMath::Ramp* ramp : {&drive, &fastRelease, &fastAttack, &slowRelease, &slowAttack}) ramp->finish();
}

// ---------------------------------------------------------------------------------------
// Compressor (send list)

void ParaCompress::bindParams(Param* first) {
    first[0].init(Param::Linear, 0.1f, 10, 0, "%.1f", "Ratio", 3, false, nullptr);
    defineSpeed(first[1]);
    FxBase::bindParams(first);
}

void ParaCompress::setSampleRate(float rate) {
    sampleRate = rate;
    for (FxMath::Ramp* r : {&slope, &release, &attack}) r->unprime();
}

void ParaCompress::process(float* const* inputs, float* const* outputs, int frames) noexcept {
    if (params == nullptr || sampleRate <= 0.0f) return passThrough(inputs, outputs, frames);
    const float ratio = unitParamValue(params[0]);
    const float speed = unitParamValue(params[1]);
    const float x = 1.0f - (speed / 100.0f) * 0.9f;
    const float releaseSamples = x * x * 0.2f * sampleRate;
    const float attackSamples = releaseSamples * 0.05f + 0.0005f * sampleRate;
    const float releaseCoef = smoothCoef(releaseSamples);
    slope.aim(1.0f - 1.0f / ratio, frames);
    release.aim(releaseCoef, frames);
    attack.aim(smoothCoef(attackSamples) - releaseCoef, frames);
    // Every level is pulled toward this one by the ratio.
    constexpr float targetLevel = -15.0f * dbToLog2;

    for (int i = 0; i < frames; ++i) {
        const float l = inputs[0][i], r = inputs[1][i];
        const float level = fastLog2(stereoPeak(l, r));
        const float target = (targetLevel - level) * slope.next();
        gainLog2 = followGain(gainLog2, target, release.next(), attack.next());
        gainLog2 = std::min(gainLog2, -level);
        const float g = fastExp2(gainLog2);
        outputs[0][i] = softClip(g * l);
        outputs[1][i] = softClip(g * r);
    }
    for (FxMath::Ramp* ramp : {&slope, &release, &attack}) ramp->finish();
}

} // namespace tarvo
