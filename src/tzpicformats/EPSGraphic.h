#pragma once
// TEPSGraphic: the TIFF preview inside an Encapsulated PostScript file with a binary header.
#include <string>

#include "TIFFGraphic.h"

class TEPSGraphic : public TTIFFGraphic {
public:
    static bool IsFormatStream(TStream& stream);

    bool ReadHeaderProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

protected:
    std::string FormatName() const override { return "EPS"; }
};
