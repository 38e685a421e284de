#pragma once
// TPPMGraphic: the portable bitmap, gray map and pixel map family, plain and raw.
// The image library's portable bitmap driver reads these files too; this class stays apart because it loads
// the first image through the colour manager and raises the extended library's own errors.
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
