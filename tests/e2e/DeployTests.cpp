// The switches and records deployment tools rely on, run as they run them: other
// installers' folder and silent forms, the run log with no file or one that
// cannot be made, the shortcut switches, the help, the complete uninstall entry,
// an earlier installation found and replaced, and the build's winget manifest.
#include "E2ETest.h"
#include <bcrypt.h>
#include <gtest/gtest.h>

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

std::string Sha256Hex(const std::string& bytes) {
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    unsigned char digest[32] = {};
    if (BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
        BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0) == 0) {
        BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                       static_cast<ULONG>(bytes.size()), 0);
        BCryptFinishHash(hash, digest, sizeof digest, 0);
    }
    if (hash) BCryptDestroyHash(hash);
    if (alg) BCryptCloseAlgorithmProvider(alg, 0);
    std::string hex;
    for (unsigned char b : digest) hex += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
    return hex;
}

std::wstring Replaced(std::wstring text, const std::wstring& token, const std::wstring& by) {
    std::size_t at = text.find(token);
    return at == std::wstring::npos ? text : text.replace(at, token.size(), by);
}

class Deploy : public E2ETest {
protected:
    // The logs the log switch writes into the temporary folder, and the program
    // files an uninstaller leaves there for the restart.
    void TearDown() override {
        for (const wchar_t* pattern : {L"Norvanta-setup-*.log", L"Norvanta-uninstall-*"})
            for (const std::wstring& f : TempFiles(pattern)) DeleteFileW(f.c_str());
        E2ETest::TearDown();
    }
    static RegValue Entry(const wchar_t* name) { return ReadValue(HKEY_LOCAL_MACHINE, kUninstallKeyW, name); }
    static std::vector<std::string> LastRunLog(const wchar_t* pattern) {
        std::vector<std::wstring> logs = TempFiles(pattern);
        return logs.size() == 1 ? FileLines(logs[0]) : std::vector<std::string>{"no single " + Utf8(pattern)};
    }
};
} // namespace

TEST_F(Deploy, TheUninstallEntryIsCompleteAndItsQuietCommandRemovesIt) {
    ASSERT_EQ(RunSilently(L"/QUIET /NODESKTOP /CURRENTUSER"), 0);
    std::wstring main = DefaultMainDir(), program = main + L"\\qrd.exe";
    // The shortcut switches are recorded as the ready page's boxes would be.
    EXPECT_TRUE(Exists(ShortcutIn(CSIDL_PROGRAMS)));
    for (int csidl : {CSIDL_COMMON_PROGRAMS, CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY})
        EXPECT_FALSE(Exists(ShortcutIn(csidl))) << csidl;
    for (const wchar_t* off : {L"DSKSHORTCUT", L"INSTALLTOALL"})
        EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, off).Number(), 0u) << Utf8(off);

    EXPECT_EQ(Entry(L"InstallLocation").Text(), main);
    EXPECT_EQ(Entry(L"QuietUninstallString").Text(), L"\"" + program + L"\" -ui /S");
    EXPECT_EQ(Entry(L"InstallDate").Text().size(), 8u);
    for (const wchar_t* one : {L"NoModify", L"NoRepair"}) EXPECT_EQ(Entry(one).Number(), 1u) << Utf8(one);
    EXPECT_EQ(Entry(L"VersionMajor").Number() * 100 + Entry(L"VersionMinor").Number(), 404u);
    EXPECT_NE(Entry(L"URLInfoAbout").Text(), L"");
    // What was written, no longer the fixed 3,072 KB.
    std::size_t written = Bytes(program).size() + Bytes(main + L"\\Licence.txt").size();
    EXPECT_GE(Entry(L"EstimatedSize").Number() * 1024ull, written);
    EXPECT_LT(Entry(L"EstimatedSize").Number(), 3072u);

    // The quiet command as a tool runs it: nothing is asked, everything goes.
    std::wstring quiet = Entry(L"QuietUninstallString").Text();
    EXPECT_EQ(RunSilently(quiet.substr(program.size() + 3), program), 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
    EXPECT_FALSE(Exists(main));
}

TEST_F(Deploy, OtherInstallersFolderSwitchesAndTheEarlierCopyGivesWay) {
    std::wstring first = dir / L"Mes programmes\\Norvanta", second = dir / L"Autre dossier";
    std::wstring runLog = dir / L"journaux\\nouveau\\setup.log"; // its folders are made
    // NSIS's form, unquoted and last, blanks and all.
    ASSERT_EQ(RunSilently(L"/VERYSILENT /D=" + first), 0);
    ASSERT_TRUE(Exists(first + L"\\qrd.exe"));
    // Inno Setup's form into another folder: the first copy goes, but one file is held open.
    HANDLE held =
        CreateFileW((first + L"\\Licence.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_EQ(RunSilently(L"/S /DIR=\"" + second + L"\" \"/LOG=" + runLog + L"\""), 0);
    CloseHandle(held);
    EXPECT_TRUE(Exists(second + L"\\qrd.exe"));
    EXPECT_FALSE(Exists(first + L"\\qrd.exe"));
    EXPECT_EQ(Entry(L"InstallLocation").Text(), second);
    EXPECT_EQ(LoadLink(ShortcutIn(CSIDL_COMMON_PROGRAMS)).path, second + L"\\qrd.exe");
    std::vector<std::string> lines = FileLines(runLog);
    EXPECT_TRUE(HasLine(lines, "Destination: " + Utf8(second) + " (the /D switch), an installation"));
    EXPECT_TRUE(HasLine(lines, "The earlier copy in " + Utf8(first) +
                                   " could not be removed whole; what remains: " + Utf8(first) +
                                   "\\Licence.txt ("));
    EXPECT_EQ(lines.empty() ? "" : lines.back().substr(24), "Exit code 0: installed");

    // Another account, with no settings of its own, finds the installation by its entry.
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Norvanta Word Processor");
    ASSERT_EQ(RunSilently(L"/S \"/LOG=" + runLog + L"\""), 0);
    EXPECT_TRUE(HasLine(FileLines(runLog),
                        "Destination: " + Utf8(second) + " (the earlier installation's uninstall entry)"));
    EXPECT_FALSE(Exists(DefaultMainDir()));
}

TEST_F(Deploy, TheHelpAndTheLogInTheTemporaryFolder) {
    SetupProcess help(L"/?");
    HWND box = help.MessageBox();
    ASSERT_NE(box, nullptr);
    for (const wchar_t* part : {L"/DIR=", L"/NODESKTOP", L"/CURRENTUSER", L"/VERYSILENT", L"/LOG", L"217"})
        EXPECT_NE(help.MessageText(box).find(part), std::wstring::npos) << Utf8(part);
    help.Answer(box, IDOK);
    EXPECT_EQ(help.Wait(), 0);
    SetupProcess uninstallHelp(L"-ui /HELP", DemoProgramExe());
    box = uninstallHelp.MessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_NE(uninstallHelp.MessageText(box).find(L"/QUIET"), std::wstring::npos);
    uninstallHelp.Answer(box, IDOK);
    EXPECT_EQ(uninstallHelp.Wait(), 0);
    EXPECT_EQ(RunSilently(L"/S /?"), 0); // asked for in a silent run: nothing shows
    EXPECT_FALSE(Exists(DefaultMainDir()));

    // A log whose folder cannot be made (a file is in the way) goes to the temporary folder and says so.
    std::wstring file = dir / L"un fichier";
    CloseHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_EQ(RunSilently(L"/S \"/LOG=" + file + L"\\setup.log\""), 0);
    std::vector<std::string> lines = LastRunLog(L"Norvanta-setup-*.log");
    EXPECT_TRUE(
        HasLine(lines, "The run log " + Utf8(file) + "\\setup.log could not be made, so it is written here"));
    EXPECT_EQ(lines.back().substr(24), "Exit code 0: installed");
    // The uninstaller's bare /LOG.
    ASSERT_EQ(RunSilently(L"-ui /QUIET /LOG", DefaultMainDir() + L"\\qrd.exe"), 0);
    EXPECT_EQ(LastRunLog(L"Norvanta-uninstall-*.log").back().substr(24),
              "Exit code 0: everything the installation recorded was removed");
}

TEST_F(Deploy, TheWingetManifestsSwitchesAndCodesAreTheSetupsOwn) {
    std::string m = Bytes(FromUtf8(NORVANTA_WINGET_INSTALLER));
    ASSERT_FALSE(m.empty());
    EXPECT_EQ(Field(m, "ManifestVersion"), "1.10.0");
    EXPECT_EQ(Field(m, "InstallerType"), "exe");
    EXPECT_EQ(Field(m, "Scope"), "machine");
    EXPECT_EQ(Field(m, "InstallerSha256"), Sha256Hex(Bytes(SetupExe())));
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

    // Each return code it maps, as the setup gives it.
    EXPECT_NE(m.find("InstallerReturnCode: 3\n  ReturnResponse: invalidParameter"), std::string::npos);
    EXPECT_EQ(run(L"C:\\Mauvais|nom"), 3);
    EXPECT_NE(m.find("InstallerReturnCode: 2\n  ReturnResponse: fileInUse"), std::string::npos);
    HANDLE held =
        CreateFileW((folder + L"\\Licence.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(run(folder), 2);
    CloseHandle(held);
    EXPECT_NE(m.find("InstallerReturnCode: 1\n  ReturnResponse: packageInUse"), std::string::npos);
    SetupProcess running(L"", DemoProgramExe());
    ASSERT_TRUE(Eventually(MarkedWindowExists));
    EXPECT_EQ(run(folder), 1);
}
