#pragma once
// Turns rows of samples as a file stores them into rows of the bitmap's pixel formats.
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "platform/Exception.h"
#include "platform/Graphics.h"

class EColorConversionError : public Exception { public: using Exception::Exception; };

enum TColorManagerScheme : uint8_t {
    smNone, smIndexed, smGray, smGrayAlpha, smRGB, smRGBA, smBGR, smBGRA,
    smCMY, smCMYK, smLab, smYCbCr, smPhotoYCC,
};

enum TConversionOption : uint8_t {
    cvoAlpha = 1,
    cvoApplyGamma = 2,       // target: 8-bit results pass the gamma table
    cvoSwapBytes = 4,        // source: 16-bit samples are big-endian
    cvoLabByteRange = 8,     // source: L* stored as 0..255
    cvoLabChromaOffset = 16, // source: a* and b* stored unsigned with an offset of 128
};
using TConversionOptions = uint8_t;

class TColorManager {
public:
    // One pointer for interleaved samples, one per sample plane for planar data.
    using TSources = std::span<const uint8_t* const>;

    TColorManager();

    void SetSourceScheme(TColorManagerScheme scheme);
    void SetTargetScheme(TColorManagerScheme scheme);
    void SetSourceDepth(uint8_t bitsPerSample);
    void SetTargetDepth(uint8_t bitsPerSample);
    void SetSourceSampleCount(uint8_t samples);
    void SetTargetSampleCount(uint8_t samples);
    TColorManagerScheme SourceScheme() const { return sourceScheme_; }
    TColorManagerScheme TargetScheme() const { return targetScheme_; }
    uint8_t SourceDepth() const { return sourceDepth_; }
    uint8_t TargetDepth() const { return targetDepth_; }

    TConversionOptions SourceOptions = 0;
    TConversionOptions TargetOptions = 0;

    // A value not above 0 takes the default (main 1.0, display 2.2).
    void BuildGammaTable(float mainGamma, float displayGamma);
    uint8_t GammaTable(int index) const { return gamma_[index]; }
    // The coefficients stay stored even when a subsampling value is refused.
    void SetYCbCrLayout(std::span<const float> coefficients, uint8_t horizontal, uint8_t vertical);

    // side 0 is the source, 1 the target.
    TPixelFormat PixelFormatOf(int side) const;

    // Bit 7 of the mask stands for the first pixel of each group of eight; pixels whose bit is
    // clear are skipped (interlaced passes).
    void TransformRow(TSources sources, uint8_t* target, int64_t count, uint8_t mask = 0xFF);

    std::vector<TPaletteEntry> BuildGrayPalette(bool inverted) const;
    // layout 0/1: 3 or 4 bytes per 8-bit entry; 2/3: three 8-bit planes; 4/5: 3 or 4 16-bit samples
    // per entry; 6/7: three 16-bit planes. Block layouts pass one span, planar ones three.
    // Entries the data does not hold stay black.
    std::vector<TPaletteEntry> BuildFilePalette(std::span<const std::span<const uint8_t>> data,
                                                bool bgrOrder, int count, int layout) const;

private:
    using TConverter = std::function<void(TSources, uint8_t*, int64_t, uint8_t)>;

    void ChooseConverter();
    void BuildYCbCrTables(bool photoYcc);
    TConverter RGBFamily(bool sourceBgr, bool targetBgr) const;
    TConverter Gray() const;
    TConverter PackedIndexed() const;
    TConverter Indexed16() const;
    TConverter CMYK(bool targetBgr) const;
    TConverter Lab(bool targetBgr) const;
    TConverter YCbCr(bool targetBgr, bool photoYcc) const;

    bool changed_ = true;
    uint8_t sourceDepth_ = 8, targetDepth_ = 8;
    uint8_t sourceSamples_ = 3, targetSamples_ = 3;
    float mainGamma_ = 1.0f, displayGamma_ = 2.2f;
    uint8_t gamma_[256] = {};
    float lumaRed_ = 0.299f, lumaGreen_ = 0.587f, lumaBlue_ = 0.114f;
    uint8_t horizontalSubsampling_ = 1, verticalSubsampling_ = 1;
    int32_t crToRed_[256] = {}, cbToBlue_[256] = {}, crToGreen_[256] = {}, cbToGreen_[256] = {};
    TColorManagerScheme sourceScheme_ = smRGB, targetScheme_ = smBGR;
    TConverter converter_;
};

// The 32-bit product of two 16-bit values divided by a third, truncated to 16 bits.
inline uint16_t WordMulDiv(uint32_t a, uint32_t b, uint32_t c) { return uint16_t(a * b / c); }
