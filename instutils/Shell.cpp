#include "Shell.h"
#include "Files.h"
#include "InstallLog.h"
#include "Paths.h"
#include "TextConv.h"
#include "SystemLibraries.h"
#include "WinHandles.h"
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <shellapi.h>

namespace {
// Cuts a fixed-size shell buffer at its first NUL.
std::wstring UpToNul(const wchar_t* buffer, std::size_t capacity) {
    std::size_t n = 0;
    while (n < capacity && buffer[n] != L'\0') ++n;
    return std::wstring(buffer, n);
}

// Opens the browser on the folder the caller gave.
int CALLBACK BrowseCallback(HWND hwnd, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED) SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, data);
    return 0;
}
} // namespace

std::wstring KnownFolder(int csidl) {
    wchar_t buffer[MAX_PATH + 1] = {};
    auto getFolder = Shell32().SHGetFolderPathW;
    if (!getFolder || getFolder(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer) != S_OK)
        return std::wstring();
    return UpToNul(buffer, MAX_PATH);
}

bool BrowseForFolder(std::wstring& path, void* ownerHwnd) {
    std::wstring start = PathWithoutSlash(path);
    wchar_t display[MAX_PATH + 1] = {};
    BROWSEINFOW bi{};
    bi.hwndOwner = static_cast<HWND>(ownerHwnd);
    bi.pszDisplayName = display;
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    bi.lpfn = BrowseCallback;
    bi.lParam = reinterpret_cast<LPARAM>(start.c_str());
    EnsureOle(); // the new dialog style wants OLE
    const TShellApi& shell = Shell32();
    if (!shell.SHBrowseForFolderW || !shell.SHGetPathFromIDListW || !shell.SHGetMalloc) return false;
    PIDLIST_ABSOLUTE items = shell.SHBrowseForFolderW(&bi);
    if (!items) return false;
    wchar_t chosen[MAX_PATH + 1] = {};
    // An item that is no folder of the file system (a printer, a network
    // neighbourhood) has no path: the choice changes nothing.
    bool named = shell.SHGetPathFromIDListW(items, chosen) && chosen[0] != L'\0';
    ComPtr<IMalloc> allocator;
    if (SUCCEEDED(shell.SHGetMalloc(allocator.put()))) allocator->Free(items);
    if (!named) return false;
    path = UpToNul(chosen, MAX_PATH);
    return true;
}

long MakeShortcut(const std::wstring& linkPath, const std::wstring& target, const std::wstring& workingFolder,
                  const std::wstring& description, TInstallLog* log, TRunLog* trace) {
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    // Without the link object no shortcut can be made, and nothing is logged.
    EnsureCom();
    auto create = Ole32().CoCreateInstance;
    if (!create) return REGDB_E_CLASSNOTREG;
    HRESULT r = create(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void());
    if (FAILED(r)) return r;
    link->SetPath(target.c_str());
    link->SetWorkingDirectory(workingFolder.c_str());
    link->SetDescription(description.c_str());
    r = link->QueryInterface(IID_IPersistFile, file.put_void());
    if (FAILED(r)) return r;
    MakeFolderChain(FolderPartOf(linkPath), log, trace);
    // Recorded before it is made, as every item (the journal survives a kill).
    AddLogLine(log, kFileCopyPrefix + Utf16ToUtf8(linkPath));
    r = file->Save(linkPath.c_str(), TRUE);
    return r;
}

void OpenWithShell(const std::wstring& fileOrUrl, int showCommand) {
    if (auto execute = Shell32().ShellExecuteW)
        execute(nullptr, L"open", fileOrUrl.c_str(), nullptr, nullptr, showCommand);
}
