#include "PdfSecurity.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr uint8_t PasswordPadding[32] = {
    0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E, 0x56, 0xFF, 0xFA, 0x01, 0x08,
    0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68, 0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A,
};

std::array<uint8_t, 32> Padded(const std::string& password) {
    std::array<uint8_t, 32> padded;
    const size_t n = std::min<size_t>(password.size(), 32);
    std::memcpy(padded.data(), password.data(), n);
    std::memcpy(padded.data() + n, PasswordPadding, 32 - n);
    return padded;
}

uint32_t RotateLeft(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

void Md5Block(uint32_t state[4], const uint8_t* block) {
    static constexpr uint32_t K[64] = {
        0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
        0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
        0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
        0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
        0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
        0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
        0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
        0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
    };
    static constexpr int Shift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                      5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                      4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                      6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = uint32_t(block[4 * i]) | uint32_t(block[4 * i + 1]) << 8 | uint32_t(block[4 * i + 2]) << 16 |
               uint32_t(block[4 * i + 3]) << 24;
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const uint32_t rotated = RotateLeft(a + f + K[i] + m[g], Shift[i]);
        a = d;
        d = c;
        c = b;
        b += rotated;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

// Days from 1 January 1970 to the given civil date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

}  // namespace

TMD5Digest MD5(const void* data, size_t size) {
    uint32_t state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t i = 0;
    for (; i + 64 <= size; i += 64) Md5Block(state, bytes + i);
    uint8_t tail[128] = {};
    const size_t rest = size - i;
    std::memcpy(tail, bytes + i, rest);
    tail[rest] = 0x80;
    const size_t tailLength = rest < 56 ? 64 : 128;
    const uint64_t bits = uint64_t(size) * 8;
    for (int k = 0; k < 8; ++k) tail[tailLength - 8 + k] = static_cast<uint8_t>(bits >> (8 * k));
    for (size_t k = 0; k < tailLength; k += 64) Md5Block(state, tail + k);
    TMD5Digest digest;
    for (int k = 0; k < 16; ++k) digest[k] = static_cast<uint8_t>(state[k / 4] >> (8 * (k % 4)));
    return digest;
}

TRc4Stream::TRc4Stream(const uint8_t* key, size_t keyLength) {
    for (int i = 0; i < 256; ++i) s_[i] = static_cast<uint8_t>(i);
    uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<uint8_t>(j + s_[i] + key[size_t(i) % keyLength]);
        std::swap(s_[i], s_[j]);
    }
}

void TRc4Stream::Apply(uint8_t* data, size_t size) {
    uint8_t x = x_, y = y_;
    for (size_t k = 0; k < size; ++k) {
        x = static_cast<uint8_t>(x + 1);
        y = static_cast<uint8_t>(y + s_[x]);
        std::swap(s_[x], s_[y]);
        data[k] ^= s_[static_cast<uint8_t>(s_[x] + s_[y])];
    }
    x_ = x;
    y_ = y;
}

void RC4(const uint8_t* key, size_t keyLength, uint8_t* data, size_t size) { TRc4Stream(key, keyLength).Apply(data, size); }

std::string MakeFileIdentifier(const std::string& fileName, const timespec& now) {
    tm local{};
    localtime_r(&now.tv_sec, &local);
    const int64_t days = DaysFromCivil(local.tm_year + 1900, unsigned(local.tm_mon + 1), unsigned(local.tm_mday)) -
                         DaysFromCivil(1899, 12, 30);
    const double seconds = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + now.tv_nsec / 1e9;
    const double stamp = (double(days) + seconds / 86400.0) * 10000.0;
    std::string id = std::to_string(static_cast<int64_t>(std::nearbyint(stamp)));
    for (size_t position = 3; position <= fileName.size(); position += 3) {
        const char c = fileName[position - 1];
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) id += c;
    }
    return id;
}

void TPdfSecurity::SetUp(std::string ownerPassword, const std::string& userPassword,
                         const TPdfPermissions& permissions, const std::string& fileIdentifier) {
    Clear();
    if (ownerPassword.empty() && userPassword.empty()) return;
    if (ownerPassword.empty()) ownerPassword = userPassword;
    uint32_t p = 0xFFFFFFC0u;
    if (permissions.Print) p |= 4;
    if (permissions.Modify) p |= 8;
    if (permissions.Copy) p |= 16;
    if (permissions.Annotate) p |= 32;
    p_ = static_cast<int32_t>(p);

    const auto ownerPadded = Padded(ownerPassword);
    const TMD5Digest ownerDigest = MD5(ownerPadded.data(), ownerPadded.size());
    o_ = Padded(userPassword);
    RC4(ownerDigest.data(), 5, o_.data(), o_.size());

    std::vector<uint8_t> input;
    const auto userPadded = Padded(userPassword);
    input.insert(input.end(), userPadded.begin(), userPadded.end());
    input.insert(input.end(), o_.begin(), o_.end());
    for (int k = 0; k < 4; ++k) input.push_back(static_cast<uint8_t>(p >> (8 * k)));
    input.insert(input.end(), fileIdentifier.begin(), fileIdentifier.end());
    const TMD5Digest keyDigest = MD5(input.data(), input.size());
    std::copy_n(keyDigest.begin(), 5, key_.begin());

    std::copy_n(PasswordPadding, 32, u_.begin());
    RC4(key_.data(), key_.size(), u_.data(), u_.size());
    protected_ = true;
}

void TPdfSecurity::Clear() { *this = TPdfSecurity(); }

std::array<uint8_t, 10> TPdfSecurity::ObjectKey(int objectNumber) const {
    uint8_t input[10];
    std::copy(key_.begin(), key_.end(), input);
    for (int k = 0; k < 3; ++k) input[5 + k] = static_cast<uint8_t>(objectNumber >> (8 * k));
    input[8] = input[9] = 0;
    const TMD5Digest digest = MD5(input, sizeof input);
    std::array<uint8_t, 10> key;
    std::copy_n(digest.begin(), 10, key.begin());
    return key;
}

TRc4Stream TPdfSecurity::ObjectStream(int objectNumber) const {
    const auto key = ObjectKey(objectNumber);
    return TRc4Stream(key.data(), key.size());
}

void TPdfSecurity::Encrypt(std::string& bytes, int objectNumber) const {
    if (!protected_ || bytes.empty()) return;
    const auto key = ObjectKey(objectNumber);
    RC4(key.data(), key.size(), reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
}
