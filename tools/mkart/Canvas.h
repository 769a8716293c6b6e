// A small anti-aliased painter for the product's art: shapes are signed
// distance functions (negative inside), filled with a one-pixel edge ramp
// onto a premultiplied RGBA canvas.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

struct Vec {
    float x = 0, y = 0;
};

// Straight (not premultiplied) colour, channels 0..1.
struct Rgba {
    float r = 0, g = 0, b = 0, a = 1;
};

Rgba Hex(std::uint32_t rgb, float alpha = 1.0f);
Rgba Mix(const Rgba& a, const Rgba& b, float t);

struct Shape {
    std::function<float(Vec)> distance;
    float left = 0, top = 0, right = 0, bottom = 0; // bounds in pixels
};

Shape Circle(Vec centre, float radius);
// A convex or concave polygon; corners rounded by radius when it is convex.
Shape Polygon(std::vector<Vec> points, float radius = 0);
// Round-capped strokes along polylines.
Shape Strokes(std::vector<std::vector<Vec>> lines, float width);
Shape Subtract(Shape a, Shape b);
Shape Moved(Shape s, Vec by);

std::vector<Vec> QuadPoints(Vec a, Vec control, Vec b, int steps = 24);

using Paint = std::function<Rgba(Vec)>;
Paint Solid(Rgba c);
Paint VerticalGradient(float top, Rgba topColour, float bottom, Rgba bottomColour);
Paint LinearGradient(Vec from, Rgba fromColour, Vec to, Rgba toColour);

class Canvas {
public:
    Canvas(int width, int height);
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Coverage of a pixel is 0.5 - distance at its centre, over softness pixels.
    void Fill(const Shape& shape, const Paint& paint, float opacity = 1.0f, float softness = 1.0f);
    void FillAll(const Paint& paint);
    Rgba At(int x, int y) const; // straight colour
    // 8-bit straight RGBA, rows top first.
    std::vector<std::uint8_t> ToRgba8() const;

private:
    int width_, height_;
    std::vector<Rgba> pixels_; // premultiplied
};
