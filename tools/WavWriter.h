#pragma once
// Writes interleaved 32-bit float samples as a WAV file (format 3, IEEE float), the form
// the tool's renders use. Returns false when the file cannot be written.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace tarvo::tool {

inline bool writeFloatWav(const std::string& path, const std::vector<float>& interleaved, int channels,
                          int sampleRate) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    // IEEE float sample format of a WAV "fmt " chunk.
    constexpr uint16_t floatFormat = 3;
    constexpr uint16_t bytesPerSample = 4;
    const auto dataBytes = static_cast<uint32_t>(interleaved.size() * bytesPerSample);
    const auto blockAlign = static_cast<uint16_t>(channels * bytesPerSample);
    auto put32 = [file](uint32_t v) {
        const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                              static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
        std::fwrite(b, 1, 4, file);
    };
    auto put16 = [file](uint16_t v) {
        const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
        std::fwrite(b, 1, 2, file);
    };
    std::fwrite("RIFF", 1, 4, file);
    put32(36 + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, file);
    put32(16);
    put16(floatFormat);
    put16(static_cast<uint16_t>(channels));
    put32(static_cast<uint32_t>(sampleRate));
    put32(static_cast<uint32_t>(sampleRate) * blockAlign);
    put16(blockAlign);
    put16(8 * bytesPerSample);
    std::fwrite("data", 1, 4, file);
    put32(dataBytes);
    for (float sample : interleaved) {
        uint32_t bits = 0;
        static_assert(sizeof bits == sizeof sample);
        std::memcpy(&bits, &sample, sizeof bits);
        put32(bits);
    }
    const bool ok = std::ferror(file) == 0;
    return std::fclose(file) == 0 && ok;
}

} // namespace tarvo::tool
