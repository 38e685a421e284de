#pragma once
// The class library's metafile picture: placeable Windows metafiles and enhanced metafiles,
// turned into SVG when loaded and drawn by Qt's SVG renderer.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Graphics.h"

class TMetafile : public TGraphic {
public:
    // Limit for the file's data.
    static constexpr int64_t MaxDataBytes = int64_t(64) << 20;

    bool Empty() const override { return svg_.empty(); }
    // The frame of the metafile in pixels of the 96 dpi screen.
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    // The drawing stretches to the new size.
    void SetWidth(int width) override { width_ = width; }
    void SetHeight(int height) override { height_ = height; }
    // Reads a metafile from the stream's position to its end; the kind is told by the content.
    // Damaged, truncated or unplayable data raise EInvalidGraphic and leave the picture unchanged.
    void LoadFromStream(TStream& stream) override;
    // Writes the metafile as it was read.
    void SaveToStream(TStream& stream) const override;
    // Only what the metafile paints covers the canvas. Needs the Qt application object.
    void Draw(TCanvas& canvas, const TRect& rect) const override;
    bool Scalable() const override { return true; }

    // An enhanced metafile rather than a Windows metafile.
    bool Enhanced() const { return enhanced_; }

private:
    std::vector<uint8_t> data_;
    std::string svg_;
    int width_ = 0;
    int height_ = 0;
    bool enhanced_ = false;
};

// Lets picture files named ".wmf" and ".emf" load as metafiles.
void InstallQtGraphics();
