#include <gtest/gtest.h>

#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"
#include "platform/Classes.h"
#include "platform/PictureLimits.h"

TEST(ByteReader, ReadsBothByteOrdersAndStopsAtTheEnd) {
    const uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    TByteReader reader(data, sizeof data);
    EXPECT_EQ(reader.U16LE(), 0x0201);
    EXPECT_EQ(reader.U32BE(), 0x03040506u);
    EXPECT_TRUE(reader.AtEnd());
    EXPECT_THROW(reader.U8(), EShortData);
    EXPECT_EQ(reader.Position(), 6);  // a failed read does not move

    EXPECT_EQ(reader.U32LEAt(2), 0x06050403u);
    EXPECT_EQ(reader.U16BEAt(4), 0x0506);
    EXPECT_THROW(reader.U32LEAt(3), EShortData);
    EXPECT_THROW(reader.BytesAt(-1, 1), EShortData);
    EXPECT_THROW(reader.BytesAt(1, INT64_MAX), EShortData);  // no overflow in offset + count
    reader.Seek(6);
    EXPECT_THROW(reader.Seek(7), EShortData);
    reader.Seek(1);
    EXPECT_EQ(reader.Bytes(2).size(), 2u);
    EXPECT_THROW(reader.Skip(4), EShortData);
}

TEST(ByteWriter, WritesBothByteOrdersAndKeepsOnlyTheLowBits) {
    std::vector<uint8_t> out;
    PutU16LE(out, 0x10201);  // the bit above 16 is dropped, not carried
    PutU32LE(out, 0x03040506);
    PutU16BE(out, 0x0708);
    PutU32BE(out, 0x090A0B0C);
    EXPECT_EQ(out, (std::vector<uint8_t>{0x01, 0x02, 0x06, 0x05, 0x04, 0x03, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C}));

    std::string text;  // the same into a string, which some writers build
    PutU16BE(text, 0xFF41);
    EXPECT_EQ(text, "\xFF" "A");

    uint8_t stored[12] = {};
    StoreU16LE(stored, 0x0201);
    StoreU32LE(stored + 2, 0x06050403);
    StoreU16BE(stored + 6, 0x0708);
    StoreU32BE(stored + 8, 0x090A0B0C);
    TByteReader reader(stored, sizeof stored);
    EXPECT_EQ(reader.U16LE(), 0x0201);
    EXPECT_EQ(reader.U32LE(), 0x06050403u);
    EXPECT_EQ(reader.U16BE(), 0x0708);
    EXPECT_EQ(reader.U32BE(), 0x090A0B0Cu);
}

TEST(ByteReader, ReadExactFailsOnAShortStream) {
    TMemoryStream stream;
    stream.WriteBuffer("abc", 3);
    stream.SetPosition(0);
    char buffer[4];
    EXPECT_THROW(ReadExact(stream, buffer, 4, "header"), EShortData);
    stream.SetPosition(0);
    ReadExact(stream, buffer, 3, "header");
    EXPECT_EQ(std::string(buffer, 3), "abc");
}

TEST(PictureLimits, RefusesSizesBeyondTheLimitsAndTheDecodeRatio) {
    struct Case { int64_t width, height; int bits; int64_t input; bool allowed; };
    const Case cases[] = {
        {640, 480, 24, 1000, true},             // small pictures need no data to back them
        {0, 10, 8, -1, false},
        {10, -1, 8, -1, false},
        {(int64_t(1) << 20) + 1, 1, 1, -1, false},
        {1 << 20, 1 << 20, 1, -1, false},        // beyond the pixel count
        {64528, 16641, 24, 31, false},           // a 31-byte file claiming gigabytes
        {8000, 8000, 24, 1 << 20, true},         // 192 MB from 1 MB: a plausible compression
        {8000, 8000, 24, 1000, false},
        {8000, 8000, 24, -1, true},              // input size unknown
    };
    for (const Case& c : cases)
        EXPECT_EQ(PictureSizeProblem(c.width, c.height, c.bits, c.input).empty(), c.allowed)
            << c.width << " x " << c.height << " from " << c.input;

    TPictureLimits small;
    small.maxSide = 100;
    {
        TPictureLimitsOverride override(small);
        EXPECT_THROW(CheckPictureSize(101, 1, 8, -1), EInvalidGraphic);
    }
    EXPECT_NO_THROW(CheckPictureSize(101, 1, 8, -1));
}
