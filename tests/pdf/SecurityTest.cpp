// The standard security handler: MD5, RC4, the /O /U /P entries and encrypted documents.
#include <gtest/gtest.h>

#include <cctype>

#include "PdfTestSupport.h"
#include "pdf/PdfEncoding.h"
#include "pdf/PdfKalmora.h"
#include "pdf/PdfSecurity.h"

namespace {

std::string Hex(const uint8_t* data, size_t size) {
    std::string text = HexString(data, size);
    return text.substr(1, text.size() - 2);
}

TEST(PdfSecurity, Md5MatchesThePublishedVectors) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const auto& [message, digest] : vectors) {
        const TMD5Digest result = MD5(message.data(), message.size());
        EXPECT_EQ(Hex(result.data(), result.size()), digest) << message;
    }
}

TEST(PdfSecurity, Md5AgreesWithMd5sumAroundThePaddingBoundaries) {
    TScratchFolder scratch;
    for (const size_t size : {55, 56, 57, 63, 64, 65, 119, 120}) {
        std::string message;
        for (size_t i = 0; i < size; ++i) message += static_cast<char>('a' + i % 26);
        WriteFile(scratch.Path("message"), message);
        const std::string expected = RunTool("md5sum " + Quoted(scratch.Path("message"))).output.substr(0, 32);
        const TMD5Digest result = MD5(message.data(), message.size());
        std::string hex = Hex(result.data(), result.size());
        for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(hex, expected) << size << " bytes";
    }
}

TEST(PdfSecurity, Rc4MatchesThePublishedVectors) {
    struct {
        std::string key, plain, cipher;
    } const vectors[] = {
        {"Key", "Plaintext", "BBF316E8D940AF0AD3"},
        {"Wiki", "pedia", "1021BF0420"},
        {"Secret", "Attack at dawn", "45A01F645FC35B383552544B9BF5"},
    };
    for (const auto& v : vectors) {
        std::string data = v.plain;
        RC4(reinterpret_cast<const uint8_t*>(v.key.data()), v.key.size(), reinterpret_cast<uint8_t*>(data.data()),
            data.size());
        EXPECT_EQ(Hex(reinterpret_cast<const uint8_t*>(data.data()), data.size()), v.cipher) << v.key;
    }
    // A 40-bit key, as the handler uses: the keystream of RFC 6229 at offset 0.
    const uint8_t key[] = {1, 2, 3, 4, 5};
    uint8_t stream[16] = {};
    RC4(key, sizeof key, stream, sizeof stream);
    EXPECT_EQ(Hex(stream, sizeof stream), "B2396305F03DC027CCC3524A0A1118A8");
}

TEST(PdfSecurity, PermissionsGiveTheExpectedP) {
    struct {
        TPdfPermissions permissions;
        int32_t p;
    } const cases[] = {
        {{true, false, false, false}, -60},
        {{true, true, false, false}, -52},
        {{true, true, true, true}, -4},
        {{false, false, false, false}, -64},
    };
    for (const auto& c : cases) {
        TPdfSecurity security;
        security.SetUp("owner", "", c.permissions, "123");
        EXPECT_TRUE(security.Protected());
        EXPECT_EQ(security.P(), c.p);
    }
    TPdfSecurity none;
    none.SetUp("", "", {}, "123");
    EXPECT_FALSE(none.Protected());
}

TEST(PdfSecurity, OnlyTheFirst32PasswordBytesCountAndAMissingOwnerTakesTheUserPassword) {
    const std::string long40 = "0123456789012345678901234567890123456789";
    TPdfSecurity a, b, c, d;
    a.SetUp(long40, long40, {}, "id");
    b.SetUp(long40.substr(0, 32), long40.substr(0, 32) + "XYZ", {}, "id");
    EXPECT_EQ(a.O(), b.O());
    EXPECT_EQ(a.U(), b.U());
    c.SetUp("", "user", {}, "id");
    d.SetUp("user", "user", {}, "id");
    EXPECT_EQ(c.O(), d.O());
    EXPECT_EQ(c.U(), d.U());
    EXPECT_NE(c.ObjectKey(1), c.ObjectKey(2));
}

TEST(PdfSecurity, EncryptionRoundTripsWithTheObjectKey) {
    TPdfSecurity security;
    security.SetUp("o", "u", {}, "4711ABC");
    std::string text(1000, 'x');  // longer than any short string
    security.Encrypt(text, 1);
    EXPECT_NE(text, std::string(1000, 'x'));
    const auto key = security.ObjectKey(1);
    RC4(key.data(), key.size(), reinterpret_cast<uint8_t*>(text.data()), text.size());
    EXPECT_EQ(text, std::string(1000, 'x'));
}

TEST(PdfSecurity, FileIdentifierTakesTheTimeAndEveryThirdLetterOfTheName) {
    timespec noon{};
    tm local{};
    local.tm_year = 100;  // 1 January 2000, 12:00 local time
    local.tm_mday = 1;
    local.tm_hour = 12;
    local.tm_isdst = -1;
    noon.tv_sec = mktime(&local);
    // 36526.5 days after 30 December 1899; letters at positions 3, 6, 9: "/ab1/c" gives b and c.
    EXPECT_EQ(MakeFileIdentifier("/ab1/c", noon), "365265000bc");
    EXPECT_EQ(MakeFileIdentifier("xy", noon), "365265000");
}

class PdfEncryptedDocument : public ::testing::Test {
protected:
    // Writes a document with a title, some text and a picture under the passwords.
    std::string Write(const std::string& owner, const std::string& user, bool print, bool modify,
                      const std::string& title = "Protected pictures") {
        const std::string path = scratch.Path("protected.pdf");
        TPdfKalmora pdf;
        pdf.SetFileName(path);
        pdf.SetTitle(title);
        pdf.SetImageCompressMode(cpZlib);
        pdf.SetOwnerPassword(owner);
        pdf.SetUserPassword(user, print, false, false, modify);
        pdf.BeginDoc();
        pdf.Canvas().TextOut(100, 100, "Secret caption");
        const TBitmap bitmap = GradientBitmap(16, 8);
        pdf.Canvas().StretchDraw(Rect(100, 200, 500, 400), &bitmap);
        pdf.Canvas().AddBookmark(0, 0, "Chapter", 1, true);
        pdf.EndDoc();
        return path;
    }
    TScratchFolder scratch;
};

TEST_F(PdfEncryptedDocument, QpdfKnowsBothPasswordsAndTheRevision) {
    const std::string path = Write("owner-pw", "user-pw", true, false);
    const std::string file = ReadFile(path);
    EXPECT_FALSE(Contains(file, "Secret caption"));
    EXPECT_FALSE(Contains(file, "Protected pictures"));
    for (const std::string password : {"user-pw", "owner-pw"}) {
        const TCommandResult shown = RunTool("qpdf --show-encryption --password=" + password + " " + Quoted(path));
        EXPECT_EQ(shown.status, 0) << shown.output;
        EXPECT_TRUE(Contains(shown.output, "R = 2")) << shown.output;
        EXPECT_TRUE(Contains(shown.output, "P = -60")) << shown.output;
        EXPECT_TRUE(Contains(shown.output, "User password = user-pw")) << shown.output;
        EXPECT_TRUE(QpdfChecks(path, password));
    }
    EXPECT_TRUE(Contains(RunTool("qpdf --show-encryption --password=owner-pw " + Quoted(path)).output,
                         "Supplied password is owner password"));
    EXPECT_NE(RunTool("qpdf --check --password=wrong " + Quoted(path)).status, 0);
    EXPECT_TRUE(Contains(RunTool("pdfinfo -upw user-pw " + Quoted(path)).output, "yes (print:yes copy:no change:no addNotes:no algorithm:RC4)"));
}

TEST_F(PdfEncryptedDocument, DecryptedCopyPassesAndShowsThePlainText) {
    const std::string path = Write("owner-pw", "user-pw", true, true);
    EXPECT_TRUE(Contains(RunTool("qpdf --show-encryption --password=user-pw " + Quoted(path)).output, "P = -52"));
    const std::string plain = scratch.Path("plain.pdf");
    const TCommandResult decrypted =
        RunTool("qpdf --decrypt --password=user-pw " + Quoted(path) + " " + Quoted(plain));
    ASSERT_EQ(decrypted.status, 0) << decrypted.output;
    EXPECT_TRUE(QpdfChecks(plain));
    EXPECT_TRUE(Contains(RunTool("pdftotext " + Quoted(plain) + " -").output, "Secret caption"));
    EXPECT_TRUE(Contains(RunTool("pdfinfo " + Quoted(plain)).output, "Protected pictures"));
}

TEST_F(PdfEncryptedDocument, OnlyAUserPasswordOpensWithIt) {
    const std::string path = Write("", "only-user", true, false);
    EXPECT_TRUE(QpdfChecks(path, "only-user"));
    EXPECT_TRUE(Contains(RunTool("qpdf --show-encryption --password=only-user " + Quoted(path)).output,
                         "Supplied password is owner password"));
}

TEST_F(PdfEncryptedDocument, PasswordsOfExactly32CharactersOpenTheirDocument) {
    const std::string user = "abcdefghijklmnopqrstuvwxyz012345", owner = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";
    const std::string path = Write(owner, user, true, false);
    EXPECT_TRUE(QpdfChecks(path, user));
    EXPECT_TRUE(QpdfChecks(path, owner));
    EXPECT_NE(RunTool("qpdf --check --password=" + user.substr(0, 31) + " " + Quoted(path)).status, 0);
}

TEST_F(PdfEncryptedDocument, StringsLongerThan255BytesAreEncryptedWhole) {
    const std::string title(300, 'T');
    const std::string path = Write("o", "u", true, false, title);
    EXPECT_TRUE(QpdfChecks(path, "u"));
    EXPECT_TRUE(Contains(RunTool("pdfinfo -upw u " + Quoted(path)).output, title));
}

TEST_F(PdfEncryptedDocument, PasswordsOutsideTheCodePageKeepEveryCharacter) {
    const std::string path = Write("владелец", "пароль", true, false);
    const TCommandResult opened = RunTool("qpdf --check --password-mode=bytes --password=пароль " + Quoted(path));
    EXPECT_EQ(opened.status, 0) << opened.output;
    // Another word of the same length must not open it, as it would if both became "??????".
    EXPECT_NE(RunTool("qpdf --check --password-mode=bytes --password=запрет " + Quoted(path)).status, 0);
}

TEST_F(PdfEncryptedDocument, PasswordsApplyToOneDocumentOnly) {
    Write("o", "u", true, false);
    TPdfKalmora pdf;
    pdf.SetFileName(scratch.Path("second.pdf"));
    pdf.SetOwnerPassword("o");
    pdf.BeginDoc();
    pdf.EndDoc();
    pdf.BeginDoc();
    pdf.EndDoc();
    const std::string file = ReadFile(scratch.Path("second.pdf"));
    EXPECT_FALSE(Contains(file, "/Encrypt"));
    EXPECT_TRUE(Contains(file, "/ID[("));
}

}  // namespace
