// The layout of the pages: the book's grid of cells with their captions and outline entries, and
// the picture placed in its cell or on its page, from its picture source or the decoded bitmap.
#include <cmath>
#include <string>

#include "app/engine/Converter.h"
#include "app/engine/ConverterPic.h"
#include "imaging/io/KestovaIO.h"
#include "pdf/PdfKalmora.h"
#include "tzlib/Errors.h"

namespace {

int Round(double x) { return static_cast<int>(std::nearbyint(x)); }

std::string Millimetres(int tenths) {
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " mm";
}

}  // namespace

void TConverter::SetGrid() {
    int shortSide, longSide;
    switch (PicsPerPage) {
        case 1: shortSide = 1, longSide = 1; break;
        case 2: shortSide = 1, longSide = 2; break;
        case 4: shortSide = 2, longSide = 2; break;
        case 6: shortSide = 2, longSide = 3; break;
        case 8: shortSide = 2, longSide = 4; break;
        case 12: shortSide = 3, longSide = 4; break;
        case 24: shortSide = 4, longSide = 6; break;
        default: RaiseBrelvantError(2, "TConverter.CellRect");
    }
    const bool portrait = Orientation == boPortrait;
    Columns = portrait ? shortSide : longSide;
    Rows = static_cast<uint8_t>(portrait ? longSide : shortSide);
}

void TConverter::BeginBook() {
    SetGrid();
    ApplyBookPaper();
    CellWidth = Round(double(pdf_->PageWidth() - LeftMargin - RightMargin) / Columns);
    CellHeight = Round(double(pdf_->PageHeight() - TopMargin - BottomMargin) / Rows);
    HorzGap = Columns == 1 ? 0 : Round(CellWidth / 20.0);
    VertGap = Rows == 1 ? 0 : Round(CellHeight / 20.0);
    pdf_->BeginDoc();
    TPdfCanvas& canvas = pdf_->Canvas();
    canvas.GetFont().Assign(PicNamesFont);
    NameCaptionHeight = 2 * canvas.TextHeight("A");
    canvas.GetFont().Assign(PicDatesFont);
    DateCaptionHeight = 2 * canvas.TextHeight("A");
    CheckPictureRoom();
}

void TConverter::CheckPictureRoom() const {
    const int captions = (PicNamesPos == cpHidden ? 0 : NameCaptionHeight) + (PicDatesPos == cpHidden ? 0 : DateCaptionHeight);
    const int cell = CellHeight - 2 * VertGap;
    if (captions < cell) return;
    throw Exception("The captions leave no room for the pictures: they take " + Millimetres(captions) + " of cells " +
                    Millimetres(cell) + " high. Choose smaller caption fonts or fewer pics per page.");
}

TRect TConverter::GetCellRect(int slot) const {
    const int c = slot % Columns, r = slot / Columns;
    return Rect(c * CellWidth + LeftMargin + HorzGap, r * CellHeight + TopMargin + VertGap,
                (c + 1) * CellWidth + LeftMargin - HorzGap, (r + 1) * CellHeight + TopMargin - VertGap);
}

void TConverter::DrawCaption(const TRect& box, const std::string& text, const TFont& font) {
    TPdfCanvas& canvas = pdf_->Canvas();
    canvas.GetFont().Assign(font);
    canvas.TextBox(box.Left, box.Top, box.Right, box.Bottom, 2, 2, text);
}

void TConverter::PlacePicture(const TConverterPic& pic, const TRect& rect) {
    TRect picture = rect;
    if (Mode == cmBook) {
        const std::string name = pic.GetCaptionName();
        int y = rect.Top;
        if (PicNamesPos == cpAbove) {
            DrawCaption(Rect(rect.Left, y, rect.Right, y + NameCaptionHeight), name, PicNamesFont);
            y += NameCaptionHeight;
        }
        if (PicDatesPos == cpAbove) {
            DrawCaption(Rect(rect.Left, y, rect.Right, y + DateCaptionHeight), pic.GetDateText(), PicDatesFont);
            y += DateCaptionHeight;
        }
        picture.Top = y;
        y = rect.Bottom;
        if (PicDatesPos == cpUnder) {
            DrawCaption(Rect(rect.Left, y - DateCaptionHeight, rect.Right, y), pic.GetDateText(), PicDatesFont);
            y -= DateCaptionHeight;
        }
        if (PicNamesPos == cpUnder) {
            DrawCaption(Rect(rect.Left, y - NameCaptionHeight, rect.Right, y), name, PicNamesFont);
            y -= NameCaptionHeight;
        }
        picture.Bottom = y;
        pdf_->Canvas().AddBookmark(picture.Left, picture.Top, name, 1, true);
    }
    if (pic.Kind == pkJpeg)
        pdf_->Canvas().StretchDrawJpeg(picture, pic.Source().Jpeg());
    else
        pdf_->Canvas().StretchDraw(picture, IO().GetTBitmap());
}
