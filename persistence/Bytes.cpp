#include "persistence/Bytes.h"

#include <algorithm>
#include <cstring>

namespace tarvo {

namespace {

// Whether width bytes at position lie inside a buffer of size (in 64 bits: no overflow).
bool inside(const void* data, int position, int size, int width) {
    return data != nullptr && position >= 0 && int64_t{position} + width <= int64_t{size};
}

} // namespace

void ByteWriter::writeInt(int64_t value, int width) {
    if (inside(data, position, size, width)) {
        const auto bits = static_cast<uint64_t>(value);
        for (int i = 0; i < width; ++i) data[position + i] = static_cast<uint8_t>(bits >> (8 * i));
    }
    position += width;
}

void ByteWriter::writeFloat(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    writeInt(bits, 4);
}

void ByteWriter::writeText(std::string_view text, int maxLength) {
    const size_t end = std::min(text.find('\0'), text.size());
    const int length = static_cast<int>(std::min<size_t>(end, static_cast<size_t>(std::max(maxLength, 0))));
    if (inside(data, position, size, length + 1)) {
        std::memcpy(data + position, text.data(), static_cast<size_t>(length));
        data[position + length] = 0;
    }
    position += length + 1;
}

bool ByteReader::fits(int width) const {
    return inside(data, position, size, width);
}

int32_t ByteReader::readInt(int width, bool isSigned) {
    uint32_t bits = 0;
    if (fits(width)) {
        for (int i = 0; i < width; ++i) bits |= static_cast<uint32_t>(data[position + i]) << (8 * i);
        if (isSigned && width < 4 && (bits >> (8 * width - 1)) != 0) bits |= ~uint32_t{0} << (8 * width);
    } else {
        short_ = true;
    }
    position += width;
    return static_cast<int32_t>(bits);
}

float ByteReader::readFloat() {
    const auto bits = static_cast<uint32_t>(readInt(4, false));
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::string ByteReader::readText() {
    if (!fits(1)) {
        short_ = true;
        position += 1;
        return {};
    }
    const auto* start = data + position;
    const auto* end = data + size;
    const auto* zero = std::find(start, end, uint8_t{0});
    std::string text(reinterpret_cast<const char*>(start), static_cast<size_t>(zero - start));
    if (zero == end) short_ = true;
    position += static_cast<int>(text.size()) + 1;
    return text;
}

bool ByteReader::matchText(int start, int end, std::string_view text) const {
    if (data == nullptr) return false;
    start = std::max(start, 0);
    end = std::min(end, size);
    if (start >= end) return false;
    const auto* first = data + start;
    const auto* last = data + end;
    const auto* zero = std::find(first, last, uint8_t{0});
    const auto found = static_cast<size_t>(zero - first);
    return found == text.size() && std::memcmp(first, text.data(), found) == 0;
}

} // namespace tarvo
