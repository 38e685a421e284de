#pragma once
// The objects that close a document after its last page: outlines, named destinations, the
// encryption dictionary, the catalog, the pages tree, the shared resources, the form dictionary,
// the cross-reference table and the trailer.
#include <string>
#include <vector>

#include "PdfOutline.h"

class TPdfOutput;
class TPdfSecurity;

// An entry of the resources dictionary: its name with the slash, and its object.
struct TPdfResource {
    std::string Name;
    int ObjectNumber = 0;
};

struct TPdfDocumentParts {
    const std::vector<int>& PageObjects;
    const std::vector<TPdfResource>& Fonts;
    const std::vector<TPdfResource>& Images;
    TBookmark& Outlines;
    std::vector<TName>& Names;
    // The fields put on the form that are no kids of another.
    const std::vector<int>& FormFields;
    const std::string& FileIdentifier;
};

class TPdfClosingObjects {
public:
    // Names are encoded as 8-bit strings, outline titles as text strings.
    TPdfClosingObjects(TPdfOutput& output, const TPdfSecurity& security, TPdfStringEncoder encodeName,
                       TPdfStringEncoder encodeText);
    void Write(TPdfDocumentParts& parts);

private:
    // Returns the names dictionary's object.
    int WriteNamedDestinations(std::vector<TName>& names, const std::vector<int>& pageObjects);
    int WriteEncryption();
    void WriteCrossReferenceAndTrailer(int catalog, int encryption, const std::string& fileIdentifier);

    TPdfOutput& output_;
    const TPdfSecurity& security_;
    TPdfStringEncoder encodeName_, encodeText_;
};
