#include "RunLog.h"
#include "Files.h"
#include "Paths.h"
#include "TextConv.h"
#include <windows.h>

namespace {
// Fixed-width decimal digits, by hand: a wide printf would grow the program.
void PutDigits(std::wstring& out, unsigned value, int width) {
    std::size_t at = out.size();
    out.append(static_cast<std::size_t>(width), L'0');
    for (int d = width - 1; d >= 0; --d, value /= 10) out[at + d] = static_cast<wchar_t>(L'0' + value % 10);
}
} // namespace

TRunLog::~TRunLog() {
    if (file_) CloseHandle(file_);
}

bool TRunLog::Open(const std::wstring& path) {
    if (file_ || path.empty()) return false;
    // Others may read it while the run goes on.
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    file_ = f;
    return true;
}

bool TRunLog::Append(const std::wstring& path) {
    if (file_ || path.empty()) return false;
    HANDLE f = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    file_ = f;
    return true;
}

void TRunLog::Close() {
    if (file_) CloseHandle(file_);
    file_ = nullptr;
}

std::wstring TRunLog::OpenAsked(const std::wstring& file, const std::wstring& program) {
    if (file_) return std::wstring();
    DWORD error = 0;
    if (!file.empty()) {
        MakeFolderChain(FolderPartOf(file), nullptr);
        if (Open(file)) return file;
        error = GetLastError();
    }
    wchar_t temp[MAX_PATH + 1] = {};
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) return std::wstring();
    SYSTEMTIME t;
    GetLocalTime(&t);
    std::wstring base = std::wstring(temp, n) + L"Norvanta-" + program + L"-";
    PutDigits(base, t.wYear, 4);
    PutDigits(base, t.wMonth, 2);
    PutDigits(base, t.wDay, 2);
    base += L"-";
    PutDigits(base, t.wHour, 2);
    PutDigits(base, t.wMinute, 2);
    PutDigits(base, t.wSecond, 2);
    // A run in the same second keeps the other's log: a new name, never a replaced file.
    std::wstring path;
    for (int i = 1; i <= 100 && !file_; ++i) {
        path = base + (i == 1 ? std::wstring() : L"-" + DecimalW(i)) + L".log";
        HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (f != INVALID_HANDLE_VALUE)
            file_ = f;
        else if (GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (!file_) return std::wstring();
    if (!file.empty())
        Failure(L"The run log " + file + L" could not be made, so it is written here instead", error);
    return path;
}

void TRunLog::Line(const std::wstring& text) {
    if (!file_) return;
    SYSTEMTIME t;
    GetLocalTime(&t);
    // "YYYY-MM-DD hh:mm:ss.mmm " by hand: a wide printf would grow the program.
    const unsigned fields[7] = {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
    const int widths[7] = {4, 2, 2, 2, 2, 2, 3};
    const wchar_t after[7] = {L'-', L'-', L' ', L':', L':', L'.', L' '};
    std::wstring line;
    for (int f = 0; f < 7; ++f) {
        PutDigits(line, fields[f], widths[f]);
        line += after[f];
    }
    line += text + L"\r\n";
    int n = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr,
                                nullptr);
    if (n <= 0) return;
    std::string bytes(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), bytes.data(), n, nullptr,
                        nullptr);
    DWORD written = 0;
    WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void TRunLog::Failure(const std::wstring& what, unsigned long code) {
    Line(what + L": " + ErrorText(code));
}

std::wstring ErrorText(unsigned long code) {
    return L"error " + DecimalW(code) + L": " + SystemErrorText(code);
}

std::wstring SystemErrorText(unsigned long code) {
    wchar_t buffer[512] = {};
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                             buffer, 512, nullptr);
    std::wstring text(buffer, n < 512 ? n : 511);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return text.empty() ? L"(the system has no text for it)" : text;
}
