#pragma once
// Every message box, question, save dialog and "open the result" goes through one prompter:
// the Qt one with a display, the terminal one without, a scripted one in tests.
#include <deque>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

enum class TMsgIcon { None, Error, Question, Warning, Information };
// The platform's button sets, in the order of its flag values 0 to 5.
enum class TMsgButtons { Ok, OkCancel, AbortRetryIgnore, YesNoCancel, YesNo, RetryCancel };
// Answers, numbered as the platform numbers them.
enum TMsgAnswer : int { idOk = 1, idCancel = 2, idAbort = 3, idRetry = 4, idIgnore = 5, idYes = 6, idNo = 7 };

// The answers of a button set; the first is the default.
std::vector<TMsgAnswer> AnswersOf(TMsgButtons buttons);

class TPrompter {
public:
    virtual ~TPrompter() = default;
    virtual TMsgAnswer MessageBox(const std::string& caption, const std::string& text, TMsgIcon icon,
                                  TMsgButtons buttons) = 0;
    // The chosen file name, or nothing when cancelled. The filter is "Description|*.ext|...".
    virtual std::optional<std::string> SaveDialog(const std::string& title, const std::string& proposedPath,
                                                  const std::string& filter) = 0;
    // Opens a document or an address with the desktop's program for it.
    virtual void OpenDocument(const std::string& pathOrUrl) = 0;
    // False when nobody answers: offers a person alone would take (to see a result) are not made.
    virtual bool PersonPresent() const { return true; }
};

// The prompter of the process; a terminal prompter until another is installed.
TPrompter& Prompter();
// Installs a prompter and returns the previous one.
std::unique_ptr<TPrompter> SetPrompter(std::unique_ptr<TPrompter> prompter);

// Boxes go to the error stream, their text without the caption; questions read one line; a save dialog takes the proposed path on
// an empty line. With a person at the terminal, an empty line or the end of input takes the
// default (first) button. Without one (standard input is not a terminal), the answer that loses
// nothing is taken instead: No, else Cancel, else the first button; and a silent input is waited
// for once, briefly, so that a run never hangs on it.
class TTerminalPrompter : public TPrompter {
public:
    TTerminalPrompter();  // standard input, error and output
    TTerminalPrompter(std::istream& in, std::ostream& err, std::ostream& out, bool personPresent = true);
    TMsgAnswer MessageBox(const std::string& caption, const std::string& text, TMsgIcon icon,
                          TMsgButtons buttons) override;
    std::optional<std::string> SaveDialog(const std::string& title, const std::string& proposedPath,
                                          const std::string& filter) override;
    // Without a display a document cannot be shown: its path goes to standard output.
    void OpenDocument(const std::string& pathOrUrl) override;
    bool PersonPresent() const override { return personPresent_; }

private:
    std::ostream& err_;
    std::ostream& out_;
    bool personPresent_;
    std::function<std::optional<std::string>()> readLine_;  // nothing at the end of input
};

// For tests: answers from a queue (the default button when it runs dry) and a record of requests.
class TScriptedPrompter : public TPrompter {
public:
    struct Box {
        std::string caption, text;
        TMsgIcon icon;
        TMsgButtons buttons;
    };
    std::deque<TMsgAnswer> answers;
    std::deque<std::optional<std::string>> saveAnswers;  // nothing queued: the proposed path
    std::vector<Box> boxes;
    std::vector<std::string> saveDialogs;  // titles
    std::vector<std::string> opened;
    bool personPresent = true;

    TMsgAnswer MessageBox(const std::string& caption, const std::string& text, TMsgIcon icon,
                          TMsgButtons buttons) override;
    std::optional<std::string> SaveDialog(const std::string& title, const std::string& proposedPath,
                                          const std::string& filter) override;
    void OpenDocument(const std::string& pathOrUrl) override;
    bool PersonPresent() const override { return personPresent; }
};
