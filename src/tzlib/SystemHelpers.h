#pragma once
// The system's folders and paper, the desktop's programs for addresses and documents, the
// registration of the program's desktop entry, the user's mail identity and sending mail.
#include <array>
#include <string>
#include <vector>

class TStringList;

// The temporary folder (TMPDIR, else /tmp) with a trailing "/".
std::string GetTempFolder();

// This system has no Windows or system folder and no Windows settings: these answer empty text,
// as a failed query does.
std::string GetWindowsFolder();
std::string GetSystemFolder();
std::string GetWindowsSetting(const std::string& valueName);
// The Windows setting "ProgramFilesDir": empty.
std::string GetProgramFilesFolder();

enum : int { DMPAPER_LETTER = 1, DMPAPER_A4 = 9 };
// The paper of the locale (LC_PAPER): Letter for 216 x 279 mm, else A4.
int GetDefaultPaperSize();

// Protocols by index: 0 none, 1 "http", 2 "https", 3 "ftp", 4 "mailto", 5 "its"; and the
// command line of the program registered for each, empty until LoadProtocolCommands.
extern const std::array<std::string, 6> ProtocolNames;
extern std::array<std::string, 6> ProtocolCommands;
enum : int { protoNone, protoHttp, protoHttps, protoFtp, protoMailto, protoIts };

void LoadProtocolCommands();
// The index of the text before the first ":", ignoring letter case; 0 when unknown.
int ProtocolOfUrl(const std::string& url);
// Opens the address with xdg-open, a mail address (with its subject and body) with xdg-email; error 89 for an unknown
// protocol, error 1314 when no program is registered for it.
void OpenUrl(const std::string& url);
// The program that opens documents with the extension (".pdf") and its fixed arguments, as an
// argument list to which the caller adds the document; empty when there is none.
std::vector<std::string> GetProgramForExtension(const std::string& extension);
// Opens the documents, all of the first one's type, each with the desktop's program for that
// type. Without a display their paths are told instead. When no program is set for the type, one
// box says so at once, naming them, and nothing is started.
void OpenDocuments(const std::vector<std::string>& documents);

// The address of the named entry of a loaded library (a handle of dlopen); error 30 with the name
// when the library has no such entry.
void* GetProcAddressChecked(const std::string& entryName, void* module);

// Installs (register) or removes the desktop entry file in the user's applications folder
// ($XDG_DATA_HOME/applications) under its own name; removing always comes first. The installed
// entry's commands start the running executable by its full path, and the icon it names (a PNG
// file of that name beside the entry) is installed with it in the user's icon theme folder.
void RegisterComServer(const std::string& libraryPath, bool doRegister);

// Fills "SenderName" (the account's full name) and "SenderAddress" ($EMAIL) when known.
void ReadMailAccounts(TStringList& list);
std::string GetMailSenderName();
std::string GetMailSenderAddress();
// Recipients split at ";" (a leading "mailto:" dropped), attachments one path per line. With
// showDialog the desktop's mail composer (xdg-email) shows the message; without, the system's
// sendmail sends it from the user's mail identity. Error 87 when the composer cannot be started,
// when there is no sendmail or it refuses the message, when there is no recipient or an
// attachment cannot be read.
void SendMail(const std::string& recipients, const std::string& subject, const std::string& attachments,
              const std::string& body, bool showDialog);

// n pixels at 96 dpi in pixels of the screen.
int ScaleToScreenDpi(int n);
