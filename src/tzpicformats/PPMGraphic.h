#pragma once
// TPPMGraphic: the portable bitmap, gray map and pixel map family, plain and raw.
#include <string>

#include "PicFormatGraphic.h"

class TPPMGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

    bool ReadHeaderProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

protected:
    std::string FormatName() const override { return "PBM, PGM or PPM"; }
};
