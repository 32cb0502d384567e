#include "persistence/Bytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace tarvo {
namespace {

TEST(Bytes, IntegersAreLittleEndianAndSignExtendOnRequest) {
    struct Case {
        int64_t value;
        int width;
        std::vector<uint8_t> bytes;
        int32_t unsignedRead;
        int32_t signedRead;
    };
    const Case cases[] = {
        {0x7F, 1, {0x7F}, 127, 127},
        {-1, 1, {0xFF}, 255, -1},
        {0x1234, 2, {0x34, 0x12}, 0x1234, 0x1234},
        {-32768, 2, {0x00, 0x80}, 32768, -32768},
        {65794, 4, {0x02, 0x01, 0x01, 0x00}, 65794, 65794},
        {-2, 4, {0xFE, 0xFF, 0xFF, 0xFF}, -2, -2},
        {0x1FF, 1, {0xFF}, 255, -1}, // only the low bytes are stored
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        std::vector<uint8_t> buffer(static_cast<size_t>(c.width));
        ByteWriter writer(buffer.data(), c.width);
        writer.writeInt(c.value, c.width);
        EXPECT_EQ(buffer, c.bytes);
        EXPECT_EQ(writer.position, c.width);
        ByteReader r1(buffer.data(), c.width), r2(buffer.data(), c.width);
        EXPECT_EQ(r1.readInt(c.width, false), c.unsignedRead);
        EXPECT_EQ(r2.readInt(c.width, true), c.signedRead);
        EXPECT_FALSE(r1.ranShort());
    }
}

TEST(Bytes, FloatsRoundTripBitForBit) {
    for (float v : {0.0f, -0.0f, 1.5f, -123.456f, 1e-38f, 3.4e38f}) {
        uint8_t buffer[4];
        ByteWriter writer(buffer, 4);
        writer.writeFloat(v);
        ByteReader reader(buffer, 4);
        const float back = reader.readFloat();
        EXPECT_EQ(std::memcmp(&back, &v, 4), 0) << v;
    }
}

TEST(Bytes, WritersStoreNothingThatDoesNotFitButAlwaysAdvance) {
    std::vector<uint8_t> buffer(6, 0xAA);
    ByteWriter writer(buffer.data(), 5); // the sixth byte is a guard
    writer.writeInt(0x01020304, 4);
    writer.writeInt(0x0506, 2); // one byte short: nothing stored
    EXPECT_EQ(writer.position, 6);
    writer.writeText("ab", 10);
    EXPECT_EQ(writer.position, 9);
    writer.writeFloat(1.0f);
    EXPECT_EQ(writer.position, 13);
    EXPECT_FALSE(writer.fitted());
    EXPECT_EQ(buffer, (std::vector<uint8_t>{4, 3, 2, 1, 0xAA, 0xAA}));

    // A measuring run over no buffer at all.
    ByteWriter measure(nullptr, 0);
    measure.writeInt(1, 2);
    measure.writeText("name", 4096);
    EXPECT_EQ(measure.position, 7);
}

TEST(Bytes, TextsAreCutAtTheirLimitAndZeroTerminated) {
    std::vector<uint8_t> buffer(16, 0xAA);
    ByteWriter writer(buffer.data(), 16);
    writer.writeText("abcdef", 3);
    writer.writeText(std::string("x\0y", 3), 10); // stops at an embedded zero
    writer.writeText("", 10);
    EXPECT_EQ(writer.position, 7);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 8),
              (std::vector<uint8_t>{'a', 'b', 'c', 0, 'x', 0, 0, 0xAA}));

    // "when position + length < size": a text that would end exactly at the end still fits.
    uint8_t exact[3] = {9, 9, 9};
    ByteWriter tight(exact, 3);
    tight.writeText("ab", 10);
    EXPECT_EQ(exact[2], 0);
    EXPECT_TRUE(tight.fitted());
}

TEST(Bytes, ReadersNeverLeaveTheBufferAndReportRunningShort) {
    const uint8_t data[] = {'h', 'i', 0, 'x', 'y'};
    ByteReader reader(data, 5);
    EXPECT_EQ(reader.readText(), "hi");
    EXPECT_EQ(reader.position, 3);
    EXPECT_FALSE(reader.ranShort());
    EXPECT_EQ(reader.readText(), "xy"); // runs into the end before its zero byte
    EXPECT_TRUE(reader.ranShort());
    EXPECT_EQ(reader.position, 6);
    EXPECT_EQ(reader.readText(), "");
    EXPECT_EQ(reader.readInt(2, true), 0);
    EXPECT_EQ(reader.readFloat(), 0.0f);
    EXPECT_EQ(reader.position, 13);

    ByteReader partial(data, 5, 3);
    EXPECT_EQ(partial.readInt(4, false), 0); // two of the four bytes lie outside
    EXPECT_EQ(partial.position, 7);
    EXPECT_TRUE(partial.ranShort());

    ByteReader empty(nullptr, 0);
    EXPECT_EQ(empty.readInt(1, false), 0);
    EXPECT_EQ(empty.readText(), "");
    EXPECT_TRUE(empty.ranShort());
}

TEST(Bytes, MatchTextComparesTheWholeTerminatedText) {
    const std::string chunk("OmbrixState\0\x02", 13);
    const auto* data = reinterpret_cast<const uint8_t*>(chunk.data());
    ByteReader reader(data, static_cast<int>(chunk.size()));
    struct Case {
        int start, end;
        const char* text;
        bool match;
    };
    const Case cases[] = {
        {0, 11, "OmbrixState", true},  {0, 13, "OmbrixState", true},
        {0, 12, "Ombrix", false},      {0, 5, "OmbrixState", false},
        {0, 40, "OmbrixState", true},  {6, 13, "State", true},
        {0, 11, "OmbrixStatf", false}, {0, 0, "", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(reader.matchText(c.start, c.end, c.text), c.match)
            << c.start << ".." << c.end << " " << c.text;
}

} // namespace
} // namespace tarvo
