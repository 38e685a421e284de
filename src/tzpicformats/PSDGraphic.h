#pragma once
// TPSDGraphic: the merged image of Photoshop files.
#include <string>

#include "PicFormatGraphic.h"

class TPSDGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

    bool ReadHeaderProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

protected:
    std::string FormatName() const override { return "PSD or PDD"; }
};
