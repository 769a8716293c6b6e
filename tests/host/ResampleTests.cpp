// The logo resampler and its finishing step, against a plain double-precision
// re-implementation and against cases worked out by hand.
#include "PNG.h"
#include <gtest/gtest.h>
#include <cmath>
#include <array>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {
TRGBImage Noise(int w, int h, unsigned seed) {
    TRGBImage img(w, h);
    for (TRGB& p : img.Pixels) {
        seed = seed * 1103515245u + 12345u;
        p = {static_cast<std::uint8_t>(seed >> 24), static_cast<std::uint8_t>(seed >> 16),
             static_cast<std::uint8_t>(seed >> 8)};
    }
    return img;
}

TRGBImage Filled(int w, int h, TRGB c) {
    TRGBImage img(w, h);
    for (TRGB& p : img.Pixels) p = c;
    return img;
}

std::uint8_t Channel(const TRGB& p, int c) {
    return c == 0 ? p.R : c == 1 ? p.G : p.B;
}

// --- Reference, written from the formulas ----------------------------------

double Cubic(double x) {
    x = std::abs(x);
    if (x < 1) return (7 * x * x * x - 12 * x * x + 16.0 / 3) / 6;
    if (x < 2) return (-7.0 / 3 * x * x * x + 12 * x * x - 20 * x + 32.0 / 3) / 6;
    return 0;
}

// Unclamped weighted sum for output index i of a line of n source values.
double Convolve(const std::vector<double>& line, int outLength, int i) {
    int n = static_cast<int>(line.size());
    double scale = n == 1 ? outLength : std::max(1, outLength - 1) / double(n - 1);
    double centre = i / scale;
    double reach = scale >= 1 ? 2 : 2 / scale;
    double sum = 0;
    for (int j = static_cast<int>(std::floor(centre - reach));
         j <= static_cast<int>(std::ceil(centre + reach)); ++j) {
        double w = scale >= 1 ? Cubic(centre - j) : Cubic((centre - j) * scale) * scale;
        sum += w * line[static_cast<std::size_t>(std::min(n - 1, std::abs(j)))];
    }
    return sum;
}

int ToByte(double v) {
    return v > 255 ? 255 : v < 0 ? 0 : static_cast<int>(std::floor(v + 0.5));
}

// One channel: rows to the new width, then columns to the new height. Also
// reports the extremes before clamping.
std::vector<std::vector<int>> ReferenceChannel(const TRGBImage& src, int c, int w, int h,
                                               double* lowest = nullptr, double* highest = nullptr) {
    std::vector<std::vector<double>> work(static_cast<std::size_t>(src.Height), std::vector<double>(w));
    for (int y = 0; y < src.Height; ++y) {
        std::vector<double> line;
        for (int x = 0; x < src.Width; ++x) line.push_back(Channel(src.At(x, y), c));
        for (int x = 0; x < w; ++x) {
            double v = Convolve(line, w, x);
            if (lowest) *lowest = std::min(*lowest, v);
            if (highest) *highest = std::max(*highest, v);
            work[y][x] = ToByte(v);
        }
    }
    std::vector<std::vector<int>> out(static_cast<std::size_t>(h), std::vector<int>(w));
    for (int x = 0; x < w; ++x) {
        std::vector<double> column;
        for (int y = 0; y < src.Height; ++y) column.push_back(work[y][x]);
        for (int y = 0; y < h; ++y) {
            double v = Convolve(column, h, y);
            if (lowest) *lowest = std::min(*lowest, v);
            if (highest) *highest = std::max(*highest, v);
            out[y][x] = ToByte(v);
        }
    }
    return out;
}

void ExpectNearReference(const TRGBImage& src, int w, int h) {
    TRGBImage dst(w, h);
    Resample(src, dst, false);
    for (int c = 0; c < 3; ++c) {
        auto ref = ReferenceChannel(src, c, w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_NEAR(Channel(dst.At(x, y), c), ref[y][x], 1)
                    << src.Width << "x" << src.Height << " -> " << w << "x" << h << " at " << x << "," << y;
    }
}

// The finishing step: near-white to white, then the 3 x 3 kernel where a
// neighbour outside rows 1..h-1 or columns 1..w-1 is replaced by the centre.
TRGBImage ReferenceFinish(TRGBImage img) {
    for (TRGB& p : img.Pixels)
        if (p.R > 250 && p.G > 250 && p.B > 250) p = {255, 255, 255};
    const int k[3][3] = {{-1, -2, -1}, {-2, 28, -2}, {-1, -2, -1}};
    TRGBImage out(img.Width, img.Height);
    for (int y = 0; y < img.Height; ++y) {
        for (int x = 0; x < img.Width; ++x) {
            int v[3] = {};
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        int ny = y + dy, nx = x + dx;
                        bool usable = 1 <= ny && ny <= img.Height - 1 && 1 <= nx && nx <= img.Width - 1;
                        sum += k[dy + 1][dx + 1] * Channel(usable ? img.At(nx, ny) : img.At(x, y), c);
                    }
                v[c] = sum < 0 ? 0 : std::min(255, sum / 16);
            }
            out.At(x, y) = {static_cast<std::uint8_t>(v[0]), static_cast<std::uint8_t>(v[1]),
                            static_cast<std::uint8_t>(v[2])};
        }
    }
    return out;
}

TRGBImage Grey(int w, int h, const std::vector<int>& values) {
    TRGBImage img(w, h);
    for (std::size_t i = 0; i < values.size(); ++i) {
        auto v = static_cast<std::uint8_t>(values[i]);
        img.Pixels[i] = {v, v, v};
    }
    return img;
}

std::vector<int> Reds(const TRGBImage& img) {
    std::vector<int> r;
    for (const TRGB& p : img.Pixels) r.push_back(p.R);
    return r;
}
} // namespace

TEST(Resample, MatchesReferenceUpDownAndFromSinglePixels) {
    struct Case {
        int sw, sh, dw, dh;
    } cases[] = {
        {4, 3, 7, 5},         // up
        {9, 7, 4, 3},         // down
        {8, 8, 3, 13},        // down across, up down
        {2, 2, 1, 1},         // to a single pixel
        {1, 1, 5, 4},         // from a single pixel
        {1, 5, 3, 9},         // one column
        {6, 1, 11, 2},        // one row
        {3, 3, 3, 3},         // same size still filters
        {120, 260, 150, 325}, // the logo at 125 %
        {120, 260, 90, 195},  // and at 75 %
        {31, 17, 2, 2},       // strong reduction
    };
    unsigned seed = 1;
    for (const Case& c : cases) ExpectNearReference(Noise(c.sw, c.sh, seed++), c.dw, c.dh);
}

TEST(Resample, SameSizeByHand) {
    // One white pixel on black, 3 x 3 to 3 x 3: weights 8/9 at the centre and 1/18
    // one pixel away; index -1 mirrors to 1, so the left column sees the white
    // pixel twice. Each pass rounds to bytes: row 1 becomes 28 227 14.
    TRGBImage src = Grey(3, 3, {0, 0, 0, 0, 255, 0, 0, 0, 0});
    TRGBImage dst(3, 3);
    Resample(src, dst, false);
    EXPECT_EQ(Reds(dst), (std::vector<int>{3, 25, 2, 25, 202, 12, 2, 13, 1}));
}

TEST(Resample, FlatColoursStayAndEdgesClamp) {
    const TRGB teal{20, 140, 160};
    for (auto [sw, sh, dw, dh] : {std::array{1, 1, 4, 3}, {5, 4, 13, 9}, {13, 9, 5, 4}, {7, 7, 1, 1}}) {
        TRGBImage dst(dw, dh);
        Resample(Filled(sw, sh, teal), dst, false);
        for (const TRGB& p : dst.Pixels) {
            EXPECT_NEAR(p.R, teal.R, 1);
            EXPECT_NEAR(p.G, teal.G, 1);
            EXPECT_NEAR(p.B, teal.B, 1);
        }
    }

    // A hard step overshoots on both sides when enlarged; the output clamps to 0 and 255.
    TRGBImage step = Grey(4, 2, {0, 0, 255, 255, 0, 0, 255, 255});
    double lowest = 0, highest = 0;
    auto ref = ReferenceChannel(step, 0, 10, 3, &lowest, &highest);
    ASSERT_LT(lowest, -1.0);
    ASSERT_GT(highest, 256.0);
    TRGBImage dst(10, 3);
    Resample(step, dst, false);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 10; ++x) EXPECT_NEAR(dst.At(x, y).R, ref[y][x], 1);
    EXPECT_EQ(dst.At(1, 1).R, 0);
    EXPECT_EQ(dst.At(7, 1).R, 255);
}

TEST(Resample, EmptyImagesAreLeftAlone) {
    TRGBImage dst = Filled(2, 2, {9, 9, 9});
    Resample(TRGBImage(0, 3), dst, true);
    EXPECT_EQ(dst.At(1, 1), (TRGB{9, 9, 9}));
    TRGBImage none(0, 0);
    Resample(Noise(3, 3, 7), none, true);
    EXPECT_TRUE(none.Pixels.empty());
}

TEST(FinishResampled, WhiteThreshold) {
    // Flat images pass the kernel unchanged, so only the threshold shows.
    for (auto [in, out] : {std::pair<TRGB, TRGB>{{251, 251, 251}, {255, 255, 255}},
                           {{254, 253, 251}, {255, 255, 255}},
                           {{250, 255, 255}, {250, 255, 255}},
                           {{255, 250, 255}, {255, 250, 255}},
                           {{251, 251, 250}, {251, 251, 250}}}) {
        TRGBImage img = Filled(3, 3, in);
        FinishResampled(img);
        for (const TRGB& p : img.Pixels) EXPECT_EQ(p, out);
    }
    // The threshold runs before sharpening: a 252 pixel acts as 255 on its neighbour.
    TRGBImage img = Grey(3, 3, {100, 100, 100, 100, 100, 100, 100, 252, 100});
    FinishResampled(img);
    EXPECT_EQ(img.At(1, 1).R, (2800 - 400 - 200 - 200 - 100 - 2 * 255 - 100) / 16);
}

TEST(FinishResampled, BordersByHand) {
    // Rows 1 to h - 1 and columns 1 to w - 1, ends included, are usable
    // neighbours: the last row and column count, row 0 and column 0 do not.
    auto centreWith = [](int x, int y) {
        TRGBImage img = Grey(3, 3, std::vector<int>(9, 100));
        img.At(x, y) = {200, 200, 200};
        FinishResampled(img);
        return static_cast<int>(img.At(1, 1).R);
    };
    EXPECT_EQ(centreWith(1, 0), 100); // row 0: the centre stands in
    EXPECT_EQ(centreWith(0, 1), 100); // column 0
    EXPECT_EQ(centreWith(0, 2), 100); // column 0 of the last row
    EXPECT_EQ(centreWith(1, 2), (2800 - 400 - 200 - 200 - 100 - 400 - 100) / 16); // last row counts
    EXPECT_EQ(centreWith(2, 1), (2800 - 400 - 200 - 400 - 100 - 200 - 100) / 16); // last column counts
    EXPECT_EQ(centreWith(2, 2), (2800 - 400 - 200 - 200 - 100 - 200 - 200) / 16); // last corner counts

    // A pixel of row 0 uses only its neighbours below that are not in column 0;
    // every other neighbour is the pixel itself.
    TRGBImage img = Grey(3, 3, {80, 60, 90, 10, 20, 30, 40, 50, 70});
    FinishResampled(img);
    EXPECT_EQ(img.At(1, 0).R, (20 * 60 - 60 - 2 * 20 - 30) / 16);
    // Bottom right corner: left, above-left and above are usable; the rest is itself.
    EXPECT_EQ(img.At(2, 2).R, (28 * 70 - 20 - 2 * 30 - 2 * 50 - 7 * 70) / 16);
}

TEST(FinishResampled, MatchesReferenceAndClamps) {
    for (auto [w, h] : {std::pair{7, 5}, {1, 1}, {1, 4}, {4, 1}, {2, 2}, {16, 9}}) {
        TRGBImage img = Noise(w, h, static_cast<unsigned>(w * 100 + h));
        TRGBImage expected = ReferenceFinish(img);
        FinishResampled(img);
        EXPECT_EQ(Reds(img), Reds(expected)) << w << "x" << h;
        for (std::size_t i = 0; i < img.Pixels.size(); ++i) ASSERT_EQ(img.Pixels[i], expected.Pixels[i]);
    }
    // A dark dot on white goes below 0, a light dot on black above 255.
    TRGBImage dark = Grey(3, 3, {240, 240, 240, 240, 0, 240, 240, 240, 240});
    TRGBImage light = Grey(3, 3, {0, 0, 0, 0, 200, 0, 0, 0, 0});
    FinishResampled(dark);
    FinishResampled(light);
    EXPECT_EQ(dark.At(1, 1).R, 0);
    EXPECT_EQ(light.At(1, 1).R, 255);
}

TEST(PaletteToRGB, LooksUpEveryPixel) {
    TPaletteImage pal;
    pal.Width = 3;
    pal.Height = 2;
    pal.ColorCount = 3;
    pal.Palette[0] = {1, 2, 3};
    pal.Palette[1] = {40, 50, 60};
    pal.Palette[2] = {255, 128, 0};
    pal.Pixels = {2, 1, 0, 0, 0, 2};
    TRGBImage rgb = PaletteToRGB(pal);
    ASSERT_EQ(rgb.Width, 3);
    ASSERT_EQ(rgb.Height, 2);
    EXPECT_EQ(rgb.At(0, 0), (TRGB{255, 128, 0}));
    EXPECT_EQ(rgb.At(1, 0), (TRGB{40, 50, 60}));
    EXPECT_EQ(rgb.At(2, 1), (TRGB{255, 128, 0}));
    EXPECT_EQ(rgb.At(0, 1), (TRGB{1, 2, 3}));
}
