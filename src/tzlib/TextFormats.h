#pragma once
// Small routines on texts and numbers, and a number formatter that also prints calendar periods:
// "[Quarter]x-yyyy" prints a period number as "4-2024".
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tzlib/DateTime.h"

class TObject;
class TStringList;

// --- Texts

// Equal ignoring the letter case of A to Z.
bool SameText(std::string_view a, std::string_view b);
// The part before the first c; the whole text when c is absent.
std::string TextBefore(const std::string& text, char c);
// The part after the first c; empty when c is absent.
std::string TextAfter(const std::string& text, char c);
std::string RightText(const std::string& text, size_t n);
// Counted and cut in characters of UTF-8, never inside one.
size_t CharacterCount(std::string_view text);
std::string LeftCharacters(const std::string& text, size_t n);
// Position counted from 1 of the last c, 0 when absent.
size_t LastPosOf(char c, const std::string& text);
std::string DeleteChar(char c, const std::string& text);
std::string RepeatChar(char c, size_t n);
// Every occurrence, left to right; the replacement is not searched again.
std::string ReplaceAll(const std::string& find, const std::string& replacement, const std::string& text);
std::string DoubleBarToCrLf(const std::string& text);
// The pieces between separators; two adjacent separators give an empty piece, a trailing
// separator none.
void SplitText(const std::string& text, char separator, TStringList& list);
// Index of the first entry equal to the text ignoring letter case, -1 when none.
int IndexOfText(std::string_view text, std::span<const std::string_view> table);
extern std::string ThousandsGap;  // one blank
// "1234567" gives "1 234 567".
std::string GroupThousands(const std::string& digits);
std::string IntToShortStr(int64_t n);

// Frees every item (of a string list: every attached object), last first, then clears the list.
void FreeListObjects(TStringList& list);
void FreeListObjects(std::vector<TObject*>& list);

// --- Numbers

inline int IntMin(int a, int b) { return a < b ? a : b; }
inline int IntMax(int a, int b) { return a > b ? a : b; }
// Positive halves round up, negative halves to even: 2.5 gives 3, -2.5 gives -2.
int64_t RoundHalfUp(double x);
// To n decimals (n above 0) or to a multiple of 10^-n; x unchanged when that overflows.
double RoundToDigits(double x, int n);
// "1"/"TRUE" and "0"/"FALSE" in any case; else error 46 when raising, else the default.
bool ParseBoolean(const std::string& text, bool raiseOnError, bool defaultValue);
// Ignores blanks and the locale's thousands separator; bad text raises error 8 or gives 0.
int ParseInteger(const std::string& text, bool raiseOnError);

// The class library's float format: "0" and "#" digits, "." and ",", quoted text, and up to three
// sections ("positive;negative;zero"), with the locale's separators; halves away from zero.
std::string FormatFloat(const std::string& format, double x);
// A period format when the format begins with "[", else FormatFloat after a leading "{comment}".
std::string FormatNumber(const std::string& format, double x);

// --- Calendar periods

enum TPeriodKind : int {
    pkDay, pkWeek, pkMonth, pk2Months, pkQuarter, pk4Months, pkSemester, pkYear, pk10Days,
    pkUnknown  // a bracketed keyword outside the table
};

extern uint8_t FirstDayOfWeek;  // 1: weeks begin on Monday, 0: on Sunday
extern char PeriodSeparator;    // printed for every "-" of a period format

TPeriodKind PeriodKindOfFormat(const std::string& format);
std::string FormatPeriod(const std::string& format, int32_t period, TPeriodKind kind);
// The first day of the first week of the year.
TDateTime FirstWeekStart(int year);
int32_t DateToPeriod(TPeriodKind kind, TDateTime date);
TDateTime PeriodToDate(int32_t period, TPeriodKind kind);
int PeriodYear(int32_t period, TPeriodKind kind);
int PeriodIndexInYear(int32_t period, TPeriodKind kind);
