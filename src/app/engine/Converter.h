#pragma once
// The conversion engine: turns the source pictures into one PDF document per picture (Single
// mode) or one book of all of them (Book mode), and holds every user setting of the application.
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/Classes.h"
#include "platform/Graphics.h"

class TConverterHost;
class TConverterPic;
class TKestovaIO;
class TPdfKalmora;

enum TConvertMode : uint8_t { cmSingle, cmBook };
enum TBookOrientation : uint8_t { boPortrait, boLandscape };
// Where a book caption goes.
enum TCaptionPos : uint8_t { cpAbove, cpUnder, cpHidden };

// A picture, or the book, that the run was asked for and did not write.
struct TNotConverted {
    std::string fileName, reason;
    bool told = false;  // the reason was shown, or raised, as the failure happened
};

// The paper whose size the user enters; the writer knows no paper of this name.
inline constexpr const char* CustomPaperName = "[Custom size]";
// The sides of a page that PDF readers accept, 3 to 14,400 points, in tenths of a millimetre.
inline constexpr int MinPaperSide = 11, MaxPaperSide = 50800;
inline bool IsPaperSide(int tenths) { return tenths >= MinPaperSide && tenths <= MaxPaperSide; }

class TConverter : public TObject {
public:
    explicit TConverter(TConverterHost& host);
    ~TConverter() override;
    TConverter(const TConverter&) = delete;
    TConverter& operator=(const TConverter&) = delete;

    // --- Settings; lengths in tenths of a millimetre
    int BottomMargin = 100, LeftMargin = 100, RightMargin = 100, TopMargin = 100;
    TBookOrientation Orientation = boPortrait;
    std::string PaperSizeName;
    // The paper of CustomPaperName in portrait; 0 when none was entered.
    int CustomPaperWidth = 0, CustomPaperHeight = 0;
    std::string Title, Subject;
    bool DeleteSources = false;
    TConvertMode Mode = cmSingle;
    std::string OwnerPassword;  // non-empty: documents are encrypted
    std::string UserPassword;
    TFont PicDatesFont, PicNamesFont;
    TCaptionPos PicDatesPos = cpHidden, PicNamesPos = cpUnder;
    int PicResolution = 96;  // dots per inch of Single-mode pages
    uint8_t PicsPerPage = 1;
    bool Metric = true;  // lengths shown in centimetres, else inches
    bool Overwrite = false;

    // --- Book layout, computed by BeginBook
    int CellWidth = 0, CellHeight = 0, Columns = 0, HorzGap = 0, VertGap = 0;
    uint8_t Rows = 0;
    int NameCaptionHeight = 0, DateCaptionHeight = 0;

    // --- State of the current run
    TConverterPic* CurrentPic = nullptr;  // the picture the input/output object holds
    std::set<std::string> PlacedSources;  // each file once
    TStringList GeneratedPdfs;            // full names of the documents written
    // Display texts with their TConverterPic objects, which the engine owns.
    TStringList Pics;
    std::vector<TNotConverted> NotConverted;

    void SetDefaults();
    TPdfKalmora& Pdf() { return *pdf_; }
    TConverterHost& Host() { return host_; }
    // The run's own input/output object during a run, else the view's; raises when there is none.
    TKestovaIO& IO();

    TConverterPic* GetPic(int index) const;
    void DeletePic(int index);
    void ClearPics();

    void SetAuthor(const std::string& author);
    const std::string& GetAuthor() const;
    void SetPicResolution(int dpi) { PicResolution = dpi; }

    double InchesToDisplay(double x) const { return Metric ? x * 254 / 100 : x; }
    double TenthsToDisplay(double x) const { return Metric ? x / 100 : x / 254; }
    int DisplayToTenths(double x) const;
    std::string GetLengthFormat() const { return Metric ? "0.0" : "0.00"; }

    bool HasCustomPaper() const { return PaperSizeName == CustomPaperName; }
    // Gives the writer the book's paper in its orientation: a paper of the writer's table by
    // name, or the custom size ("Bad paper size" when that lies outside the page limits).
    void ApplyBookPaper();
    // Margins against the book's own paper in its orientation; "Invalid book margins" when they
    // leave no room.
    void CheckBookMargins();
    // "No pic selected" for an empty list; deletes the sources afterwards when asked.
    void MakePdf();
    void MakeSinglePdfs();
    void MakePdfBook();
    // Lays out the grid on the book's paper and opens the document; raises when the captions
    // leave a picture no room in its cell.
    void BeginBook();
    // Slot j of the page, counted row by row from the top left.
    TRect GetCellRect(int slot) const;
    void OpenGeneratedPdfs();

private:
    void SetGrid();
    void CheckPictureRoom() const;
    // Draws the loaded picture into the rectangle: a JPEG passes through, any other picture is
    // drawn from the bitmap; a book's cell holds its captions and outline entry as well.
    void PlacePicture(const TConverterPic& pic, const TRect& rect);
    void DrawCaption(const TRect& box, const std::string& text, const TFont& font);
    void ApplyPasswords();
    void CheckAbort();
    // True when the document may be written: it is new, or the user lets it replace the file.
    bool MayWrite(const std::string& pdfName, bool alwaysAsk);
    void MakeSinglePdf(TConverterPic& pic);
    // The page of a Single-mode document in tenths of a millimetre, within the writer's limits.
    void SetSinglePageSize(const TConverterPic& pic);
    // The result of a run, with the offer to see it when somebody can take it.
    void ReportGenerated(const std::string& text, const std::string& question);
    void DeletePlacedSources();

    TConverterHost& host_;
    std::unique_ptr<TPdfKalmora> pdf_;
    TKestovaIO* runIO_ = nullptr;
    // Files with an item that was skipped or failed in the run: their sources are kept.
    std::set<std::string> incompleteSources_;
    // Single mode: the picture of each document written in the run.
    using TSourceFrame = std::pair<std::string, int>;  // file, frame index
    std::map<std::string, TSourceFrame> singleSources_;
};

// "Book" + the first n from 1 whose file does not exist in the folder + ".pdf", with the folder.
std::string ProposeBookName(const std::string& folder);
// The paper of the user's locale among the PDF writer's papers; A4 when the locale's is not one.
std::string DefaultPaperSizeName();
