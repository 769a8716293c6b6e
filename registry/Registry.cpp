#include "Registry.h"
#include "TextConv.h"
#include <algorithm>
#include <vector>

// Names and texts are UTF-8 inside the program and UTF-16 for the system: the
// wide calls store a non-ASCII text as it is, and report sizes in the units
// the buffers are made of.
TRegistry::TRegistry() {
    ChangeRoot(HKEY_CURRENT_USER);
}

TRegistry::~TRegistry() {
    CloseCurrentKey();
}

void TRegistry::CloseCurrentKey() {
    openKey_.reset();
    openPath_.clear();
}

void TRegistry::ChangeRoot(HKEY root) {
    if (root == rootKey_) return;
    rootKey_ = root;
    CloseCurrentKey();
}

// The 32-bit view, asked for explicitly as the uninstaller does: a 32-bit program gets
// it anyway, and a 64-bit build then writes the very keys the uninstaller removes.
constexpr REGSAM kView = KEY_WOW64_32KEY;

HKEY TRegistry::BaseFor(const std::string& path, std::string& relative) const {
    bool isRelative = path.empty() || path[0] != '\\';
    relative = isRelative ? path : path.substr(1);
    return isRelative && openKey_.get() ? openKey_.get() : rootKey_;
}

long TRegistry::Open(const std::string& path, bool create) {
    std::string sub;
    HKEY base = BaseFor(path, sub);
    bool below = base == openKey_.get() && openKey_.get() != nullptr;
    std::wstring wsub = Utf8ToUtf16(sub);
    UniqueHKey key;
    LSTATUS r = create ? RegCreateKeyExW(base, wsub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         KEY_ALL_ACCESS | kView, nullptr, key.put(), nullptr)
                       : RegOpenKeyExW(base, wsub.c_str(), 0, KEY_READ | kView, key.put());
    if (r != ERROR_SUCCESS) key.reset();
    std::string recorded = below ? openPath_ + "\\" + sub : sub;
    openKey_ = std::move(key);
    openPath_ = openKey_.get() ? recorded : std::string();
    return r;
}

long TRegistry::OpenOrCreateKey(const std::string& path) {
    return Open(path, true);
}

bool TRegistry::OpenExistingKey(const std::string& path) {
    Open(path, false);
    return openKey_.get() != nullptr;
}

bool TRegistry::KeyPresent(const std::string& path) const {
    std::string sub;
    HKEY base = BaseFor(path, sub);
    UniqueHKey key;
    return RegOpenKeyExW(base, Utf8ToUtf16(sub).c_str(), 0, KEY_ALL_ACCESS | kView, key.put()) ==
           ERROR_SUCCESS;
}

std::int32_t TRegistry::ValueByteSize(const std::string& name) const {
    DWORD size = 0;
    if (!openKey_.get() || RegQueryValueExW(openKey_.get(), Utf8ToUtf16(name).c_str(), nullptr, nullptr,
                                            nullptr, &size) != ERROR_SUCCESS)
        return -1;
    return size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<std::int32_t>(size);
}

long TRegistry::PutText8(const std::string& name, const std::string& text) {
    return PutText(name, Utf8ToUtf16(text));
}

long TRegistry::PutText(const std::string& name, const std::wstring& text) {
    if (!openKey_.get()) return ERROR_INVALID_HANDLE;
    return RegSetValueExW(openKey_.get(), Utf8ToUtf16(name).c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::wstring TRegistry::GetText(const std::string& name) const {
    std::int32_t n = ValueByteSize(name);
    if (n <= 0 || n > 0x3FFFFFFF) return std::wstring();
    // The data need not end with a NUL: only the bytes actually returned are
    // looked at, and an odd last byte is no character.
    std::vector<wchar_t> buffer((static_cast<std::size_t>(n) + 1) / sizeof(wchar_t));
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), type = 0;
    if (RegQueryValueExW(openKey_.get(), Utf8ToUtf16(name).c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS)
        return std::wstring();
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::wstring();
    std::size_t units = std::min<std::size_t>(size / sizeof(wchar_t), buffer.size());
    std::size_t end = 0;
    while (end < units && buffer[end] != L'\0') ++end;
    return std::wstring(buffer.data(), end);
}

long TRegistry::PutNumber(const std::string& name, std::int32_t value) {
    if (!openKey_.get()) return ERROR_INVALID_HANDLE;
    DWORD data = static_cast<DWORD>(value);
    return RegSetValueExW(openKey_.get(), Utf8ToUtf16(name).c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&data), sizeof data);
}

std::int32_t TRegistry::GetNumber(const std::string& name) const {
    DWORD data = 0, size = sizeof data;
    if (!openKey_.get() ||
        RegQueryValueExW(openKey_.get(), Utf8ToUtf16(name).c_str(), nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        size != sizeof data)
        return 0;
    return static_cast<std::int32_t>(data);
}
