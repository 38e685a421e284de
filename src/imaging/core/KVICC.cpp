#include "imaging/core/KVICC.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <limits>

#include <lcms2.h>

#include "platform/ByteReader.h"

namespace {

constexpr cmsUInt32Number TYPE_CMYK_8_STRIDE6 = COLORSPACE_SH(PT_CMYK) | CHANNELS_SH(4) | BYTES_SH(1) | EXTRA_SH(2);
constexpr cmsUInt32Number TYPE_ANY3_8 = COLORSPACE_SH(PT_ANY) | CHANNELS_SH(3) | BYTES_SH(1);
constexpr bool LittleEndianHost = std::endian::native == std::endian::little;

uint64_t NewProfileIdentity() {
    static std::atomic<uint64_t> last{0};
    return ++last;
}

// The lcms pixel type of a layout, 0 for an unknown layout.
cmsUInt32Number PixelType(int format) {
    switch (format) {
        case kvICC_RGB: return TYPE_RGB_8;
        case kvICC_BGR: return TYPE_BGR_8;
        case kvICC_CMYKInverted: return TYPE_CMYK_8_REV;
        case kvICC_CMYK6: return TYPE_CMYK_8_STRIDE6;
        case kvICC_Lab: return TYPE_Lab_8;
        case kvICC_Gray: return TYPE_GRAY_8;
        case kvICC_RGB16LE: return LittleEndianHost ? TYPE_RGB_16 : TYPE_RGB_16_SE;
        case kvICC_RGB16BE: return LittleEndianHost ? TYPE_RGB_16_SE : TYPE_RGB_16;
        case kvICC_3Channels: return TYPE_ANY3_8;
        default: return 0;
    }
}

}  // namespace

TKVICC::~TKVICC() { Clear(); }

bool TKVICC::LoadFromBuffer(const void* data, int64_t size) {
    Clear();
    if (!data || size <= 0 || size > std::numeric_limits<cmsUInt32Number>::max()) return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    data_.assign(bytes, bytes + size);
    return Open();
}

bool TKVICC::Assign(const TKVICC& source) {
    if (&source == this) return IsValid();
    Clear();
    if (source.data_.empty()) return false;
    data_ = source.data_;
    return Open();
}

bool TKVICC::LoadSRGB() {
    Clear();
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    if (!srgb) return false;
    cmsUInt32Number size = 0;
    if (cmsSaveProfileToMem(srgb, nullptr, &size) && size > 0) {
        data_.resize(size);
        if (!cmsSaveProfileToMem(srgb, data_.data(), &size)) data_.clear();
    }
    cmsCloseProfile(srgb);
    return !data_.empty() && Open();
}

bool TKVICC::Open() {
    // The colour-management library reads tags lazily; a profile cut short would open and fail later.
    constexpr size_t HeaderSize = 128;
    const bool complete = data_.size() >= HeaderSize && TByteReader(data_).U32BEAt(0) <= data_.size();
    profile_ = !complete ? nullptr : cmsOpenProfileFromMem(data_.data(), cmsUInt32Number(data_.size()));
    if (!profile_) data_.clear();
    identity_ = profile_ ? NewProfileIdentity() : 0;
    return profile_ != nullptr;
}

void TKVICC::Clear() {
    FreeTransform();
    if (profile_) cmsCloseProfile(profile_);
    profile_ = nullptr;
    identity_ = 0;
    data_.clear();
    used_ = false;
}

void TKVICC::FreeTransform() {
    if (transform_) cmsDeleteTransform(transform_);
    transform_ = nullptr;
}

bool TKVICC::Transform(TKVICC& target, int inputFormat, int64_t count, void* destination, const void* source,
                       int key1, int key2, int outputFormat) {
    if (outputFormat != kvICC_BGR || !IsValid() || !target.IsValid() || count < 0) return false;
    if (!transform_ || cachedTarget_ != target.identity_ || cachedInput_ != inputFormat ||
        cachedOutput_ != outputFormat || cachedKey1_ != key1 || cachedKey2_ != key2) {
        FreeTransform();
        const cmsUInt32Number inputType = PixelType(inputFormat);
        if (inputType != 0)
            transform_ = cmsCreateTransform(profile_, inputType, target.profile_, PixelType(outputFormat),
                                            INTENT_PERCEPTUAL, cmsFLAGS_HIGHRESPRECALC);
        cachedTarget_ = target.identity_;
        cachedInput_ = inputFormat;
        cachedOutput_ = outputFormat;
        cachedKey1_ = key1;
        cachedKey2_ = key2;
    }
    if (!transform_) return false;

    const cmsUInt32Number inputType = PixelType(inputFormat);
    const int64_t inputPixelSize = T_BYTES(inputType) * (T_CHANNELS(inputType) + T_EXTRA(inputType));
    constexpr int64_t Chunk = int64_t(1) << 28;  // the library counts pixels in 32 bits
    const auto* in = static_cast<const uint8_t*>(source);
    auto* out = static_cast<uint8_t*>(destination);
    for (int64_t done = 0; done < count; done += Chunk) {
        const int64_t n = std::min(Chunk, count - done);
        cmsDoTransform(transform_, in + done * inputPixelSize, out + done * 3, cmsUInt32Number(n));
    }
    used_ = true;
    return true;
}
