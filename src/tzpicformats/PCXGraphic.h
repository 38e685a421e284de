#pragma once
// TPCXGraphic: ZSoft Paintbrush files and Word 5.x screen captures.
// The image library's PCX driver reads these files too; this class stays apart because it loads
// the first image through the colour manager and raises the extended library's own errors.
#include <string>

#include "PicFormatGraphic.h"

class TPCXGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

    bool ReadHeaderProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

protected:
    std::string FormatName() const override { return "PCX or SCR"; }
};
