#pragma once
// TPSPGraphic: the content test the registry asks; the reader comes with its format.
#include <string>

#include "PicFormatGraphic.h"

class TPSPGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

protected:
    std::string FormatName() const override { return "PSP"; }
};
