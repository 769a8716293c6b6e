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

bool IsValidFolderPath(const std::wstring& path) {
    std::size_t root = PathRootLength(path);
    if (root == 0) return false;
    for (std::size_t i = root; i < path.size(); ++i) {
        wchar_t c = path[i];
        if (c < 32 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'/' || c == L'|' ||
            c == L'?' || c == L'*')
            return false;
    }
    return true;
}
