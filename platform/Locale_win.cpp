#include "Locale.h"
#include <windows.h>

std::wstring LocaleUpper(const std::wstring& s) {
    std::wstring r(s);
    if (!r.empty()) CharUpperBuffW(r.data(), static_cast<DWORD>(r.size()));
    return r;
}

void LocaleUpperInPlace(wchar_t* units, std::size_t count) {
    if (count) CharUpperBuffW(units, static_cast<DWORD>(count));
}

bool LocaleSortKey(const std::wstring& s, std::string& key) {
    const DWORD flags = LCMAP_SORTKEY | NORM_IGNORECASE | SORT_STRINGSORT;
    int n = LCMapStringW(LOCALE_USER_DEFAULT, flags, s.data(), static_cast<int>(s.size()), nullptr, 0);
    if (n <= 0) return false;
    key.assign(static_cast<std::size_t>(n), '\0');
    // A sort key is bytes, counted in bytes, in the wide call's output buffer.
    n = LCMapStringW(LOCALE_USER_DEFAULT, flags, s.data(), static_cast<int>(s.size()),
                     reinterpret_cast<LPWSTR>(key.data()), n);
    if (n <= 0) return false;
    key.resize(static_cast<std::size_t>(n));
    return true;
}

int LocaleCompareText(const std::wstring& a, const std::wstring& b) {
    int r = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE | SORT_STRINGSORT, a.data(),
                           static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()));
    if (r == 0) return a.compare(b); // only on invalid arguments; keep an answer
    return r - CSTR_EQUAL;
}
