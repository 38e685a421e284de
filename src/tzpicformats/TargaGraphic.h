#pragma once
// TTargaGraphic: Truevision Targa files; the one extended class that also writes its format.
// The image library's Targa driver reads these files too; this class stays apart because it loads
// the first image through the colour manager and raises the extended library's own errors.
#include <string>

#include "PicFormatGraphic.h"

class TTargaGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

    bool ReadHeaderProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;
    // Writes run-length compressed Targa, not BMP.
    void SaveToStream(TStream& stream) const override { SaveToStreamEx(stream, true); }
    void SaveToStreamEx(TStream& stream, bool compress) const;

protected:
    std::string FormatName() const override { return "Targa"; }
};
