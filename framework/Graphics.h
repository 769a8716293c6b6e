// Colours, fonts with shared handles, canvases, bitmaps and the visual-theme
// library loaded on demand from the system folder.
#pragma once
#include "WinHandles.h"
#include <cstdint>
#include <functional>
#include <string>
#include <windows.h>

using TColor = std::int32_t;
// A colour with the high bit set names a system colour (low byte = index).
inline constexpr TColor clWindow = static_cast<TColor>(0x80000005);
inline constexpr TColor clWindowText = static_cast<TColor>(0x80000008);
inline constexpr TColor clBtnFace = static_cast<TColor>(0x8000000F);
inline constexpr TColor clBtnShadow = static_cast<TColor>(0x80000010);
inline constexpr TColor clBtnHighlight = static_cast<TColor>(0x80000014);
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clNavy = 0x800000;

COLORREF ColorToRGB(TColor color);

// A run that never shows anything (a silent install) keeps away from the
// display altogether: no device context, no text measured, the system's
// metrics taken as designed. Under Wine the first device context starts the
// desktop process; a service account may have no usable display at all.
void SetDisplayless(bool value);
bool Displayless();

// The screen's logical pixels per inch (vertical), read once; 96 when displayless.
int ScreenPixelsPerInch();

enum TFontStyle : std::uint8_t { fsBold = 1 };

class TFont {
public:
    TFont(); // the system's message font
    ~TFont();
    TFont(const TFont&) = delete;
    TFont& operator=(const TFont&) = delete;

    TColor Color() const { return color_; }
    int Height() const { return height_; }
    const std::wstring& Name() const { return name_; }
    std::uint8_t Style() const { return style_; }
    int PixelsPerInch() const { return pixelsPerInch_; }
    int Size() const;

    void SetColor(TColor color);
    void SetHeight(int height);
    void SetName(const std::wstring& name);
    void SetStyle(std::uint8_t style);
    void SetSize(int points);
    void Assign(const TFont& other);
    bool SameAs(const TFont& other) const;

    // Created on demand; identical descriptions share one handle.
    HFONT Handle();
    // Told after every change.
    std::function<void()> OnChange;

private:
    void Changed();
    void ReleaseHandle();
    TColor color_ = clWindowText;
    int height_ = 0;
    std::wstring name_;
    std::uint8_t style_ = 0;
    int pixelsPerInch_ = 96;
    HFONT handle_ = nullptr;
};

// A device context with a selected font; owns the DC only when it made it.
class TCanvas {
public:
    TCanvas() = default;
    ~TCanvas();
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    // Uses a DC someone else owns (a paint DC), or none.
    void SetHandle(HDC dc);
    // A DC compatible with the screen when none is set: measuring works before any window exists.
    HDC Handle();
    TFont& Font() { return font_; }
    SIZE TextExtent(const std::wstring& text);
    void FillRect(const RECT& r, TColor color);
    void Line(int x1, int y1, int x2, int y2, TColor color);
    void Polyline(const POINT* points, int count, TColor color);

private:
    void SelectFont();
    HDC dc_ = nullptr;
    bool ownsDc_ = false;
    HGDIOBJ oldFont_ = nullptr;
    TFont font_;
};

// The visual-theme library, loaded once from the system folder, never from
// beside the program.
struct TThemeApi {
    HMODULE Module = nullptr;
    HANDLE(WINAPI* OpenThemeData)(HWND, LPCWSTR) = nullptr;
    HRESULT(WINAPI* CloseThemeData)(HANDLE) = nullptr;
    BOOL(WINAPI* IsThemeActive)() = nullptr;
    HRESULT(WINAPI* DrawThemeParentBackground)(HWND, HDC, const RECT*) = nullptr;
};
const TThemeApi& ThemeApi();
bool ThemesActive();
