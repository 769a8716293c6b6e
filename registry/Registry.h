// A small registry class: one open key at a time under a chosen root. It never
// throws; failures show only as the answers stated per operation.
#pragma once
#include <cstdint>
#include <string>
#include "WinHandles.h"
#include <windows.h>

class TRegistry {
public:
    TRegistry(); // no key open, root HKEY_CURRENT_USER
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    void CloseCurrentKey();
    void ChangeRoot(HKEY root);
    // Opens the key, creating it and its missing parents. A path beginning with "\"
    // is taken from the root, any other from the open key (or the root).
    // ERROR_SUCCESS, or the system's error.
    long OpenOrCreateKey(const std::string& path);
    // Opens the key for reading only if it exists; nothing is created. False
    // (and no key open) when it cannot be opened.
    bool OpenExistingKey(const std::string& path);
    // Tests without creating and without changing the open key.
    bool KeyPresent(const std::string& path) const;

    std::int32_t ValueByteSize(const std::string& name) const; // -1 when missing
    bool ValuePresent(const std::string& name) const { return ValueByteSize(name) != -1; }
    // The writes answer ERROR_SUCCESS, or the system's error (ERROR_INVALID_HANDLE
    // when no key is open).
    long PutText8(const std::string& name, const std::string& text);
    long PutText(const std::string& name, const std::wstring& text);
    std::wstring GetText(const std::string& name) const;
    long PutNumber(const std::string& name, std::int32_t value);
    std::int32_t GetNumber(const std::string& name) const; // 0 when missing or not 4 bytes
    long PutFlag(const std::string& name, bool value) { return PutNumber(name, value ? 1 : 0); }
    bool GetFlag(const std::string& name) const { return GetNumber(name) != 0; }

    HKEY OpenKeyHandle() const { return openKey_.get(); }
    HKEY RootKeyHandle() const { return rootKey_; }
    const std::string& OpenKeyPath() const { return openPath_; }

private:
    HKEY BaseFor(const std::string& path, std::string& relative) const;
    long Open(const std::string& path, bool create);

    UniqueHKey openKey_;
    HKEY rootKey_ = nullptr;
    std::string openPath_;
};
