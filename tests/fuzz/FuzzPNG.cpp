// The logo decoder on any bytes, then the image control's scaling of what it
// decoded: a decoded image has every pixel inside its palette, its rows and
// colours are those the file holds, encoding it again with the art tool's
// encoder and decoding that gives the same image, and the resampler fills
// exactly the size asked for.
#include "Encode.h"
#include "FuzzCommon.h"
#include "PNG.h"
#include <cstring>
#include <zlib.h>

namespace {
// Beyond this the resampler's work says nothing new and only slows the run.
constexpr std::int64_t kMaxResampledPixels = 1 << 18;

void CheckImage(const TPaletteImage& image) {
    FUZZ_CHECK(image.Width > 0 && image.Width <= kPNGMaxSide);
    FUZZ_CHECK(image.Height > 0 && image.Height <= kPNGMaxSide);
    FUZZ_CHECK(image.ColorCount >= 1 && image.ColorCount <= 256);
    FUZZ_CHECK(image.Pixels.size() == static_cast<std::size_t>(image.Width) * image.Height);
    for (std::uint8_t index : image.Pixels) FUZZ_CHECK(index < image.ColorCount);
}

std::uint32_t Big32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// The chunks as the decoder keeps them: the last IHDR and PLTE, the one IDAT,
// nothing from IEND on.
struct Chunks {
    const std::uint8_t* Plte = nullptr;
    std::size_t PlteLength = 0;
    const std::uint8_t* Idat = nullptr;
    std::size_t IdatLength = 0;
};

Chunks FindChunks(const std::uint8_t* data, std::size_t size) {
    Chunks c;
    for (std::size_t at = 8; size - at >= 8;) {
        std::size_t length = Big32(data + at);
        const std::uint8_t* type = data + at + 4;
        if (std::memcmp(type, "IEND", 4) == 0) break;
        FUZZ_CHECK(length + 4 <= size - at - 8); // the decoder refused anything cut
        if (std::memcmp(type, "PLTE", 4) == 0) c = {data + at + 8, length, c.Idat, c.IdatLength};
        if (std::memcmp(type, "IDAT", 4) == 0) c = {c.Plte, c.PlteLength, data + at + 8, length};
        at += 12 + length;
    }
    return c;
}

// Every row, inflated by zlib alone, is a filter byte of 0 and the pixels.
void CheckRows(const std::uint8_t* data, std::size_t size, const TPaletteImage& image) {
    Chunks c = FindChunks(data, size);
    FUZZ_CHECK(c.Plte && c.Idat);
    FUZZ_CHECK(image.ColorCount == static_cast<std::int32_t>(std::min<std::size_t>(256, c.PlteLength / 3)));
    for (std::int32_t i = 0; i < image.ColorCount; ++i) {
        const TPaletteColor& p = image.Palette[i];
        FUZZ_CHECK(p.Red == c.Plte[3 * i] && p.Green == c.Plte[3 * i + 1] && p.Blue == c.Plte[3 * i + 2]);
    }
    const std::size_t stride = static_cast<std::size_t>(image.Width) + 1;
    std::vector<std::uint8_t> raw(stride * static_cast<std::size_t>(image.Height));
    z_stream z{};
    FUZZ_CHECK(inflateInit(&z) == Z_OK);
    z.next_in = const_cast<Bytef*>(c.Idat);
    z.avail_in = static_cast<uInt>(c.IdatLength);
    z.next_out = raw.data();
    z.avail_out = static_cast<uInt>(raw.size());
    int r = inflate(&z, Z_NO_FLUSH);
    inflateEnd(&z);
    FUZZ_CHECK(z.avail_out == 0 && r != Z_DATA_ERROR && r != Z_NEED_DICT);
    for (std::int32_t y = 0; y < image.Height; ++y) {
        const std::uint8_t* row = raw.data() + stride * static_cast<std::size_t>(y);
        FUZZ_CHECK(row[0] == 0);
        FUZZ_CHECK(std::memcmp(row + 1, image.Row(y), static_cast<std::size_t>(image.Width)) == 0);
    }
}

// The art tool's encoder writes what the decoder reads back unchanged (its
// palette always has 256 entries: the ones in use come first).
void CheckRoundTrip(const TPaletteImage& image) {
    IndexedImage indexed;
    indexed.width = image.Width;
    indexed.height = image.Height;
    indexed.palette.assign(256, {0, 0, 0});
    for (std::int32_t i = 0; i < image.ColorCount; ++i)
        indexed.palette[i] = {image.Palette[i].Red, image.Palette[i].Green, image.Palette[i].Blue};
    indexed.pixels = image.Pixels;
    Bytes file = EncodePalettePNG(indexed);
    TReadOnlyMemoryStream stream(file.data(), static_cast<std::int32_t>(file.size()));
    TPaletteImage again = DecodePNG(stream);
    FUZZ_CHECK(again.Width == image.Width && again.Height == image.Height && again.ColorCount == 256);
    FUZZ_CHECK(again.Pixels == image.Pixels);
    for (std::int32_t i = 0; i < image.ColorCount; ++i) {
        const TPaletteColor &a = again.Palette[i], &b = image.Palette[i];
        FUZZ_CHECK(a.Red == b.Red && a.Green == b.Green && a.Blue == b.Blue);
    }
}

void CheckResample(const TRGBImage& source, std::int32_t width, std::int32_t height) {
    TRGBImage destination(width, height);
    Resample(source, destination, true);
    FUZZ_CHECK(destination.Width == width && destination.Height == height);
    FUZZ_CHECK(destination.Pixels.size() == static_cast<std::size_t>(width) * height);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TReadOnlyMemoryStream stream(data, static_cast<std::int32_t>(size));
    TPaletteImage image;
    if (Refused<EPNGError>([&] { image = DecodePNG(stream); })) return 0;
    CheckImage(image);
    CheckRows(data, size, image);

    if (std::int64_t{image.Width} * image.Height > kMaxResampledPixels) return 0;
    CheckRoundTrip(image);
    TRGBImage rgb = PaletteToRGB(image);
    FUZZ_CHECK(rgb.Width == image.Width && rgb.Height == image.Height);
    for (std::size_t i = 0; i < rgb.Pixels.size(); ++i) {
        const TPaletteColor& c = image.Palette[image.Pixels[i]];
        FUZZ_CHECK(rgb.Pixels[i] == (TRGB{c.Red, c.Green, c.Blue}));
    }
    // The logo's control at 96 and 120 pixels per inch, the smallest sizes, and
    // one pixel more and less than the image itself.
    CheckResample(rgb, 120, 260);
    CheckResample(rgb, 150, 325);
    CheckResample(rgb, 1, 1);
    CheckResample(rgb, 2, 1);
    CheckResample(rgb, image.Width + 1, image.Height > 1 ? image.Height - 1 : 1);
    // The same size keeps a plain colour plain (the weights sum to one there).
    TRGBImage plain(rgb.Width, rgb.Height);
    for (TRGB& p : plain.Pixels) p = rgb.Pixels[0];
    TRGBImage same(rgb.Width, rgb.Height);
    Resample(plain, same, false);
    for (const TRGB& p : same.Pixels) {
        FUZZ_CHECK(std::abs(p.R - plain.Pixels[0].R) <= 1 && std::abs(p.G - plain.Pixels[0].G) <= 1 &&
                   std::abs(p.B - plain.Pixels[0].B) <= 1);
    }
    return 0;
}
