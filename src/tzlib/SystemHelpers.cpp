#include "tzlib/SystemHelpers.h"

#include <dlfcn.h>
#include <langinfo.h>
#include <locale.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <vector>

#include "platform/ByteReader.h"
#include "platform/Classes.h"
#include "platform/Paths.h"
#include "platform/Prompter.h"
#include "platform/Shell.h"
#include "tzlib/DesktopExec.h"
#include "tzlib/Errors.h"
#include "tzlib/FileHelpers.h"
#include "tzlib/MailMessage.h"
#include "tzlib/TextFormats.h"
#include "tzlib/WindowHooks.h"
#include "tzlib/XdgAssociations.h"

const std::array<std::string, 6> ProtocolNames = {"", "http", "https", "ftp", "mailto", "its"};
std::array<std::string, 6> ProtocolCommands;

namespace {

constexpr int64_t MaxDesktopEntrySize = 1 << 20;
const std::string MailtoPrefix = "MAILTO:";

std::string Trimmed(const std::string& s) {
    const size_t first = s.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

bool StartsWithMailto(const std::string& s) {
    return SameText(std::string_view(s).substr(0, MailtoPrefix.size()), MailtoPrefix);
}

int PaperDimension(locale_t locale, nl_item item) {
    return static_cast<int>(reinterpret_cast<intptr_t>(nl_langinfo_l(item, locale)));
}

// The full name of the user's account: the first field of its comment.
std::string AccountFullName() {
    std::vector<char> buffer(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_gecos)
        return {};
    return TextBefore(found->pw_gecos, ',');
}

void RemoveFile(const std::string& fileName) {
    if (::unlink(fileName.c_str()) != 0 && errno != ENOENT)
        throw EInOutError("Cannot remove " + fileName + ": " + std::strerror(errno));
}

// The Exec line with its first word, the program, replaced by the given word.
std::string WithProgram(const std::string& execLine, const std::string& word) {
    const size_t first = execLine.find_first_not_of(' ', 5);
    size_t rest = execLine.size();
    if (first != std::string::npos && execLine[first] == '"') {
        for (size_t at = first + 1; at < execLine.size(); ++at) {
            if (execLine[at] == '\\') {
                ++at;
            } else if (execLine[at] == '"') {
                rest = at + 1;
                break;
            }
        }
    } else if (first != std::string::npos) {
        rest = std::min(execLine.find(' ', first), execLine.size());
    }
    return "Exec=" + word + execLine.substr(rest);
}

// The entry's text with the program of every command replaced by the given program.
std::string EntryForProgram(const std::string& source, const std::string& program) {
    TMemoryStream data;
    TFileStream input(source, fmOpenRead);
    if (input.Size() > MaxDesktopEntrySize) throw EInOutError("Desktop entry too large: " + source);
    data.LoadFromStream(input);
    const std::string text(reinterpret_cast<const char*>(data.Memory()), static_cast<size_t>(data.Size()));
    std::string word;  // with the file's string escapes
    for (const char c : ExecProgramWord(program)) word += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : std::string(1, c);
    std::string out;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        out += line.starts_with("Exec=") ? WithProgram(line, word) : line;
        if (end < text.size()) out += '\n';
        start = end + 1;
    }
    return out;
}

void WriteText(const std::string& fileName, const std::string& text) {
    TMemoryStream data;
    data.Write(text.data(), static_cast<int64_t>(text.size()));
    data.SaveToFile(fileName);
}

// The folder of the user's part of the fallback icon theme, which every desktop searches, for
// icons of the given size.
std::string IconFolder(const std::string& size) { return DataHome() + "/icons/hicolor/" + size + "/apps"; }

// An icon name, not a path: the desktop looks it up in the icon themes.
bool IsIconName(const std::string& icon) {
    return !icon.empty() && icon.find('/') == std::string::npos && !icon.starts_with('.');
}

// "48x48", the size of the PNG picture, as the icon theme's folders are named.
std::string PngSize(TMemoryStream& png) {
    static constexpr uint8_t Signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const TByteReader reader(png.Memory(), png.Size());
    for (size_t i = 0; i < sizeof Signature; ++i)
        if (reader.U8At(int64_t(i)) != Signature[i]) throw EInOutError("The icon is not a PNG picture");
    return std::to_string(reader.U32BEAt(16)) + "x" + std::to_string(reader.U32BEAt(20));
}

// The icon "name.png" shipped beside the entry goes into the theme folder of its size.
void InstallIcon(const std::string& entryFile, const std::string& iconName) {
    const std::string shipped = entryFile.substr(0, entryFile.rfind('/') + 1) + iconName + ".png";
    CheckFileExists(shipped);
    TMemoryStream png;
    png.LoadFromFile(shipped);
    const std::string folder = IconFolder(PngSize(png));
    ForceFolder(folder);
    png.SaveToFile(folder + "/" + iconName + ".png");
}

// Removes the icon of that name from every size folder of the theme.
void RemoveIcon(const std::string& iconName) {
    std::error_code error;
    for (const auto& size : std::filesystem::directory_iterator(DataHome() + "/icons/hicolor", error))
        RemoveFile(size.path().string() + "/apps/" + iconName + ".png");
}

std::string IconNameOf(const std::string& entryFile) {
    return ReadDesktopEntryValue(entryFile, "Desktop Entry", "Icon").value_or("");
}

}  // namespace

std::string GetTempFolder() { return AddBackslash(TempDirectory()); }

std::string GetWindowsFolder() { return {}; }
std::string GetSystemFolder() { return {}; }
std::string GetWindowsSetting(const std::string& /*valueName*/) { return {}; }
std::string GetProgramFilesFolder() { return GetWindowsSetting("ProgramFilesDir"); }

int GetDefaultPaperSize() {
    const locale_t locale = newlocale(LC_PAPER_MASK, "", static_cast<locale_t>(0));
    if (!locale) return DMPAPER_A4;
    const int width = PaperDimension(locale, _NL_PAPER_WIDTH);
    const int height = PaperDimension(locale, _NL_PAPER_HEIGHT);
    freelocale(locale);
    return width == 216 && height == 279 ? DMPAPER_LETTER : DMPAPER_A4;
}

void LoadProtocolCommands() {
    if (!ProtocolCommands[protoHttp].empty()) return;
    for (int protocol = protoHttp; protocol <= protoMailto; ++protocol) {
        const std::string command = DefaultProgramCommand("x-scheme-handler/" + ProtocolNames[protocol]);
        if (!command.empty()) ProtocolCommands[protocol] = command;
    }
    ProtocolCommands[protoIts] = ProtocolCommands[protoHttp];
}

int ProtocolOfUrl(const std::string& url) {
    const size_t colon = url.find(':');
    if (colon == std::string::npos || colon == 0) return protoNone;
    const std::string_view protocol = std::string_view(url).substr(0, colon);
    for (int index = protoHttp; index <= protoIts; ++index)
        if (SameText(protocol, ProtocolNames[index])) return index;
    return protoNone;
}

void OpenUrl(const std::string& url) {
    const int protocol = ProtocolOfUrl(url);
    if (protocol == protoNone) RaiseBrelvantError(89, url);
    if (ProtocolCommands[protocol].empty()) RaiseBrelvantError(1314, ProtocolNames[protocol]);
    // xdg-email takes the whole address with its subject and body, under the lower-case scheme.
    if (protocol == protoMailto)
        StartDetached({"xdg-email", "mailto:" + url.substr(MailtoPrefix.size())});
    else
        StartDetached({"xdg-open", url});
}

std::vector<std::string> GetProgramForExtension(const std::string& extension) {
    const std::string mimeType = MimeTypeOfExtension(extension);
    return mimeType.empty() ? std::vector<std::string>() : DefaultProgramArguments(mimeType);
}

namespace {

constexpr unsigned WarningIcon = 0x30;

}  // namespace

void OpenDocuments(const std::vector<std::string>& documents) {
    if (documents.empty()) return;
    if (!HasDisplay()) {
        for (const std::string& document : documents) Prompter().OpenDocument(document);
        return;
    }
    const std::string mimeType = MimeTypeOfExtension(std::filesystem::path(documents.front()).extension().string());
    const std::vector<std::string> program = mimeType.empty() ? std::vector<std::string>() : DefaultProgramArguments(mimeType);
    if (program.empty()) {
        std::string text = documents.size() == 1 ? "No program is set to open this file" : "No program is set to open these files";
        if (!mimeType.empty()) text += " (" + mimeType + ")";
        text += ":";
        for (const std::string& document : documents) text += "\n" + document;
        ShowMessageBox(text, WarningIcon);
        return;
    }
    for (const std::string& document : documents) {
        std::vector<std::string> command = program;
        command.push_back(document);
        StartDetached(command);
    }
}

void* GetProcAddressChecked(const std::string& entryName, void* module) {
    void* address = module ? ::dlsym(module, entryName.c_str()) : nullptr;
    if (!address) LogAndRaise(30, entryName);
    return address;
}

void RegisterComServer(const std::string& libraryPath, bool doRegister) {
    const std::string folder = DataHome() + "/applications";
    const std::string installed = folder + "/" + libraryPath.substr(libraryPath.rfind('/') + 1);
    try {
        if (const std::string icon = IconNameOf(installed); IsIconName(icon)) RemoveIcon(icon);
        RemoveFile(installed);
        if (!doRegister) return;
        // Registering what is not there must not look like success.
        CheckFileExists(libraryPath);
        // A named icon ships beside the entry; the desktop finds it only once it is installed.
        if (const std::string icon = IconNameOf(libraryPath); IsIconName(icon)) InstallIcon(libraryPath, icon);
        ForceFolder(folder);
        // The entry starts this very program by its full path: the program need not be on the PATH.
        WriteText(installed, EntryForProgram(libraryPath, ExecutablePath()));
    } catch (const EBrelvantError&) {
        throw;
    } catch (const std::exception&) {
        RaiseBrelvantError(2, "RegisterOcx");
    }
}

void ReadMailAccounts(TStringList& list) {
    const std::string name = AccountFullName();
    if (!name.empty()) list.SetValues("SenderName", name);
    const char* address = std::getenv("EMAIL");
    if (address && *address) list.SetValues("SenderAddress", address);
}

std::string GetMailSenderName() {
    TStringList list;
    ReadMailAccounts(list);
    return list.Values("SenderName");
}

std::string GetMailSenderAddress() {
    TStringList list;
    ReadMailAccounts(list);
    return list.Values("SenderAddress");
}

namespace {

// The items of the recipients text that are addresses.
std::vector<std::string> MailRecipients(const std::string& recipients) {
    std::vector<std::string> addresses;
    TStringList items;
    SplitText(recipients, ';', items);
    for (int i = 0; i < items.Count(); ++i) {
        const std::string& item = items.Strings(i);
        const std::string address = StartsWithMailto(item) ? item.substr(MailtoPrefix.size()) : item;
        // A blank item or one that would read as an option is no address.
        if (!Trimmed(address).empty() && !address.starts_with('-')) addresses.push_back(address);
    }
    return addresses;
}

std::vector<std::string> MailAttachments(const std::string& attachments) {
    std::vector<std::string> paths;
    TStringList lines;
    lines.SetText(attachments);
    for (int i = 0; i < lines.Count(); ++i)
        if (!lines.Strings(i).empty()) paths.push_back(lines.Strings(i));
    return paths;
}

void ShowInComposer(const TMailMessage& message) {
    std::vector<std::string> command{"xdg-email"};
    if (!message.subject.empty()) command.insert(command.end(), {"--subject", message.subject});
    if (!message.body.empty()) command.insert(command.end(), {"--body", message.body});
    for (const std::string& path : message.attachments) command.insert(command.end(), {"--attach", path});
    command.insert(command.end(), message.recipients.begin(), message.recipients.end());
    StartDetached(command);
}

void SendWithoutShowing(TMailMessage message) {
    const std::string sendmail = FindSendmail();
    if (sendmail.empty() || message.recipients.empty()) throw Exception("No way to send the mail");
    TStringList identity;
    ReadMailAccounts(identity);
    message.senderName = identity.Values("SenderName");
    message.senderAddress = identity.Values("SenderAddress");
    if (!DeliverBySendmail(sendmail, ComposeMailMessage(message, std::time(nullptr))))
        throw Exception("sendmail refused the mail");
}

}  // namespace

void SendMail(const std::string& recipients, const std::string& subject, const std::string& attachments,
              const std::string& body, bool showDialog) {
    TMailMessage message;
    message.recipients = MailRecipients(recipients);
    message.subject = subject;
    message.body = body;
    message.attachments = MailAttachments(attachments);
    try {
        showDialog ? ShowInComposer(message) : SendWithoutShowing(std::move(message));
    } catch (const Exception&) {
        RaiseBrelvantError(87, "");
    }
}

int ScaleToScreenDpi(int n) {
    const double dpi = ScreenDotsPerInch();
    return dpi == 96 ? n : static_cast<int>(std::nearbyint(n * dpi / 96));
}
