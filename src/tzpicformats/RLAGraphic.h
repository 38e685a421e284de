#pragma once
// TRLAGraphic: the content test the registry asks; the reader comes with its format.
#include <string>

#include "PicFormatGraphic.h"

class TRLAGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

protected:
    std::string FormatName() const override { return "RLA"; }
};
