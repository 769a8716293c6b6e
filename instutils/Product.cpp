#include "Product.h"
#include "Paths.h"
#include "Shell.h"
#include "SystemLibraries.h"
#include "TextConv.h"
#include "WinHandles.h"
#include <windows.h>
#include <restartmanager.h>
#include <shlobj.h>
#include <tlhelp32.h>

const TShortcutFolder kProgramsShortcutFolder = {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS};
const TShortcutFolder kDesktopShortcutFolder = {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY};

std::wstring DataFolderPath(int kind, bool portable, const std::wstring& mainDir) {
    std::wstring folder;
    if (portable) {
        folder = mainDir;
        PathWithSlash(folder);
        return folder;
    }
    std::wstring base = KnownFolder(CSIDL_COMMON_APPDATA);
    if (base.empty()) base = KnownFolder(CSIDL_PERSONAL);
    folder = JoinPath(base, "Norvanta");
    PathWithSlash(folder);
    if (kind == dfHidden) folder += L"Hidden\\";
    if (kind == dfPublic) folder += L"Public\\";
    return folder;
}

namespace {
// Processes that are no running copy: this one, and the one named.
DWORD Besides = 0;

bool Counted(DWORD pid) {
    return pid != 0 && pid != GetCurrentProcessId() && pid != Besides;
}

BOOL CALLBACK FindMarkedWindow(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (Counted(process) && GetPropW(window, kRunningMark)) {
        *reinterpret_cast<DWORD*>(found) = process;
        return FALSE;
    }
    return TRUE;
}

// The top-level windows of this thread's desktop, as EnumWindows lists them,
// without asking for the desktop window: under Wine that request alone starts
// the desktop process, which a silent run otherwise never needs. Answers the
// marked window's process, 0 when there is none.
DWORD MarkedWindowProcess() {
    DWORD found = 0;
    HDESK desktop = GetThreadDesktop(GetCurrentThreadId());
    SetLastError(ERROR_SUCCESS);
    if (desktop && EnumDesktopWindows(desktop, FindMarkedWindow, reinterpret_cast<LPARAM>(&found)))
        return found;
    // False also ends a search that found the window, or one over an empty
    // desktop; only an error (no right to enumerate) falls back to the full
    // list, so that a running copy is never missed.
    if (!found && (!desktop || GetLastError() != ERROR_SUCCESS))
        EnumWindows(FindMarkedWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

// What a name resolves to: the volume and the file's index on it, the same for
// every name of the file (another case, an 8.3 name, a link, another drive letter).
struct TFileId {
    DWORD Volume = 0, High = 0, Low = 0;
    bool operator==(const TFileId& o) const { return Volume == o.Volume && High == o.High && Low == o.Low; }
};

bool IdentityOf(const std::wstring& path, TFileId& id) {
    if (path.empty()) return false;
    UniqueHandle f(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!f.valid() || !GetFileInformationByHandle(f.get(), &info)) return false;
    id.Volume = info.dwVolumeSerialNumber;
    id.High = info.nFileIndexHigh;
    id.Low = info.nFileIndexLow;
    return true;
}

std::wstring ImageOf(DWORD pid) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.valid()) return std::wstring();
    std::wstring path(32768, L'\0');
    DWORD size = static_cast<DWORD>(path.size());
    if (!QueryFullProcessImageNameW(process.get(), 0, path.data(), &size) || size >= path.size())
        return std::wstring();
    path.resize(size);
    return path;
}

// A process of any session whose program file is the one given; 0 when none.
DWORD ProcessOfFile(const TFileId& program) {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) return 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (!Counted(entry.th32ProcessID)) continue;
        TFileId id;
        if (IdentityOf(ImageOf(entry.th32ProcessID), id) && id == program) return entry.th32ProcessID;
    }
    return 0;
}

// The restart manager's list of the processes that use the file, where the
// system has one that answers; 0 when it names none but this process.
DWORD RestartManagerUser(const std::wstring& program) {
    static HMODULE module = LoadSystemLibrary(L"rstrtmgr.dll");
    if (!module) return 0;
    using StartFn = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
    using RegisterFn = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
    using ListFn = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
    using EndFn = DWORD(WINAPI*)(DWORD);
    auto resolve = [](const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); };
    auto start = reinterpret_cast<StartFn>(resolve("RmStartSession"));
    auto add = reinterpret_cast<RegisterFn>(resolve("RmRegisterResources"));
    auto list = reinterpret_cast<ListFn>(resolve("RmGetList"));
    auto end = reinterpret_cast<EndFn>(resolve("RmEndSession"));
    if (!start || !add || !list || !end) return 0;
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (start(&session, 0, key) != ERROR_SUCCESS) return 0;
    DWORD found = 0;
    LPCWSTR files[1] = {program.c_str()};
    if (add(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
        RM_PROCESS_INFO users[8] = {};
        UINT needed = 0, count = 8;
        DWORD reasons = 0;
        DWORD r = list(session, &needed, &count, users, &reasons);
        if (r == ERROR_SUCCESS || r == ERROR_MORE_DATA) {
            UINT told = count < needed ? count : needed;
            for (UINT i = 0; i < told && i < 8 && !found; ++i) {
                DWORD pid = users[i].Process.dwProcessId;
                if (Counted(pid)) found = pid;
            }
            // More than the room holds: one of them at least is another process.
            if (!found && r == ERROR_MORE_DATA && needed > 2) found = static_cast<DWORD>(-1);
        }
    }
    end(session);
    return found;
}
} // namespace

bool WordProcessorRunning(const std::wstring& program, std::wstring* found, unsigned long besides) {
    Besides = besides;
    auto tell = [found](const std::wstring& what) {
        if (found) *found = what;
        return true;
    };
    if (DWORD pid = MarkedWindowProcess())
        return tell(L"a window of process " + DecimalW(pid) + L" carries the running word processor's mark");
    TFileId id;
    // No program file (or no full name for one): nothing can run it.
    if (PathRootLength(program) == 0 || !IdentityOf(program, id)) return false;
    if (DWORD pid = ProcessOfFile(id))
        return tell(L"process " + DecimalW(pid) + L" runs " + ImageOf(pid) + L", the same file as " +
                    program);
    if (DWORD pid = RestartManagerUser(program))
        return tell(L"the restart manager names process " +
                    (pid == static_cast<DWORD>(-1) ? std::wstring(L"(several)") : DecimalW(pid)) +
                    L" as a user of " + program);
    return false;
}
