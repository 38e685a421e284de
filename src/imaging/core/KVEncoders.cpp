#include "imaging/core/KVEncoders.h"

#include <algorithm>

void KVEncodeBase64ToText(TStream& stream, TStream& text, int lineLength) {
    static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const int groupsPerLine = std::max(1, (lineLength + 3) / 4);
    std::string line;
    int groups = 0;
    uint8_t bytes[3];
    int64_t got;
    while ((got = stream.Read(bytes, 3)) > 0) {
        for (int64_t i = got; i < 3; ++i) bytes[i] = 0;
        const uint32_t value = (bytes[0] << 16) | (bytes[1] << 8) | bytes[2];
        line += Alphabet[(value >> 18) & 63];
        line += Alphabet[(value >> 12) & 63];
        line += got > 1 ? Alphabet[(value >> 6) & 63] : '=';
        line += got > 2 ? Alphabet[value & 63] : '=';
        if (++groups >= groupsPerLine) {
            KVWriteLine(text, line);
            line.clear();
            groups = 0;
        }
        if (got < 3) break;
    }
    if (groups > 0) KVWriteLine(text, line);
}

int64_t KVASCII85Encode(const uint8_t* source, int64_t length, std::string& destination, int& lineCount) {
    const size_t start = destination.size();
    for (int64_t at = 0; at < length; at += 4) {
        const int n = int(std::min<int64_t>(4, length - at));
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = (value << 8) | (i < n ? source[at + i] : 0);
        if (n == 4 && value == 0) {
            destination += 'z';
            ++lineCount;
        } else {
            char digits[5];
            for (int i = 4; i >= 0; --i) {
                digits[i] = char(value % 85 + 33);
                value /= 85;
            }
            destination.append(digits, size_t(n) + 1);
            lineCount += n + 1;
        }
        if (lineCount > 74) {
            destination += "\r\n";
            lineCount = 0;
        }
    }
    destination += "~>\r\n";
    lineCount = 0;
    return int64_t(destination.size() - start);
}

int64_t KVRunLengthEncode(const uint8_t* source, int64_t length, std::vector<uint8_t>& destination) {
    const size_t start = destination.size();
    int64_t at = 0;
    while (at < length) {
        int64_t run = 1;
        while (at + run < length && run < 128 && source[at + run] == source[at]) ++run;
        if (run >= 2) {
            destination.push_back(uint8_t(257 - run));
            destination.push_back(source[at]);
            at += run;
            continue;
        }
        int64_t literal = 1;
        while (at + literal < length && literal < 128 && source[at + literal] != source[at + literal - 1]) ++literal;
        destination.push_back(uint8_t(literal - 1));
        destination.insert(destination.end(), source + at, source + at + literal);
        at += literal;
    }
    destination.push_back(128);
    return int64_t(destination.size() - start);
}

void KVWriteLine(TStream& stream, const std::string& text) {
    stream.WriteBuffer(text.data(), int64_t(text.size()));
    stream.WriteBuffer("\r\n", 2);
}
