#include "SystemLibraries.h"
#include <string>

void RestrictDllSearch() {
    using SetDirsFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto setDirs = reinterpret_cast<SetDirsFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDirs) setDirs(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryW(L"");
}

std::wstring ModuleFilePath(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return std::wstring();
        if (n < path.size()) return path.substr(0, n);
        // The name was cut: a long path. No path is longer than the system's limit.
        if (path.size() > 32768) return std::wstring();
        path.resize(path.size() * 2);
    }
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    UINT n = GetSystemDirectoryW(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    std::wstring path = std::wstring(dir, n) + L"\\" + name;
    // Its own dependencies are looked for in the system folder too.
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

namespace {
template <typename F>
void Resolve(HMODULE module, F& fn, const char* name) {
    fn = module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}
} // namespace

const TShellApi& Shell32() {
    static const TShellApi api = [] {
        TShellApi a;
        HMODULE m = LoadSystemLibrary(L"shell32.dll");
        Resolve(m, a.SHGetFolderPathW, "SHGetFolderPathW");
        Resolve(m, a.SHBrowseForFolderW, "SHBrowseForFolderW");
        Resolve(m, a.SHGetPathFromIDListW, "SHGetPathFromIDListW");
        Resolve(m, a.SHGetMalloc, "SHGetMalloc");
        Resolve(m, a.ShellExecuteW, "ShellExecuteW");
        Resolve(m, a.ShellExecuteExW, "ShellExecuteExW");
        return a;
    }();
    return api;
}

const TOleApi& Ole32() {
    static const TOleApi api = [] {
        TOleApi a;
        HMODULE m = LoadSystemLibrary(L"ole32.dll");
        Resolve(m, a.OleInitialize, "OleInitialize");
        Resolve(m, a.OleUninitialize, "OleUninitialize");
        Resolve(m, a.CoCreateInstance, "CoCreateInstance");
        Resolve(m, a.CoInitializeEx, "CoInitializeEx");
        Resolve(m, a.CoUninitialize, "CoUninitialize");
        return a;
    }();
    return api;
}

namespace {
enum class TComStart { None, Ole, Mta };
TComStart Started = TComStart::None;
bool Windowless = false;
} // namespace

bool EnsureOle() {
    if (Started != TComStart::None) return Started == TComStart::Ole;
    auto init = Ole32().OleInitialize;
    // S_FALSE: already initialised here, which counts as ready too.
    HRESULT r = init ? init(nullptr) : E_FAIL;
    if (r == S_OK || r == S_FALSE) Started = TComStart::Ole;
    return Started == TComStart::Ole;
}

bool EnsureCom() {
    if (Started != TComStart::None) return true;
    if (!Windowless) return EnsureOle();
    auto init = Ole32().CoInitializeEx;
    HRESULT r = init ? init(nullptr, COINIT_MULTITHREADED) : E_FAIL;
    if (r == S_OK || r == S_FALSE) Started = TComStart::Mta;
    return Started == TComStart::Mta;
}

void UseWindowlessCom(bool value) {
    Windowless = value;
}

void DoneCom() {
    if (Started == TComStart::Ole) {
        if (auto done = Ole32().OleUninitialize) done();
    } else if (Started == TComStart::Mta) {
        if (auto done = Ole32().CoUninitialize) done();
    }
    Started = TComStart::None;
}
