#pragma once
// Writes interleaved 32-bit float samples as a WAV file, the form the tool's renders use.
// The header is the standard one for float data: a "fmt " chunk of 18 bytes (format 3, IEEE
// float, with a zero extension size) and a "fact" chunk with the frame count, which
// non-PCM WAV files carry. Returns false when the file cannot be written.

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
    // "fmt " body: the 16 bytes of PCM plus the 2-byte extension size (0).
    constexpr uint32_t fmtBytes = 18;
    // "fact" body: the frame count.
    constexpr uint32_t factBytes = 4;
    // "WAVE", then each chunk's 8-byte header and body, before the sample data.
    constexpr uint32_t headerBytes = 4 + (8 + fmtBytes) + (8 + factBytes) + 8;
    const auto dataBytes = static_cast<uint32_t>(interleaved.size() * bytesPerSample);
    const auto frames =
        static_cast<uint32_t>(channels > 0 ? interleaved.size() / static_cast<size_t>(channels) : 0);
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
    put32(headerBytes + dataBytes);
    std::fwrite("WAVEfmt ", 1, 8, file);
    put32(fmtBytes);
    put16(floatFormat);
    put16(static_cast<uint16_t>(channels));
    put32(static_cast<uint32_t>(sampleRate));
    put32(static_cast<uint32_t>(sampleRate) * blockAlign);
    put16(blockAlign);
    put16(8 * bytesPerSample);
    put16(0);
    std::fwrite("fact", 1, 4, file);
    put32(factBytes);
    put32(frames);
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
