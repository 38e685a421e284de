#pragma once
// TRLAGraphic: Alias/Wavefront run-length files with 8-bit RGB channels and an optional matte.
#include <string>

#include "PicFormatGraphic.h"

class TRLAGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

    bool ReadHeaderProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

protected:
    std::string FormatName() const override { return "RLA"; }
};
