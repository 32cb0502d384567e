#include "instrument/StyleOwner.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>

#include "persistence/Folders.h"
#include "persistence/Settings.h"

namespace tarvo {

namespace {

constexpr ArgbColour opaqueBlack{255, 0, 0, 0};
constexpr ArgbColour opaqueRed{255, 255, 0, 0};
// Theme files are a few kilobytes; anything far larger is not a theme and is not read.
constexpr std::uintmax_t largestThemeBytes = 4 * 1024 * 1024;

std::string_view trimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// A hex digit's value; any other character counts as 0.
int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

uint8_t channel(float value) {
    return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

} // namespace

ArgbColour StyleOwner::parseColour(std::string_view text) {
    if (text.empty() || text.front() != '#') return opaqueRed;
    const std::string_view digits = text.substr(1);
    auto single = [&](size_t i) { return static_cast<uint8_t>(hexDigit(digits[i]) * 17); };
    auto pair = [&](size_t i) {
        return static_cast<uint8_t>(hexDigit(digits[i]) * 16 + hexDigit(digits[i + 1]));
    };
    switch (digits.size()) {
    case 3:
        return {255, single(0), single(1), single(2)};
    case 4:
        return {single(3), single(0), single(1), single(2)};
    case 6:
        return {255, pair(0), pair(2), pair(4)};
    case 8:
        return {pair(6), pair(0), pair(2), pair(4)};
    default:
        return opaqueBlack;
    }
}

float StyleOwner::parseNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    double sign = 1.0;
    if (i < text.size() && text[i] == '-') {
        sign = -1.0;
        ++i;
    }
    double number = 0.0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) number = number * 10.0 + (text[i] - '0');
    if (i < text.size() && text[i] == '.') {
        double scale = 0.1;
        for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, scale *= 0.1)
            number += (text[i] - '0') * scale;
    }
    // Digits enough to leave the float range (or even the double range) would give an
    // infinite size; such a number reads as the largest float of its sign.
    constexpr double largest = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(sign * number, -largest, largest));
}

void StyleOwner::parseStyleText(const char* text, size_t length, bool clearFirst) {
    if (clearFirst) {
        colours_.clear();
        values_.clear();
    }
    size_t i = 0;
    while (i < length) {
        while (i < length && (text[i] == ' ' || text[i] == '\r' || text[i] == '\n')) ++i;
        if (i >= length || text[i] == '\0') break;
        size_t end = i;
        while (end < length && text[end] != '\n' && text[end] != '\r' && text[end] != '\0') ++end;
        parseLine(std::string_view(text + i, end - i));
        if (end < length && text[end] == '\0') break;
        i = end;
    }
    ++revision_;
}

void StyleOwner::parseLine(std::string_view line) {
    if (line.front() == '#') return;
    // The first two non-empty fields between runs of ":".
    std::string_view fields[2];
    int count = 0;
    size_t start = 0;
    while (start < line.size() && count < 2) {
        size_t end = line.find(':', start);
        if (end == std::string_view::npos) end = line.size();
        if (end > start) fields[count++] = line.substr(start, end - start);
        start = end + 1;
    }
    if (count < 2) return;
    const std::string_view key = trimSpaces(fields[0]);
    std::string_view value = trimSpaces(fields[1]);
    if (startsWith(value, "var_")) {
        if (const auto found = variables_.find(value); found != variables_.end()) value = found->second;
    }
    if (startsWith(key, "color_")) {
        colours_.insert_or_assign(std::string(key.substr(6)), parseColour(value));
    } else if (startsWith(key, "value_")) {
        values_.insert_or_assign(std::string(key.substr(6)), parseNumber(value));
    } else if (startsWith(key, "var_")) {
        // The value may point into the table itself; copy it before assigning.
        std::string text(value);
        variables_.insert_or_assign(std::string(key), std::move(text));
    }
}

void StyleOwner::loadBuiltIn() {
    variables_.clear();
    parseStyleText(builtInText(), true);
}

std::filesystem::path StyleOwner::themeFilePath(const std::string& fileName) {
    if (fileName.empty() || fileName == "." || fileName == ".." ||
        fileName.find_first_of("/\\") != std::string::npos || fileName.find(':') != std::string::npos)
        return {};
    return folderPath(Folder::Themes) / fileName;
}

bool StyleOwner::loadTheme(const std::string& fileName, Settings* settings) {
    loadBuiltIn();
    const std::filesystem::path path = themeFilePath(fileName);
    if (path.empty()) return false;
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size == 0 || size > largestThemeBytes) return false;
    std::ifstream in(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.good() && !in.eof()) return false;
    if (text.empty()) return false;
    parseStyleText(text, false);
    if (settings != nullptr && settings->get(Settings::themeKey) != fileName)
        settings->set(Settings::themeKey, fileName);
    return true;
}

void StyleOwner::invertColours() {
    for (auto& [name, colour] : colours_) {
        colour.r = static_cast<uint8_t>(255 - colour.r);
        colour.g = static_cast<uint8_t>(255 - colour.g);
        colour.b = static_cast<uint8_t>(255 - colour.b);
    }
    ++revision_;
}

void StyleOwner::randomizeColours() {
    for (auto& [name, colour] : colours_) {
        colour.b = static_cast<uint8_t>(std::rand() % 255);
        colour.g = static_cast<uint8_t>(std::rand() % 255);
        colour.r = static_cast<uint8_t>(std::rand() % 255);
        // Never fainter than half opaque, so no control disappears.
        colour.a = static_cast<uint8_t>(std::rand() % 127 + 128);
    }
    ++revision_;
}

ArgbColour StyleOwner::colorOr(std::string_view name, ArgbColour fallback) const {
    const auto found = colours_.find(name);
    return found != colours_.end() ? found->second : fallback;
}

float StyleOwner::valueOr(std::string_view name, float fallback) const {
    const auto found = values_.find(name);
    return found != values_.end() ? found->second : fallback;
}

const std::string* StyleOwner::variable(std::string_view key) const {
    const auto found = variables_.find(key);
    return found != variables_.end() ? &found->second : nullptr;
}

ArgbColour scaledAlpha(ArgbColour c, float factor) {
    c.a = channel(c.a * factor);
    return c;
}

ArgbColour scaledRgb(ArgbColour c, float factor) {
    return {c.a, channel(c.r * factor), channel(c.g * factor), channel(c.b * factor)};
}

ArgbColour brightened(ArgbColour c, int amount) {
    return {c.a, channel(static_cast<float>(c.r + amount)), channel(static_cast<float>(c.g + amount)),
            channel(static_cast<float>(c.b + amount))};
}

ArgbColour blendOver(ArgbColour base, ArgbColour top) {
    const double t = top.a / 255.0;
    const double b = (1.0 - t) * base.a / 255.0;
    const double alpha = (1.0 - (1.0 - base.a / 255.0) * (1.0 - t)) * 255.0;
    auto mix = [&](uint8_t over, uint8_t under) {
        return channel(static_cast<float>((over * t + under * b) / (t + b + 1e-19)));
    };
    return {channel(static_cast<float>(alpha)), mix(top.r, base.r), mix(top.g, base.g), mix(top.b, base.b)};
}

} // namespace tarvo
