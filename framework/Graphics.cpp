#include "Graphics.h"
#include "SystemLibraries.h"
#include <vector>

COLORREF ColorToRGB(TColor color) {
    if (color < 0) return GetSysColor(color & 0xFF);
    return static_cast<COLORREF>(color) & 0xFFFFFF;
}

namespace {
bool NoDisplay = false;
}

void SetDisplayless(bool value) {
    NoDisplay = value;
}

bool Displayless() {
    return NoDisplay;
}

int ScreenPixelsPerInch() {
    if (NoDisplay) return 96;
    static int ppi = [] {
        HDC dc = GetDC(nullptr);
        int v = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
        if (dc) ReleaseDC(nullptr, dc);
        return v > 0 ? v : 96;
    }();
    return ppi;
}

namespace {
// One handle per distinct description, counted by its users.
struct FontEntry {
    int height;
    bool bold;
    std::wstring name;
    HFONT handle;
    int users;
};
std::vector<FontEntry>& FontCache() {
    static std::vector<FontEntry> cache;
    return cache;
}

HFONT AcquireFont(int height, bool bold, const std::wstring& name) {
    for (auto& e : FontCache()) {
        if (e.height == height && e.bold == bold && e.name == name) {
            ++e.users;
            return e.handle;
        }
    }
    LOGFONTW lf{};
    lf.lfHeight = height;
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = DEFAULT_PITCH;
    lstrcpynW(lf.lfFaceName, name.c_str(), LF_FACESIZE);
    HFONT h = CreateFontIndirectW(&lf);
    if (h) FontCache().push_back({height, bold, name, h, 1});
    return h;
}

void ReleaseFont(HFONT h) {
    auto& cache = FontCache();
    for (auto it = cache.begin(); it != cache.end(); ++it) {
        if (it->handle == h) {
            if (--it->users == 0) {
                DeleteObject(h);
                cache.erase(it);
            }
            return;
        }
    }
}

LOGFONTW FallbackMessageFont() {
    LOGFONTW lf{};
    lf.lfHeight = -11;
    lstrcpyW(lf.lfFaceName, L"Tahoma");
    return lf;
}

const LOGFONTW& MessageFont() {
    // The system's metrics are the display's: not asked for where nothing is shown.
    static const LOGFONTW fallback = FallbackMessageFont();
    if (NoDisplay) return fallback;
    static LOGFONTW lf = [] {
        NONCLIENTMETRICSW m{};
        m.cbSize = sizeof m;
        if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof m, &m, 0)) return FallbackMessageFont();
        return m.lfMessageFont;
    }();
    return lf;
}
} // namespace

TFont::TFont() : height_(MessageFont().lfHeight), name_(MessageFont().lfFaceName) {
    pixelsPerInch_ = ScreenPixelsPerInch();
}

TFont::~TFont() {
    ReleaseHandle();
}

int TFont::Size() const {
    return -MulDiv(height_, 72, pixelsPerInch_);
}

void TFont::ReleaseHandle() {
    if (handle_) ReleaseFont(handle_);
    handle_ = nullptr;
}

void TFont::Changed() {
    if (OnChange) OnChange();
}

void TFont::SetColor(TColor color) {
    if (color == color_) return;
    color_ = color;
    Changed();
}

void TFont::SetHeight(int height) {
    if (height == height_) return;
    ReleaseHandle();
    height_ = height;
    Changed();
}

void TFont::SetName(const std::wstring& name) {
    std::wstring n = name.substr(0, LF_FACESIZE - 1);
    if (n.empty() || n == name_) return;
    ReleaseHandle();
    name_ = n;
    Changed();
}

void TFont::SetStyle(std::uint8_t style) {
    if (style == style_) return;
    ReleaseHandle();
    style_ = style;
    Changed();
}

void TFont::SetSize(int points) {
    SetHeight(-MulDiv(points, pixelsPerInch_, 72));
}

bool TFont::SameAs(const TFont& o) const {
    return color_ == o.color_ && height_ == o.height_ && name_ == o.name_ && style_ == o.style_;
}

void TFont::Assign(const TFont& o) {
    if (SameAs(o)) return;
    ReleaseHandle();
    color_ = o.color_;
    height_ = o.height_;
    name_ = o.name_;
    style_ = o.style_;
    pixelsPerInch_ = o.pixelsPerInch_;
    Changed();
}

HFONT TFont::Handle() {
    if (!handle_) handle_ = AcquireFont(height_, (style_ & fsBold) != 0, name_);
    return handle_;
}

TCanvas::~TCanvas() {
    SetHandle(nullptr);
}

void TCanvas::SetHandle(HDC dc) {
    if (dc_ && oldFont_) SelectObject(dc_, oldFont_);
    oldFont_ = nullptr;
    if (dc_ && ownsDc_) DeleteDC(dc_);
    dc_ = dc;
    ownsDc_ = false;
}

HDC TCanvas::Handle() {
    if (!dc_) {
        dc_ = CreateCompatibleDC(nullptr);
        ownsDc_ = true;
    }
    return dc_;
}

void TCanvas::SelectFont() {
    HDC dc = Handle();
    HGDIOBJ old = SelectObject(dc, Font().Handle());
    if (!oldFont_) oldFont_ = old;
}

SIZE TCanvas::TextExtent(const std::wstring& text) {
    SIZE s{0, 0};
    if (NoDisplay) return s; // nothing is measured where nothing is shown
    SelectFont();
    GetTextExtentPoint32W(Handle(), text.c_str(), static_cast<int>(text.size()), &s);
    return s;
}

void TCanvas::FillRect(const RECT& r, TColor color) {
    UniqueGdi<HBRUSH> brush(CreateSolidBrush(ColorToRGB(color)));
    ::FillRect(Handle(), &r, brush.get());
}

void TCanvas::Polyline(const POINT* points, int count, TColor color) {
    UniqueGdi<HPEN> pen(CreatePen(PS_SOLID, 1, ColorToRGB(color)));
    HGDIOBJ old = SelectObject(Handle(), pen.get());
    ::Polyline(Handle(), points, count);
    SelectObject(Handle(), old);
}

void TCanvas::Line(int x1, int y1, int x2, int y2, TColor color) {
    POINT p[2] = {{x1, y1}, {x2, y2}};
    Polyline(p, 2, color);
}

const TThemeApi& ThemeApi() {
    static TThemeApi api = [] {
        TThemeApi a;
        a.Module = LoadSystemLibrary(L"uxtheme.dll");
        if (!a.Module) return a;
        auto get = [&](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(
                reinterpret_cast<void*>(GetProcAddress(a.Module, name)));
        };
        get(a.OpenThemeData, "OpenThemeData");
        get(a.CloseThemeData, "CloseThemeData");
        get(a.IsThemeActive, "IsThemeActive");
        get(a.DrawThemeParentBackground, "DrawThemeParentBackground");
        return a;
    }();
    return api;
}

bool ThemesActive() {
    if (NoDisplay) return false; // asking opens the display's theme
    static int active = -1;
    if (active < 0) {
        const TThemeApi& t = ThemeApi();
        active = 0;
        if (t.Module && t.IsThemeActive && t.OpenThemeData && t.CloseThemeData &&
            t.DrawThemeParentBackground && t.IsThemeActive()) {
            if (HANDLE theme = t.OpenThemeData(nullptr, L"button")) {
                t.CloseThemeData(theme);
                active = 1;
            }
        }
    }
    return active == 1;
}
