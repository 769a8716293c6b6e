// Host substitute for the user's locale: ASCII and Latin-1 letters only.
#include "Locale.h"

static wchar_t UpperUnit(wchar_t c) {
    if (c >= L'a' && c <= L'z') return static_cast<wchar_t>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<wchar_t>(c - 0x20);
    if (c == 0xFF) return static_cast<wchar_t>(0x178);
    return c;
}

std::wstring LocaleUpper(const std::wstring& s) {
    std::wstring r(s);
    for (auto& c : r) c = UpperUnit(c);
    return r;
}

void LocaleUpperInPlace(wchar_t* units, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) units[i] = UpperUnit(units[i]);
}

int LocaleCompareText(const std::wstring& a, const std::wstring& b) {
    std::wstring ua = LocaleUpper(a), ub = LocaleUpper(b);
    return ua.compare(ub) < 0 ? -1 : (ua == ub ? 0 : 1);
}

bool LocaleSortKey(const std::wstring& s, std::string& key) {
    key.clear();
    for (wchar_t c : LocaleUpper(s)) // big-endian units: bytes in the order of the units
        for (int shift = 24; shift >= 0; shift -= 8) key.push_back(static_cast<char>((c >> shift) & 0xFF));
    return true;
}
