#include "tzlib/TextFormats.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <clocale>
#include <cmath>
#include <vector>

#include "platform/Classes.h"
#include "tzlib/Errors.h"

std::string ThousandsGap = " ";
uint8_t FirstDayOfWeek = 1;
char PeriodSeparator = '-';

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// --- Locale separators

const std::string NoBreakSpace = "\xC2\xA0";
const std::string NarrowNoBreakSpace = "\xE2\x80\xAF";

std::string DecimalSeparator() {
    const char* decimal = std::localeconv()->decimal_point;
    return decimal && *decimal ? decimal : ".";
}

// The C locale names none; "," is what an English reader expects then.
std::string ThousandsSeparator() {
    const char* thousands = std::localeconv()->thousands_sep;
    return thousands && *thousands ? thousands : ",";
}

bool IsBlankSeparator(const std::string& separator) {
    return separator == " " || separator == NoBreakSpace || separator == NarrowNoBreakSpace;
}

// --- Float format

struct TDigits {
    std::string integer;   // without leading zeros; empty for zero
    std::string decimals;  // exactly as many as asked for
};

// The value's shortest decimal form rounded to the given decimals, halves away from zero.
TDigits DigitsOf(double magnitude, int decimals) {
    std::array<char, 400> buffer;
    const auto result =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude, std::chars_format::fixed);
    const std::string text(buffer.data(), result.ptr);
    const size_t point = text.find('.');
    std::string integer = text.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    const auto keep = static_cast<size_t>(decimals);
    const bool roundUp = fraction.size() > keep && fraction[keep] >= '5';
    fraction.resize(keep, '0');
    std::string all = integer + fraction;
    if (roundUp) {
        size_t i = all.size();
        while (i > 0 && all[i - 1] == '9') all[--i] = '0';
        if (i == 0)
            all.insert(all.begin(), '1');
        else
            ++all[i - 1];
    }
    integer = all.substr(0, all.size() - keep);
    integer.erase(0, std::min(integer.find_first_not_of('0'), integer.size()));
    return {integer, all.substr(all.size() - keep)};
}

// Splits at ";" outside quoted text.
std::vector<std::string> Sections(const std::string& format) {
    std::vector<std::string> sections(1);
    char quote = 0;
    for (const char c : format) {
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == ';') {
            sections.emplace_back();
            continue;
        }
        sections.back() += c;
    }
    return sections;
}

struct TFloatLayout {
    int integerPlaceholders = 0;
    int minIntegerDigits = 0;
    int decimalPlaceholders = 0;
    int minDecimals = 0;
    bool thousands = false;
};

TFloatLayout LayoutOf(const std::string& section) {
    TFloatLayout layout;
    bool afterPoint = false;
    char quote = 0;
    int firstZero = -1;
    for (const char c : section) {
        if (quote) {
            if (c == quote) quote = 0;
            continue;
        }
        if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '.' && !afterPoint) {
            afterPoint = true;
        } else if (c == ',') {
            layout.thousands = true;
        } else if (c == '0' || c == '#') {
            if (afterPoint) {
                ++layout.decimalPlaceholders;
                if (c == '0') layout.minDecimals = layout.decimalPlaceholders;
            } else {
                if (c == '0' && firstZero < 0) firstZero = layout.integerPlaceholders;
                ++layout.integerPlaceholders;
            }
        }
    }
    if (firstZero >= 0) layout.minIntegerDigits = layout.integerPlaceholders - firstZero;
    return layout;
}

std::string ApplySection(const std::string& section, double magnitude, bool minus) {
    const TFloatLayout layout = LayoutOf(section);
    TDigits digits = DigitsOf(magnitude, layout.decimalPlaceholders);
    if (digits.integer.size() < static_cast<size_t>(layout.minIntegerDigits))
        digits.integer.insert(0, layout.minIntegerDigits - digits.integer.size(), '0');
    size_t shownDecimals = static_cast<size_t>(layout.minDecimals);
    const size_t lastNonZero = digits.decimals.find_last_not_of('0');
    if (lastNonZero != std::string::npos) shownDecimals = std::max(shownDecimals, lastNonZero + 1);
    const bool isZero = digits.integer.find_first_not_of('0') == std::string::npos &&
                        digits.decimals.substr(0, shownDecimals).find_first_not_of('0') == std::string::npos;

    const std::string& integer = digits.integer;
    const auto length = static_cast<int>(integer.size());
    const std::string thousands = ThousandsSeparator();
    std::string out = minus && !isZero ? "-" : "";
    const auto emitIntegerDigit = [&](int index) {
        out += integer[static_cast<size_t>(index)];
        const int remaining = length - index - 1;
        if (layout.thousands && remaining > 0 && remaining % 3 == 0) out += thousands;
    };

    int integerSlot = 0, decimalSlot = 0;
    bool afterPoint = false;
    for (size_t i = 0; i < section.size(); ++i) {
        const char c = section[i];
        if (c == '"' || c == '\'') {
            const size_t close = section.find(c, i + 1);
            out += section.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
            if (close == std::string::npos) break;
            i = close;
        } else if ((c == '0' || c == '#') && !afterPoint) {
            // The first placeholder also takes the digits that have no placeholder of their own.
            const int offset = length - layout.integerPlaceholders;
            if (integerSlot == 0)
                for (int d = 0; d < offset; ++d) emitIntegerDigit(d);
            const int index = integerSlot + offset;
            if (index >= 0 && index < length) emitIntegerDigit(index);
            ++integerSlot;
        } else if (c == '.' && !afterPoint) {
            afterPoint = true;
            if (layout.integerPlaceholders == 0)
                for (int d = 0; d < length; ++d) emitIntegerDigit(d);
            if (shownDecimals > 0) out += DecimalSeparator();
        } else if (c == '0' || c == '#') {
            const auto slot = static_cast<size_t>(decimalSlot++);
            if (slot < shownDecimals) out += digits.decimals[slot];
        } else if (c != ',') {
            out += c;
        }
    }
    return out;
}

std::string GeneralFormat(double x) {
    std::array<char, 64> buffer;
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), x);
    std::string text(buffer.data(), result.ptr);
    const size_t point = text.find('.');
    if (point != std::string::npos) text.replace(point, 1, DecimalSeparator());
    return text;
}

// --- Periods

constexpr std::string_view PeriodKeywords[] = {"Day", "Week", "Month", "2Months", "Quarter",
                                                "4Months", "Semester", "Year", "10Days"};
constexpr const char* DefaultPeriodFormats[] = {
    "[Day]dd/mm/yyyy", "[Week]xx-yyyy",    "[Month]mm/yyyy", "[2Months]x-yyyy",    "[Quarter]x-yyyy",
    "[4Months]x-yyyy", "[Semester]x-yyyy", "[Year]yyyy",     "[10Days]mm/yyyy - z",
};
// Periods per year of the kinds counted as year x n + part.
constexpr int PeriodsPerYear[] = {0, 0, 12, 6, 4, 3, 2, 1, 36};

bool IsKind(TPeriodKind kind) { return kind >= pkDay && kind <= pk10Days; }

void CheckKind(TPeriodKind kind, const char* routine) {
    if (!IsKind(kind)) RaiseBrelvantError(6, routine);
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

TDateTime CheckedDate(double date, const char* routine) {
    int year, month, day;
    if (!TryDecodeDate(date, year, month, day)) RaiseBrelvantError(6, routine);
    return date;
}

TDateTime CheckedEncode(int64_t year, int64_t month, int day, const char* routine) {
    TDateTime date;
    if (year < MinDateYear || year > MaxDateYear ||
        !TryEncodeDate(static_cast<int>(year), static_cast<int>(month), day, date))
        RaiseBrelvantError(6, routine);
    return date;
}

int YearOf(TDateTime date, const char* routine) {
    int year, month, day;
    if (!TryDecodeDate(date, year, month, day)) RaiseBrelvantError(6, routine);
    return year;
}

struct TWeekOfYear {
    int year, number;
};

TWeekOfYear WeekOfYear(int32_t week) {
    const TDateTime start = PeriodToDate(week, pkWeek);
    int year = YearOf(start, "PeriodYear");
    if (FirstWeekStart(year) > start) --year;
    if (year < MaxDateYear && FirstWeekStart(year + 1) <= start) ++year;
    const auto days = static_cast<int64_t>(std::llround(start - FirstWeekStart(year)));
    return {year, static_cast<int>(days / 7 + 1)};
}

std::string ZeroPadded(int64_t n, size_t width) {
    std::string text = std::to_string(n);
    if (text.size() < width) text.insert(0, width - text.size(), '0');
    return text;
}

size_t RunOf(const std::string& text, size_t at, char upperLetter, size_t most) {
    size_t n = 0;
    while (n < most && at + n < text.size() && Upper(text[at + n]) == upperLetter) ++n;
    return n;
}

}  // namespace

// --- Texts

bool SameText(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return Upper(x) == Upper(y); });
}

std::string TextBefore(const std::string& text, char c) { return text.substr(0, text.find(c)); }

std::string TextAfter(const std::string& text, char c) {
    const size_t at = text.find(c);
    return at == std::string::npos ? std::string() : text.substr(at + 1);
}

std::string RightText(const std::string& text, size_t n) { return text.substr(text.size() - std::min(n, text.size())); }

size_t CharacterCount(std::string_view text) {
    return static_cast<size_t>(std::ranges::count_if(
        text, [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string LeftCharacters(const std::string& text, size_t n) {
    size_t end = 0;
    for (size_t characters = 0; end < text.size(); ++end) {
        if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && characters++ == n) break;
    }
    return text.substr(0, end);
}

size_t LastPosOf(char c, const std::string& text) {
    const size_t at = text.rfind(c);
    return at == std::string::npos ? 0 : at + 1;
}

std::string DeleteChar(char c, const std::string& text) {
    std::string out = text;
    std::erase(out, c);
    return out;
}

std::string RepeatChar(char c, size_t n) { return std::string(n, c); }

std::string ReplaceAll(const std::string& find, const std::string& replacement, const std::string& text) {
    if (find.empty()) return text;
    std::string out;
    size_t start = 0;
    for (size_t at; (at = text.find(find, start)) != std::string::npos; start = at + find.size())
        out += text.substr(start, at - start) + replacement;
    return out + text.substr(start);
}

std::string DoubleBarToCrLf(const std::string& text) { return ReplaceAll("||", "\r\n", text); }

void SplitText(const std::string& text, char separator, TStringList& list) {
    list.Clear();
    size_t start = 0;
    while (start < text.size()) {
        const size_t at = text.find(separator, start);
        list.Add(text.substr(start, at - start));
        if (at == std::string::npos) break;
        start = at + 1;
    }
}

int IndexOfText(std::string_view text, std::span<const std::string_view> table) {
    for (size_t i = 0; i < table.size(); ++i)
        if (SameText(text, table[i])) return static_cast<int>(i);
    return -1;
}

std::string GroupThousands(const std::string& digits) {
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ThousandsGap;
        out += digits[i];
    }
    return out;
}

std::string IntToShortStr(int64_t n) { return std::to_string(n); }

void FreeListObjects(TStringList& list) {
    for (int i = list.Count() - 1; i >= 0; --i) delete list.Objects(i);
    list.Clear();
}

void FreeListObjects(std::vector<TObject*>& list) {
    for (auto it = list.rbegin(); it != list.rend(); ++it) delete *it;
    list.clear();
}

// --- Numbers

int64_t RoundHalfUp(double x) {
    constexpr double Limit = 9.2e18;  // inside the 64-bit range, with room for the half
    if (!(std::fabs(x) < Limit)) throw EConvertError("Number out of range for rounding");
    const double whole = std::trunc(x);
    if (x == whole + 0.5) return static_cast<int64_t>(whole) + 1;
    return static_cast<int64_t>(std::nearbyint(x));
}

double RoundToDigits(double x, int n) {
    try {
        if (n > 0) {
            const double scale = std::pow(10.0, n);
            return static_cast<double>(RoundHalfUp(x * scale)) / scale;
        }
        const double scale = std::pow(10.0, -n);
        return static_cast<double>(RoundHalfUp(x / scale)) * scale;
    } catch (const EConvertError&) {
        return x;
    }
}

bool ParseBoolean(const std::string& text, bool raiseOnError, bool defaultValue) {
    if (text == "1" || SameText(text, "TRUE")) return true;
    if (text == "0" || SameText(text, "FALSE")) return false;
    if (raiseOnError) RaiseBrelvantError(46, text);
    return defaultValue;
}

int ParseInteger(const std::string& text, bool raiseOnError) {
    const std::string separator = ThousandsSeparator();
    std::string digits = ReplaceAll(separator, "", text);
    if (IsBlankSeparator(separator)) digits = ReplaceAll(NarrowNoBreakSpace, "", ReplaceAll(NoBreakSpace, "", digits));
    std::erase(digits, ' ');
    const char* first = digits.data();
    const char* last = first + digits.size();
    if (first != last && *first == '+') ++first;
    int value = 0;
    const auto result = std::from_chars(first, last, value);
    if (first != last && result.ec == std::errc() && result.ptr == last) return value;
    if (raiseOnError) RaiseBrelvantError(8, text);
    return 0;
}

std::string FormatFloat(const std::string& format, double x) {
    if (std::isnan(x)) return "NAN";
    if (std::isinf(x)) return x < 0 ? "-INF" : "INF";
    if (format.empty()) return GeneralFormat(x);
    const std::vector<std::string> sections = Sections(format);
    if (x < 0 && sections.size() >= 2 && !sections[1].empty()) return ApplySection(sections[1], -x, false);
    if (x == 0 && sections.size() >= 3 && !sections[2].empty()) return ApplySection(sections[2], 0, false);
    return ApplySection(sections[0], std::fabs(x), x < 0);
}

std::string FormatNumber(const std::string& format, double x) {
    if (format.starts_with('[')) {
        const TPeriodKind kind = PeriodKindOfFormat(format);
        if (!(std::fabs(x) < 2147483648.0)) RaiseBrelvantError(6, "PeriodToDate");
        return FormatPeriod(format, static_cast<int32_t>(std::trunc(x)), kind);
    }
    std::string rest = format;
    if (rest.starts_with('{')) {
        const size_t close = rest.find('}');
        if (close != std::string::npos) rest.erase(0, close + 1);
    }
    return FormatFloat(rest, x);
}

// --- Calendar periods

TPeriodKind PeriodKindOfFormat(const std::string& format) {
    std::string keyword = format;
    if (format.starts_with('[')) {
        const size_t close = format.find(']');
        if (close == std::string::npos) RaiseBrelvantError(42, format);
        keyword = format.substr(1, close - 1);
    }
    const int index = IndexOfText(keyword, PeriodKeywords);
    return index < 0 ? pkUnknown : static_cast<TPeriodKind>(index);
}

std::string FormatPeriod(const std::string& format, int32_t period, TPeriodKind kind) {
    // A keyword outside the table has no index and no year to print.
    CheckKind(kind, "FormatPeriod");
    std::string rest = format.empty() ? DefaultPeriodFormats[kind] : format;
    const size_t close = rest.find(']');
    if (rest.starts_with('[') && close == std::string::npos) return {};
    if (close != std::string::npos) rest.erase(0, close + 1);

    if (kind == pkDay || kind == pkMonth || kind == pkYear) return FormatDateTime(rest, PeriodToDate(period, kind));
    if (period == 0 || rest.empty()) return {};

    const int index = PeriodIndexInYear(period, kind);
    const int year = PeriodYear(period, kind);
    const std::string dateSeparator = DateSeparator();
    std::string out;
    bool quoted = false;
    for (size_t i = 0; i < rest.size();) {
        const char c = rest[i];
        const char upper = Upper(c);
        size_t n = 1;
        if (c == '"') {
            quoted = !quoted;
        } else if (c == '-') {
            out += PeriodSeparator;
        } else if (c == '/') {
            out += dateSeparator;
        } else if (quoted) {
            out += c;
        } else if (upper == 'X') {
            n = RunOf(rest, i, 'X', 2);
            out += n == 2 ? ZeroPadded(index, 2) : std::to_string(index);
        } else if (upper == 'Y') {
            n = RunOf(rest, i, 'Y', 4);
            if (n == 3) n = 2;  // "YYY" is "YY" followed by "Y"
            if (n == 4)
                out += ZeroPadded(year, 4);
            else if (n == 2)
                out += ZeroPadded(year % 100, 2);
            else
                out += std::to_string(year);
        } else if (kind == pk10Days && upper == 'M') {
            n = RunOf(rest, i, 'M', 2);
            const int month = period % 36 / 3 + 1;
            out += n == 2 ? ZeroPadded(month, 2) : std::to_string(month);
        } else if (kind == pk10Days && upper == 'Z') {
            out += std::to_string(period % 3 + 1);
        } else {
            out += c;
        }
        i += n;
    }
    return out;
}

TDateTime FirstWeekStart(int year) {
    const TDateTime january1 = CheckedEncode(year, 1, 1, "FirstWeekStartDate");
    const int weekday = DayOfWeek(january1);
    const TDateTime saturdayBefore = january1 - weekday;
    // With weeks from Monday this is the ISO rule: the first week holds the first Thursday.
    return saturdayBefore + FirstDayOfWeek + (weekday <= 5 ? 1 : 8);
}

int32_t DateToPeriod(TPeriodKind kind, TDateTime date) {
    CheckKind(kind, "DateToPeriod");
    int year, month, day;
    if (!TryDecodeDate(date, year, month, day)) RaiseBrelvantError(6, "DateToPeriod");
    const auto dayNumber = static_cast<int64_t>(std::floor(date));
    switch (kind) {
        case pkDay: return static_cast<int32_t>(dayNumber);
        // Floor division, so that days before the first week of the epoch fall into week -1.
        case pkWeek: return static_cast<int32_t>(FloorDiv(dayNumber - FirstDayOfWeek - 1, 7));
        case pk10Days: return year * 36 + (month - 1) * 3 + std::min(day - 1, 29) / 10;
        default: {
            const int perYear = PeriodsPerYear[kind];
            return year * perYear + (month - 1) / (12 / perYear);
        }
    }
}

TDateTime PeriodToDate(int32_t period, TPeriodKind kind) {
    CheckKind(kind, "PeriodToDate");
    const char* routine = "PeriodToDate";
    switch (kind) {
        case pkDay: return CheckedDate(period, routine);
        case pkWeek: return CheckedDate(static_cast<double>(int64_t{period} * 7 + FirstDayOfWeek + 1), routine);
        case pk10Days: {
            const int32_t rest = period % 36;
            return CheckedEncode(period / 36, rest / 3 + 1, rest % 3 * 10 + 1, routine);
        }
        default: {
            const int perYear = PeriodsPerYear[kind];
            return CheckedEncode(period / perYear, period % perYear * (12 / perYear) + 1, 1, routine);
        }
    }
}

int PeriodYear(int32_t period, TPeriodKind kind) {
    CheckKind(kind, "PeriodYear");
    switch (kind) {
        case pkDay: return YearOf(period, "PeriodYear");
        case pkWeek: return WeekOfYear(period).year;
        case pk10Days: return period / 36;
        default: return period / PeriodsPerYear[kind];
    }
}

int PeriodIndexInYear(int32_t period, TPeriodKind kind) {
    CheckKind(kind, "PeriodIndexInYear");
    switch (kind) {
        case pkDay: {
            const int year = YearOf(period, "PeriodYear");
            return static_cast<int>(period - EncodeDate(year, 1, 1) + 1);
        }
        case pkWeek: return WeekOfYear(period).number;
        case pk10Days: return period % 36 + 1;
        default: return period % PeriodsPerYear[kind] + 1;
    }
}
