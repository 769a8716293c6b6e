#include "CommandLine.h"

namespace {
wchar_t AsciiUpper(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c;
}

bool IsSwitch(const std::wstring& arg) {
    return arg.size() >= 2 && (arg[0] == L'-' || arg[0] == L'/');
}

// The length of "/D=" or "/DIR=" at the start, 0 for any other argument.
std::size_t EqualsFormLength(const std::wstring& a, UpperFn upper) {
    if (a.size() >= 3 && a[2] == L'=') return 3;
    if (a.size() >= 5 && upper(a[2]) == L'I' && upper(a[3]) == L'R' && a[4] == L'=') return 5;
    return 0;
}
} // namespace

std::vector<std::wstring> SplitCommandLine(const std::wstring& line,
                                           std::vector<std::pair<std::size_t, std::size_t>>* spans) {
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
        std::size_t begin = i;
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
        if (spans) spans->emplace_back(begin, i);
    }
    return args;
}

bool IsSilentSwitch(const std::wstring& arg) {
    return arg.size() >= 2 && (arg[0] == L'-' || arg[0] == L'/') && (arg[1] == L'S' || arg[1] == L's');
}

bool IsSwitchWord(const std::wstring& arg, const wchar_t* word) {
    if (!IsSwitch(arg)) return false;
    std::size_t i = 1;
    for (; word[i - 1] != 0; ++i)
        if (i >= arg.size() || AsciiUpper(arg[i]) != AsciiUpper(word[i - 1])) return false;
    return i == arg.size();
}

bool FindSwitchWord(const std::vector<std::wstring>& args, const wchar_t* word) {
    for (std::size_t i = 1; i < args.size(); ++i)
        if (IsSwitchWord(args[i], word)) return true;
    return false;
}

bool FindSwitchValue(const std::vector<std::wstring>& args, const wchar_t* word, std::wstring& value) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::size_t equals = args[i].find(L'=');
        if (equals != std::wstring::npos && IsSwitchWord(args[i].substr(0, equals), word)) {
            value = args[i].substr(equals + 1);
            return true;
        }
    }
    return false;
}

bool FindSilentSwitch(const std::vector<std::wstring>& args) {
    for (std::size_t i = args.size(); i-- > 1;)
        if (IsSilentSwitch(args[i])) return true;
    return FindSwitchWord(args, L"VERYSILENT") || FindSwitchWord(args, L"QUIET");
}

bool FindHelpSwitch(const std::vector<std::wstring>& args) {
    return FindSwitchWord(args, L"?") || FindSwitchWord(args, L"HELP");
}

int FindShortcutScope(const std::vector<std::wstring>& args) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (IsSwitchWord(args[i], L"ALLUSERS")) return 1;
        if (IsSwitchWord(args[i], L"CURRENTUSER")) return 0;
    }
    return -1;
}

bool FindDestinationSwitch(const std::vector<std::wstring>& args, std::wstring& destination, UpperFn upper,
                           const std::wstring* line) {
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    // The spans only count when they are those of these very arguments.
    if (line && SplitCommandLine(*line, &spans) != args) spans.clear();
    bool found = false;
    for (std::size_t i = args.size(); i-- > 1;) {
        const std::wstring& a = args[i];
        if (a.size() < 2 || (a[0] != L'-' && a[0] != L'/') || upper(a[1]) != L'D') continue;
        std::size_t skip = EqualsFormLength(a, upper);
        destination = a.substr(skip ? skip : 2);
        found = true;
        if (!skip || spans.empty()) continue;
        std::size_t last = i;
        while (last + 1 < args.size() && !IsSwitch(args[last + 1])) ++last;
        std::size_t begin = spans[i].first + skip, end = spans[last].second;
        std::wstring raw = line->substr(begin, end - begin);
        if (last > i && raw.find(L'"') == std::wstring::npos && spans[i].second - spans[i].first == a.size())
            destination = raw;
    }
    return found;
}

bool FindLogSwitch(const std::vector<std::wstring>& args, std::wstring& file) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        if (IsSwitchWord(a, L"LOG")) {
            file.clear();
            return true;
        }
        if (a.size() >= 5 && (a[0] == L'-' || a[0] == L'/') && AsciiUpper(a[1]) == L'L' &&
            AsciiUpper(a[2]) == L'O' && AsciiUpper(a[3]) == L'G' && a[4] == L'=') {
            file = a.substr(5);
            return true;
        }
    }
    return false;
}
