#pragma once
// TGIFGraphic: the first image of a GIF file.
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
