#include "effects/PlateSpring.h"

#include <algorithm>
#include <cmath>

#include "dsp/Fft.h"
#include "effects/ChorusDelay.h"
#include "effects/FlushDenormals.h"

namespace tarvo {

namespace {

constexpr float twoPi = 6.2831853f;
// Largest change per sample of the plate's ramped gains and coefficients.
constexpr float plateSlew = 0.01f;
// Schroeder coefficient of the spring's two all-passes.
constexpr float springAllpassCoefficient = -0.61f;
// Rate of the spring's loop wobble in Hz.
constexpr float springWobbleHz = 2.5f;
// The spring's loop delay in milliseconds and its wobble depth.
constexpr float springLoopMs = 5.0f;
constexpr float springWobbleMs = 0.25f;
// Frequency where the spring's delay peaks and its response has a notch, in Hz.
constexpr float springPeakHz = 6000.0f;

inline float fraction(float x) noexcept {
    return x - std::floor(x);
}

inline float towards(float value, float target, float slew, int n) noexcept {
    return std::clamp((target - value) / static_cast<float>(n), -slew, slew);
}

void silence(float* const* outputs, int frames) noexcept {
    std::fill(outputs[0], outputs[0] + frames, 0.0f);
    std::fill(outputs[1], outputs[1] + frames, 0.0f);
}

} // namespace

void ReverbPlate::bindParams(Param* first) {
    first[0].init(Param::Linear, 0.0f, 100.0f, 0.0f, "%.0f", "Length", 50.0f, false, nullptr);
    first[1].init(Param::Linear, 0.0f, 100.0f, 0.0f, "%.0f", "Brightness", 50.0f, false, nullptr);
    FxBase::bindParams(first);
}

void ReverbPlate::setSampleRate(float rate) {
    sampleRate = rate;
    for (int k = 0; k < lineCount; ++k) {
        // 12 ms growing by 2^0.73 per line, up to 54.8 ms.
        const int samples = std::max(static_cast<int>(std::exp2(0.73f * k) * 0.012f * rate + 0.5f), 1);
        rings[k].assign(static_cast<size_t>(samples), 0.0f);
        readIndex[k] = writeIndex[k] = 0;
    }
    maxChunk = std::clamp(static_cast<int>(rings[0].size()), 1, chunkFrames);
    for (int j = 0; j < stageCount; ++j)
        stages[j].setSize(static_cast<int>(std::exp2(0.53f * j) * 0.00145f * rate + 0.5f) +
                          DelayLine::guardSamples);
    // Half a 4x4 Hadamard matrix: orthonormal, so mixing keeps the network's energy.
    const float sign[lineCount][lineCount] = {{1, 1, 1, 1}, {1, -1, 1, -1}, {1, 1, -1, -1}, {1, -1, -1, 1}};
    for (int r = 0; r < lineCount; ++r)
        for (int c = 0; c < lineCount; ++c) matrix[r][c] = 0.5f * sign[r][c];
}

void ReverbPlate::reset() noexcept {
    for (int k = 0; k < lineCount; ++k) {
        std::fill(rings[k].begin(), rings[k].end(), 0.0f);
        lowpass[k] = 0.0f;
    }
    for (DelayLine& line : stages) line.clear();
}

void ReverbPlate::process(float* const* inputs, float* const* outputs, int frames) noexcept {
    if (params == nullptr || sampleRate <= 0.0f) return silence(outputs, frames);
    ScopedFlushDenormals noDenormals;
    const float t = params[0].toNormalized(params[0].effective());
    const float b = std::clamp(params[1].toNormalized(params[1].effective()), 0.0f, 1.0f);
    const float sr = sampleRate;

    // "Length" sets one decay time for all lines: a longer line gets a smaller loop gain.
    const float x = std::exp2(4.0f * t - 2.0f) * 0.25f * sr;
    float feedbackTarget[lineCount];
    float dampTarget[lineCount];
    float meanFeedback = 0.0f;
    for (int k = 0; k < lineCount; ++k) {
        const float n = static_cast<float>(rings[k].size());
        const float ratio = x / n;
        feedbackTarget[k] = ratio / (ratio + 1.0f);
        // "Brightness" 1 leaves the loops unfiltered.
        const float y = 32.0f * (1.0f - b) * n / sr;
        dampTarget[k] = 1.0f - y / (std::fabs(y) + 1.0f);
        meanFeedback += 0.25f * feedbackTarget[k];
    }
    const float inGainTarget = 2.0f * std::sqrt(std::max(1.0f - meanFeedback * meanFeedback, 0.0f));

    float w[lineCount][chunkFrames];
    for (int start = 0; start < frames; start += maxChunk) {
        const int n = std::min(maxChunk, frames - start);
        const float* inL = inputs[0] + start;
        const float* inR = inputs[1] + start;
        const float inStep = towards(inGain, inGainTarget, plateSlew, n);

        for (int k = 0; k < lineCount; ++k) {
            const float* ring = rings[k].data();
            const int size = static_cast<int>(rings[k].size());
            int r = readIndex[k];
            for (int j = 0; j < n; ++j) {
                w[k][j] = ring[r];
                if (++r == size) r = 0;
            }
            readIndex[k] = r;

            // Line k takes -(L + R)/2, (R - L)/2, (L - R)/2 and (L + R)/2.
            const float a = static_cast<float>(k / 2) - 0.5f;
            const float bk = static_cast<float>(k % 2) - 0.5f;
            const float fbStep = towards(feedback[k], feedbackTarget[k], plateSlew, n);
            const float dampStep = towards(dampCoef[k], dampTarget[k], plateSlew, n);
            float fb = feedback[k], damp = dampCoef[k], g = inGain, lp = lowpass[k];
            for (int j = 0; j < n; ++j) {
                fb += fbStep;
                damp += dampStep;
                g += inStep;
                lp += damp * ((a * inL[j] + bk * inR[j]) * g + fb * w[k][j] - lp);
                w[k][j] = lp;
            }
            feedback[k] = fb;
            dampCoef[k] = damp;
            lowpass[k] = lp;
        }
        inGain += static_cast<float>(n) * inStep;

        for (int j = 0; j < stageCount; ++j)
            rotate(stages[j], w[j % lineCount], w[(j + 1) % lineCount], n, stages[j].length(), 0.0f);
        std::copy(w[0], w[0] + n, outputs[0] + start);
        std::copy(w[1], w[1] + n, outputs[1] + start);

        for (int j = 0; j < n; ++j) {
            const float v[lineCount] = {w[0][j], w[1][j], w[2][j], w[3][j]};
            for (int r = 0; r < lineCount; ++r)
                w[r][j] =
                    matrix[r][0] * v[0] + matrix[r][1] * v[1] + matrix[r][2] * v[2] + matrix[r][3] * v[3];
        }
        for (int k = 0; k < lineCount; ++k) {
            float* ring = rings[k].data();
            const int size = static_cast<int>(rings[k].size());
            int wi = writeIndex[k];
            for (int j = 0; j < n; ++j) {
                ring[wi] = w[k][j];
                if (++wi == size) wi = 0;
            }
            writeIndex[k] = wi;
        }
    }
}

Dispersion::Dispersion() = default;
Dispersion::~Dispersion() = default;

void Dispersion::prepare(const float* delays, const float* magnitudes) {
    if (fft == nullptr) fft = std::make_unique<Fft>(8, 2);

    float longest = 0.0f;
    for (int i = 0; i < bins; ++i) longest = std::max(longest, delays[i]);
    spectrumCount = 1 << (static_cast<int>(std::log2(longest + 4.0f)) + 1);
    spectra.assign(static_cast<size_t>(spectrumCount) * frameSize, 0.0f);

    float energy = 0.0f;
    for (int n = 0; n < frameSize; ++n) {
        const float x = (static_cast<float>(n) - 128.0f + 0.5f) * twoPi / frameSize;
        const float shape =
            (0.072f * std::cos(2.0f * x) + 0.5f * std::cos(x) + 0.428f) * (0.5f * std::cos(x) + 0.5f);
        analysisWindow[n] = std::sqrt(std::max(shape, 0.0f));
        energy += analysisWindow[n] * analysisWindow[n];
    }
    // Overlap-add of four frames per hop and the transform's gain of n come out as 1.
    for (int n = 0; n < frameSize; ++n) synthesisWindow[n] = analysisWindow[n] * hop / (frameSize * energy);

    // Each bin reads two neighbouring past spectra, phase-shifted by its fractional delay and
    // weighted by a smoothstep; the running phase keeps neighbouring bins coherent.
    float phase = 0.0f;
    for (int i = 0; i < bins; ++i) {
        wholeDelay[i] = static_cast<int>(delays[i]);
        const float r = delays[i] - static_cast<float>(wholeDelay[i]);
        float* taps[2] = {tap0, tap1};
        for (int j = 0; j < 2; ++j) {
            const float u = std::max(1.0f - std::fabs(static_cast<float>(j) - r), 0.0f);
            const float weight = (3.0f - 2.0f * u) * u * u * magnitudes[i];
            const float o = fraction(phase + static_cast<float>(i) * (static_cast<float>(j) - r) * 0.25f);
            const float t = 4.0f * (1.0f - o) * o;
            // weight x (cos 2 pi o, sin 2 pi o), by polynomials.
            taps[j][2 * i] = weight * (1.0f - t * t * (0.5268947f * t * t + 1.4731053f));
            taps[j][2 * i + 1] = weight * (((1.2080399f * t + 1.7851804f) * t + 3.320247f) * (0.5f - o) * t);
        }
        if (i + 1 < bins)
            phase = fraction(phase) + (static_cast<float>(i) + 0.5f) * 0.25f * (delays[i + 1] - delays[i]);
    }
    clear();
}

void Dispersion::clear() noexcept {
    std::fill(spectra.begin(), spectra.end(), 0.0f);
    std::fill(std::begin(inputRing), std::end(inputRing), 0.0f);
    std::fill(std::begin(outputRing), std::end(outputRing), 0.0f);
    position = 0;
    sinceHop = 0;
    newest = 0;
}

void Dispersion::process(float* samples, int n) noexcept {
    if (fft == nullptr) return;
    const int mask = spectrumCount - 1;
    for (int s = 0; s < n; ++s) {
        inputRing[position] = samples[s];
        samples[s] = outputRing[position];
        outputRing[position] = 0.0f;
        position = (position + 1) & (frameSize - 1);
        if (++sinceHop < hop) continue;
        sinceHop = 0;

        // The ring's oldest sample now sits at `position`.
        for (int i = 0; i < frameSize; ++i)
            frame[i] = inputRing[(position + i) & (frameSize - 1)] * analysisWindow[i];
        newest = (newest + 1) & mask;
        fft->forward(frame, spectra.data() + static_cast<size_t>(newest) * frameSize);
        for (int i = 0; i < bins; ++i) {
            const float* x0 =
                spectra.data() + static_cast<size_t>((newest - wholeDelay[i]) & mask) * frameSize;
            const float* x1 =
                spectra.data() + static_cast<size_t>((newest - wholeDelay[i] - 1) & mask) * frameSize;
            const float ar = x0[2 * i], ai = x0[2 * i + 1];
            const float br = x1[2 * i], bi = x1[2 * i + 1];
            const float c0r = tap0[2 * i], c0i = tap0[2 * i + 1];
            const float c1r = tap1[2 * i], c1i = tap1[2 * i + 1];
            product[2 * i] = ar * c0r - ai * c0i + br * c1r - bi * c1i;
            product[2 * i + 1] = ar * c0i + ai * c0r + br * c1i + bi * c1r;
        }
        // The first pair carries DC and Nyquist, both real: no Nyquist in the output.
        product[1] = 0.0f;
        fft->inverse(product, frame);
        for (int i = 0; i < frameSize; ++i)
            outputRing[(position + i) & (frameSize - 1)] += frame[i] * synthesisWindow[i];
    }
}

float ReverbSpring::groupDelayMs(float f) noexcept {
    if (f >= springPeakHz) return 50.0f / ((f - 4000.0f) / 2000.0f + 1.0f) + 4.0f;
    return 60.0f * std::exp(-std::fabs(springPeakHz - f) / 1200.0f) + 20.0f;
}

void ReverbSpring::bindParams(Param* first) {
    first[0].init(Param::Linear, 0.0f, 100.0f, 0.0f, "%.0f", "Length", 50.0f, false, nullptr);
    first[1].init(Param::Linear, 0.0f, 100.0f, 0.0f, "%.0f", "Color", 50.0f, false, nullptr);
    FxBase::bindParams(first);
}

void ReverbSpring::setSampleRate(float rate) {
    sampleRate = rate;
    constexpr int bins = Dispersion::bins;
    float magnitude[bins];
    double weighted = 0.0, total = 0.0;
    float loudest = 0.0f;
    for (int i = 0; i < bins; ++i) {
        const float f = static_cast<float>(i) * rate / Dispersion::frameSize;
        binDelay[i] = rate / Dispersion::hop * 0.001f * groupDelayMs(f);
        // A notch at 6 kHz and a roll-off above 8 kHz.
        const float f8 = f / 8000.0f;
        magnitude[i] = ((f + 6.0f) / ((1.0f + f8 * f8 * f8) * (f + 8.0f))) *
                       std::min(std::fabs(f - springPeakHz) / 400.0f, 1.0f);
        weighted += static_cast<double>(magnitude[i]) * binDelay[i];
        total += magnitude[i];
        loudest = std::max(loudest, magnitude[i]);
    }
    meanDelay = static_cast<float>(Dispersion::hop * weighted / total);
    for (float& m : magnitude) m /= loudest;
    dispersion.prepare(binDelay, magnitude);

    const int tenth = static_cast<int>(0.1f * rate);
    loopLine.setSize(std::max(8 * (tenth / 8), 256) + DelayLine::guardSamples);
    for (int k = 0; k < 2; ++k) {
        allpassLines[k].setSize(tenth + DelayLine::guardSamples);
        // 17 ms and 27.9 ms.
        apDelay[k] = static_cast<int>(rate * 0.001f * 17.0f * std::exp2(5.0f * k / 7.0f));
    }
    // The loop reads at least 4.75 ms behind its writer; a chunk must not catch up with it.
    const int shortestLoop = static_cast<int>((springLoopMs - springWobbleMs) * 0.001f * rate);
    maxChunk = std::clamp(shortestLoop - 4, 1, chunkFrames);
    tone = ToneFilter();
    inGainNow = 0.0f;
}

void ReverbSpring::reset() noexcept {
    dispersion.clear();
    loopLine.clear();
    for (DelayLine& line : allpassLines) line.clear();
    tone.clear();
}

void ReverbSpring::process(float* const* inputs, float* const* outputs, int frames) noexcept {
    if (params == nullptr || sampleRate <= 0.0f) return silence(outputs, frames);
    ScopedFlushDenormals noDenormals;
    const float t = std::max(params[0].toNormalized(params[0].effective()), 0.0f);
    const float c = params[1].toNormalized(params[1].effective());
    const float sr = sampleRate;

    // Decay per sample: eight times faster at "Length" 0 than at 0.5, eight times slower at 1.
    const float k = std::exp2(-6.0f * (t - 0.5f)) * 1.5f / sr;
    const float inGain = 1.0f - 0.75f * t;
    const float cutoff = std::clamp((8000.0f * c * c * c + 100.0f) / sr, 0.001f, 0.45f);
    const float q = (c - 0.66f) / 0.66f;
    const float res = std::clamp(q * q * 0.75f + 0.2f, 0.0f, 0.99f);
    const float gainStep = (inGain - inGainNow) / static_cast<float>(frames);

    float loop[chunkFrames];
    float left[chunkFrames];
    float right[chunkFrames];
    for (int start = 0; start < frames; start += maxChunk) {
        const int n = std::min(maxChunk, frames - start);
        lfoPhase = fraction(lfoPhase) + springWobbleHz * static_cast<float>(n) / sr;
        const float delay =
            std::max((sineApprox(fraction(lfoPhase)) * springWobbleMs + springLoopMs) * sr * 0.001f, 2.0f);
        // The loop's gain covers the dispersion's mean delay as well as the line's.
        readVarispeed(loopLine, loop, n, delay, (delay + meanDelay) * k / delay);

        const float* inL = inputs[0] + start;
        const float* inR = inputs[1] + start;
        float g = inGainNow;
        for (int j = 0; j < n; ++j) {
            g += gainStep;
            loop[j] = loop[j] / (0.2f * std::fabs(loop[j]) + 1.0f) + g * (inL[j] + inR[j]);
        }
        inGainNow = g;

        dispersion.process(loop, n);
        std::copy(loop, loop + n, left);
        allpass(allpassLines[0], loop, n, apDelay[0], springAllpassCoefficient, k);
        std::copy(loop, loop + n, right);
        allpass(allpassLines[1], loop, n, apDelay[1], springAllpassCoefficient, k);
        tone.process(left, right, n, cutoff, res);
        loopLine.write(loop, n);
        std::copy(left, left + n, outputs[0] + start);
        std::copy(right, right + n, outputs[1] + start);
    }
    inGainNow = inGain;
}

} // namespace tarvo
