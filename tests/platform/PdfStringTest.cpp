#include <gtest/gtest.h>

#include "platform/PdfString.h"

TEST(PdfString, EscapesDelimitersBackslashAndShortControlsOnly) {
    struct Case { std::string bytes, literal; };
    const Case cases[] = {
        {"", "()"},
        {"plain text", "(plain text)"},
        {"a(b)c\\d", "(a\\(b\\)c\\\\d)"},
        {"\b\t\n\f\r", "(\\b\\t\\n\\f\\r)"},
        {std::string("\0\x01\x7F\xE9", 4), std::string("(\0\x01\x7F\xE9)", 6)},  // other bytes pass as they are
    };
    for (const Case& c : cases) {
        std::string out = "x";
        AppendPdfLiteralString(out, c.bytes);
        EXPECT_EQ(out, "x" + c.literal);
    }
}
