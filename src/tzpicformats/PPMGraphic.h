#pragma once
// TPPMGraphic: the content test the registry asks; the reader comes with its format.
#include <string>

#include "PicFormatGraphic.h"

class TPPMGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

protected:
    std::string FormatName() const override { return "PBM, PGM or PPM"; }
};
