#include "imaging/io/KVSaveToText.h"

#include <cstdio>

#include "imaging/core/KVBitmap.h"
#include "imaging/core/KVEncoders.h"
#include "imaging/io/KestovaIO.h"
#include "platform/Exception.h"
#include "platform/Files.h"

namespace {

constexpr size_t MaxGatheredLine = 70;

std::string Hex(uint8_t byte) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", byte);
    return digits;
}

// The bytes as "<prefix>XX," items gathered into lines written once they pass 70 characters;
// the last byte, without the comma, ends the last line with the closing text.
void WriteByteItems(TStream& text, const std::vector<uint8_t>& bytes, const std::string& prefix,
                    const std::string& indent, const std::string& closing) {
    std::string line;
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
        line += prefix + Hex(bytes[i]) + ",";
        if (line.size() > MaxGatheredLine) {
            KVWriteLine(text, indent + line);
            line.clear();
        }
    }
    KVWriteLine(text, indent + line + prefix + Hex(bytes.back()) + closing);
}

std::vector<uint8_t> EncodedPicture(TKestovaIO& io, int fileType) {
    TMemoryStream encoded;
    io.SaveToStreamFormat(encoded, fileType);
    // A picture that failed to encode must not pass as its constants.
    if (io.AbortFlag || encoded.Size() == 0) throw EInvalidGraphic("The picture could not be encoded");
    return encoded.Bytes();
}

std::string Identifier(const std::string& fileName) {
    std::string name = fileName.substr(fileName.find_last_of('/') + 1);
    if (const size_t dot = name.find('.'); dot != std::string::npos) name[dot] = '_';
    return name;
}

void WriteAsciiArt(TKestovaIO& io, TStream& text) {
    static const char Shades[] = "W@#*+:., ";  // dark to light
    if (!io.CheckWorkBitmap({kv24RGB})) return;
    TKVBitmap& bitmap = io.WorkBitmap();
    for (int y = 0; y < bitmap.GetHeight(); ++y) {
        const uint8_t* bgr = bitmap.GetScanline(y);
        std::string line;
        for (int x = 0; x < bitmap.GetWidth(); ++x, bgr += 3) {
            const int gray = (bgr[2] * 21 + bgr[1] * 71 + bgr[0] * 8) / 100;
            line += Shades[std::min(static_cast<int>(gray / 255.0 * 9), 8)];
        }
        KVWriteLine(text, line);
    }
}

}  // namespace

void SaveToText(TKestovaIO& io, const std::string& fileName, int fileType, int textKind) {
    std::vector<uint8_t> bytes;
    if (textKind != tkAsciiArt) bytes = EncodedPicture(io, fileType);
    TAtomicFile file(fileName);
    TStream& text = file.Stream();
    const std::string identifier = Identifier(fileName);
    const std::string size = std::to_string(bytes.size());
    switch (textKind) {
    case tkByteConstants:
        KVWriteLine(text, "const");
        KVWriteLine(text, "  " + identifier + "_Size = " + size + ";");
        KVWriteLine(text, "  " + identifier + " : array [0.." + identifier + "_Size-1] of byte = (");
        WriteByteItems(text, bytes, "$", "    ", ");");
        break;
    case tkCSource:
        KVWriteLine(text, "\\ Size=" + size);
        WriteByteItems(text, bytes, "0x", "", "");
        break;
    case tkBase64: {
        TMemoryStream source;
        source.Write(bytes.data(), static_cast<int64_t>(bytes.size()));
        source.SetPosition(0);
        KVEncodeBase64ToText(source, text, 76);
        break;
    }
    case tkAsciiArt: WriteAsciiArt(io, text); break;
    default: break;
    }
    file.Commit();
}

void TKestovaIO::SaveToText(const std::string& fileName, int fileType, int textKind) {
    ::SaveToText(*this, fileName, fileType, textKind);
}
