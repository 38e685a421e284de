#pragma once
// One source picture of the engine's list: a file, or one frame of a multi-frame file. Its file is
// read through its picture source, into the engine's input/output object; it makes the texts that
// the list and the book captions show.
#include <cstdint>
#include <memory>
#include <string>

#include "app/engine/PictureSource.h"
#include "platform/Classes.h"

class TConverter;
class TKestovaIO;
class TFont;
struct TRect;

// The label of a colour-mode code 0 to 10; empty for any other code.
std::string ColorModeText(int code);

class TConverterPic : public TObject {
public:
    // Creates the picture and appends its display text to the engine's list with the picture as
    // its object; a file that cannot be opened raises and appends nothing.
    static TConverterPic* Add(TConverter& converter, const std::string& fileName, int frameIndex);
    // Another frame of an earlier picture's file, appended to the list: it shares that picture's
    // reading of the file, which is neither opened nor probed again.
    static TConverterPic* AddFrame(const TConverterPic& of, int frameIndex);

    uint8_t ColorMode = 0;
    TConverter& Converter;
    std::string FileName;
    int FrameCount = 0;
    int FrameIndex = 0;
    int FrameStep = 0;
    TPicKind Kind = pkExtended;
    int Height = 0;
    int Width = 0;

    // Multi-frame kinds open the file at once to count its frames.
    void SetFileName(const std::string& fileName);
    // Reads the file's header the first time (any failure becomes "Can't load image" with the
    // file name); a video opens its media in the input/output object.
    void Open();
    // Decodes the frame into the input/output object; a JPEG passed through is only measured.
    void LoadFrame();
    // Open and LoadFrame unless the input/output object holds this picture already; a frame that
    // cannot be decoded becomes "Can't load image" with the file name.
    void EnsureLoaded();
    void SetFrameIndex(int index);
    const TPictureSource& Source() const { return *source_; }

    std::string GetDisplayText() const;
    std::string GetCaptionName() const;
    std::string GetDateText() const;
    int GetIndex() const;
    std::string GetColorModeText() const { return ColorModeText(ColorMode); }

private:
    explicit TConverterPic(TConverter& converter) : Converter(converter) {}
    void TakeHeader();

    std::shared_ptr<TPictureSource> source_;  // shared by the frames of one file
};
