#pragma once
// TPNGGraphic: Portable Network Graphics files, every colour type and depth, Adam7 included.
// The image library's PNG driver reads these files too; this class stays apart because it loads
// the first image through the colour manager and raises the extended library's own errors.
#include <string>

#include "PicFormatGraphic.h"

class TPNGGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

    // Also takes the file gamma from a gAMA chunk before the image data.
    bool ReadHeaderProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

    // The colour of the pixels that a tRNS chunk of a gray or RGB picture makes transparent, as
    // the bitmap shows them; clNone when the picture has none.
    TColor TransparentColor() const { return transparentColor_; }

protected:
    std::string FormatName() const override { return "PNG"; }

private:
    TColor transparentColor_ = clNone;
};
