// The real setup.exe run silently, as deployment tools run it: exit codes, what
// it leaves behind, and that nothing is ever shown.
#include "E2ETest.h"
#include "Strings.h"
#include <gtest/gtest.h>
#include <psapi.h>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace {
class Silent : public E2ETest {
protected:
    static bool NothingInstalled(const std::wstring& mainDir) {
        return !Exists(mainDir) && !Exists(SharedData()) && !KeyExists(HKEY_CURRENT_USER, kSettingsKeyW) &&
               !KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW);
    }
};
} // namespace

TEST_F(Silent, InstallsEverythingAndExitsZero) {
    EXPECT_EQ(RunSilently(L"/S"), 0);
    std::wstring main = DefaultMainDir();
    EXPECT_TRUE(Exists(main + L"\\qrd.exe"));
    EXPECT_TRUE(Exists(main + L"\\Licence.txt"));
    std::vector<std::string> log = FileLines(main + L"\\Install.log");
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[0].rfind("Made Dir: ", 0), 0u);
    EXPECT_EQ(log.back().rfind("File Copy: ", 0), 0u);
    // Update.log: the stamp, then every shared document placed.
    std::vector<std::string> update = FileLines(SharedData() + L"Update.log");
    ASSERT_GT(FilesUnder(SharedData() + L"Public"), 0);
    ASSERT_EQ(update.size(), 1u + FilesUnder(SharedData() + L"Public"));
    std::string stamp = Bytes(SharedData() + L"Hidden\\install_stamp");
    ASSERT_EQ(stamp.size(), 8u);
    char hex[3];
    std::string spelled = "*";
    for (unsigned char b : stamp) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        spelled += hex;
    }
    EXPECT_EQ(update[0], spelled);
    EXPECT_EQ(Bytes(SharedData() + L"qrd_common.dat").size(), 25u);
    EXPECT_TRUE(Exists(SharedData() + L"Public\\Mod\u00E8les de document"));
    LinkFields link = LoadLink(ShortcutIn(CSIDL_COMMON_PROGRAMS));
    EXPECT_EQ(link.path, main + L"\\qrd.exe");
    EXPECT_TRUE(Exists(ShortcutIn(CSIDL_COMMON_DESKTOPDIRECTORY)));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"MAINDIR").Text(), main);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kUninstallKeyW, L"DisplayName").Text(),
              L"Traitement de texte Norvanta");
}

namespace {
// Runs setup.exe as its debugger, which is told of every module it loads.
std::string ModulesOfARun(const std::wstring& arguments, DWORD& exitCode) {
    std::wstring line = L"\"" + SetupExe() + L"\" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    exitCode = 999;
    if (!CreateProcessW(SetupExe().c_str(), line.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                        nullptr, nullptr, &si, &pi))
        return {};
    std::string names;
    auto note = [&](HANDLE file, void* base) {
        wchar_t path[MAX_PATH * 2] = {};
        if (!file || !GetFinalPathNameByHandleW(file, path, MAX_PATH * 2, 0))
            GetMappedFileNameW(pi.hProcess, base, path, MAX_PATH * 2);
        for (const wchar_t* c = path; *c; ++c) names += static_cast<char>(*c < 128 ? std::tolower(*c) : '?');
        names += '\n';
    };
    DEBUG_EVENT ev{};
    for (bool running = true; running && WaitForDebugEvent(&ev, 60000);) {
        DWORD verdict = DBG_CONTINUE;
        switch (ev.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            note(ev.u.CreateProcessInfo.hFile, ev.u.CreateProcessInfo.lpBaseOfImage);
            if (ev.u.CreateProcessInfo.hFile) CloseHandle(ev.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            note(ev.u.LoadDll.hFile, ev.u.LoadDll.lpBaseOfDll);
            if (ev.u.LoadDll.hFile) CloseHandle(ev.u.LoadDll.hFile);
            break;
        case EXCEPTION_DEBUG_EVENT:
            // The program's own exceptions are its own to handle.
            if (ev.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                verdict = DBG_EXCEPTION_NOT_HANDLED;
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            exitCode = ev.u.ExitProcess.dwExitCode;
            running = false;
            break;
        default:
            break;
        }
        ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, verdict);
    }
    if (exitCode == 999) TerminateProcess(pi.hProcess, 999);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return names;
}
} // namespace

// An unattended run keeps away from the display: no window, no device context,
// no theme, no OLE window. Under Wine the first of those loads the display
// driver into the process (and starts the desktop process if none runs), which
// costs more than the whole installation.
TEST_F(Silent, NeverLoadsTheDisplayDriver) {
    DWORD code = 0;
    std::string loaded = ModulesOfARun(L"/S", code);
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(Exists(DefaultMainDir() + L"\\qrd.exe"));
    EXPECT_TRUE(Exists(ShortcutIn(CSIDL_COMMON_PROGRAMS)));
    EXPECT_TRUE(Exists(ShortcutIn(CSIDL_COMMON_DESKTOPDIRECTORY)));
    // The list is real: the program and the shell link object's library are in it.
    ASSERT_NE(loaded.find("setup.exe"), std::string::npos) << loaded;
    ASSERT_NE(loaded.find("ole32.dll"), std::string::npos) << loaded;
    EXPECT_EQ(loaded.find("winex11.drv"), std::string::npos) << loaded;
    EXPECT_EQ(loaded.find("uxtheme.dll"), std::string::npos) << loaded;
    EXPECT_EQ(loaded.find("comctl32.dll"), std::string::npos) << loaded;
}

TEST_F(Silent, ARunningCopyExitsOneAndLeavesNothing) {
    SetupProcess qrd(L"", DemoProgramExe());
    ASSERT_TRUE(qrd.Started());
    for (int i = 0; i < 500 && !MarkedWindowExists(); ++i) Sleep(20);
    ASSERT_TRUE(MarkedWindowExists());
    EXPECT_EQ(RunSilently(L"/S"), 1);
    EXPECT_TRUE(NothingInstalled(DefaultMainDir()));
}

TEST_F(Silent, ALockedTargetExitsTwoAndStillRecords) {
    std::wstring main = dir / L"Norvanta";
    CreateDirectoryW(main.c_str(), nullptr);
    std::wstring licence = main + L"\\Licence.txt";
    HANDLE lock = CreateFileW(licence.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    std::wstring runLog = dir / L"setup run.log";
    EXPECT_EQ(RunSilently(L"/S \"-D" + main + L"\" \"/LOG=" + runLog + L"\""), 2);
    CloseHandle(lock);
    // The run log names the file, the rule that chose it, the system's reason and the outcome.
    std::vector<std::string> lines = FileLines(runLog);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(HasLine(lines, "Switches: silent, destination \"" + Utf8(main) + "\", run log \""));
    EXPECT_TRUE(HasLine(lines, "Destination: " + Utf8(main) + " (the /D switch), an installation"));
    EXPECT_TRUE(HasLine(lines, "To write (an installation replaces every file): " + Utf8(licence)));
    EXPECT_TRUE(HasLine(lines, "Wrote file: " + Utf8(main) + "\\qrd.exe ("));
    EXPECT_TRUE(HasLine(lines, "Could not write " + Utf8(licence) + ": error 32: " + SystemText(32)));
    EXPECT_TRUE(
        HasLine(lines, "Registry value: HKCU\\Software\\Norvanta Word Processor\\Install\\MAINDIR = \"" +
                           Utf8(main) + "\""));
    EXPECT_EQ(lines.back().substr(24),
              "Exit code 2: a file could not be written; what was written is recorded");
    std::vector<std::string> log = FileLines(main + L"\\Install.log");
    auto has = [&](const char* end) {
        return std::any_of(log.begin(), log.end(), [&](const std::string& l) {
            return l.size() >= std::strlen(end) &&
                   l.compare(l.size() - std::strlen(end), std::string::npos, end) == 0;
        });
    };
    EXPECT_TRUE(has("\\qrd.exe"));
    EXPECT_FALSE(has("\\Licence.txt"));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"MAINDIR").Text(), main);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
    EXPECT_FALSE(Exists(ShortcutIn(CSIDL_COMMON_PROGRAMS)));
}

TEST_F(Silent, AStateFileThatCannotBeWrittenExitsTwoAndStillRecords) {
    CreateDirectoryW(SharedData().c_str(), nullptr);
    HANDLE lock = CreateFileW((SharedData() + L"qrd_common.dat").c_str(), GENERIC_READ, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunSilently(L"/S"), 2);
    CloseHandle(lock);
    EXPECT_TRUE(Exists(DefaultMainDir() + L"\\qrd.exe"));
    EXPECT_TRUE(Exists(DefaultMainDir() + L"\\Install.log"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
    EXPECT_FALSE(Exists(ShortcutIn(CSIDL_COMMON_PROGRAMS))); // the finish page stopped there
}

// Two setups started together: the second waits for the first, then installs
// over it; neither loses a record.
TEST_F(Silent, TwoRunsAtOnceTakeTurns) {
    SetupProcess first(L"/S"), second(L"/S");
    ASSERT_TRUE(first.Started() && second.Started());
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);
    std::vector<std::string> log = FileLines(DefaultMainDir() + L"\\Install.log");
    EXPECT_EQ(log.size(), 8u);
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& l) { return l.rfind("Made Dir: ", 0) == 0; }),
              4);
    std::vector<std::string> update = FileLines(SharedData() + L"Update.log");
    ASSERT_FALSE(update.empty());
    std::string stamp = Bytes(SharedData() + L"Hidden\\install_stamp"), spelled = "*";
    char hex[3];
    for (unsigned char b : stamp) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        spelled += hex;
    }
    EXPECT_EQ(update[0], spelled); // the later run's stamp, in both records
    EXPECT_EQ(std::count_if(update.begin(), update.end(), [](const std::string& l) { return l[0] == '*'; }),
              1);
}

// The lock is held only while a run writes: a wizard left on its first page
// holds nobody up, while a holder makes a silent run wait, which it tells.
TEST_F(Silent, TheLockIsHeldOnlyWhileWriting) {
    SetupProcess wizard(L"");
    ASSERT_NE(wizard.Form(), nullptr);
    EXPECT_EQ(RunSilently(L"/S"), 0);
    EXPECT_EQ(wizard.Wait(0), -1) << "the wizard waits on its first page";

    HANDLE lock = HoldInstallLock();
    std::wstring runLog = dir / L"setup.log", main = dir / L"Norvanta";
    SetupProcess waiting(L"/S \"/D" + main + L"\" \"/LOG=" + runLog + L"\"");
    EXPECT_TRUE(WaitsForInstallLock(runLog));
    EXPECT_EQ(waiting.Wait(300), -1);
    EXPECT_FALSE(Exists(main)) << "written before the lock was had";
    ReleaseInstallLock(lock);
    EXPECT_EQ(waiting.Wait(), 0);
    EXPECT_TRUE(HasLine(FileLines(runLog), "It has ended"));
    EXPECT_TRUE(Exists(main + L"\\qrd.exe"));
}

// A state file or Update.log planted as a link is neither written through nor
// read: the state files stop the run, Update.log is made anew in its place.
TEST_F(Silent, DataFilesThatAreLinksAreNeitherReadNorWritten) {
    const std::pair<const wchar_t*, int> files[] = {
        {L"Update.log", 0}, {L"qrd_common.dat", 2}, {L"Hidden\\install_stamp", 2}};
    std::wstring foreign = dir / L"foreign.txt";
    for (const auto& [name, code] : files) {
        SCOPED_TRACE(Utf8(name));
        CleanInstallState();
        CreateDirectoryW(SharedData().c_str(), nullptr);
        CreateDirectoryW((SharedData() + L"Hidden").c_str(), nullptr);
        Write(foreign, "*foreign line\r\n");
        ASSERT_TRUE(HostLink(SharedData() + name, foreign));
        EXPECT_EQ(RunSilently(L"/S"), code);
        EXPECT_EQ(Bytes(foreign), "*foreign line\r\n");
        if (code == 0) {
            EXPECT_FALSE(HasLine(FileLines(SharedData() + name), "foreign"));
        }
        EXPECT_TRUE(HostLink(SharedData() + name, L""));
    }
}

TEST_F(Silent, OnlyRealSilentSwitchesCount) {
    EXPECT_EQ(RunSilently(L"-Sxyz"), 0);
    EXPECT_TRUE(Exists(DefaultMainDir() + L"\\qrd.exe"));
    CleanInstallState();
    // The log switch is neither silent nor a destination.
    std::wstring runLog = dir / L"wizard.log";
    for (std::wstring notSilent : {std::wstring(L"S"), std::wstring(L"--S"), L"\"/LOG=" + runLog + L"\""}) {
        SetupProcess p(notSilent);
        ASSERT_NE(p.Form(), nullptr) << "the wizard shows for " << Utf8(notSilent);
        p.Close();
        HWND box = p.MessageBox();
        ASSERT_NE(box, nullptr);
        p.Answer(box, IDYES);
        EXPECT_EQ(p.Wait(), 0);
        EXPECT_FALSE(Exists(DefaultMainDir()));
    }
    std::vector<std::string> lines = FileLines(runLog);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(HasLine(lines, "Switches: wizard, destination not given"));
    EXPECT_TRUE(HasLine(lines, "Destination: " + Utf8(DefaultMainDir()) + " (the default)"));
    EXPECT_EQ(lines.back().substr(24), "Exit code 0: cancelled before anything was written");
}

TEST_F(Silent, DestinationSwitches) {
    EXPECT_EQ(RunSilently(L"/S -DC:\\Apps\\Editor"), 0);
    EXPECT_TRUE(Exists(L"C:\\Apps\\Editor\\qrd.exe"));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"MAINDIR").Text(), L"C:\\Apps\\Editor");
    TestDir::RemoveTree(L"C:\\Apps");
    CleanInstallState();

    // Forward slashes, which Windows takes as well, name the same folder.
    EXPECT_EQ(RunSilently(L"/S /DC:/Apps/Editor/"), 0);
    EXPECT_TRUE(Exists(L"C:\\Apps\\Editor\\qrd.exe"));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"MAINDIR").Text(), L"C:\\Apps\\Editor");
    std::vector<std::string> log = FileLines(L"C:\\Apps\\Editor\\Install.log");
    EXPECT_NE(std::find(log.begin(), log.end(), "Made Dir: C:\\Apps\\Editor\\"), log.end());
    TestDir::RemoveTree(L"C:\\Apps");
    CleanInstallState();

    // Empty: the default folder. The run log's missing folders are made.
    std::wstring runLog = dir / L"No\\Such\\Folder\\setup.log";
    EXPECT_EQ(RunSilently(L"/S /d \"-log=" + runLog + L"\""), 0);
    EXPECT_TRUE(Exists(DefaultMainDir() + L"\\qrd.exe"));
    EXPECT_TRUE(Exists(runLog));
    CleanInstallState();

    std::wstring first = dir / L"First", second = dir / L"Second";
    EXPECT_EQ(RunSilently(L"/S \"/D" + first + L"\" \"-d" + second + L"\""), 0);
    EXPECT_TRUE(Exists(first + L"\\qrd.exe"));
    EXPECT_FALSE(Exists(second));
}

TEST_F(Silent, APortableCopyRefusedInProgramFilesExitsThree) {
    std::wstring portable = KnownPath(CSIDL_PROGRAM_FILES) + L"\\NorvantaPortable";
    CreateDirectoryW(portable.c_str(), nullptr);
    HANDLE ini = CreateFileW((portable + L"\\Norvanta.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             0, nullptr);
    CloseHandle(ini);
    std::wstring runLog = dir / L"setup.log";
    EXPECT_EQ(RunSilently(L"/S \"-D" + portable + L"\" \"/LOG=" + runLog + L"\""), 3);
    EXPECT_FALSE(Exists(portable + L"\\qrd.exe"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKeyW));
    std::string reason =
        "a portable copy cannot go into the programs folder " + Utf8(KnownPath(CSIDL_PROGRAM_FILES)) + ": ";
    std::vector<std::string> lines = FileLines(runLog);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(HasLine(lines, "Refused: " + reason + Utf8(portable)));
    EXPECT_FALSE(HasLine(lines, "To write"));
    EXPECT_EQ(lines.back().substr(24), "Exit code 3: " + reason + Utf8(portable));
    TestDir::RemoveTree(portable);
}

TEST_F(Silent, ADamagedPayloadEndsWith217AndWritesNothing) {
    std::wstring variant = SetupVariant(dir.path(), "FILES", "FILES", std::string(4096, 'x'));
    ASSERT_FALSE(variant.empty());
    EXPECT_EQ(RunSilently(L"/S", variant), 217);
    EXPECT_TRUE(NothingInstalled(DefaultMainDir()));

    // Shown to a person, the error is said in a box before the end.
    SetupProcess p(L"", variant);
    HWND box = p.MessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_NE(p.MessageText(box).find(L"erreur"), std::wstring::npos);
    p.Answer(box, IDOK);
    EXPECT_EQ(p.Wait(), 217);
    EXPECT_TRUE(NothingInstalled(DefaultMainDir()));
}

// One byte changed in the payload's compressed data after the build. The copy
// that NORVANTA_TAMPERED_SETUP names was changed in its file (a signed program,
// whose signature no longer verifies); otherwise one is made here.
TEST_F(Silent, AChangedPayloadByteEndsWith217AndWritesNothing) {
    std::wstring tampered;
    if (const wchar_t* given = _wgetenv(L"NORVANTA_TAMPERED_SETUP"); given && *given) {
        tampered = given;
    } else {
        std::string payload;
        if (HMODULE m = LoadLibraryExW(SetupExe().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
            if (HRSRC r = FindResourceW(m, L"FILES", L"FILES"))
                payload.assign(static_cast<const char*>(LockResource(LoadResource(m, r))),
                               SizeofResource(m, r));
            FreeLibrary(m);
        }
        ASSERT_GT(payload.size(), 1000u);
        payload[payload.size() / 2] ^= 0x01;
        tampered = SetupVariant(dir.path(), "FILES", "FILES", payload);
    }
    ASSERT_TRUE(Exists(tampered)) << "no tampered copy at " << std::string(tampered.begin(), tampered.end());
    EXPECT_EQ(RunSilently(L"/S", tampered), 217);
    EXPECT_TRUE(NothingInstalled(DefaultMainDir()));
}

namespace {
// Every file under the folder, as paths relative to it.
void ListFiles(const std::wstring& root, const std::wstring& rel, std::vector<std::wstring>& out) {
    WIN32_FIND_DATAW f;
    HANDLE h = FindFirstFileW((root + L"\\" + rel + L"*").c_str(), &f);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = f.cFileName;
        if (name == L"." || name == L"..") continue;
        if (f.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListFiles(root, rel + name + L"\\", out);
        else
            out.push_back(rel + name);
    } while (FindNextFileW(h, &f));
    FindClose(h);
}
} // namespace

// The memory of an installation does not follow its payload: the program with
// a generated payload of 48 MB (23 MB compressed) peaks where the demo's does,
// and installs every byte. (Wine does not enforce a job object's memory limit,
// so the peaks are read instead: working set and commit, sampled while each runs.)
TEST_F(Silent, MemoryDoesNotFollowThePayload) {
    SIZE_T demoSet = 0, demoCommit = 0, largeSet = 0, largeCommit = 0;
    ASSERT_EQ(RunSilentlyMeasured(L"/S", SetupExe(), demoSet, demoCommit), 0);
    CleanInstallState();
    ASSERT_EQ(RunSilentlyMeasured(L"/S", LargeSetupExe(), largeSet, largeCommit), 0);
    ASSERT_GT(demoSet, 0u);
    const SIZE_T payload = 48'000'000, budget = 8u << 20;
    EXPECT_LT(largeSet, demoSet + budget) << "demo " << demoSet << ", large " << largeSet;
    EXPECT_LT(largeSet, payload / 2);
    EXPECT_LT(largeCommit, demoCommit + budget) << "demo " << demoCommit << ", large " << largeCommit;

    std::vector<std::wstring> files;
    ListFiles(LargePayloadFolder(), L"", files);
    ASSERT_GT(files.size(), 50u);
    std::size_t total = 0;
    for (const std::wstring& rel : files) {
        bool main = rel == L"qrd.exe" || rel == L"Licence.txt";
        std::wstring target = (main ? DefaultMainDir() + L"\\" : SharedData() + L"Public\\") + rel;
        std::string want = Bytes(LargePayloadFolder() + L"\\" + rel), got = Bytes(target);
        ASSERT_EQ(got.size(), want.size()) << std::string(rel.begin(), rel.end());
        EXPECT_TRUE(got == want) << std::string(rel.begin(), rel.end());
        total += want.size();
    }
    EXPECT_GE(total, payload - (1u << 20));

    // A file locked in mid-payload stops the run while the inflater's thread is
    // ahead of the writes: exit 2, in time, the locked file as it was.
    std::wstring locked = SharedData() + L"Public\\" + files[files.size() / 2];
    HANDLE lock = CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunSilently(L"/S", LargeSetupExe()), 2);
    CloseHandle(lock);
    EXPECT_TRUE(Bytes(locked) == Bytes(LargePayloadFolder() + L"\\" + files[files.size() / 2]));
}
