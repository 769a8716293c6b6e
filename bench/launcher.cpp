// bench-launch: starts one program and measures it from the outside, printing one
// line. Everything is timed inside this one process, from just before
// CreateProcessW, so the start-up of the launcher itself (under Wine: of Wine)
// stays out of the figures while the start-up of the measured program stays in.
//
//   bench-launch run [--timeout MS] -- PROGRAM [ARGS...]
//     exit=N wall_ms=T peak_ws_kb=K peak_pagefile_kb=K mem=exit|sampled|none
//   bench-launch paint [--timeout MS] -- PROGRAM [ARGS...]
//     paint_ms=T idle_ms=T|none class=NAME windows=N closed=wm_close|answered|terminated exit=N
//     (windows: the visible windows inside the painted one at that moment)
//
// Exit code: 0 measured, 2 bad command line, 3 the program did not start,
// 4 time-out, 5 no painted window (the program exited first).
#include "LaunchArgs.h"
#include "WinHandles.h"
#include <windows.h>
#include <psapi.h>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kUsage = 2, kNoStart = 3, kTimeout = 4, kNoWindow = 5;
// The memory of a running child is sampled this often while waiting for it.
constexpr DWORD kSampleMs = 5;
// How long a closed wizard may take to go away before it is terminated.
constexpr DWORD kCloseMs = 10000;

class Clock {
public:
    Clock() {
        QueryPerformanceFrequency(&freq_);
        QueryPerformanceCounter(&start_);
    }
    double Ms() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return 1000.0 * static_cast<double>(now.QuadPart - start_.QuadPart) /
               static_cast<double>(freq_.QuadPart);
    }

private:
    LARGE_INTEGER freq_{}, start_{};
};

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n =
        WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

struct Child {
    UniqueHandle process, thread;
    DWORD pid = 0;
};

bool Start(const std::vector<std::wstring>& command, Child& child) {
    std::wstring line = BuildCommandLine(command);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(stderr, "bench-launch: cannot start %s (error %lu)\n", Utf8(line).c_str(),
                     GetLastError());
        return false;
    }
    child.process.reset(pi.hProcess);
    child.thread.reset(pi.hThread);
    child.pid = pi.dwProcessId;
    return true;
}

struct Memory {
    SIZE_T peakWorkingSet = 0, peakPagefile = 0;
    bool Take(HANDLE process) {
        PROCESS_MEMORY_COUNTERS pmc{};
        pmc.cb = sizeof pmc;
        if (!GetProcessMemoryInfo(process, &pmc, sizeof pmc) || pmc.PeakWorkingSetSize == 0) return false;
        if (pmc.PeakWorkingSetSize > peakWorkingSet) peakWorkingSet = pmc.PeakWorkingSetSize;
        if (pmc.PeakPagefileUsage > peakPagefile) peakPagefile = pmc.PeakPagefileUsage;
        return true;
    }
};

int Run(const LaunchRequest& req) {
    Clock clock;
    Child child;
    if (!Start(req.command, child)) return kNoStart;
    // Windows keeps the counters of an exited process; Wine reads them from the
    // live process only, so the peaks seen while it runs are the fallback.
    Memory sampled;
    double wall = 0;
    for (;;) {
        DWORD w = WaitForSingleObject(child.process.get(), kSampleMs);
        if (w == WAIT_OBJECT_0) {
            wall = clock.Ms();
            break;
        }
        if (clock.Ms() > req.timeoutMs) {
            TerminateProcess(child.process.get(), 1);
            std::printf("exit=timeout wall_ms=%.3f\n", clock.Ms());
            return kTimeout;
        }
        sampled.Take(child.process.get());
    }
    DWORD code = 0;
    GetExitCodeProcess(child.process.get(), &code);
    Memory atExit;
    const char* source = "exit";
    Memory& mem = atExit.Take(child.process.get()) ? atExit : sampled;
    if (&mem == &sampled) source = sampled.peakWorkingSet ? "sampled" : "none";
    std::printf("exit=%lu wall_ms=%.3f peak_ws_kb=%lu peak_pagefile_kb=%lu mem=%s\n", code, wall,
                static_cast<unsigned long>(mem.peakWorkingSet / 1024),
                static_cast<unsigned long>(mem.peakPagefile / 1024), source);
    return 0;
}

// "Painted": a visible, not minimised top-level window of the child with a
// non-empty client area and at least one visible child window (a wizard page,
// not the bare taskbar owner window), where neither it nor any visible window
// inside it has an update region left, i.e. every pending WM_PAINT was handled.
struct PaintSearch {
    DWORD pid;
    HWND exclude;
    HWND found = nullptr;
    bool wantDialog = false; // instead: any visible dialog box of the child
};

BOOL CALLBACK HasPendingPaint(HWND hwnd, LPARAM flag) {
    if (IsWindowVisible(hwnd) && GetUpdateRect(hwnd, nullptr, FALSE)) {
        *reinterpret_cast<bool*>(flag) = true;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CountVisible(HWND hwnd, LPARAM count) {
    if (IsWindowVisible(hwnd)) ++*reinterpret_cast<int*>(count);
    return TRUE;
}

bool IsPainted(HWND hwnd) {
    RECT rc{};
    if (!IsWindowVisible(hwnd) || IsIconic(hwnd) || !GetClientRect(hwnd, &rc) || rc.right <= 0 ||
        rc.bottom <= 0)
        return false;
    int children = 0;
    EnumChildWindows(hwnd, CountVisible, reinterpret_cast<LPARAM>(&children));
    if (children == 0) return false;
    if (GetUpdateRect(hwnd, nullptr, FALSE)) return false;
    bool pending = false;
    EnumChildWindows(hwnd, HasPendingPaint, reinterpret_cast<LPARAM>(&pending));
    return !pending;
}

// Visible windows inside hwnd, all levels.
int VisibleInside(HWND hwnd) {
    int n = 0;
    EnumChildWindows(hwnd, CountVisible, reinterpret_cast<LPARAM>(&n));
    return n;
}

std::string ClassOf(HWND hwnd) {
    wchar_t name[128] = {};
    GetClassNameW(hwnd, name, 128);
    return Utf8(name);
}

BOOL CALLBACK FindWindowOf(HWND hwnd, LPARAM data) {
    auto* s = reinterpret_cast<PaintSearch*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != s->pid || hwnd == s->exclude) return TRUE;
    if (s->wantDialog ? IsWindowVisible(hwnd) && ClassOf(hwnd) == "#32770" : IsPainted(hwnd)) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// A message box or question from the closing program: pressing Yes (or OK)
// lets it go on closing.
bool AnswerQuestion(DWORD pid, HWND main) {
    PaintSearch s{pid, main};
    s.wantDialog = true;
    EnumWindows(FindWindowOf, reinterpret_cast<LPARAM>(&s));
    if (!s.found) return false;
    for (int id : {IDYES, IDOK}) {
        if (HWND button = GetDlgItem(s.found, id)) {
            PostMessageW(s.found, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
            return true;
        }
    }
    return false;
}

int Paint(const LaunchRequest& req) {
    Clock clock;
    Child child;
    if (!Start(req.command, child)) return kNoStart;
    double idleMs = -1, paintMs = -1;
    PaintSearch s{child.pid, nullptr};
    while (clock.Ms() < req.timeoutMs) {
        // Until the program first waits for input, WaitForInputIdle is the pause
        // between looks; it fails at once while the program has no GUI thread yet.
        if (idleMs < 0) {
            DWORD r = WaitForInputIdle(child.process.get(), 2);
            if (r == 0)
                idleMs = clock.Ms();
            else if (r == WAIT_FAILED)
                Sleep(1);
        } else {
            Sleep(1);
        }
        EnumWindows(FindWindowOf, reinterpret_cast<LPARAM>(&s));
        if (s.found) {
            paintMs = clock.Ms();
            break;
        }
        if (WaitForSingleObject(child.process.get(), 0) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(child.process.get(), &code);
            std::printf("paint_ms=none exit=%lu\n", code);
            return kNoWindow;
        }
    }
    if (!s.found) {
        TerminateProcess(child.process.get(), 1);
        std::printf("paint_ms=timeout\n");
        return kTimeout;
    }
    std::string cls = ClassOf(s.found);
    int inside = VisibleInside(s.found);
    const char* closed = "wm_close";
    PostMessageW(s.found, WM_CLOSE, 0, 0);
    Clock closing;
    while (WaitForSingleObject(child.process.get(), 10) == WAIT_TIMEOUT) {
        if (closing.Ms() > kCloseMs) {
            TerminateProcess(child.process.get(), 1);
            WaitForSingleObject(child.process.get(), INFINITE);
            closed = "terminated";
            break;
        }
        if (AnswerQuestion(child.pid, s.found)) closed = "answered";
    }
    DWORD code = 0;
    GetExitCodeProcess(child.process.get(), &code);
    char idle[32] = "none";
    if (idleMs >= 0) std::snprintf(idle, sizeof idle, "%.3f", idleMs);
    std::printf("paint_ms=%.3f idle_ms=%s class=%s windows=%d closed=%s exit=%lu\n", paintMs, idle,
                cls.c_str(), inside, closed, code);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    LaunchRequest req;
    std::wstring error;
    if (!ParseLaunchArgs(args, req, error)) {
        std::fprintf(stderr,
                     "bench-launch: %s\nusage: bench-launch run|paint [--timeout MS] -- PROGRAM [ARGS...]\n",
                     Utf8(error).c_str());
        return kUsage;
    }
    int rc = req.mode == LaunchMode::Run ? Run(req) : Paint(req);
    std::fflush(stdout);
    return rc;
}
