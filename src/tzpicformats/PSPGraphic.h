#pragma once
// TPSPGraphic: the first raster layer of Paint Shop Pro files.
#include <string>

#include "PicFormatGraphic.h"

class TPSPGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

    bool ReadHeaderProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

protected:
    std::string FormatName() const override { return "PSP"; }
};
