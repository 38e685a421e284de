#include "Prompter.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <iostream>
#include <mutex>
#include <utility>

#include "Exception.h"

std::vector<TMsgAnswer> AnswersOf(TMsgButtons buttons) {
    switch (buttons) {
        case TMsgButtons::Ok: return {idOk};
        case TMsgButtons::OkCancel: return {idOk, idCancel};
        case TMsgButtons::AbortRetryIgnore: return {idAbort, idRetry, idIgnore};
        case TMsgButtons::YesNoCancel: return {idYes, idNo, idCancel};
        case TMsgButtons::YesNo: return {idYes, idNo};
        case TMsgButtons::RetryCancel: return {idRetry, idCancel};
    }
    return {idOk};
}

namespace {

std::mutex prompterMutex;

std::unique_ptr<TPrompter>& CurrentPrompter() {
    static std::unique_ptr<TPrompter> prompter = std::make_unique<TTerminalPrompter>();
    return prompter;
}

struct TAnswerWord {
    TMsgAnswer answer;
    const char* word;  // the letter alone answers too
};
constexpr TAnswerWord AnswerWords[] = {
    {idYes, "yes"}, {idNo, "no"}, {idOk, "ok"}, {idCancel, "cancel"},
    {idAbort, "abort"}, {idRetry, "retry"}, {idIgnore, "ignore"},
};

std::string WordOf(TMsgAnswer answer) {
    for (const auto& entry : AnswerWords)
        if (entry.answer == answer) return entry.word;
    return {};
}

std::string Trimmed(const std::string& s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    auto first = std::find_if_not(s.begin(), s.end(), blank);
    auto last = std::find_if_not(s.rbegin(), std::string::const_reverse_iterator(first), blank).base();
    return std::string(first, last);
}

std::string Lowered(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// "[Yes/no/cancel] ": the answers in their order, the default capitalised.
std::string Hint(const std::vector<TMsgAnswer>& answers, TMsgAnswer defaultAnswer) {
    std::string hint = "[";
    for (const TMsgAnswer answer : answers) {
        if (hint.size() > 1) hint += '/';
        std::string word = WordOf(answer);
        if (answer == defaultAnswer) word[0] = static_cast<char>(word[0] - 'a' + 'A');
        hint += word;
    }
    return hint + "] ";
}

std::string UnixLines(const std::string& text) {
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] != '\r' || i + 1 >= text.size() || text[i + 1] != '\n') lines += text[i];
    return lines;
}

// The answer that loses nothing when nobody is there to give one.
TMsgAnswer CautiousAnswer(const std::vector<TMsgAnswer>& answers) {
    for (const TMsgAnswer careful : {idNo, idCancel})
        if (std::find(answers.begin(), answers.end(), careful) != answers.end()) return careful;
    return answers.front();
}

// How long a silent input that is not a terminal is waited for, once.
constexpr std::chrono::milliseconds SilentInputWait{5000};

// Lines of standard input read at the descriptor, so that the wait for one can be bounded: the C
// library's buffer would hide lines that have already arrived.
class TStandardInputLines {
public:
    explicit TStandardInputLines(bool waitForever) : waitForever_(waitForever) {}

    // Nothing at the end of input, or when a silent input was waited for long enough.
    std::optional<std::string> Read() {
        const auto deadline = std::chrono::steady_clock::now() + (silent_ ? std::chrono::milliseconds(0) : SilentInputWait);
        for (;;) {
            if (const size_t end = pending_.find('\n'); end != std::string::npos) {
                std::string line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                return line;
            }
            if (ended_) {
                if (pending_.empty()) return std::nullopt;
                return std::exchange(pending_, {});
            }
            if (!WaitForInput(deadline)) {
                silent_ = true;
                return std::nullopt;
            }
            char buffer[4096];
            const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0) ended_ = true;
            else pending_.append(buffer, static_cast<size_t>(count));
        }
    }

private:
    bool WaitForInput(std::chrono::steady_clock::time_point deadline) {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd input{STDIN_FILENO, POLLIN, 0};
            const int ready = ::poll(&input, 1, waitForever_ ? -1 : static_cast<int>(std::max<int64_t>(left.count(), 0)));
            if (ready < 0 && errno == EINTR) continue;
            return ready != 0;  // an error is read as the end of input
        }
    }

    bool waitForever_;
    bool silent_ = false;
    bool ended_ = false;
    std::string pending_;
};

std::optional<TMsgAnswer> ParseAnswer(const std::string& line, const std::vector<TMsgAnswer>& answers) {
    const std::string word = Lowered(Trimmed(line));
    for (const TMsgAnswer answer : answers) {
        const std::string full = WordOf(answer);
        if (word == full || word == full.substr(0, 1)) return answer;
    }
    return std::nullopt;
}

}  // namespace

TPrompter& Prompter() {
    std::lock_guard lock(prompterMutex);
    return *CurrentPrompter();
}

std::unique_ptr<TPrompter> SetPrompter(std::unique_ptr<TPrompter> prompter) {
    if (!prompter) prompter = std::make_unique<TTerminalPrompter>();
    std::lock_guard lock(prompterMutex);
    std::swap(prompter, CurrentPrompter());
    return prompter;
}

TTerminalPrompter::TTerminalPrompter() : err_(std::cerr), out_(std::cout), personPresent_(::isatty(STDIN_FILENO) == 1) {
    readLine_ = [lines = std::make_shared<TStandardInputLines>(personPresent_)] { return lines->Read(); };
}

TTerminalPrompter::TTerminalPrompter(std::istream& in, std::ostream& err, std::ostream& out, bool personPresent)
    : err_(err), out_(out), personPresent_(personPresent) {
    readLine_ = [&in]() -> std::optional<std::string> {
        std::string line;
        if (!std::getline(in, line)) return std::nullopt;
        return line;
    };
}

TMsgAnswer TTerminalPrompter::MessageBox(const std::string&, const std::string& text, TMsgIcon,
                                         TMsgButtons buttons) {
    const std::vector<TMsgAnswer> answers = AnswersOf(buttons);
    // A terminal has no title bar: the text alone, one line break where the box has one.
    err_ << UnixLines(text) << '\n';
    if (answers.size() == 1) {
        err_.flush();
        return answers.front();
    }
    const TMsgAnswer unanswered = personPresent_ ? answers.front() : CautiousAnswer(answers);
    for (;;) {
        err_ << Hint(answers, unanswered) << std::flush;
        const std::optional<std::string> line = readLine_();
        const bool answered = line && !Trimmed(*line).empty();
        // Without a terminal to echo it, the transcript shows the answer read, or the one taken.
        if (!personPresent_) err_ << (answered ? Trimmed(*line) : WordOf(unanswered)) << '\n' << std::flush;
        if (!answered) return unanswered;
        if (auto answer = ParseAnswer(*line, answers)) return *answer;
    }
}

std::optional<std::string> TTerminalPrompter::SaveDialog(const std::string& title, const std::string& proposedPath,
                                                         const std::string&) {
    err_ << title << '\n' << "[" << proposedPath << "] " << std::flush;
    const std::optional<std::string> line = readLine_();
    const std::string path = line ? Trimmed(*line) : std::string();
    if (!personPresent_) err_ << (path.empty() ? proposedPath : path) << '\n' << std::flush;
    return path.empty() ? proposedPath : path;
}

void TTerminalPrompter::OpenDocument(const std::string& pathOrUrl) { out_ << pathOrUrl << '\n' << std::flush; }

TMsgAnswer TScriptedPrompter::MessageBox(const std::string& caption, const std::string& text, TMsgIcon icon,
                                         TMsgButtons buttons) {
    boxes.push_back({caption, text, icon, buttons});
    const std::vector<TMsgAnswer> valid = AnswersOf(buttons);
    if (answers.empty()) return valid.front();
    const TMsgAnswer answer = answers.front();
    answers.pop_front();
    if (std::find(valid.begin(), valid.end(), answer) == valid.end())
        throw Exception("The scripted answer " + std::to_string(answer) + " is not a button of the box \"" +
                        caption + "\"");
    return answer;
}

std::optional<std::string> TScriptedPrompter::SaveDialog(const std::string& title, const std::string& proposedPath,
                                                         const std::string&) {
    saveDialogs.push_back(title);
    if (saveAnswers.empty()) return proposedPath;
    auto answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
}

void TScriptedPrompter::OpenDocument(const std::string& pathOrUrl) { opened.push_back(pathOrUrl); }
