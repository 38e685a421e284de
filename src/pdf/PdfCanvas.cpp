#include "PdfCanvas.h"

#include <sys/stat.h>
#include <unistd.h>
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <ctime>

#include "PdfClosingObjects.h"
#include "PdfErrors.h"
#include "PdfField.h"
#include "PdfFont.h"
#include "PdfImage.h"
#include "PdfLinks.h"
#include "PdfSecurity.h"
#include "PdfStyle.h"
#include "platform/FontService.h"
#include "platform/Jpeg.h"
#include "platform/Paths.h"
#include "platform/Prompter.h"

namespace {

constexpr double Pi = 3.14159265358979323846;

int Rounded(double value) { return static_cast<int>(std::nearbyint(value)); }

bool IsFile(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}


std::string FolderOf(const std::string& fileName) {
    const size_t slash = fileName.rfind('/');
    return slash == std::string::npos ? std::string() : fileName.substr(0, slash);
}

}  // namespace

TPdfCanvas::TPdfCanvas(TPdfDocumentState& owner) : owner_(owner) { ResetTextState(); }

TPdfCanvas::~TPdfCanvas() {
    for (const std::string& file : downloadedFiles_) ::unlink(file.c_str());
}

void TPdfCanvas::ResetTextState() {
    font_ = TFont();
    font_.Name = "Arial";
    font_.Size = 10;
    font_.Color = clBlack;
    font_.Charset = DEFAULT_CHARSET;
    font_.Style = 0;
    characterSpacing_ = 0;
    fontAngle_ = 0;
    lineSpacing_ = 0;
    currentStyle_ = nullptr;
}

void TPdfCanvas::Reset() {
    fonts_.clear();
    styles_.clear();
    images_.clear();
    pendingImages_.clear();
    names_.clear();
    linkTargets_.clear();
    outlineRoot_ = TBookmark();
    fields_.clear();
    output_.Reset();
    pageObjects_.clear();
    contentLines_.clear();
    annotations_.clear();
    ResetTextState();
    brush_ = TBrush();
    pen_ = TPen();
    ImageHorzAlign = ImageVertAlign = 2;
    currentX_ = currentY_ = 0;
    DestinationName.clear();
}

bool TPdfCanvas::CheckDocument() const {
    if (owner_.Aborted()) return false;
    if (!owner_.Printing()) throw EPdfError(SNotOpened);
    return true;
}

void TPdfCanvas::SaveState() {
    savedFont_ = font_;
    savedBrush_ = brush_;
    savedPen_ = pen_;
}

void TPdfCanvas::RestoreState() {
    font_ = savedFont_;
    brush_ = savedBrush_;
    pen_ = savedPen_;
}

void TPdfCanvas::SetCharacterSpacing(int spacing) {
    if (spacing == characterSpacing_) return;
    characterSpacing_ = spacing;
    if (owner_.Printing() && !owner_.Aborted()) AddLine(FormatNumber(X(spacing)) + " Tc");
}

double TPdfCanvas::FontAngle() const { return fontAngle_ * 180 / Pi; }

void TPdfCanvas::SetFontAngle(double degrees) { fontAngle_ = degrees * Pi / 180; }

void TPdfCanvas::SetEnableOutput(bool enabled) {
    owner_.Guarded([&] {
        if (owner_.Printing()) throw EPdfError(SCantModifyWhenOpened, "EnableOutput");
        output_.SetEnabled(enabled);
    });
}

double TPdfCanvas::X(double x) const { return x * owner_.UnitToPoints(); }

double TPdfCanvas::Y(double y) const { return (owner_.PageHeight() - y) * owner_.UnitToPoints(); }

std::string TPdfCanvas::Color(TColor color, const char* op) const {
    const TColor rgb = ColorToRGB(color);
    return FormatNumber(GetRValue(rgb) / 255.0) + " " + FormatNumber(GetGValue(rgb) / 255.0) + " " +
           FormatNumber(GetBValue(rgb) / 255.0) + " " + op;
}

std::string TPdfCanvas::EncodeText(const std::string& bytes, const TRtlTable* table, int objectNumber) const {
    return ::EncodeText(bytes, table, objectNumber, &owner_.Security());
}

std::string TPdfCanvas::Encode(const std::string& utf8, int objectNumber) const {
    return EncodeText(ToCodePage(utf8, owner_.AnsiCodePage()), nullptr, objectNumber);
}

std::string TPdfCanvas::EncodeTextString(const std::string& utf8, int objectNumber) const {
    return EncodeText(TextStringBytes(utf8), nullptr, objectNumber);
}

// --- Fonts and measuring

int TPdfCanvas::FontCodePage(const TFont& font) const {
    return CodePageOfCharset(ResolveCharset(font.Charset, owner_.AnsiCodePage(), font.Name));
}

bool TPdfCanvas::IsRightToLeft(const TFont& font) const {
    return RtlIndexOfCharset(ResolveCharset(font.Charset, owner_.AnsiCodePage(), font.Name)) != 0;
}

const TRtlTable& TPdfCanvas::RtlOf(const TFont& font) const {
    return RtlTable(RtlIndexOfCharset(ResolveCharset(font.Charset, owner_.AnsiCodePage(), font.Name)));
}

std::string TPdfCanvas::FontBytes(const std::string& utf8) const { return ToCodePage(utf8, FontCodePage(font_)); }

const std::vector<int>& TPdfCanvas::Widths(const TFont& font, int pixelsPerEm) {
    const int codePage = FontCodePage(font);
    const std::string key = font.Name + "|" + std::to_string(font.Style & (fsBold | fsItalic)) + "|" +
                            std::to_string(codePage) + "|" + std::to_string(pixelsPerEm);
    auto found = widthCache_.find(key);
    if (found != widthCache_.end()) return found->second;
    std::vector<int> widths;
    try {
        widths = TFontFace::Find(font.Name, font.Style & fsBold, font.Style & fsItalic)->CharWidths(codePage, pixelsPerEm);
    } catch (const EPdfError&) {
        throw;
    } catch (const Exception&) {
        throw EPdfError(SInternalError, "GetCharABCWidths");
    }
    return widthCache_.emplace(key, std::move(widths)).first->second;
}

int TPdfCanvas::BytesWidth(const std::string& bytes) {
    const std::vector<int>& widths = Widths(font_, PixelsPerEm(std::abs(font_.Size) * 10));
    int64_t pixels = 0;
    for (const char c : bytes) pixels += widths[static_cast<unsigned char>(c)];
    return Rounded(pixels * owner_.PixelsToUnit() / 10 + (double(bytes.size()) - 1) * characterSpacing_);
}

int TPdfCanvas::TextWidth(const std::string& text) {
    return owner_.Guarded([&] { return CheckDocument() ? BytesWidth(FontBytes(text)) : 1; });
}

int TPdfCanvas::TextHeight(const std::string&) {
    return owner_.Guarded([&] {
        if (!CheckDocument()) return 1;
        TTextMetrics metrics;
        try {
            metrics = TFontFace::Find(font_.Name, font_.Style & fsBold, font_.Style & fsItalic)
                          ->TextMetrics(PixelsPerEm(std::abs(font_.Size) * 100));
        } catch (const Exception&) {
            throw EPdfError(SInternalError, "GetTextMetrics");
        }
        return Rounded(metrics.Height * owner_.PixelsToUnit() / 100);
    });
}

TPdfFont& TPdfCanvas::FontFor(const TFont& font) {
    const std::string key = FontKey(font);
    for (const auto& existing : fonts_)
        if (existing->Key() == key) return *existing;
    const TPdfFontSettings settings{owner_.EmbedFonts(), &owner_.NonEmbeddedFonts(), &owner_.SymbolFaces(),
                                    owner_.AnsiCodePage(), ScreenDpi()};
    fonts_.push_back(std::make_unique<TPdfFont>(font, int(fonts_.size()), settings, output_, owner_.Security()));
    return *fonts_.back();
}

// --- Text

void TPdfCanvas::TextOut(int x, int y, const std::string& text) {
    owner_.Guarded([&] {
        if (CheckDocument()) DrawLine(x, y, FontBytes(text));
    });
}

void TPdfCanvas::DrawLine(int x, int y, const std::string& bytes) {
    TPdfFont& font = FontFor(font_);
    const int size = std::abs(font_.Size);
    if (font.IsRightToLeft()) x -= BytesWidth(bytes);
    const double px = X(x);
    const double py = Y(y) - size * font.AscentPerPoint();
    AddLine("BT");
    AddLine(font.ResourceName() + " " + std::to_string(size) + " Tf");
    AddLine(Color(font_.Color, "rg"));
    const double c = std::cos(fontAngle_), s = std::sin(fontAngle_);
    if (fontAngle_ != 0)
        AddLine(FormatNumber(c) + " " + FormatNumber(s) + " " + FormatNumber(-s) + " " + FormatNumber(c) + " " +
                FormatNumber(px) + " " + FormatNumber(py) + " Tm");
    else
        AddLine(FormatNumber(px) + " " + FormatNumber(py) + " Td");
    AddLine(EncodeText(bytes, font.IsRightToLeft() ? &font.Rtl() : nullptr, 0) + " Tj");
    AddLine("ET");
    if (!(font_.Style & (fsUnderline | fsStrikeOut))) return;
    const double width = Rounded(X(BytesWidth(bytes)));
    if (font_.Style & fsUnderline)
        DrawRule(font_.Color, px, py, size * font.UnderlinePosition(), size * font.UnderlineThickness(), width);
    if (font_.Style & fsStrikeOut)
        DrawRule(font_.Color, px, py, size * font.StrikeoutPosition(), size * font.StrikeoutThickness(), width);
}

void TPdfCanvas::DrawRule(TColor color, double x, double y, double offset, double thickness, double width) {
    const double c = std::cos(fontAngle_), s = std::sin(fontAngle_);
    const double x0 = x - s * offset, y0 = y + c * offset;
    const double x1 = x0 + c * width, y1 = y0 + s * width;
    AddLine(Color(color, "RG"));
    AddLine("[]0 d");
    AddLine(FormatNumber(thickness) + " w");
    AddLine(FormatNumber(x0) + " " + FormatNumber(y0) + " m " + FormatNumber(x1) + " " + FormatNumber(y1) + " l S");
}

// --- Lines

void TPdfCanvas::MoveTo(int x, int y) {
    owner_.Guarded([&] {
        if (!CheckDocument()) return;
        currentX_ = x;
        currentY_ = y;
    });
}

void TPdfCanvas::PenLines() {
    AddLine(Color(pen_.Color, "RG"));
    AddLine(pen_.Style == TPenStyle::psSolid ? "[]0 d" : "[3 3]0 d");
    AddLine(FormatNumber(X(pen_.Width)) + " w");
}

void TPdfCanvas::LineTo(int x, int y) {
    owner_.Guarded([&] {
        if (!CheckDocument()) return;
        if (pen_.Style != TPenStyle::psClear && pen_.Width > 0) {
            PenLines();
            AddLine(FormatNumber(X(currentX_)) + " " + FormatNumber(Y(currentY_)) + " m");
            AddLine(FormatNumber(X(x)) + " " + FormatNumber(Y(y)) + " l S");
        }
        currentX_ = x;
        currentY_ = y;
    });
}

// --- Pictures

TPdfImage* TPdfCanvas::FindImage(uint64_t handle, const std::string& fileName) const {
    const TFileIdentity identity = fileName.empty() ? TFileIdentity() : FileIdentityOf(fileName);
    for (const auto& image : images_)
        if ((handle != 0 && image->Handle() == handle) ||
            (!fileName.empty() && image->FileName() == fileName && image->FileIdentity() == identity))
            return image.get();
    return nullptr;
}

TPdfImage& TPdfCanvas::AddImage(std::unique_ptr<TPdfImage> image) {
    images_.push_back(std::move(image));
    TPdfImage& added = *images_.back();
    // A file passed through goes out as it is now: a later change to the file cannot fail the page.
    if (added.PassesThrough()) added.Write(output_, owner_.Security());
    else pendingImages_.push_back(&added);
    return added;
}

void TPdfCanvas::StretchDraw(const TRect& rect, const TGraphic* graphic) {
    owner_.Guarded([&] {
        if (!CheckDocument()) return;
        if (!graphic) throw EPdfError(SInvalidMethodCall);
        if (graphic->Empty()) return;
        // JPEG compression dwarfs a look at the compressed data, and a book rarely draws a
        // bitmap twice: such bitmaps are compared by what they compress to, not hashed first.
        const bool keyedByData = owner_.ImageCompressMode() == cpJpeg && dynamic_cast<const TBitmap*>(graphic);
        const uint64_t handle = AlwaysNewImage || keyedByData ? 0 : GraphicHandle(*graphic);
        TPdfImage* image = handle ? FindImage(handle, {}) : nullptr;
        if (!image) {
            auto created = std::make_unique<TPdfImage>(int(images_.size()));
            created->FromGraphic(*graphic, owner_.ImageCompressMode(), owner_.JpegQuality(), handle);
            if (keyedByData && !AlwaysNewImage) {
                created->KeyByData();
                image = FindImage(created->Handle(), {});
            }
            if (!image) image = &AddImage(std::move(created));
        }
        PlaceImage(rect, *image);
    });
}

void TPdfCanvas::StretchDrawFile(const TRect& rect, const std::string& fileName) {
    owner_.Guarded([&] {
        if (!CheckDocument()) return;
        std::string name = fileName;
        if (!IsFile(name)) {
            TPictureFileReader* reader = PictureFileReader();
            if (!reader) throw EPdfError(SFileNotFound, fileName);
            name = reader->Download(fileName, owner_.TempFolder().empty() ? TempDirectory() : owner_.TempFolder());
            downloadedFiles_.push_back(name);
        }
        TPdfImage* image = AlwaysNewImage ? nullptr : FindImage(0, name);
        if (!image) {
            auto created = std::make_unique<TPdfImage>(int(images_.size()));
            created->FromFile(name, owner_.ImageCompressMode(), owner_.JpegQuality());
            image = &AddImage(std::move(created));
        }
        PlaceImage(rect, *image);
    });
}

void TPdfCanvas::StretchDrawJpeg(const TRect& rect, const TJpegFile& file) {
    owner_.Guarded([&] {
        if (!CheckDocument()) return;
        if (owner_.ImageCompressMode() != cpJpeg) {
            TJPEGImage jpeg;
            try {
                jpeg.LoadFromFile(file.FileName);
            } catch (const EInvalidGraphic&) {
                throw EPdfError(SImageNotSupported, file.FileName);
            }
            StretchDraw(rect, &jpeg);
            return;
        }
        TPdfImage* image = AlwaysNewImage ? nullptr : FindImage(0, file.FileName);
        if (!image) {
            auto created = std::make_unique<TPdfImage>(int(images_.size()));
            created->FromJpegFile(file);
            image = &AddImage(std::move(created));
        }
        PlaceImage(rect, *image);
    });
}

void TPdfCanvas::PlaceImage(TRect r, const TPdfImage& image) {
    const int width = image.Width(), height = image.Height();
    if (width <= 0 || height <= 0) return;
    if (r.Right < r.Left) std::swap(r.Left, r.Right);
    if (r.Bottom < r.Top) std::swap(r.Top, r.Bottom);
    if (r.Right == r.Left || r.Bottom == r.Top) {
        r.Right = r.Left + Rounded(width * owner_.PixelsToUnit());
        r.Bottom = r.Top + Rounded(height * owner_.PixelsToUnit());
    } else if (owner_.SmartStretchDraw()) {
        const double fx = double(r.Right - r.Left) / width, fy = double(r.Bottom - r.Top) / height;
        const int drawnWidth = fx <= fy ? r.Right - r.Left : Rounded(width * fy);
        const int drawnHeight = fx <= fy ? Rounded(height * fx) : r.Bottom - r.Top;
        auto align = [](int& low, int& high, int drawn, int alignment) {
            if (alignment == 0) {
                high = low + drawn;
            } else if (alignment == 1) {
                low = high - drawn;
            } else {
                low += Rounded((high - low - drawn) / 2.0);
                high = low + drawn;
            }
        };
        align(r.Left, r.Right, drawnWidth, ImageHorzAlign);
        align(r.Top, r.Bottom, drawnHeight, ImageVertAlign);
    }
    // The picture is scaled to one unit less than the box: a box of one unit or less would give
    // a singular or mirrored matrix.
    if (r.Right - r.Left <= 1 || r.Bottom - r.Top <= 1) return;
    AddLine("q");
    AddLine(FormatNumber(X(r.Right - r.Left - 1)) + " 0 0 " + FormatNumber(X(r.Bottom - r.Top - 1)) + " " +
            FormatNumber(X(r.Left)) + " " + FormatNumber(Y(r.Bottom)) + " cm");
    AddLine("/" + image.Name() + " Do");
    AddLine("Q");
}

// --- Outlines, destinations, links and styles

void TPdfCanvas::AddBookmark(int x, int y, const std::string& title, int level, bool open) {
    owner_.Guarded([&] {
        if (!CheckDocument()) return;
        if (level <= 0) throw EPdfError(SBadBookmarkLevel, std::to_string(level));
        TBookmark* parent = outlineRoot_.LastAtLevel(level - 1);
        if (!parent) throw EPdfError(SBadBookmarkLevel);
        parent->AddChild(title, "/XYZ " + FormatNumber(X(x)) + " " + FormatNumber(Y(y)) + " 0", pageCount_, open);
    });
}

const TName* TPdfCanvas::DefinedName(const std::string& name) const {
    for (const TName& entry : names_)
        if (::strcasecmp(entry.Name.c_str(), name.c_str()) == 0) return &entry;
    return nullptr;
}

void TPdfCanvas::AddNamedDestination(int x, int y, const std::string& name) {
    owner_.Guarded([&] {
        if (!CheckDocument()) return;
        if (DefinedName(name)) throw EPdfError(SDuplicateName, name);
        // Readers search the names tree in byte order.
        const auto place = std::lower_bound(names_.begin(), names_.end(), name,
                                            [](const TName& entry, const std::string& n) { return entry.Name < n; });
        names_.insert(place, TName{name, pageCount_, "/XYZ " + FormatNumber(X(x)) + " " + FormatNumber(Y(y)) + " null", 0});
    });
}

std::vector<std::string> TPdfCanvas::LinkAction(const std::string& target, int objectNumber) {
    std::string goTo;
    // A destination defined in another letter case is linked as it is spelled, since readers
    // match names exactly.
    const auto spelling = [this](const std::string& name) {
        const TName* defined = DefinedName(name);
        return defined ? defined->Name : name;
    };
    auto action = LinkActionLines(target, FolderOf(owner_.FileName()), objectNumber,
                                  [this](const std::string& text, int object) { return Encode(text, object); },
                                  spelling, goTo);
    if (!goTo.empty()) linkTargets_.insert(goTo);
    return action;
}

void TPdfCanvas::AddLink(const TRect& rect, const std::string& target) {
    owner_.Guarded([&] {
        if (!CheckDocument()) return;
        const int n = output_.NewObjectNumber();
        const auto action = LinkAction(target, n);
        output_.BeginReservedObject(n);
        output_.WriteLine("/Type/Annot");
        output_.WriteLine("/Subtype/Link");
        output_.WriteLine("/Rect[" + FormatNumber(X(rect.Left)) + " " + FormatNumber(Y(rect.Top)) + " " +
                          FormatNumber(X(rect.Right)) + " " + FormatNumber(Y(rect.Bottom)) + "]");
        output_.WriteLine("/Border [0 0 0]");
        output_.WriteLine("/H/I");
        output_.WriteLine("/A <<");
        for (const std::string& line : action) output_.WriteLine(line);
        output_.WriteLine(">>");
        output_.EndDictObject();
        annotations_.push_back(n);
    });
}

TPdfStyle& TPdfCanvas::AddStyle(const std::string& name) {
    return owner_.Guarded([&]() -> TPdfStyle& {
        for (const auto& style : styles_)
            if (::strcasecmp(style->Name().c_str(), name.c_str()) == 0) throw EPdfError(SDuplicateName, name);
        styles_.push_back(std::make_unique<TPdfStyle>(name));
        return *styles_.back();
    });
}

void TPdfCanvas::SetCurrentStyle(const std::string& name) {
    owner_.Guarded([&] {
        if (name.empty()) {
            SetCharacterSpacing(0);
            ResetTextState();
            return;
        }
        TPdfStyle* found = nullptr;
        for (const auto& style : styles_)
            if (::strcasecmp(style->Name().c_str(), name.c_str()) == 0) found = style.get();
        if (!found) throw EPdfError(SInvalidStyleName, name);
        currentStyle_ = found;
        ApplyStyle();
    });
}

void TPdfCanvas::ApplyStyle() {
    currentStyle_->ApplyFont(font_, nullptr);
    SetCharacterSpacing(currentStyle_->NumParam("CharacterSpacing", 0));
    SetFontAngle(currentStyle_->NumParam("FontDegreeAngle", 0));
    SetLineSpacing(currentStyle_->NumParam("LineSpacing", 0));
}

// --- Document structure

void TPdfCanvas::BeginDocument(TStream* stream) {
    output_.Open(stream);
    contentLines_.clear();
    pageCount_ = 0;
    WriteInfo();
}

void TPdfCanvas::WriteInfo() {
    output_.WriteLine("%PDF-1.3");
    const int info = output_.BeginDictObject();
    const time_t now = std::time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "D:%Y%m%d%H%M%S", &local);
    const TPdfInformation information = owner_.Information();
    output_.WriteLine("/CreationDate" + EncodeTextString(stamp, info));
    output_.WriteLine("/Title" + EncodeTextString(information.Title, info));
    if (!information.Author.empty()) output_.WriteLine("/Author" + EncodeTextString(information.Author, info));
    if (!information.Subject.empty()) output_.WriteLine("/Subject" + EncodeTextString(information.Subject, info));
    if (!information.Keywords.empty()) output_.WriteLine("/Keywords" + EncodeTextString(information.Keywords, info));
    output_.WriteLine("/Producer" + EncodeTextString(information.Producer, info));
    output_.EndDictObject();
    for (int reserved = 0; reserved < 3; ++reserved) output_.NewObjectNumber();  // pages, resources, form
}

void TPdfCanvas::StartPage() {
    annotations_.clear();
    ++pageCount_;
    if (characterSpacing_ != 0) AddLine(FormatNumber(X(characterSpacing_)) + " Tc");
    {
        // The page event may draw; the text state of the style and a pending name survive it.
        TPdfStyle* style = currentStyle_;
        const std::string name = DestinationName;
        DestinationName.clear();
        const bool handled = owner_.NotifyNewPage(this);
        if (owner_.Aborted()) return;
        DestinationName = name;
        if (handled) {
            currentStyle_ = style;
            if (style) style->ApplyFont(font_, nullptr);
        }
    }
    textX_ = currentStyle_ ? currentStyle_->LeftPosition() : 0;
    textY_ = currentStyle_ ? currentStyle_->TopMargin() : 0;
    owner_.LetMessagesRun();
}

void TPdfCanvas::EndPage() {
    std::string content;
    for (const std::string& line : contentLines_) (content += line) += '\n';
    const int contents = output_.BeginDictObject();
    output_.WriteLine("/Length " + std::to_string(content.size()));
    output_.WriteLine(">>");
    owner_.Security().Encrypt(content, contents);
    output_.WriteStreamAndEnd(content);

    for (TPdfImage* image : pendingImages_) image->Write(output_, owner_.Security());
    pendingImages_.clear();
    // A radio group whose buttons are on this page but which was not put itself.
    for (const auto& field : fields_)
        if (field->ObjectNumber() != 0 && !field->IsPut()) field->PutOnForm(0, 0, 0, 0);

    const int page = output_.BeginDictObject();
    pageObjects_.push_back(page);
    output_.WriteLine("/Type/Page");
    output_.WriteLine("/Parent " + ObjectRef(2));
    output_.WriteLine("/MediaBox[ 0 0 " + FormatNumber(X(owner_.PageWidth())) + " " +
                      FormatNumber(X(owner_.PageHeight())) + " ]");
    output_.WriteLine("/Contents " + ObjectRef(contents));
    if (!annotations_.empty()) {
        output_.WriteLine("/Annots [");
        for (const int annotation : annotations_) output_.WriteLine(ObjectRef(annotation));
        output_.WriteLine("]");
    }
    output_.EndDictObject();
    contentLines_.clear();
    currentX_ = currentY_ = 0;
}

void TPdfCanvas::EndDocument() {
    EndPage();
    for (const std::string& target : linkTargets_) {
        // A link made before its destination keeps its own spelling, which must then match exactly.
        const bool defined =
            std::any_of(names_.begin(), names_.end(), [&](const TName& name) { return name.Name == target; });
        if (!defined)
            Prompter().MessageBox("PDF Kalmora", PdfMessage(SUndefinedDestination, target), TMsgIcon::Warning,
                                  TMsgButtons::Ok);
    }
    std::vector<TPdfResource> fonts, images;
    for (const auto& font : fonts_) fonts.push_back({font->ResourceName(), font->ObjectNumber()});
    for (const auto& image : images_) images.push_back({"/" + image->Name(), image->ObjectNumber()});
    std::vector<int> formFields;
    for (const auto& field : fields_)
        if (field->IsPut() && field->IsTopLevel()) formFields.push_back(field->ObjectNumber());
    TPdfDocumentParts parts{pageObjects_, fonts, images, outlineRoot_, names_, formFields, owner_.FileIdentifier()};
    TPdfClosingObjects closing(output_, owner_.Security(),
                               [this](const std::string& text, int object) { return Encode(text, object); },
                               [this](const std::string& text, int object) { return EncodeTextString(text, object); });
    closing.Write(parts);
}
