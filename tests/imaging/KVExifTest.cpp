#include <gtest/gtest.h>

#include <string>

#include "PictureFixtures.h"
#include "imaging/io/KVExif.h"
#include "imaging/core/KVStreams.h"
#include "imaging/io/IOParamsVals.h"

namespace {

TEST(Exif, ReadsWhatExiftoolWrites) {
    TScratchFolder folder;
    const std::string photo = folder.Path("photo.jpg"), thumb = folder.Path("thumb.jpg");
    WriteFile(folder.Path("p.ppm"), PatternPpm(64, 48));
    MakeFixture(photo, "convert " + Quoted(folder.Path("p.ppm")) + " " + Quoted(photo));
    MakeFixture(thumb, "convert " + Quoted(folder.Path("p.ppm")) + " -resize 16x12 " + Quoted(thumb));
    for (const char* order : {"II", "MM"}) {
        SCOPED_TRACE(order);
        MakeFixture(photo, "exiftool -q -overwrite_original -ExifByteOrder=" + std::string(order) +
                               " -Make=Acme -Model='X 1' -ExposureTime=1/125 -FNumber=5.6 -ISO=200"
                               " -DateTimeOriginal='2020:01:02 03:04:05' -ExposureCompensation=-0.7"
                               " -EXIF:Flash#=1 -FocalLength=35 -Orientation#=6 '-ThumbnailImage<=" + thumb + "' " + Quoted(photo));
        TKestovaIO io;
        ASSERT_TRUE(LoadsInto(io, photo));
        const TIOParamsVals& p = io.Params();
        EXPECT_TRUE(p.ExifHasData);
        EXPECT_EQ(p.ExifMake, "Acme");
        EXPECT_EQ(p.ExifModel, "X 1");
        EXPECT_DOUBLE_EQ(p.ExifExposureTime, 1.0 / 125);
        EXPECT_DOUBLE_EQ(p.ExifFNumber, 5.6);
        EXPECT_EQ(p.ExifISOSpeedRatings[0], 200);
        EXPECT_EQ(p.ExifDateTimeOriginal, "2020:01:02 03:04:05");
        EXPECT_NEAR(p.ExifExposureBiasValue, -0.7, 1e-6);
        EXPECT_EQ(p.ExifFlash, 1);
        EXPECT_EQ(p.ExifOrientation, 6);
        EXPECT_EQ(p.ExifExifVersion.size(), 4u);
        // The thumbnail, turned upright by the orientation.
        ASSERT_TRUE(p.ExifThumbnail);
        EXPECT_EQ(p.ExifThumbnail->GetWidth(), 12);
        EXPECT_EQ(p.ExifThumbnail->GetHeight(), 16);
    }
}

TEST(Exif, ExiftoolReadsWhatWeWrite) {
    TScratchFolder folder;
    TKestovaIO io;
    WriteFile(folder.Path("p.ppm"), PatternPpm(20, 10));
    ASSERT_TRUE(LoadsInto(io, folder.Path("p.ppm")));
    TIOParamsVals& p = io.Params();
    p.ExifHasData = true;
    p.ExifMake = "Brelvant";
    p.ExifModel = "M 2";
    p.ExifExposureTime = 0.01;
    p.ExifFNumber = 2.8;
    p.ExifISOSpeedRatings = {400, 0};
    p.ExifExposureBiasValue = -1.5;
    p.ExifDateTimeOriginal = "2021:05:06 07:08:09";
    p.ExifUserCommentCode = std::string("ASCII\0\0\0", 8);
    p.ExifUserComment = "hello";
    p.ExifExifVersion = "0230";
    p.ExifXPTitle = "Grüße €";
    p.ExifWhitePoint = {0.3127, 0.329};
    const std::string path = folder.Path("out.jpg");
    io.SaveToFile(path);
    ASSERT_FALSE(io.AbortFlag);
    const TCommandResult tags = RunTool("exiftool -s -s -s -n -Make -Model -ExposureTime -FNumber -ISO -ExposureCompensation "
                                        "-DateTimeOriginal -UserComment -ExifVersion -XPTitle -WhitePoint " + Quoted(path));
    EXPECT_EQ(tags.output, "Brelvant\nM 2\n0.01\n2.8\n400\n-1.5\n2021:05:06 07:08:09\nhello\n0230\nGrüße €\n0.3127 0.329\n")
        << tags.output;
    // And back.
    TKestovaIO again;
    ASSERT_TRUE(LoadsInto(again, path));
    EXPECT_EQ(again.Params().ExifXPTitle, "Grüße €");
    EXPECT_DOUBLE_EQ(again.Params().ExifWhitePoint[1], 0.329);
    EXPECT_EQ(again.Params().ExifUserComment, "hello");
}

TEST(Exif, DamagedBlocksLoseOnlyWhatTheyDamage) {
    const std::vector<uint8_t> notExif = {'J', 'F', 'I', 'F', 0, 0, 'I', 'I', 42, 0};
    TIOParamsVals params(nullptr);
    EXPECT_FALSE(KVLoadEXIFFromBuffer(notExif.data(), int64_t(notExif.size()), params));
    // A thumbnail whose data lies past the block is dropped, the fields stay.
    params.ExifHasData = true;
    params.ExifMake = "Acme";
    std::vector<uint8_t> block = KVSaveEXIFToBuffer(params);
    ASSERT_GT(block.size(), 14u);
    // Link a second IFD that claims a JPEG thumbnail far outside the block.
    const uint32_t first = uint32_t(block[10] | block[11] << 8 | block[12] << 16 | block[13] << 24);
    const size_t count = size_t(block[6 + first] | block[7 + first] << 8);
    const uint32_t second = uint32_t(block.size() - 6);
    for (int i = 0; i < 4; ++i) block[6 + first + 2 + 12 * count + size_t(i)] = uint8_t(second >> (8 * i));
    const uint8_t ifd[] = {2, 0, 0x01, 0x02, 4, 0, 1, 0, 0, 0, 0, 0, 0, 0x10,
                           0x02, 0x02, 4, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    block.insert(block.end(), std::begin(ifd), std::end(ifd));
    TIOParamsVals loaded(nullptr);
    EXPECT_TRUE(KVLoadEXIFFromBuffer(block.data(), int64_t(block.size()), loaded));
    EXPECT_EQ(loaded.ExifMake, "Acme");
    ASSERT_TRUE(loaded.ExifThumbnail);
    EXPECT_TRUE(loaded.ExifThumbnail->IsEmpty());
}

TEST(Exif, TiffHeaderSearchSkipsOffsetsPastTheEnd) {
    // An "MM" candidate whose directory lies past the end, then a valid "II" one.
    const std::string data = std::string("xxMM\0*\x7F\0\0\0", 10) + std::string("II*\0\x08\0\0\0", 8) + std::string(8, '\0');
    TKVMemStream stream(data.data(), int64_t(data.size()));
    EXPECT_EQ(KVSearchTIFFHeader(stream), 10);
    EXPECT_EQ(stream.Position(), 0);
}

TEST(Exif, MakerNoteKeepsItsValuesThroughWriteAndRead) {
    TIOParamsVals params(nullptr);
    params.ExifHasData = true;
    // Two entries: a SHORT held inline and a 12-byte text behind them.
    const std::string text = "made by us!";
    std::string note("\x02\x00", 2);
    note += std::string("\x01\x00\x03\x00\x01\x00\x00\x00\x07\x00\x00\x00", 12);
    note += std::string("\x02\x00\x02\x00\x0C\x00\x00\x00\x1A\x00\x00\x00", 12);
    note += text + '\0';
    params.ExifMakerNote.Stream().WriteBuffer(note.data(), int64_t(note.size()));
    params.ExifMakerNote.ReadDirectory();
    const std::vector<uint8_t> block = KVSaveEXIFToBuffer(params);
    TIOParamsVals loaded(nullptr);
    ASSERT_TRUE(KVLoadEXIFFromBuffer(block.data(), int64_t(block.size()), loaded));
    const auto& entries = loaded.ExifMakerNote.Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].ValueOffset, 7u);
    const std::vector<uint8_t>& bytes = loaded.ExifMakerNote.Stream().Bytes();
    ASSERT_LE(entries[1].ValueOffset + 12, bytes.size());
    EXPECT_EQ(std::string(bytes.begin() + entries[1].ValueOffset, bytes.begin() + entries[1].ValueOffset + 11), text);
}

// Different horizontal and vertical resolutions each keep their own value, in both byte orders
// and in both carriers.
TEST(Exif, HorizontalAndVerticalResolutionsStayApart) {
    TScratchFolder folder;
    WriteFile(folder.Path("p.ppm"), PatternPpm(16, 12));
    for (const char* name : {"photo.jpg", "photo.tif"}) {
        for (const char* order : {"II", "MM"}) {
            SCOPED_TRACE(std::string(name) + " " + order);
            const std::string photo = folder.Path(name);
            MakeFixture(photo, "convert " + Quoted(folder.Path("p.ppm")) + " " + Quoted(photo));
            MakeFixture(photo, "exiftool -q -overwrite_original -ExifByteOrder=" + std::string(order) +
                                   " -XResolution=300 -YResolution=150 -ResolutionUnit=inches " + Quoted(photo));
            ASSERT_EQ(RunTool("exiftool -s -s -s -XResolution -YResolution " + Quoted(photo), false).output, "300\n150\n");
            TKestovaIO io;
            ASSERT_TRUE(LoadsInto(io, photo));
            EXPECT_EQ(io.Params().ExifXResolution, 300);
            EXPECT_EQ(io.Params().ExifYResolution, 150);
            EXPECT_EQ(io.Params().DpiX(), 300);
            EXPECT_EQ(io.Params().DpiY(), 150);
        }
    }
}

}  // namespace
