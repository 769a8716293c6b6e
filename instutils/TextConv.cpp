#include "TextConv.h"
#include <cstring>

std::wstring Utf8ToUtf16(const char* bytes, std::size_t length) {
    const void* nul = std::memchr(bytes, 0, length);
    if (nul) length = static_cast<std::size_t>(static_cast<const char*>(nul) - bytes);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    std::wstring out;
    out.reserve(length);
    std::size_t i = 0;
    while (i < length) {
        unsigned b = p[i];
        if (b < 0x80) {
            out.push_back(static_cast<wchar_t>(b));
            i += 1;
        } else if ((b & 0xE0) == 0xC0) {
            if (length - i < 2) break; // cut short by the end: gives nothing
            out.push_back(static_cast<wchar_t>(((b & 0x1F) << 6) | (p[i + 1] & 0x3F)));
            i += 2;
        } else if ((b & 0xF0) == 0xE0) {
            if (length - i < 3) break;
            out.push_back(
                static_cast<wchar_t>(((b & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F)));
            i += 3;
        } else {
            i += 4; // stray continuation or a lead beyond three bytes: dropped
        }
    }
    return out;
}

std::wstring Utf8ToUtf16(const std::string& s) {
    return Utf8ToUtf16(s.data(), s.size());
}

std::string Utf16ToUtf8(const std::wstring& s) {
    std::string out;
    out.reserve(s.size() * 3);
    for (wchar_t wc : s) {
        unsigned c = static_cast<unsigned>(wc) & 0xFFFF;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}
