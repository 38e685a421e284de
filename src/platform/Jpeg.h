#pragma once
// The class library's JPEG picture: keeps the compressed data, decodes it on demand and
// compresses bitmaps at a chosen quality.
#include <cstdint>
#include <vector>

#include "Graphics.h"

class TJPEGImage : public TGraphic {
public:
    // The stream's data from its position to its end; limit for one picture.
    static constexpr int64_t MaxDataBytes = int64_t(1) << 30;

    bool Empty() const override { return data_.empty(); }
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    // A compressed picture keeps its size.
    void SetWidth(int) override {}
    void SetHeight(int) override {}
    // Takes the rest of the stream; data whose header cannot be read raise EInvalidGraphic and
    // leave the picture unchanged.
    void LoadFromStream(TStream& stream) override;
    // Writes the compressed data unchanged.
    void SaveToStream(TStream& stream) const override;
    // Decodes for each drawing; damaged data raise EInvalidGraphic.
    void Draw(TCanvas& canvas, const TRect& rect) const override;

    // Compresses the bitmap at CompressionQuality; raises EInvalidGraphic when that fails.
    void Assign(const TBitmap& bitmap);
    // Decodes into a 24-bit bitmap; raises EInvalidGraphic for damaged data.
    void AssignTo(TBitmap& bitmap) const;

    int CompressionQuality() const { return quality_; }
    // 1..100; other values are clamped.
    void SetCompressionQuality(int quality);

    // From the frame header: 1 gray, 3 colour, 4 CMYK.
    int Components() const { return components_; }
    // An Adobe marker is present; four-component data are then stored inverted.
    bool AdobeMarker() const { return adobeMarker_; }
    const std::vector<uint8_t>& Data() const { return data_; }

private:
    std::vector<uint8_t> data_;
    int width_ = 0;
    int height_ = 0;
    int components_ = 0;
    bool adobeMarker_ = false;
    int quality_ = 90;
};
