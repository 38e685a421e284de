#include "app/engine/ConverterPic.h"

#include <cmath>
#include <filesystem>
#include <memory>

#include "app/engine/AppFolders.h"
#include "app/engine/Converter.h"
#include "imaging/io/KVFormatDetect.h"
#include "imaging/io/KestovaIO.h"
#include "pdf/PdfKalmora.h"
#include "tzlib/Errors.h"
#include "tzlib/FileHelpers.h"
#include "tzlib/TextFormats.h"
#include "tzpicformats/FileFormatList.h"
#include "tzpicformats/PicFormatGraphic.h"

namespace {

constexpr size_t MaxText = 255;
constexpr int CantLoadImage = 1027;

struct TKindEntry {
    const char* extension;
    TPicKind kind;
};

constexpr TKindEntry Kinds[] = {
    {".jpg", pkJpeg},      {".jpeg", pkJpeg},    {".tif", pkTiff},     {".tiff", pkTiff},    {".gif", pkGif},
    {".avi", pkVideo},     {".mpeg", pkVideo},   {".mpg", pkVideo},    {".wmv", pkVideo},    {".bmp", pkImage},
    {".wmf", pkImage},     {".emf", pkImage},    {".ico", pkImage},    {".cur", pkImage},    {".pcx", pkImage},
    {".png", pkImage},     {".tga", pkImage},    {".pxm", pkImage},    {".jp2", pkImage},    {".j2k", pkImage},
    {".psd", pkExtended},  {".psp", pkExtended}, {".pdd", pkExtended}, {".pcc", pkExtended}, {".fax", pkExtended},
    {".bw", pkExtended},   {".rgb", pkExtended}, {".rgba", pkExtended}, {".sgi", pkExtended}, {".cel", pkExtended},
    {".pic", pkExtended},  {".vst", pkExtended}, {".icb", pkExtended}, {".vda", pkExtended}, {".win", pkExtended},
    {".pcd", pkExtended},  {".scr", pkExtended}, {".ppm", pkExtended}, {".pgm", pkExtended}, {".pbm", pkExtended},
    {".cut", pkExtended},  {".pal", pkExtended}, {".rla", pkExtended}, {".rpf", pkExtended}, {".rle", pkExtended},
    {".dib", pkExtended},
};

constexpr const char* ColorModeLabels[] = {
    "Black-and-white",     "4 colors (2 bits)",   "8 colors (3 bits)",   "16 colors (4 bits)",
    "32 colors (5 bits)",  "64 colors (6 bits)",  "128 colors (7 bits)", "256 colors (8 bits)",
    "65536 colors (16 bits)", "True color (24 bits)", "True color (48 bits)",
};

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// A failed load leaves the abort flag set rather than raising.
void CheckLoaded(TKestovaIO& io) {
    if (io.AbortFlag) RaiseBrelvantError(2, "");
}

// The code of the bitmap's pixel format, for a picture whose file said nothing of its colours.
uint8_t ColorModeOfPixelFormat(TPixelFormat format) {
    switch (format) {
        case TPixelFormat::pf1bit: return 0;
        case TPixelFormat::pf4bit: return 3;
        case TPixelFormat::pf8bit: return 7;
        case TPixelFormat::pf16bit: return 8;
        default: return 9;
    }
}

// The extended library reads the file; the image library takes its pixels as BMP data. The call
// is qualified because a Targa graphic's own save writes Targa. Returns the colour mode of the
// file's own samples, which the bitmap may hold in more bits or fewer.
uint8_t LoadExtended(TKestovaIO& io, const std::string& fileName) {
    const std::unique_ptr<TGraphic> graphic = CreateGraphicFromFile(fileName);
    const auto* bitmap = dynamic_cast<const TBitmap*>(graphic.get());
    if (!bitmap || bitmap->Empty()) RaiseBrelvantError(2, "");
    TMemoryStream stream;
    bitmap->TBitmap::SaveToStream(stream);
    stream.SetPosition(0);
    io.AbortFlag = false;
    io.LoadFromStream(stream);
    CheckLoaded(io);
    const auto* picture = dynamic_cast<const TPicFormatGraphic*>(bitmap);
    if (picture && picture->ImageProperties().BitsPerSample > 0 && picture->ImageProperties().SamplesPerPixel > 0)
        return ColorModeOfSamples(picture->ImageProperties().BitsPerSample, picture->ImageProperties().SamplesPerPixel);
    return ColorModeOfPixelFormat(bitmap->PixelFormat());
}

// About one frame a second: the frames in 100 hundredths of a second.
int FrameStepOfDelay(int delay) { return delay > 0 ? static_cast<int>(std::nearbyint(100.0 / delay)) : 25; }

}  // namespace

bool FindPicKind(const std::string& fileName, TPicKind& kind) {
    const std::string extension = std::filesystem::path(fileName).extension().string();
    for (const TKindEntry& entry : Kinds)
        if (SameText(extension, entry.extension)) {
            kind = entry.kind;
            return true;
        }
    kind = pkExtended;
    return false;
}

TPicKind PicKindOfFile(const std::string& fileName) {
    TPicKind kind;
    FindPicKind(fileName, kind);
    return kind;
}

std::string ColorModeText(int code) {
    return code >= 0 && code < int(std::size(ColorModeLabels)) ? ColorModeLabels[code] : std::string();
}

// Alpha is no colour: one or two samples are gray (or palette indexes), three or more are colour.
uint8_t ColorModeOfSamples(int bitsPerSample, int samplesPerPixel) {
    if (samplesPerPixel <= 2) {
        if (bitsPerSample <= 1) return 0;
        return static_cast<uint8_t>(bitsPerSample <= 8 ? bitsPerSample - 1 : 8);
    }
    return bitsPerSample <= 8 ? 9 : 10;
}

TConverterPic* TConverterPic::Add(TConverter& converter, const std::string& fileName, int frameIndex) {
    std::unique_ptr<TConverterPic> pic(new TConverterPic(converter));
    pic->SetFileName(fileName);
    pic->FrameIndex = frameIndex < 0 ? 0 : frameIndex;
    converter.Pics.AddObject(pic->GetDisplayText(), pic.get());
    return pic.release();
}

void TConverterPic::SetFileName(const std::string& fileName) {
    FileName = fileName;
    Kind = PicKindOfFile(fileName);
    if (Kind == pkTiff || Kind == pkGif || Kind == pkVideo) Open();
}

void TConverterPic::OpenByKind() {
    TKestovaIO& io = Converter.IO();
    io.AbortFlag = false;
    switch (Kind) {
        case pkJpeg:
            // The writer embeds the file's own data; only the size is needed here.
            io.ParamsFromFile(FileName);
            CheckLoaded(io);
            FrameCount = 1;
            break;
        case pkVideo:
            FrameCount = io.OpenMediaFile(FileName);
            FrameStep = FrameStepOfDelay(io.Params().MediaFrameTime);
            break;
        case pkImage:
            io.LoadFromFile(FileName);
            CheckLoaded(io);
            FrameCount = 1;
            break;
        case pkTiff:
        case pkGif:
            FrameCount = LoadSelectedFrame(io);
            break;
        case pkExtended:
            extendedColorMode_ = LoadExtended(io, FileName);
            FrameCount = 1;
            break;
    }
}

int TConverterPic::LoadSelectedFrame(TKestovaIO& io) {
    io.AbortFlag = false;
    io.Params().SetImageIndex(FrameIndex);
    const int count = Kind == pkTiff ? io.LoadFromFileTIFF(FileName) : io.LoadFromFileGIF(FileName);
    CheckLoaded(io);
    return count;
}

void TConverterPic::Open() {
    FrameStep = 0;
    try {
        OpenByKind();
        if (FrameCount == 0) RaiseBrelvantError(2, "");
    } catch (const std::exception&) {
        if (!OpenByContent()) RaiseBrelvantError(CantLoadImage, LeftCharacters(FileName, MaxText));
    }
}

// A name of a kind the engine reads in its own way may hold another format's bytes: the image
// library then reads them by their content, as other programs do.
bool TConverterPic::OpenByContent() {
    if (Kind != pkJpeg && Kind != pkTiff && Kind != pkGif) return false;
    // Content that agrees with the name failed for its own reasons (damage, a missing page).
    if (DetectFileFormat(FileName, true) != kvftNone) return false;
    const TPicKind named = Kind;
    Kind = pkImage;
    try {
        OpenByKind();
        return true;
    } catch (const std::exception&) {
        Kind = named;
        return false;
    }
}

void TConverterPic::LoadFrame() {
    TKestovaIO& io = Converter.IO();
    if (Kind == pkTiff || Kind == pkGif) LoadSelectedFrame(io);
    if (Kind == pkVideo) {
        io.AbortFlag = false;
        io.LoadMediaFrame(FrameIndex);
        CheckLoaded(io);
    }
    const TIOParamsVals& params = io.Params();
    Width = params.Width;
    Height = params.Height;
    ColorMode = Kind == pkExtended ? extendedColorMode_ : ColorModeOfSamples(params.BitsPerSample, params.SamplesPerPixel);
    Converter.CurrentPic = this;
}

void TConverterPic::EnsureLoaded() {
    if (Converter.CurrentPic == this) return;
    Open();
    LoadFrame();
}

void TConverterPic::SetFrameIndex(int index) {
    FrameIndex = index;
    const int at = GetIndex();
    if (FrameCount > 1 && at >= 0) Converter.Pics.SetStrings(at, GetDisplayText());
}

std::string TConverterPic::GetDisplayText() const {
    std::string text = FileName;
    if (!TempFolder.empty() && IsPathInFolder(TempFolder, FileName)) text = "Scanner:" + BaseName(FileName);
    if (FrameCount > 1) text.append("#").append(std::to_string(FrameIndex + 1));
    return LeftCharacters(text, MaxText);
}

std::string TConverterPic::GetCaptionName() const {
    std::string name = FileNameWithoutExt(FileName);
    if (FrameCount > 1) name.append(" #").append(std::to_string(FrameIndex + 1));
    return name;
}

std::string TConverterPic::GetDateText() const { return DateToStr(GetFileDate(FileName)); }

int TConverterPic::GetIndex() const { return Converter.Pics.IndexOfObject(this); }

void TConverterPic::DrawCaption(const TRect& box, const std::string& text, const TFont& font) {
    TPdfCanvas& canvas = Converter.Pdf().Canvas();
    canvas.GetFont().Assign(font);
    canvas.TextBox(box.Left, box.Top, box.Right, box.Bottom, 2, 2, text);
}

void TConverterPic::DrawOnPage(const TRect& rect) {
    TConverter& c = Converter;
    TRect picture = rect;
    if (c.Mode == cmBook) {
        const std::string name = GetCaptionName();
        int y = rect.Top;
        if (c.PicNamesPos == cpAbove) {
            DrawCaption(Rect(rect.Left, y, rect.Right, y + c.NameCaptionHeight), name, c.PicNamesFont);
            y += c.NameCaptionHeight;
        }
        if (c.PicDatesPos == cpAbove) {
            DrawCaption(Rect(rect.Left, y, rect.Right, y + c.DateCaptionHeight), GetDateText(), c.PicDatesFont);
            y += c.DateCaptionHeight;
        }
        picture.Top = y;
        y = rect.Bottom;
        if (c.PicDatesPos == cpUnder) {
            DrawCaption(Rect(rect.Left, y - c.DateCaptionHeight, rect.Right, y), GetDateText(), c.PicDatesFont);
            y -= c.DateCaptionHeight;
        }
        if (c.PicNamesPos == cpUnder) {
            DrawCaption(Rect(rect.Left, y - c.NameCaptionHeight, rect.Right, y), name, c.PicNamesFont);
            y -= c.NameCaptionHeight;
        }
        picture.Bottom = y;
        c.Pdf().Canvas().AddBookmark(picture.Left, picture.Top, name, 1, true);
    }
    if (Kind == pkJpeg)
        c.Pdf().Canvas().StretchDrawFile(picture, FileName);
    else
        c.Pdf().Canvas().StretchDraw(picture, c.IO().GetTBitmap());
}
