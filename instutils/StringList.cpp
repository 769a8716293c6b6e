#include "StringList.h"
#include "Locale.h"
#include "TextConv.h"
#include <algorithm>
#include <cstring>

bool SameText8(const std::string& a, const std::string& b) {
    if (a == b) return true;
    return LocaleSameText(Utf8ToUtf16(a), Utf8ToUtf16(b));
}

int CompareText8(const std::string& a, const std::string& b) {
    return LocaleCompareText(Utf8ToUtf16(a), Utf8ToUtf16(b));
}

int TStringList::IndexOf(const std::string& line) const {
    std::wstring wide = Utf8ToUtf16(line);
    for (std::size_t i = 0; i < Lines.size(); ++i) {
        if (Lines[i] == line || LocaleSameText(Utf8ToUtf16(Lines[i]), wide)) return static_cast<int>(i);
    }
    return -1;
}

void TStringList::Sort() {
    std::vector<std::pair<std::wstring, std::string>> keyed;
    keyed.reserve(Lines.size());
    for (auto& l : Lines) keyed.emplace_back(Utf8ToUtf16(l), std::move(l));
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return LocaleCompareText(a.first, b.first) < 0; });
    Lines.clear();
    for (auto& k : keyed) Lines.push_back(std::move(k.second));
}

void TStringList::SetText(const char* bytes, std::size_t length) {
    Lines.clear();
    if (const void* nul = std::memchr(bytes, 0, length))
        length = static_cast<std::size_t>(static_cast<const char*>(nul) - bytes);
    std::size_t start = 0, i = 0;
    while (i < length) {
        char c = bytes[i];
        if (c == '\r' || c == '\n') {
            Lines.emplace_back(bytes + start, i - start);
            i += (c == '\r' && i + 1 < length && bytes[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < length) Lines.emplace_back(bytes + start, length - start);
}

std::string TStringList::Text() const {
    std::string out;
    std::size_t total = 0;
    for (const auto& l : Lines) total += l.size() + 2;
    out.reserve(total);
    for (const auto& l : Lines) {
        out += l;
        out += "\r\n";
    }
    return out;
}
