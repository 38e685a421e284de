#pragma once
// The drawing surface of a document: text, text boxes, lines and pictures on the current page, in
// the document's length unit with the origin at the page's top left corner; also pages, outlines,
// named destinations, links and form fields.
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "PdfDocumentState.h"
#include "PdfEncoding.h"
#include "PdfOutline.h"
#include "PdfOutput.h"
#include "platform/Graphics.h"

struct TJpegFile;

class TPdfField;
class TPdfFont;
class TPdfImage;
class TPdfStyle;

class TPdfCanvas : public TObject {
public:
    explicit TPdfCanvas(TPdfDocumentState& owner);
    ~TPdfCanvas() override;
    TPdfCanvas(const TPdfCanvas&) = delete;
    TPdfCanvas& operator=(const TPdfCanvas&) = delete;

    // The font of the next text and of measuring.
    TFont& GetFont() { return font_; }
    TBrush& Brush() { return brush_; }
    TPen& Pen() { return pen_; }
    // Copy the font, brush and pen aside and back.
    void SaveState();
    void RestoreState();

    int CharacterSpacing() const { return characterSpacing_; }
    void SetCharacterSpacing(int spacing);
    // Degrees.
    double FontAngle() const;
    void SetFontAngle(double degrees);
    int LineSpacing() const { return lineSpacing_; }
    void SetLineSpacing(int spacing) { lineSpacing_ = spacing; }
    bool EnableOutput() const { return output_.Enabled(); }
    void SetEnableOutput(bool enabled);

    // Measures in the length unit; 1 after an abort.
    int TextHeight(const std::string& text);
    int TextWidth(const std::string& text);
    // One line of text whose top is at y.
    void TextOut(int x, int y, const std::string& text);
    // Lays the text out in the box with line breaks; alignment 0 left/top, 1 right/bottom,
    // 2 centre. Y = 0 continues below the last text, Bottom = 0 is the page bottom. Returns the
    // number of characters that did not fit.
    int TextBox(int x, int y, int right, int bottom, int horzAlign, int vertAlign, const std::string& text);
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    void StretchDraw(const TRect& rect, const TGraphic* graphic);
    // Local files, or pictures downloaded from http and https addresses.
    void StretchDrawFile(const TRect& rect, const std::string& fileName);
    // A JPEG file whose layout the caller read: its data pass through under JPEG compression,
    // otherwise it is decoded here.
    void StretchDrawJpeg(const TRect& rect, const TJpegFile& file);

    // An outline entry for the current page at (x, y); level 1 is the top level.
    void AddBookmark(int x, int y, const std::string& title, int level, bool open);
    void AddNamedDestination(int x, int y, const std::string& name);
    // A link annotation over the rectangle; see LinkActionLines for the targets.
    void AddLink(const TRect& rect, const std::string& target);

    // A form field of the kind given (PdfFormFields.h), made with the arguments after the canvas;
    // the canvas owns it until the document ends or is abandoned.
    template <class TField, class... TArgs>
    TField& AddField(TArgs&&... args) {
        auto field = std::make_unique<TField>(*this, std::forward<TArgs>(args)...);
        TField& added = *field;
        fields_.push_back(std::move(field));
        return added;
    }

    // A new style of the document, found by name without regard to letter case.
    TPdfStyle& AddStyle(const std::string& name);
    TPdfStyle* CurrentStyle() const { return currentStyle_; }
    // Empty restores the default text state; an unknown name raises "Invalid style name".
    void SetCurrentStyle(const std::string& name);

    // The PDF string of 8-bit text (see ::EncodeText) with this document's security.
    std::string EncodeText(const std::string& bytes, const TRtlTable* table, int objectNumber) const;

    int PageCount() const { return pageCount_; }
    int ScreenDpi() const { return ScreenPixelsPerInch; }

    // Plain settings. Picture alignment inside its box under SmartStretchDraw: horizontal 0 left,
    // 1 right, 2 centre; vertical 0 top, 1 bottom, 2 centre.
    int ImageHorzAlign = 2;
    int ImageVertAlign = 2;
    // Store every picture as a new image instead of reusing an equal one.
    bool AlwaysNewImage = false;
    // When set, the next line of a text box defines a named destination of this name.
    std::string DestinationName;

    // Document life, driven by the document component.
    void BeginDocument(TStream* stream);
    void StartPage();
    void EndPage();
    void EndDocument();
    void Reset();

private:
    // Fields write their objects into the page being drawn.
    friend class TPdfField;

    // False after an abort; raises "Document not opened" when no document is open.
    bool CheckDocument() const;
    void AddLine(std::string line) { contentLines_.push_back(std::move(line)); }
    double X(double x) const;
    double Y(double y) const;
    std::string Color(TColor color, const char* op) const;
    std::string Encode(const std::string& utf8, int objectNumber) const;
    // A text string of the document (information entries, outline titles).
    std::string EncodeTextString(const std::string& utf8, int objectNumber) const;
    // The lines of a link action for the target, strings encoded for the object.
    std::vector<std::string> LinkAction(const std::string& target, int objectNumber);
    // The destination of that name in any letter case; null when none.
    const TName* DefinedName(const std::string& name) const;
    void WriteInfo();

    // Text in the current font's code page; measuring and drawing of such bytes.
    int FontCodePage(const TFont& font) const;
    std::string FontBytes(const std::string& utf8) const;
    const std::vector<int>& Widths(const TFont& font, int pixelsPerEm);
    int BytesWidth(const std::string& bytes);
    void DrawLine(int x, int y, const std::string& bytes);
    void DrawRule(TColor color, double x, double y, double offset, double thickness, double width);
    TPdfFont& FontFor(const TFont& font);
    bool IsRightToLeft(const TFont& font) const;
    const TRtlTable& RtlOf(const TFont& font) const;

    // Pictures.
    TPdfImage* FindImage(uint64_t handle, const std::string& fileName) const;
    TPdfImage& AddImage(std::unique_ptr<TPdfImage> image);
    void PlaceImage(TRect rect, const TPdfImage& image);
    void PenLines();

    // Text box layout.
    int WidthOfPixels(int64_t pixels, size_t length) const;
    void ApplyStyle();
    void ResetTextState();

    TPdfDocumentState& owner_;
    TPdfOutput output_;
    TFont font_;
    TBrush brush_;
    TPen pen_;
    TFont savedFont_;
    TBrush savedBrush_;
    TPen savedPen_;
    int characterSpacing_ = 0;
    double fontAngle_ = 0;  // radians
    int lineSpacing_ = 0;
    int currentX_ = 0, currentY_ = 0;
    int textX_ = 0, textY_ = 0;
    int pageCount_ = 0;

    std::vector<std::string> contentLines_;
    std::vector<int> pageObjects_;
    std::vector<int> annotations_;
    std::vector<std::unique_ptr<TPdfFont>> fonts_;
    std::vector<std::unique_ptr<TPdfImage>> images_;
    std::vector<TPdfImage*> pendingImages_;  // drawn first on the current page
    std::map<std::string, std::vector<int>> widthCache_;
    std::vector<std::unique_ptr<TPdfStyle>> styles_;
    TPdfStyle* currentStyle_ = nullptr;
    std::vector<TName> names_;  // sorted by name in byte order
    std::set<std::string> linkTargets_;
    TBookmark outlineRoot_;
    std::vector<std::string> downloadedFiles_;
    std::vector<std::unique_ptr<TPdfField>> fields_;
};
