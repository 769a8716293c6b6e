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

bool IsUnderFolder(const std::wstring& path, const std::wstring& folder) {
    return SamePath(path.substr(0, folder.size()), folder);
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

std::wstring DrivePartOf(const std::wstring& path) {
    if (path.size() >= 2 && path[1] == L':') return path.substr(0, 2);
    if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\') {
        // \\server\share: up to the backslash that follows the share name
        std::size_t server = path.find(L'\\', 2);
        if (server == std::wstring::npos) return path;
        std::size_t share = path.find(L'\\', server + 1);
        return share == std::wstring::npos ? path : path.substr(0, share);
    }
    return std::wstring();
}

std::wstring JoinPath(const std::wstring& folder, const std::string& nameUtf8) {
    std::wstring r(folder);
    PathWithSlash(r);
    return r + Utf8ToUtf16(nameUtf8);
}
