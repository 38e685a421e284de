#pragma once
// One ICC colour profile, and the conversion of pixel rows from it into another profile.
#include <cstdint>
#include <vector>

#include "platform/Classes.h"

// Pixel layouts of Transform (the colour-space numbers of the row colour converter).
enum : int {
    kvICC_RGB = 0,           // 3 bytes red, green, blue
    kvICC_BGR = 1,           // 3 bytes blue, green, red
    kvICC_CMYKInverted = 2,  // 4 bytes, each 255 - value
    kvICC_CMYK6 = 3,         // 4 bytes cyan, magenta, yellow, black in a 6-byte pixel
    kvICC_Lab = 4,           // 3 bytes L*, a*, b*
    kvICC_Gray = 5,          // 1 byte
    kvICC_RGB16LE = 6,       // three 16-bit little-endian samples
    kvICC_RGB16BE = 7,       // three 16-bit big-endian samples
    kvICC_3Channels = 8,     // 3 bytes of any three-channel space
};

class TKVICC : public TObject {
public:
    TKVICC() = default;
    ~TKVICC() override;
    TKVICC(const TKVICC&) = delete;
    TKVICC& operator=(const TKVICC&) = delete;

    // True when the bytes are a profile that could be opened.
    bool LoadFromBuffer(const void* data, int64_t size);
    // Copies the source's bytes and opens them; a source without bytes leaves no profile.
    bool Assign(const TKVICC& source);
    // The standard sRGB profile, kept as bytes too so that copies of it stay valid.
    bool LoadSRGB();
    void Clear();
    bool IsValid() const { return profile_ != nullptr; }
    const std::vector<uint8_t>& Data() const { return data_; }

    // Converts count pixels of source, laid out as inputFormat in this profile, into target's
    // profile. Only kvICC_BGR output is written; other output formats and profiles that do not
    // match the layout report false, so the caller's own conversion runs. The source is not changed.
    bool Transform(TKVICC& target, int inputFormat, int64_t count, void* destination, const void* source,
                   int key1, int key2, int outputFormat);
    // Releases the cached transform.
    void FreeTransform();
    // Set by every Transform that ran; cleared by Clear.
    bool Used() const { return used_; }

private:
    bool Open();

    std::vector<uint8_t> data_;
    void* profile_ = nullptr;    // the colour-management library's profile handle
    // Names each opened profile for the transform cache; a handle's address would be reused by
    // the next profile loaded after it is freed.
    uint64_t identity_ = 0;
    void* transform_ = nullptr;  // cached transform for the keys below
    uint64_t cachedTarget_ = 0;
    int cachedInput_ = 0, cachedOutput_ = 0, cachedKey1_ = 0, cachedKey2_ = 0;
    bool used_ = false;
};
