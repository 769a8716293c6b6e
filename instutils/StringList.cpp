#include "StringList.h"
#include "Locale.h"
#include "LogStream.h"
#include "TextConv.h"
#include <algorithm>
#include <cstring>
#include <cstdint>
#include <iterator>

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

namespace {
// FNV-1a, fed piece by piece.
struct THash {
    std::uint64_t value = 14695981039346656037ull;
    void Add(const void* bytes, std::size_t length) {
        const auto* p = static_cast<const unsigned char*>(bytes);
        for (std::size_t i = 0; i < length; ++i) value = (value ^ p[i]) * 1099511628211ull;
    }
};
} // namespace

std::size_t CaseKeyHash(const std::string& line) {
    // One pass without copies: decoded as Utf8ToUtf16 does, and upper-cased in
    // small batches; a sequence that would not convert back the same (as AsText
    // asks) makes the bytes the key.
    THash upper;
    wchar_t units[128];
    std::size_t n = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(line.data());
    const std::size_t length = line.size();
    auto continuation = [&](std::size_t at) { return at < length && (p[at] & 0xC0) == 0x80; };
    for (std::size_t i = 0; i < length;) {
        unsigned b = p[i], unit = 0;
        if (b != 0 && b < 0x80) {
            unit = b;
            i += 1;
        } else if ((b & 0xE0) == 0xC0 && continuation(i + 1)) {
            unit = ((b & 0x1F) << 6) | (p[i + 1] & 0x3F);
            i += 2;
            if (unit < 0x80) unit = 0;
        } else if ((b & 0xF0) == 0xE0 && continuation(i + 1) && continuation(i + 2)) {
            unit = ((b & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F);
            i += 3;
            if (unit < 0x800) unit = 0;
        }
        if (unit == 0) { // not plain text: equal to itself only
            THash bytes;
            bytes.Add(line.data(), length);
            return static_cast<std::size_t>(bytes.value);
        }
        units[n++] = static_cast<wchar_t>(unit);
        if (n == std::size(units) || i == length) {
            LocaleUpperInPlace(units, n);
            upper.Add(units, n * sizeof(wchar_t));
            n = 0;
        }
    }
    return static_cast<std::size_t>(upper.value ^ 0x5bd1e995u);
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
    // By sort keys: asking the locale for each comparison costs a tenth of a
    // second for a payload's thousand public files.
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(Lines.size());
    bool keys = true;
    for (auto& l : Lines) {
        std::string key;
        if (keys && !LocaleSortKey(Utf8ToUtf16(l), key)) keys = false;
        keyed.emplace_back(std::move(key), std::move(l));
    }
    if (keys) {
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    } else {
        std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
            return LocaleCompareText(Utf8ToUtf16(a.second), Utf8ToUtf16(b.second)) < 0;
        });
    }
    Lines.clear();
    for (auto& k : keyed) Lines.push_back(std::move(k.second));
}

void TStringList::SetText(const char* bytes, std::size_t length) {
    Lines.clear();
    TMemoryLogSource source(bytes, length);
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
