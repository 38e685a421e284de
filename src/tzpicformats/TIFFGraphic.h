#pragma once
// TTIFFGraphic: the first image of a TIFF file in strips; writing TIFF is not offered.
#include <string>

#include "PicFormatGraphic.h"

class TTIFFGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

    bool ReadHeaderProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream&) const override {}

protected:
    std::string FormatName() const override { return "TIF/TIFF"; }
};
