// Icons, and the class library's pictures drawn on a canvas through their own drawing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/Canvas.h"
#include "platform/Icon.h"
#include "platform/Jpeg.h"
#include "platform/qt/QtCanvas.h"

namespace fs = std::filesystem;

namespace {

class IconTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallQtCanvas();
        std::string pattern = (fs::temp_directory_path() / "icon-XXXXXX").string();
        ASSERT_TRUE(::mkdtemp(pattern.data()));
        folder_ = pattern;
    }
    void TearDown() override { fs::remove_all(folder_); }

    // The bytes of a picture that ImageMagick makes from its arguments.
    std::string Convert(const std::string& arguments, const std::string& name) {
        const std::string path = (folder_ / name).string();
        EXPECT_EQ(std::system(("convert " + arguments + " '" + path + "'").c_str()), 0) << arguments;
        std::ifstream file(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), {}};
    }

    fs::path folder_;
};

void Load(TGraphic& graphic, const std::string& bytes) {
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    stream.SetPosition(0);
    graphic.LoadFromStream(stream);
}

// The graphic drawn at its own size over a picture of one colour.
TBitmap DrawnOver(const TGraphic& graphic, TColor background) {
    TBitmap bitmap;
    bitmap.SetSize(graphic.Width(), graphic.Height());
    bitmap.Canvas().Brush.Color = background;
    bitmap.Canvas().FillRect(Rect(0, 0, bitmap.Width(), bitmap.Height()));
    bitmap.Canvas().Draw(0, 0, graphic);
    return bitmap;
}

void ExpectNear(TColor actual, TColor expected, int tolerance) {
    EXPECT_NEAR(GetRValue(actual), GetRValue(expected), tolerance);
    EXPECT_NEAR(GetGValue(actual), GetGValue(expected), tolerance);
    EXPECT_NEAR(GetBValue(actual), GetBValue(expected), tolerance);
}

std::string Le16(int v) { return {char(v & 0xFF), char((v >> 8) & 0xFF)}; }
std::string Le32(uint32_t v) { return Le16(int(v & 0xFFFF)) + Le16(int(v >> 16)); }

// A 4 x 2 icon in BMP form whose mask makes the left column transparent; the other pixels are red
// in the top row and blue in the bottom one. 4-bit with a palette, or 32-bit with zero alpha bytes
// as older icons have.
std::string MaskedIcon(int bits) {
    std::string image = Le32(40) + Le32(4) + Le32(4) + Le16(1) + Le16(bits) + Le32(0) + Le32(0) + Le32(0) +
                        Le32(0) + Le32(0) + Le32(0);
    if (bits == 4) {
        image += Le32(0) + Le32(0x00FF0000) + Le32(0x000000FF);  // black, red, blue
        image += std::string(13 * 4, '\0');
        image += std::string("\x02\x22\0\0", 4) + std::string("\x01\x11\0\0", 4);  // rows from the bottom
    } else {
        const std::string red("\0\0\xFF\0", 4), blue("\xFF\0\0\0", 4), black(4, '\0');
        image += black + blue + blue + blue + black + red + red + red;
    }
    image += std::string("\x80\0\0\0\x80\0\0\0", 8);  // the mask, rows from the bottom
    return Le16(0) + Le16(1) + Le16(1) + std::string("\x04\x02\0\0", 4) + Le16(1) + Le16(bits) +
           Le32(uint32_t(image.size())) + Le32(22) + image;
}

TEST_F(IconTest, IconsDrawTheirPixelsAndTransparency) {
    struct Case {
        const char* name;
        std::string bytes;
        int width, height;
        struct Probe {
            int x, y;
            TColor overWhite, overBlack;
        };
        std::vector<Probe> probes;
    };
    const TColor halfRedOverWhite = RGB(255, 128, 128), halfRedOverBlack = RGB(128, 0, 0);
    const Case cases[] = {
        {"32-bit, opaque", Convert("-size 16x16 xc:red", "red.ico"), 16, 16, {{8, 8, clRed, clRed}}},
        {"32-bit, left half opaque",
         Convert("-size 16x16 xc:none -fill blue -draw 'rectangle 0,0 7,15'", "alpha.ico"),
         16,
         16,
         {{3, 3, clBlue, clBlue}, {12, 3, clWhite, clBlack}}},
        {"largest of three sizes", Convert("-size 16x16 xc:red -size 48x48 xc:blue -size 32x32 xc:lime", "multi.ico"),
         48, 48, {{24, 24, clBlue, clBlue}}},
        {"PNG, half transparent", Convert("-size 256x256 'xc:rgba(255,0,0,0.5)'", "png.ico"), 256, 256,
         {{100, 100, halfRedOverWhite, halfRedOverBlack}}},
        {"4-bit with a mask", MaskedIcon(4), 4, 2,
         {{0, 0, clWhite, clBlack}, {0, 1, clWhite, clBlack}, {2, 0, clRed, clRed}, {3, 1, clBlue, clBlue}}},
        {"32-bit without alpha, with a mask", MaskedIcon(32), 4, 2,
         {{0, 1, clWhite, clBlack}, {1, 0, clRed, clRed}, {1, 1, clBlue, clBlue}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TIcon icon;
        Load(icon, c.bytes);
        EXPECT_EQ(icon.Width(), c.width);
        EXPECT_EQ(icon.Height(), c.height);
        const TBitmap overWhite = DrawnOver(icon, clWhite), overBlack = DrawnOver(icon, clBlack);
        for (const auto& p : c.probes) {
            SCOPED_TRACE(std::to_string(p.x) + ", " + std::to_string(p.y));
            ExpectNear(overWhite.Pixel(p.x, p.y), p.overWhite, 2);
            ExpectNear(overBlack.Pixel(p.x, p.y), p.overBlack, 2);
        }
        TMemoryStream saved;
        icon.SaveToStream(saved);
        EXPECT_EQ(std::string(saved.Bytes().begin(), saved.Bytes().end()), c.bytes);
    }
    TIcon icon;
    EXPECT_THROW(icon.SetWidth(5), EInvalidGraphic);
}

TEST_F(IconTest, DamagedIconsAreRefusedAndLeaveTheIconAsItWas) {
    const std::string bmpForm = Convert("-size 16x16 xc:red", "red.ico");
    const std::string pngForm = Convert("-size 256x256 gradient:red-blue", "gradient.ico");
    const std::string masked = MaskedIcon(4);
    std::vector<std::string> bad;
    for (const std::string* good : {&bmpForm, &pngForm, &masked})
        for (size_t length = 0; length < good->size(); ++length) bad.push_back(good->substr(0, length));
    auto patched = [&](size_t offset, const std::string& bytes) {
        std::string copy = masked;
        copy.replace(offset, bytes.size(), bytes);
        return copy;
    };
    bad.push_back(patched(2, Le16(2)));                // a cursor
    bad.push_back(patched(4, Le16(0)));                // no images
    bad.push_back(patched(4, Le16(2)));                // a directory longer than the file
    bad.push_back(patched(18, Le32(1000)));            // image data beyond the end
    bad.push_back(patched(14, Le32(0)));               // image of no bytes
    bad.push_back(patched(22, Le32(4000)));            // header longer than the image
    bad.push_back(patched(26, Le32(100000)));          // too wide
    bad.push_back(patched(30, Le32(0)));               // no rows
    bad.push_back(patched(30, Le32(uint32_t(-4))));    // rows from the top
    bad.push_back(patched(36, Le16(7)));               // bits per pixel
    bad.push_back(patched(38, Le32(2)));               // compressed
    bad.push_back(patched(54, Le32(17)));              // more colours than 4 bits hold
    bad.push_back(std::string(64, '\0'));
    for (size_t length : {8, 40, 100, 300}) {  // PNG data cut short where the directory says it ends
        std::string cut = pngForm.substr(0, 22 + length);
        cut.replace(14, 4, Le32(uint32_t(length)));
        bad.push_back(cut);
    }

    TIcon icon;
    Load(icon, masked);
    for (size_t i = 0; i < bad.size(); ++i) {
        EXPECT_THROW(Load(icon, bad[i]), EInvalidGraphic) << "case " << i << ", " << bad[i].size() << " bytes";
        EXPECT_EQ(icon.Width(), 4);
    }
}

TEST_F(IconTest, BitmapsAndJpegPicturesDrawThroughTheCanvasAsGraphics) {
    TBitmap bitmap;
    bitmap.SetSize(2, 2);
    bitmap.SetPixel(0, 0, clRed);
    bitmap.SetPixel(1, 1, clYellow);
    TJPEGImage jpeg;
    Load(jpeg, Convert("-size 8x8 xc:lime -quality 100", "green.jpg"));
    TBitmap target;
    target.SetSize(20, 10);
    target.Canvas().StretchDraw(Rect(0, 0, 10, 10), bitmap);
    target.Canvas().Draw(12, 1, jpeg);
    EXPECT_EQ(target.Pixel(2, 2), clRed);
    EXPECT_EQ(target.Pixel(7, 7), clYellow);
    ExpectNear(target.Pixel(15, 5), clLime, 3);
    EXPECT_EQ(target.Pixel(15, 9), clBlack);  // below the 8 x 8 picture
}

}  // namespace
