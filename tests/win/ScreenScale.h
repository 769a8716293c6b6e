// The prefix's pixels per inch ("LogPixels" under HKCU\Control Panel\Desktop),
// read by each program as it starts. Set for the programs started meanwhile and
// put back as it was at the end, also when a test fails, since every program of
// the prefix reads it.
#pragma once
#include <windows.h>

class ScreenScale {
public:
    explicit ScreenScale(DWORD ppi) {
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                            &key_, nullptr) != ERROR_SUCCESS) {
            key_ = nullptr;
            return;
        }
        DWORD size = sizeof previous_, type = 0;
        had_ = RegQueryValueExW(key_, L"LogPixels", nullptr, &type, reinterpret_cast<BYTE*>(&previous_),
                                &size) == ERROR_SUCCESS &&
               type == REG_DWORD;
        set_ = RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&ppi),
                              sizeof ppi) == ERROR_SUCCESS;
    }
    ~ScreenScale() {
        Restore();
        if (key_) RegCloseKey(key_);
    }
    ScreenScale(const ScreenScale&) = delete;
    ScreenScale& operator=(const ScreenScale&) = delete;

    bool Set() const { return set_; }
    // Puts the value back at once: a program that has shown its window has read it.
    void Restore() {
        if (!set_) return;
        if (had_)
            RegSetValueExW(key_, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&previous_),
                           sizeof previous_);
        else
            RegDeleteValueW(key_, L"LogPixels");
        set_ = false;
    }

private:
    static constexpr const wchar_t* kKey = L"Control Panel\\Desktop";
    HKEY key_ = nullptr;
    DWORD previous_ = 0;
    bool had_ = false;
    bool set_ = false;
};
