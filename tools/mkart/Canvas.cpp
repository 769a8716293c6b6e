#include "Canvas.h"
#include <algorithm>
#include <cmath>

namespace {
float Dot(Vec a, Vec b) {
    return a.x * b.x + a.y * b.y;
}
Vec Sub(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y};
}

float SegmentDistance(Vec p, Vec a, Vec b) {
    Vec pa = Sub(p, a), ba = Sub(b, a);
    float len = Dot(ba, ba);
    float h = len > 0 ? std::clamp(Dot(pa, ba) / len, 0.0f, 1.0f) : 0.0f;
    Vec d{pa.x - ba.x * h, pa.y - ba.y * h};
    return std::sqrt(Dot(d, d));
}

void Bounds(const std::vector<Vec>& points, float grow, Shape& s) {
    s.left = s.top = 1e9f;
    s.right = s.bottom = -1e9f;
    for (Vec p : points) {
        s.left = std::min(s.left, p.x - grow);
        s.right = std::max(s.right, p.x + grow);
        s.top = std::min(s.top, p.y - grow);
        s.bottom = std::max(s.bottom, p.y + grow);
    }
}

// Exact signed distance to a closed polygon (even-odd inside test).
float PolygonDistance(const std::vector<Vec>& v, Vec p) {
    float d = Dot(Sub(p, v[0]), Sub(p, v[0]));
    float sign = 1;
    for (std::size_t i = 0, j = v.size() - 1; i < v.size(); j = i++) {
        Vec e = Sub(v[j], v[i]), w = Sub(p, v[i]);
        float h = std::clamp(Dot(w, e) / Dot(e, e), 0.0f, 1.0f);
        Vec b{w.x - e.x * h, w.y - e.y * h};
        d = std::min(d, Dot(b, b));
        bool c1 = p.y >= v[i].y, c2 = p.y<v[j].y, c3 = e.x * w.y> e.y * w.x;
        if ((c1 && c2 && c3) || (!c1 && !c2 && !c3)) sign = -sign;
    }
    return sign * std::sqrt(d);
}

// Moves every edge of a convex polygon inwards by r (corners become the centres
// of the rounding arcs).
std::vector<Vec> Inset(const std::vector<Vec>& v, float r) {
    std::size_t n = v.size();
    float area = 0;
    for (std::size_t i = 0; i < n; ++i) area += v[i].x * v[(i + 1) % n].y - v[(i + 1) % n].x * v[i].y;
    float side = area > 0 ? 1.0f : -1.0f;
    std::vector<Vec> out;
    for (std::size_t i = 0; i < n; ++i) {
        Vec a = v[(i + n - 1) % n], b = v[i], c = v[(i + 1) % n];
        auto inward = [&](Vec p, Vec q) {
            Vec d = Sub(q, p);
            float len = std::sqrt(Dot(d, d));
            return Vec{-d.y / len * side, d.x / len * side};
        };
        Vec n1 = inward(a, b), n2 = inward(b, c);
        // Intersection of the two shifted edges through b.
        Vec p1{b.x + n1.x * r, b.y + n1.y * r}, d1 = Sub(b, a);
        Vec p2{b.x + n2.x * r, b.y + n2.y * r}, d2 = Sub(c, b);
        float den = d1.x * d2.y - d1.y * d2.x;
        float t = ((p2.x - p1.x) * d2.y - (p2.y - p1.y) * d2.x) / den;
        out.push_back({p1.x + d1.x * t, p1.y + d1.y * t});
    }
    return out;
}
} // namespace

Rgba Hex(std::uint32_t rgb, float alpha) {
    return {((rgb >> 16) & 255) / 255.0f, ((rgb >> 8) & 255) / 255.0f, (rgb & 255) / 255.0f, alpha};
}

Rgba Mix(const Rgba& a, const Rgba& b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

Shape Circle(Vec c, float radius) {
    Shape s;
    s.distance = [=](Vec p) { return std::hypot(p.x - c.x, p.y - c.y) - radius; };
    Bounds({c}, radius + 1, s);
    return s;
}

Shape Polygon(std::vector<Vec> points, float radius) {
    Shape s;
    Bounds(points, 1, s);
    std::vector<Vec> core = radius > 0 ? Inset(points, radius) : std::move(points);
    s.distance = [core, radius](Vec p) { return PolygonDistance(core, p) - radius; };
    return s;
}

Shape Strokes(std::vector<std::vector<Vec>> lines, float width) {
    Shape s;
    std::vector<Vec> all;
    for (const auto& l : lines) all.insert(all.end(), l.begin(), l.end());
    Bounds(all, width / 2 + 1, s);
    float half = width / 2;
    s.distance = [lines = std::move(lines), half](Vec p) {
        float d = 1e9f;
        for (const auto& l : lines) {
            if (l.size() == 1) d = std::min(d, SegmentDistance(p, l[0], l[0]));
            for (std::size_t i = 1; i < l.size(); ++i) d = std::min(d, SegmentDistance(p, l[i - 1], l[i]));
        }
        return d - half;
    };
    return s;
}

Shape Subtract(Shape a, Shape b) {
    Shape s = a;
    s.distance = [a = std::move(a.distance), b = std::move(b.distance)](Vec p) {
        return std::max(a(p), -b(p));
    };
    return s;
}

Shape Moved(Shape s, Vec by) {
    Shape m;
    m.left = s.left + by.x;
    m.right = s.right + by.x;
    m.top = s.top + by.y;
    m.bottom = s.bottom + by.y;
    m.distance = [d = std::move(s.distance), by](Vec p) { return d({p.x - by.x, p.y - by.y}); };
    return m;
}

std::vector<Vec> QuadPoints(Vec a, Vec c, Vec b, int steps) {
    std::vector<Vec> pts;
    for (int i = 0; i <= steps; ++i) {
        float t = static_cast<float>(i) / static_cast<float>(steps), u = 1 - t;
        pts.push_back(
            {u * u * a.x + 2 * u * t * c.x + t * t * b.x, u * u * a.y + 2 * u * t * c.y + t * t * b.y});
    }
    return pts;
}

Paint Solid(Rgba c) {
    return [c](Vec) { return c; };
}

Paint VerticalGradient(float top, Rgba topColour, float bottom, Rgba bottomColour) {
    return [=](Vec p) {
        return Mix(topColour, bottomColour, std::clamp((p.y - top) / (bottom - top), 0.0f, 1.0f));
    };
}

Paint LinearGradient(Vec from, Rgba fromColour, Vec to, Rgba toColour) {
    Vec d = Sub(to, from);
    float len2 = Dot(d, d);
    return
        [=](Vec p) { return Mix(fromColour, toColour, std::clamp(Dot(Sub(p, from), d) / len2, 0.0f, 1.0f)); };
}

Canvas::Canvas(int width, int height)
    : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height, Rgba{0, 0, 0, 0}) {}

void Canvas::Fill(const Shape& shape, const Paint& paint, float opacity, float softness) {
    int x0 = std::max(0, static_cast<int>(std::floor(shape.left - softness)));
    int y0 = std::max(0, static_cast<int>(std::floor(shape.top - softness)));
    int x1 = std::min(width_ - 1, static_cast<int>(std::ceil(shape.right + softness)));
    int y1 = std::min(height_ - 1, static_cast<int>(std::ceil(shape.bottom + softness)));
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            Vec p{x + 0.5f, y + 0.5f};
            float cover = std::clamp(0.5f - shape.distance(p) / softness, 0.0f, 1.0f);
            if (cover <= 0) continue;
            Rgba c = paint(p);
            float a = c.a * cover * opacity;
            Rgba& d = pixels_[static_cast<std::size_t>(y) * width_ + x];
            d = {c.r * a + d.r * (1 - a), c.g * a + d.g * (1 - a), c.b * a + d.b * (1 - a),
                 a + d.a * (1 - a)};
        }
    }
}

void Canvas::FillAll(const Paint& paint) {
    Shape all;
    all.distance = [](Vec) { return -1e9f; };
    all.right = static_cast<float>(width_);
    all.bottom = static_cast<float>(height_);
    Fill(all, paint);
}

Rgba Canvas::At(int x, int y) const {
    Rgba p = pixels_[static_cast<std::size_t>(y) * width_ + x];
    if (p.a <= 0) return {0, 0, 0, 0};
    return {p.r / p.a, p.g / p.a, p.b / p.a, p.a};
}

std::vector<std::uint8_t> Canvas::ToRgba8() const {
    std::vector<std::uint8_t> out;
    out.reserve(pixels_.size() * 4);
    auto byte = [](float v) {
        return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
    };
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) {
            Rgba c = At(x, y);
            out.insert(out.end(), {byte(c.r), byte(c.g), byte(c.b), byte(c.a)});
        }
    return out;
}
