#include "tzlib/MailMessage.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/Classes.h"
#include "platform/Exception.h"

extern char** environ;

namespace {

constexpr int64_t MaxAttachmentSize = int64_t(100) << 20;
constexpr auto DeliveryTime = std::chrono::minutes(1);
// Every part is base64, whose alphabet has no "_": the boundary cannot occur inside a part.
constexpr const char* Boundary = "=_Mordale_part_boundary";
constexpr size_t EncodedWordBytes = 45;  // of text per encoded word, which then stays within 75 characters

std::string Base64(const std::string& bytes) {
    static constexpr char Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        uint32_t group = 0;
        for (size_t k = 0; k < 3; ++k) group = group << 8 | (k < n ? uint8_t(bytes[i + k]) : 0);
        for (size_t k = 0; k < 4; ++k) out += k <= n ? Digits[group >> (18 - 6 * k) & 63] : '=';
    }
    return out;
}

// Base64 in lines of 76 characters.
std::string Base64Lines(const std::string& bytes) {
    const std::string encoded = Base64(bytes);
    std::string out;
    for (size_t i = 0; i < encoded.size(); i += 76) out += encoded.substr(i, 76) + "\n";
    return out;
}

bool HasLineBreakOrControl(const std::string& text) {
    for (const char c : text)
        if (uint8_t(c) < 0x20 || c == 0x7F) return true;
    return false;
}

bool IsPlainAscii(const std::string& text) {
    for (const char c : text)
        if (uint8_t(c) < 0x20 || uint8_t(c) >= 0x7F) return false;
    return true;
}

// A header text as it is, or as encoded words of UTF-8, folded onto continuation lines; a word
// never splits a character.
std::string HeaderText(const std::string& text) {
    if (IsPlainAscii(text) && text.size() <= 900) return text;
    std::string out;
    for (size_t start = 0; start < text.size();) {
        size_t end = std::min(start + EncodedWordBytes, text.size());
        while (end < text.size() && end > start + 1 && (uint8_t(text[end]) & 0xC0) == 0x80) --end;
        if (!out.empty()) out += "\n ";
        out += "=?UTF-8?B?" + Base64(text.substr(start, end - start)) + "?=";
        start = end;
    }
    return out;
}

// A display name: quoted when plain, so that its dots and commas stay part of it.
std::string DisplayName(const std::string& name) {
    if (!IsPlainAscii(name) || name.size() > 900) return HeaderText(name);
    std::string quoted = "\"";
    for (const char c : name) quoted += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    return quoted + "\"";
}

// A file name as a parameter value: quoted when plain, else in the form for other character sets.
std::string FileNameParameter(const std::string& name) {
    if (IsPlainAscii(name) && name.find_first_of("\"\\") == std::string::npos) return "filename=\"" + name + "\"";
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out = "filename*=UTF-8''";
    for (const char c : name) {
        const uint8_t b = uint8_t(c);
        if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || std::string_view(".-_").find(c) != std::string_view::npos)
            out += c;
        else
            out += std::string("%") + Hex[b >> 4] + Hex[b & 15];
    }
    return out;
}

std::string DateHeader(std::time_t date) {
    static constexpr const char* Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm utc{};
    gmtime_r(&date, &utc);
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%s, %02d %s %04d %02d:%02d:%02d +0000", Days[utc.tm_wday], utc.tm_mday,
                  Months[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text.data();
}

std::string FileContents(const std::string& path) {
    TFileStream file(path, fmOpenRead);
    if (file.Size() > MaxAttachmentSize) throw Exception("Too large to attach: " + path);
    std::string bytes(size_t(file.Size()), '\0');
    file.ReadBuffer(bytes.data(), file.Size());
    return bytes;
}

void CheckHeaderValue(const std::string& value) {
    if (HasLineBreakOrControl(value)) throw Exception("A mail header cannot hold a line break");
}

bool IsProgram(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Sends everything, or gives up at the deadline or when the reader has gone.
bool SendAll(int fd, const std::string& data, std::chrono::steady_clock::time_point deadline) {
    for (size_t sent = 0; sent < data.size();) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd waiting{fd, POLLOUT, 0};
        const int ready = ::poll(&waiting, 1, int(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) return false;
        sent += size_t(n);
    }
    return true;
}

// The exit status, or -1 when the program did not end in time (it is then killed).
int WaitFor(pid_t child, std::chrono::steady_clock::time_point deadline) {
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0 && errno != EINTR) return -1;
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(child, SIGKILL);
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

std::string ComposeMailMessage(const TMailMessage& message, std::time_t date) {
    CheckHeaderValue(message.senderName);
    CheckHeaderValue(message.senderAddress);
    std::string recipients;
    for (const std::string& recipient : message.recipients) {
        CheckHeaderValue(recipient);
        recipients += (recipients.empty() ? "" : ",\n ") + recipient;
    }
    std::string text;
    if (!message.senderAddress.empty())
        text += "From: " + (message.senderName.empty() ? "" : DisplayName(message.senderName) + " ") + "<" +
                message.senderAddress + ">\n";
    text += "To: " + recipients + "\n";
    if (!message.subject.empty()) text += "Subject: " + HeaderText(message.subject) + "\n";
    text += "Date: " + DateHeader(date) + "\nMIME-Version: 1.0\n";
    const std::string bodyPart = "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: base64\n\n" +
                                 Base64Lines(message.body);
    if (message.attachments.empty()) return text + bodyPart;
    text += std::string("Content-Type: multipart/mixed; boundary=\"") + Boundary + "\"\n\n";
    text += std::string("--") + Boundary + "\n" + bodyPart;
    for (const std::string& path : message.attachments) {
        const std::string name = path.substr(path.rfind('/') + 1);
        CheckHeaderValue(name);
        text += std::string("--") + Boundary + "\nContent-Type: application/octet-stream\n" +
                "Content-Transfer-Encoding: base64\nContent-Disposition: attachment; " + FileNameParameter(name) +
                "\n\n" + Base64Lines(FileContents(path));
    }
    return text + "--" + Boundary + "--\n";
}

std::string FindSendmail() {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    folders += ":/usr/sbin:/usr/lib";
    for (size_t start = 0; start <= folders.size();) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = folders.substr(start, end - start);
        if (!folder.empty() && IsProgram(folder + "/sendmail")) return folder + "/sendmail";
        start = end + 1;
    }
    return {};
}

bool DeliverBySendmail(const std::string& sendmail, const std::string& message) {
    int channel[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, channel[1], STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    // The program must not hold the process's other files open.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    std::string program = sendmail, recipientsFromHeaders = "-t", dotsAreText = "-oi";
    char* argv[] = {program.data(), recipientsFromHeaders.data(), dotsAreText.data(), nullptr};
    pid_t child = 0;
    const int started = ::posix_spawn(&child, sendmail.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(channel[1]);
    if (started != 0) {
        ::close(channel[0]);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + DeliveryTime;
    const bool sent = SendAll(channel[0], message, deadline);
    ::close(channel[0]);  // the end of the message
    const int status = WaitFor(child, deadline);
    return sent && status == 0;
}
