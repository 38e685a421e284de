#pragma once
// TTIFFGraphic: the first image of a TIFF file in strips; writing TIFF is not offered.
// The image library's TIFF driver reads these files too; this class stays apart because it loads
// the first image through the colour manager and raises the extended library's own errors.
#include <span>
#include <string>
#include <vector>

#include "PicFormatGraphic.h"

class TTIFFGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

    bool ReadHeaderProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream&) const override {}

protected:
    std::string FormatName() const override { return "TIF/TIFF"; }

private:
    // The colour manager and the bitmap for the page's samples; the colour map is the file's.
    void PrepareColours(TBitmap& image, std::span<const uint8_t> colorMap, int64_t inputBytes);

    std::vector<float> yCbCrCoefficients_;
};
