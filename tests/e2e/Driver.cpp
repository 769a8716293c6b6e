#include "Driver.h"
#include "InstallTraces.h"
#include "ScreenScale.h"
#include "Strings.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
// The kernel32 names of the process-memory calls: no psapi.dll to link.
#define PSAPI_VERSION 2
#include <psapi.h>
#include <tlhelp32.h>

namespace {
struct Find {
    DWORD pid;
    const wchar_t* cls;
    bool visibleOnly;
    HWND found;
};

BOOL CALLBACK FindTopLevel(HWND h, LPARAM l) {
    auto* f = reinterpret_cast<Find*>(l);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid != f->pid || (f->visibleOnly && !IsWindowVisible(h))) return TRUE;
    wchar_t cls[64] = {};
    GetClassNameW(h, cls, 64);
    if (f->cls && lstrcmpW(cls, f->cls) != 0) return TRUE;
    f->found = h;
    return FALSE;
}

HWND WaitTopLevel(DWORD pid, const wchar_t* cls, DWORD ms) {
    for (DWORD waited = 0; waited <= ms; waited += 20) {
        Find f{pid, cls, true, nullptr};
        EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&f));
        if (f.found) return f.found;
        Sleep(20);
    }
    return nullptr;
}

struct ChildFind {
    const wchar_t* cls;
    const std::wstring* text;
    HWND found;
};

BOOL CALLBACK FindChildProc(HWND h, LPARAM l) {
    auto* f = reinterpret_cast<ChildFind*>(l);
    wchar_t cls[64] = {}, text[512] = {};
    GetClassNameW(h, cls, 64);
    if (lstrcmpW(cls, f->cls) != 0) return TRUE;
    GetWindowTextW(h, text, 512);
    if (f->text->empty() || *f->text == text) {
        f->found = h;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindMark(HWND h, LPARAM l) {
    if (GetPropW(h, L"1.x Quiet Fern")) {
        *reinterpret_cast<HWND*>(l) = h;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindVisibleChild(HWND h, LPARAM l) {
    auto* f = reinterpret_cast<ChildFind*>(l);
    wchar_t cls[64] = {};
    GetClassNameW(h, cls, 64);
    if (lstrcmpW(cls, f->cls) == 0 && IsWindowVisible(h)) {
        f->found = h;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR l) {
    reinterpret_cast<std::vector<WORD>*>(l)->push_back(lang);
    return TRUE;
}

} // namespace

bool Eventually(const std::function<bool()>& condition, DWORD ms) {
    for (DWORD waited = 0;; waited += 10) {
        if (condition()) return true;
        if (waited >= ms) return false;
        Sleep(10);
    }
}

std::wstring FromUtf8(const char* s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s, -1, w.data(), n);
    w.resize(w.size() - 1);
    return w;
}

std::string Utf8(const std::wstring& w) {
    int n =
        WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& part) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

std::string SystemText(DWORD code) {
    wchar_t text[512] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text, 512,
                   nullptr);
    std::wstring w = text;
    while (!w.empty() && (w.back() == L'\n' || w.back() == L'\r' || w.back() == L' ')) w.pop_back();
    return Utf8(w);
}

int RunSilently(const std::wstring& arguments, const std::wstring& exe) {
    SetupProcess p(arguments, exe);
    if (!p.Started()) return -1;
    for (int i = 0; i < 3000; ++i) {
        int code = p.Wait(20);
        if (code != -1) return code;
        if (p.AnyVisibleWindow()) return -2;
    }
    return -1;
}

int RunSilentlyMeasured(const std::wstring& arguments, const std::wstring& exe, SIZE_T& peakWorkingSet,
                        SIZE_T& peakPagefile) {
    SetupProcess p(arguments, exe);
    if (!p.Started()) return -1;
    for (int i = 0; i < 12000; ++i) {
        p.SampleMemory(peakWorkingSet, peakPagefile);
        int code = p.Wait(5);
        if (code != -1) return code;
        if (p.AnyVisibleWindow()) return -2;
    }
    return -1;
}

bool SetupProcess::SampleMemory(SIZE_T& peakWorkingSet, SIZE_T& peakPagefile) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!process_ || WaitForSingleObject(process_, 0) == WAIT_OBJECT_0 ||
        !GetProcessMemoryInfo(process_, &counters, sizeof counters))
        return false;
    peakWorkingSet = std::max(peakWorkingSet, counters.PeakWorkingSetSize);
    peakPagefile = std::max(peakPagefile, counters.PeakPagefileUsage);
    return true;
}

std::wstring TempFolder() {
    wchar_t buf[MAX_PATH + 1] = {};
    return std::wstring(buf, GetTempPathW(MAX_PATH + 1, buf));
}

std::vector<std::wstring> TempFiles(const wchar_t* pattern) {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((TempFolder() + pattern).c_str(), &fd);
    for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileW(h, &fd))
        found.push_back(TempFolder() + fd.cFileName);
    if (h != INVALID_HANDLE_VALUE) FindClose(h);
    return found;
}

std::wstring LargeSetupExe() {
    return FromUtf8(NORVANTA_LARGE_SETUP_EXE);
}
std::wstring LargePayloadFolder() {
    return FromUtf8(NORVANTA_LARGE_PAYLOAD);
}

std::wstring SetupExe() {
    // The same checks also run on a copy made after the build, such as a signed one.
    if (const wchar_t* other = _wgetenv(L"NORVANTA_SETUP_UNDER_TEST"); other && *other) return other;
    return FromUtf8(NORVANTA_SETUP_EXE);
}
std::wstring DemoProgramExe() {
    return FromUtf8(NORVANTA_QRD_EXE);
}

SetupProcess::SetupProcess(const std::wstring& arguments, const std::wstring& exe, HANDLE token,
                           const wchar_t* desktop) {
    std::wstring program = exe.empty() ? SetupExe() : exe;
    std::wstring line = L"\"" + program + L"\" " + arguments, name = desktop ? desktop : L"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (desktop && (desktop_ = CreateDesktopW(desktop, nullptr, nullptr, 0, GENERIC_ALL, nullptr)))
        si.lpDesktop = name.data();
    PROCESS_INFORMATION pi{};
    if (token ? CreateProcessAsUserW(token, program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     nullptr, &si, &pi)
              : CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi)) {
        process_ = pi.hProcess;
        id_ = pi.dwProcessId;
        CloseHandle(pi.hThread);
    }
}

SetupProcess::SetupProcess(const std::wstring& arguments, int ppi) {
    ScreenScale scale(static_cast<DWORD>(ppi));
    SetupProcess started(arguments);
    std::swap(process_, started.process_);
    std::swap(id_, started.id_);
    Form();
}

SetupProcess::~SetupProcess() {
    if (process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 999);
        WaitForSingleObject(process_, 5000);
    }
    if (process_) CloseHandle(process_);
    // Under Wine a desktop made for the program has a process of its own, which
    // the program starts with the test runner's output and which does not
    // always end with the desktop: it goes too.
    for (DWORD child, i = 0; desktop_ && i < 4 && (child = ChildProcess(id_, 0)) != 0; ++i)
        if (HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, child)) {
            TerminateProcess(h, 0);
            WaitForSingleObject(h, 5000);
            CloseHandle(h);
        }
    if (desktop_) CloseDesktop(desktop_);
}

int SetupProcess::Wait(DWORD ms) {
    if (!process_ || WaitForSingleObject(process_, ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
}

HWND SetupProcess::Form(DWORD ms) {
    if (!form_ || !IsWindow(form_)) form_ = WaitTopLevel(id_, L"TMainForm", ms);
    return form_;
}

HWND SetupProcess::FindChild(const wchar_t* cls, const std::wstring& text) {
    HWND form = Form();
    if (!form) return nullptr;
    ChildFind f{cls, &text, nullptr};
    EnumChildWindows(form, FindChildProc, reinterpret_cast<LPARAM>(&f));
    return f.found;
}

BOOL CALLBACK FindTitleLabel(HWND h, LPARAM l) {
    auto* found = reinterpret_cast<HWND*>(l);
    wchar_t cls[16] = {};
    GetClassNameW(h, cls, 16);
    if (lstrcmpW(cls, L"TLabel") != 0) return TRUE;
    // The title is the label on the band at the window's top left corner.
    HWND band = GetParent(h);
    HWND form = GetParent(band);
    RECT r;
    GetWindowRect(band, &r);
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&r), 2);
    if (r.left == 0 && r.top == 0) {
        *found = h;
        return FALSE;
    }
    return TRUE;
}

std::wstring SetupProcess::PageTitle() {
    HWND form = Form(), label = nullptr;
    if (form) EnumChildWindows(form, FindTitleLabel, reinterpret_cast<LPARAM>(&label));
    return label ? Text(label) : std::wstring();
}

// A message box that the test did not ask for ends the wait at once, saying what it
// says: nobody would answer it, and the test would only wait out its time.
bool SetupProcess::UnexpectedBox(const wchar_t* waitingFor) {
    Find f{id_, L"#32770", true, nullptr};
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&f));
    if (!f.found) return false;
    std::fprintf(stderr, "unexpected message box while waiting for %s: \"%s\"\n", Utf8(waitingFor).c_str(),
                 Utf8(MessageText(f.found)).c_str());
    return true;
}

bool SetupProcess::WaitForTitle(const std::wstring& title, DWORD ms) {
    for (DWORD waited = 0; waited <= ms; waited += 20) {
        if (PageTitle() == title) return true;
        if (UnexpectedBox(title.c_str())) return false;
        Sleep(20);
    }
    return false;
}

HWND SetupProcess::Button(const std::wstring& caption) {
    return FindChild(L"TButton", caption);
}
HWND SetupProcess::CheckBox(const std::wstring& caption) {
    return FindChild(L"TCheckBox", caption);
}
HWND SetupProcess::Edit() {
    return FindChild(L"TEdit", L"");
}

void SetupProcess::Click(HWND control) {
    PostMessageW(control, BM_CLICK, 0, 0);
}

bool SetupProcess::Checked(HWND box) {
    return SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::wstring SetupProcess::Text(HWND control) {
    wchar_t buf[1024] = {};
    SendMessageTimeoutW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 5000,
                        nullptr);
    return buf;
}

void SetupProcess::SetText(HWND control, const std::wstring& text) {
    SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                        5000, nullptr);
}

void SetupProcess::Key(HWND control, WPARAM vk) {
    PostMessageW(control, WM_KEYDOWN, vk, 1);
    PostMessageW(control, WM_KEYUP, vk, 0xC0000001);
}

void SetupProcess::Close() {
    PostMessageW(Form(), WM_SYSCOMMAND, SC_CLOSE, 0);
}

HWND SetupProcess::Focus() {
    HWND form = Form(0);
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!form || !GetGUIThreadInfo(GetWindowThreadProcessId(form, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

bool SetupProcess::WaitForFocus(HWND control, DWORD ms) {
    return control && Eventually([&] { return Focus() == control; }, ms);
}

void SetupProcess::Type(WORD vk, bool shift, bool alt) {
    std::vector<INPUT> keys;
    auto key = [&](WORD k, bool up) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = k;
        in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(k, MAPVK_VK_TO_VSC));
        in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        keys.push_back(in);
    };
    if (shift) key(VK_SHIFT, false);
    if (alt) key(VK_MENU, false);
    key(vk, false);
    key(vk, true);
    if (alt) key(VK_MENU, true);
    if (shift) key(VK_SHIFT, true);
    SendInput(static_cast<UINT>(keys.size()), keys.data(), sizeof(INPUT));
}

DWORD ChildProcess(DWORD parent, DWORD ms) {
    DWORD found = 0;
    Eventually(
        [&] {
            HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
            PROCESSENTRY32W e{};
            e.dwSize = sizeof e;
            for (BOOL ok = Process32FirstW(snap, &e); ok && !found; ok = Process32NextW(snap, &e))
                if (e.th32ParentProcessID == parent) found = e.th32ProcessID;
            CloseHandle(snap);
            return found != 0;
        },
        ms);
    return found;
}

HWND MessageBoxOf(DWORD process, DWORD ms) {
    return WaitTopLevel(process, L"#32770", ms);
}

HWND SetupProcess::MessageBox(DWORD ms) {
    return WaitTopLevel(id_, L"#32770", ms);
}

std::wstring SetupProcess::MessageText(HWND box) {
    HWND text = GetDlgItem(box, 0xFFFF);
    return text ? Text(text) : std::wstring();
}

void SetupProcess::Answer(HWND box, int button) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    for (int i = 0; i < 250 && IsWindow(box); ++i) Sleep(20);
}

bool SetupProcess::AnyVisibleWindow() {
    Find f{id_, nullptr, true, nullptr};
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&f));
    if (!f.found) return false;
    // The application's owner window is zero-sized: nothing a person sees.
    RECT r;
    GetWindowRect(f.found, &r);
    wchar_t cls[64] = {};
    GetClassNameW(f.found, cls, 64);
    return !(lstrcmpW(cls, L"TApp") == 0 && r.right - r.left <= 1);
}

bool MarkedWindowExists() {
    return MarkedWindow() != nullptr;
}

HWND MarkedWindow() {
    HWND found = nullptr;
    EnumWindows(FindMark, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND VisibleChild(HWND parent, const wchar_t* cls) {
    ChildFind f{cls, nullptr, nullptr};
    EnumChildWindows(parent, FindVisibleChild, reinterpret_cast<LPARAM>(&f));
    return f.found;
}

std::wstring SetupVariant(const std::wstring& folder, const char* type, const char* name,
                          const std::string& bytes, bool remove) {
    std::wstring path = folder + L"\\setup-variant.exe";
    CopyFileW(SetupExe().c_str(), path.c_str(), FALSE);
    std::wstring t = type ? FromUtf8(type) : std::wstring(), n = FromUtf8(name);
    LPCWSTR typeId = type ? t.c_str() : MAKEINTRESOURCEW(10); // RCDATA
    if (remove) {
        // Rename the resource in the file's resource directory (its name is stored as a
        // counted UTF-16 string): the program then finds no resource of that name.
        HANDLE f =
            CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) return std::wstring();
        DWORD size = GetFileSize(f, nullptr), got = 0;
        std::string image(size, '\0');
        ReadFile(f, image.data(), size, &got, nullptr);
        std::string counted(2, '\0');
        counted[0] = static_cast<char>(n.size());
        for (wchar_t c : n) counted += std::string{static_cast<char>(c), '\0'};
        std::size_t at = image.find(counted);
        if (at != std::string::npos) image[at + counted.size() - 2] ^= 0x1B; // last letter changed
        SetFilePointer(f, 0, nullptr, FILE_BEGIN);
        WriteFile(f, image.data(), size, &got, nullptr);
        CloseHandle(f);
        if (at == std::string::npos) return std::wstring();
    } else {
        // Replace the resource in every language it was stored in.
        std::vector<WORD> languages;
        if (HMODULE m = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
            EnumResourceLanguagesW(m, typeId, n.c_str(), CollectLanguage,
                                   reinterpret_cast<LONG_PTR>(&languages));
            FreeLibrary(m);
        }
        if (languages.empty()) return std::wstring();
        HANDLE update = BeginUpdateResourceW(path.c_str(), FALSE);
        if (!update) return std::wstring();
        bool ok = true;
        for (WORD lang : languages)
            ok = ok && UpdateResourceW(update, typeId, n.c_str(), lang, const_cast<char*>(bytes.data()),
                                       static_cast<DWORD>(bytes.size()));
        if (!EndUpdateResourceW(update, !ok) || !ok) return std::wstring();
    }
    // The variant must say what was asked of it.
    HMODULE m = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!m) return std::wstring();
    HRSRC res = FindResourceW(m, n.c_str(), typeId);
    bool as = remove ? res == nullptr : res && SizeofResource(m, res) == bytes.size();
    FreeLibrary(m);
    return as ? path : std::wstring();
}

std::uintptr_t AddressIn(HANDLE process, const wchar_t* module, const char* function) {
    auto local = reinterpret_cast<std::uintptr_t>(GetProcAddress(GetModuleHandleW(module), function));
    HMODULE owner = nullptr;
    wchar_t name[MAX_PATH] = {}, there[MAX_PATH] = {};
    if (!local ||
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(local), &owner) ||
        !GetModuleBaseNameW(GetCurrentProcess(), owner, name, MAX_PATH))
        return 0;
    HMODULE mods[512];
    DWORD bytes = 0;
    if (!EnumProcessModules(process, mods, sizeof mods, &bytes)) return 0;
    for (DWORD i = 0; i < bytes / sizeof(HMODULE); ++i)
        if (GetModuleBaseNameW(process, mods[i], there, MAX_PATH) && lstrcmpiW(name, there) == 0)
            return reinterpret_cast<std::uintptr_t>(mods[i]) +
                   (local - reinterpret_cast<std::uintptr_t>(owner));
    return 0;
}

bool PokeByte(HANDLE process, std::uintptr_t at, std::uint8_t byte, std::uint8_t* before) {
    SIZE_T n = 0;
    void* p = reinterpret_cast<void*>(at);
    if (before && !ReadProcessMemory(process, p, before, 1, &n)) return false;
    return WriteProcessMemory(process, p, &byte, 1, &n) && FlushInstructionCache(process, p, 1);
}

HANDLE HoldInstallLock() {
    return CreateMutexW(nullptr, TRUE, L"Global\\Norvanta Word Processor Setup");
}
void ReleaseInstallLock(HANDLE lock) {
    ReleaseMutex(lock);
    CloseHandle(lock);
}
bool WaitsForInstallLock(const std::wstring& runLog) {
    return Eventually([&] { return HasLine(FileLines(runLog), "waiting for it to end"); });
}

int RunOnHost(const std::string& command, DWORD milliseconds) {
    // Wine gives no handle to wait on for a Linux program: it leaves its status in a file.
    static int count = 0;
    std::string status =
        "/tmp/norvanta-host-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
    std::wstring line = FromUtf8(("sh -c \"(" + command + ") >/dev/null 2>&1; echo $? >" + status +
                                  ".0; mv " + status + ".0 " + status + "\"")
                                     .c_str());
    std::wstring file = L"Z:" + FromUtf8(status.c_str());
    std::replace(file.begin(), file.end(), L'/', L'\\');
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(L"Z:\\bin\\sh", line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (!Eventually([&] { return Exists(file); }, milliseconds)) return -1;
    std::string text = Bytes(file);
    DeleteFileW(file.c_str());
    return text.empty() ? -1 : std::atoi(text.c_str());
}

static std::string UnixName(const std::wstring& path) {
    using Fn = char*(CDECL*)(LPCWSTR);
    auto unixName = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unixName ? unixName(path.c_str()) : nullptr;
    std::string found = name ? name : "";
    if (name) HeapFree(GetProcessHeap(), 0, name);
    return found;
}

bool HostLink(const std::wstring& link, const std::wstring& target) {
    std::size_t cut = link.find_last_of(L'\\');
    std::string at = "'" + UnixName(link.substr(0, cut)) + "/" + Utf8(link.substr(cut + 1)) + "'";
    return RunOnHost(target.empty() ? "rm -f " + at : "ln -sfn '" + UnixName(target) + "' " + at) == 0;
}

bool SetupProcess::ToReadyPage() {
    for (int page = 0; page <= 3; ++page) {
        if (!WaitForTitle(GetTextW(txtPageTitle0 + page))) return false;
        if (page < 3) Click(Button(GetTextW(txtNext)));
    }
    return true;
}
