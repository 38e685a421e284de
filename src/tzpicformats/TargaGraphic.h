#pragma once
// TTargaGraphic: Truevision Targa files; the one extended class that also writes its format.
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
