#include "CommandLine.h"

std::vector<std::wstring> SplitCommandLine(const std::wstring& line) {
    std::vector<std::wstring> args;
    std::size_t i = 0, n = line.size();
    for (;;) {
        // Separators, and empty quote pairs where an argument would begin.
        for (;;) {
            while (i < n && line[i] >= 1 && line[i] <= 32) ++i;
            if (i + 1 < n && line[i] == L'"' && line[i + 1] == L'"') {
                i += 2;
                continue;
            }
            break;
        }
        if (i >= n || line[i] == 0) break;
        std::wstring arg;
        while (i < n && line[i] != 0 && !(line[i] >= 1 && line[i] <= 32)) {
            if (line[i] == L'"') {
                ++i;
                while (i < n && line[i] != 0 && line[i] != L'"') arg.push_back(line[i++]);
                if (i < n && line[i] == L'"') ++i;
            } else {
                arg.push_back(line[i++]);
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

bool IsSilentSwitch(const std::wstring& arg) {
    return arg.size() >= 2 && (arg[0] == L'-' || arg[0] == L'/') && (arg[1] == L'S' || arg[1] == L's');
}

bool FindSilentSwitch(const std::vector<std::wstring>& args) {
    for (std::size_t i = args.size(); i-- > 1;)
        if (IsSilentSwitch(args[i])) return true;
    return false;
}

bool FindDestinationSwitch(const std::vector<std::wstring>& args, std::wstring& destination, UpperFn upper) {
    bool found = false;
    for (std::size_t i = args.size(); i-- > 1;) {
        const std::wstring& a = args[i];
        if (a.size() >= 2 && (a[0] == L'-' || a[0] == L'/') && upper(a[1]) == L'D') {
            destination = a.substr(2);
            found = true;
        }
    }
    return found;
}

bool FindLogSwitch(const std::vector<std::wstring>& args, std::wstring& file) {
    auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; };
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        if (a.size() >= 5 && (a[0] == L'-' || a[0] == L'/') && upper(a[1]) == L'L' && upper(a[2]) == L'O' &&
            upper(a[3]) == L'G' && a[4] == L'=') {
            file = a.substr(5);
            return true;
        }
    }
    return false;
}
