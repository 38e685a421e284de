// The platform services the writer stands on: the JPEG picture and fonts.
#include <gtest/gtest.h>

#include "PdfTestSupport.h"
#include "platform/FontService.h"
#include "platform/Jpeg.h"

namespace {

TEST(JpegImage, DecodesGrayColourAndCmykIntoTrueColour) {
    TScratchFolder scratch;
    struct {
        const char* arguments;
        int components;
        TColor expected;
    } const cases[] = {
        {"-size 8x8 'xc:rgb(200,40,10)'", 3, RGB(200, 40, 10)},
        {"-size 8x8 xc:gray50 -colorspace Gray", 1, RGB(127, 127, 127)},
        {"-size 8x8 'xc:rgb(0,0,255)' -colorspace CMYK", 4, RGB(0, 0, 255)},
    };
    for (const auto& c : cases) {
        const std::string path = scratch.Path("picture.jpg");
        ASSERT_EQ(RunTool(std::string("convert ") + c.arguments + " -quality 100 " + Quoted(path)).status, 0);
        TJPEGImage jpeg;
        jpeg.LoadFromFile(path);
        EXPECT_EQ(jpeg.Components(), c.components) << c.arguments;
        EXPECT_EQ(jpeg.AdobeMarker(), c.components == 4) << c.arguments;
        TBitmap bitmap;
        jpeg.AssignTo(bitmap);
        EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf24bit);
        const TColor pixel = bitmap.Pixel(4, 4);
        EXPECT_NEAR(GetRValue(pixel), GetRValue(c.expected), 3) << c.arguments;
        EXPECT_NEAR(GetGValue(pixel), GetGValue(c.expected), 3) << c.arguments;
        EXPECT_NEAR(GetBValue(pixel), GetBValue(c.expected), 3) << c.arguments;
    }
}

TEST(JpegImage, CompressesBitmapsAndRefusesDamagedData) {
    const TBitmap source = GradientBitmap(33, 17);
    TJPEGImage jpeg;
    jpeg.SetCompressionQuality(95);
    jpeg.Assign(source);
    EXPECT_EQ(jpeg.Width(), 33);
    TMemoryStream stream;
    jpeg.SaveToStream(stream);
    stream.SetPosition(0);
    TJPEGImage again;
    again.LoadFromStream(stream);
    TBitmap decoded;
    again.AssignTo(decoded);
    EXPECT_EQ(decoded.Width(), 33);
    EXPECT_EQ(decoded.Height(), 17);
    EXPECT_NEAR(GetRValue(decoded.Pixel(20, 10)), GetRValue(source.Pixel(20, 10)), 8);

    for (const std::string& bad : {std::string(), std::string("\xFF\xD8\xFF\xE0 short"), std::string(100, 'x')}) {
        TMemoryStream damaged;
        damaged.WriteBuffer(bad.data(), int64_t(bad.size()));
        damaged.SetPosition(0);
        EXPECT_THROW(again.LoadFromStream(damaged), EInvalidGraphic);
        EXPECT_EQ(again.Width(), 33);  // unchanged
    }
    // Data cut inside the scan decode without reading beyond their end.
    const std::vector<uint8_t>& data = jpeg.Data();
    ASSERT_GT(data.size(), 800u);
    TMemoryStream cut;
    cut.WriteBuffer(data.data(), int64_t(data.size() - 100));
    cut.SetPosition(0);
    TJPEGImage half;
    half.LoadFromStream(cut);
    TBitmap partial;
    half.AssignTo(partial);
    EXPECT_EQ(partial.Width(), 33);
}

TEST(FontService, FindsMetricCompatibleFacesAndReadsTheirMetrics) {
    const auto arial = TFontFace::Find("Arial", false, false);
    EXPECT_TRUE(arial->IsTrueType());
    EXPECT_TRUE(Contains(arial->FileName(), "LiberationSans-Regular")) << arial->FileName();
    const TTextMetrics metrics = arial->TextMetrics(2048);
    EXPECT_EQ(metrics.Ascent, 1854);
    EXPECT_EQ(metrics.Descent, 434);
    EXPECT_EQ(metrics.PitchAndFamily & 0xF0, 0x20);  // swiss
    EXPECT_EQ(arial->CharWidths(1252, 2048)[' '], 569);
    EXPECT_EQ(arial->CharWidths(1252, 2048)['\n'], 0);
    const auto courier = TFontFace::Find("Courier New", true, true);
    EXPECT_TRUE(Contains(courier->FileName(), "LiberationMono-BoldItalic")) << courier->FileName();
    EXPECT_EQ(courier->TextMetrics(100).PitchAndFamily & 0x01, 0);  // fixed pitch
    EXPECT_LT(courier->OutlineTextMetrics(100).ItalicAngle, 0);
    const TOutlineTextMetrics outline = arial->OutlineTextMetrics(2048);
    EXPECT_LT(outline.UnderscorePosition, 0);
    EXPECT_GT(outline.StrikeoutPosition, 0);
    EXPECT_EQ(outline.EmbeddingType & 1, 0u);
    EXPECT_EQ(arial->FontData().size(), ReadFile(arial->FileName()).size());
    const auto& families = InstalledFontFamilies();
    EXPECT_NE(std::find(families.begin(), families.end(), "Liberation Sans"), families.end());
}

}  // namespace
