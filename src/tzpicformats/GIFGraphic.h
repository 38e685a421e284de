#pragma once
// TGIFGraphic: the first image of a GIF file.
// The image library's GIF driver reads these files too; this class stays apart because it loads
// the first image through the colour manager and raises the extended library's own errors.
#include <string>

#include "PicFormatGraphic.h"

class TGIFGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

    bool ReadHeaderProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

protected:
    std::string FormatName() const override { return "GIF"; }
};
