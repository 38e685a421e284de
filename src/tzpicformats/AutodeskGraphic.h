#pragma once
// TAutodeskGraphic: Autodesk Animator cels and pictures, 8-bit with a 6-bit palette.
#include <string>

#include "PicFormatGraphic.h"

class TAutodeskGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

    bool ReadHeaderProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

protected:
    std::string FormatName() const override { return "Autodesk"; }
};
