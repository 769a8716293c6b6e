// The launcher's command line: what to measure and the program to start, and the
// command line handed to CreateProcessW for that program.
#pragma once
#include <string>
#include <vector>

enum class LaunchMode {
    Run,   // wait for the exit: exit code, wall time, peak memory
    Paint, // time to the first painted window, then close it
};

struct LaunchRequest {
    LaunchMode mode = LaunchMode::Run;
    unsigned timeoutMs = 0;            // 0: the mode's default
    std::vector<std::wstring> command; // the program, then its arguments
};

constexpr unsigned kDefaultRunTimeoutMs = 120000;
constexpr unsigned kDefaultPaintTimeoutMs = 30000;

// bench-launch run|paint [--timeout MS] -- PROGRAM [ARGS...]
// args excludes the launcher's own name. Gives false and a message on a bad line.
bool ParseLaunchArgs(const std::vector<std::wstring>& args, LaunchRequest& out, std::wstring& error);

// One argument quoted so that the usual C runtime splitting gives it back
// unchanged (quotes only when needed; backslashes doubled only before a quote).
std::wstring QuoteArgument(const std::wstring& arg);

// The whole command line: every argument quoted as above, blank-separated.
std::wstring BuildCommandLine(const std::vector<std::wstring>& command);
