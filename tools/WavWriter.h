#pragma once
// Writes interleaved 32-bit float samples as a WAV file, the form the tool's renders use.
// The header is the standard one for float data: a "fmt " chunk of 18 bytes (format 3, IEEE
// float, with a zero extension size) and a "fact" chunk with the frame count, which
// non-PCM WAV files carry. The file is replaced in one step, so an earlier render at the same
// path stays whole when the new one cannot be written; the result says why.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "persistence/AtomicFile.h"

namespace tarvo::tool {

inline FileWriteResult writeFloatWav(const std::string& path, const std::vector<float>& interleaved,
                                     int channels, int sampleRate) {
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
    std::vector<uint8_t> bytes;
    bytes.reserve(8 + headerBytes + dataBytes);
    auto put = [&bytes](const char* tag) { bytes.insert(bytes.end(), tag, tag + std::strlen(tag)); };
    auto put32 = [&bytes](uint32_t v) {
        for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<uint8_t>(v >> shift));
    };
    auto put16 = [&bytes](uint16_t v) {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    };
    put("RIFF");
    put32(headerBytes + dataBytes);
    put("WAVEfmt ");
    put32(fmtBytes);
    put16(floatFormat);
    put16(static_cast<uint16_t>(channels));
    put32(static_cast<uint32_t>(sampleRate));
    put32(static_cast<uint32_t>(sampleRate) * blockAlign);
    put16(blockAlign);
    put16(8 * bytesPerSample);
    put16(0);
    put("fact");
    put32(factBytes);
    put32(frames);
    put("data");
    put32(dataBytes);
    for (float sample : interleaved) {
        uint32_t bits = 0;
        static_assert(sizeof bits == sizeof sample);
        std::memcpy(&bits, &sample, sizeof bits);
        put32(bits);
    }
    return writeFileAtomically(path, bytes);
}

} // namespace tarvo::tool
