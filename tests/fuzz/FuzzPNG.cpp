// The logo decoder on any bytes, then the image control's scaling of what it
// decoded: a decoded image has every pixel inside its palette, and the
// resampler fills exactly the size asked for.
#include "FuzzCommon.h"
#include "PNG.h"

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

    if (std::int64_t{image.Width} * image.Height > kMaxResampledPixels) return 0;
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
