// The logo's pixels: a decoder for the one kind of PNG the setup ships (8-bit
// palette, not interlaced, unfiltered rows, all image data in one IDAT chunk),
// and the resampler that scales the logo to its image control.
#pragma once
#include "Exceptions.h"
#include "Streams.h"
#include <cstddef>
#include <cstdint>
#include <vector>

struct TPaletteColor {
    std::uint8_t Red = 0, Green = 0, Blue = 0;
};

// An 8-bit palette image: one palette index per pixel, rows top first, no row
// padding. Every index is below ColorCount.
struct TPaletteImage {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::int32_t ColorCount = 0; // entries of Palette in use, 1 to 256
    TPaletteColor Palette[256] = {};
    std::vector<std::uint8_t> Pixels; // Width * Height indexes

    const std::uint8_t* Row(std::int32_t y) const {
        return Pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(Width);
    }
};

// Limits that keep a damaged header from asking for absurd amounts of memory.
constexpr std::int32_t kPNGMaxSide = 16384;
constexpr std::int64_t kPNGMaxPixels = 64 * 1024 * 1024;

// Reads a PNG from the stream's current position. Chunks other than IHDR, PLTE,
// IDAT and IEND are skipped, a later IHDR or PLTE replaces an earlier one, and
// nothing after the IEND chunk's type is read. Neither the signature nor the
// CRCs are checked. Throws EPNGError for anything outside the subset, for
// truncated or damaged data and for palette indexes beyond the palette.
TPaletteImage DecodePNG(TStream& stream);

struct TRGB {
    std::uint8_t R = 0, G = 0, B = 0;
    friend bool operator==(const TRGB&, const TRGB&) = default;
};

// A 24-bit image, rows top first.
struct TRGBImage {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::vector<TRGB> Pixels;

    TRGBImage() = default;
    TRGBImage(std::int32_t width, std::int32_t height);
    TRGB& At(std::int32_t x, std::int32_t y) { return Pixels[Offset(x, y)]; }
    const TRGB& At(std::int32_t x, std::int32_t y) const { return Pixels[Offset(x, y)]; }

private:
    std::size_t Offset(std::int32_t x, std::int32_t y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) + static_cast<std::size_t>(x);
    }
};

TRGBImage PaletteToRGB(const TPaletteImage& image);

// Fills the destination (sized by the caller) from the source with the
// Mitchell-Netravali cubic (B = C = 1/3), rows first, then columns; with
// finishing, FinishResampled follows. Either image empty: nothing happens.
void Resample(const TRGBImage& source, TRGBImage& destination, bool finishing);

// Near-white pixels (all channels above 250) become white, then the image is
// sharpened with a 3 x 3 kernel.
void FinishResampled(TRGBImage& image);
