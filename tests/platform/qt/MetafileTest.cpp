#include <gtest/gtest.h>

#include <QGuiApplication>
#include <random>

#include "MetafileFixtures.h"
#include "QtTestApplication.h"
#include "TestSupport.h"
#include "platform/Canvas.h"
#include "platform/GraphicClasses.h"
#include "platform/Icon.h"
#include "platform/Jpeg.h"
#include "platform/qt/Metafile.h"
#include "platform/qt/MetafileCheck.h"
#include "platform/qt/QtCanvas.h"

namespace {

using metafile_fixtures::Emf;
using metafile_fixtures::Wmf;

class MetafileTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureTestApplication<QGuiApplication>();
        InstallQtCanvas();
    }
};

void Load(TMetafile& metafile, const std::string& bytes) {
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    stream.SetPosition(0);
    metafile.LoadFromStream(stream);
}

TBitmap Filled(int width, int height, TColor colour) {
    TBitmap bitmap;
    bitmap.SetSize(width, height);
    bitmap.Canvas().Brush.Color = colour;
    bitmap.Canvas().FillRect(Rect(0, 0, width, height));
    return bitmap;
}

TEST_F(MetafileTest, BothKindsTakeTheirFrameAtScreenResolutionAndDrawOnlyWhatTheyPaint) {
    struct Case {
        const char* name;
        std::string bytes;
        bool enhanced;
        int width, height;
    };
    const Case cases[] = {
        {"wmf at 96 units per inch", Wmf(100, 50, 96), false, 100, 50},
        {"wmf in twips", Wmf(2880, 1440, 1440), false, 192, 96},
        {"emf", Emf(100, 50), true, 100, 50},
        {"larger emf", Emf(300, 120), true, 300, 120},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMetafile metafile;
        Load(metafile, c.bytes);
        EXPECT_EQ(metafile.Enhanced(), c.enhanced);
        EXPECT_EQ(metafile.Width(), c.width);
        EXPECT_EQ(metafile.Height(), c.height);
        EXPECT_TRUE(metafile.Scalable());
        TMemoryStream saved;
        metafile.SaveToStream(saved);
        EXPECT_EQ(std::string(saved.Bytes().begin(), saved.Bytes().end()), c.bytes);

        // Stretched over part of a blue picture: red, untouched blue, green, then blue outside.
        TBitmap bitmap = Filled(250, 100, clBlue);
        bitmap.Canvas().StretchDraw(Rect(0, 0, 200, 100), metafile);
        EXPECT_EQ(bitmap.Pixel(40, 50), clRed);
        EXPECT_EQ(bitmap.Pixel(100, 50), clBlue);
        EXPECT_EQ(bitmap.Pixel(160, 50), clLime);
        EXPECT_EQ(bitmap.Pixel(230, 50), clBlue);
    }
}

TEST_F(MetafileTest, ADrawingLargerThanTheCanvasIsClippedToIt) {
    TMetafile metafile;
    Load(metafile, Wmf(100, 50, 96));
    TBitmap bitmap = Filled(20, 10, clBlue);
    // Forty thousand pixels a side would hardly fit in memory as one picture. The pixel (10, 5)
    // shows the middle of the drawing, then a point a fifth of the way across.
    bitmap.Canvas().StretchDraw(Rect(10 - 20000, 5 - 20000, 10 + 20000, 5 + 20000), metafile);
    EXPECT_EQ(bitmap.Pixel(10, 5), clBlue);  // the unpainted middle fifth
    bitmap.Canvas().StretchDraw(Rect(10 - 8000, 5 - 20000, 10 + 32000, 5 + 20000), metafile);
    EXPECT_EQ(bitmap.Pixel(10, 5), clRed);
}

TEST_F(MetafileTest, ExtensionsNameTheGraphicClassOfPictureFiles) {
    InstallQtGraphics();
    struct Case {
        const char* extension;
        bool (*isOfClass)(const TGraphic&);
    };
    const Case cases[] = {
        {"wmf", [](const TGraphic& g) { return dynamic_cast<const TMetafile*>(&g) != nullptr; }},
        {".EMF", [](const TGraphic& g) { return dynamic_cast<const TMetafile*>(&g) != nullptr; }},
        {"Ico", [](const TGraphic& g) { return dynamic_cast<const TIcon*>(&g) != nullptr; }},
        {".jpeg", [](const TGraphic& g) { return dynamic_cast<const TJPEGImage*>(&g) != nullptr; }},
        {"DIB", [](const TGraphic& g) { return dynamic_cast<const TBitmap*>(&g) != nullptr; }},
    };
    for (const Case& c : cases) {
        const TGraphicClass graphicClass = GraphicClassForExtension(c.extension);
        ASSERT_TRUE(graphicClass) << c.extension;
        EXPECT_TRUE(c.isOfClass(*graphicClass())) << c.extension;
    }
    for (const char* unknown : {"", ".", "png", "wmf.bak"}) EXPECT_FALSE(GraphicClassForExtension(unknown)) << unknown;
}

// Cut, garbled or hostile data never crash the players: they load or raise EInvalidGraphic, and
// a failed load keeps the picture as it was.
TEST_F(MetafileTest, DamagedMetafilesAreRefusedCleanly) {
    std::vector<std::string> bad;
    for (const std::string& good : {Wmf(100, 50, 96), Emf(100, 50)})
        for (size_t length = 0; length < good.size(); ++length) bad.push_back(good.substr(0, length));
    auto patched = [](std::string bytes, size_t offset, std::initializer_list<uint8_t> values) {
        for (uint8_t v : values) bytes[offset++] = char(v);
        return bytes;
    };
    const std::string wmf = Wmf(100, 50, 96), emf = Emf(100, 50);
    bad.push_back(patched(wmf, 20, {0x12, 0x34}));                    // checksum
    bad.push_back(Wmf(100, 50, 0));                                   // no units per inch
    bad.push_back(Wmf(0, 50, 96));                                    // empty frame
    bad.push_back(patched(wmf, 40, {0xFF, 0xFF, 0xFF, 0x7F}));        // record beyond the end
    bad.push_back(patched(wmf, 40, {0, 0, 0, 0}));                    // record of no size
    bad.push_back(wmf.substr(22));                                    // without the placeable header
    bad.push_back(patched(emf, 112, {0, 0, 0, 0}));                   // record of no size
    bad.push_back(patched(emf, 4, {0xFF, 0xFF, 0, 0}));               // header beyond the end
    bad.push_back(emf.substr(0, emf.size() - 20) + std::string(20, '\0'));  // no end record
    bad.push_back(Emf(0, 50));
    bad.push_back(std::string(300, '\xFF'));

    TMetafile metafile;
    Load(metafile, Emf(300, 120));
    for (size_t i = 0; i < bad.size(); ++i) {
        EXPECT_THROW(Load(metafile, bad[i]), EInvalidGraphic) << "case " << i << ", " << bad[i].size() << " bytes";
        EXPECT_EQ(metafile.Width(), 300);
    }

    // Every byte of each file overwritten in turn with a value a parser trips over.
    for (const std::string& good : {wmf, emf})
        for (size_t offset = 0; offset < good.size(); ++offset) {
            const uint8_t values[] = {0x00, 0x7F, 0xFF};
            TMetafile garbled;
            try {
                Load(garbled, patched(good, offset, {values[offset % 3]}));
            } catch (const EInvalidGraphic&) {
                continue;
            }
            TBitmap bitmap = Filled(20, 10, clWhite);
            bitmap.Canvas().StretchDraw(Rect(0, 0, 20, 10), garbled);
        }
    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        std::string noise = i % 2 ? wmf.substr(0, 40) : emf.substr(0, 108);
        noise.resize(noise.size() + 64);
        for (size_t j = i % 2 ? 40 : 108; j < noise.size(); ++j) noise[j] = char(random());
        TMetafile garbled;
        try {
            Load(garbled, noise);
        } catch (const EInvalidGraphic&) {
        }
    }
}

// The player allocates what the header of a picture inside a record claims, so the claim must pass
// the picture limits for the record's bytes, and uncompressed rows must be present.
TEST(MetafileCheck, PicturesInRecordsAreCheckedAgainstThePictureLimits) {
    using metafile_fixtures::TBytes;
    auto dib = [](int32_t width, int32_t height, int bits, uint32_t compression, size_t dataBytes) {
        TBytes header;
        header.U32(40);
        header.U32(uint32_t(width));
        header.U32(uint32_t(height));
        header.U16(1);
        header.U16(uint32_t(bits));
        header.U32(compression);
        for (int i = 0; i < 5; ++i) header.U32(0);
        return header.data + std::string(dataBytes, '\0');
    };
    auto withPicture = [](const std::string& picture) {
        std::string wmf = Wmf(100, 50, 96);
        wmf.resize(wmf.size() - 6);  // the end record
        TBytes record;
        record.U32(uint32_t(3 + (22 + picture.size()) / 2));
        record.U16(0x0F43);  // stretched DIB
        record.U32(0x00CC0020);
        for (int v : {0, 2, 4, 0, 0, 50, 100, 0, 0}) record.U16(uint32_t(v));  // colour use, source, target
        return wmf + record.data + picture + std::string("\3\0\0\0\0\0", 6);
    };
    const struct {
        const char* name;
        std::string picture;
        const char* problem;  // empty when the metafile passes
    } cases[] = {
        {"rows present", dib(4, 2, 24, 0, 24), ""},
        {"rows missing", dib(4, 2, 24, 0, 12), "picture larger than its record"},
        {"run-length claim beyond the data", dib(4000, 4000, 8, 1, 2), "cannot come from"},
        {"side beyond the limits", dib(2000000, 1, 8, 1, 2), "largest side"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = withPicture(c.picture);
        const std::string message = MessageOf([&] { CheckMetafile(std::vector<uint8_t>(bytes.begin(), bytes.end())); });
        if (*c.problem == 0) EXPECT_EQ(message, "(no exception)");
        else EXPECT_TRUE(Contains(message, c.problem)) << message;
    }
}

}  // namespace
