// The files the art is written to: an 8-bit palette PNG (the logo), RGBA PNG,
// and a Windows icon file, plus the reduction of a picture to 256 colours.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct IndexedImage {
    int width = 0, height = 0;
    std::vector<std::array<std::uint8_t, 3>> palette; // always 256 entries
    Bytes pixels;                                     // one index per pixel, rows top first
};

// Median cut over the picture's colours (alpha is ignored), then every pixel
// takes its nearest palette entry. Deterministic.
IndexedImage Quantise(const Bytes& rgba, int width, int height);

// Colour type 3, bit depth 8, a 256-entry PLTE, one IDAT, filter type 0 on every row.
Bytes EncodePalettePNG(const IndexedImage& image);
Bytes EncodeRgbaPNG(const Bytes& rgba, int width, int height);
Bytes EncodeRgbPNG(const Bytes& rgb, int width, int height);

struct IconImage {
    int size = 0; // square, 1 to 256
    Bytes rgba;   // straight alpha, rows top first
};

// 32-bit images with alpha; a 256-pixel image is stored as PNG, smaller ones as
// bitmaps with their AND mask.
Bytes EncodeIco(const std::vector<IconImage>& images);
