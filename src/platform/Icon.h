#pragma once
// The class library's icon: the best image of an icon file, drawn with its transparency.
#include <cstdint>
#include <vector>

#include "Graphics.h"

class TIcon : public TGraphic {
public:
    // Limits for the icon file's data and for a side of its images.
    static constexpr int64_t MaxDataBytes = int64_t(64) << 20;
    static constexpr int MaxSide = 1024;

    bool Empty() const override { return image_.Empty(); }
    int Width() const override { return image_.Width(); }
    int Height() const override { return image_.Height(); }
    // An icon keeps the size of its image: these raise EInvalidGraphic.
    void SetWidth(int) override;
    void SetHeight(int) override;
    // Reads an icon file from the stream's position to its end and keeps its largest image, the
    // one with the most colours among equal sizes. Images in BMP form take their transparency from
    // the alpha bytes of 32-bit images, else from the mask; PNG images keep their alpha. Bad data
    // raise EInvalidGraphic and leave the icon unchanged.
    void LoadFromStream(TStream& stream) override;
    // Writes the icon file as it was read.
    void SaveToStream(TStream& stream) const override;
    // Blends the image over what the canvas holds.
    void Draw(TCanvas& canvas, const TRect& rect) const override;

private:
    std::vector<uint8_t> data_;
    TBitmap image_;  // pf32bit with alpha
};
