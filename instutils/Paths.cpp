#include "Paths.h"
#include "Locale.h"
#include "TextConv.h"

void PathWithSlash(std::wstring& path) {
    if (path.empty()) return;
    if (path.back() == L'/' || path.back() == L'\\')
        path.back() = L'\\';
    else
        path.push_back(L'\\');
}

std::wstring PathWithoutSlash(const std::wstring& path) {
    if (!path.empty() && path.back() == L'\\') return path.substr(0, path.size() - 1);
    return path;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    return LocaleUpper(a) == LocaleUpper(b);
}

bool StartsWithPath(const std::wstring& path, const std::wstring& folder) {
    return SamePath(path.substr(0, folder.size()), folder);
}

bool IsInFolder(const std::wstring& path, const std::wstring& folder) {
    std::wstring root = PathWithoutSlash(folder);
    if (root.empty() || path.size() < root.size() || !SamePath(path.substr(0, root.size()), root))
        return false;
    return path.size() == root.size() || path[root.size()] == L'\\' || root.back() == L':';
}

static std::size_t LastSeparator(const std::wstring& path) {
    return path.find_last_of(L"\\:");
}

std::wstring FolderPartOf(const std::wstring& path) {
    std::size_t i = LastSeparator(path);
    return i == std::wstring::npos ? std::wstring() : path.substr(0, i + 1);
}

std::wstring NamePartOf(const std::wstring& path) {
    std::size_t i = LastSeparator(path);
    return i == std::wstring::npos ? path : path.substr(i + 1);
}

std::wstring JoinPath(const std::wstring& folder, const std::string& nameUtf8) {
    std::wstring r(folder);
    PathWithSlash(r);
    return r + Utf8ToUtf16(nameUtf8);
}

std::size_t PathRootLength(const std::wstring& path) {
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\' &&
        ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')))
        return 3;
    if (path.size() < 5 || path[0] != L'\\' || path[1] != L'\\') return 0;
    std::size_t server = path.find(L'\\', 2);
    if (server == std::wstring::npos || server == 2) return 0;
    std::size_t share = path.find(L'\\', server + 1);
    if (share == server + 1) return 0;
    return share == std::wstring::npos ? path.size() : share + 1;
}

bool IsDeviceName(const std::wstring& part) {
    // CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension, open devices.
    // Windows also takes the superscripts 1, 2 and 3 of Latin-1 for port digits.
    std::wstring base;
    for (wchar_t c : part) {
        if (c == L'.') break;
        if (c == 0xB9) c = L'1';
        if (c == 0xB2 || c == 0xB3) c = static_cast<wchar_t>(L'2' + (c - 0xB2));
        base.push_back(c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 0x20) : c);
    }
    while (!base.empty() && base.back() == L' ') base.pop_back();
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
        base == L"CONOUT$")
        return true;
    return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

bool IsValidFolderPath(const std::wstring& path) {
    std::size_t root = PathRootLength(path);
    if (root == 0) return false;
    // "\\?\" and "\\.\" name the object manager's paths, not a share.
    if (path[0] == L'\\' && (path[2] == L'?' || path[2] == L'.') && (path.size() == 3 || path[3] == L'\\'))
        return false;
    std::size_t start = root;
    for (std::size_t i = root; i <= path.size(); ++i) {
        wchar_t c = i < path.size() ? path[i] : L'\\';
        if (c < 32 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'/' || c == L'|' ||
            c == L'?' || c == L'*')
            return false;
        if (c != L'\\') continue;
        if (IsDeviceName(path.substr(start, i - start))) return false;
        start = i + 1;
    }
    return true;
}
