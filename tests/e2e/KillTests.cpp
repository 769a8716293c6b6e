// Silent installations killed at chosen points, as a forced end or a power cut
// leaves them: the installed uninstaller still removes all they wrote, and a
// second setup gives what an uninterrupted one gives. Also records that were
// changed afterwards, and an Install.log that cannot be written.
#include "E2ETest.h"
#include <gtest/gtest.h>
#include <functional>
#include <map>

namespace {
const wchar_t kProductKey[] = L"Software\\Norvanta Word Processor"; // HKLM: the journal key's parent

// A call stopped at its first instruction: its arguments.
struct Call {
    HANDLE process;
    CONTEXT c;
#ifdef _WIN64
    DWORD64 Arg(int i) const {
        return i == 0 ? c.Rcx : i == 1 ? c.Rdx : i == 2 ? c.R8 : c.R9;
    }
#else
    DWORD Arg(int i) const { // on the stack, above the return address
        DWORD value = 0;
        SIZE_T n = 0;
        ReadProcessMemory(process, reinterpret_cast<void*>(c.Esp + 4 + 4 * i), &value, sizeof value, &n);
        return value;
    }
#endif
    bool TextEnds(int i, const std::wstring& end) const {
        wchar_t text[1024] = {};
        SIZE_T n = 0;
        ReadProcessMemory(process, reinterpret_cast<void*>(Arg(i)), text, sizeof text - 2, &n);
        std::wstring s = text;
        return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
    }
};

// Runs setup.exe /S as its debugger, with a breakpoint on the function, and
// kills it there the first time kill says so. True when it was killed.
bool RunKilledAt(const char* function, const std::function<bool(const Call&)>& kill) {
    std::wstring line = L"\"" + SetupExe() + L"\" /S";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(SetupExe().c_str(), line.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                        nullptr, nullptr, &si, &pi))
        return false;
    std::uintptr_t at = 0;
    std::uint8_t original = 0;
    bool killed = false;
    DEBUG_EVENT ev{};
    for (bool running = true; running && WaitForDebugEvent(&ev, 60000);) {
        DWORD verdict = DBG_CONTINUE;
        const EXCEPTION_RECORD& r = ev.u.Exception.ExceptionRecord;
        if (ev.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            running = false;
        } else if (ev.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
            CloseHandle(ev.u.CreateProcessInfo.hFile);
        } else if (ev.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && ev.u.LoadDll.hFile) {
            CloseHandle(ev.u.LoadDll.hFile);
        } else if (ev.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
            HANDLE t = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, ev.dwThreadId);
            Call call{pi.hProcess, {}};
            call.c.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
            GetThreadContext(t, &call.c);
            auto where = reinterpret_cast<std::uintptr_t>(r.ExceptionAddress);
            if (r.ExceptionCode == EXCEPTION_BREAKPOINT && !at) { // the loader's, before the program runs
                at = AddressIn(pi.hProcess, L"advapi32.dll", function);
                if (!at) at = AddressIn(pi.hProcess, L"kernel32.dll", function);
                if (!at || !PokeByte(pi.hProcess, at, 0xCC, &original)) TerminateProcess(pi.hProcess, 98);
            } else if (r.ExceptionCode == EXCEPTION_BREAKPOINT && where == at && !killed) {
                if (kill(call)) {
                    killed = TerminateProcess(pi.hProcess, 99);
                } else { // the call goes on, one instruction without the breakpoint
                    PokeByte(pi.hProcess, at, original);
#ifdef _WIN64
                    call.c.Rip = at;
#else
                    call.c.Eip = at;
#endif
                    call.c.EFlags |= 0x100;
                    SetThreadContext(t, &call.c);
                }
            } else if (r.ExceptionCode == EXCEPTION_SINGLE_STEP) {
                PokeByte(pi.hProcess, at, 0xCC);
            } else if (r.ExceptionCode != EXCEPTION_BREAKPOINT) {
                verdict = DBG_EXCEPTION_NOT_HANDLED;
            }
            CloseHandle(t);
        }
        ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, verdict);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return killed;
}

// What an installation leaves, to compare two: the install folder's files (Install.log
// byte for byte), the data folder's names, the shortcuts, the registry values.
std::map<std::wstring, std::string> State() {
    std::map<std::wstring, std::string> s;
    std::function<void(const std::wstring&, bool)> walk = [&](const std::wstring& folder, bool bytes) {
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
        for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileW(h, &fd)) {
            std::wstring name = fd.cFileName, path = folder + L"\\" + name;
            if (name == L"." || name == L"..") continue;
            bool sub = fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
            s[path] = sub                      ? "folder"
                      : name == L"Install.log" ? Bytes(path)
                      : bytes                  ? std::to_string(std::hash<std::string>()(Bytes(path)))
                                               : "";
            if (sub) walk(path, bytes);
        }
        if (h != INVALID_HANDLE_VALUE) FindClose(h);
    };
    s[DefaultMainDir()] = Exists(DefaultMainDir()) ? "folder" : "";
    walk(DefaultMainDir(), true);
    walk(SharedData().substr(0, SharedData().size() - 1), false);
    for (int csidl :
         {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS, CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY})
        s[ShortcutIn(csidl)] = Exists(ShortcutIn(csidl)) ? "link" : "";
    for (auto [root, key] : {std::pair{HKEY_CURRENT_USER, kSettingsKeyW},
                             {HKEY_LOCAL_MACHINE, kUninstallKeyW},
                             {HKEY_LOCAL_MACHINE, kProductKey}}) {
        HKEY k;
        s[key] = RegOpenKeyExW(root, key, 0, KEY_READ | KEY_WOW64_32KEY, &k) == ERROR_SUCCESS ? "key" : "";
        wchar_t name[256];
        for (DWORD i = 0, n = 256; !s[key].empty() && RegEnumValueW(k, i, name, &n, nullptr, nullptr, nullptr,
                                                                    nullptr) == ERROR_SUCCESS;
             ++i, n = 256)
            if (lstrcmpW(name, L"InstallDate"))
                s[std::wstring(key) + L"\\" + name] = ReadValue(root, key, name).data;
        if (!s[key].empty()) RegCloseKey(k);
    }
    return s;
}

class Kills : public E2ETest {};
} // namespace

TEST_F(Kills, AfterAKillTheUninstallerRemovesAllAndASecondRunIsLikeAnUninterruptedOne) {
    ASSERT_EQ(RunSilently(L"/S"), 0);
    const auto whole = State();
    const std::wstring main = DefaultMainDir(), program = main + L"\\qrd.exe";
    ASSERT_GT(whole.at(main + L"\\Install.log").size(), 100u);
    ASSERT_EQ(whole.count(main + L"\\Install.journal"), 0u);
    int n = 0;
    const struct {
        const char* name;
        const char* function;
        std::function<bool(const Call&)> kill;
    } points[] = {
        {"after the first folder", "CreateDirectoryW",
         [](const Call& c) { return c.TextEnds(0, L"\\Public\\"); }},
        {"in the middle of the files", "SetFileTime", [&](const Call&) { return ++n == 2; }},
        {"while Install.log is replaced", "MoveFileExW",
         [](const Call& c) { return c.TextEnds(1, L"\\Install.log"); }},
        {"between Install.log and the entry", "RegCreateKeyExW",
         [](const Call& c) { return c.TextEnds(1, L"Norvanta Word Processor\\Install"); }},
        {"before the journal goes", "CreateFileW",
         [&](const Call& c) {
             return c.Arg(1) == DELETE && c.TextEnds(0, L"\\Install.journal") && ++n == 2;
         }},
    };
    for (const auto& point : points) {
        for (bool uninstall : {true, false}) {
            SCOPED_TRACE(std::string(point.name) +
                         (uninstall ? ", then the uninstaller" : ", then the setup"));
            CleanInstallState();
            n = 0;
            ASSERT_TRUE(RunKilledAt(point.function, point.kill));
            EXPECT_NE(State(), whole) << "killed before the end";
            if (!uninstall) {
                EXPECT_EQ(RunSilently(L"/S"), 0);
                EXPECT_EQ(State(), whole);
                continue;
            }
            if (!Exists(program)) continue; // nothing to start the uninstall with
            EXPECT_EQ(RunSilently(L"-ui /S", program), 0);
            for (const auto& [path, what] : State())
                EXPECT_TRUE(what.empty() || path.rfind(SharedData(), 0) == 0) << Utf8(path);
            for (const std::wstring& copy : TempFiles(L"Norvanta-uninstall-*.tmp")) DeleteFileW(copy.c_str());
        }
    }
}

TEST_F(Kills, RecordsChangedAfterTheSetupRemoveNothing) {
    ASSERT_EQ(RunSilently(L"/S"), 0);
    const std::wstring main = DefaultMainDir(), runLog = dir / L"uninstall.log";
    const auto installed = State();
    HANDLE f = CreateFileW((main + L"\\Install.log").c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    DWORD written = 0;
    WriteFile(f, "File Copy: C:\\windows\\win.ini\r\n", 31, &written, nullptr);
    CloseHandle(f);
    EXPECT_EQ(RunSilently(L"-ui /S \"/LOG=" + runLog + L"\"", main + L"\\qrd.exe"), 2);
    auto after = State();
    after.erase(main + L"\\Install.log");
    auto before = installed;
    before.erase(main + L"\\Install.log");
    EXPECT_EQ(after, before) << "nothing removed";
    EXPECT_TRUE(HasLine(FileLines(runLog), "Install.log was changed after the setup wrote it"));
    // A new setup does not take the changed lines over: its own Install.log is followed again.
    ASSERT_EQ(RunSilently(L"/S"), 0);
    EXPECT_FALSE(HasLine(FileLines(main + L"\\Install.log"), "win.ini"));
    EXPECT_EQ(RunSilently(L"-ui /S", main + L"\\qrd.exe"), 0);
}
