#pragma once
// One source picture of the engine's list: a file, or one frame of a multi-frame file. It knows
// how its file is read, loads itself into the engine's input/output object, and makes the texts
// that the list and the book captions show.
#include <cstdint>
#include <string>

#include "platform/Classes.h"

class TConverter;
class TKestovaIO;
class TFont;
struct TRect;

// How a file is read, by its extension.
enum TPicKind : uint8_t { pkImage, pkExtended, pkJpeg, pkTiff, pkGif, pkVideo };

// False for an extension outside the accepted table; kind is then pkExtended.
bool FindPicKind(const std::string& fileName, TPicKind& kind);
TPicKind PicKindOfFile(const std::string& fileName);
// The label of a colour-mode code 0 to 10; empty for any other code.
std::string ColorModeText(int code);
// The colour-mode code of a picture read with these samples: the colour (not the alpha) that
// they hold, as picture tools report it.
uint8_t ColorModeOfSamples(int bitsPerSample, int samplesPerPixel);

class TConverterPic : public TObject {
public:
    // Creates the picture and appends its display text to the engine's list with the picture as
    // its object; a file that cannot be opened raises and appends nothing.
    static TConverterPic* Add(TConverter& converter, const std::string& fileName, int frameIndex);

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
    // Any failure becomes "Can't load image" with the file name.
    void Open();
    void LoadFrame();
    // Open and LoadFrame unless the input/output object holds this picture already.
    void EnsureLoaded();
    void SetFrameIndex(int index);
    // Draws the loaded picture into the rectangle, with the book's captions and outline entry.
    void DrawOnPage(const TRect& rect);

    std::string GetDisplayText() const;
    std::string GetCaptionName() const;
    std::string GetDateText() const;
    int GetIndex() const;
    std::string GetColorModeText() const { return ColorModeText(ColorMode); }

private:
    explicit TConverterPic(TConverter& converter) : Converter(converter) {}
    void OpenByKind();
    // True when the file, refused by the reader its name chose, was read as a single picture.
    bool OpenByContent();
    // Loads the TIFF page or GIF frame FrameIndex selects; returns the file's page or frame count.
    int LoadSelectedFrame(TKestovaIO& io);
    void DrawCaption(const TRect& box, const std::string& text, const TFont& font);
    // Taken when Open reads an extended picture, whose file tells more than the bitmap made of it.
    uint8_t extendedColorMode_ = 9;
};
