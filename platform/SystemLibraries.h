// Libraries that are not imported but loaded on first use by their full path in
// the system folder: nothing of theirs (nor of what they load in turn) is looked
// for beside the program before it has restricted where DLLs may come from.
#pragma once
#include <string>
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shellapi.h>

// Only the system folder is searched for DLLs from here on: called first thing,
// before anything else is loaded.
void RestrictDllSearch();

// The file a module was loaded from (nil: the program's own), however long its
// name; empty when it cannot be had.
std::wstring ModuleFilePath(HMODULE module = nullptr);

// Loads a library of the system folder by its full path; nil when it cannot.
HMODULE LoadSystemLibrary(const wchar_t* name);

struct TShellApi {
    HRESULT(WINAPI* SHGetFolderPathW)(HWND, int, HANDLE, DWORD, LPWSTR) = nullptr;
    PIDLIST_ABSOLUTE(WINAPI* SHBrowseForFolderW)(LPBROWSEINFOW) = nullptr;
    BOOL(WINAPI* SHGetPathFromIDListW)(PCIDLIST_ABSOLUTE, LPWSTR) = nullptr;
    HRESULT(WINAPI* SHGetMalloc)(IMalloc**) = nullptr;
    HINSTANCE(WINAPI* ShellExecuteW)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) = nullptr;
    BOOL(WINAPI* ShellExecuteExW)(SHELLEXECUTEINFOW*) = nullptr;
};
struct TOleApi {
    HRESULT(WINAPI* OleInitialize)(LPVOID) = nullptr;
    void(WINAPI* OleUninitialize)() = nullptr;
    HRESULT(WINAPI* CoInitializeEx)(LPVOID, DWORD) = nullptr;
    void(WINAPI* CoUninitialize)() = nullptr;
    HRESULT(WINAPI* CoCreateInstance)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*) = nullptr;
};

// Each member is nil when the library or the function is missing.
const TShellApi& Shell32();
const TOleApi& Ole32();

// OLE for this thread, started when first needed (the shell link object, the
// folder browser) rather than at start-up, where it would delay the first page.
bool EnsureOle();
// What a shortcut needs: OLE, or in a windowless run the multithreaded
// apartment, which makes no window of its own (an OLE apartment does).
bool EnsureCom();
void UseWindowlessCom(bool value);
// Ends what EnsureOle or EnsureCom started; the program calls it once at its end.
void DoneCom();
