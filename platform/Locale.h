// Locale-dependent case rules. The target asks Windows (the user's locale);
// the host build, used for native tests and tools, has a plain substitute.
#pragma once
#include <cstddef>
#include <string>

// Upper-cases by the user's locale rules, one UTF-16 unit at a time.
std::wstring LocaleUpper(const std::wstring& s);
void LocaleUpperInPlace(wchar_t* units, std::size_t count);

// Compares ignoring case in string-sort order: <0, 0 or >0.
int LocaleCompareText(const std::wstring& a, const std::wstring& b);

// A key whose byte order (as unsigned bytes) is LocaleCompareText's order:
// sorting by keys asks the locale once per string, not once per comparison.
// False when the locale gives none.
bool LocaleSortKey(const std::wstring& s, std::string& key);

inline bool LocaleSameText(const std::wstring& a, const std::wstring& b) {
    return LocaleCompareText(a, b) == 0;
}
