#include "tzlib/Errors.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <regex>

#include "TestSupport.h"
#include "platform/Classes.h"

namespace {

const std::string CrLf = "\r\n";

std::string CatalogueText(uint16_t code) {
    switch (code) {
        case 1: return "First//Second||Third";
        case 2: return "Ends in a line break//";
        case 139: return "Code";
        case 300: return "Overwrite the file";
        default: return {};
    }
}

class ErrorsTest : public testing::Test {
protected:
    TLibrarySettingsGuard settings;
    TScratchFolder folder;
};

struct TCompositionCase {
    int32_t code;
    std::string param, suffix;
    bool withCode;
    std::string expected;
};

TEST_F(ErrorsTest, ComposesTextsFromCodeParameterAndSuffix) {
    const std::string p200(200, 'p'), p201(201, 'p');
    std::string wide200;  // 200 characters of two bytes each
    for (int i = 0; i < 200; ++i) wide200 += "\xC3\xA9";
    const TCompositionCase cases[] = {
        {4, "/pics/a.jpg", ".", false, "File not found : /pics/a.jpg."},
        {4, "/pics/a.", ".", false, "File not found : /pics/a."},          // no second full stop
        {4, "/pics/a.jpg", "", false, "File not found : /pics/a.jpg"},     // the exception's own text
        {32, "/pics/a.pdf", " ?", false, "This file already exists : /pics/a.pdf ?"},
        {32, "/pics/a.pdf ?", " ?", false, "This file already exists : /pics/a.pdf ?"},
        {4, "", ".", false, "File not found."},
        {4, "", " ?", false, "File not found ?"},
        {4, "", "", false, "File not found"},
        {56, "", ".", false, "Brelvant Dovrant files were found !"},      // ends in "!"
        {54, "", ".", false, "Can't find Brelvant Dovrant configuration Parameters."},
        {7, "x", ".", false, "Error 7 : x."},                             // no text in the table
        {51, "", ".", false, "Error 51."},
        {0, "No pic selected", ".", true, "No pic selected"},              // code 0: the text itself
        {0, "", ".", false, ""},
        {4, p200, ".", false, "File not found : " + p200 + "."},
        {4, p201, ".", false, "File not found. :" + CrLf + p201 + "."},
        {4, p201, "", false, "File not found :" + CrLf + p201 + "."},
        {4, p201, " ?", false, "File not found ? :" + CrLf + p201 + "."},
        {4, wide200, ".", false, "File not found : " + wide200 + "."},    // characters, not bytes
        {4, "x", ".", true, "File not found : x."},                       // no label without a lookup
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.param.substr(0, 20) + " code " + std::to_string(c.code));
        EXPECT_EQ(GetErrorText(c.code, c.param, c.suffix, c.withCode), c.expected);
    }
}

TEST_F(ErrorsTest, AnInstalledLookupReplacesTheTableAndLabelsCodes) {
    ErrorTextCallback = CatalogueText;
    const TCompositionCase cases[] = {
        {1, "", "", false, "First" + CrLf + "Second" + CrLf + "Third"},
        {2, "/a.jpg", ".", false, "Ends in a line break" + CrLf + "/a.jpg."},  // no " : " after a break
        {4, "/a.jpg", ".", false, "Error 4 : /a.jpg."},                       // the table is not consulted
        {300, "/a.pdf", " ?", false, "Overwrite the file : /a.pdf ?"},
        {300, "/a.pdf", ".", true, "Overwrite the file : /a.pdf." + CrLf + "[Code 300]"},
        {0, "Plain", ".", true, "Plain"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(GetErrorText(c.code, c.param, c.suffix, c.withCode), c.expected);
    }
}

TEST_F(ErrorsTest, RaisedErrorsCarryCodeParameterAndMessage) {
    try {
        RaiseBrelvantError(4, "/pics/a.jpg");
        FAIL();
    } catch (const EBrelvantError& e) {
        EXPECT_EQ(e.ErrorCode, 4);
        EXPECT_EQ(e.ErrorParam, "/pics/a.jpg");
        EXPECT_EQ(e.Message(), "File not found : /pics/a.jpg");
    }
    ErrorTextCallback = CatalogueText;
    ShowErrorCodes = true;
    try {
        RaiseBrelvantError(300, "x");
        FAIL();
    } catch (const EBrelvantError& e) {
        EXPECT_EQ(e.Message(), "Overwrite the file : x" + CrLf + "[Code 300]");
    }
}

TEST_F(ErrorsTest, TracesRaisedErrorsButNotValueParsingOnes) {
    TraceErrors = true;
    TraceFileName = folder.Path("errors.txt");
    for (const int32_t code : {8, 26, 27, 46}) EXPECT_THROW(RaiseBrelvantError(code, "v"), EBrelvantError);
    EXPECT_FALSE(std::filesystem::exists(TraceFileName));

    EXPECT_THROW(RaiseBrelvantError(4, "/a.jpg"), EBrelvantError);
    EXPECT_THROW(RaiseBrelvantError(51, "/d"), EBrelvantError);
    const std::string trace = ReadFile(TraceFileName);
    const std::regex entry("\r\n\r\n\\*\\*\\*\\*\\* [^\t\r\n]+\tEBrelvantError\r\n");
    EXPECT_EQ(std::distance(std::sregex_iterator(trace.begin(), trace.end(), entry), std::sregex_iterator()), 2)
        << trace;
    EXPECT_NE(trace.find("EBrelvantError\r\nFile not found : /a.jpg.\r\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("EBrelvantError\r\nError 51 : /d.\r\n"), std::string::npos) << trace;
}

TEST_F(ErrorsTest, TraceFallsBackToNumberedFilesAndSaysWhy) {
    TraceFileName = folder.Path("errors.txt");
    // Folders in the way of the first two names.
    std::filesystem::create_directory(folder.Path("errors.txt"));
    std::filesystem::create_directory(folder.Path("errors1.txt"));
    WriteTrace("the text");
    EXPECT_EQ(ReadFile(folder.Path("errors2.txt")), "Trace: Can't open file " + folder.Path("errors.txt") + CrLf +
                                                    "Trace: Can't open file " + folder.Path("errors1.txt") + CrLf +
                                                    "the text" + CrLf);
}

TEST_F(ErrorsTest, LogStartsWithHeaderAndTakesStampedEntries) {
    const TWindowHooksGuard windows({.applicationTitle = [] { return std::string("Brelvant Test"); }});
    LogFileName = folder.Path("run.log");
    WriteLog("plain line", false);
    WriteLog("stamped line", true);
    WriteLog("two" + CrLf + "lines", false);
    const std::string log = ReadFile(LogFileName);
    const std::string rule(20, '=');
    const std::regex expected(rule + " run\\.log " + rule + "\r\nBrelvant Test\r\nplain line\r\n" +
                              "\r\n\r\n\\*\\*\\*\\*\\* [^\t\r\n]+\tstamped line\r\n" + "\r\ntwo\r\nlines\r\n\r\n");
    EXPECT_TRUE(std::regex_match(log, expected)) << log;

    WriteLog(std::string(20000, 'x'), false);
    EXPECT_EQ(ReadFile(LogFileName).size(), log.size() + 10000);
}

TEST_F(ErrorsTest, SilentModeLogsInsteadOfShowingBoxes) {
    TScriptedPrompterGuard prompter;
    SilentMode = true;
    LogFileName = folder.Path("silent.log");

    EXPECT_TRUE(AskYesNo(32, "/a.pdf"));
    EXPECT_TRUE(AskOkCancel(4, "/a.pdf", true));
    EXPECT_FALSE(std::filesystem::exists(LogFileName));  // questions leave no trace

    ShowErrorCode(4, "/a.jpg");
    ShowExceptionBox(Exception("Conversion failed"));
    try {
        ShowMessageBox("Anything", 64);
        FAIL();
    } catch (const EBrelvantError& e) {
        EXPECT_EQ(e.ErrorCode, 2);
        EXPECT_EQ(e.ErrorParam, "CustomMsg");
    }
    EXPECT_THROW(LogAndRaise(5, "/b.jpg"), EBrelvantError);
    EXPECT_THROW(RaiseFatal(15, "/c"), EBrelvantError);
    EXPECT_TRUE(prompter->boxes.empty());

    const std::string log = ReadFile(LogFileName);
    const std::string rule(20, '=');
    EXPECT_TRUE(log.starts_with(rule + " silent.log " + rule + "\r\n\r\n")) << log;  // no title line
    for (const char* part :
         {"\tError: File not found : /a.jpg.\r\n", "\tError: Conversion failed\r\n",
          "\tError:\r\n\"Internal error : CustomMsg.\"\r\n\r\n", "\tError:\r\n\"Can't open file : /b.jpg.\"\r\n\r\n",
          "\tError:\r\n\"Can't create directory : /c.\"\r\n\r\n"})
        EXPECT_NE(log.find(part), std::string::npos) << part;
}

TEST_F(ErrorsTest, BoxesAndQuestionsGoThroughThePrompter) {
    const TWindowHooksGuard windows({.applicationTitle = [] { return std::string("Brelvant Test"); }});
    TScriptedPrompterGuard prompter;
    prompter->answers = {idOk, idNo, idYes, idCancel, idOk, idOk};

    ShowErrorCode(4, "/a.jpg");
    EXPECT_FALSE(AskYesNo(32, "/a.pdf"));
    EXPECT_TRUE(AskYesNo(0, "Quit with no PDF output?"));
    EXPECT_FALSE(AskOkCancel(4, "/b.jpg", true));
    EXPECT_TRUE(AskOkCancel(4, "/b.jpg", false));
    ShowExceptionBox(Exception("Conversion failed"));

    const std::vector<TScriptedPrompter::Box> expected = {
        {"Brelvant Test", "File not found : /a.jpg.", TMsgIcon::Error, TMsgButtons::Ok},
        {"Brelvant Test", "This file already exists : /a.pdf ?", TMsgIcon::Question, TMsgButtons::YesNo},
        {"Brelvant Test", "Quit with no PDF output?", TMsgIcon::Question, TMsgButtons::YesNo},
        {"Brelvant Test", "File not found : /b.jpg.", TMsgIcon::Warning, TMsgButtons::OkCancel},
        {"Brelvant Test", "File not found : /b.jpg.", TMsgIcon::Warning, TMsgButtons::Ok},
        {"Brelvant Test", "Conversion failed", TMsgIcon::Error, TMsgButtons::Ok},
    };
    ASSERT_EQ(prompter->boxes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(prompter->boxes[i].caption, expected[i].caption);
        EXPECT_EQ(prompter->boxes[i].text, expected[i].text);
        EXPECT_EQ(prompter->boxes[i].icon, expected[i].icon);
        EXPECT_EQ(prompter->boxes[i].buttons, expected[i].buttons);
    }
}

TEST_F(ErrorsTest, CodeLabelsShowInErrorBoxesButNotInQuestions) {
    TScriptedPrompterGuard prompter;
    ErrorTextCallback = CatalogueText;
    ShowErrorCodes = true;
    ShowErrorCode(300, "x");
    AskYesNo(300, "x");
    ASSERT_EQ(prompter->boxes.size(), 2u);
    EXPECT_EQ(prompter->boxes[0].text, "Overwrite the file : x." + CrLf + "[Code 300]");
    EXPECT_EQ(prompter->boxes[1].text, "Overwrite the file : x ?");
}

TEST_F(ErrorsTest, MessageBoxFlagsChooseIconAndButtons) {
    TScriptedPrompterGuard prompter;
    const struct {
        unsigned flags;
        TMsgIcon icon;
        TMsgButtons buttons;
        TMsgAnswer answer;
    } cases[] = {
        {16, TMsgIcon::Error, TMsgButtons::Ok, idOk},
        {36, TMsgIcon::Question, TMsgButtons::YesNo, idNo},
        {48, TMsgIcon::Warning, TMsgButtons::Ok, idOk},
        {49, TMsgIcon::Warning, TMsgButtons::OkCancel, idCancel},
        {64, TMsgIcon::Information, TMsgButtons::Ok, idOk},
        {35, TMsgIcon::Question, TMsgButtons::YesNoCancel, idCancel},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        prompter->answers = {c.answer};
        EXPECT_EQ(ShowMessageBox("text", c.flags), c.answer);
        EXPECT_EQ(prompter->boxes.back().icon, c.icon);
        EXPECT_EQ(prompter->boxes.back().buttons, c.buttons);
    }
}

// The library links no window system: it reaches the progress forms through the hooks that the
// window part installs.
TEST_F(ErrorsTest, BoxesReachTheProgressFormsThroughTheInstalledHooks) {
    int boxesAside = 0, closings = 0;
    TScriptedPrompterGuard prompter;
    {
        const TWindowHooksGuard windows({
            .applicationTitle = [] { return std::string("Hooked"); },
            .closeProgressForms = [&] { ++closings; },
            .runWithProgressFormAside =
                [&](const std::function<int()>& showBox) {
                    ++boxesAside;
                    return showBox();
                },
        });
        ShowErrorCode(4, "/a.jpg");
        ShowExceptionBox(EBrelvantError(0, "", "failed"));
        EXPECT_EQ(boxesAside, 2);
        EXPECT_EQ(closings, 1);
        EXPECT_EQ(prompter->boxes.at(0).caption, "Hooked");
    }
    ShowErrorCode(4, "/a.jpg");  // without windows the box still comes, captioned by nothing
    EXPECT_EQ(boxesAside, 2);
    EXPECT_EQ(prompter->boxes.at(2).caption, "");
}

TEST_F(ErrorsTest, CollectedMessagesShowInOneInformationBox) {
    const TWindowHooksGuard windows({.applicationTitle = [] { return std::string("Brelvant Test"); }});
    TScriptedPrompterGuard prompter;
    ShowCollectedMessages();  // nothing collected: no box
    ResetCollectedMessages();
    CollectedMessages()->Add("first");
    CollectedMessages()->Add("second");
    ShowCollectedMessages();
    ASSERT_EQ(prompter->boxes.size(), 1u);
    EXPECT_EQ(prompter->boxes[0].caption, "Brelvant Test" + std::string(24, ' '));
    EXPECT_EQ(prompter->boxes[0].text, "first" + CrLf + "second");
    EXPECT_EQ(prompter->boxes[0].icon, TMsgIcon::Information);
    EXPECT_EQ(CollectedMessages(), nullptr);
}

TEST_F(ErrorsTest, FatalErrorWithoutHaltWarnsAndReturns) {
    TScriptedPrompterGuard prompter;
    HaltOnFatal = false;
    TraceFileName = folder.Path("trace.txt");
    RaiseFatal(16, "");
    ASSERT_EQ(prompter->boxes.size(), 1u);
    EXPECT_EQ(prompter->boxes[0].text, "Bad software installation.");
    EXPECT_EQ(prompter->boxes[0].buttons, TMsgButtons::Ok);
    EXPECT_EQ(prompter->boxes[0].icon, TMsgIcon::Warning);
    EXPECT_NE(ReadFile(TraceFileName).find("\tRaiseFatal !!! Bad software installation.\r\n"), std::string::npos);
}

TEST_F(ErrorsTest, FatalErrorShowsTheErrorAndEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            SetPrompter(std::make_unique<TTerminalPrompter>());
            RaiseFatal(16, "/opt/mordale");
        },
        testing::ExitedWithCode(1), "Bad software installation : /opt/mordale\\.");
}

TEST_F(ErrorsTest, LastSystemErrorBecomesAnInternalError) {
    errno = ENOENT;
    EXPECT_EQ(GetLastWindowsErrorText(), "[System: No such file or directory]");
    try {
        errno = EACCES;
        RaiseLastWindowsError("open /x");
        FAIL();
    } catch (const EBrelvantError& e) {
        EXPECT_EQ(e.ErrorCode, 2);
        EXPECT_EQ(e.ErrorParam, "open /x: \r[System: Permission denied]");
    }
}

}  // namespace
