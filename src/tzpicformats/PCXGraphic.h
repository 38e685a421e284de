#pragma once
// TPCXGraphic: ZSoft Paintbrush files and Word 5.x screen captures.
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
