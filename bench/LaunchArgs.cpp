#include "LaunchArgs.h"

namespace {

bool ParseMs(const std::wstring& text, unsigned& out) {
    if (text.empty() || text.size() > 9) return false;
    unsigned v = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        v = v * 10 + static_cast<unsigned>(c - L'0');
    }
    if (v == 0) return false;
    out = v;
    return true;
}

} // namespace

bool ParseLaunchArgs(const std::vector<std::wstring>& args, LaunchRequest& out, std::wstring& error) {
    out = LaunchRequest{};
    if (args.empty()) {
        error = L"missing mode (run or paint)";
        return false;
    }
    if (args[0] == L"run") {
        out.mode = LaunchMode::Run;
    } else if (args[0] == L"paint") {
        out.mode = LaunchMode::Paint;
    } else {
        error = L"unknown mode: " + args[0];
        return false;
    }
    size_t i = 1;
    for (; i < args.size() && args[i] != L"--"; ++i) {
        if (args[i] == L"--timeout") {
            if (i + 1 >= args.size() || !ParseMs(args[i + 1], out.timeoutMs)) {
                error = L"--timeout wants a positive number of milliseconds";
                return false;
            }
            ++i;
        } else {
            error = L"unknown option: " + args[i];
            return false;
        }
    }
    if (i >= args.size()) {
        error = L"missing -- before the program";
        return false;
    }
    out.command.assign(args.begin() + static_cast<long>(i) + 1, args.end());
    if (out.command.empty() || out.command[0].empty()) {
        error = L"missing program";
        return false;
    }
    if (out.timeoutMs == 0)
        out.timeoutMs = out.mode == LaunchMode::Run ? kDefaultRunTimeoutMs : kDefaultPaintTimeoutMs;
    return true;
}

std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring q = L"\"";
    size_t slashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        // Backslashes count only when a quote follows them.
        q.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        q += c;
    }
    // The closing quote follows too.
    q.append(slashes * 2, L'\\');
    q += L'"';
    return q;
}

std::wstring BuildCommandLine(const std::vector<std::wstring>& command) {
    std::wstring line;
    for (const auto& arg : command) {
        if (!line.empty()) line += L' ';
        line += QuoteArgument(arg);
    }
    return line;
}
