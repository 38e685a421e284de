#pragma once
// TCUTGraphic: Dr. Halo cut files, with the palette file of the same name beside them.
#include <string>

#include "PicFormatGraphic.h"

class TCUTGraphic : public TPicFormatGraphic {
public:
    static bool IsFormatStream(TStream& stream);

    // Remembers the palette file that belongs to the cut file.
    void LoadFromFile(const std::string& fileName) override;
    bool ReadHeaderProperties(TStream& stream, int imageIndex) override;
    void LoadFromStream(TStream& stream) override;

protected:
    std::string FormatName() const override { return "CUT"; }

private:
    std::vector<TPaletteEntry> LoadPaletteFile() const;

    std::string paletteFile_;
};
