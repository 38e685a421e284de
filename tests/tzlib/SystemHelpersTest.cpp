#include "tzlib/SystemHelpers.h"

#include <dlfcn.h>
#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "TestSupport.h"
#include "platform/Classes.h"
#include "tzlib/Errors.h"
#include "tzlib/MailMessage.h"
#include "tzlib/DesktopExec.h"
#include "tzlib/Registry.h"
#include "tzlib/TextFormats.h"

namespace fs = std::filesystem;

namespace {

std::pair<int32_t, std::string> ErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EBrelvantError& e) {
        return {e.ErrorCode, e.ErrorParam};
    }
    return {0, ""};
}

// Private XDG folders, so that only the test's own associations count.
class TDesktopFixture : public testing::Test {
protected:
    TDesktopFixture()
        : configHome("XDG_CONFIG_HOME", folder.Path("config")),
          configDirs("XDG_CONFIG_DIRS", folder.Path("etc")),
          dataHome("XDG_DATA_HOME", folder.Path("data")),
          dataDirs("XDG_DATA_DIRS", folder.Path("share") + ":/usr/share"),
          desktop("XDG_CURRENT_DESKTOP", std::nullopt) {
        for (const char* name : {"config", "etc", "data/applications", "share/applications", "bin", "record"})
            fs::create_directories(folder.Path(name));
        ProtocolCommands = {};
    }
    ~TDesktopFixture() override { ProtocolCommands = {}; }

    void AddProgram(const std::string& id, const std::string& exec) {
        WriteFile(folder.Path("data/applications/" + id), "[Desktop Entry]\nType=Application\nName=" + id +
                                                            "\nExec=" + exec + "\n\n[Desktop Action x]\nExec=other\n");
    }

    // Stand-ins for xdg-open and xdg-email on the PATH that record their arguments, a line each.
    void InstallRecordingCommands() {
        for (const char* name : {"xdg-open", "xdg-email"}) {
            const std::string script = folder.Path("bin/" + std::string(name));
            const std::string record = folder.Path("record/" + std::string(name));
            WriteFile(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + record + ".tmp\"\n" +
                                  "mv \"" + record + ".tmp\" \"" + record + "\"\n");
            fs::permissions(script, fs::perms::owner_all);
        }
        path.emplace("PATH", folder.Path("bin") + ":" + std::getenv("PATH"));
    }

    // The arguments a stand-in received; it runs detached, so wait for it.
    std::string Recorded(const std::string& name) {
        const std::string file = folder.Path("record/" + name);
        for (int i = 0; i < 500 && !fs::exists(file); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return ReadFile(file);
    }

    TLibrarySettingsGuard settings;
    TScratchFolder folder;
    TEnvironmentGuard configHome, configDirs, dataHome, dataDirs, desktop;
    std::optional<TEnvironmentGuard> path;
};

TEST(SystemFolders, TempFolderKeepsItsLetterCase) {
    TEnvironmentGuard tmp("TMPDIR", "/var/Tmp/Mixed/");
    EXPECT_EQ(GetTempFolder(), "/var/Tmp/Mixed/");
    TEnvironmentGuard none("TMPDIR", std::nullopt);
    EXPECT_EQ(GetTempFolder(), "/tmp/");
}

TEST(SystemFolders, DefaultPaperComesFromTheLocalesPaperSetting) {
    TEnvironmentGuard all("LC_ALL", std::nullopt), lang("LANG", std::nullopt);
    {
        TEnvironmentGuard paper("LC_PAPER", "C");
        EXPECT_EQ(GetDefaultPaperSize(), DMPAPER_A4);
    }
    TLocaleProvider american("en_US.UTF-8"), german("de_DE.UTF-8");
    ASSERT_TRUE(american.Available() && german.Available());
    const TLocaleLookupLeakGuard guard;
    {
        TEnvironmentGuard paper("LC_PAPER", "en_US.UTF-8");
        EXPECT_EQ(GetDefaultPaperSize(), DMPAPER_LETTER);
    }
    {
        TEnvironmentGuard paper("LC_PAPER", "de_DE.UTF-8");
        EXPECT_EQ(GetDefaultPaperSize(), DMPAPER_A4);
    }
    {
        TEnvironmentGuard paper("LC_PAPER", "xx_NOWHERE.UTF-8");
        EXPECT_EQ(GetDefaultPaperSize(), DMPAPER_A4);
    }
}

// Folders and settings of Windows have no counterpart here: every query answers empty text.
TEST(SystemFolders, WindowsFoldersAndSettingsAreEmpty) {
    const struct {
        const char* name;
        std::string answer;
    } cases[] = {
        {"GetWindowsFolder", GetWindowsFolder()},
        {"GetSystemFolder", GetSystemFolder()},
        {"GetWindowsSetting ProgramFilesDir", GetWindowsSetting("ProgramFilesDir")},
        {"GetWindowsSetting CommonFilesDir", GetWindowsSetting("CommonFilesDir")},
        {"GetProgramFilesFolder", GetProgramFilesFolder()},
    };
    for (const auto& c : cases) EXPECT_EQ(c.answer, "") << c.name;
}

TEST(SystemFolders, ScalesFrom96DpiWithoutAScreen) { EXPECT_EQ(ScaleToScreenDpi(275), 275); }

TEST(SystemFolders, EntriesOfALoadedLibrary) {
    TLibrarySettingsGuard settings;
    void* libc = ::dlopen("libc.so.6", RTLD_NOW);
    ASSERT_NE(libc, nullptr);
    EXPECT_EQ(GetProcAddressChecked("strlen", libc), ::dlsym(libc, "strlen"));
    EXPECT_EQ(ErrorOf([&] { GetProcAddressChecked("DllRegisterServer", libc); }),
              (std::pair<int32_t, std::string>{30, "DllRegisterServer"}));
    ::dlclose(libc);
}

using TArguments = std::vector<std::string>;

TEST_F(TDesktopFixture, FindsTheProgramForAnExtensionAsAnArgumentList) {
    AddProgram("viewer.desktop", "\"/opt/My Viewer/viewer\" %f");
    WriteFile(folder.Path("data/applications/hidden.desktop"), "[Desktop Entry]\nExec=hidden %f\nHidden=true\n");
    WriteFile(folder.Path("config/mimeapps.list"),
              "[Added Associations]\napplication/pdf=other.desktop;\n"
              "[Default Applications]\napplication/pdf=missing.desktop;hidden.desktop;viewer.desktop;\n");
    EXPECT_EQ(GetProgramForExtension(".pdf"), TArguments{"/opt/My Viewer/viewer"});
    EXPECT_EQ(GetProgramForExtension(".PDF"), TArguments{"/opt/My Viewer/viewer"});  // as Windows does
    EXPECT_EQ(GetProgramForExtension(".mordale-unknown"), TArguments{});

    AddProgram("blender.desktop", "blender --open %F");
    WriteFile(folder.Path("share/applications/mimeinfo.cache"), "[MIME Cache]\napplication/x-blender=blender.desktop;\n");
    EXPECT_EQ(GetProgramForExtension("blend"), (TArguments{"blender", "--open"}));
}

// Quotes, escapes and field codes as desktop entries write them; the document's own argument is
// left for the caller.
TEST_F(TDesktopFixture, ReadsDesktopCommandLinesAsArguments) {
    const std::string file = "/usr/share/applications/tool.desktop";
    const struct {
        std::string exec;
        TArguments expected;
    } cases[] = {
        {"tool", {"tool"}},
        {"  tool   -x  ", {"tool", "-x"}},
        {"\"/opt/a b/tool\" \"\" --title=\"My \\\"Tool\\\"\"", {"/opt/a b/tool", "", "--title=My \"Tool\""}},
        {"sh -c \"echo \\\"\\$HOME\\\" 100%%\" x", {"sh", "-c", "echo \"$HOME\" 100%%", "x"}},
        {"tool %i --name %c --entry=%k 100%%", {"tool", "--icon", "tool-icon", "--name", "Tool", "--entry=" + file, "100%"}},
        {"tool --file=%f %U %u %F %d %D %n %N %v %m end", {"tool", "end"}},
        {"tool \"%f\"", {"tool", "%f"}},  // quoted: text, not a code
        {"tool \"open", {}},
        {"tool %z", {}},
        {"tool %", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProgramArguments({file, c.exec, "Tool", "tool-icon"}), c.expected) << c.exec;
    EXPECT_EQ(ProgramArguments({file, "tool %i x", "Tool", ""}), (TArguments{"tool", "x"}));
}

TEST_F(TDesktopFixture, KnowsProtocolsAndTheirPrograms) {
    const std::pair<std::string, int> urls[] = {
        {"http://example.org", protoHttp}, {"HTTPS://example.org", protoHttps}, {"Ftp://host/file", protoFtp},
        {"MailTo:ann@example.org", protoMailto}, {"its:help.chm", protoIts}, {":x", protoNone},
        {"file:///tmp/a.pdf", protoNone}, {"example.org", protoNone}, {"/tmp/a:b", protoNone},
    };
    for (const auto& [url, protocol] : urls) EXPECT_EQ(ProtocolOfUrl(url), protocol) << url;

    AddProgram("browser.desktop", "browser %u");
    WriteFile(folder.Path("config/mimeapps.list"), "[Default Applications]\nx-scheme-handler/http=browser.desktop\n");
    LoadProtocolCommands();
    EXPECT_EQ(ProtocolCommands[protoHttp], "browser %u");
    EXPECT_EQ(ProtocolCommands[protoIts], "browser %u");
    ProtocolCommands[protoHttp] = "kept";
    LoadProtocolCommands();  // loads only once
    EXPECT_EQ(ProtocolCommands[protoHttp], "kept");
}

TEST_F(TDesktopFixture, OpensAddressesWithTheDesktopsOpeners) {
    InstallRecordingCommands();
    EXPECT_EQ(ErrorOf([] { OpenUrl("example.org"); }), std::make_pair(89, std::string("example.org")));
    EXPECT_EQ(ErrorOf([] { OpenUrl("ftp://example.org"); }), std::make_pair(1314, std::string("ftp")));

    ProtocolCommands[protoHttp] = "browser %u";
    ProtocolCommands[protoMailto] = "mailer %u";
    OpenUrl("http://example.org/a b");
    EXPECT_EQ(Recorded("xdg-open"), "http://example.org/a b\n");
    OpenUrl("MailTo:support@example.org?subject=Mordale%20help&body=Hello");
    EXPECT_EQ(Recorded("xdg-email"), "mailto:support@example.org?subject=Mordale%20help&body=Hello\n");
}

TEST_F(TDesktopFixture, SendsMailThroughTheComposer) {
    InstallRecordingCommands();
    SendMail("MAILTO:ann@example.org;bob@example.org;;-x;", "Brelvant Mordale", "/tmp/a.pdf\r\n/tmp/b c.pdf", "Hello",
             true);
    EXPECT_EQ(Recorded("xdg-email"),
              "--subject\nBrelvant Mordale\n--body\nHello\n--attach\n/tmp/a.pdf\n--attach\n/tmp/b c.pdf\n"
              "ann@example.org\nbob@example.org\n");

    TEnvironmentGuard noPrograms("PATH", folder.Path("record"));
    EXPECT_EQ(ErrorOf([] { SendMail("ann@example.org", "", "", "", true); }), std::make_pair(87, std::string()));
}

// A stand-in for sendmail on the PATH keeps its arguments and the message it was given, and exits
// with the status written in its folder's "status" file.
class TSendmailFixture : public TDesktopFixture {
protected:
    TSendmailFixture() : email("EMAIL", "me@example.org") {
        const std::string script = folder.Path("bin/sendmail");
        WriteFile(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + folder.Path("record/arguments") + "\"\ncat > \"" +
                              folder.Path("record/message") + "\"\nexit $(cat \"" + folder.Path("status") + "\")\n");
        fs::permissions(script, fs::perms::owner_all);
        WriteFile(folder.Path("status"), "0");
        path.emplace("PATH", folder.Path("bin") + ":" + std::getenv("PATH"));
    }

    // The message as Python's mail parser reads it: the headers, the text and each attachment.
    std::string Parsed() {
        const std::string script = folder.Path("parse.py");
        WriteFile(script,
                  "import email, email.policy, hashlib, sys\n"
                  "m = email.message_from_binary_file(open(sys.argv[1], 'rb'), policy=email.policy.default)\n"
                  "print('From:', m['From'].addresses[0].addr_spec)\n"
                  "print('To:', ', '.join(a.addr_spec for a in m['To'].addresses))\n"
                  "print('Subject:', m['Subject'])\n"
                  "print('Text:', repr(m.get_body(('plain',)).get_content()))\n"
                  "for part in m.iter_attachments():\n"
                  "    print('Attachment:', part.get_filename(), hashlib.md5(part.get_content()).hexdigest())\n");
        return RunTool("python3 " + Quoted(script) + " " + Quoted(folder.Path("record/message"))).output;
    }

    TEnvironmentGuard email;
};

TEST_F(TSendmailFixture, SendsWithoutShowingThroughSendmail) {
    WriteFile(folder.Path("Book.pdf"), "%PDF-1.3 book");
    WriteFile(folder.Path("\xC3\x89t\xC3\xA9 \"1\".pdf"), std::string(5000, '\x01'));
    SendMail("MAILTO:ann@example.org;bob@example.org;", "Pictures of Z\xC3\xBCrich",
             folder.Path("Book.pdf") + "\r\n" + folder.Path("\xC3\x89t\xC3\xA9 \"1\".pdf"), "Hello,\n.\nsee the books",
             false);
    EXPECT_EQ(ReadFile(folder.Path("record/arguments")), "-t\n-oi\n");
    EXPECT_EQ(Parsed(), "From: me@example.org\nTo: ann@example.org, bob@example.org\n"
                        "Subject: Pictures of Z\xC3\xBCrich\nText: 'Hello,\\n.\\nsee the books'\n"
                        "Attachment: Book.pdf " + RunTool("printf '%s' '%PDF-1.3 book' | md5sum | cut -c1-32").output +
                        "Attachment: \xC3\x89t\xC3\xA9 \"1\".pdf " +
                        RunTool("head -c 5000 /dev/zero | tr '\\0' '\\1' | md5sum | cut -c1-32").output);
}

// Sender names with the characters that mean something in an address line, or beyond ASCII, read
// back whole.
TEST_F(TSendmailFixture, SenderNamesReadBackWhole) {
    for (const std::string name : {"Ann Q. \"Jo\" Public, Jr.", "Zo\xC3\xAB Back\\slash", "Plain"}) {
        TMailMessage message;
        message.senderName = name;
        message.senderAddress = "ann@example.org";
        message.recipients = {"bob@example.org"};
        WriteFile(folder.Path("record/message"), ComposeMailMessage(message, 0));
        const std::string script = folder.Path("name.py");
        WriteFile(script, "import email, email.policy, sys\n"
                          "m = email.message_from_binary_file(open(sys.argv[1], 'rb'), policy=email.policy.default)\n"
                          "print(m['From'].addresses[0].display_name, m['Date'], sep='|')\n");
        EXPECT_EQ(RunTool("python3 " + Quoted(script) + " " + Quoted(folder.Path("record/message"))).output,
                  name + "|Thu, 01 Jan 1970 00:00:00 +0000\n");
    }
}

// Whatever keeps the message from being sent is error 87; sendmail never sees a message that
// would smuggle in a header of its own.
TEST_F(TSendmailFixture, AMailThatCannotBeSentIsError87) {
    const struct {
        const char* what;
        std::string recipients, attachments, status;
        bool reachesSendmail;
    } cases[] = {
        {"sendmail refuses it", "ann@example.org", "", "75", true},
        {"an attachment is missing", "ann@example.org", folder.Path("missing.pdf"), "0", false},
        {"no recipient", ";MAILTO:;", "", "0", false},
        {"a line break in a recipient", "ann@example.org\nBcc: eve@example.org", "", "0", false},
    };
    for (const auto& c : cases) {
        fs::remove(folder.Path("record/message"));
        WriteFile(folder.Path("status"), c.status);
        EXPECT_EQ(ErrorOf([&] { SendMail(c.recipients, "Subject", c.attachments, "Body", false); }),
                  std::make_pair(87, std::string()))
            << c.what;
        EXPECT_EQ(fs::exists(folder.Path("record/message")), c.reachesSendmail) << c.what;
    }
    // Without any sendmail the same failure comes; a machine with a mail transfer agent of its own
    // would send this one.
    if (fs::exists("/usr/sbin/sendmail") || fs::exists("/usr/lib/sendmail")) return;
    fs::remove(folder.Path("bin/sendmail"));
    EXPECT_EQ(ErrorOf([] { SendMail("ann@example.org", "", "", "", false); }), std::make_pair(87, std::string()));
}

// The installed entry starts this very program by its full path, and its icon, shipped beside
// it, goes into the user's icon theme folder of its size; unregistering removes both.
TEST_F(TDesktopFixture, RegisteringInstallsTheDesktopEntryAndUnregisteringRemovesIt) {
    const std::string entry = folder.Path("mordale-menu.desktop");
    const std::string installed = folder.Path("data/applications/mordale-menu.desktop");
    const std::string icon = folder.Path("data/icons/hicolor/20x10/apps/menu-icon.png");
    WriteFile(entry, "[Desktop Entry]\nType=Application\nName=Make PDF\nIcon=menu-icon\nExec=mordale /S %F\n\n"
                     "[Desktop Action Book]\nName=Book\nExec=\"/old place/mordale\" /B %F\n");
    ASSERT_EQ(RunTool("convert -size 20x10 xc:red " + Quoted(folder.Path("menu-icon.png"))).status, 0);
    RegisterComServer(entry, true);
    const std::string program = fs::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(ReadFile(installed), "[Desktop Entry]\nType=Application\nName=Make PDF\nIcon=menu-icon\nExec=" + program +
                                       " /S %F\n\n[Desktop Action Book]\nName=Book\nExec=" + program + " /B %F\n");
    EXPECT_EQ(ReadFile(icon), ReadFile(folder.Path("menu-icon.png")));
    RegisterComServer(entry, false);
    EXPECT_FALSE(fs::exists(installed));
    EXPECT_FALSE(fs::exists(icon));

    RegisterComServer(entry, true);
    fs::remove(entry);
    EXPECT_EQ(ErrorOf([&] { RegisterComServer(entry, true); }).first, 4);  // nothing to register
    EXPECT_FALSE(fs::exists(installed));
    EXPECT_FALSE(fs::exists(icon));
    RegisterComServer(entry, false);

    // An entry whose icon is missing is not installed either.
    WriteFile(entry, "[Desktop Entry]\nType=Application\nName=Make PDF\nIcon=lost-icon\nExec=mordale %F\n");
    EXPECT_EQ(ErrorOf([&] { RegisterComServer(entry, true); }).first, 4);
    EXPECT_FALSE(fs::exists(installed));
}

// A program path as the first word of an Exec line: read back as the same path by our reader,
// and accepted by the desktop's own validator.
TEST_F(TDesktopFixture, AProgramPathBecomesAnExecWordThatReadsBackTheSame) {
    const struct {
        std::string program, word;
    } cases[] = {
        {"/usr/bin/mordale", "/usr/bin/mordale"},
        {"/opt/my apps/mordale", "\"/opt/my apps/mordale\""},
        {"/opt/a\"b$c`d\\e/mordale", "\"/opt/a\\\"b\\$c\\`d\\\\e/mordale\""},
        {"/opt/100%/mordale", "/opt/100%%/mordale"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExecProgramWord(c.program), c.word) << c.program;
        EXPECT_EQ(ProgramArguments({"", c.word + " /W %F", "", ""}), (TArguments{c.program, "/W"})) << c.program;
        std::string escaped;  // the file's string escapes
        for (const char ch : c.word) escaped += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
        const std::string file = folder.Path("check.desktop");
        WriteFile(file, "[Desktop Entry]\nType=Application\nName=Mordale\nExec=" + escaped + " /W %F\n");
        const TCommandResult validated = RunTool("desktop-file-validate " + Quoted(file));
        EXPECT_EQ(validated.status, 0) << c.program << "\n" << validated.output;
        EXPECT_EQ(validated.output, "") << c.program;
    }
}

TEST_F(TDesktopFixture, MailIdentityComesFromTheAccountAndEmail) {
    const passwd* account = ::getpwuid(::getuid());
    ASSERT_NE(account, nullptr);
    const std::string fullName = TextBefore(account->pw_gecos ? account->pw_gecos : "", ',');
    {
        TEnvironmentGuard email("EMAIL", "ann@example.org");
        EXPECT_EQ(GetMailSenderAddress(), "ann@example.org");
        EXPECT_EQ(GetMailSenderName(), fullName);
    }
    TEnvironmentGuard email("EMAIL", std::nullopt);
    TStringList list;
    ReadMailAccounts(list);
    EXPECT_EQ(list.IndexOf("SenderAddress="), -1);
    EXPECT_EQ(GetMailSenderAddress(), "");
}

TEST(Registry, OpensKeyPathsComponentByComponent) {
    TScratchFolder folder;
    const std::string file = folder.Path("Brelvant/mordale.conf");
    {
        TRegistry registry(file, TRootKey::HKEY_LOCAL_MACHINE);
        EXPECT_EQ(ErrorOf([&] { OpenKeyPath(registry, "\\Software\\Brelvant\\mordale", true); }),
                  std::make_pair(28, std::string("HKEY_LOCAL_MACHINE\\Software")));
        OpenKeyPath(registry, "\\Software\\Brelvant\\mordale", false);
        EXPECT_EQ(registry.CurrentPath(), "Software\\Brelvant\\mordale");
        registry.WriteString("Mode", "Book");
        OpenKeyPath(registry, "Fonts\\Names", false);  // below the current key
        EXPECT_EQ(registry.CurrentPath(), "Software\\Brelvant\\mordale\\Fonts\\Names");
        registry.CloseKey();
    }
    TRegistry registry(file, TRootKey::HKEY_LOCAL_MACHINE);
    OpenKeyPath(registry, "\\software\\brelvant\\MORDALE", true);  // keys ignore letter case
    EXPECT_EQ(registry.ReadString("mode"), "Book");
    EXPECT_EQ(ErrorOf([&] { OpenKeyPath(registry, "Missing\\Deeper", true); }),
              std::make_pair(28, std::string("HKEY_LOCAL_MACHINE\\software\\brelvant\\MORDALE\\Missing")));
    registry.SetRootKey(TRootKey::HKEY_CLASSES_ROOT);
    EXPECT_EQ(RootKeyName(registry), "");
    EXPECT_TRUE(registry.OpenKey("\\Software\\Brelvant\\mordale\\Fonts\\Names", false));
}

TEST(Registry, ASettingsFileThatCannotBeReadIsLoggedAndKept) {
    TLibrarySettingsGuard settings;
    TScratchFolder folder;
    const std::string file = folder.Path("mordale.conf");
    using namespace std::string_literals;
    const std::string binary = "\x01\0\x02 the user's settings, damaged"s;
    WriteFile(file, binary);
    LogFileName = folder.Path("mordale.log");
    {
        TRegistry registry(file);
        registry.OpenKey("\\Software", true);
        registry.WriteString("Mode", "Book");
        registry.CloseKey();
    }
    EXPECT_EQ(ReadFile(file + ".bad"), binary);
    const std::string log = ReadFile(LogFileName);
    EXPECT_NE(log.find("\"" + file + "\" cannot be used as it is (not a text file)"), std::string::npos) << log;
    EXPECT_NE(log.find(file + ".bad"), std::string::npos) << log;
    EXPECT_EQ(TRegistry(file).KeyExists("\\Software"), true);
}

}  // namespace
