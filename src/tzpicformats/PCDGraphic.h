#pragma once
// TPCDGraphic: the base resolution of Photo-CD image packs, and the thumbnails of overview packs.
#include <string>

#include "PicFormatGraphic.h"

class TPCDGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

    // The image index is the resolution, 0 to 5.
    bool ReadHeaderProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

protected:
    std::string FormatName() const override { return "Photo-CD"; }
};
