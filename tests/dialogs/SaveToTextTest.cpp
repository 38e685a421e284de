#include "imaging/io/KVSaveToText.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "../support/TestSupport.h"
#include "imaging/core/KVBitmap.h"
#include "imaging/io/KestovaIO.h"

namespace {

constexpr int Bmp = 5;

// A 24-bit picture whose column x has the gray level given, all rows alike.
void FillColumns(TKestovaIO& io, const std::vector<uint8_t>& grays, int height) {
    TKVBitmap& bitmap = io.WorkBitmap();
    bitmap.Allocate(static_cast<int>(grays.size()), height, kv24RGB);
    for (int y = 0; y < height; ++y)
        for (size_t x = 0; x < grays.size(); ++x)
            for (int c = 0; c < 3; ++c) bitmap.GetScanline(y)[x * 3 + c] = grays[x];
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        EXPECT_TRUE(line.ends_with('\r')) << "lines end with CR LF";
        lines.push_back(line.substr(0, line.size() - 1));
    }
    return lines;
}

// The bytes of every "<prefix>XX" item of the lines from the first given.
std::string BytesOf(const std::vector<std::string>& lines, size_t first, const std::string& prefix) {
    std::string bytes;
    const std::regex item(prefix + "([0-9A-F]{2})");
    for (size_t i = first; i < lines.size(); ++i)
        for (std::sregex_iterator it(lines[i].begin(), lines[i].end(), item), end; it != end; ++it)
            bytes += static_cast<char>(std::stoi((*it)[1].str(), nullptr, 16));
    return bytes;
}

struct TSaveToText : ::testing::Test {
    TSaveToText() { FillColumns(io, {0, 60, 120, 250}, 3); }
    TScratchFolder scratch;
    TKestovaIO io;

    // The picture the bytes encode, as ImageMagick reads it.
    void ExpectThePicture(const std::string& bytes) {
        const std::string bmp = scratch.Path("back.bmp");
        WriteFile(bmp, bytes);
        const TRgbImage image = ReadWithImageMagick(bmp);
        ASSERT_EQ(image.width, 4);
        ASSERT_EQ(image.height, 3);
        EXPECT_EQ(image.At(1, 2)[0], 60);
        EXPECT_EQ(image.At(3, 0)[1], 250);
    }
};

TEST_F(TSaveToText, ByteConstantsNameTheFileAndHoldTheEncodedPicture) {
    const std::string name = scratch.Path("pic.v2.pas");
    SaveToText(io, name, Bmp, tkByteConstants);
    const auto lines = Lines(ReadFile(name));
    ASSERT_GE(lines.size(), 4u);
    const std::string bytes = BytesOf(lines, 3, "\\$");
    EXPECT_EQ(lines[0], "const");
    EXPECT_EQ(lines[1], "  pic_v2.pas_Size = " + std::to_string(bytes.size()) + ";");
    EXPECT_EQ(lines[2], "  pic_v2.pas : array [0..pic_v2.pas_Size-1] of byte = (");
    for (size_t i = 3; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i], "    " + lines[i].substr(4, 72)) << i;
    EXPECT_TRUE(std::regex_match(lines[3], std::regex("    (\\$[0-9A-F]{2},){18}")));
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex("    (\\$[0-9A-F]{2},)*\\$[0-9A-F]{2}\\);")));
    ExpectThePicture(bytes);
}

TEST_F(TSaveToText, CSourceGivesTheSizeThenUnindentedLines) {
    const std::string name = scratch.Path("pic.h");
    SaveToText(io, name, Bmp, tkCSource);
    const auto lines = Lines(ReadFile(name));
    const std::string bytes = BytesOf(lines, 1, "0x");
    EXPECT_EQ(lines[0], "\\ Size=" + std::to_string(bytes.size()));
    EXPECT_TRUE(std::regex_match(lines[1], std::regex("(0x[0-9A-F]{2},){15}")));
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex("(0x[0-9A-F]{2},)*0x[0-9A-F]{2}")));
    ExpectThePicture(bytes);
}

TEST_F(TSaveToText, Base64DecodesToTheEncodedPicture) {
    const std::string name = scratch.Path("pic.b64");
    SaveToText(io, name, Bmp, tkBase64);
    const auto lines = Lines(ReadFile(name));
    for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i].size(), 76u);
    const auto decoded = RunTool("tr -d '\\r' < " + Quoted(name) + " | base64 -d", false);
    ASSERT_EQ(decoded.status, 0);
    ExpectThePicture(decoded.output);
}

TEST_F(TSaveToText, AsciiArtShadesEachPixel) {
    FillColumns(io, {0, 28, 29, 57, 86, 114, 142, 171, 199, 227, 255}, 2);
    const std::string name = scratch.Path("art.txt");
    SaveToText(io, name, Bmp, tkAsciiArt);
    EXPECT_EQ(ReadFile(name), "WW@#*+:.,  \r\nWW@#*+:.,  \r\n");

    io.WorkBitmap().Allocate(2, 2, kv8Gray);  // only 24-bit pictures become art
    SaveToText(io, name, Bmp, tkAsciiArt);
    EXPECT_EQ(ReadFile(name), "");
}

TEST_F(TSaveToText, AFailedEncodingLeavesTheOldFile) {
    const std::string name = scratch.Path("pic.pas");
    WriteFile(name, "old");
    EXPECT_EQ(MessageOf([&] { SaveToText(io, name, 999, tkByteConstants); }), "The picture could not be encoded");
    EXPECT_EQ(ReadFile(name), "old");
    EXPECT_EQ(scratch.Files(), std::vector<std::string>{"pic.pas"});
}

}  // namespace
