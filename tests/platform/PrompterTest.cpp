#include "platform/Prompter.h"

#include <gtest/gtest.h>

#include <sstream>

#include "TestSupport.h"
#include "platform/Exception.h"

namespace {

struct TTerminal {
    explicit TTerminal(const std::string& input) : in(input) {}
    std::istringstream in;
    std::ostringstream err, out;
    TTerminalPrompter prompter{in, err, out};

    std::string RestOfInput() { return std::string(std::istreambuf_iterator<char>(in), {}); }
};

TEST(TerminalPrompter, QuestionsReadOneAnswerLine) {
    const struct {
        TMsgButtons buttons;
        std::string input;
        TMsgAnswer expected;
        int asked;  // how often the choices were shown
    } cases[] = {
        {TMsgButtons::YesNo, "y\nrest\n", idYes, 1},
        {TMsgButtons::YesNo, "  No \t\nrest\n", idNo, 1},
        {TMsgButtons::YesNo, "YES\nrest\n", idYes, 1},
        {TMsgButtons::YesNo, "N\r\nrest\n", idNo, 1},
        {TMsgButtons::YesNo, "\nrest\n", idYes, 1},          // empty line: the default
        {TMsgButtons::YesNo, "", idYes, 1},                  // end of input: the default
        {TMsgButtons::YesNo, "maybe\nn\nrest\n", idNo, 2},   // not an answer: asked again
        {TMsgButtons::YesNo, "cancel\nno\nrest\n", idNo, 2}, // not a button of this box
        {TMsgButtons::YesNo, "maybe", idYes, 2},             // asked again, then end of input
        {TMsgButtons::YesNoCancel, "C\nrest\n", idCancel, 1},
        {TMsgButtons::YesNoCancel, "\nrest\n", idYes, 1},
        {TMsgButtons::OkCancel, "ok\nrest\n", idOk, 1},
        {TMsgButtons::OkCancel, "Cancel\nrest\n", idCancel, 1},
        {TMsgButtons::OkCancel, "\nrest\n", idOk, 1},
        {TMsgButtons::AbortRetryIgnore, "r\nrest\n", idRetry, 1},
        {TMsgButtons::AbortRetryIgnore, "IGNORE\nrest\n", idIgnore, 1},
        {TMsgButtons::AbortRetryIgnore, "", idAbort, 1},
        {TMsgButtons::RetryCancel, "c", idCancel, 1},
        {TMsgButtons::RetryCancel, "\nrest\n", idRetry, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        TTerminal terminal(c.input);
        EXPECT_EQ(terminal.prompter.MessageBox("Caption", "The text", TMsgIcon::Question, c.buttons), c.expected);
        const std::string err = terminal.err.str();
        EXPECT_EQ(err.find("Caption"), std::string::npos);  // a terminal has no title bar
        EXPECT_NE(err.find("The text"), std::string::npos);
        EXPECT_EQ(CountOf(err, "["), static_cast<size_t>(c.asked)) << err;
        if (c.input.ends_with("rest\n")) {
            EXPECT_EQ(terminal.RestOfInput(), "rest\n");
        }
        EXPECT_TRUE(terminal.out.str().empty());
    }
}

TEST(TerminalPrompter, WithoutAPersonNoAnswerTakesTheOneThatLosesNothing) {
    const struct {
        TMsgButtons buttons;
        std::string input;
        TMsgAnswer expected;
        std::string transcript;  // the choices and the answer, as the error stream ends
    } cases[] = {
        {TMsgButtons::YesNo, "", idNo, "[yes/No] no\n"},
        {TMsgButtons::YesNo, "\n", idNo, "[yes/No] no\n"},
        {TMsgButtons::YesNo, " y \n", idYes, "[yes/No] y\n"},
        {TMsgButtons::YesNoCancel, "", idNo, "[yes/No/cancel] no\n"},
        {TMsgButtons::OkCancel, "", idCancel, "[ok/Cancel] cancel\n"},
        {TMsgButtons::RetryCancel, "", idCancel, "[retry/Cancel] cancel\n"},
        {TMsgButtons::AbortRetryIgnore, "", idAbort, "[Abort/retry/ignore] abort\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        std::istringstream in(c.input);
        std::ostringstream err, out;
        TTerminalPrompter prompter(in, err, out, false);
        EXPECT_FALSE(prompter.PersonPresent());
        EXPECT_EQ(prompter.MessageBox("Caption", "Overwrite?", TMsgIcon::Question, c.buttons), c.expected);
        EXPECT_TRUE(err.str().ends_with("Overwrite?\n" + c.transcript)) << err.str();
    }
    std::istringstream in("");
    std::ostringstream err, out;
    TTerminalPrompter prompter(in, err, out, false);
    EXPECT_EQ(prompter.SaveDialog("Book", "/docs/Book1.pdf", ""), "/docs/Book1.pdf");
    EXPECT_EQ(err.str(), "Book\n[/docs/Book1.pdf] /docs/Book1.pdf\n");
}

TEST(TerminalPrompter, ChoicesShowTheDefaultFirst) {
    TTerminal terminal("");
    terminal.prompter.MessageBox("c", "t", TMsgIcon::Question, TMsgButtons::YesNoCancel);
    EXPECT_NE(terminal.err.str().find("[Yes/no/cancel]"), std::string::npos) << terminal.err.str();
}

TEST(TerminalPrompter, OkBoxReadsNothing) {
    TTerminal terminal("n\nrest\n");
    EXPECT_EQ(terminal.prompter.MessageBox("Mordale", "Done.\r\nAll of it.", TMsgIcon::Information, TMsgButtons::Ok), idOk);
    EXPECT_EQ(terminal.err.str(), "Done.\nAll of it.\n");
    EXPECT_EQ(terminal.RestOfInput(), "n\nrest\n");
}

TEST(TerminalPrompter, SaveDialogTakesTheProposedPathOrTheTypedOne) {
    const struct {
        std::string input, expected;
    } cases[] = {
        {"", "/docs/proposed.pdf"},
        {"\n", "/docs/proposed.pdf"},
        {"   \n", "/docs/proposed.pdf"},
        {"  /other/typed name.pdf \nrest\n", "/other/typed name.pdf"},
        {"/other/last.pdf", "/other/last.pdf"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        TTerminal terminal(c.input);
        EXPECT_EQ(terminal.prompter.SaveDialog("Save the document", "/docs/proposed.pdf", "PDF|*.pdf"), c.expected);
        EXPECT_NE(terminal.err.str().find("Save the document"), std::string::npos);
        EXPECT_NE(terminal.err.str().find("/docs/proposed.pdf"), std::string::npos);
    }
}

TEST(TerminalPrompter, OpenDocumentPrintsThePath) {
    TTerminal terminal("");
    terminal.prompter.OpenDocument("/docs/a b.pdf");
    EXPECT_EQ(terminal.out.str(), "/docs/a b.pdf\n");
    EXPECT_TRUE(terminal.err.str().empty());
}

TEST(ScriptedPrompter, AnswersFromTheQueueThenTheDefault) {
    TScriptedPrompter prompter;
    prompter.answers = {idNo, idRetry};
    EXPECT_EQ(prompter.MessageBox("c1", "t1", TMsgIcon::Question, TMsgButtons::YesNo), idNo);
    EXPECT_EQ(prompter.MessageBox("c2", "t2", TMsgIcon::Error, TMsgButtons::RetryCancel), idRetry);
    EXPECT_EQ(prompter.MessageBox("c3", "t3", TMsgIcon::Warning, TMsgButtons::AbortRetryIgnore), idAbort);
    ASSERT_EQ(prompter.boxes.size(), 3u);
    EXPECT_EQ(prompter.boxes[1].caption, "c2");
    EXPECT_EQ(prompter.boxes[1].text, "t2");
    EXPECT_EQ(prompter.boxes[1].icon, TMsgIcon::Error);
    EXPECT_EQ(prompter.boxes[1].buttons, TMsgButtons::RetryCancel);

    prompter.saveAnswers = {std::nullopt, "/typed.pdf"};
    EXPECT_EQ(prompter.SaveDialog("s1", "/p.pdf", ""), std::nullopt);
    EXPECT_EQ(prompter.SaveDialog("s2", "/p.pdf", ""), "/typed.pdf");
    EXPECT_EQ(prompter.SaveDialog("s3", "/p.pdf", ""), "/p.pdf");
    EXPECT_EQ(prompter.saveDialogs, (std::vector<std::string>{"s1", "s2", "s3"}));

    prompter.OpenDocument("/p.pdf");
    EXPECT_EQ(prompter.opened, std::vector<std::string>{"/p.pdf"});
}

TEST(ScriptedPrompter, AnswerThatIsNotAButtonIsATestError) {
    TScriptedPrompter prompter;
    prompter.answers = {idYes};
    EXPECT_THROW(prompter.MessageBox("c", "t", TMsgIcon::None, TMsgButtons::OkCancel), Exception);
}

TEST(ProcessPrompter, InstalledPrompterAnswersUntilReplaced) {
    EXPECT_NE(dynamic_cast<TTerminalPrompter*>(&Prompter()), nullptr);
    auto scripted = std::make_unique<TScriptedPrompter>();
    TScriptedPrompter* installed = scripted.get();
    auto previous = SetPrompter(std::move(scripted));
    EXPECT_EQ(&Prompter(), installed);
    Prompter().OpenDocument("/x.pdf");
    EXPECT_EQ(installed->opened.size(), 1u);
    auto back = SetPrompter(std::move(previous));
    EXPECT_EQ(back.get(), installed);
    EXPECT_NE(dynamic_cast<TTerminalPrompter*>(&Prompter()), nullptr);
}

}  // namespace
