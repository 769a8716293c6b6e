#include "Art.h"
#include "Canvas.h"
#include "Font.h"
#include <cmath>

namespace {
constexpr float kPi = 3.14159265358979f;

// Emblem units: a 100 x 100 box. Page edges sit on multiples of 6.25 so that
// they fall on pixel edges at 16, 32, 48 and 256 pixels.
struct Frame {
    Vec origin;
    float scale; // pixels per unit
    Vec P(float x, float y) const { return {origin.x + x * scale, origin.y + y * scale}; }
    Vec P(Vec u) const { return P(u.x, u.y); }
    float L(float units) const { return units * scale; }
};

Shape Grown(Shape s, float by) {
    Shape g = s;
    g.distance = [d = std::move(s.distance), by](Vec p) { return d(p) - by; };
    g.left -= by;
    g.top -= by;
    g.right += by;
    g.bottom += by;
    return g;
}

Vec QuadAt(Vec a, Vec c, Vec b, float t) {
    float u = 1 - t;
    return {u * u * a.x + 2 * u * t * c.x + t * t * b.x, u * u * a.y + 2 * u * t * c.y + t * t * b.y};
}

Vec QuadTangent(Vec a, Vec c, Vec b, float t) {
    Vec d{2 * (1 - t) * (c.x - a.x) + 2 * t * (b.x - c.x), 2 * (1 - t) * (c.y - a.y) + 2 * t * (b.y - c.y)};
    float len = std::hypot(d.x, d.y);
    return {d.x / len, d.y / len};
}

enum Detail { kTiny, kSmall, kFull };

const Rgba kInk = Hex(0x1F5FAF);

void DrawPage(Canvas& c, const Frame& f, Detail detail, bool outline) {
    std::vector<Vec> page = {f.P(12.5f, 6.25f), f.P(56.25f, 6.25f), f.P(75, 25), f.P(75, 93.75f),
                             f.P(12.5f, 93.75f)};
    float round = detail == kTiny ? 0 : f.L(1.6f);
    Shape sheet = Polygon(page, round);
    if (detail != kTiny) {
        // A soft shadow below and to the right.
        c.Fill(Moved(sheet, {f.L(2.5f), f.L(3.5f)}), Solid(Hex(0x061830)), 0.35f, f.L(4));
    }
    Paint paper = VerticalGradient(f.P(0, 6).y, Hex(0xFFFFFF), f.P(0, 94).y, Hex(0xE6EDF6));
    if (outline) {
        float w = detail == kFull ? f.L(2.2f) : 1.0f;
        c.Fill(sheet, Solid(Hex(0x34557F)));
        c.Fill(Grown(sheet, -w), paper);
    } else {
        c.Fill(sheet, paper);
    }
    // The folded corner.
    std::vector<Vec> flap = {f.P(56.25f, 6.25f), f.P(56.25f, 25), f.P(75, 25)};
    if (detail != kTiny)
        c.Fill(Moved(Polygon(flap), {f.L(-1), f.L(1.2f)}), Solid(Hex(0x0B2447)), 0.18f, f.L(2));
    c.Fill(Polygon(flap, detail == kTiny ? 0 : f.L(0.8f)),
           LinearGradient(f.P(60, 12), Hex(0xF4F7FB), f.P(66, 20), Hex(0xB9C9DE)));
    if (outline)
        c.Fill(
            Strokes({{f.P(56.25f, 6.25f), f.P(56.25f, 25), f.P(75, 25)}}, detail == kFull ? f.L(1.6f) : 1.0f),
            Solid(Hex(0x34557F)));

    // Lines of text; the last one is being written.
    struct TextLine {
        float y, from, to, width;
        Rgba colour;
    };
    std::vector<TextLine> lines;
    const Rgba grey = Hex(0xAEBFD6);
    if (detail == kTiny) {
        // Pixel rows 6, 9 and 12 of the 16-pixel icon.
        lines = {{40.625f, 25, 50, 6.25f, kInk},
                 {59.375f, 25, 62.5f, 6.25f, grey},
                 {78.125f, 25, 37.5f, 6.25f, kInk}};
    } else {
        lines = {{37.5f, 25, 50, 5, kInk},
                 {50, 25, 62.5f, 3.2f, grey},
                 {59.4f, 25, 62.5f, 3.2f, grey},
                 {68.8f, 25, 62.5f, 3.2f, grey},
                 {78.1f, 25, 36, 3.2f, kInk}};
    }
    for (const TextLine& l : lines) {
        float w = f.L(l.width);
        float inset = w / 2; // round caps stay inside the stated ends
        if (detail == kTiny) {
            // Square ends on whole pixels.
            c.Fill(Polygon({f.P(l.from, l.y - l.width / 2), f.P(l.to, l.y - l.width / 2),
                            f.P(l.to, l.y + l.width / 2), f.P(l.from, l.y + l.width / 2)}),
                   Solid(l.colour));
        } else {
            c.Fill(Strokes({{{f.P(l.from, l.y).x + inset, f.P(0, l.y).y},
                             {f.P(l.to, l.y).x - inset, f.P(0, l.y).y}}},
                           w),
                   Solid(l.colour));
        }
    }
}

void DrawQuill(Canvas& c, const Frame& f, Detail detail) {
    const Vec nib{39, 79.5f}, control{73, 44}, end{97, 4};
    auto at = [&](float t) { return f.P(QuadAt(nib, control, end, t)); };

    // The vane: wider on the upper side, its edges following the shaft.
    const float t0 = 0.3f;
    const int steps = 40;
    float wideSide = detail == kTiny ? 7.5f : 11.5f, narrowSide = detail == kTiny ? 4 : 7;
    std::vector<Vec> upper, lower;
    for (int i = 0; i <= steps; ++i) {
        float u = static_cast<float>(i) / steps;
        float t = t0 + (1 - t0) * u;
        // Narrow near the quill's grip, fullest two thirds up, rounded at the tip.
        float profile = std::pow(std::sin(kPi * std::pow(u, 0.75f)), 0.65f);
        Vec p = QuadAt(nib, control, end, t), d = QuadTangent(nib, control, end, t);
        Vec n{-d.y, d.x};
        upper.push_back(f.P(p.x - n.x * wideSide * profile, p.y - n.y * wideSide * profile));
        lower.push_back(f.P(p.x + n.x * narrowSide * profile, p.y + n.y * narrowSide * profile));
    }
    std::vector<Vec> outline = upper;
    outline.insert(outline.end(), lower.rbegin(), lower.rend());
    Shape vane = Polygon(outline);
    if (detail == kFull) {
        // Cuts between the barbs, slanting towards the nib.
        auto notch = [&](float u, float side, float depth) {
            float t = t0 + (1 - t0) * u;
            Vec p = QuadAt(nib, control, end, t), d = QuadTangent(nib, control, end, t);
            Vec n{-d.y * side, d.x * side};
            float reach = (side < 0 ? wideSide : narrowSide) * 1.3f;
            Vec out{p.x + n.x * reach + d.x * 3, p.y + n.y * reach + d.y * 3};
            Vec in{p.x + n.x * reach * (1 - depth) - d.x * 3, p.y + n.y * reach * (1 - depth) - d.y * 3};
            Vec out2{out.x + d.x * 3.2f, out.y + d.y * 3.2f};
            return Polygon({f.P(in), f.P(out), f.P(out2)});
        };
        vane = Subtract(std::move(vane), notch(0.42f, -1, 0.62f));
        vane = Subtract(std::move(vane), notch(0.68f, -1, 0.55f));
        vane = Subtract(std::move(vane), notch(0.56f, 1, 0.6f));
    }
    if (detail != kTiny) c.Fill(Moved(vane, {f.L(1.5f), f.L(2.5f)}), Solid(Hex(0x061830)), 0.25f, f.L(3));
    c.Fill(vane, LinearGradient(at(0.35f), Hex(0xD8861A), at(0.95f), Hex(0xF8D774)));

    // Shaft and nib.
    if (detail != kTiny) {
        std::vector<Vec> shaft;
        for (int i = 0; i <= 24; ++i) shaft.push_back(at(0.16f + 0.8f * static_cast<float>(i) / 24));
        c.Fill(Strokes({shaft}, std::max(1.0f, f.L(1.4f))), Solid(Hex(0x7A4A12)));
    }
    Vec d = QuadTangent(nib, control, end, 0.17f);
    Vec n{-d.y, d.x};
    Vec base = QuadAt(nib, control, end, 0.17f);
    float half = detail == kTiny ? 3.2f : 3;
    c.Fill(
        Polygon({f.P(nib.x - d.x * 1.5f, nib.y - d.y * 1.5f), f.P(base.x + n.x * half, base.y + n.y * half),
                 f.P(base.x - n.x * half, base.y - n.y * half)}),
        Solid(Hex(0x1E2533)));
}

void DrawEmblem(Canvas& c, const Frame& f, Detail detail, bool outline) {
    DrawPage(c, f, detail, outline);
    DrawQuill(c, f, detail);
}

void DrawCentred(Canvas& c, const std::u32string& text, float baseline, const TextStyle& style, Rgba colour,
                 float opacity = 1) {
    float x = (static_cast<float>(c.Width()) - TextWidth(text, style)) / 2;
    for (const Shape& s : TextShapes(text, {x, baseline}, style)) c.Fill(s, Solid(colour), opacity);
}
} // namespace

Bytes DrawLogo() {
    Canvas c(kLogoWidth, kLogoHeight);
    c.FillAll(VerticalGradient(0, Hex(0x0F2C57), kLogoHeight, Hex(0x2C6AB2)));
    // A soft light behind the emblem.
    c.Fill(Circle({60, 66}, 8), Solid(Hex(0xFFFFFF)), 0.10f, 70);
    // Two pen strokes sweeping across the foot of the banner.
    c.Fill(Strokes({QuadPoints({-10, 238}, {50, 186}, {132, 204}, 40)}, 16), Solid(Hex(0xFFFFFF)), 0.05f);
    c.Fill(Strokes({QuadPoints({-10, 252}, {60, 200}, {132, 222}, 40)}, 1.2f), Solid(Hex(0xFFFFFF)), 0.22f);

    DrawEmblem(c, {{14, 26}, 0.84f}, kFull, false);

    DrawCentred(c, U"Norvanta", 142, {11, 2.6f, 0.7f}, Hex(0xFFFFFF));
    c.Fill(Strokes({{{34, 154.5f}, {86, 154.5f}}}, 1), Solid(Hex(0x9DC2EE)), 0.7f);
    DrawCentred(c, U"traitement de texte", 168, {4.4f, 1.0f, 0.55f}, Hex(0xD6E5F7));
    DrawCentred(c, U"Édition Light", 246, {4.4f, 1.0f, 0.6f}, Hex(0xC4D8F0), 0.9f);
    return c.ToRgba8();
}

Bytes MakeLogoPNG() {
    return EncodePalettePNG(Quantise(DrawLogo(), kLogoWidth, kLogoHeight));
}

IconImage DrawIcon(int size) {
    Canvas c(size, size);
    Detail detail = size <= 16 ? kTiny : size <= 48 ? kSmall : kFull;
    DrawEmblem(c, {{0, 0}, static_cast<float>(size) / 100}, detail, true);
    return {size, c.ToRgba8()};
}

Bytes MakeIcon() {
    std::vector<IconImage> images;
    for (int size : {16, 32, 48, 256}) images.push_back(DrawIcon(size));
    return EncodeIco(images);
}
