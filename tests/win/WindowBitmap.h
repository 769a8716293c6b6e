// Saves what the screen shows in a rectangle as a 24-bit BMP file, for a person
// to look at (the README's pictures, the tests' views of a window).
#pragma once
#include <windows.h>
#include <cstdio>
#include <string>

inline bool SaveScreenBitmap(const RECT& r, const std::wstring& path) {
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr), mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(mem, old);
    std::size_t stride = static_cast<std::size_t>((w * 3 + 3) & ~3),
                size = stride * static_cast<std::size_t>(h);
    BITMAPFILEHEADER fh{0x4D42, static_cast<DWORD>(sizeof fh + sizeof bi.bmiHeader + size), 0, 0,
                        static_cast<DWORD>(sizeof fh + sizeof bi.bmiHeader)};
    bool ok = false;
    if (FILE* f = _wfopen(path.c_str(), L"wb")) {
        ok = bits && std::fwrite(&fh, sizeof fh, 1, f) == 1 &&
             std::fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) == 1 &&
             std::fwrite(bits, 1, size, f) == size;
        std::fclose(f);
    }
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

inline bool SaveWindowBitmap(HWND hwnd, const std::wstring& path) {
    RECT r;
    GetWindowRect(hwnd, &r);
    return SaveScreenBitmap(r, path);
}
