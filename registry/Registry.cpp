#include "Registry.h"
#include "TextConv.h"
#include <vector>

TRegistry::TRegistry() {
    ChangeRoot(HKEY_CURRENT_USER);
}

TRegistry::~TRegistry() {
    CloseCurrentKey();
}

void TRegistry::CloseCurrentKey() {
    if (!openKey_) return;
    RegCloseKey(openKey_);
    openKey_ = nullptr;
    openPath_.clear();
}

void TRegistry::ChangeRoot(HKEY root) {
    if (root == rootKey_) return;
    rootKey_ = root;
    CloseCurrentKey();
}

HKEY TRegistry::BaseFor(const std::string& path, std::string& relative) const {
    bool isRelative = path.empty() || path[0] != '\\';
    relative = isRelative ? path : path.substr(1);
    return isRelative && openKey_ ? openKey_ : rootKey_;
}

void TRegistry::OpenOrCreateKey(const std::string& path) {
    std::string sub;
    HKEY base = BaseFor(path, sub);
    bool below = base == openKey_ && openKey_ != nullptr;
    HKEY key = nullptr;
    if (RegCreateKeyExA(base, sub.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        key = nullptr;
    std::string recorded = below ? openPath_ + "\\" + sub : sub;
    CloseCurrentKey();
    openKey_ = key;
    openPath_ = key ? recorded : std::string();
}

bool TRegistry::KeyPresent(const std::string& path) const {
    std::string sub;
    HKEY base = BaseFor(path, sub);
    HKEY key = nullptr;
    if (RegOpenKeyExA(base, sub.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::int32_t TRegistry::ValueByteSize(const std::string& name) const {
    DWORD size = 0;
    if (!openKey_ ||
        RegQueryValueExA(openKey_, name.c_str(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS)
        return -1;
    return size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<std::int32_t>(size);
}

void TRegistry::PutText8(const std::string& name, const std::string& text) {
    if (!openKey_) return;
    RegSetValueExA(openKey_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
}

void TRegistry::PutText(const std::string& name, const std::wstring& text) {
    if (!openKey_) return;
    std::wstring wname = Utf8ToUtf16(name);
    RegSetValueExW(openKey_, wname.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::wstring TRegistry::GetText(const std::string& name) const {
    std::int32_t n = ValueByteSize(name);
    if (n <= 0 || n > 0x3FFFFFFF) return std::wstring();
    // Room for twice the reported bytes; the data need not end with a NUL, so
    // only the bytes actually returned are looked at.
    std::vector<wchar_t> buffer(static_cast<std::size_t>(n));
    DWORD size = static_cast<DWORD>(n) * 2, type = 0;
    std::wstring wname = Utf8ToUtf16(name);
    if (RegQueryValueExW(openKey_, wname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS)
        return std::wstring();
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::wstring();
    std::size_t units = std::min<std::size_t>(size / sizeof(wchar_t), buffer.size());
    std::size_t end = 0;
    while (end < units && buffer[end] != L'\0') ++end;
    return std::wstring(buffer.data(), end);
}

void TRegistry::PutNumber(const std::string& name, std::int32_t value) {
    if (!openKey_) return;
    DWORD data = static_cast<DWORD>(value);
    RegSetValueExA(openKey_, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
}

std::int32_t TRegistry::GetNumber(const std::string& name) const {
    DWORD data = 0, size = sizeof data;
    if (!openKey_ ||
        RegQueryValueExA(openKey_, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        size != sizeof data)
        return 0;
    return static_cast<std::int32_t>(data);
}
