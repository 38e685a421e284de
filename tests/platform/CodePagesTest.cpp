#include "platform/CodePages.h"

#include <gtest/gtest.h>

#include "platform/Exception.h"

namespace {

struct TSample {
    int codePage;
    std::string text;  // UTF-8, only characters the code page holds
};

const TSample Samples[] = {
    {874, "ภาษาไทย กำลัง ก่ ๑๒๓ ฿ € …"},
    {932, "日本語のテキスト ｶﾀｶﾅ ①Ⅹ ㈱ ～∥－ \\~ \xEE\x80\x80"},  // U+E000: user-defined area
    {1250, "Příliš žluťoučký kůň – „Łódź” ŐőŰű"},
    {1251, "Съешь же ещё этих мягких булок Ђђ № €"},
    {1252, "Größe café œuvre € ™ ‰ Ÿ ƒ"},
    {1253, "Ελληνικά άέήίόύώ ΐΰ ς"},
    {1254, "Türkçe ğĞ ıİ şŞ"},
    // Hebrew letters with separate points, which iconv would merge into presentation forms.
    {1255, "עברית ₪ ש\u05C1 ב\u05BC"},
    {1256, "العربية ، ؛ ؟ پچژگ"},
    {1257, "Lietuvių ąčęėįšųūž āēīķļņ"},
    // Combining marks after letters, which iconv would merge into precomposed letters.
    {1258, "Tiê\u0301ng Viê\u0323t Ă ơư ₫ A\u0301 Á a\u0303"},
};

TEST(CodePages, TextOfEachCodePageRoundTrips) {
    for (const auto& [codePage, text] : Samples) {
        SCOPED_TRACE(codePage);
        ASSERT_TRUE(IsCodePageSupported(codePage));
        const std::string bytes = Utf8ToCodePage(text, codePage);
        EXPECT_EQ(CodePageToUtf8(bytes, codePage), text);
    }
}

TEST(CodePages, CharactersMapToTheirBytes) {
    const struct {
        int codePage;
        std::string text, bytes;
    } cases[] = {
        {1252, "€é", "\x80\xE9"},
        {874, "ก", "\xA1"},
        {932, "日A", "\x93\xFA" "A"},
        {1258, "A\u0301", "A\xEC"},  // stays two bytes, never merged or split
        {1258, "Á", "\xC1"},
        {1252, std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Utf8ToCodePage(c.text, c.codePage), c.bytes);
        EXPECT_EQ(CodePageToUtf8(c.bytes, c.codePage), c.text);
    }
}

TEST(CodePages, UnmappableCharacterIsNamed) {
    const struct {
        int codePage;
        std::string text, named;
    } cases[] = {
        {1252, "abc\u4E2D", "U+4E2D"},
        {1251, "\u00FF", "U+00FF"},
        {874, "ok \U0001F600", "U+1F600"},
        {1258, "Vi\u1EC7t", "U+1EC7"},  // precomposed, not in the code page: no silent decomposition
        {1255, "\uFB2A", "U+FB2A"},
        {932, "\u00A5", "U+00A5"},  // iconv would write a backslash
        {932, "\u2014", "U+2014"},  // iconv would write the horizontal bar
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.named);
        try {
            Utf8ToCodePage(c.text, c.codePage);
            ADD_FAILURE() << "no error";
        } catch (const ECodePageError& e) {
            EXPECT_NE(e.Message().find(c.named), std::string::npos) << e.Message();
            EXPECT_NE(e.Message().find(std::to_string(c.codePage)), std::string::npos) << e.Message();
        }
    }
}

TEST(CodePages, InvalidBytesRaise) {
    const struct {
        int codePage;
        std::string bytes, named;
    } cases[] = {
        {1252, "ab\x81", "0x81"},
        {874, "\xDB", "0xDB"},
        {1255, "\xFF", "0xFF"},
        {932, "\x81\x20", "0x81"},
        {932, "ok\x81", "0x81"},  // lead byte cut off at the end
        {932, "\xA0", "0xA0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.named);
        try {
            CodePageToUtf8(c.bytes, c.codePage);
            ADD_FAILURE() << "no error";
        } catch (const ECodePageError& e) {
            EXPECT_NE(e.Message().find(c.named), std::string::npos) << e.Message();
        }
    }
}

TEST(CodePages, MalformedUtf8AndUnknownCodePagesRaise) {
    for (const std::string text : {"\xC3", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "a\x80"})
        for (int codePage : {1252, 932})
            EXPECT_THROW(Utf8ToCodePage(text, codePage), ECodePageError) << codePage;
    EXPECT_FALSE(IsCodePageSupported(437));
    EXPECT_THROW(Utf8ToCodePage("a", 437), ECodePageError);
    EXPECT_THROW(CodePageToUtf8("a", 65001), ECodePageError);
}

}  // namespace
