// mkart: writes the product's logo and icon, or checks a packager's own logo.
//   mkart logo <out.png>        the wizard's logo (palette PNG)
//   mkart icon <out.ico>        the program icon
//   mkart check-logo <in.png>   fails unless the setup can decode the file
//   mkart preview <in.png> <width> <height> <out.png>
//                               the logo as the wizard paints it at that size
#include "Art.h"
#include "PNG.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
bool WriteFile(const char* path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

bool ReadFile(const char* path, Bytes& bytes) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    std::uint8_t block[65536];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) bytes.insert(bytes.end(), block, block + n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

int Fail(const char* what, const char* path) {
    std::fprintf(stderr, "mkart: %s: %s\n", what, path);
    return 1;
}

bool Decode(const char* path, TPaletteImage& image) {
    Bytes bytes;
    if (!ReadFile(path, bytes) || bytes.size() > 0x7FFFFFFF) return Fail("cannot read", path), false;
    try {
        TReadOnlyMemoryStream stream(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        image = DecodePNG(stream);
        return true;
    } catch (const Exception& e) {
        std::fprintf(stderr,
                     "mkart: %s: %s (the setup reads only 8-bit palette PNG files, not interlaced, with "
                     "unfiltered rows in one IDAT chunk)\n",
                     path, e.Message().c_str());
        return false;
    }
}
} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "logo") == 0)
        return WriteFile(argv[2], MakeLogoPNG()) ? 0 : Fail("cannot write", argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "icon") == 0)
        return WriteFile(argv[2], MakeIcon()) ? 0 : Fail("cannot write", argv[2]);
    TPaletteImage image;
    if (argc == 3 && std::strcmp(argv[1], "check-logo") == 0) return Decode(argv[2], image) ? 0 : 1;
    if (argc == 6 && std::strcmp(argv[1], "preview") == 0) {
        int w = std::atoi(argv[3]), h = std::atoi(argv[4]);
        if (w <= 0 || h <= 0 || w > 4096 || h > 4096) return Fail("bad size", argv[3]);
        if (!Decode(argv[2], image)) return 1;
        TRGBImage shown(w, h);
        Resample(PaletteToRGB(image), shown, true);
        Bytes rgb;
        for (const TRGB& p : shown.Pixels) rgb.insert(rgb.end(), {p.R, p.G, p.B});
        return WriteFile(argv[5], EncodeRgbPNG(rgb, w, h)) ? 0 : Fail("cannot write", argv[5]);
    }
    std::fprintf(stderr, "usage: mkart logo OUT.png | icon OUT.ico | check-logo IN.png | "
                         "preview IN.png WIDTH HEIGHT OUT.png\n");
    return 2;
}
