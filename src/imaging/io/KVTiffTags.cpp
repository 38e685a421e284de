#include "imaging/io/KVTiffTags.h"

#include <iterator>

#include "platform/ByteWriter.h"

namespace kvtiff {

int TypeSize(uint16_t type) {
    static const int sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < std::size(sizes) ? sizes[type] : 0;
}

std::string Utf16ToUtf8(std::span<const uint8_t> bytes) {
    std::string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t c = bytes[i] | bytes[i + 1] << 8;
        if (c == 0) break;
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size()) {
            const uint32_t low = bytes[i + 2] | bytes[i + 3] << 8;
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;  // an unpaired surrogate
        if (c < 0x80) {
            text += char(c);
        } else if (c < 0x800) {
            text += {char(0xC0 | c >> 6), char(0x80 | (c & 0x3F))};
        } else if (c < 0x10000) {
            text += {char(0xE0 | c >> 12), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
        } else {
            text += {char(0xF0 | c >> 18), char(0x80 | ((c >> 12) & 0x3F)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
        }
    }
    return text;
}

std::vector<uint8_t> Utf8ToUtf16(const std::string& text) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < text.size();) {
        const auto lead = uint8_t(text[i]);
        const int extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
        uint32_t c = extra < 0 ? 0xFFFD : extra == 0 ? lead : lead & (0x3F >> extra);
        size_t next = i + 1;
        for (int k = 0; k < extra; ++k, ++next) {
            if (next >= text.size() || (uint8_t(text[next]) & 0xC0) != 0x80) {
                c = 0xFFFD;
                break;
            }
            c = c << 6 | (uint8_t(text[next]) & 0x3F);
        }
        i = next;
        if (c >= 0x10000) {
            PutU16LE(out, 0xD800 + ((c - 0x10000) >> 10));
            PutU16LE(out, 0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            PutU16LE(out, c);
        }
    }
    PutU16LE(out, 0);
    return out;
}

}  // namespace kvtiff
