// The installed qrd.exe's "-ui" after a real silent installation, run as the
// program list and deployment tools run it: what goes, what stays, the exit
// codes, the boxes and the run log.
#include "E2ETest.h"
#include "Sha256.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <map>

namespace {
const wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPending[] = L"PendingFileRenameOperations";

// The restart's work list: source and target names in turn, an empty target
// meaning "delete".
std::vector<std::wstring> PendingOperations() {
    RegValue v = ReadValue(HKEY_LOCAL_MACHINE, kSessionManager, kPending);
    std::wstring all(reinterpret_cast<const wchar_t*>(v.data.data()), v.data.size() / 2);
    std::vector<std::wstring> items;
    for (std::size_t start = 0; start < all.size();) {
        std::size_t end = all.find(L'\0', start);
        if (end == std::wstring::npos) end = all.size();
        items.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    if (items.size() % 2 != 0) items.pop_back(); // the list's closing NUL
    return items;
}

bool DeletedAtRestart(const std::wstring& path) {
    std::vector<std::wstring> ops = PendingOperations();
    for (std::size_t i = 0; i + 1 < ops.size(); i += 2)
        if (ops[i + 1].empty() && lstrcmpiW(ops[i].c_str(), (L"\\??\\" + path).c_str()) == 0) return true;
    return false;
}

void DropFromPending(const std::wstring& path) {
    std::vector<std::wstring> ops = PendingOperations();
    std::wstring kept;
    for (std::size_t i = 0; i + 1 < ops.size(); i += 2)
        if (lstrcmpiW(ops[i].c_str(), (L"\\??\\" + path).c_str()) != 0)
            kept += ops[i] + L'\0' + ops[i + 1] + L'\0';
    HKEY k;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &k) != ERROR_SUCCESS) return;
    if (kept.empty())
        RegDeleteValueW(k, kPending);
    else
        RegSetValueExW(k, kPending, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.c_str()),
                       static_cast<DWORD>((kept.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
}

// Files of the temporary folder with the program's bytes.
std::vector<std::wstring> CopiesInTemp(const std::string& program) {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((TempFolder() + L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return found;
    do {
        std::wstring path = TempFolder() + fd.cFileName;
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && fd.nFileSizeLow == program.size() &&
            Bytes(path) == program)
            found.push_back(path);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return found;
}

// Everything a folder holds, by name, with a digest of the files' bytes.
std::map<std::wstring, std::size_t> Contents(const std::wstring& folder) {
    std::map<std::wstring, std::size_t> items;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return items;
    do {
        std::wstring name = fd.cFileName;
        if (name != L"." && name != L"..")
            items[name] = std::hash<std::string>()(Bytes(folder + L"\\" + name));
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return items;
}

// Wine cannot make a link or junction itself but shows a Unix link to a folder
// as a reparse point; it also starts Unix programs.
void RunUnix(const std::wstring& program, std::wstring line, const std::wstring& folder) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si,
                       &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
}

bool IsLink(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

class Uninstall : public E2ETest {
protected:
    void SetUp() override {
        E2ETest::SetUp();
        main = DefaultMainDir();
    }
    void TearDown() override {
        if (!link.empty()) {
            RunUnix(L"Z:\\bin\\rm", L"rm " + link, main);
            Eventually([&] { return !Exists(main + L"\\" + link); });
        }
        if (!alias.empty()) RunUnix(L"Z:\\bin\\rm", L"rm ../dosdevices/" + alias + L" NorvLink", L"C:\\");
        ClearCopies();
        if (main != DefaultMainDir()) TestDir::RemoveTree(main);
        E2ETest::TearDown();
    }
    void InstallSilently(const std::wstring& arguments = L"") {
        ASSERT_EQ(RunSilently(L"/S" + arguments), 0);
        program = Bytes(main + L"\\qrd.exe");
        ASSERT_FALSE(program.empty());
    }
    int RunUi(const std::wstring& arguments) { return RunSilently(arguments, main + L"\\qrd.exe"); }
    // Install.log with other bytes, as someone who changed it leaves it.
    // A log the test writes, recorded as the setup records its own: its lines are followed.
    void WriteLog(const std::string& bytes) {
        RecordLogHash(TSha256::HexOf(bytes.data(), bytes.size()));
        HANDLE f = CreateFileW((main + L"\\Install.log").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                               nullptr);
        DWORD written = 0;
        WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(f);
    }
    // The running program cannot delete its own file: it leaves it in the
    // temporary folder, for the system to delete at the next restart.
    void ExpectOnlyTheProgramLeftForTheRestart() {
        std::vector<std::wstring> copies = CopiesInTemp(program);
        ASSERT_EQ(copies.size(), 1u);
        EXPECT_TRUE(DeletedAtRestart(copies[0])) << copies[0];
        ClearCopies();
    }
    void ClearCopies() {
        if (program.empty()) return;
        for (const std::wstring& c : CopiesInTemp(program)) {
            DeleteFileW(c.c_str());
            DropFromPending(c);
        }
    }
    void ExpectNothingLeftButTheSharedData() {
        EXPECT_FALSE(Exists(main));
        for (int csidl :
             {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS, CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY})
            EXPECT_FALSE(Exists(ShortcutIn(csidl))) << csidl;
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Norvanta Word Processor"));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
        for (const wchar_t* kept : {L"Update.log", L"qrd_common.dat", L"Hidden\\install_stamp",
                                    L"Public\\Mod\u00E8les de document"})
            EXPECT_TRUE(Exists(SharedData() + kept)) << kept;
        ExpectOnlyTheProgramLeftForTheRestart();
    }
    bool StillInstalled() {
        return Exists(main + L"\\qrd.exe") && Exists(main + L"\\Licence.txt") &&
               Exists(main + L"\\Install.log") && Exists(ShortcutIn(CSIDL_COMMON_PROGRAMS)) &&
               KeyExists(HKEY_CURRENT_USER, kSettingsKeyW) && KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW);
    }
    // What an installation left, to compare two of them.
    std::vector<std::wstring> Records() {
        std::vector<std::wstring> r;
        for (const wchar_t* name : {L"MAINDIR", L"INSTALLTOALL", L"DSKSHORTCUT", L"LAUNCH"}) {
            RegValue v = ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, name);
            r.push_back(name + (L"=" + v.Text()) + std::to_wstring(v.Number()));
        }
        for (const wchar_t* name :
             {L"DisplayIcon", L"DisplayName", L"DisplayVersion", L"Publisher", L"UninstallString"})
            r.push_back(name + (L"=" + ReadValue(HKEY_LOCAL_MACHINE, kUninstallKeyW, name).Text()));
        for (int csidl : {CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_DESKTOPDIRECTORY}) {
            LinkFields link = LoadLink(ShortcutIn(csidl));
            r.push_back(link.path + L"|" + link.folder + L"|" + link.description);
        }
        return r;
    }
    std::wstring main, link, alias;
    std::string program;
};
} // namespace

TEST_F(Uninstall, SilentlyRemovesAllButTheSharedDataAndAReinstallIsLikeTheFirst) {
    InstallSilently();
    auto files = Contents(main); // Install.log apart
    files.erase(L"Install.log");
    std::vector<std::string> log = FileLines(main + L"\\Install.log");
    std::vector<std::wstring> records = Records();
    std::wstring runLog = dir / L"uninstall.log";
    // What a killed setup leaves beside a file it was replacing goes too.
    CloseHandle(CreateFileW((main + L"\\Licence.txt.norvanta-new").c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, 0, nullptr));
    EXPECT_EQ(RunUi(L"-ui /S \"/LOG=" + runLog + L"\""), 0);
    ExpectNothingLeftButTheSharedData();

    // Every line after its local time; every step named, and the outcome last.
    std::vector<std::string> lines = FileLines(runLog);
    ASSERT_GT(lines.size(), 10u);
    for (const std::string& l : lines)
        EXPECT_TRUE(l.size() > 24 && l[4] == '-' && l[10] == ' ' && l[13] == ':' && l[19] == '.' &&
                    l[23] == ' ')
            << l;
    EXPECT_TRUE(HasLine(lines, "Command line: \"" + Utf8(main) + "\\qrd.exe\" -ui /S"));
    EXPECT_TRUE(HasLine(lines, "Switches: uninstall, silent, log " + Utf8(runLog)));
    EXPECT_TRUE(HasLine(lines, "Removed file: " + Utf8(main) + "\\Licence.txt"));
    EXPECT_TRUE(HasLine(lines, "Removed file: " + Utf8(ShortcutIn(CSIDL_COMMON_DESKTOPDIRECTORY))));
    EXPECT_TRUE(HasLine(lines, "Removed registry key: HKEY_LOCAL_MACHINE\\" + Utf8(kUninstallKeyW)));
    EXPECT_TRUE(HasLine(lines, "Removed folder: " + Utf8(main)));
    EXPECT_TRUE(HasLine(lines, "Kept folder (the shared data folder stays): "));
    EXPECT_EQ(lines.back().substr(24), "Exit code 0: everything the installation recorded was removed");

    // Installed again: the same files and records as the first time; only the
    // data folder, which stayed, is not made (nor logged) again.
    InstallSilently();
    auto again = Contents(main);
    again.erase(L"Install.log");
    EXPECT_EQ(again, files);
    EXPECT_EQ(Records(), records);
    std::vector<std::string> firstWithoutData;
    for (const std::string& l : log)
        if (l.find(Utf8(SharedData())) == std::string::npos) firstWithoutData.push_back(l);
    EXPECT_EQ(FileLines(main + L"\\Install.log"), firstWithoutData);
    EXPECT_EQ(RunUi(L"-UI -s"), 0);
    ExpectNothingLeftButTheSharedData();
}

TEST_F(Uninstall, TheConfirmationBoxNonKeepsEverythingOuiRemoves) {
    InstallSilently();
    {
        SetupProcess p(L"-ui", main + L"\\qrd.exe");
        HWND box = p.MessageBox();
        ASSERT_NE(box, nullptr);
        EXPECT_NE(p.MessageText(box).find(L"Voulez-vous d\u00E9sinstaller"), std::wstring::npos);
        EXPECT_NE(GetDlgItem(box, IDYES), nullptr);
        EXPECT_NE(GetDlgItem(box, IDNO), nullptr);
        p.Answer(box, IDNO);
        EXPECT_EQ(p.Wait(), 0);
    }
    EXPECT_TRUE(StillInstalled());
    EXPECT_TRUE(CopiesInTemp(program).empty());

    SetupProcess p(L"-ui", main + L"\\qrd.exe");
    HWND box = p.MessageBox();
    ASSERT_NE(box, nullptr);
    // The name the program once moved itself to, taken first by someone else.
    std::wstring taken = TempFolder() + L"Norvanta-uninstall-" + std::to_wstring(p.Id()) + L".tmp";
    ASSERT_TRUE(CreateDirectoryW(taken.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    p.Answer(box, IDYES);
    HWND done = p.MessageBox();
    ASSERT_NE(done, nullptr);
    EXPECT_NE(p.MessageText(done).find(L"a \u00E9t\u00E9 d\u00E9sinstall\u00E9"), std::wstring::npos);
    p.Answer(done, IDOK);
    EXPECT_EQ(p.Wait(), 0);
    std::vector<std::wstring> copies = CopiesInTemp(program);
    ASSERT_EQ(copies.size(), 1u);
    std::size_t hex = TempFolder().size() + 19; // after "Norvanta-uninstall-", and before ".tmp"
    EXPECT_EQ(copies[0].find_first_not_of(L"0123456789abcdef", hex), hex + 32) << Utf8(copies[0]);
    EXPECT_TRUE(RemoveDirectoryW(taken.c_str())) << "nothing went into the name taken";
    ExpectNothingLeftButTheSharedData();
}

TEST_F(Uninstall, ARunningCopyGivesOneAndNothingIsRemoved) {
    InstallSilently();
    SetupProcess running(L"", DemoProgramExe());
    ASSERT_TRUE(running.Started());
    ASSERT_TRUE(Eventually(MarkedWindowExists));
    EXPECT_EQ(RunUi(L"-ui /S"), 1);
    EXPECT_TRUE(StillInstalled());

    SetupProcess p(L"-ui", main + L"\\qrd.exe");
    HWND box = p.MessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_NE(p.MessageText(box).find(L"en cours d'ex\u00E9cution"), std::wstring::npos);
    p.Answer(box, IDOK);
    EXPECT_EQ(p.Wait(), 1);
    EXPECT_TRUE(StillInstalled());
}

// The installed program running where no window of this desktop shows it (a
// desktop of its own, as in another session): its process is found by what
// its file is, and stops the setup and the removal alike.
TEST_F(Uninstall, AnInstalledCopyRunningOutOfSightStopsTheSetupAndTheRemoval) {
    InstallSilently();
    std::vector<std::wstring> records = Records();
    std::string log = Bytes(main + L"\\Install.log");
    std::wstring runLog = dir / L"setup.log";
    SetupProcess running(L"", main + L"\\qrd.exe", nullptr, L"Norvanta-elsewhere");
    ASSERT_TRUE(running.Started());
    ASSERT_EQ(WaitForInputIdle(running.Handle(), 20000), 0u) << "its window is made";
    EXPECT_FALSE(MarkedWindowExists()) << "its window is out of this desktop's sight";
    EXPECT_EQ(RunSilently(L"/S \"/LOG=" + runLog + L"\""), 1);
    EXPECT_TRUE(
        HasLine(FileLines(runLog), "Running copy: process " + std::to_string(running.Id()) + " runs "));
    EXPECT_EQ(Bytes(main + L"\\Install.log"), log);
    EXPECT_EQ(Records(), records);
    EXPECT_EQ(RunUi(L"-ui /S"), 1);
    EXPECT_TRUE(StillInstalled());
}

// Without administrator rights (a token whose Administrators group is
// deny-only): the silent removal of a machine-wide installation asks for
// nothing and removes nothing (4); the asked one starts itself again for the
// rights, and ends as that run does. Wine's "runas" passes the same token on,
// so the run it starts lacks them too: it says so and never starts another.
TEST_F(Uninstall, WithoutTheRightsASilentRunGivesFourAndAnAskedOneStartsAgainOnce) {
    InstallSilently();
    HANDLE filtered = FilteredToken();
    ASSERT_NE(filtered, nullptr);
    std::wstring runLog = dir / L"uninstall.log";
    SetupProcess silent(L"-ui /S \"/LOG=" + runLog + L"\"", main + L"\\qrd.exe", filtered);
    EXPECT_EQ(silent.Wait(), 4);
    EXPECT_TRUE(StillInstalled());
    EXPECT_EQ(FileLines(runLog).back().substr(24),
              "Exit code 4: a silent run without administrator rights asks for none: nothing removed");

    SetupProcess asked(L"-ui \"/LOG=" + runLog + L"\"", main + L"\\qrd.exe", filtered);
    CloseHandle(filtered);
    DWORD elevated = ChildProcess(asked.Id());
    HWND box = MessageBoxOf(elevated);
    ASSERT_NE(box, nullptr);
    EXPECT_NE(asked.MessageText(box).find(L"demande les droits d'administrateur"), std::wstring::npos);
    asked.Answer(box, IDOK);
    EXPECT_EQ(asked.Wait(), 4);
    EXPECT_TRUE(StillInstalled());
    std::vector<std::string> lines = FileLines(runLog);
    EXPECT_TRUE(HasLine(lines, "-ui /ELEVATED=" + std::to_string(asked.Id()) + " \"/LOG="));
    EXPECT_TRUE(HasLine(lines, "Exit code 4: still no administrator rights: nothing removed"));
    EXPECT_EQ(lines.back().substr(24), "Exit code 4: the run with administrator rights ended with 4");
    EXPECT_EQ(ChildProcess(elevated, 0), 0u) << "the elevated run starts no other";
}

TEST_F(Uninstall, ALockedFileGivesTwoKeepsWhatALaterRunNeedsAndTheLogSaysWhy) {
    InstallSilently();
    std::vector<std::string> log = FileLines(main + L"\\Install.log");
    std::wstring licence = main + L"\\Licence.txt", runLog = dir / L"uninstall.log";
    HANDLE lock = CreateFileW(licence.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunUi(L"-ui /S \"/LOG=" + runLog + L"\""), 2);
    CloseHandle(lock);

    // The rest is gone; the program, its log of what remains and the registry
    // entries stay, so that the program list can run the removal again.
    EXPECT_TRUE(Exists(licence));
    EXPECT_FALSE(Exists(ShortcutIn(CSIDL_COMMON_PROGRAMS)));
    EXPECT_FALSE(Exists(ShortcutIn(CSIDL_COMMON_DESKTOPDIRECTORY)));
    EXPECT_TRUE(Exists(main + L"\\qrd.exe"));
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kUninstallKeyW, L"UninstallString").Text(),
              L"\"" + main + L"\\qrd.exe\" -ui");
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kSettingsKeyW));
    std::vector<std::string> remaining;
    for (const std::string& l : log)
        if (l.find(".lnk") == std::string::npos) remaining.push_back(l);
    EXPECT_EQ(FileLines(main + L"\\Install.log"), remaining);
    EXPECT_TRUE(CopiesInTemp(program).empty());

    std::string text = SystemText(ERROR_SHARING_VIOLATION);
    ASSERT_FALSE(text.empty());
    std::vector<std::string> lines = FileLines(runLog);
    EXPECT_TRUE(HasLine(lines, "Could not remove file " + Utf8(licence) + ": error 32: " + text));
    EXPECT_EQ(lines.back().substr(24),
              "Exit code 2: 1 item(s) could not be removed, 0 line(s) of Install.log refused");

    // Released, a second run finishes the work.
    EXPECT_EQ(RunUi(L"-ui /S"), 0);
    ExpectNothingLeftButTheSharedData();

    // Install.log held by a reader: the files go, and all that a later run needs stays as it was.
    InstallSilently();
    log = FileLines(main + L"\\Install.log");
    lock = CreateFileW((main + L"\\Install.log").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                       OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(RunUi(L"-ui /S"), 2);
    CloseHandle(lock);
    EXPECT_FALSE(Exists(licence));
    EXPECT_TRUE(Exists(main + L"\\qrd.exe") && KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW) &&
                KeyExists(HKEY_CURRENT_USER, kSettingsKeyW));
    EXPECT_EQ(FileLines(main + L"\\Install.log"), log);
    EXPECT_TRUE(CopiesInTemp(program).empty());
    EXPECT_EQ(RunUi(L"-ui /S"), 0);
    ExpectNothingLeftButTheSharedData();
}

TEST_F(Uninstall, ATamperedLogRemovesNothingOutside) {
    main = L"C:\\Norvanta";
    InstallSilently(L" -DC:\\Norvanta");
    const std::wstring outside[] = {L"C:\\Norvanta2", L"C:\\NorvEmpty", L"C:\\NorvOutside",
                                    L"C:\\NorvOutside\\inner"};
    for (const std::wstring& f : outside) CreateDirectoryW(f.c_str(), nullptr);
    for (const wchar_t* f : {L"C:\\Norvanta2\\victim.txt", L"C:\\NorvOutside\\victim.txt"})
        CloseHandle(CreateFileW(f, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    link = L"link";
    RunUnix(L"Z:\\bin\\ln", L"ln -s ../NorvOutside link", main);
    ASSERT_TRUE(Eventually([&] { return IsLink(main + L"\\link"); }));
    ASSERT_TRUE(Exists(L"C:\\windows\\win.ini"));
    // Beside the shortcuts: another program's, and a document on the desktop.
    const std::wstring others[] = {KnownPath(CSIDL_COMMON_PROGRAMS) + L"\\Autre programme.lnk",
                                   KnownPath(CSIDL_DESKTOPDIRECTORY) + L"\\Lettre.txt"};
    for (const std::wstring& f : others)
        CloseHandle(CreateFileW(f.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));

    const std::string tampered[] = {
        "File Copy: C:\\windows\\win.ini",
        "Made Dir: C:\\windows\\",
        "File Copy: C:\\Norvanta2\\victim.txt", // a prefix of the folder's name is no part of it
        "File Copy: C:\\Norvanta\\..\\Norvanta2\\victim.txt",
        "File Copy: C:/Norvanta/../Norvanta2/victim.txt",
        "File Copy: \\\\?\\C:\\Norvanta2\\victim.txt",
        "File Copy: ..\\Norvanta2\\victim.txt",
        "Made Dir: C:\\NorvEmpty\\",
        "Made Dir: C:\\Norvanta\\..\\NorvEmpty\\",
        "File Copy: C:\\Norvanta\\link\\victim.txt", // behind a link
        "Made Dir: C:\\Norvanta\\link\\inner\\",
        "File Copy: " + Utf8(SharedData()) + "Update.log", // the data folder's files stay
        "Nonsense: C:\\Norvanta2\\victim.txt",
        "File Copy: " + Utf8(others[0]),
        "File Copy: " + Utf8(others[1]),
    };
    std::string bytes = Bytes(main + L"\\Install.log");
    for (const std::string& line : tampered) bytes += line + "\r\n";
    WriteLog(bytes);

    std::wstring runLog = dir / L"uninstall.log";
    EXPECT_EQ(RunUi(L"-ui /S \"/LOG=" + runLog + L"\""), 2);
    for (const std::wstring& f : outside) EXPECT_TRUE(Exists(f)) << f;
    for (const wchar_t* f :
         {L"C:\\windows\\win.ini", L"C:\\Norvanta2\\victim.txt", L"C:\\NorvOutside\\victim.txt"})
        EXPECT_TRUE(Exists(f)) << f;
    EXPECT_TRUE(Exists(SharedData() + L"Update.log"));
    for (const std::wstring& f : others) EXPECT_TRUE(DeleteFileW(f.c_str())) << Utf8(f);
    std::vector<std::string> lines = FileLines(runLog);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) {
                                return l.find("Skipped Install.log line") != std::string::npos;
                            }),
              static_cast<std::ptrdiff_t>(std::size(tampered)));
    // A refused line is nothing a later run could remove: the installation itself went.
    EXPECT_EQ(Contents(main).size(), 1u) << "only the link stays";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
    EXPECT_FALSE(Exists(ShortcutIn(CSIDL_COMMON_PROGRAMS)));
    ExpectOnlyTheProgramLeftForTheRestart();
    for (const std::wstring& f : outside) TestDir::RemoveTree(f);
}

TEST_F(Uninstall, APortableCopyGivesThreeAndKeepsEverything) {
    main = dir / L"Portable";
    CreateDirectoryW(main.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(DemoProgramExe().c_str(), (main + L"\\qrd.exe").c_str(), FALSE));
    CloseHandle(CreateFileW((main + L"\\Norvanta.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                            nullptr));
    EXPECT_EQ(RunUi(L"-ui /S"), 3);

    SetupProcess p(L"-ui", main + L"\\qrd.exe");
    HWND box = p.MessageBox();
    ASSERT_NE(box, nullptr);
    std::wstring text = p.MessageText(box);
    EXPECT_NE(text.find(main), std::wstring::npos);
    EXPECT_NE(text.find(L"supprimez simplement ce dossier"), std::wstring::npos);
    p.Answer(box, IDOK);
    EXPECT_EQ(p.Wait(), 3);
    EXPECT_TRUE(Exists(main + L"\\qrd.exe"));
    EXPECT_TRUE(Exists(main + L"\\Norvanta.ini"));
}

TEST_F(Uninstall, AFolderNamedBeyondTheBasicPlaneGoesWhole) {
    main = L"C:\\Norv\U0001F600";
    InstallSilently(L" \"/D" + main + L"\"");
    // The setup writes each half of the character as its own three-byte sequence.
    EXPECT_NE(Bytes(main + L"\\Install.log").find("File Copy: C:\\Norv\xED\xA0\xBD\xED\xB8\x80\\qrd.exe\r\n"),
              std::string::npos);
    EXPECT_EQ(RunUi(L"-ui /S"), 0);
    ExpectNothingLeftButTheSharedData();
}

// A link made on the Linux side, as Wine shows one. Wine follows a file link even
// when told not to: there the link stays too, and its target is never touched.
TEST_F(Uninstall, ALinkPutOnTheWayOfAFileInUseIsNotFollowedNorIsAFileLinkOfTheLog) {
    main = L"C:\\Norvanta";
    InstallSilently(L" -DC:\\Norvanta");
    const std::wstring outside = L"C:\\NorvOutside";
    CreateDirectoryW(outside.c_str(), nullptr);
    for (const wchar_t* f : {L"\\Licence.txt", L"\\target.txt"})
        CloseHandle(CreateFileW((outside + f).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    link = L"flink";
    RunUnix(L"Z:\\bin\\ln", L"ln -s ../NorvOutside/target.txt flink", main);
    ASSERT_TRUE(Eventually([&] { return Exists(main + L"\\flink"); }));
    WriteLog("File Copy: C:\\Norvanta\\flink\r\n" + Bytes(main + L"\\Install.log"));
    std::wstring licence = main + L"\\Licence.txt", runLog = L"C:\\norv-uninstall.log";
    HANDLE held = CreateFileW(licence.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    // Held: nobody may open it for deletion meanwhile.
    HANDLE probe = CreateFileW(licence.c_str(), DELETE, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_EQ(probe, INVALID_HANDLE_VALUE) << "the file is not held";
    DeleteFileW(runLog.c_str());
    // While the removal waits for the file, its folder becomes a link to another, in one step: a
    // watcher started first swaps them as soon as the run log says it waits, whatever the load.
    RunUnix(L"Z:\\usr\\bin\\perl",
            L"perl -e \"open(W, '>', 'norv-watching'); close(W); for ($i = 0; $i < 6000; $i++) { last if "
            L"open(F, '<', 'norv-uninstall.log') && "
            L"grep(/In use, trying again/, <F>); select(undef, undef, undef, 0.005) } "
            L"$i < 6000 and rename('Norvanta', 'Norvanta-held') and symlink('NorvOutside', 'Norvanta')\"",
            L"C:\\");
    ASSERT_TRUE(Eventually([] { return Exists(L"C:\\norv-watching"); }));
    DeleteFileW(L"C:\\norv-watching");
    EXPECT_EQ(RunSilently(L"-ui /S \"/LOG=" + runLog + L"\"", main + L"\\qrd.exe"), 2);
    if (HasLine(FileLines(runLog), "Removed file: " + Utf8(licence))) {
        // Seen under Wine in some full runs only: the removal was let open the held file for deletion
        // (its own open from here is refused), so nothing waited and nothing could be swapped.
        CloseHandle(held);
        TestDir::RemoveTree(outside);
        GTEST_SKIP()
            << "Wine let the uninstaller open a file held without delete sharing: the swap is not shown";
    }
    EXPECT_TRUE(Eventually([&] { return IsLink(main); }));
    RunUnix(L"Z:\\bin\\sh", L"sh -c \"rm Norvanta && mv Norvanta-held Norvanta\"", L"C:\\");
    ASSERT_TRUE(Eventually([&] { return !IsLink(main) && Exists(licence); }));
    CloseHandle(held);
    for (const wchar_t* f : {L"\\Licence.txt", L"\\target.txt"}) EXPECT_TRUE(Exists(outside + f)) << f;
    EXPECT_FALSE(Exists(outside + L"\\Install.log") || Exists(outside + L"\\Install.log.new"));
    std::vector<std::string> lines = FileLines(runLog);
    const std::string notFollowed = ": it is a link that this system follows, or a link or junction now lies";
    EXPECT_TRUE(HasLine(lines, "Could not remove file " + Utf8(licence) + notFollowed));
    EXPECT_TRUE(!Exists(main + L"\\flink") ||
                HasLine(lines, "Could not remove file C:\\Norvanta\\flink" + notFollowed));
    EXPECT_TRUE(Exists(main + L"\\qrd.exe") && Exists(main + L"\\Install.log") &&
                KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
    TestDir::RemoveTree(outside);
    DeleteFileW(runLog.c_str());
}

TEST_F(Uninstall, StartedThroughAnotherNameForItsFolderItRemovesEverything) {
    // Another letter for drive C, as subst makes one, and a link to the folder (as Wine shows both).
    wchar_t letter = L'p';
    while (GetLogicalDrives() & (1u << (letter - L'a'))) ++letter;
    alias = std::wstring(1, letter) + L":";
    std::wstring target = main.substr(3);
    std::replace(target.begin(), target.end(), L'\\', L'/');
    RunUnix(L"Z:\\bin\\sh",
            L"sh -c \"ln -s $PWD ../dosdevices/" + alias + L"; ln -s '" + target + L"' NorvLink\"", L"C:\\");
    ASSERT_TRUE(Eventually([&] { return Exists(alias + L"\\windows"); }));
    for (int name = 0; name < 3; ++name) {
        InstallSilently();
        std::wstring exe = main + L"\\qrd.exe";
        wchar_t shortName[MAX_PATH] = {};
        if (name == 0) exe = alias + exe.substr(2);
        if (name == 1 && GetShortPathNameW(exe.c_str(), shortName, MAX_PATH)) exe = CharLowerW(shortName);
        if (name == 2) exe = L"C:\\NorvLink\\qrd.exe";
        SCOPED_TRACE(exe);
        EXPECT_EQ(exe.find(L"program files"), std::wstring::npos);
        EXPECT_EQ(RunSilently(L"-ui /S", exe), 0);
        ExpectNothingLeftButTheSharedData();
    }
}

TEST_F(Uninstall, AProgramThatCannotLeaveItsFolderGoesAtTheRestartAndTheRunSaysSo) {
    InstallSilently();
    wchar_t temp[MAX_PATH] = {};
    GetEnvironmentVariableW(L"TMP", temp, MAX_PATH);
    SetEnvironmentVariableW(L"TMP", L"R:\\"); // a temporary folder on another drive, which takes no file
    EXPECT_EQ(RunUi(L"-ui /S \"/LOG=" + (dir / L"uninstall.log") + L"\""), 2);
    SetEnvironmentVariableW(L"TMP", temp);
    EXPECT_TRUE(HasLine(FileLines(dir / L"uninstall.log"), "Could not move the running program out of the"));
    for (const std::wstring& p : {main + L"\\qrd.exe", main}) {
        EXPECT_TRUE(DeletedAtRestart(p)) << Utf8(p);
        DropFromPending(p);
    }
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
}
