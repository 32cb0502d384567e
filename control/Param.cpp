#include "control/Param.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace tarvo {

namespace {

void warnCheckFailed() {
    std::fputs("Warning: check is false!\n", stderr);
}

float signOf(float v) {
    return v < 0.0f ? -1.0f : 1.0f;
}

// Smallest positive argument of the logarithmic shape's ln().
constexpr float logFloor = 1e-30f;

} // namespace

void Param::init(int32_t newShape, float newMin, float newMax, float newCurve, const char* newFormat,
                 const char* newName, float newDefault, bool exposed, const char* newGroup,
                 int32_t newSinceVersion) {
    format = newFormat;
    name = newName;
    min = newMin;
    max = newMax;
    curve = newCurve;
    shape = newShape;
    if (newGroup != nullptr) group = newGroup;
    defaultValue = newDefault;
    set(newDefault);
    if (!exposed)
        hostIndex = -1;
    else if (hostIndex < 0)
        hostIndex = 0;
    sinceVersion = newSinceVersion;
}

void Param::setValueTexts(const char* const* texts, int32_t count) {
    valueTexts = texts;
    valueTextCount = count;
}

void Param::setSnapValues(float first, float second, float third, float fourth) {
    const float given[maxSnapValues] = {first, second, third, fourth};
    // The first value is always present; the others only when not the marker.
    snapValues[0] = first;
    snapCount = 1;
    for (int i = 1; i < maxSnapValues; ++i) {
        if (given[i] == noSnap) continue;
        snapValues[i] = given[i];
        snapCount = i + 1;
    }
}

float Param::lowest() const {
    return std::min(fromNormalized(0.0f), fromNormalized(1.0f));
}
float Param::highest() const {
    return std::max(fromNormalized(0.0f), fromNormalized(1.0f));
}

void Param::set(float x) {
    if (!std::isfinite(x)) return;
    requested = x;
    if (x == value) return;
    value = std::clamp(x, lowest(), highest());
    if (listener != nullptr) listener->paramChanged();
}

float Param::setNormalized(float n) {
    if (!std::isfinite(n)) return value;
    if (n < 0.0f || n > 1.0f) {
        warnCheckFailed();
        n = std::clamp(n, 0.0f, 1.0f);
    }
    set(fromNormalized(n));
    return value;
}

float Param::fromNormalized(float n) const {
    const float span = max - min;
    switch (shape) {
    case Linear:
        return min + span * n;
    case PowerCurve:
        return signOf(n) * std::pow(std::fabs(n), curve) * span + min;
    case SignedPower: {
        const float r = min + span * n;
        return signOf(r) * std::pow(std::fabs(r), curve);
    }
    case Exponential:
        return min * std::exp(std::log(max / min) * n);
    case Logarithmic:
        return curve * std::log(std::max(min + span * n, logFloor));
    case Stepped:
        return std::floor(span * n + min + 0.5f);
    default:
        warnCheckFailed();
        return -1.0f;
    }
}

float Param::toNormalized(float x) const {
    const float span = max - min;
    switch (shape) {
    case Linear:
        return (x - min) / span;
    case PowerCurve: {
        const float e = (x - min) / span;
        return signOf(e) * std::pow(std::fabs(e), 1.0f / curve);
    }
    case SignedPower:
        return (signOf(x) * std::pow(std::fabs(x), 1.0f / curve) - min) / span;
    case Exponential:
        return std::log(x / min) / std::log(max / min);
    case Logarithmic:
        return (std::exp(x / curve) - min) / span;
    case Stepped:
        return (x - min) / std::max(span, 1.0f);
    default:
        warnCheckFailed();
        return -1.0f;
    }
}

int Param::textIndex(float x) const {
    if (!std::isfinite(x)) return -1;
    const double k = std::trunc(static_cast<double>(x)) - static_cast<double>(min);
    // Far beyond any list: no text, and no undefined conversion to int.
    constexpr double beyondAnyList = 1e9;
    return (k >= 0.0 && k < beyondAnyList) ? static_cast<int>(k) : -1;
}

void Param::formatValue(char* text, int capacity, float x) const {
    if (text == nullptr || capacity <= 0) return;
    const int k = textIndex(x);
    if (toText != nullptr) {
        toText(x, text, capacity);
    } else if (valueTexts != nullptr && valueTextCount > 0 && x >= 0.0f && k >= 0 && k < valueTextCount) {
        std::snprintf(text, static_cast<size_t>(capacity), "%s", valueTexts[k]);
        for (char* c = text; *c != '\0'; ++c)
            if (*c == '|') *c = ' ';
    } else if (shape == Stepped && format != nullptr && std::strchr(format, '|') != nullptr) {
        const char* field = format;
        for (int i = 0; i < k && field != nullptr; ++i) {
            field = std::strchr(field, '|');
            if (field != nullptr) ++field;
        }
        if (field == nullptr || k < 0) {
            text[0] = '\0';
        } else {
            const char* end = std::strchr(field, '|');
            const size_t length = end != nullptr ? static_cast<size_t>(end - field) : std::strlen(field);
            const size_t copied = std::min(length, static_cast<size_t>(capacity - 1));
            std::memcpy(text, field, copied);
            text[copied] = '\0';
        }
    } else {
        const char* f = (format != nullptr && format[0] != '\0') ? format : "%.3f";
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        std::snprintf(text, static_cast<size_t>(capacity), f, static_cast<double>(x));
#pragma GCC diagnostic pop
    }
    text[capacity - 1] = '\0';
}

void Param::recompute() {
    const float s = modOffsetA + modOffsetB;
    if (s == 0.0f) {
        isModulated = 0;
        return;
    }
    isModulated = 1;
    modulatedValue = fromNormalized(toNormalized(value) + s);
    modRecomputed = 1;
}

void Param::resetModulation() {
    modulatedValue = value;
    modOffsetA = 0.0f;
    modOffsetB = 0.0f;
    isModulated = 0;
    modRecomputed = 0;
}

namespace {

constexpr int valueBytes = Param::storedValueBytes;

bool fits(const void* buffer, int position, int size) {
    return buffer != nullptr && position >= 0 && position <= size - valueBytes;
}

} // namespace

void Param::writeValue(uint8_t* buffer, int& position, int size) const {
    if (fits(buffer, position, size)) {
        const float stored = value;
        uint32_t bits;
        std::memcpy(&bits, &stored, sizeof bits);
        for (int i = 0; i < valueBytes; ++i) buffer[position + i] = static_cast<uint8_t>(bits >> (8 * i));
    }
    position += valueBytes;
}

void Param::readValue(const uint8_t* buffer, int& position, int size, int version) {
    if (!storedIn(version)) {
        value = defaultValue;
        requested = defaultValue;
        return;
    }
    if (fits(buffer, position, size)) {
        uint32_t bits = 0;
        for (int i = 0; i < valueBytes; ++i) bits |= static_cast<uint32_t>(buffer[position + i]) << (8 * i);
        float v;
        std::memcpy(&v, &bits, sizeof v);
        set(v);
    }
    position += valueBytes;
}

void Param::formatHostName(char* text, int capacity) const {
    if (text == nullptr || capacity <= 0) return;
    const char* shownName = name != nullptr ? name : "";
    if (group != nullptr)
        std::snprintf(text, static_cast<size_t>(capacity), "%s %s", group, shownName);
    else
        std::snprintf(text, static_cast<size_t>(capacity), "%s", shownName);
}

void formatDecibels(float value, char* text, int capacity) {
    std::snprintf(text, static_cast<size_t>(std::min(capacity, 10)), "%+.0f dB",
                  20.0 * std::log10(static_cast<double>(value)));
}

float decibelsToGain(float typed) {
    return std::pow(10.0f, typed * 0.05f);
}

void formatPan(float value, char* text, int capacity) {
    const char side = value < 0.0f ? 'L' : (value > 0.0f ? 'R' : ' ');
    std::snprintf(text, static_cast<size_t>(std::min(capacity, 10)), "%.0f %c",
                  std::fabs(static_cast<double>(value)), side);
}

} // namespace tarvo
