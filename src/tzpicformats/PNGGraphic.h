#pragma once
// TPNGGraphic: Portable Network Graphics files, every colour type and depth, Adam7 included.
#include <string>

#include "PicFormatGraphic.h"

class TPNGGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

    bool ReadHeaderProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

protected:
    std::string FormatName() const override { return "PNG"; }
};
