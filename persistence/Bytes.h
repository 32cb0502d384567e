#pragma once
// Byte primitives of every binary format Tarvo stores: little-endian integers of 1, 2 and
// 4 bytes, 32-bit IEEE floats and zero-terminated texts.
//
// A writer or reader works on a buffer, its size and a position. Every field advances the
// position by its full width even when it does not fit: a writer then stores nothing, so a
// dry run over an empty buffer measures a state, and a reader yields 0 (or an empty text) and
// records that the data ran short. Nothing here reads or writes outside the buffer, and
// nothing allocates except `readText`, which copies the text it returns.
//
// Any thread; a writer or reader belongs to the thread that made it.

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo {

class ByteWriter {
public:
    // data may be null when size is 0 (a measuring run).
    ByteWriter(uint8_t* data, int size, int position = 0) : data(data), size(size), position(position) {}

    uint8_t* data;
    int size;
    int position;

    // The low `width` bytes (1, 2 or 4) of value.
    void writeInt(int64_t value, int width);
    void writeFloat(float value);
    // The text up to its end (or its first zero byte) or maxLength characters, then a zero
    // byte; advances by the stored length plus 1.
    void writeText(std::string_view text, int maxLength);

    // True while every field written so far fitted wholly inside the buffer.
    bool fitted() const { return position <= size; }
};

class ByteReader {
public:
    ByteReader(const uint8_t* data, int size, int position = 0)
        : data(data), size(size), position(position) {}

    const uint8_t* data;
    int size;
    int position;

    // The value of `width` bytes (1, 2 or 4); with isSigned, widths below 4 are sign-extended.
    // 0 when the field is not wholly inside the buffer.
    int32_t readInt(int width, bool isSigned);
    // 0 when the 4 bytes are not wholly inside the buffer.
    float readFloat();
    // The characters up to the next zero byte or the end of the buffer; advances past the zero
    // byte. Empty at or beyond the end. A text that meets the end before its zero byte counts
    // as running short.
    std::string readText();
    // True when the zero-terminated text between start and end (end exclusive, clamped to the
    // buffer) has exactly the characters of text.
    bool matchText(int start, int end, std::string_view text) const;

    // True when some field ran past the end of the buffer (or the position has passed it).
    bool ranShort() const { return short_ || position > size; }

private:
    // Whether `width` bytes at the position lie inside the buffer.
    bool fits(int width) const;

    bool short_ = false;
};

} // namespace tarvo
