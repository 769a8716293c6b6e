// A scratch folder under the prefix's temp folder, removed with everything in it.
#pragma once
#include <windows.h>
#include <shellapi.h>
#include <string>

class TestDir {
public:
    TestDir() {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        static unsigned counter = 0;
        path_ = std::wstring(tmp) + L"nvt-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++counter);
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TestDir() { RemoveTree(path_); }
    TestDir(const TestDir&) = delete;
    TestDir& operator=(const TestDir&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

    static void RemoveTree(const std::wstring& path) {
        std::wstring from = path + L'\0';
        SHFILEOPSTRUCTW op{};
        op.wFunc = FO_DELETE;
        op.pFrom = from.c_str();
        op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
        SHFileOperationW(&op);
    }

private:
    std::wstring path_;
};
