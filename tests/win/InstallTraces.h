// What an installation leaves behind, read back as a user's tools would: files,
// shortcuts through IShellLinkW, registry values in the 32-bit view. Also the
// clean-up that puts the prefix back as it was before an installation.
#pragma once
#include "TestDir.h"
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <stdexcept>
#include <string>
#include <vector>

struct LinkFields {
    bool loaded = false;
    std::wstring path, folder, description;
};

inline LinkFields LoadLink(const std::wstring& file) {
    LinkFields f;
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link))))
        return f;
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
        if (SUCCEEDED(persist->Load(file.c_str(), STGM_READ))) {
            wchar_t buf[MAX_PATH * 2] = {};
            link->GetPath(buf, MAX_PATH * 2, nullptr, SLGP_RAWPATH);
            f.path = buf;
            buf[0] = 0;
            link->GetWorkingDirectory(buf, MAX_PATH * 2);
            f.folder = buf;
            buf[0] = 0;
            link->GetDescription(buf, MAX_PATH * 2);
            f.description = buf;
            f.loaded = true;
        }
        persist->Release();
    }
    link->Release();
    return f;
}

// Never an empty path: every path a test builds on it would then name another place
// (the root of the current drive). A folder a test removed still has its path.
inline std::wstring KnownPath(int csidl) {
    wchar_t buf[MAX_PATH] = {};
    HRESULT r = SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_DONT_VERIFY, nullptr, SHGFP_TYPE_CURRENT, buf);
    if (r != S_OK || !buf[0])
        throw std::runtime_error("no path for the known folder " + std::to_string(csidl) + ": error " +
                                 std::to_string(static_cast<unsigned long>(r)));
    return buf;
}

inline std::wstring ShortcutIn(int csidl) {
    return KnownPath(csidl) + L"\\Traitement de texte Norvanta.lnk";
}

inline bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string Bytes(const std::wstring& path) {
    std::string out;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return out;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
    CloseHandle(h);
    return out;
}

inline void Write(const std::wstring& path, const std::string& bytes) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
    CloseHandle(h);
}

// A registry value of the 32-bit view: its type and raw bytes (REG_NONE when missing).
struct RegValue {
    DWORD type = REG_NONE;
    std::string data;
    std::wstring Text() const {
        std::wstring s(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2);
        return s.substr(0, s.find(L'\0'));
    }
    DWORD Number() const {
        return data.size() == 4 ? *reinterpret_cast<const DWORD*>(data.data()) : 0xFFFFFFFF;
    }
};

inline RegValue ReadValue(HKEY root, const wchar_t* key, const wchar_t* name) {
    RegValue v;
    HKEY k;
    if (RegOpenKeyExW(root, key, 0, KEY_READ | KEY_WOW64_32KEY, &k) != ERROR_SUCCESS) return v;
    DWORD size = 0;
    if (RegQueryValueExW(k, name, nullptr, &v.type, nullptr, &size) == ERROR_SUCCESS) {
        v.data.assign(size, '\0');
        RegQueryValueExW(k, name, nullptr, nullptr, reinterpret_cast<BYTE*>(v.data.data()), &size);
    } else {
        v.type = REG_NONE;
    }
    RegCloseKey(k);
    return v;
}

inline bool KeyExists(HKEY root, const wchar_t* key) {
    HKEY k;
    if (RegOpenKeyExW(root, key, 0, KEY_READ | KEY_WOW64_32KEY, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

inline const wchar_t* kSettingsKeyW = L"Software\\Norvanta Word Processor\\Install";
inline const wchar_t* kUninstallKeyW =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Norvanta Word Processor";

inline std::wstring SharedData() {
    return KnownPath(CSIDL_COMMON_APPDATA) + L"\\Norvanta\\";
}
inline std::wstring DefaultMainDir() {
    return KnownPath(CSIDL_PROGRAM_FILES) + L"\\Norvanta";
}

// This process's token with the Administrators group deny-only, as user account
// control filters an administrator's token; nil when the system makes none.
inline HANDLE FilteredToken() {
    HANDLE own = nullptr, filtered = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own)) return nullptr;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                 0, &admins)) {
        SID_AND_ATTRIBUTES deny{admins, 0};
        if (!CreateRestrictedToken(own, 0, 1, &deny, 0, nullptr, 0, nullptr, &filtered)) filtered = nullptr;
        FreeSid(admins);
    }
    CloseHandle(own);
    return filtered;
}

// Files in a folder tree, at any depth.
inline int FilesUnder(const std::wstring& folder) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return 0;
    int n = 0;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..") continue;
        n += (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FilesUnder(folder + L"\\" + name) : 1;
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return n;
}

// Removes everything an installation may have left in the prefix.
inline void CleanInstallState() {
    TestDir::RemoveTree(KnownPath(CSIDL_COMMON_APPDATA) + L"\\Norvanta");
    TestDir::RemoveTree(DefaultMainDir());
    for (int csidl :
         {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS, CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY})
        DeleteFileW(ShortcutIn(csidl).c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Norvanta Word Processor");
    HKEY k;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0,
                      KEY_ALL_ACCESS | KEY_WOW64_32KEY, &k) == ERROR_SUCCESS) {
        RegDeleteTreeW(k, L"Norvanta Word Processor");
        RegCloseKey(k);
    }
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &k) ==
        ERROR_SUCCESS) {
        RegDeleteTreeW(k, L"Norvanta Word Processor"); // the journal key of a stopped run
        RegCloseKey(k);
    }
}

// Install.log's hash in the uninstall entry, as the setup records the log it wrote.
inline void RecordLogHash(const std::string& hex) {
    std::wstring text(hex.begin(), hex.end());
    HKEY k;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyW, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &k)) return;
    RegSetValueExW(k, L"InstallLogSHA256", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
}

// The lines of a text file split at CR LF (the last line ends with one too).
inline std::vector<std::string> FileLines(const std::wstring& path) {
    std::string text = Bytes(path);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i; (i = text.find("\r\n", start)) != std::string::npos; start = i + 2)
        lines.push_back(text.substr(start, i - start));
    if (start < text.size()) lines.push_back(text.substr(start) + "<no CR LF>");
    return lines;
}
