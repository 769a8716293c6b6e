#include "StringList.h"
#include "Locale.h"
#include "LogStream.h"
#include "TextConv.h"
#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

namespace {
// The line in UTF-16 when the conversion keeps all of it (it stops at a NUL and
// drops what is not UTF-8 of the basic plane); false otherwise.
bool AsText(const std::string& line, std::wstring& wide) {
    wide = Utf8ToUtf16(line);
    return Utf16ToUtf8(wide) == line;
}
} // namespace

bool SameText8(const std::string& a, const std::string& b) {
    if (a == b) return true;
    std::wstring wa, wb;
    return AsText(a, wa) && AsText(b, wb) && LocaleSameText(wa, wb);
}

std::size_t CaseKeyHash(const std::string& line) {
    std::wstring wide;
    if (!AsText(line, wide)) return std::hash<std::string_view>()(line);
    return std::hash<std::wstring_view>()(LocaleUpper(wide)) ^ 0x5bd1e995u;
}

int CompareText8(const std::string& a, const std::string& b) {
    return LocaleCompareText(Utf8ToUtf16(a), Utf8ToUtf16(b));
}

int TStringList::IndexOf(const std::string& line) const {
    for (std::size_t i = 0; i < Lines.size(); ++i) {
        if (SameText8(Lines[i], line)) return static_cast<int>(i);
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
    TMemorySource source(bytes, length);
    TLineReader reader(source, SIZE_MAX);
    while (reader.Next()) Lines.push_back(reader.Head());
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
