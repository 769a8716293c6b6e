// The shipped programs' trimmed runtime (cmake/LeanRuntime.cmake) against the
// compiler's own: the same probe linked three ways must behave alike, apart from
// the two differences that were chosen.
#include <windows.h>
#include <gtest/gtest.h>
#include <string>

namespace {

struct Outcome {
    DWORD code = 0;
    std::string out, err;
};

std::wstring Temp() {
    wchar_t dir[MAX_PATH], file[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"lp", 0, file);
    return file;
}

std::string Slurp(const std::wstring& file) {
    std::string text;
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    char buf[4096];
    DWORD got = 0;
    if (h != INVALID_HANDLE_VALUE && ReadFile(h, buf, sizeof buf, &got, nullptr)) text.assign(buf, got);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    DeleteFileW(file.c_str());
    return text;
}

Outcome Probe(std::wstring exe, const std::wstring& mode) {
    for (auto& c : exe)
        if (c == L'/') c = L'\\';
    std::wstring outFile = Temp(), errFile = Temp();
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out = CreateFileW(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileW(errFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    si.hStdError = err;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring line = L"\"" + exe + L"\" " + mode;
    PROCESS_INFORMATION pi{};
    Outcome o;
    // No error dialog from abort(): the probe inherits this mode.
    UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        if (WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &o.code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    } else {
        ADD_FAILURE() << "cannot start the probe";
    }
    SetErrorMode(old);
    CloseHandle(out);
    CloseHandle(err);
    o.out = Slurp(outFile);
    // The probe's stdout is in text mode.
    std::erase(o.out, '\r');
    o.err = Slurp(errFile);
    return o;
}

const std::wstring kStd = PROBE_STD, kLean = PROBE_LEAN, kPlain = PROBE_PLAIN;

} // namespace

TEST(LeanRuntime, ExceptionsUnwindAndStaticsInitialise) {
    for (const auto& exe : {kStd, kLean, kPlain}) {
        auto o = Probe(exe, L"throw");
        EXPECT_EQ(o.code, 0u);
        EXPECT_EQ(o.out, "caught 42 unwound 6 static 40\n");
    }
}

TEST(LeanRuntime, LibraryErrorsKeepTheirText) {
    const std::string at = "basic_string::at: __n (which is 5) >= this->size() (which is 2)";
    const std::string create = "basic_string::_M_create";
    auto std = Probe(kStd, L"library");
    EXPECT_EQ(std.out, "out_of_range: " + at + "\nlength_error: " + create + "\n");
    EXPECT_EQ(Probe(kLean, L"library").out, std.out);
    // The chosen difference: only std::exception is there to catch them.
    EXPECT_EQ(Probe(kPlain, L"library").out, "exception: " + at + "\nexception: " + create + "\n");
}

TEST(LeanRuntime, TerminateStillAbortsWithoutTheMessage) {
    auto std = Probe(kStd, L"terminate");
    EXPECT_NE(std.code, 0u);
    EXPECT_NE(std.err.find("terminate called after throwing"), std::string::npos) << std.err;
    for (const auto& exe : {kLean, kPlain}) {
        auto o = Probe(exe, L"terminate");
        EXPECT_EQ(o.code, std.code);
        EXPECT_EQ(o.err.find("terminate called"), std::string::npos) << o.err;
    }
}
