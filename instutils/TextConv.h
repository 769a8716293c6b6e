// UTF-8 <-> UTF-16, one code unit at a time. Characters outside the basic
// plane are dropped on the way in; surrogates pass through unit by unit.
#pragma once
#include <cstddef>
#include <string>

// Reads up to the first NUL or the end of the bytes, whichever comes first.
std::wstring Utf8ToUtf16(const char* bytes, std::size_t length);
std::wstring Utf8ToUtf16(const std::string& s);
std::string Utf16ToUtf8(const std::wstring& s);

// A number in decimal digits, for texts: std::to_wstring would bring the C
// library's whole wide printf into the program.
inline std::wstring DecimalW(long long value) {
    std::string digits = std::to_string(value);
    return std::wstring(digits.begin(), digits.end());
}
