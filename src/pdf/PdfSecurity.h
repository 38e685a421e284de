#pragma once
// The standard security handler of PDF 1.3, revision 2: 40-bit RC4 keys derived with MD5.
#include <array>
#include <cstdint>
#include <ctime>
#include <string>

using TMD5Digest = std::array<uint8_t, 16>;

TMD5Digest MD5(const void* data, size_t size);
// Encrypts or decrypts in place with a fresh RC4 state.
void RC4(const uint8_t* key, size_t keyLength, uint8_t* data, size_t size);

// An RC4 key stream that goes on across calls, for data encrypted in pieces.
class TRc4Stream {
public:
    TRc4Stream(const uint8_t* key, size_t keyLength);
    void Apply(uint8_t* data, size_t size);

private:
    uint8_t s_[256];
    uint8_t x_ = 0, y_ = 0;
};

// The document's identifier: the local time as days since 30 December 1899 times 10000, rounded,
// followed by every third character of the file name that is a letter.
std::string MakeFileIdentifier(const std::string& fileName, const timespec& now);

struct TPdfPermissions {
    bool Print = true;
    bool Modify = false;
    bool Copy = false;
    bool Annotate = false;
};

class TPdfSecurity {
public:
    // Derives /O, /U, /P and the file key; both passwords empty leave the document unprotected.
    // Passwords are the 8-bit bytes that protect the file; only their first 32 bytes count.
    void SetUp(std::string ownerPassword, const std::string& userPassword, const TPdfPermissions& permissions,
               const std::string& fileIdentifier);
    void Clear();

    bool Protected() const { return protected_; }
    int32_t P() const { return p_; }
    const std::array<uint8_t, 32>& O() const { return o_; }
    const std::array<uint8_t, 32>& U() const { return u_; }
    std::array<uint8_t, 10> ObjectKey(int objectNumber) const;
    // Encrypts with the object's key when the document is protected.
    void Encrypt(std::string& bytes, int objectNumber) const;
    // The key stream of the object, for data written in pieces; protected documents only.
    TRc4Stream ObjectStream(int objectNumber) const;

private:
    bool protected_ = false;
    int32_t p_ = 0;
    std::array<uint8_t, 32> o_{};
    std::array<uint8_t, 32> u_{};
    std::array<uint8_t, 5> key_{};
};
