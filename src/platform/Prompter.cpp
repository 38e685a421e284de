#include "Prompter.h"

#include <algorithm>
#include <iostream>
#include <mutex>

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

// "[Yes/no/cancel] ": the default answer first and capitalised.
std::string Hint(const std::vector<TMsgAnswer>& answers) {
    std::string hint = "[";
    for (const TMsgAnswer answer : answers) {
        if (hint.size() > 1) hint += '/';
        hint += WordOf(answer);
    }
    hint[1] = static_cast<char>(hint[1] - 'a' + 'A');
    return hint + "] ";
}

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

TTerminalPrompter::TTerminalPrompter() : TTerminalPrompter(std::cin, std::cerr, std::cout) {}

TTerminalPrompter::TTerminalPrompter(std::istream& in, std::ostream& err, std::ostream& out)
    : in_(in), err_(err), out_(out) {}

TMsgAnswer TTerminalPrompter::MessageBox(const std::string& caption, const std::string& text, TMsgIcon,
                                         TMsgButtons buttons) {
    const std::vector<TMsgAnswer> answers = AnswersOf(buttons);
    err_ << caption << '\n' << text << '\n';
    if (answers.size() == 1) {
        err_.flush();
        return answers.front();
    }
    for (;;) {
        err_ << Hint(answers) << std::flush;
        std::string line;
        if (!std::getline(in_, line) || Trimmed(line).empty()) return answers.front();
        if (auto answer = ParseAnswer(line, answers)) return *answer;
    }
}

std::optional<std::string> TTerminalPrompter::SaveDialog(const std::string& title, const std::string& proposedPath,
                                                         const std::string&) {
    err_ << title << '\n' << "[" << proposedPath << "] " << std::flush;
    std::string line;
    if (!std::getline(in_, line)) return proposedPath;
    const std::string path = Trimmed(line);
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
