#include "app/engine/ConverterPic.h"

#include <memory>

#include "app/engine/AppFolders.h"
#include "app/engine/Converter.h"
#include "tzlib/Errors.h"
#include "tzlib/FileHelpers.h"
#include "tzlib/TextFormats.h"

namespace {

constexpr size_t MaxText = 255;

constexpr const char* ColorModeLabels[] = {
    "Black-and-white",     "4 colors (2 bits)",   "8 colors (3 bits)",   "16 colors (4 bits)",
    "32 colors (5 bits)",  "64 colors (6 bits)",  "128 colors (7 bits)", "256 colors (8 bits)",
    "65536 colors (16 bits)", "True color (24 bits)", "True color (48 bits)",
};

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

std::string ColorModeText(int code) {
    return code >= 0 && code < int(std::size(ColorModeLabels)) ? ColorModeLabels[code] : std::string();
}

TConverterPic* TConverterPic::Add(TConverter& converter, const std::string& fileName, int frameIndex) {
    std::unique_ptr<TConverterPic> pic(new TConverterPic(converter));
    pic->SetFileName(fileName);
    pic->FrameIndex = frameIndex < 0 ? 0 : frameIndex;
    converter.Pics.AddObject(pic->GetDisplayText(), pic.get());
    return pic.release();
}

TConverterPic* TConverterPic::AddFrame(const TConverterPic& of, int frameIndex) {
    std::unique_ptr<TConverterPic> pic(new TConverterPic(of.Converter));
    pic->FileName = of.FileName;
    pic->source_ = of.source_;
    pic->TakeHeader();
    pic->FrameIndex = frameIndex;
    of.Converter.Pics.AddObject(pic->GetDisplayText(), pic.get());
    return pic.release();
}

void TConverterPic::SetFileName(const std::string& fileName) {
    FileName = fileName;
    source_ = std::make_shared<TPictureSource>(fileName);
    Kind = source_->Kind();
    if (Kind == pkTiff || Kind == pkGif || Kind == pkVideo) Open();
}

void TConverterPic::TakeHeader() {
    const TPictureHeader& header = source_->Header();
    Kind = source_->Kind();
    Width = header.Width;
    Height = header.Height;
    ColorMode = header.ColorMode;
    FrameCount = header.FrameCount;
    FrameStep = header.FrameStep;
}

void TConverterPic::Open() {
    source_->Open(Converter.IO(), FrameIndex);
    TakeHeader();
}

void TConverterPic::LoadFrame() {
    source_->Decode(Converter.IO(), FrameIndex);
    TakeHeader();
    Converter.CurrentPic = this;
}

void TConverterPic::EnsureLoaded() {
    if (Converter.CurrentPic == this) return;
    Open();
    // A video's frames are read from the media Open opened; other files are decoded now.
    if (Kind == pkVideo) {
        LoadFrame();
        return;
    }
    try {
        LoadFrame();
    } catch (const std::exception& reason) {
        RaiseCantLoadImage(FileName, reason.what());
    }
}

void TConverterPic::SetFrameIndex(int index) {
    FrameIndex = index;
    const int at = GetIndex();
    if (FrameCount > 1 && at >= 0) Converter.Pics.SetStrings(at, GetDisplayText());
}

std::string TConverterPic::GetDisplayText() const {
    std::string text = FileName;
    if (IsInTempFolder(FileName)) text = "Scanner:" + BaseName(FileName);
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
