#include "tzlib/TextFormats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "TestSupport.h"
#include "platform/Classes.h"
#include "tzlib/Errors.h"

namespace {

std::vector<std::string> Items(const TStringList& list) {
    std::vector<std::string> items;
    for (int i = 0; i < list.Count(); ++i) items.push_back(list.Strings(i));
    return items;
}

class TextFormatsTest : public testing::Test {
protected:
    TLibrarySettingsGuard settings;
    TCLocaleGuard cLocale{"C"};
};

TEST(Texts, PiecesOfTexts) {
    EXPECT_EQ(TextBefore("a.tif#3", '#'), "a.tif");
    EXPECT_EQ(TextBefore("a.tif", '#'), "a.tif");
    EXPECT_EQ(TextAfter("a.tif#3", '#'), "3");
    EXPECT_EQ(TextAfter("a.tif", '#'), "");
    EXPECT_EQ(RightText("abcdef", 2), "ef");
    EXPECT_EQ(RightText("ab", 5), "ab");
    EXPECT_EQ(CharacterCount("a\xC3\xA9\xE2\x82\xAC"), 3u);
    EXPECT_EQ(LeftCharacters("a\xC3\xA9\xE2\x82\xAC", 2), "a\xC3\xA9");
    EXPECT_EQ(LeftCharacters("a\xC3\xA9", 5), "a\xC3\xA9");
    EXPECT_EQ(LeftCharacters("abc", 0), "");
    EXPECT_EQ(LastPosOf('/', "/a/b"), 3u);
    EXPECT_EQ(LastPosOf('x', "/a/b"), 0u);
    EXPECT_EQ(DeleteChar('"', "\"/opt/a b\" x"), "/opt/a b x");
    EXPECT_EQ(RepeatChar('=', 3), "===");
    EXPECT_EQ(ReplaceAll("aa", "a", "aaaa"), "aa");  // the replacement is not searched again
    EXPECT_EQ(ReplaceAll("ab", "b", "xabyab"), "xbyb");
    EXPECT_EQ(DoubleBarToCrLf("one||two|||three"), "one\r\ntwo\r\n|three");
    EXPECT_EQ(GroupThousands("1234567"), "1 234 567");
    EXPECT_EQ(GroupThousands("123"), "123");
    EXPECT_EQ(GroupThousands("7"), "7");
    EXPECT_EQ(IntToShortStr(-42), "-42");
    constexpr std::string_view modes[] = {"Single", "Book"};
    EXPECT_EQ(IndexOfText("BOOK", modes), 1);
    EXPECT_EQ(IndexOfText("Booklet", modes), -1);
}

TEST(Texts, SplitKeepsInnerEmptyPiecesOnly) {
    TStringList list;
    list.Add("old");
    SplitText("Arial,,10,clBlack,", ',', list);
    EXPECT_EQ(Items(list), (std::vector<std::string>{"Arial", "", "10", "clBlack"}));
    SplitText("", ',', list);
    EXPECT_EQ(list.Count(), 0);
    SplitText(";a", ';', list);
    EXPECT_EQ(Items(list), (std::vector<std::string>{"", "a"}));
}

TEST(Texts, FreeListObjectsFreesLastFirst) {
    struct TTracked : TObject {
        TTracked(std::vector<int>& log, int id) : log_(log), id_(id) {}
        ~TTracked() override { log_.push_back(id_); }
        std::vector<int>& log_;
        int id_;
    };
    std::vector<int> freed;
    TStringList list;
    list.AddObject("a", new TTracked(freed, 1));
    list.Add("no object");
    list.AddObject("b", new TTracked(freed, 2));
    FreeListObjects(list);
    EXPECT_EQ(freed, (std::vector<int>{2, 1}));
    EXPECT_EQ(list.Count(), 0);

    std::vector<TObject*> pointers{new TTracked(freed, 3), new TTracked(freed, 4)};
    FreeListObjects(pointers);
    EXPECT_EQ(freed, (std::vector<int>{2, 1, 4, 3}));
    EXPECT_TRUE(pointers.empty());
}

TEST(Numbers, RoundHalfUpAndToDigits) {
    const std::pair<double, int64_t> halves[] = {{2.5, 3},  {-2.5, -2}, {3.5, 4},  {-3.5, -4}, {0.5, 1},
                                                 {-0.5, 0}, {2.4, 2},   {-2.6, -3}, {1e15 + 0.5, 1000000000000001}};
    for (const auto& [x, expected] : halves) EXPECT_EQ(RoundHalfUp(x), expected) << x;

    EXPECT_DOUBLE_EQ(RoundToDigits(1.005, 2), 1.0);  // 1.005 is a little below itself as a double
    EXPECT_DOUBLE_EQ(RoundToDigits(2.25, 1), 2.3);
    EXPECT_DOUBLE_EQ(RoundToDigits(1250, -2), 1300);
    EXPECT_DOUBLE_EQ(RoundToDigits(1249, -2), 1200);
    EXPECT_DOUBLE_EQ(RoundToDigits(1e300, 10), 1e300);  // overflows: unchanged
}

TEST(Numbers, ParsesBooleans) {
    const struct {
        std::string text;
        bool expected;
    } cases[] = {{"1", true}, {"TRUE", true}, {"true", true}, {"tRuE", true}, {"0", false}, {"false", false}};
    for (const auto& c : cases) EXPECT_EQ(ParseBoolean(c.text, true, !c.expected), c.expected) << c.text;
    EXPECT_TRUE(ParseBoolean("yes", false, true));
    EXPECT_FALSE(ParseBoolean("", false, false));
    EXPECT_EQ(ErrorCodeOf([] { ParseBoolean("yes", true, false); }), 46);
}

TEST_F(TextFormatsTest, ParsesIntegersWithBlanksAndSeparators) {
    const std::pair<std::string, int> good[] = {{"1 234", 1234}, {" 12 ", 12},         {"1,234,567", 1234567},
                                                {"-5", -5},      {"+7", 7},            {"2147483647", 2147483647}};
    for (const auto& [text, expected] : good) EXPECT_EQ(ParseInteger(text, true), expected) << text;
    for (const std::string bad : {"", " ", "12a", "1.5", "2147483648", "--1", "+"}) {
        EXPECT_EQ(ErrorCodeOf([&] { ParseInteger(bad, true); }), 8) << bad;
        EXPECT_EQ(ParseInteger(bad, false), 0) << bad;
    }
}

TEST_F(TextFormatsTest, FormatsFloatsWithTheClassLibrarysFormat) {
    const struct {
        std::string format;
        double x;
        std::string expected;
    } cases[] = {
        {"0", 2.5, "3"},           {"0", -2.5, "-3"},           {"0", -0.4, "0"},
        {"0.00", 1.005, "1.01"},   {"0.0", 1023.96, "1024.0"},  {"0", 999.5, "1000"},
        {"#,##0", 1234567, "1,234,567"}, {"#,##0.00", -1234.5, "-1,234.50"},
        {"0.##", 1.5, "1.5"},      {"0.##", 1, "1"},            {"#.##", 0.5, ".5"},
        {"000", 7, "007"},         {"00-00", 1234, "12-34"},    {"0.0 'kg'", 2, "2.0 kg"},
        {"\"n=\"0", 5, "n=5"},     {"0;(0);zero", -5, "(5)"},   {"0;(0);zero", 0, "zero"},
        {"0;(0)", 5, "5"},         {"0;(0)", -5, "(5)"},        {"", 2.5, "2.5"},            {"0.0", 12345678.25, "12345678.3"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatFloat(c.format, c.x), c.expected) << c.format << " " << c.x;
    EXPECT_EQ(FormatNumber("{two decimals}0.00", 3.14159), "3.14");
    EXPECT_EQ(FormatNumber("0.0", 1.25), "1.3");
}

TEST_F(TextFormatsTest, UsesTheLocalesSeparators) {
    TLocaleProvider german("de_DE.UTF-8");
    ASSERT_TRUE(german.Available());
    TCLocaleGuard locale("de_DE.UTF-8");
    ASSERT_TRUE(locale.Ok());
    EXPECT_EQ(FormatFloat("#,##0.00", 1234567.891), "1.234.567,89");
    EXPECT_EQ(FormatFloat("0.0", 2.25), "2,3");
    EXPECT_EQ(FormatNumber("{comment}0.00", 3.14159), "3,14");
    EXPECT_EQ(ParseInteger("1.234.567", true), 1234567);
    EXPECT_EQ(ParseInteger("1 234", true), 1234);
    EXPECT_EQ(FormatNumber("[Month]mm/yyyy", 2024 * 12 + 2), "03.2024");
    EXPECT_EQ(FormatNumber("[10Days]mm/yyyy - z", 2024 * 36 + 35), "12.2024 - 3");
}

TEST_F(TextFormatsTest, ABlankThousandsSeparatorAlsoDropsNoBreakSpaces) {
    TLocaleProvider french("fr_FR.UTF-8");
    ASSERT_TRUE(french.Available());
    TCLocaleGuard locale("fr_FR.UTF-8");
    ASSERT_TRUE(locale.Ok());
    EXPECT_EQ(ParseInteger("1\xE2\x80\xAF" "234", true), 1234);
    EXPECT_EQ(ParseInteger("1\xC2\xA0" "234 567", true), 1234567);
}

TEST_F(TextFormatsTest, PrintsPeriodFormats) {
    EXPECT_EQ(FormatNumber("[Quarter]x-yyyy", 8099), "4-2024");
    EXPECT_EQ(FormatNumber("[10Days]mm/yyyy - z", 2024 * 36 + 35), "12/2024 - 3");
    EXPECT_EQ(FormatNumber("[Day]dd/mm/yyyy", EncodeDate(2024, 2, 29)), "29/02/2024");
    EXPECT_EQ(FormatNumber("[day]yyyy", EncodeDate(2024, 2, 29) + 0.75), "2024");  // keyword in any case
    EXPECT_EQ(FormatNumber("[Year]yyyy", 2024), "2024");
    EXPECT_EQ(FormatNumber("[Semester]x-yy", 2024 * 2 + 1), "2-24");
    EXPECT_EQ(FormatNumber("[Week]xx-yyyy", DateToPeriod(pkWeek, EncodeDate(2024, 12, 30))), "01-2025");
    EXPECT_EQ(FormatNumber("[Week]x/y", DateToPeriod(pkWeek, EncodeDate(2021, 1, 3))), "53/2020");
    EXPECT_EQ(FormatPeriod("", 8099, pkQuarter), "4-2024");  // the kind's default format

    PeriodSeparator = '~';
    EXPECT_EQ(FormatNumber("[Quarter]\"Quarter-x\" x-yy", 8099), "Quarter~x 4~24");  // quoted letters stay
    EXPECT_EQ(FormatNumber("[Quarter]x", 0), "");
    EXPECT_EQ(FormatNumber("[Quarter]", 8099), "");
    EXPECT_EQ(ErrorCodeOf([] { FormatNumber("[Fortnight]x-yyyy", 5); }), 6);
    EXPECT_EQ(ErrorCodeOf([] { FormatNumber("[Week", 5); }), 42);
    EXPECT_EQ(ErrorCodeOf([] { PeriodToDate(10000 * 12, pkMonth); }), 6);
    EXPECT_EQ(ErrorCodeOf([] { DateToPeriod(pkUnknown, 1000); }), 6);
}

TEST_F(TextFormatsTest, WeeksCanStartOnSunday) {
    FirstDayOfWeek = 0;
    const TDateTime sunday = EncodeDate(2023, 1, 1);
    EXPECT_EQ(PeriodToDate(DateToPeriod(pkWeek, sunday), pkWeek), sunday);
    EXPECT_EQ(PeriodToDate(DateToPeriod(pkWeek, sunday + 6), pkWeek), sunday);
    EXPECT_EQ(PeriodIndexInYear(DateToPeriod(pkWeek, sunday), pkWeek), 1);
}

// Every period of a date, checked against what GNU date says of the same dates.
TEST_F(TextFormatsTest, CalendarPeriodsAgreeWithGnuDate) {
    std::vector<TDateTime> dates;
    for (int year = 1995; year <= 2035; ++year) {
        for (int day = 20; day <= 31; ++day) dates.push_back(EncodeDate(year, 12, day));
        for (int day = 1; day <= 10; ++day) dates.push_back(EncodeDate(year, 1, day));
        for (const int day : {1, 10, 11, 20, 21, 28})
            for (int month = 2; month <= 11; month += 3) dates.push_back(EncodeDate(year, month, day));
        dates.push_back(EncodeDate(year, 5, 31));
        dates.push_back(EncodeDate(year, 8, 30));
        dates.push_back(EncodeDate(year, 11, 29));
    }
    dates.push_back(EncodeDate(2024, 2, 29));
    dates.push_back(EncodeDate(2024, 3, 31));

    TScratchFolder folder;
    std::string input;
    for (const TDateTime date : dates) input += FormatDateTime("yyyy-mm-dd", date) + "\n";
    WriteFile(folder.Path("dates"), input);
    const TCommandResult gnuDate =
        RunTool("LC_ALL=C date -f " + Quoted(folder.Path("dates")) + " '+%G %V %Y %q %m %d %j'", false);
    ASSERT_EQ(gnuDate.status, 0);

    std::istringstream lines(gnuDate.output);
    for (const TDateTime date : dates) {
        std::string isoYear, isoWeek, year, quarter, month, day, dayOfYear;
        ASSERT_TRUE(lines >> isoYear >> isoWeek >> year >> quarter >> month >> day >> dayOfYear);
        SCOPED_TRACE(year + "-" + month + "-" + day);
        const int tenDays = std::min(std::stoi(day) - 1, 29) / 10 + 1;
        EXPECT_EQ(FormatNumber("[Week]xx-yyyy", DateToPeriod(pkWeek, date)), isoWeek + "-" + isoYear);
        EXPECT_EQ(FormatNumber("[Quarter]x-yyyy", DateToPeriod(pkQuarter, date)), quarter + "-" + year);
        EXPECT_EQ(FormatNumber("[10Days]mm/yyyy - z", DateToPeriod(pk10Days, date)),
                  month + "/" + year + " - " + std::to_string(tenDays));
        EXPECT_EQ(FormatNumber("[Month]mm/yyyy", DateToPeriod(pkMonth, date)), month + "/" + year);
        EXPECT_EQ(PeriodIndexInYear(DateToPeriod(pkDay, date), pkDay), std::stoi(dayOfYear));
        // Each period starts on or before the date, and the next one after it.
        for (int kind = pkDay; kind <= pk10Days; ++kind) {
            const int32_t period = DateToPeriod(static_cast<TPeriodKind>(kind), date);
            EXPECT_LE(PeriodToDate(period, static_cast<TPeriodKind>(kind)), date) << kind;
            EXPECT_GT(PeriodToDate(period + 1, static_cast<TPeriodKind>(kind)), date) << kind;
        }
    }
}

TEST_F(TextFormatsTest, FormatsDatesWithTheClassLibrarysFormat) {
    const TDateTime date = EncodeDate(2024, 3, 9) + (13 * 3600 + 5 * 60 + 7) / 86400.0;
    EXPECT_EQ(FormatDateTime("d/m/yy h:n:s", date), "9/3/24 13:5:7");
    EXPECT_EQ(FormatDateTime("dd.mm.yyyy hh:mm:ss", date), "09.03.2024 13:05:07");
    EXPECT_EQ(FormatDateTime("ddd dddd mmm mmmm", date), "Sat Saturday Mar March");
    EXPECT_EQ(FormatDateTime("'day' d \"of\" m", date), "day 9 of 3");
    EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);
    EXPECT_EQ(DayOfWeek(EncodeDate(1900, 1, 1)), 2);
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
}

TEST_F(TextFormatsTest, CalendarAndClockBoundaries) {
    TDateTime date;
    EXPECT_TRUE(TryEncodeDate(2000, 2, 29, date));  // divisible by 400
    EXPECT_FALSE(TryEncodeDate(1900, 2, 29, date));  // by 100 only
    EXPECT_FALSE(TryEncodeDate(2023, 2, 29, date));
    EXPECT_FALSE(TryEncodeDate(10000, 1, 1, date));

    const TDateTime day = EncodeDate(2024, 12, 31);
    const double second = 1 / 86400.0;
    EXPECT_EQ(FormatDateTime("yyyy-mm-dd hh:nn:ss", day + 1 - 0.3 * second), "2024-12-31 23:59:59");
    EXPECT_EQ(FormatDateTime("hh:nn:ss", day + 0.5 - 0.3 * second), "11:59:59");
    EXPECT_EQ(FormatDateTime("hh:nn:ss", day + 0.5 - 0.0004 * second), "12:00:00");  // to the millisecond
}

// File times come from outside: a year beyond the calendar is refused, not overflowed.
TEST_F(TextFormatsTest, FileTimesOutsideTheCalendarAreRefused) {
    // Two days from either end of the calendar, so that no time zone moves them across it.
    EXPECT_EQ(FormatDateTime("yyyy-mm", UnixTimeToDateTime({253402300799 - 2 * 86400, 0})), "9999-12");
    EXPECT_EQ(FormatDateTime("yyyy-mm", UnixTimeToDateTime({-62135596800 + 2 * 86400, 0})), "0001-01");
    for (const time_t seconds : {time_t{253402300800 + 2 * 86400}, time_t{67767976233532800},
                                 time_t{-62135596800 - 2 * 86400}})
        EXPECT_THROW(UnixTimeToDateTime({seconds, 0}), EConvertError) << seconds;
}

// Every format loop moves on by at least one byte, whatever the byte.
TEST_F(TextFormatsTest, FormatsEndOnAnyByte) {
    const TDateTime date = EncodeDate(2024, 3, 9);
    EXPECT_EQ(FormatDateTime(std::string("\x02\xFF"), date), "\x02\xFF");
    EXPECT_EQ(FormatDateTime("\xC3\xA9t\xC3\xA9 yyyy \xE2\x82\xAC", date), "\xC3\xA9t\xC3\xA9 2024 \xE2\x82\xAC");
    EXPECT_EQ(FormatDateTime("yyyy\xE2\x82", date), "2024\xE2\x82");  // a character cut at the end
    EXPECT_EQ(FormatNumber("[Day]\xFF\xFEyyyy", date), "\xFF\xFE" "2024");
    EXPECT_EQ(FormatNumber("[Quarter]\xFFx-yyyy\x80", 8099), "\xFF" "4-2024\x80");
    EXPECT_EQ(FormatNumber("\xFF" "0\xC3\xA9", 5), "\xFF" "5\xC3\xA9");
}

}  // namespace
