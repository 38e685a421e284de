#pragma once
// TAutodeskGraphic: the content test the registry asks; the reader comes with its format.
#include <string>

#include "PicFormatGraphic.h"

class TAutodeskGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

protected:
    std::string FormatName() const override { return "Autodesk"; }
};
