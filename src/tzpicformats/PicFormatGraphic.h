#pragma once
// The common base of the extended format classes: a bitmap with a colour manager, the header
// properties its reader fills, and the class-level content test the registry asks.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "ColorManager.h"
#include "platform/Classes.h"
#include "platform/Graphics.h"

enum TImageOption : uint8_t {
    ioTiled = 1,
    ioBigEndian = 2,
    ioMinIsWhite = 4,
    ioReversed = 8,  // bits stored least significant first
    ioUseGamma = 16,
};

// Compression codes of the properties record.
enum TCompressionType : uint8_t {
    ctUnknown, ctNone, ctRLE, ctPackedBits, ctLZW, ctFax3, ctFaxRLE, ctFax4, ctFaxRLEW, ctLZ77,
    ctJPEG, ctOJPEG, ctThunderscan, ctNext, ctIT8CTPAD, ctIT8LW, ctIT8MP, ctIT8BL, ctPixarFilm,
    ctPixarLog, ctDCS, ctJBIG, ctPCDHuffmann,
};

struct TImageProperties {
    uint32_t Version = 0;
    uint8_t Options = 0;  // TImageOption bits
    uint32_t Width = 0, Height = 0;
    TColorManagerScheme ColorScheme = smNone;
    uint8_t BitsPerSample = 0, SamplesPerPixel = 0, BitsPerPixel = 0;
    TCompressionType Compression = ctUnknown;
    float FileGamma = 0, XResolution = 0, YResolution = 0;
    bool Interlaced = false, HasAlpha = false;
    uint32_t FirstIFD = 0, PlanarConfig = 0, CurrentRow = 0, TileWidth = 0, TileLength = 0;
    int32_t BytesPerLine = 0;
    std::vector<uint32_t> RowsPerStrip;
    std::vector<uint8_t> YCbCrSubSampling;
    std::vector<uint8_t> JPEGTables;
    int32_t CurrentStrip = 0, StripCount = 0;
    uint32_t Predictor = 0;
    bool PCDOverview = false;
    uint8_t PCDOrientation = 0;
    uint16_t PCDImageCount = 0;
    bool GIFLocalColorTable = false, RLABottomUp = false;
    uint8_t PSDChannels = 0, PNGFilterMethod = 0;
    bool operator==(const TImageProperties&) const = default;
};

// The stages a load reports through OnProgress.
extern const char* const gsPreparing;     // "Preparing..."
extern const char* const gsLoadingData;   // "Loading data..."
extern const char* const gsUpsampling;    // "Upsampling..."
extern const char* const gsTransfering;   // "Transfering..."

class TPicFormatGraphic : public TBitmap {
public:
    // The registry asks each class this; the base claims nothing. Overrides restore the position.
    static bool IsFormatStream(TStream& stream);
    // Opens the file read-only and asks test, a class's own IsFormatStream. Raises EFOpenError when
    // the file cannot be opened.
    static bool IsFormatFile(const std::string& fileName, bool (*test)(TStream&) = &IsFormatStream);
    // Reads up to header.size() bytes from the position into header and moves back; returns how
    // many were read. Every header read goes through this or PeekHeader, so no reader loses its
    // position.
    static int64_t PeekBytes(TStream& stream, std::span<uint8_t> header);

    // Takes the properties as well when the source is an extended graphic.
    void Assign(const TBitmap& source);

    // The base clears the record, sets the file gamma to 1.0 and answers false.
    virtual bool ReadHeaderProperties(TStream& stream, int imageIndex);
    // The base only reads the header, and raises as every reader does when it is unusable.
    void LoadFromStream(TStream& stream) override;

    TColorManager& ColorManager() { return colorManager_; }
    const TImageProperties& ImageProperties() const { return properties_; }

protected:
    // The format's short name in messages ("TIF/TIFF", "Targa", ...).
    virtual std::string FormatName() const { return "extended"; }
    // Readers call this once the header is in the record: the colour manager's source from the
    // record and its target in the bitmap's formats (8 bits per sample, or 1 or 4 below that;
    // blue-green-red with alpha when the source has it; indexed and gray stay), then the bitmap's
    // pixel format and size, checked against the picture limits for inputBytes of data (-1 when
    // unknown), and for gray the gray palette. Indexed readers set their file's palette after.
    // Readers prepare a bitmap of their own and store it when complete.
    void PrepareBitmap(TBitmap& image, int64_t inputBytes);
    // Every load holds one from its first line: the load starts with no stage open, and one that
    // fails still reports the end of the stage it had open, so a progress form never stays up.
    class TLoadProgress {
    public:
        explicit TLoadProgress(TPicFormatGraphic& graphic);
        ~TLoadProgress();
        TLoadProgress(const TLoadProgress&) = delete;
        TLoadProgress& operator=(const TLoadProgress&) = delete;

    private:
        TPicFormatGraphic& graphic_;
    };
    // Ends the open stage, then starts one with this text (one of the gs... texts above).
    void BeginStage(const char* message);
    // Reports the end of the open stage; nothing when none is open.
    void EndStage(uint8_t percentDone = 0);
    // A running call of the open stage: done parts of total.
    void StageProgress(int64_t done, int64_t total);
    // Ends the open stage, then starts "Transfering..." with the band as wide as the picture.
    void BeginTransfer(int width);
    // Readers call this as each row is produced, so a load that fails partway has reported the rows
    // it did: the running call carries the rows done of rows and the band of the row just done,
    // then the band moves down one row.
    void RowDone(int64_t rows);
    // Interlaced readers report only their last pass; rows of earlier passes just move the band.
    void RowDoneQuietly();
    // Readers hand their finished picture here; the open stage ends.
    void StoreImage(TBitmap&& image);
    // True when more than moreThan bytes follow the position; then reads the first bytes of them
    // into header and moves back.
    static bool PeekHeader(TStream& stream, int64_t moreThan, std::span<uint8_t> header);
    // The bytes from the position to the end; readers parse them with a bounds-checked reader.
    static std::vector<uint8_t> ReadRest(TStream& stream);
    // The common start of a load: the header must give usable properties (an unusable one is an
    // error, not an empty picture); then the first stage starts and the bytes from the position
    // to the end are read.
    std::vector<uint8_t> ReadHeaderAndRest(TStream& stream, const char* firstStage = gsPreparing);

    TColorManager colorManager_;
    TImageProperties properties_;
    int64_t streamStart_ = 0;
    TRect progressRect_;

private:
    const char* openStage_ = nullptr;
};

[[noreturn]] void RaiseGraphicError(const std::string& message);
// Each %s of the format takes the next argument.
[[noreturn]] void RaiseGraphicErrorFmt(const std::string& format, std::initializer_list<std::string> arguments);

extern const char* const gesInvalidImage;  // "Cannot load image. Invalid or unexpected %s image format."
extern const char* const gesTruncatedImage;  // "Cannot load image. The %s image is truncated."

void SwapWordArray(uint16_t* values, int64_t count);
void SwapLongArray(uint32_t* values, int64_t count);
uint32_t SwapLong(uint32_t value);

// Undo TIFF horizontal differencing in place for 1, 3 and 4 bytes per pixel; count is the pixel
// count less one.
void ApplyPredictor8(uint8_t* row, int64_t count);
void ApplyPredictor24(uint8_t* row, int64_t count);
void ApplyPredictor32(uint8_t* row, int64_t count);

// Doubles an 8-bit plane of width x height samples in both directions in place; the buffer's rows
// are rowPitch bytes apart and it must hold 2 x height of them, each at least 2 x width wide.
void UpsamplePCDPlane(int width, int height, int rowPitch, std::span<uint8_t> buffer);
