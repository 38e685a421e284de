#pragma once
// TSGIGraphic: SGI images, verbatim or run-length, gray, RGB or RGBA, 1 or 2 bytes per sample.
#include <string>

#include "PicFormatGraphic.h"

class TSGIGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

    bool ReadHeaderProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

protected:
    std::string FormatName() const override { return "sgi, bw or rgb(a)"; }
};
