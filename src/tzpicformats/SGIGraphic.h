#pragma once
// TSGIGraphic: the content test the registry asks; the reader comes with its format.
#include <string>

#include "PicFormatGraphic.h"

class TSGIGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

protected:
    std::string FormatName() const override { return "sgi, bw or rgb(a)"; }
};
