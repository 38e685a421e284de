#include "PdfClosingObjects.h"

#include <algorithm>

#include "PdfEncoding.h"
#include "PdfOutput.h"
#include "PdfSecurity.h"

namespace {

// Numbers reserved right after the information dictionary.
constexpr int PagesTree = 2, Resources = 3, FormDictionary = 4;

}  // namespace

TPdfClosingObjects::TPdfClosingObjects(TPdfOutput& output, const TPdfSecurity& security, TPdfStringEncoder encodeName,
                                       TPdfStringEncoder encodeText)
    : output_(output), security_(security), encodeName_(std::move(encodeName)), encodeText_(std::move(encodeText)) {}

void TPdfClosingObjects::Write(TPdfDocumentParts& parts) {
    const bool outlines = parts.Outlines.HasChildren();
    if (outlines) {
        parts.Outlines.Number(output_);
        parts.Outlines.Write(output_, parts.PageObjects, encodeText_);
    }
    const int namesDictionary = parts.Names.empty() ? 0 : WriteNamedDestinations(parts.Names, parts.PageObjects);
    const int encryption = security_.Protected() ? WriteEncryption() : 0;

    const int catalog = output_.BeginDictObject();
    output_.WriteLine("/Type/Catalog");
    output_.WriteLine("/Pages " + ObjectRef(PagesTree));
    if (!parts.FormFields.empty()) output_.WriteLine("/AcroForm " + ObjectRef(FormDictionary));
    if (outlines) output_.WriteLine("/Outlines " + ObjectRef(parts.Outlines.ObjectNumber()));
    if (namesDictionary) output_.WriteLine("/Names " + ObjectRef(namesDictionary));
    output_.EndDictObject();

    output_.BeginReservedObject(PagesTree);
    output_.WriteLine("/Type/Pages");
    output_.WriteLine("/Kids[");
    for (const int page : parts.PageObjects) output_.WriteLine(ObjectRef(page));
    output_.WriteLine("]");
    output_.WriteLine("/Count " + std::to_string(parts.PageObjects.size()));
    output_.WriteLine("/Resources " + ObjectRef(Resources));
    output_.EndDictObject();

    output_.BeginReservedObject(Resources);
    output_.WriteLine("/ProcSet[/PDF/Text/ImageC]");
    output_.WriteLine("/Font<<");
    for (const TPdfResource& font : parts.Fonts) output_.WriteLine(font.Name + " " + ObjectRef(font.ObjectNumber));
    output_.WriteLine(">>");
    if (!parts.Images.empty()) {
        output_.WriteLine("/XObject <<");
        for (const TPdfResource& image : parts.Images) output_.WriteLine(image.Name + " " + ObjectRef(image.ObjectNumber));
        output_.WriteLine(" >>");
    }
    output_.EndDictObject();
    if (parts.FormFields.empty()) {
        // No form fields: the form dictionary's number stays free.
        output_.SetUnused(FormDictionary);
    } else {
        output_.BeginReservedObject(FormDictionary);
        output_.WriteLine("/Fields[");
        for (const int field : parts.FormFields) output_.WriteLine(ObjectRef(field));
        output_.WriteLine("]");
        output_.WriteLine("/NeedAppearances true");
        output_.WriteLine("/DR " + ObjectRef(Resources));
        output_.EndDictObject();
    }

    WriteCrossReferenceAndTrailer(catalog, encryption, parts.FileIdentifier);
}

int TPdfClosingObjects::WriteNamedDestinations(std::vector<TName>& names, const std::vector<int>& pageObjects) {
    for (TName& name : names) {
        name.ObjectNumber = output_.BeginDictObject();
        output_.WriteLine("/D [" + ObjectRef(pageObjects.at(size_t(name.Page) - 1)) + " " + name.Destination + " ]");
        output_.EndDictObject();
    }
    const int tree = output_.BeginDictObject();
    std::string entries;
    for (const TName& name : names) entries += encodeName_(name.Name, tree) + ObjectRef(name.ObjectNumber);
    output_.WriteLine("/Names [" + entries + "]");
    output_.WriteLine("/Limits [" + encodeName_(names.front().Name, tree) + encodeName_(names.back().Name, tree) + "]");
    output_.EndDictObject();
    const int dictionary = output_.BeginDictObject();
    output_.WriteLine("/Dests " + ObjectRef(tree));
    output_.EndDictObject();
    return dictionary;
}

int TPdfClosingObjects::WriteEncryption() {
    const int encryption = output_.BeginDictObject();
    output_.WriteLine("/Filter/Standard");
    output_.WriteLine("/V 1");
    output_.WriteLine("/R 2");
    output_.WriteLine("/O " + HexString(security_.O().data(), security_.O().size()));
    output_.WriteLine("/U " + HexString(security_.U().data(), security_.U().size()));
    output_.WriteLine("/P " + std::to_string(security_.P()));
    output_.EndDictObject();
    return encryption;
}

void TPdfClosingObjects::WriteCrossReferenceAndTrailer(int catalog, int encryption, const std::string& fileIdentifier) {
    const int64_t xref = output_.Position();
    output_.WriteLine("xref");
    output_.WriteLine("0 " + std::to_string(output_.ObjectCount() + 1));
    output_.WriteLine("0000000000 65535 f\r");
    for (const int64_t offset : output_.Offsets()) {
        if (offset < 0) {
            output_.WriteLine("0000000000 65535 f\r");
            continue;
        }
        const std::string digits = std::to_string(offset);
        output_.WriteLine(std::string(10 - std::min<size_t>(digits.size(), 10), '0') + digits + " 00000 n\r");
    }
    output_.WriteLine("trailer");
    output_.WriteLine("<<");
    output_.WriteLine("/Size " + std::to_string(output_.ObjectCount() + 1));
    output_.WriteLine("/Root " + ObjectRef(catalog));
    output_.WriteLine("/Info " + ObjectRef(1));
    output_.WriteLine("/ID[(" + fileIdentifier + ")(" + fileIdentifier + ")]");
    if (encryption) output_.WriteLine("/Encrypt " + ObjectRef(encryption));
    output_.WriteLine(">>");
    output_.WriteLine("startxref");
    output_.WriteLine(std::to_string(xref));
    output_.WriteLine("%%EOF");
    output_.Flush();
}
