#pragma once
// TEPSGraphic: the content test the registry asks; the reader comes with its format.
#include <string>

#include "TIFFGraphic.h"

class TEPSGraphic : public TTIFFGraphic {
public:
    static bool IsFormatStream(TStream& stream);

protected:
    std::string FormatName() const override { return "EPS"; }
};
