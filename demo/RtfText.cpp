#include "RtfText.h"
#include <cctype>
#include <cstdlib>
#include <vector>

namespace {
// Windows-1252 bytes 0x80..0x9F; the rest of the code page is Latin-1.
const wchar_t kCp1252High[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

wchar_t FromCp1252(unsigned char b) {
    return b >= 0x80 && b <= 0x9F ? kCp1252High[b - 0x80] : static_cast<wchar_t>(b);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Groups whose text is not part of the document.
bool IsHiddenDestination(const std::string& word) {
    static const char* const hidden[] = {
        "fonttbl", "colortbl",  "stylesheet", "info",         "pict",     "header",    "footer",
        "headerl", "headerr",   "footerl",    "footerr",      "object",   "listtable", "listoverridetable",
        "rsidtbl", "generator", "themedata",  "latentstyles", "xmlnstbl", "datastore", "fldinst"};
    for (const char* h : hidden)
        if (word == h) return true;
    return false;
}

struct Group {
    bool hidden = false;
    int unicodeSkip = 1; // characters that stand in for a \u character
};
} // namespace

std::wstring RtfToText(const std::string& rtf) {
    std::wstring out;
    std::vector<Group> groups(1);
    int pendingSkip = 0; // fallback characters still to drop after \u
    bool groupStart = false;
    std::size_t i = 0, n = rtf.size();
    auto emit = [&](wchar_t c) {
        if (pendingSkip > 0) {
            --pendingSkip;
            return;
        }
        if (!groups.back().hidden) out.push_back(c);
    };
    while (i < n) {
        char c = rtf[i];
        if (c == '{') {
            groups.push_back(groups.back());
            groupStart = true;
            ++i;
            continue;
        }
        if (c == '}') {
            if (groups.size() > 1) groups.pop_back();
            pendingSkip = 0;
            groupStart = false;
            ++i;
            continue;
        }
        bool atGroupStart = groupStart;
        groupStart = false;
        if (c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        if (c != '\\') {
            emit(static_cast<wchar_t>(static_cast<unsigned char>(c)));
            ++i;
            continue;
        }
        if (++i >= n) break;
        c = rtf[i];
        if (!std::isalpha(static_cast<unsigned char>(c))) {
            ++i;
            switch (c) {
            case '\\':
            case '{':
            case '}':
                emit(static_cast<wchar_t>(c));
                break;
            case '~':
                emit(0x00A0);
                break;
            case '_':
                emit(L'-');
                break;
            case '*': // an optional destination nobody here knows
                if (atGroupStart) groups.back().hidden = true;
                break;
            case '\'':
                if (i + 1 < n && HexDigit(rtf[i]) >= 0 && HexDigit(rtf[i + 1]) >= 0) {
                    emit(
                        FromCp1252(static_cast<unsigned char>(HexDigit(rtf[i]) * 16 + HexDigit(rtf[i + 1]))));
                    i += 2;
                }
                break;
            case '\r':
            case '\n':
                emit(L'\r');
                emit(L'\n');
                break;
            default:
                break;
            }
            continue;
        }
        std::string word;
        while (i < n && std::isalpha(static_cast<unsigned char>(rtf[i]))) word.push_back(rtf[i++]);
        bool hasParam = false;
        long param = 0;
        std::size_t numStart = i;
        if (i < n && (rtf[i] == '-' || std::isdigit(static_cast<unsigned char>(rtf[i])))) {
            ++i;
            while (i < n && i - numStart < 10 && std::isdigit(static_cast<unsigned char>(rtf[i]))) ++i;
            param = std::strtol(rtf.substr(numStart, i - numStart).c_str(), nullptr, 10);
            hasParam = true;
        }
        if (i < n && rtf[i] == ' ') ++i;
        if (IsHiddenDestination(word)) {
            groups.back().hidden = true;
        } else if (word == "par" || word == "line" || word == "sect" || word == "page") {
            emit(L'\r');
            emit(L'\n');
        } else if (word == "tab" || word == "cell") {
            emit(L'\t');
        } else if (word == "row") {
            emit(L'\r');
            emit(L'\n');
        } else if (word == "uc" && hasParam) {
            groups.back().unicodeSkip = param < 0 ? 0 : static_cast<int>(param);
        } else if (word == "u" && hasParam) {
            pendingSkip = 0;
            emit(static_cast<wchar_t>(param < 0 ? param + 65536 : param & 0xFFFF));
            pendingSkip = groups.back().unicodeSkip;
        } else if (word == "emdash") {
            emit(0x2014);
        } else if (word == "endash") {
            emit(0x2013);
        } else if (word == "lquote") {
            emit(0x2018);
        } else if (word == "rquote") {
            emit(0x2019);
        } else if (word == "ldblquote") {
            emit(0x201C);
        } else if (word == "rdblquote") {
            emit(0x201D);
        } else if (word == "bullet") {
            emit(0x2022);
        }
    }
    return out;
}
