#pragma once
// The byte layout shared by the fuzz targets and the seed writer: little-endian fields read
// from the front of the input; a field past the end reads as zeros, so every input is valid.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace tarvo::fuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    uint32_t u32() { return u16() | (static_cast<uint32_t>(u16()) << 16); }
    float f32() {
        const uint32_t bits = u32();
        float v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    double f64() {
        const uint64_t bits = u32() | (static_cast<uint64_t>(u32()) << 32);
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    // The bytes not read yet (may be none).
    const uint8_t* rest() const { return data_ + (at_ < size_ ? at_ : size_); }
    int restSize() const { return at_ < size_ ? static_cast<int>(size_ - at_) : 0; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Builds inputs in the layout FuzzInput reads (used by the seed writer).
class FuzzOutput {
public:
    std::vector<uint8_t> bytes;

    void u8(uint8_t v) { bytes.push_back(v); }
    void u16(uint16_t v) {
        u8(static_cast<uint8_t>(v));
        u8(static_cast<uint8_t>(v >> 8));
    }
    void u32(uint32_t v) {
        u16(static_cast<uint16_t>(v));
        u16(static_cast<uint16_t>(v >> 16));
    }
    void f32(float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        u32(bits);
    }
    void f64(double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        u32(static_cast<uint32_t>(bits));
        u32(static_cast<uint32_t>(bits >> 32));
    }
    void append(const std::vector<uint8_t>& more) { bytes.insert(bytes.end(), more.begin(), more.end()); }
};

// Points TARVO_HOME at a folder of the fuzz run's own: below the one the caller named (the
// test run names one per build), or in the temporary folder. Returns it.
inline std::filesystem::path useFuzzHome() {
    const char* outer = std::getenv("TARVO_HOME");
    const std::filesystem::path home = outer != nullptr && outer[0] != '\0'
                                           ? std::filesystem::path(outer) / "fuzz"
                                           : std::filesystem::temp_directory_path() / "tarvo-fuzz-home";
    setenv("TARVO_HOME", home.c_str(), 1);
    return home;
}

// Whether this input is one of the sample that also gets a target's slow checks: about one
// in `oneIn`, chosen by the bytes themselves so that a found input reproduces.
inline bool inSample(const uint8_t* data, size_t size, uint32_t oneIn) {
    uint32_t hash = 2166136261u; // FNV-1a
    for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
    return hash % oneIn == 0;
}

// Stops the run with a message when an invariant of the code under test does not hold;
// libFuzzer keeps the input that did it.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "invariant does not hold: %s\n", what);
    std::abort();
}

#define TARVO_FUZZ_CHECK(condition)                                                                          \
    do {                                                                                                     \
        if (!(condition)) ::tarvo::fuzz::fail(#condition);                                                   \
    } while (false)

} // namespace tarvo::fuzz
