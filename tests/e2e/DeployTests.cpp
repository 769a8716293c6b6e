// The switches and records deployment tools rely on, run as they run them, and
// the build's winget manifest.
#include "E2ETest.h"
#include <gtest/gtest.h>
#include <tuple>

namespace {
// The first "Key: value" of the manifest at any depth, its single quotes dropped.
std::string Field(const std::string& yaml, const std::string& key) {
    for (std::size_t start = 0, end; (end = yaml.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = yaml.substr(start, end - start);
        line.erase(0, line.find_first_not_of(" -"));
        if (line.rfind(key + ": ", 0) != 0) continue;
        std::string v = line.substr(key.size() + 2);
        return v.size() >= 2 && v[0] == '\'' ? v.substr(1, v.size() - 2) : v;
    }
    return {};
}

// A switch of the manifest with its token replaced, as winget does.
std::wstring Replaced(std::wstring text, const std::wstring& token, const std::wstring& by) {
    std::size_t at = text.find(token);
    return at == std::wstring::npos ? text : text.replace(at, token.size(), by);
}

class Deploy : public E2ETest {
protected:
    // What the log switch and the uninstaller leave in the temporary folder.
    void TearDown() override {
        for (const wchar_t* pattern : {L"Norvanta-setup-*.log", L"Norvanta-uninstall-*"})
            for (const std::wstring& f : TempFiles(pattern)) DeleteFileW(f.c_str());
        E2ETest::TearDown();
    }
    static RegValue Entry(const wchar_t* name) { return ReadValue(HKEY_LOCAL_MACHINE, kUninstallKeyW, name); }
};
} // namespace

TEST_F(Deploy, TheHelpTheCompleteEntryItsQuietCommandAndTheLogsInTheTemporaryFolder) {
    for (const auto& [args, exe, part] : {std::tuple{L"/?", SetupExe(), L"/NODESKTOP"},
                                          std::tuple{L"-ui /HELP", DemoProgramExe(), L"/QUIET"}}) {
        SetupProcess help(args, exe);
        HWND box = help.MessageBox();
        ASSERT_NE(box, nullptr) << Utf8(args);
        EXPECT_NE(help.MessageText(box).find(part), std::wstring::npos) << Utf8(args);
        help.Answer(box, IDOK);
        EXPECT_EQ(help.Wait(), 0);
    }
    EXPECT_EQ(RunSilently(L"/S /?"), 0); // asked for in a silent run: nothing shows

    // A log whose folder cannot be made (a file is in the way) goes to the temporary folder and says so.
    std::wstring file = dir / L"un fichier", main = DefaultMainDir(), program = main + L"\\qrd.exe";
    CloseHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_EQ(RunSilently(L"/QUIET /NODESKTOP /CURRENTUSER \"/LOG=" + file + L"\\setup.log\""), 0);
    std::vector<std::string> lines = FileLines(TempFiles(L"Norvanta-setup-*.log").at(0));
    EXPECT_TRUE(
        HasLine(lines, "The run log " + Utf8(file) + "\\setup.log could not be made, so it is written"));
    EXPECT_EQ(lines.back().substr(24), "Exit code 0: installed");
    // The shortcut switches are recorded as the ready page's boxes would be.
    EXPECT_TRUE(Exists(ShortcutIn(CSIDL_PROGRAMS)) && !Exists(ShortcutIn(CSIDL_COMMON_PROGRAMS)) &&
                !Exists(ShortcutIn(CSIDL_DESKTOPDIRECTORY)) &&
                !Exists(ShortcutIn(CSIDL_COMMON_DESKTOPDIRECTORY)));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"DSKSHORTCUT").Number() +
                  ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"INSTALLTOALL").Number(),
              0u);

    EXPECT_EQ(Entry(L"InstallLocation").Text(), main);
    EXPECT_GE(Entry(L"EstimatedSize").Number() * 1024ull, Bytes(program).size()); // no longer a fixed 3,072
    // The quiet command as a tool runs it, with a bare /LOG: nothing is asked, everything goes.
    std::wstring quiet = Entry(L"QuietUninstallString").Text();
    ASSERT_EQ(quiet, L"\"" + program + L"\" -ui /S");
    EXPECT_EQ(RunSilently(quiet.substr(program.size() + 3) + L" /LOG", program), 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
    EXPECT_FALSE(Exists(main));
    EXPECT_EQ(FileLines(TempFiles(L"Norvanta-uninstall-*.log").at(0)).back().substr(24),
              "Exit code 0: everything the installation recorded was removed");
}

TEST_F(Deploy, OtherInstallersFolderSwitchesAndTheEarlierCopyGivesWay) {
    std::wstring first = dir / L"Mes programmes\\Norvanta", second = dir / L"Autre dossier";
    std::wstring runLog = dir / L"journaux\\nouveau\\setup.log"; // its folders are made
    // NSIS's form, unquoted and last, blanks and all.
    ASSERT_EQ(RunSilently(L"/VERYSILENT /CURRENTUSER /D=" + first), 0);
    ASSERT_TRUE(Exists(first + L"\\qrd.exe"));
    // Inno Setup's form into another folder: the first copy goes, but for a file held open.
    HANDLE held =
        CreateFileW((first + L"\\Licence.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_EQ(RunSilently(L"/S /ALLUSERS /DIR=\"" + second + L"\" \"/LOG=" + runLog + L"\""), 0);
    CloseHandle(held);
    // What a later removal of the rest needs stays with it: its program and Install.log.
    EXPECT_TRUE(Exists(first + L"\\qrd.exe") && Exists(first + L"\\Install.log"));
    EXPECT_EQ(Entry(L"InstallLocation").Text(), second);
    EXPECT_EQ(LoadLink(ShortcutIn(CSIDL_COMMON_PROGRAMS)).path, second + L"\\qrd.exe");
    std::vector<std::string> lines = FileLines(runLog);
    EXPECT_TRUE(HasLine(lines, "Destination: " + Utf8(second) + " (the /D switch), an installation"));
    EXPECT_TRUE(HasLine(lines, "The earlier copy in " + Utf8(first) +
                                   " could not be removed whole; what remains: " + Utf8(first) +
                                   "\\Licence.txt ("));
    EXPECT_EQ(lines.back().substr(24), "Exit code 0: installed");

    // Another account, with no settings of its own, finds the installation by its entry.
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Norvanta Word Processor");
    ASSERT_EQ(RunSilently(L"/S \"/LOG=" + runLog + L"\""), 0);
    EXPECT_TRUE(HasLine(FileLines(runLog),
                        "Destination: " + Utf8(second) + " (the earlier installation's uninstall entry)"));
    EXPECT_FALSE(Exists(DefaultMainDir()));
}

TEST_F(Deploy, TheWingetManifestsSwitchesAndCodesAreTheSetupsOwn) {
    std::string m = Bytes(FromUtf8(NORVANTA_WINGET_INSTALLER));
    ASSERT_FALSE(m.empty());
    for (const auto& [key, value] :
         {std::pair{"ManifestVersion", "1.10.0"}, {"InstallerType", "exe"}, {"Scope", "machine"}})
        EXPECT_EQ(Field(m, key), value) << key;
    // The program's own hash, as the build records it.
    EXPECT_NE(Bytes(FromUtf8(NORVANTA_BUILD_INFO)).find(Field(m, "InstallerSha256")), std::string::npos);
    std::wstring folder = dir / L"Par winget", log = dir / L"winget.log";
    auto run = [&](const std::wstring& into) {
        return RunSilently(FromUtf8(Field(m, "Silent").c_str()) + L" " +
                           Replaced(FromUtf8(Field(m, "Log").c_str()), L"<LOGPATH>", log) + L" " +
                           Replaced(FromUtf8(Field(m, "InstallLocation").c_str()), L"<INSTALLPATH>", into));
    };
    ASSERT_EQ(run(folder), 0);
    EXPECT_TRUE(Exists(folder + L"\\qrd.exe"));
    EXPECT_FALSE(FileLines(log).empty());
    // What winget finds the installed program by.
    std::wstring key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                       FromUtf8(Field(m, "ProductCode").c_str());
    for (const char* name : {"DisplayName", "Publisher", "DisplayVersion"})
        EXPECT_EQ(Utf8(ReadValue(HKEY_LOCAL_MACHINE, key.c_str(), FromUtf8(name).c_str()).Text()),
                  Field(m, name));

    // The return codes it maps are the setup's (each is provoked by the other tests); 3 here.
    for (const char* code : {"1\n  ReturnResponse: packageInUse", "2\n  ReturnResponse: fileInUse",
                             "3\n  ReturnResponse: invalidParameter"})
        EXPECT_NE(m.find(std::string("InstallerReturnCode: ") + code), std::string::npos) << code;
    EXPECT_EQ(run(L"C:\\Mauvais|nom"), 3);
}
