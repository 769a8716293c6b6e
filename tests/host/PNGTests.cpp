// The palette PNG decoder over files built here chunk by chunk.
#include "PNG.h"
#include <gtest/gtest.h>
#include <cstring>
#include <functional>
#include <string>
#include <zlib.h>

namespace {
std::string Be32(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

std::string Chunk(const std::string& type, const std::string& data) {
    std::string typed = type + data;
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()));
    return Be32(static_cast<std::uint32_t>(data.size())) + typed + Be32(static_cast<std::uint32_t>(crc));
}

std::string Ihdr(std::uint32_t w, std::uint32_t h, int depth = 8, int colourType = 3, int compression = 0,
                 int filter = 0, int interlace = 0) {
    std::string d = Be32(w) + Be32(h);
    for (int b : {depth, colourType, compression, filter, interlace}) d += static_cast<char>(b);
    return Chunk("IHDR", d);
}

TPaletteColor Colour(int i) {
    return {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
            static_cast<std::uint8_t>(i * 7)};
}

std::string Plte(int entries, int extraBytes = 0) {
    std::string d;
    for (int i = 0; i < entries; ++i) {
        TPaletteColor c = Colour(i);
        d += {static_cast<char>(c.Red), static_cast<char>(c.Green), static_cast<char>(c.Blue)};
    }
    d.append(static_cast<std::size_t>(extraBytes), '\x7F');
    return Chunk("PLTE", d);
}

std::string Deflate(const std::string& data) {
    uLongf n = compressBound(static_cast<uLong>(data.size()));
    std::string out(n, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(data.data()),
              static_cast<uLong>(data.size()), 9);
    out.resize(n);
    return out;
}

using PixelFn = std::function<int(int x, int y)>;

// Raw scanlines: a filter byte, then one index per pixel.
std::string Rows(int w, int h, const PixelFn& pixel, int filter = 0) {
    std::string raw;
    for (int y = 0; y < h; ++y) {
        raw += static_cast<char>(filter);
        for (int x = 0; x < w; ++x) raw += static_cast<char>(pixel(x, y));
    }
    return raw;
}

std::string Idat(const std::string& raw) {
    return Chunk("IDAT", Deflate(raw));
}

const std::string kSignature = "\x89PNG\r\n\x1A\n";
const std::string kIend = Chunk("IEND", "");

int Pattern(int x, int y) {
    return (x * 3 + y * 5) % 4;
}

// A 5 x 3 image over a 4-colour palette.
std::string SmallPng() {
    return kSignature + Ihdr(5, 3) + Plte(4) + Idat(Rows(5, 3, Pattern)) + kIend;
}

TPaletteImage Decode(const std::string& png, std::int32_t start = 0) {
    TReadOnlyMemoryStream s(png.data(), static_cast<std::int32_t>(png.size()));
    s.SetPosition(start);
    return DecodePNG(s);
}

void ExpectPattern(const TPaletteImage& img, int w, int h, const PixelFn& pixel) {
    ASSERT_EQ(img.Width, w);
    ASSERT_EQ(img.Height, h);
    ASSERT_EQ(img.Pixels.size(), static_cast<std::size_t>(w * h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(img.Row(y)[x], pixel(x, y)) << x << "," << y;
}

// Rejected with EPNGError whose message names the reason.
void ExpectRejected(const std::string& png, const char* reason) {
    try {
        Decode(png);
        ADD_FAILURE() << "accepted; expected: " << reason;
    } catch (const EPNGError& e) {
        EXPECT_NE(e.Message().find(reason), std::string::npos) << e.Message() << " / expected: " << reason;
    }
}
} // namespace

TEST(DecodePNG, MinimalImagePaletteAndRows) {
    TPaletteImage img = Decode(SmallPng());
    ExpectPattern(img, 5, 3, Pattern);
    ASSERT_EQ(img.ColorCount, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(img.Palette[i].Red, Colour(i).Red);
        EXPECT_EQ(img.Palette[i].Green, Colour(i).Green);
        EXPECT_EQ(img.Palette[i].Blue, Colour(i).Blue);
    }
    // The filter byte is never a pixel: row r starts with the byte after it, even
    // in a one-pixel-wide image where a shifted read would be obvious.
    auto column = [](int, int y) { return y + 1; };
    ExpectPattern(Decode(kSignature + Ihdr(1, 4) + Plte(5) + Idat(Rows(1, 4, column)) + kIend), 1, 4, column);

    // The full size of the shipped logo with every palette entry in use.
    auto busy = [](int x, int y) { return (x * 31 + y * 17 + x * y) & 255; };
    TPaletteImage big = Decode(kSignature + Ihdr(120, 260) + Plte(256) + Idat(Rows(120, 260, busy)) + kIend);
    ExpectPattern(big, 120, 260, busy);
    EXPECT_EQ(big.ColorCount, 256);
}

TEST(DecodePNG, SkipsOtherChunksAndReadsFromTheCurrentPosition) {
    std::string text = Chunk("tEXt", std::string("Title\0Norvanta", 14));
    // Types are compared byte for byte: "idat" and "PLTe" are not known chunks.
    std::string lookalikes = Chunk("idat", "garbage") + Chunk("PLTe", std::string(30, '\x01'));
    std::string png = kSignature + Ihdr(5, 3) + text + Plte(4) + lookalikes + Chunk("zTXt", "") +
                      Idat(Rows(5, 3, Pattern)) + text + kIend;
    ExpectPattern(Decode(png), 5, 3, Pattern);
    EXPECT_EQ(Decode(png).ColorCount, 4);
    // Decoding starts wherever the stream stands.
    ExpectPattern(Decode("leading bytes" + png, 13), 5, 3, Pattern);
}

TEST(DecodePNG, NothingAfterIENDIsRead) {
    std::string png = SmallPng();
    // A tail that would fail loudly if read: a second IDAT, then a chunk longer than the file.
    std::string tail = Idat(Rows(5, 3, Pattern)) + Be32(0x7FFFFFF0u) + "IHDR" + "xx";
    std::string whole = png + tail;
    TReadOnlyMemoryStream s(whole.data(), static_cast<std::int32_t>(whole.size()));
    ExpectPattern(DecodePNG(s), 5, 3, Pattern);
    // Reading stopped right after the IEND chunk's type, before its CRC.
    EXPECT_EQ(s.Position(), static_cast<std::int32_t>(png.size() - 4));

    // Without IEND the chunks simply run to the end of the stream.
    std::string noEnd = png.substr(0, png.size() - kIend.size());
    ExpectPattern(Decode(noEnd), 5, 3, Pattern);
}

TEST(DecodePNG, PaletteLengthsAndLaterChunksReplacingEarlierOnes) {
    auto low = [](int x, int y) { return (x + y) % 2; };
    // 17 bytes hold 5 whole entries.
    TPaletteImage shortPal = Decode(kSignature + Ihdr(2, 2) + Plte(5, 2) + Idat(Rows(2, 2, low)) + kIend);
    EXPECT_EQ(shortPal.ColorCount, 5);
    EXPECT_EQ(shortPal.Palette[4].Blue, Colour(4).Blue);
    EXPECT_EQ(shortPal.Palette[5].Red, 0); // unused entries stay black
    // More than 256 entries: only the first 256 count.
    EXPECT_EQ(Decode(kSignature + Ihdr(2, 2) + Plte(300) + Idat(Rows(2, 2, low)) + kIend).ColorCount, 256);

    // The later PLTE and the later IHDR win.
    std::string pal2 = Chunk("PLTE", "\x01\x02\x03\x04\x05\x06");
    auto wide = [](int x, int) { return x % 2; };
    TPaletteImage img =
        Decode(kSignature + Ihdr(9, 9) + Plte(40) + Ihdr(4, 1) + Idat(Rows(4, 1, wide)) + pal2 + kIend);
    ExpectPattern(img, 4, 1, wide);
    ASSERT_EQ(img.ColorCount, 2);
    EXPECT_EQ(img.Palette[1].Red, 4);
    EXPECT_EQ(img.Palette[1].Blue, 6);
}

TEST(DecodePNG, RejectsImagesOutsideTheSubset) {
    const std::string rows = Idat(Rows(5, 3, Pattern));
    auto with = [&](const std::string& ihdr) { return kSignature + ihdr + Plte(4) + rows + kIend; };
    ExpectRejected(kSignature + Plte(4) + rows + kIend, "no header");
    ExpectRejected(kSignature + Ihdr(5, 3) + rows + kIend, "no palette");
    ExpectRejected(kSignature + Ihdr(5, 3) + Plte(4) + kIend, "no image data");
    for (int depth : {1, 2, 4, 16}) ExpectRejected(with(Ihdr(5, 3, depth)), "bit depth");
    for (int type : {0, 2, 4, 6}) ExpectRejected(with(Ihdr(5, 3, 8, type)), "palette PNG");
    ExpectRejected(with(Ihdr(5, 3, 8, 3, 1)), "compression or filter method");
    ExpectRejected(with(Ihdr(5, 3, 8, 3, 0, 1)), "compression or filter method");
    ExpectRejected(with(Ihdr(5, 3, 8, 3, 0, 0, 1)), "Interlaced");
    ExpectRejected(kSignature + Chunk("IHDR", std::string(12, '\x01')) + Plte(4) + rows + kIend, "too short");
    ExpectRejected(kSignature + Ihdr(5, 3) + Chunk("PLTE", "\x01\x02") + rows + kIend, "palette is empty");

    // Filtered rows, even one of them.
    for (int filter : {1, 2, 3, 4, 5})
        ExpectRejected(kSignature + Ihdr(5, 3) + Plte(4) + Idat(Rows(5, 3, Pattern, filter)) + kIend,
                       "Filtered");
    std::string raw = Rows(5, 3, Pattern);
    raw[12] = 2; // the last row's filter byte
    ExpectRejected(kSignature + Ihdr(5, 3) + Plte(4) + Idat(raw) + kIend, "Filtered");

    // Image data split over two IDAT chunks.
    std::string z = Deflate(Rows(5, 3, Pattern));
    ExpectRejected(kSignature + Ihdr(5, 3) + Plte(4) + Chunk("IDAT", z.substr(0, 8)) +
                       Chunk("IDAT", z.substr(8)) + kIend,
                   "split");
}

TEST(DecodePNG, RejectsAbsurdSizesAndDamagedData) {
    auto sized = [](std::uint32_t w, std::uint32_t h) {
        return kSignature + Ihdr(w, h) + Plte(4) + Idat(Rows(1, 1, Pattern)) + kIend;
    };
    for (auto [w, h] : {std::pair<std::uint32_t, std::uint32_t>{0, 3},
                        {5, 0},
                        {16385, 1},
                        {1, 16385},
                        {0x80000000u, 1},
                        {0xFFFFFFFFu, 0xFFFFFFFFu},
                        {16384, 4097}})
        ExpectRejected(sized(w, h), "size is out of range");
    // 16384 x 4096 is exactly the pixel limit: it passes the size check and fails
    // only for want of data.
    ExpectRejected(sized(16384, 4096), "ends before the last row");

    // Fewer rows than the header states, and rows one pixel short.
    ExpectRejected(kSignature + Ihdr(5, 4) + Plte(4) + Idat(Rows(5, 3, Pattern)) + kIend, "ends before");
    ExpectRejected(kSignature + Ihdr(5, 3) + Plte(4) + Idat(Rows(5, 3, Pattern).substr(0, 17)) + kIend,
                   "ends before");
    ExpectRejected(kSignature + Ihdr(5, 3) + Plte(4) + Chunk("IDAT", "") + kIend, "ends before");
    // Indexes beyond the palette.
    ExpectRejected(kSignature + Ihdr(5, 3) + Plte(3) + Idat(Rows(5, 3, Pattern)) + kIend,
                   "outside the palette");
    // A corrupt zlib stream.
    std::string bad = Deflate(Rows(5, 3, Pattern));
    for (std::size_t i = 2; i < bad.size(); ++i) bad[i] = '\xFF';
    ExpectRejected(kSignature + Ihdr(5, 3) + Plte(4) + Chunk("IDAT", bad) + kIend, "damaged");

    // Chunk lengths past the end of the stream, or beyond 2^31 - 1.
    ExpectRejected(kSignature + Ihdr(5, 3) + Be32(0x80000000u) + "PLTE" + std::string(40, 'x'), "too long");
    ExpectRejected(kSignature + Ihdr(5, 3) + Be32(0xFFFFFFFFu) + "tEXt" + std::string(40, 'x'), "too long");
    ExpectRejected(kSignature + Ihdr(5, 3) + Be32(100) + "PLTE" + std::string(60, 'x'), "past the end");
    ExpectRejected(kSignature + Ihdr(5, 3) + Be32(100) + "tEXt" + std::string(60, 'x'), "past the end");
    ExpectRejected(kSignature + Ihdr(5, 3) + Be32(0x7FFFFFFFu) + "IDAT" + std::string(60, 'x'),
                   "past the end");
    ExpectRejected("\x89PNG", "signature");
    ExpectRejected(kSignature + Ihdr(5, 3) + std::string(2, '\0'), "chunk header");
}

TEST(DecodePNG, EveryTruncationAndByteFlipEndsCleanly) {
    const std::string png = SmallPng();
    int decoded = 0;
    for (std::size_t cut = 0; cut < png.size(); ++cut) {
        std::string part = png.substr(0, cut);
        try {
            ExpectPattern(Decode(part), 5, 3, Pattern); // only whole chunks can decode
            ++decoded;
        } catch (const EPNGError&) {}
    }
    // Cutting the IEND chunk away, or cutting inside its CRC, leaves a whole image.
    EXPECT_EQ(decoded, 5);

    // Any single damaged byte gives an error or an image whose indexes all lie
    // inside its palette; never a crash or a read outside the buffers (ASan).
    for (std::size_t i = 0; i < png.size(); ++i) {
        for (unsigned mask : {0x01u, 0x80u, 0xFFu}) {
            std::string damaged = png;
            damaged[i] = static_cast<char>(damaged[i] ^ static_cast<char>(mask));
            try {
                TPaletteImage img = Decode(damaged);
                ASSERT_EQ(img.Pixels.size(), static_cast<std::size_t>(img.Width) * img.Height);
                for (std::uint8_t p : img.Pixels) ASSERT_LT(p, img.ColorCount);
            } catch (const EPNGError&) {}
        }
    }
}

TEST(DecodePNG, AcceptsExactlyTheWellFormedRandomImages) {
    // Random small images, some with a flaw the decoder must refuse; the outcome
    // must match what was built.
    unsigned seed = 2024;
    auto next = [&](unsigned n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    int accepted = 0, refused = 0;
    for (int round = 0; round < 1500; ++round) {
        int w = 1 + static_cast<int>(next(12)), h = 1 + static_cast<int>(next(12));
        int entries = next(8) == 0 ? static_cast<int>(next(300)) : 1 + static_cast<int>(next(256));
        int colours = std::min(entries, 256);
        bool filtered = next(10) == 0, outside = next(10) == 0, shortData = next(10) == 0;
        std::vector<std::vector<int>> pixels(static_cast<std::size_t>(h),
                                             std::vector<int>(static_cast<std::size_t>(w)));
        std::string raw;
        for (int y = 0; y < h; ++y) {
            raw += static_cast<char>(filtered && y == h - 1 ? 1 + next(4) : 0);
            for (int x = 0; x < w; ++x) {
                int v = static_cast<int>(next(static_cast<unsigned>(std::max(colours, 1))));
                if (outside && x == w - 1 && y == 0) v = std::max(colours, 1) + static_cast<int>(next(4));
                v = std::min(v, 255);
                pixels[y][x] = v;
                raw += static_cast<char>(v);
            }
        }
        bool outsideReally = false;
        for (const auto& row : pixels)
            for (int v : row) outsideReally |= v >= colours;
        if (shortData)
            raw.resize(raw.size() - 1 - next(static_cast<unsigned>(w)));
        else
            raw += std::string(next(3), '\x07'); // trailing bytes after the last row are harmless
        std::string png = kSignature + Ihdr(static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h)) +
                          Plte(entries) + Idat(raw) + kIend;
        bool expectOk = colours > 0 && !filtered && !outsideReally && !shortData;
        try {
            TPaletteImage img = Decode(png);
            ASSERT_TRUE(expectOk) << "round " << round;
            ASSERT_EQ(img.ColorCount, colours);
            ExpectPattern(img, w, h, [&](int x, int y) { return pixels[y][x]; });
            ++accepted;
        } catch (const EPNGError& e) {
            ASSERT_FALSE(expectOk) << "round " << round << ": " << e.Message();
            ++refused;
        }
    }
    EXPECT_GT(accepted, 500);
    EXPECT_GT(refused, 300);
}
