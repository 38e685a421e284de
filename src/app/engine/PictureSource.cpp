#include "app/engine/PictureSource.h"

#include <cctype>
#include <cmath>
#include <filesystem>
#include <memory>

#include "app/engine/AppFolders.h"
#include "app/engine/PictureFiles.h"
#include "imaging/io/KVFileFormats.h"
#include "imaging/io/KVFormatDetect.h"
#include "imaging/io/KestovaIO.h"
#include "pdf/PdfErrors.h"
#include "platform/Paths.h"
#include "tzlib/Errors.h"
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

// A failed load leaves the abort flag set rather than raising; its reader's reason goes on.
void CheckLoaded(TKestovaIO& io) {
    if (io.AbortFlag) throw EInvalidGraphic(io.FailureReason());
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

// The image library's type of the content when it is that of the name's format (an icon and a
// cursor stand for each other), as the library's own check by name gives it; else kvftNone.
int NamedContentType(TStream& stream, const std::string& fileName) {
    const int type = DetectStreamFormat(stream);
    const TKVFileFormatEntry* named = GetFileFormatByExt(std::filesystem::path(fileName).extension().string());
    if (type == kvftNone || !named) return kvftNone;
    const auto isIcon = [](int t) { return t == kvftICO || t == kvftCUR; };
    if (isIcon(type) && isIcon(named->FileType)) return named->FileType;
    return type == named->FileType ? type : kvftNone;
}

// The format a file's name gives: its extension, upper-case and without its dot.
std::string FormatOfName(const std::string& fileName) {
    std::string format = std::filesystem::path(fileName).extension().string();
    if (!format.empty()) format.erase(0, 1);
    for (char& c : format) c = char(std::toupper(static_cast<unsigned char>(c)));
    return format;
}

// About one frame a second: the frames in 100 hundredths of a second.
int FrameStepOfDelay(int delay) { return delay > 0 ? static_cast<int>(std::nearbyint(100.0 / delay)) : 25; }

}  // namespace

void RaiseCantLoadImage(const std::string& fileName, std::string reason) {
    while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ')) reason.pop_back();
    const std::string name = LeftCharacters(fileName, MaxText);
    RaiseBrelvantError(CantLoadImage, reason.empty() ? name : name + " (" + reason + ")");
}

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

// Alpha is no colour: one or two samples are gray (or palette indexes), three or more are colour.
uint8_t ColorModeOfSamples(int bitsPerSample, int samplesPerPixel) {
    if (samplesPerPixel <= 2) {
        if (bitsPerSample <= 1) return 0;
        return static_cast<uint8_t>(bitsPerSample <= 8 ? bitsPerSample - 1 : 8);
    }
    return bitsPerSample <= 8 ? 9 : 10;
}

TPictureSource::TPictureSource(const std::string& fileName)
    : fileName_(fileName), readName_(fileName), kind_(PicKindOfFile(fileName)) {}

TPictureSource::~TPictureSource() {
    if (downloaded_) std::filesystem::remove(readName_);
}

void TPictureSource::DownloadOnce() {
    if (downloaded_ || !IsInternetAddress(fileName_)) return;
    InstallPictureFiles();
    readName_ = PictureFileReader()->Download(fileName_, TempFolder.empty() ? TempDirectory() : TempFolder);
    downloaded_ = true;
}

void TPictureSource::Open(TKestovaIO& io, int frameIndex) {
    if (headerRead_) {
        // The frames of a video come from one open of it, however many of them are converted.
        if (kind_ != pkVideo || io.MediaFileName() == readName_) return;
        io.AbortFlag = false;
        if (io.OpenMediaFile(readName_) > 0) return;
        RaiseCantLoadImage(fileName_, io.FailureReason());
    }
    DownloadOnce();
    try {
        ReadHeader(io, frameIndex);
        if (header_.FrameCount == 0) throw EInvalidGraphic("no frame in the file");
    } catch (const std::exception& reason) {
        if (!ReadByContent(io, frameIndex)) RaiseCantLoadImage(fileName_, reason.what());
    }
    headerRead_ = true;
}

void TPictureSource::ReadHeader(TKestovaIO& io, int frameIndex) {
    io.AbortFlag = false;
    header_ = {};
    switch (kind_) {
        case pkJpeg:
            ReadJpegHeader(io);
            break;
        case pkVideo:
            header_.FrameCount = io.OpenMediaFile(readName_);
            if (header_.FrameCount == 0) {
                // The video library says nothing of a file it cannot open: the file system does.
                TFileStream(readName_, fmOpenRead);
                CheckLoaded(io);
            }
            header_.FrameStep = FrameStepOfDelay(io.Params().MediaFrameTime);
            break;
        case pkImage:
            ReadImageHeader(io);
            break;
        case pkTiff:
            header_.FrameCount = ReadTiffDirectories(io, frameIndex);
            TakeParams(io);
            break;
        case pkGif:
            header_.FrameCount = LoadSelectedFrame(io, frameIndex);
            TakeParams(io);
            break;
        case pkExtended:
            ReadExtendedHeader();
            break;
    }
}

// A name of a kind the engine reads in its own way may hold another format's bytes: the image
// library then reads them by their content, as other programs do.
bool TPictureSource::ReadByContent(TKestovaIO& io, int frameIndex) {
    if (kind_ != pkJpeg && kind_ != pkTiff && kind_ != pkGif) return false;
    // Content that agrees with the name failed for its own reasons (damage, a missing page).
    if (DetectFileFormat(readName_, true) != kvftNone) return false;
    const TPicKind named = kind_;
    kind_ = pkImage;
    try {
        ReadHeader(io, frameIndex);
        return true;
    } catch (const std::exception&) {
        kind_ = named;
        return false;
    }
}

void TPictureSource::ReadJpegHeader(TKestovaIO& io) {
    jpeg_.reset();
    jpegDamage_ = nullptr;
    try {
        jpeg_ = ReadJpegFile(readName_);
        const TJpegLayout& layout = jpeg_->Layout;
        header_ = {layout.Width, layout.Height, ColorModeOfSamples(8, layout.Components), 1, 0};
        return;
    } catch (const EPdfError&) {
        // Another format under a JPEG name is read by its content.
        if (DetectFileFormat(readName_, true) == kvftNone) throw;
        jpegDamage_ = std::current_exception();
    }
    // A damaged JPEG whose header the image library reads joins the list; the writer's reason
    // ends the conversion that places it.
    io.ParamsFromFile(readName_);
    CheckLoaded(io);
    TakeParams(io);
    header_.FrameCount = 1;
}

void TPictureSource::ReadImageHeader(TKestovaIO& io) {
    {
        TFileStream stream(readName_, fmOpenRead);
        io.ParamsFromStreamFormat(stream, NamedContentType(stream, fileName_));
        io.Params().FileName = readName_;
    }
    // Pictures whose header the image library does not read alone are read whole.
    if (io.AbortFlag || io.Params().FileType == kvftNone) {
        io.AbortFlag = false;
        io.LoadFromFile(readName_);
        CheckLoaded(io);
    }
    TakeParams(io);
    header_.FrameCount = 1;
}

void TPictureSource::ReadExtendedHeader() {
    TFileStream stream(readName_, fmOpenRead);
    graphicClass_ = GraphicClassOfFile(stream, fileName_);
    if (!graphicClass_) throw EInvalidGraphic("not a picture format the program reads");
    header_.FrameCount = 1;
    const std::unique_ptr<TGraphic> graphic = graphicClass_->Create();
    if (auto* picture = dynamic_cast<TPicFormatGraphic*>(graphic.get())) {
        stream.SetPosition(0);
        // The words the library's own load gives a header it cannot read.
        if (!picture->ReadHeaderProperties(stream, 0)) RaiseGraphicErrorFmt(gesInvalidImage, {FormatOfName(fileName_)});
        const TImageProperties& properties = picture->ImageProperties();
        header_.Width = int(properties.Width);
        header_.Height = int(properties.Height);
        if (properties.BitsPerSample > 0 && properties.SamplesPerPixel > 0)
            header_.ColorMode = ColorModeOfSamples(properties.BitsPerSample, properties.SamplesPerPixel);
    }
}

// The page count and the page's header come from the directories; its pixels are decoded once,
// when they are placed.
int TPictureSource::ReadTiffDirectories(TKestovaIO& io, int frameIndex) {
    io.AbortFlag = false;
    io.Params().SetImageIndex(frameIndex);
    {
        TFileStream stream(readName_, fmOpenRead);
        io.ParamsFromStreamFormat(stream, kvftTIFF);
    }
    CheckLoaded(io);
    return io.Params().ImageCount();
}

// The pages were counted when the header was read.
void TPictureSource::DecodeTiffPage(TKestovaIO& io, int frameIndex) {
    io.Params().SetImageIndex(frameIndex);
    {
        TFileStream stream(readName_, fmOpenRead);
        io.LoadFromStreamFormat(stream, kvftTIFF);
    }
    CheckLoaded(io);
    io.Params().FileName = readName_;
}

int TPictureSource::LoadSelectedFrame(TKestovaIO& io, int frameIndex) {
    io.AbortFlag = false;
    io.Params().SetImageIndex(frameIndex);
    const int count = io.LoadFromFileGIF(readName_);
    CheckLoaded(io);
    return count;
}

void TPictureSource::TakeParams(TKestovaIO& io) {
    const TIOParamsVals& params = io.Params();
    header_.Width = params.Width;
    header_.Height = params.Height;
    header_.ColorMode = ColorModeOfSamples(params.BitsPerSample, params.SamplesPerPixel);
}

void TPictureSource::Decode(TKestovaIO& io, int frameIndex) {
    io.AbortFlag = false;
    switch (kind_) {
        case pkJpeg:
            return;
        case pkImage:
            io.LoadFromFile(readName_);
            CheckLoaded(io);
            break;
        case pkTiff:
            DecodeTiffPage(io, frameIndex);
            break;
        case pkGif:
            LoadSelectedFrame(io, frameIndex);
            break;
        case pkVideo:
            io.LoadMediaFrame(frameIndex);
            CheckLoaded(io);
            break;
        case pkExtended:
            DecodeExtended(io);
            return;
    }
    TakeParams(io);
}

// The extended library decodes the file into a bitmap, which the input/output object takes as a
// picture it read, with its transparency. The colour mode is that of the file's own samples, which
// the bitmap may hold in more bits or fewer.
void TPictureSource::DecodeExtended(TKestovaIO& io) {
    if (!graphicClass_) RaiseBrelvantError(2, "");
    const std::unique_ptr<TGraphic> graphic = graphicClass_->Create();
    graphic->LoadFromFile(readName_);
    auto* bitmap = dynamic_cast<TBitmap*>(graphic.get());
    if (!bitmap || bitmap->Empty()) throw EInvalidGraphic("the file holds no pixels");
    io.LoadFromTBitmap(*bitmap);
    CheckLoaded(io);
    io.Params().Width = header_.Width = bitmap->Width();
    io.Params().Height = header_.Height = bitmap->Height();
    const auto* picture = dynamic_cast<const TPicFormatGraphic*>(bitmap);
    if (picture && picture->ImageProperties().BitsPerSample > 0 && picture->ImageProperties().SamplesPerPixel > 0)
        header_.ColorMode = ColorModeOfSamples(picture->ImageProperties().BitsPerSample,
                                               picture->ImageProperties().SamplesPerPixel);
    else
        header_.ColorMode = ColorModeOfPixelFormat(bitmap->PixelFormat());
}

const TJpegFile& TPictureSource::Jpeg() const {
    if (jpegDamage_) std::rethrow_exception(jpegDamage_);
    if (!jpeg_) RaiseBrelvantError(2, "TPictureSource.Jpeg");
    return *jpeg_;
}
