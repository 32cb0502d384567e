#include "effects/DelayLines.h"

#include <algorithm>

namespace tarvo {

namespace {

// How close to the far end of its line a reader may be placed or sent, so that a block of
// reading at up to double speed never runs into samples being overwritten.
constexpr int readerMargin = 32;
// Reading speeds a reader may glide to, as fractions of real time.
constexpr float slowestSpeed = 0.5f;
constexpr float fastestSpeed = 2.0f;
// Largest change of reading speed per sample.
constexpr float maxSpeedChange = 0.001f;
// Cosine of 45 degrees, the rotation stage's mixing weight.
constexpr float rotationWeight = 0.70710677f;

} // namespace

void DelayLine::setSize(int totalSize) {
    usable = std::max(totalSize - guardSamples, 1);
    buffer.assign(static_cast<size_t>(usable + guardSamples), 0.0f);
    writeIndex = 0;
    reader.restart();
    gain = 1.0f;
}

void DelayLine::clear() noexcept {
    std::fill(buffer.begin(), buffer.end(), 0.0f);
    reader.restart();
}

void DelayLine::write(const float* samples, int n) noexcept {
    float* b = buffer.data();
    int w = writeIndex;
    for (int j = 0; j < n; ++j) {
        b[w] = samples[j];
        if (w < guardSamples) b[usable + w] = samples[j];
        if (++w == usable) w = 0;
    }
    writeIndex = w;
}

void readVarispeed(DelayLine& line, float* output, int n, float delay, float decay,
                   DelayReader* reader) noexcept {
    DelayReader& r = reader != nullptr ? *reader : line.reader;
    const int size = line.length();
    const float farthest = static_cast<float>(std::max(size - readerMargin, 1));
    // Written so that a NaN request lands on the far end rather than propagating.
    float d = delay < farthest ? delay : farthest;
    d = d > 0.0f ? d : 0.0f;

    if (r.readPos < 0.0) {
        if (r.writeSeen < 0) r.writeSeen = line.writeIndex;
        r.readPos = r.writeSeen - static_cast<double>(d);
        if (r.readPos < 0.0) r.readPos += size;
    }
    double current = r.writeSeen - r.readPos;
    if (r.readPos > r.writeSeen) current += size;

    const float targetSpeed =
        std::clamp(1.0f - (d - static_cast<float>(current)) * 0.001f, slowestSpeed, fastestSpeed);
    const float speedChange =
        std::clamp((targetSpeed - r.speed) / (1.5f * static_cast<float>(n)), -maxSpeedChange, maxSpeedChange);

    const float targetGain = expDecay(d * decay);
    const float gainStep = (targetGain - line.gain) / static_cast<float>(n);
    float g = line.gain;

    const float* b = line.buffer.data();
    double pos = r.readPos;
    const double speed = r.speed;
    for (int j = 0; j < n; ++j) {
        if (pos >= size) pos -= size;
        const int i = static_cast<int>(pos);
        const float f = static_cast<float>(pos - i);
        const float x0 = b[i], x1 = b[i + 1], x2 = b[i + 2], x3 = b[i + 3];
        // Catmull-Rom interpolation between x1 and x2.
        const float value = x1 + f * (0.5f * (x2 - x0) + f * (x0 - 2.5f * x1 + 2.0f * x2 - 0.5f * x3 +
                                                              f * (1.5f * (x1 - x2) + 0.5f * (x3 - x0))));
        g += gainStep;
        output[j] = value * g;
        pos += speed;
    }
    r.readPos = pos;
    r.speed += static_cast<float>(n) * speedChange;
    r.writeSeen = (r.writeSeen + n) % size;
    line.gain = targetGain;
}

void rotate(DelayLine& line, float* c0, float* c1, int n, int delay, float decay) noexcept {
    const int size = line.length();
    const int m = std::clamp(delay, 0, size);
    const float targetGain = expDecay(static_cast<float>(m) * decay);
    const float gainStep = (targetGain - line.gain) / static_cast<float>(n);
    float g = line.gain;
    float* b = line.buffer.data();
    int w = line.writeIndex;
    for (int j = 0; j < n; ++j) {
        int tap = w - m;
        if (tap < 0) tap += size;
        g += gainStep;
        const float d = g * b[tap];
        b[w] = c0[j];
        const float right = c1[j];
        c0[j] = (right - d) * rotationWeight;
        c1[j] = (right + d) * rotationWeight;
        if (++w == size) w = 0;
    }
    line.writeIndex = w;
    line.gain = targetGain;
}

void allpass(DelayLine& line, float* x, int n, int delay, float coefficient, float decay) noexcept {
    const int size = line.length();
    const int m = std::clamp(delay, 0, size);
    const float targetGain = expDecay(static_cast<float>(m) * decay);
    const float gainStep = (targetGain - line.gain) / static_cast<float>(n);
    float g = line.gain;
    float* b = line.buffer.data();
    int w = line.writeIndex;
    for (int j = 0; j < n; ++j) {
        int tap = w - m;
        if (tap < 0) tap += size;
        g += gainStep;
        const float delayed = g * b[tap];
        const float v = x[j] + coefficient * delayed;
        x[j] = delayed - coefficient * v;
        b[w] = v;
        if (++w == size) w = 0;
    }
    line.writeIndex = w;
    line.gain = targetGain;
}

void CrossfadeDelay::setSize(int newLength, int channelCount) {
    length = std::max(newLength, 1);
    channels = std::max(channelCount, 1);
    rings.assign(static_cast<size_t>(channels), std::vector<float>(static_cast<size_t>(length), 0.0f));
    writeIndex = 0;
}

void CrossfadeDelay::clear() noexcept {
    for (auto& ring : rings) std::fill(ring.begin(), ring.end(), 0.0f);
    writeIndex = 0;
}

void CrossfadeDelay::write(const float* const* inputs, int n) noexcept {
    int w = writeIndex;
    for (int c = 0; c < channels; ++c) {
        float* ring = rings[static_cast<size_t>(c)].data();
        w = writeIndex;
        for (int j = 0; j < n; ++j) {
            ring[w] = inputs[c][j];
            if (++w == length) w = 0;
        }
    }
    writeIndex = w;
}

float CrossfadeDelay::sampleAt(int channel, int end, int j, int delay) const noexcept {
    int pos = end - delay + j;
    if (pos < 0) pos += length;
    if (pos >= length) pos -= length;
    return rings[static_cast<size_t>(channel)][static_cast<size_t>(pos)];
}

void CrossfadeDelay::read(float* const* outputs, int n, int delay) noexcept {
    // The block's first sample sits n positions before the write index; anything older than
    // length - n would already be overwritten by this block.
    const int d = std::clamp(delay, 0, std::max(length - n, 0));
    int start = writeIndex - n;
    if (start < 0) start += length;

    if (current < 0) {
        current = d;
    } else if (d != current && next < 0) {
        next = d;
        fade = 0.0f;
    }

    int j = 0;
    if (next >= 0) {
        const int remaining = std::max(static_cast<int>((1.0f - fade) / step + 0.5f), 1);
        const int e = std::min(remaining, n);
        for (int c = 0; c < channels; ++c) {
            float f = fade;
            for (int i = 0; i < e; ++i) {
                const float older = sampleAt(c, start, i, current);
                const float newer = sampleAt(c, start, i, next);
                outputs[c][i] = (1.0f - f) * older + f * newer;
                f += step;
            }
        }
        fade += static_cast<float>(e) * step;
        j = e;
        if (fade + step >= 1.0f) {
            current = next;
            next = -1;
        }
    }
    for (int c = 0; c < channels; ++c)
        for (int i = j; i < n; ++i) outputs[c][i] = sampleAt(c, start, i, current);
}

} // namespace tarvo
