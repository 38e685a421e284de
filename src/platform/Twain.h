#pragma once
// The scanner source manager: the data structures, operation triplets and states of the TWAIN
// 1.9 protocol, reached through one entry point, with the scanners of the SANE library as its
// sources. Record layouts are those of the protocol (2-byte packing, little-endian), so the
// identity record is 156 bytes with the product name at byte 122.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TSaneDevice;

using TW_UINT16 = uint16_t;
using TW_UINT32 = uint32_t;
using TW_INT16 = int16_t;
using TW_INT32 = int32_t;
using TW_BOOL = uint16_t;
using TW_MEMREF = void*;

// A block of memory the manager hands out (capability containers, device-independent bitmaps);
// it knows its own size, so a reader never goes past it. Freed with TwainFree.
struct TW_MEMBLOCK {
    std::vector<uint8_t> Bytes;
};
using TW_HANDLE = TW_MEMBLOCK*;
TW_HANDLE TwainAlloc(size_t size);
void TwainFree(TW_HANDLE handle);

#pragma pack(push, 2)
struct TW_FIX32 {
    TW_INT16 Whole;
    TW_UINT16 Frac;
};
struct TW_VERSION {
    TW_UINT16 MajorNum, MinorNum, Language, Country;
    char Info[34];
};
struct TW_IDENTITY {
    TW_UINT32 Id;
    TW_VERSION Version;
    TW_UINT16 ProtocolMajor, ProtocolMinor;
    TW_UINT32 SupportedGroups;
    char Manufacturer[34], ProductFamily[34], ProductName[34];
};
struct TW_CAPABILITY {
    TW_UINT16 Cap;
    TW_UINT16 ConType;
    TW_HANDLE hContainer;
};
struct TW_USERINTERFACE {
    TW_BOOL ShowUI, ModalUI;
    void* hParent;
};
struct TW_STATUS {
    TW_UINT16 ConditionCode, Reserved;
};
struct TW_PENDINGXFERS {
    TW_UINT16 Count;
    TW_UINT32 EOJ;
};
struct TW_EVENT {
    void* pEvent;
    TW_UINT16 TWMessage;
};
struct TW_IMAGEINFO {
    TW_FIX32 XResolution, YResolution;
    TW_INT32 ImageWidth, ImageLength;
    TW_INT16 SamplesPerPixel;
    TW_INT16 BitsPerSample[8];
    TW_INT16 BitsPerPixel;
    TW_BOOL Planar;
    TW_INT16 PixelType;
    TW_UINT16 Compression;
};
struct TW_MEMORY {
    TW_UINT32 Flags, Length;
    TW_MEMREF TheMem;
};
struct TW_IMAGEMEMXFER {
    TW_UINT16 Compression;
    TW_UINT32 BytesPerRow, Columns, Rows, XOffset, YOffset, BytesWritten;
    TW_MEMORY Memory;
};
struct TW_SETUPMEMXFER {
    TW_UINT32 MinBufSize, MaxBufSize, Preferred;
};
struct TW_SETUPFILEXFER {
    char FileName[256];
    TW_UINT16 Format;
    TW_INT16 VRefNum;
};
struct TW_FRAME {
    TW_FIX32 Left, Top, Right, Bottom;
};
struct TW_IMAGELAYOUT {
    TW_FRAME Frame;
    TW_UINT32 DocumentNumber, PageNumber, FrameNumber;
};
// Container bodies, as laid out in a capability's memory block.
struct TW_ONEVALUE {
    TW_UINT16 ItemType;
    TW_UINT32 Item;
};
struct TW_RANGE {
    TW_UINT16 ItemType;
    TW_UINT32 MinValue, MaxValue, StepSize, DefaultValue, CurrentValue;
};
struct TW_ARRAY_HEADER {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
};
struct TW_ENUMERATION_HEADER {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems, CurrentIndex, DefaultIndex;
};
#pragma pack(pop)

static_assert(sizeof(TW_IDENTITY) == 156 && offsetof(TW_IDENTITY, ProductName) == 122);

// Data groups, data argument types and messages.
constexpr TW_UINT32 DG_CONTROL = 1, DG_IMAGE = 2;
constexpr TW_UINT16 DAT_CAPABILITY = 1, DAT_EVENT = 2, DAT_IDENTITY = 3, DAT_PARENT = 4, DAT_PENDINGXFERS = 5,
                    DAT_SETUPMEMXFER = 6, DAT_SETUPFILEXFER = 7, DAT_STATUS = 8, DAT_USERINTERFACE = 9,
                    DAT_IMAGEINFO = 0x101, DAT_IMAGELAYOUT = 0x102, DAT_IMAGEMEMXFER = 0x103,
                    DAT_IMAGENATIVEXFER = 0x104, DAT_IMAGEFILEXFER = 0x105;
constexpr TW_UINT16 MSG_NULL = 0, MSG_GET = 1, MSG_GETCURRENT = 2, MSG_GETDEFAULT = 3, MSG_GETFIRST = 4,
                    MSG_GETNEXT = 5, MSG_SET = 6, MSG_RESET = 7, MSG_XFERREADY = 0x101, MSG_CLOSEDSREQ = 0x102,
                    MSG_OPENDSM = 0x301, MSG_CLOSEDSM = 0x302, MSG_OPENDS = 0x401, MSG_CLOSEDS = 0x402,
                    MSG_USERSELECT = 0x403, MSG_DISABLEDS = 0x501, MSG_ENABLEDS = 0x502,
                    MSG_PROCESSEVENT = 0x601, MSG_ENDXFER = 0x701;

// Return and condition codes.
constexpr TW_UINT16 TWRC_SUCCESS = 0, TWRC_FAILURE = 1, TWRC_CHECKSTATUS = 2, TWRC_CANCEL = 3, TWRC_DSEVENT = 4,
                    TWRC_NOTDSEVENT = 5, TWRC_XFERDONE = 6, TWRC_ENDOFLIST = 7;
constexpr TW_UINT16 TWCC_SUCCESS = 0, TWCC_BUMMER = 1, TWCC_LOWMEMORY = 2, TWCC_NODS = 3, TWCC_MAXCONNECTIONS = 4,
                    TWCC_OPERATIONERROR = 5, TWCC_BADCAP = 6, TWCC_BADPROTOCOL = 9, TWCC_BADVALUE = 10,
                    TWCC_SEQERROR = 11, TWCC_BADDEST = 12, TWCC_CAPUNSUPPORTED = 13,
                    TWCC_CAPBADOPERATION = 14, TWCC_CAPSEQERROR = 15, TWCC_DENIED = 16, TWCC_FILEEXISTS = 17,
                    TWCC_FILENOTFOUND = 18, TWCC_NOTEMPTY = 19, TWCC_PAPERJAM = 20, TWCC_PAPERDOUBLEFEED = 21;

// Containers and item types.
constexpr TW_UINT16 TWON_ARRAY = 3, TWON_ENUMERATION = 4, TWON_ONEVALUE = 5, TWON_RANGE = 6,
                    TWON_DONTCARE16 = 0xFFFF;
constexpr TW_UINT32 TWON_DONTCARE32 = 0xFFFFFFFF;
constexpr TW_UINT16 TWTY_INT8 = 0, TWTY_INT16 = 1, TWTY_INT32 = 2, TWTY_UINT8 = 3, TWTY_UINT16 = 4,
                    TWTY_UINT32 = 5, TWTY_BOOL = 6, TWTY_FIX32 = 7, TWTY_STR255 = 12;

// Capabilities.
constexpr TW_UINT16 CAP_XFERCOUNT = 0x0001, ICAP_COMPRESSION = 0x0100, ICAP_PIXELTYPE = 0x0101,
                    ICAP_UNITS = 0x0102, ICAP_XFERMECH = 0x0103, CAP_CAPTION = 0x1015,
                    CAP_FEEDERENABLED = 0x1002, CAP_FEEDERLOADED = 0x1003, CAP_AUTOFEED = 0x1007,
                    CAP_INDICATORS = 0x100B, CAP_UICONTROLLABLE = 0x100E, CAP_DUPLEX = 0x1012,
                    CAP_DUPLEXENABLED = 0x1013, CAP_PAPERDETECTABLE = 0x100D, ICAP_BRIGHTNESS = 0x1101,
                    ICAP_CONTRAST = 0x1103, ICAP_GAMMA = 0x1108, ICAP_ORIENTATION = 0x1110,
                    ICAP_PHYSICALWIDTH = 0x1111, ICAP_PHYSICALHEIGHT = 0x1112, ICAP_XRESOLUTION = 0x1118,
                    ICAP_YRESOLUTION = 0x1119, ICAP_PIXELFLAVOR = 0x111F, ICAP_PLANARCHUNKY = 0x1120,
                    ICAP_ROTATION = 0x1121, ICAP_SUPPORTEDSIZES = 0x1122, ICAP_THRESHOLD = 0x1123,
                    ICAP_XSCALING = 0x1124, ICAP_YSCALING = 0x1125, ICAP_BITDEPTH = 0x112B,
                    ICAP_UNDEFINEDIMAGESIZE = 0x112D, ICAP_IMAGEFILEFORMAT = 0x110C;

constexpr TW_UINT16 TWPT_BW = 0, TWPT_GRAY = 1, TWPT_RGB = 2;
constexpr TW_UINT16 TWUN_INCHES = 0, TWPF_CHOCOLATE = 0, TWPF_VANILLA = 1, TWPC_CHUNKY = 0,
                    TWPC_PLANAR = 1;
constexpr TW_UINT16 TWSX_NATIVE = 0, TWSX_FILE = 1, TWSX_MEMORY = 2;
constexpr TW_UINT16 TWFF_TIFF = 0, TWFF_BMP = 2, TWFF_JFIF = 4, TWFF_PNG = 7;
constexpr TW_UINT16 TWLG_USA = 13, TWCY_USA = 1;
constexpr TW_UINT32 TWMF_APPOWNS = 1, TWMF_HANDLE = 16;

// The single entry point: origin is the application's identity, dest the source's (nullptr for
// the manager's own operations).
TW_UINT16 DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                    TW_MEMREF data);

// An identity of protocol 1.9, version 1.0, for the image group; the texts are cut to 33 bytes.
TW_IDENTITY TwainIdentity(TW_UINT32 id, const std::string& manufacturer, const std::string& family,
                          const std::string& product, const std::string& versionInfo = {});

// FIX32 conversions: value x 65536 rounded half away from zero; whole + fraction / 65536 back.
TW_FIX32 TwainToFix32(double value);
double TwainFromFix32(TW_FIX32 value);

// The source's own dialog, shown on enabling with ShowUI; true to scan, false when the user
// cancels. Without one installed, enabling with ShowUI scans at once. The manager's selection
// dialog answers the index of the chosen identity, or -1.
using TTwainSourceDialog = bool (*)(const TW_IDENTITY& source, TSaneDevice& device);
using TTwainSelectDialog = int (*)(const std::vector<TW_IDENTITY>& sources);
void SetTwainDialogs(TTwainSourceDialog sourceDialog, TTwainSelectDialog selectDialog);

// A capability container's values, read within its item count and its block's size; FIX32 items
// as their fractional value, Booleans as 0 or 1. An enumeration whose current index lies outside
// its items has no current value.
struct TTwainValues {
    TW_UINT16 ConType = 0, ItemType = 0;
    std::vector<double> Items;
    double Min = 0, Max = 0, Step = 0, Default = 0, Current = 0;
    bool HasCurrent = false;
};
// False for a missing, unknown or cut-short container.
bool TwainReadContainer(TW_UINT16 conType, TW_HANDLE container, TTwainValues& values);
// Container builders; the caller (or the receiver of a capability) frees them with TwainFree.
TW_HANDLE TwainOneValue(TW_UINT16 itemType, double value);
TW_HANDLE TwainEnumeration(TW_UINT16 itemType, const std::vector<double>& items, TW_UINT32 currentIndex,
                           TW_UINT32 defaultIndex);
TW_HANDLE TwainRange(TW_UINT16 itemType, double min, double max, double step, double defaultValue,
                     double current);
// A text as a one-value container of TWTY_STR255: the item type, then the text up to 255 bytes and
// its zero. Read back as the text after the first two bytes, up to the first zero or the block's end.
TW_HANDLE TwainOneText(const std::string& text);
std::string TwainReadText(TW_HANDLE container);
