// bench-launch against the no-op program: what it prints and how it ends, for
// each mode. Timings are printed by the launcher but never judged here.
#include <windows.h>
#include <gtest/gtest.h>
#include <regex>
#include <string>

namespace {

std::wstring Windows(std::wstring path) {
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

const std::wstring kLauncher = Windows(BENCH_LAUNCH_EXE);
const std::wstring kNoop = Windows(NOOP_EXE);

struct Outcome {
    DWORD code = 0;
    std::string out;
};

// Runs the launcher with its output in a file (a pipe could be held open by
// Wine services that the launched programs start).
Outcome Launch(const std::wstring& args) {
    wchar_t dir[MAX_PATH], file[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"bl", 0, file);
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE h = CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = h;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring line = L"\"" + kLauncher + L"\" " + args;
    PROCESS_INFORMATION pi{};
    Outcome o;
    if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        if (WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &o.code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    } else {
        ADD_FAILURE() << "cannot start the launcher";
    }
    CloseHandle(h);
    h = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                    nullptr);
    char buf[4096];
    DWORD got = 0;
    if (h != INVALID_HANDLE_VALUE && ReadFile(h, buf, sizeof buf, &got, nullptr)) o.out.assign(buf, got);
    CloseHandle(h);
    DeleteFileW(file);
    return o;
}

std::wstring Noop(const std::wstring& args) {
    return L"-- \"" + kNoop + L"\" " + args;
}

long Field(const std::string& out, const std::string& name) {
    std::smatch m;
    if (!std::regex_search(out, m, std::regex(name + "=([0-9]+)"))) return -1;
    return std::stol(m[1]);
}

} // namespace

TEST(Launcher, RunPassesTheExitCodeAndMeasuresMemory) {
    auto o = Launch(L"run " + Noop(L"exit 7"));
    EXPECT_EQ(o.code, 0u);
    EXPECT_TRUE(std::regex_match(o.out, std::regex("exit=7 wall_ms=[0-9]+\\.[0-9]{3} peak_ws_kb=[0-9]+ "
                                                   "peak_pagefile_kb=[0-9]+ mem=(exit|sampled|none)\r?\n")))
        << o.out;

    // A program that lives a while is always seen running: its peaks are known.
    o = Launch(L"run " + Noop(L"sleep 300"));
    EXPECT_EQ(o.code, 0u);
    EXPECT_EQ(Field(o.out, "exit"), 0);
    EXPECT_GT(Field(o.out, "peak_ws_kb"), 0) << o.out;
    EXPECT_EQ(o.out.find("mem=none"), std::string::npos) << o.out;
}

TEST(Launcher, RunEndsAProgramThatOutlivesTheTimeout) {
    auto o = Launch(L"run --timeout 300 " + Noop(L"sleep 60000"));
    EXPECT_EQ(o.code, 4u);
    EXPECT_EQ(o.out.rfind("exit=timeout ", 0), 0u) << o.out;
}

TEST(Launcher, PaintFindsThePaintedWindowAndClosesIt) {
    auto o = Launch(L"paint " + Noop(L"window"));
    EXPECT_EQ(o.code, 0u) << o.out;
    EXPECT_TRUE(
        std::regex_search(o.out, std::regex("^paint_ms=[0-9]+\\.[0-9]{3} idle_ms=([0-9]+\\.[0-9]{3}|none) "
                                            "class=NoopWindow windows=1 closed=wm_close exit=0\r?\n$")))
        << o.out;
}

TEST(Launcher, PaintAnswersTheCloseQuestion) {
    auto o = Launch(L"paint " + Noop(L"ask"));
    EXPECT_EQ(o.code, 0u) << o.out;
    EXPECT_NE(o.out.find(" closed=answered exit=0"), std::string::npos) << o.out;
}

TEST(Launcher, PaintReportsAProgramWithoutWindow) {
    auto o = Launch(L"paint " + Noop(L"exit 3"));
    EXPECT_EQ(o.code, 5u);
    EXPECT_EQ(o.out.rfind("paint_ms=none exit=3", 0), 0u) << o.out;
}

TEST(Launcher, RefusesBadLinesAndMissingPrograms) {
    EXPECT_EQ(Launch(L"run " + kNoop).code, 2u);
    EXPECT_EQ(Launch(L"hop -- " + kNoop).code, 2u);
    EXPECT_EQ(Launch(L"run -- Z:\\no\\such\\program.exe").code, 3u);
}
