#include "PdfFont.h"

#include <cmath>
#include <cstdlib>
#include <strings.h>

#include "PdfEncoding.h"
#include "PdfErrors.h"
#include "PdfOutput.h"
#include "PdfSecurity.h"
#include "platform/Classes.h"
#include "platform/FontService.h"
#include "platform/Graphics.h"

namespace {

// The glyph names that replace the standard encoding's, per code page.
// Arabic
const std::vector<std::string> ArabicDifferences = {
    "129/afii57506", "138/afii57511", "141/afii57507/afii57508/afii57512/afii57509", "154/afii57513",
    "157/afii61664/afii301/afii57514", "161/afii57388", "186/afii57403", "191/afii57407",
    "193/afii57409/afii57410/afii57411/afii57412/afii57413/afii57414/afii57415/afii57416/afii57417/afii57418",
    "203/afii57419/afii57420/afii57421/afii57422/afii57423/afii57424/afii57425/afii57426/afii57427/afii57428/afii57429/afii57430",
    "216/afii57431/afii57432/afii57433/afii57434/afii57440/afii57441/afii57442/afii57443", "225/afii57444",
    "227/afii57445/afii57446/afii57470/afii57448", "236/afii57449/afii57450",
    "240/afii57451/afii57452/afii57453/afii57454", "245/afii57455/afii57456", "248/afii57457",
    "250/afii57458", "253/afii299/afii300/afii57519",
};
// Baltic
const std::vector<std::string> BalticDifferences = {
    "141/dieresis/caron/cedilla", "157/macron/ogonek", "168/Oslash", "170/Rcommaaccent", "175/AE",
    "184/oslash", "186/rcommaaccent", "191/ae/Aogonek/Iogonek/Amacron/Cacute", "198/Eogonek",
    "199/Emacron/Ccaron",
    "202/Zacute/Edotaccent/Gcommaaccent/Kcommaaccent/Imacron/Lcommaaccent/Scaron/Nacute/Ncommaaccent",
    "212/Omacron", "216/Uogonek/Lslash/Sacute/Umacron", "221/Zdotaccent/Zcaron",
    "224/aogonek/iogonek/amacron/cacute", "230/eogonek/emacron/ccaron",
    "234/zacute/edotaccent/gcommaaccent/kcommaaccent/imacron/lcommaaccent/scaron/nacute/ncommaaccent",
    "244/omacron", "248/uogonek/lslash/sacute/umacron", "253/zdotaccent/zcaron/dotaccent",
};
// East Europe
const std::vector<std::string> EastEuropeDifferences = {
    "140/Sacute/Tcaron", "143/Zacute", "156/sacute/tcaron", "159/zacute", "161/caron/breve/Lslash",
    "165/Aogonek", "170/Scedilla", "175/Zdotaccent", "178/ogonek/lslash", "185/aogonek/scedilla",
    "188/Lcaron/hungarumlaut/lcaron/zdotaccent/Racute", "195/Abreve", "197/Lacute/Cacute", "200/Ccaron",
    "202/Eogonek", "204/Ecaron", "207/Dcaron/Dcroat/Nacute/Ncaron", "213/Ohungarumlaut", "216/Rcaron/Uring",
    "219/Uhungarumlaut", "222/Tcedilla", "224/racute", "227/abreve", "229/lacute/cacute", "232/ccaron",
    "234/eogonek", "236/ecaron", "239/dcaron/dcroat/nacute/ncaron", "245/ohungarumlaut", "248/rcaron/uring",
    "251/uhungarumlaut", "254/tcedilla/dotaccent",
};
// Greek
const std::vector<std::string> GreekDifferences = {
    "161/dieresistonos/Alphatonos", "175/afii00208", "180/tonos", "184/Epsilontonos/Etatonos/Iotatonos",
    "188/Omicrontonos",
    "190/Upsilontonos/Omegatonos/iotadieresistonos/Alpha/Beta/Gamma/Delta/Epsilon/Zeta/Eta/Theta/Iota/Kappa/Lambda/Mu/Nu/Xi/Omicron/Pi/Rho",
    "211/Sigma/Tau/Upsilon/Phi/Chi/Psi/Omega/Iotadieresis/Upsilondieresis/alphatonos/epsilontonos/etatonos/iotatonos/upsilondieresistonos",
    "225/alpha/beta/gamma/delta/epsilon/zeta/eta/theta/iota/kappa/lambda/mu/nu/xi/omicron/pi/rho/sigma1/sigma/tau/upsilon/phi/chi/psi/omega",
    "250/iotadieresis/upsilondieresis/omicrontonos/upsilontonos/omegatonos",
};
// Hebrew
const std::vector<std::string> HebrewDifferences = {
    "164/afii57636", "170/multiply", "186/divide",
    "192/afii57799/afii57801/afii57800/afii57802/afii57793/afii57794/afii57795/afii57798/afii57797/afii57806",
    "203/afii57796/afii57807/afii57839/afii57645/afii57841/afii57842/afii57804/afii57803/afii57658/afii57716/afii57717/afii57718",
    "224/afii57664/afii57665/afii57666/afii57667/afii57668/afii57669/afii57670/afii57671/afii57672/afii57673/afii57674",
    "235/afii57675/afii57676/afii57677/afii57678/afii57679/afii57680/afii57681/afii57682/afii57683/afii57684/afii57685/afii57686/afii57687/afii57688/afii57689/afii57690",
    "253/afii299/afii300",
};
// Russian
const std::vector<std::string> RussianDifferences = {
    "128/afii10051/afii10052", "131/afii10100", "136/Euro", "138/afii10058",
    "140/afii10059/afii10061/afii10060/afii10145/afii10099", "154/afii10106",
    "156/afii10107/afii10109/afii10108/afii10193", "161/afii10062/afii10110/afii10057", "165/afii10050",
    "168/afii10023", "170/afii10053", "175/afii10056", "178/afii10055/afii10103/afii10098",
    "184/afii10071/afii61352/afii10101",
    "188/afii10105/afii10054/afii10102/afii10104/afii10017/afii10018/afii10019/afii10020/afii10021/afii10022/afii10024/afii10025",
    "200/afii10026/afii10027/afii10028/afii10029/afii10030/afii10031/afii10032/afii10033/afii10034/afii10035",
    "210/afii10036/afii10037/afii10038/afii10039/afii10040/afii10041/afii10042/afii10043/afii10044/afii10045",
    "220/afii10046/afii10047/afii10048/afii10049/afii10065/afii10066/afii10067/afii10068/afii10069/afii10070",
    "230/afii10072/afii10073/afii10074/afii10075/afii10076/afii10077/afii10078/afii10079/afii10080/afii10081",
    "240/afii10082/afii10083/afii10084/afii10085/afii10086/afii10087/afii10088/afii10089/afii10090/afii10091",
    "250/afii10092/afii10093/afii10094/afii10095/afii10096/afii10097",
};
// Turkish
const std::vector<std::string> TurkishDifferences = {
    "208/Gbreve", "221/Idotaccent/Scedilla", "240/gbreve", "253/dotlessi/scedilla",
};

TRtlTable MakeRtlTable(const std::vector<std::string>* entries) {
    TRtlTable table{};
    if (entries) AssignRTLChars(table, *entries);
    return table;
}

int Rounded(double value) { return static_cast<int>(std::nearbyint(value)); }

}  // namespace

const TRtlTable& RtlTable(int index) {
    static const TRtlTable tables[3] = {MakeRtlTable(nullptr), MakeRtlTable(&ArabicDifferences),
                                        MakeRtlTable(&HebrewDifferences)};
    return tables[index];
}

void AssignRTLChars(TRtlTable& table, const std::vector<std::string>& entries) {
    for (const std::string& entry : entries) {
        const size_t slash = entry.find('/');
        char* end = nullptr;
        const long start = slash == std::string::npos ? -1 : std::strtol(entry.c_str(), &end, 10);
        if (slash == 0 || start < 0 || end != entry.c_str() + slash)
            throw EPdfError(SInternalError, "TPdfFont.AssignRTLChars");
        long code = start;
        for (size_t p = slash; p != std::string::npos; p = entry.find('/', p + 1), ++code)
            if (code < 256) table[size_t(code)] = true;
    }
}

const std::vector<std::string>& DifferencesOf(int charset) {
    static const std::vector<std::string> none;
    switch (charset) {
        case GREEK_CHARSET: return GreekDifferences;
        case TURKISH_CHARSET: return TurkishDifferences;
        case HEBREW_CHARSET: return HebrewDifferences;
        case ARABIC_CHARSET: return ArabicDifferences;
        case BALTIC_CHARSET: return BalticDifferences;
        case RUSSIAN_CHARSET: return RussianDifferences;
        case EASTEUROPE_CHARSET: return EastEuropeDifferences;
        default: return none;
    }
}

int ResolveCharset(int charset, int ansiCodePage, const std::string& faceName) {
    if (charset == DEFAULT_CHARSET) {
        switch (ansiCodePage) {
            case 1250: return EASTEUROPE_CHARSET;
            case 1251: return RUSSIAN_CHARSET;
            case 1253: return GREEK_CHARSET;
            case 1254: return TURKISH_CHARSET;
            case 1255: return HEBREW_CHARSET;
            case 1256: return ARABIC_CHARSET;
            case 1257: return BALTIC_CHARSET;
            default: return ANSI_CHARSET;
        }
    }
    switch (charset) {
        case ANSI_CHARSET:
        case GREEK_CHARSET:
        case TURKISH_CHARSET:
        case HEBREW_CHARSET:
        case ARABIC_CHARSET:
        case BALTIC_CHARSET:
        case RUSSIAN_CHARSET:
        case EASTEUROPE_CHARSET: return charset;
        default: throw EPdfError(SCharsetNotSupported, faceName);
    }
}

int CodePageOfCharset(int resolvedCharset) {
    switch (resolvedCharset) {
        case EASTEUROPE_CHARSET: return 1250;
        case RUSSIAN_CHARSET: return 1251;
        case GREEK_CHARSET: return 1253;
        case TURKISH_CHARSET: return 1254;
        case HEBREW_CHARSET: return 1255;
        case ARABIC_CHARSET: return 1256;
        case BALTIC_CHARSET: return 1257;
        default: return 1252;
    }
}

int RtlIndexOfCharset(int resolvedCharset) {
    return resolvedCharset == ARABIC_CHARSET ? 1 : resolvedCharset == HEBREW_CHARSET ? 2 : 0;
}

std::string EscapeName(const std::string& name) {
    std::string escaped;
    for (const char c : name) {
        if (c == ' ') escaped += "#20";
        else escaped += c;
    }
    return escaped;
}

std::string BaseFontName(const TFont& font) {
    std::string name = font.Name;
    for (const std::string& family : InstalledFontFamilies())
        if (::strcasecmp(family.c_str(), name.c_str()) == 0) {
            name = family;
            break;
        }
    const bool bold = font.Style & fsBold, italic = font.Style & fsItalic;
    if (bold && italic) return name + ",BoldItalic";
    if (bold) return name + ",Bold";
    if (italic) return name + ",Italic";
    return name;
}

std::string FontKey(const TFont& font) { return BaseFontName(font) + "|" + std::to_string(int(font.Charset)); }

int PixelsPerEm(int pointSize) {
    TFont font;
    font.Size = std::abs(pointSize);
    return -font.Height();
}

TPdfFont::TPdfFont(const TFont& font, int index, const TPdfFontSettings& settings, TPdfOutput& output,
                   const TPdfSecurity& security)
    : key_(FontKey(font)), resourceName_("/F" + std::to_string(index)) {
    const int charset = ResolveCharset(font.Charset, settings.ansiCodePage, font.Name);
    codePage_ = CodePageOfCharset(charset);
    rtlIndex_ = RtlIndexOfCharset(charset);

    // Metrics at 100 points; k turns pixels at that size into thousandths of an em.
    TFont measuring = font;
    measuring.Size = 100;
    const int pixelsPerEm = -measuring.Height();
    TFont readBack;
    readBack.SetHeight(measuring.Height());
    const double k = 72000.0 / settings.screenDpi / readBack.Size;

    std::shared_ptr<TFontFace> face;
    try {
        face = TFontFace::Find(font.Name, font.Style & fsBold, font.Style & fsItalic);
    } catch (const Exception&) {
        throw EPdfError(SInternalError, "GetTextMetrics");
    }
    if (!face->IsTrueType()) throw EPdfError(SNotTrueType, font.Name);
    const TTextMetrics tm = face->TextMetrics(pixelsPerEm);
    const TOutlineTextMetrics otm = face->OutlineTextMetrics(pixelsPerEm);
    ascentPerPoint_ = tm.Ascent * k / 1000;
    underlinePosition_ = otm.UnderscorePosition * k / 1000;
    underlineThickness_ = otm.UnderscoreSize * k / 1000;
    strikeoutPosition_ = otm.StrikeoutPosition * k / 1000;
    strikeoutThickness_ = otm.StrikeoutSize * k / 1000;

    std::vector<uint8_t> fontData;
    if (settings.embedFonts && !(otm.EmbeddingType & 1) &&
        (!settings.nonEmbeddedFonts || settings.nonEmbeddedFonts->IndexOf(font.Name) < 0))
        fontData = face->FontData();
    embedded_ = !fontData.empty();
    const int fontFile = embedded_ ? WriteFontFile(fontData, output, security) : 0;

    const std::vector<int> widths = face->CharWidths(codePage_, pixelsPerEm);
    const int widthsObject = output.BeginObject("[");
    std::string line;
    for (int code = tm.FirstChar, n = 1; code <= tm.LastChar; ++code, ++n) {
        line += std::to_string(Rounded(widths[size_t(code)] * k)) + " ";
        if (n % 16 == 0 || code == tm.LastChar) {
            output.WriteLine(line);
            line.clear();
        }
    }
    output.EndObject("]");

    const bool symbolic = settings.symbolFaces && settings.symbolFaces->IndexOf(font.Name) >= 0;
    int flags = symbolic ? 4 : 32;
    if (tm.PitchAndFamily & 0x10) flags += 2;
    if (tm.PitchAndFamily & 0x40) flags += 8;
    if (font.Style & fsItalic) flags += 64;
    const int descriptor = output.BeginDictObject();
    output.WriteLine("/Type/FontDescriptor");
    output.WriteLine("/FontName/" + EscapeName(font.Name));
    const std::string ascent = std::to_string(Rounded(tm.Ascent * k));
    output.WriteLine("/Ascent " + ascent);
    output.WriteLine("/Descent " + std::to_string(Rounded(-tm.Descent * k)));
    output.WriteLine("/ItalicAngle " + std::to_string(Rounded(otm.ItalicAngle / 10.0)));
    output.WriteLine("/CapHeight " + ascent);
    output.WriteLine("/Flags " + std::to_string(flags));
    output.WriteLine("/FontBBox[0 0 0 0]");
    if (embedded_) output.WriteLine("/FontFile2 " + ObjectRef(fontFile));
    output.EndDictObject();

    int encoding = 0;
    if (const auto& differences = DifferencesOf(charset); !differences.empty()) {
        encoding = output.BeginDictObject();
        output.WriteLine("/Type/Encoding");
        output.WriteLine("/BaseEncoding/WinAnsiEncoding");
        output.WriteLine("/Differences [");
        for (const std::string& entry : differences) output.WriteLine(entry);
        output.WriteLine("]");
        output.EndDictObject();
    }

    objectNumber_ = output.BeginDictObject();
    output.WriteLine("/Type/Font");
    output.WriteLine("/Subtype/TrueType");
    output.WriteLine("/Name" + resourceName_);
    output.WriteLine("/BaseFont/" + EscapeName(BaseFontName(font)));
    output.WriteLine(encoding ? "/Encoding " + ObjectRef(encoding) : "/Encoding/WinAnsiEncoding");
    output.WriteLine("/FirstChar " + std::to_string(tm.FirstChar));
    output.WriteLine("/LastChar " + std::to_string(tm.LastChar));
    output.WriteLine("/Widths " + ObjectRef(widthsObject));
    output.WriteLine("/FontDescriptor " + ObjectRef(descriptor));
    output.EndDictObject();
}

int TPdfFont::WriteFontFile(const std::vector<uint8_t>& fontData, TPdfOutput& output, const TPdfSecurity& security) {
    const std::vector<uint8_t> packed = ZlibCompress(fontData.data(), fontData.size());
    std::string data;
    Ascii85Encode(packed.data(), packed.size(), data);
    const int n = output.BeginDictObject();
    output.WriteLine("/Filter[/ASCII85Decode/FlateDecode]");
    output.WriteLine("/Length " + std::to_string(data.size()));
    output.WriteLine("/Length1 " + std::to_string(fontData.size()));
    output.WriteLine(">>");
    security.Encrypt(data, n);
    output.WriteStreamAndEnd(data);
    return n;
}
