#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <functional>
#include <limits>

#include "imaging/io/IOParamsVals.h"

namespace {

class RecordingView : public TKVView {
public:
    void SetDpiX(int dpi) override { dpiX = dpi; }
    void SetDpiY(int dpi) override { dpiY = dpi; }
    int dpiX = -1, dpiY = -1;
};

class FakeOwner : public TKVParamsOwner {
public:
    TBitmap* GetTBitmap() override { return bitmap; }
    TKVView* AttachedKestova() override { return view; }
    TBitmap* bitmap = nullptr;
    TKVView* view = nullptr;
};

enum ResetBy : unsigned { OnlyByDefaults = 0, ByInfo = 1, ByExif = 2 };

struct Row {
    const char* name;
    std::function<void(TIOParamsVals&)> change;
    std::function<bool(const TIOParamsVals&)> isDefault;
    unsigned resetBy;
};

#define FIELD(field, defaultValue, otherValue, resetBy) \
    Row { #field, [](TIOParamsVals& p) { p.field = otherValue; }, \
          [](const TIOParamsVals& p) { return p.field == defaultValue; }, resetBy }

const TKVRGB Black{0, 0, 0}, White{255, 255, 255}, Teal{128, 128, 0};

TKVBitmap* NewThumbnail(TIOParamsVals& p) {
    p.ExifThumbnail = std::make_unique<TKVBitmap>();
    p.ExifThumbnail->Allocate(4, 3, kv24RGB);
    return p.ExifThumbnail.get();
}

// One row per field or group, with the reset that forgets it besides SetDefaultParams.
std::vector<Row> Rows() {
    return {
        FIELD(BitsPerSample, 8, 1, OnlyByDefaults),
        FIELD(SamplesPerPixel, 3, 1, OnlyByDefaults),
        FIELD(FileName, "", "a.tif", OnlyByDefaults),
        FIELD(FileType, 0, kvftPNG, OnlyByDefaults),
        {"DpiX, DpiY", [](TIOParamsVals& p) { p.SetDpiX(72); p.SetDpiY(73); },
         [](const TIOParamsVals& p) { return p.DpiX() == 300 && p.DpiY() == 300; }, OnlyByDefaults},
        {"ImageIndex and the six frame indexes", [](TIOParamsVals& p) { p.SetImageIndex(3); },
         [](const TIOParamsVals& p) {
             return p.ImageIndex() == 0 && p.TiffImageIndex == 0 && p.DcxImageIndex == 0 && p.GifImageIndex == 0 &&
                    p.IcoImageIndex == 0 && p.CurImageIndex == 0;
         }, OnlyByDefaults},
        {"ImageCount and the frame counts", [](TIOParamsVals& p) { p.SetImageCount(9); },
         [](const TIOParamsVals& p) {
             return p.ImageCount() == 0 && p.TiffImageCount == 0 && p.AviFrameCount == 0 && p.GifImageCount == 0 &&
                    p.MediaFrameCount == 0;
         }, OnlyByDefaults},
        {"LoadThumbnail", [](TIOParamsVals& p) { p.SetLoadThumbnail(true); },
         [](const TIOParamsVals& p) { return !p.LoadThumbnail() && !p.JpegLoadThumbnail && !p.RawLoadThumbnail; },
         OnlyByDefaults},
        FIELD(TiffCompression, 0, 5, OnlyByDefaults),
        FIELD(TiffPhotometric, 2, 0, OnlyByDefaults),
        FIELD(TiffPlanarConfig, 1, 2, OnlyByDefaults),
        FIELD(TiffXPos, 0, 12, OnlyByDefaults),
        FIELD(TiffDocumentName, "", "doc", ByInfo),
        FIELD(TiffImageDescription, "", "desc", ByInfo),
        FIELD(TiffPageName, "", "page", ByInfo),
        FIELD(TiffPageCount, 0, 4, OnlyByDefaults),
        FIELD(TiffOrientation, 1, 6, OnlyByDefaults),
        FIELD(TiffJpegQuality, 80, 20, OnlyByDefaults),
        FIELD(TiffJpegColorSpace, 2, 1, OnlyByDefaults),
        FIELD(TiffFillOrder, 1, 2, OnlyByDefaults),
        FIELD(PcxVersion, 5, 3, OnlyByDefaults),
        FIELD(PcxCompressed, true, false, OnlyByDefaults),
        FIELD(GifVersion, "GIF89a", "GIF87a", OnlyByDefaults),
        FIELD(GifTranspColor, Black, Teal, OnlyByDefaults),
        FIELD(GifBackground, Black, Teal, OnlyByDefaults),
        FIELD(GifDelayTime, 0, 10, OnlyByDefaults),
        {"GifComments", [](TIOParamsVals& p) { p.GifComments.Add("hello"); },
         [](const TIOParamsVals& p) { return p.GifComments.Count() == 0; }, ByInfo},
        FIELD(JpegColorSpace, 2, 3, OnlyByDefaults),
        FIELD(JpegQuality, 80, 95, OnlyByDefaults),
        FIELD(JpegScale, 1, 0, OnlyByDefaults),
        FIELD(JpegScaleUsed, 1, 4, OnlyByDefaults),
        FIELD(JpegFrameWidth, 0, 640, OnlyByDefaults),
        {"JpegMarkers", [](TIOParamsVals& p) { p.JpegMarkers.AddMarker(0xFE, "c", 1); },
         [](const TIOParamsVals& p) { return p.JpegMarkers.Count() == 0; }, ByInfo},
        FIELD(J2KColorSpace, 1, 0, OnlyByDefaults),
        FIELD(J2KRate, 1.0, 0.25, OnlyByDefaults),
        FIELD(BmpVersion, 1, 2, OnlyByDefaults),
        FIELD(BmpCompression, 0, 1, OnlyByDefaults),
        FIELD(IcoBackground, White, Teal, OnlyByDefaults),
        {"IcoSizes and IcoBitCount", [](TIOParamsVals& p) { p.IcoSizes[0] = {16, 16}; p.IcoSizes[1] = {32, 32}; p.IcoBitCount[1] = 4; },
         [](const TIOParamsVals& p) {
             return p.IcoSizes[0] == TKVIcoSize{64, 64} && p.IcoSizes[1] == TKVIcoSize{} && p.IcoSizes[15] == TKVIcoSize{} &&
                    p.IcoBitCount[0] == 8 && p.IcoBitCount[1] == 0;
         }, OnlyByDefaults},
        FIELD(CurXHotSpot, 0, 5, OnlyByDefaults),
        FIELD(CurYHotSpot, 0, 6, OnlyByDefaults),
        FIELD(CurBackground, White, Teal, OnlyByDefaults),
        FIELD(PngCompression, 5, 9, OnlyByDefaults),
        FIELD(PngBackground, Black, Teal, OnlyByDefaults),
        {"PngTextKeys, PngTextValues", [](TIOParamsVals& p) { p.PngTextKeys.Add("Title"); p.PngTextValues.Add("x"); },
         [](const TIOParamsVals& p) { return p.PngTextKeys.Count() == 0 && p.PngTextValues.Count() == 0; }, ByInfo},
        FIELD(TgaCompressed, true, false, OnlyByDefaults),
        FIELD(TgaDescriptor, "", "d", ByInfo),
        FIELD(TgaAuthor, "", "a", ByInfo),
        FIELD(TgaImageName, "", "n", ByInfo),
        FIELD(TgaAspectRatio, 1.0, 2.0, OnlyByDefaults),
        FIELD(TgaGamma, 2.2, 1.0, OnlyByDefaults),
        {"IptcInfo", [](TIOParamsVals& p) { p.IptcInfo.AddDataSet(2, 5, 1, "x"); },
         [](const TIOParamsVals& p) { return p.IptcInfo.Count() == 0; }, ByInfo},
        {"ImagingAnnot", [](TIOParamsVals& p) { p.GetImagingAnnot().Add(std::make_unique<TKVImagingObject>()); },
         [](const TIOParamsVals& p) { return p.ImagingAnnot() == nullptr; }, ByInfo},
        {"PxmComments", [](TIOParamsVals& p) { p.PxmComments.Add("# made here"); },
         [](const TIOParamsVals& p) { return p.PxmComments.Count() == 0; }, ByInfo},
        {"InputICC", [](TIOParamsVals& p) { p.GetInputICC().LoadSRGB(); },
         [](const TIOParamsVals& p) { return p.InputICC() == nullptr; }, ByInfo},
        {"OutputICC", [](TIOParamsVals& p) { p.GetOutputICC(); },
         [](const TIOParamsVals& p) { return p.OutputICC() == nullptr; }, OnlyByDefaults},
        {"ColorMap", [](TIOParamsVals& p) { p.ColorMap.assign(16, Teal); },
         [](const TIOParamsVals& p) { return p.ColorMapCount() == 0; }, OnlyByDefaults},
        FIELD(IsNativePixelFormat, false, true, OnlyByDefaults),
        FIELD(ExifHasData, false, true, ByInfo | ByExif),
        FIELD(ExifMake, "", "Maker", ByInfo | ByExif),
        FIELD(ExifOrientation, 0, 8, ByInfo | ByExif),
        FIELD(ExifExposureTime, 0.0, 0.01, ByInfo | ByExif),
        FIELD(ExifUserCommentCode, "", "ASCII", ByInfo | ByExif),
        FIELD(ExifXPTitle, "", "Título", ByInfo | ByExif),
        {"ExifWhitePoint", [](TIOParamsVals& p) { p.ExifWhitePoint[1] = 0.329; },
         [](const TIOParamsVals& p) { return p.ExifWhitePoint[1] == 0; }, ByInfo | ByExif},
        {"ExifISOSpeedRatings", [](TIOParamsVals& p) { p.ExifISOSpeedRatings[0] = 400; },
         [](const TIOParamsVals& p) { return p.ExifISOSpeedRatings[0] == 0; }, ByInfo | ByExif},
        {"ExifThumbnail", [](TIOParamsVals& p) { NewThumbnail(p); },
         [](const TIOParamsVals& p) { return p.ExifThumbnail == nullptr; }, ByInfo | ByExif},
        {"ExifMakerNote", [](TIOParamsVals& p) { p.ExifMakerNote.Stream().WriteBuffer("\0\0", 2); },
         [](const TIOParamsVals& p) { return p.ExifMakerNote.Stream().Bytes().empty(); }, ByInfo | ByExif},
        FIELD(AviFrameDelay, 0, 40, OnlyByDefaults),
        FIELD(MediaFrameTime, 0, 4, OnlyByDefaults),
        FIELD(PsPaperWidth, 595, 612, OnlyByDefaults),
        FIELD(PsPaperHeight, 842, 792, OnlyByDefaults),
        FIELD(PsCompression, 1, 0, OnlyByDefaults),
        FIELD(PsTitle, "No Title", "Mine", OnlyByDefaults),
        FIELD(PdfPaperWidth, 595, 612, OnlyByDefaults),
        FIELD(PdfPaperHeight, 842, 792, OnlyByDefaults),
        FIELD(PdfCompression, 2, 0, OnlyByDefaults),
        FIELD(PdfAuthor, "", "me", OnlyByDefaults),
        FIELD(RawHalfSize, false, true, OnlyByDefaults),
        FIELD(RawGamma, 0.6, 1.0, OnlyByDefaults),
        FIELD(RawBright, 1.0, 2.0, OnlyByDefaults),
        FIELD(RawRedScale, 1.0, 2.0, OnlyByDefaults),
        {"RawSwitches", [](TIOParamsVals& p) { p.RawSwitches = {false, true, true, true}; },
         [](const TIOParamsVals& p) { return p.RawSwitches == std::array<bool, 4>{true, false, false, false}; },
         OnlyByDefaults},
        FIELD(RawCameraName, "", "Cam", OnlyByDefaults),
        FIELD(RawAutoAdjustColors, false, true, OnlyByDefaults),
    };
}

uint8_t* DummyTIFFDecoder(const uint8_t*, int64_t, int64_t, TKVTIFFLZWDecodeState*&) { return nullptr; }

}  // namespace

TEST(TIOParamsVals, DefaultsAndResetRules) {
    TBitmap picture;
    picture.SetSize(40, 30);
    FakeOwner owner;
    owner.bitmap = &picture;
    TIOParamsVals params(&owner);
    for (const Row& row : Rows()) EXPECT_TRUE(row.isDefault(params)) << "default of " << row.name;
    EXPECT_EQ(params.Width, 40);
    EXPECT_EQ(params.Height, 30);

    struct Reset {
        const char* name;
        void (TIOParamsVals::*apply)();
        unsigned flag;  // 0: everything
    } resets[] = {{"SetDefaultParams", &TIOParamsVals::SetDefaultParams, 0},
                  {"ResetInfo", &TIOParamsVals::ResetInfo, ByInfo},
                  {"ResetEXIF", &TIOParamsVals::ResetEXIF, ByExif}};
    for (const Reset& reset : resets) {
        for (const Row& row : Rows()) row.change(params);
        for (const Row& row : Rows()) ASSERT_FALSE(row.isDefault(params)) << "changing " << row.name;
        (params.*reset.apply)();
        for (const Row& row : Rows()) {
            const bool expectReset = reset.flag == 0 || (row.resetBy & reset.flag) != 0;
            EXPECT_EQ(row.isDefault(params), expectReset) << reset.name << " on " << row.name;
        }
        params.SetDefaultParams();
    }
}

TEST(TIOParamsVals, LinkedSetters) {
    TIOParamsVals params(nullptr);
    params.SetImageIndex(3);
    for (int index : {params.ImageIndex(), params.TiffImageIndex, params.DcxImageIndex, params.GifImageIndex,
                      params.IcoImageIndex, params.CurImageIndex})
        EXPECT_EQ(index, 3);
    params.SetImageCount(7);
    for (int count : {params.ImageCount(), params.TiffImageCount, params.AviFrameCount, params.GifImageCount,
                      params.MediaFrameCount})
        EXPECT_EQ(count, 7);
    params.SetLoadThumbnail(true);
    EXPECT_TRUE(params.JpegLoadThumbnail && params.RawLoadThumbnail && params.LoadThumbnail());
    params.SetOrientation(6);
    EXPECT_EQ(params.TiffOrientation, 6);
    EXPECT_EQ(params.ExifOrientation, 6);
}

TEST(TIOParamsVals, ResolutionReachesTheOwnersView) {
    RecordingView view;
    FakeOwner owner;
    owner.view = &view;
    DefaultDpiX = 200;
    DefaultDpiY = 100;
    TIOParamsVals params(&owner);
    DefaultDpiX = DefaultDpiY = 300;
    EXPECT_EQ(params.DpiX(), 200);
    EXPECT_EQ(params.DpiY(), 100);
    EXPECT_EQ(view.dpiX, 200);
    EXPECT_EQ(view.dpiY, 100);

    struct Case {
        double value;
        int dpi;
    } cases[] = {{299.9, 299}, {-72.7, -72}, {std::nan(""), 0}, {1e20, std::numeric_limits<int>::max()}};
    for (const Case& c : cases) {
        params.SetDpiXFloat(c.value);
        params.SetDpiYFloat(c.value);
        EXPECT_EQ(params.DpiX(), c.dpi) << c.value;
        EXPECT_EQ(view.dpiX, c.dpi) << c.value;
        EXPECT_EQ(view.dpiY, c.dpi) << c.value;
        EXPECT_EQ(params.ExifXResolution, double(c.dpi)) << c.value;
    }

    // Without an owner the size and resolution stay as they are.
    TIOParamsVals loose(nullptr);
    EXPECT_EQ(loose.DpiX(), 0);
    loose.Width = 7;
    loose.SetDpiX(50);
    loose.SetDefaultParams();
    EXPECT_EQ(loose.Width, 7);
    EXPECT_EQ(loose.DpiX(), 50);
}

TEST(TIOParamsVals, DefaultsTakeTheInstalledHooksAndToday) {
    const TKVTIFFLZWDecompressor installed = DefTIFFLZWDecompressor;
    DefTIFFLZWDecompressor = DummyTIFFDecoder;
    TIOParamsVals params(nullptr);
    DefTIFFLZWDecompressor = installed;
    EXPECT_EQ(params.TiffLZWDecompressor, DummyTIFFDecoder);
    EXPECT_EQ(params.GifLZWDecompressor, DefGIFLZWDecompressor);
    EXPECT_NE(params.GifLZWDecompressor, nullptr);  // installed at start

    const double today = double(std::time(nullptr) / 86400 + 25569);
    EXPECT_NEAR(params.TgaDate, today, 1.0);
    EXPECT_EQ(params.TgaDate, std::floor(params.TgaDate));

    ASSERT_TRUE(params.GetOutputICC().IsValid());
}

TEST(TIOParamsVals, AssignCopiesEverythingButOwnerAndWarnings) {
    RecordingView view;
    FakeOwner owner;
    owner.view = &view;
    TIOParamsVals source(nullptr), target(&owner);
    source.JpegQuality = 33;
    source.FileName = "b.jpg";
    source.SetDpiX(150);
    source.ExifXResolution = 151;
    source.SetImageIndex(2);
    source.ColorMap = {Teal, White};
    source.GifComments.Add("comment");
    source.JpegMarkers.AddMarker(0xE1, "Exif", 4);
    source.IptcInfo.AddDataSet(2, 5, 3, "abc");
    source.ExifMakerNote.Stream().WriteBuffer("\1\0", 2);
    source.GetImagingAnnot().Add(std::make_unique<TKVImagingObject>());
    source.GetInputICC().LoadSRGB();
    NewThumbnail(source);
    source.JpegWarningCount = 5;
    target.JpegWarningCount = 1;

    target.Assign(source);
    EXPECT_EQ(target.Owner(), &owner);
    EXPECT_EQ(target.JpegQuality, 33);
    EXPECT_EQ(target.FileName, "b.jpg");
    EXPECT_EQ(target.DpiX(), 150);
    EXPECT_EQ(view.dpiX, 150);
    EXPECT_EQ(target.ExifXResolution, 151);
    EXPECT_EQ(target.GifImageIndex, 2);
    EXPECT_EQ(target.ColorMap, source.ColorMap);
    EXPECT_EQ(target.GifComments.Strings(0), "comment");
    EXPECT_EQ(target.JpegMarkers.Count(), 1);
    EXPECT_EQ(target.IptcInfo.GetData(0), source.IptcInfo.GetData(0));
    EXPECT_EQ(target.ExifMakerNote.Stream().Bytes(), source.ExifMakerNote.Stream().Bytes());
    ASSERT_NE(target.ImagingAnnot(), nullptr);
    EXPECT_NE(target.ImagingAnnot(), source.ImagingAnnot());
    EXPECT_EQ(target.ImagingAnnot()->Count(), 1);
    ASSERT_NE(target.InputICC(), nullptr);
    EXPECT_TRUE(target.InputICC()->IsValid());
    EXPECT_EQ(target.OutputICC(), nullptr);  // the source never made one
    ASSERT_NE(target.ExifThumbnail, nullptr);
    EXPECT_NE(target.ExifThumbnail.get(), source.ExifThumbnail.get());
    EXPECT_EQ(target.ExifThumbnail->GetWidth(), 4);
    EXPECT_EQ(target.JpegWarningCount, 1);

    // What the source lacks is freed, the thumbnail too: it belonged to the earlier picture.
    TIOParamsVals bare(nullptr);
    target.GetOutputICC();
    target.Assign(bare);
    EXPECT_EQ(target.InputICC(), nullptr);
    EXPECT_EQ(target.OutputICC(), nullptr);
    EXPECT_EQ(target.ImagingAnnot(), nullptr);
    EXPECT_EQ(target.ExifThumbnail, nullptr);
    EXPECT_EQ(target.JpegMarkers.Count(), 0);
    EXPECT_EQ(target.Owner(), &owner);
}

TEST(TIOParamsVals, AssignSaveOptionsCopiesWriterOptionsOnly) {
    TIOParamsVals source(nullptr), target(nullptr);
    source.JpegQuality = 40;
    source.TiffCompression = 4;
    source.TiffOrientation = 3;
    source.PngCompression = 9;
    source.TgaGrayLevel = true;
    source.J2KRate = 0.1;
    source.FileName = "x.png";
    source.Width = 99;
    source.GifTranspColor = Teal;
    source.IptcInfo.AddDataSet(2, 5, 1, "x");

    target.AssignSaveOptions(source);
    EXPECT_EQ(target.JpegQuality, 40);
    EXPECT_EQ(target.TiffCompression, 4);
    EXPECT_EQ(target.TiffOrientation, 3);
    EXPECT_EQ(target.ExifOrientation, 3);
    EXPECT_EQ(target.PngCompression, 9);
    EXPECT_TRUE(target.TgaGrayLevel);
    EXPECT_EQ(target.J2KRate, 0.1);
    EXPECT_EQ(target.FileName, "");
    EXPECT_EQ(target.Width, 0);
    EXPECT_EQ(target.GifTranspColor, Black);
    EXPECT_EQ(target.IptcInfo.Count(), 0);
}
