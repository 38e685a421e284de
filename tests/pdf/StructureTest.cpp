// The file structure: header, objects, cross-reference table and trailer.
#include <gtest/gtest.h>

#include "PdfTestSupport.h"
#include "pdf/PdfKalmora.h"

namespace {

TEST(PdfStructure, OneEmptyPageWritesTheObjectsInOrder) {
    TScratchFolder scratch;
    TPdfKalmora pdf;
    pdf.SetFileName(scratch.Path("empty.pdf"));
    pdf.BeginDoc();
    pdf.EndDoc();
    const std::string file = ReadFile(scratch.Path("empty.pdf"));
    EXPECT_TRUE(file.starts_with("%PDF-1.3\n1 0 obj\n<<\n/CreationDate(D:"));
    size_t previous = 0;
    for (const int n : {1, 5, 6, 7, 2, 3}) {
        const size_t at = file.find("\n" + std::to_string(n) + " 0 obj\n");
        ASSERT_NE(at, std::string::npos) << n;
        EXPECT_GT(at, previous) << n;
        previous = at;
    }
    EXPECT_FALSE(Contains(file, "\n4 0 obj"));
    EXPECT_TRUE(Contains(ObjectText(file, 5), "/Length 0\n"));
    EXPECT_TRUE(Contains(ObjectText(file, 3), "/Font<<\n>>\n"));
    EXPECT_TRUE(Contains(file, "xref\n0 8\n0000000000 65535 f\r\n"));
    EXPECT_TRUE(Contains(file, "/Size 8\n"));
    EXPECT_TRUE(QpdfChecks(scratch.Path("empty.pdf")));
}

}  // namespace
