#include "ExtCtrls.h"
#include <vector>

namespace {
const char* const PanelBevelNames[] = {"bvNone", "bvLowered", "bvRaised"};
const char* const BevelShapeNames[] = {"bsBox", "bsLeftLine"};
const TPropInfo PanelProps[] = {
    EnumProperty<&TPanel::BevelInner>("BevelInner", PanelBevelNames),
    EnumProperty<&TPanel::BevelOuter>("BevelOuter", PanelBevelNames),
    IntegerProperty<&TPanel::SetColorProperty>("Color"),
};
const TPropInfo BevelProps[] = {EnumProperty<&TBevel::SetShape>("Shape", BevelShapeNames)};

// A one-pixel frame: top and left in one colour, bottom and right in the other.
void Frame(TCanvas& canvas, RECT& r, TColor topLeft, TColor bottomRight) {
    HDC dc = canvas.Handle();
    auto fill = [&](int l, int t, int rr, int b, TColor c) {
        RECT x{l, t, rr, b};
        UniqueGdi<HBRUSH> brush(CreateSolidBrush(ColorToRGB(c)));
        FillRect(dc, &x, brush.get());
    };
    fill(r.left, r.top, r.right, r.top + 1, topLeft);
    fill(r.left, r.top, r.left + 1, r.bottom, topLeft);
    fill(r.left, r.bottom - 1, r.right, r.bottom, bottomRight);
    fill(r.right - 1, r.top, r.right, r.bottom, bottomRight);
    InflateRect(&r, -1, -1);
}

void Bevel(TCanvas& canvas, RECT& r, TPanelBevel bevel) {
    if (bevel == bvLowered) Frame(canvas, r, clBtnShadow, clBtnHighlight);
    if (bevel == bvRaised) Frame(canvas, r, clBtnHighlight, clBtnShadow);
}
} // namespace

const TClassInfo TPanel::Info{"TPanel", &TCustomControl::Info, &CreateComponent<TPanel>, PanelProps, {}, {}};
const TClassInfo TBevel::Info{"TBevel", &TGraphicControl::Info, &CreateComponent<TBevel>, BevelProps, {}, {}};
const TClassInfo TImage::Info{"TImage", &TGraphicControl::Info, &CreateComponent<TImage>, {}, {}, {}};

// ---- TPanel

TPanel::TPanel(TComponent* owner) : TCustomControl(owner) {
    ControlStyle |= csAcceptsControls;
    width_ = 185;
    height_ = 41;
    color_ = clBtnFace;
    parentColor_ = false;
    if (ThemesActive())
        ControlStyle |= csParentBackground;
    else
        ControlStyle |= csOpaque;
}

void TPanel::CreateParams(TCreateParams& p) {
    TCustomControl::CreateParams(p);
    p.ClassStyle &= ~static_cast<UINT>(CS_HREDRAW | CS_VREDRAW);
}

void TPanel::Paint(TCanvas& canvas) {
    RECT r = ClientRect();
    Bevel(canvas, r, BevelOuter);
    Bevel(canvas, r, BevelInner);
    if (!ThemesActive() || (ControlStyle & csOpaque)) canvas.FillRect(r, color_);
}

// ---- TBevel

TBevel::TBevel(TComponent* owner) : TGraphicControl(owner) {
    width_ = 50;
    height_ = 50;
}

void TBevel::SetShape(TBevelShape shape) {
    if (shape == shape_) return;
    shape_ = shape;
    Invalidate();
}

void TBevel::Paint(TCanvas& canvas) {
    int w = width_, h = height_;
    if (shape_ == bsLeftLine) {
        canvas.Line(0, 0, 0, h, clBtnShadow);
        canvas.Line(1, 0, 1, h, clBtnHighlight);
        return;
    }
    POINT shadow[3] = {{0, h - 1}, {0, 0}, {w - 1, 0}};
    POINT light[3] = {{w - 1, 0}, {w - 1, h - 1}, {0, h - 1}};
    canvas.Polyline(shadow, 3, clBtnShadow);
    canvas.Polyline(light, 3, clBtnHighlight);
}

// ---- TPNGImage, TImage

void TPNGImage::LoadFromStream(TStream& stream) {
    image_ = DecodePNG(stream);
    rgb_ = TRGBImage();
    rendered_ = TRGBImage();
}

const TRGBImage& TPNGImage::Rendered(int width, int height) {
    if (rendered_.Width == width && rendered_.Height == height && !rendered_.Pixels.empty()) return rendered_;
    if (rgb_.Pixels.empty()) rgb_ = PaletteToRGB(image_);
    rendered_ = TRGBImage(width, height);
    Resample(rgb_, rendered_, true);
    return rendered_;
}

TImage::TImage(TComponent* owner) : TGraphicControl(owner) {
    width_ = 105;
    height_ = 105;
}

void TImage::Paint(TCanvas& canvas) {
    if (!Picture || Picture->Empty() || width_ <= 0 || height_ <= 0) return;
    DrawRGBImage(canvas.Handle(), 0, 0, Picture->Rendered(width_, height_));
}

void DrawRGBImage(HDC dc, int x, int y, const TRGBImage& image) {
    if (image.Width <= 0 || image.Height <= 0) return;
    // A bottom-up 24-bit DIB: rows padded to four bytes, blue first.
    int stride = (image.Width * 3 + 3) & ~3;
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(stride) * static_cast<std::size_t>(image.Height));
    for (int row = 0; row < image.Height; ++row) {
        std::uint8_t* out = bits.data() + static_cast<std::size_t>(image.Height - 1 - row) * stride;
        for (int col = 0; col < image.Width; ++col) {
            const TRGB& p = image.At(col, row);
            out[col * 3] = p.B;
            out[col * 3 + 1] = p.G;
            out[col * 3 + 2] = p.R;
        }
    }
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = image.Width;
    bi.bmiHeader.biHeight = image.Height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc, x, y, static_cast<DWORD>(image.Width), static_cast<DWORD>(image.Height), 0, 0, 0,
                      static_cast<UINT>(image.Height), bits.data(), &bi, DIB_RGB_COLORS);
}
