#include "Font.h"
#include <cmath>

namespace {
// Glyph units: x-height 5, capitals 7, ascenders 7.6; y grows upwards. Widths are
// between stroke centres; bearings pull round sides closer to their neighbours.
constexpr float kX = 5, kCap = 7, kAsc = 7.6f;
constexpr float kPi = 3.14159265358979f;

using Line = std::vector<Vec>;

struct Glyph {
    float width = 0;
    std::vector<Line> lines;
    float leftBearing = 0, rightBearing = 0;
};

Line Arc(float cx, float cy, float rx, float ry, float from, float to) {
    Line pts;
    int steps = std::max(6, static_cast<int>(std::fabs(to - from) / 7.5f));
    for (int i = 0; i <= steps; ++i) {
        float a = (from + (to - from) * static_cast<float>(i) / static_cast<float>(steps)) * kPi / 180.0f;
        pts.push_back({cx + rx * std::cos(a), cy + ry * std::sin(a)});
    }
    return pts;
}

Line Then(Line a, std::initializer_list<Vec> more) {
    a.insert(a.end(), more);
    return a;
}

Line Cat(Line a, const Line& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

constexpr float kRound = 0.35f; // optical correction for round sides

Glyph Bowl(float stemTop, float stemBottom) {
    return {5, {Arc(2.5f, 2.5f, 2.5f, 2.5f, 0, 360), {{5, stemTop}, {5, stemBottom}}}, kRound, 0};
}

Glyph Arch(float stemTop) {
    return {4.5f, {{{0, stemTop}, {0, 0}}, Then(Arc(2.25f, 2.75f, 2.25f, 2.25f, 180, 0), {{4.5f, 0}})}, 0, 0};
}

Glyph Lookup(char32_t c) {
    switch (c) {
    case U'a':
        return Bowl(kX, 0);
    case U'd':
        return Bowl(kAsc, 0);
    case U'g': {
        Glyph g = Bowl(kX, -0.6f);
        g.lines.push_back(Arc(2.5f, -0.6f, 2.5f, 1.8f, 0, -150));
        return g;
    }
    case U'e':
        return {5, {Arc(2.5f, 2.5f, 2.5f, 2.5f, 0, 318), {{0, 2.5f}, {5, 2.5f}}}, kRound, kRound};
    case U'o':
        return {5, {Arc(2.5f, 2.5f, 2.5f, 2.5f, 0, 360)}, kRound, kRound};
    case U'h':
        return Arch(kAsc);
    case U'n':
        return Arch(kX);
    case U'i':
        return {0, {{{0, kX}, {0, 0}}, {{0, 6.9f}}}};
    case U'm':
        return {7,
                {{{0, kX}, {0, 0}},
                 Then(Arc(1.75f, 3.25f, 1.75f, 1.75f, 180, 0), {{3.5f, 0}}),
                 Then(Arc(5.25f, 3.25f, 1.75f, 1.75f, 180, 0), {{7, 0}})}};
    case U'r':
        return {3.3f, {{{0, kX}, {0, 0}}, Arc(2.6f, 2.6f, 2.6f, 2.4f, 180, 72)}, 0, -0.3f};
    case U't':
        return {3,
                {Then(Cat({{1.2f, 6.6f}}, Arc(2.4f, 1.2f, 1.2f, 1.2f, 180, 270)), {{3, 0}}),
                 {{0, kX}, {2.9f, kX}}},
                -0.2f,
                -0.2f};
    case U'v':
        return {4.8f, {{{0, kX}, {2.4f, 0}, {4.8f, kX}}}, -0.2f, -0.2f};
    case U'x':
        return {4.4f, {{{0, kX}, {4.4f, 0}}, {{0, 0}, {4.4f, kX}}}, -0.1f, -0.1f};
    case U'N':
        return {5.4f, {{{0, 0}, {0, kCap}, {5.4f, 0}, {5.4f, kCap}}}};
    case U'T':
        return {5.4f, {{{0, kCap}, {5.4f, kCap}}, {{2.7f, kCap}, {2.7f, 0}}}, -0.3f, -0.3f};
    case U'E':
    case U'É': {
        Glyph g{4.3f, {{{4.3f, kCap}, {0, kCap}, {0, 0}, {4.3f, 0}}, {{0, 3.6f}, {3.8f, 3.6f}}}};
        if (c == U'É') g.lines.push_back({{1.9f, 8.4f}, {3.2f, 9.7f}});
        return g;
    }
    case U'L':
        return {4, {{{0, kCap}, {0, 0}, {4, 0}}}, 0, -0.4f};
    default:
        return {2.4f, {}}; // space and anything without a design
    }
}

float Advance(const Glyph& g, float scale, const TextStyle& style) {
    return (g.width - g.leftBearing - g.rightBearing) * scale + style.weight + style.tracking;
}
} // namespace

float TextWidth(const std::u32string& text, const TextStyle& style) {
    float scale = style.xHeight / kX, w = 0;
    for (char32_t c : text) w += Advance(Lookup(c), scale, style);
    return text.empty() ? 0 : w - style.tracking;
}

std::vector<Shape> TextShapes(const std::u32string& text, Vec origin, const TextStyle& style) {
    float scale = style.xHeight / kX;
    float x = origin.x + style.weight / 2;
    std::vector<Shape> shapes;
    for (char32_t c : text) {
        Glyph g = Lookup(c);
        float left = x - g.leftBearing * scale;
        std::vector<Line> lines;
        for (const Line& l : g.lines) {
            Line placed;
            for (Vec p : l) placed.push_back({left + p.x * scale, origin.y - p.y * scale});
            lines.push_back(std::move(placed));
        }
        if (!lines.empty()) shapes.push_back(Strokes(std::move(lines), style.weight));
        x += Advance(g, scale, style);
    }
    return shapes;
}
