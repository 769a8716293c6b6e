// The product's logo and icon as mkart writes them: the logo must pass the
// setup's own decoder, the icon must carry its four images.
#include "Art.h"
#include "PNG.h"
#include "Zlib.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

namespace {
std::uint32_t Be32(const Bytes& b, std::size_t at) {
    return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) | (std::uint32_t{b[at + 2]} << 8) |
           b[at + 3];
}
std::uint32_t Le16(const Bytes& b, std::size_t at) {
    return b[at] | (std::uint32_t{b[at + 1]} << 8);
}
std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return Le16(b, at) | (Le16(b, at + 2) << 16);
}

struct ChunkInfo {
    std::string type;
    std::size_t offset, length;
};

std::vector<ChunkInfo> Chunks(const Bytes& png) {
    std::vector<ChunkInfo> out;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        std::size_t length = Be32(png, at);
        out.push_back({std::string(png.begin() + static_cast<std::ptrdiff_t>(at) + 4,
                                   png.begin() + static_cast<std::ptrdiff_t>(at) + 8),
                       at + 8, length});
        at += 12 + length;
    }
    return out;
}

TPaletteImage DecodeBytes(const Bytes& png) {
    TReadOnlyMemoryStream s(png.data(), static_cast<std::int32_t>(png.size()));
    return DecodePNG(s);
}
} // namespace

TEST(Logo, IsTheSubsetTheSetupDecodes) {
    Bytes png = MakeLogoPNG();
    EXPECT_EQ(png, MakeLogoPNG()); // deterministic

    std::vector<ChunkInfo> chunks = Chunks(png);
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_EQ(chunks[0].type, "IHDR");
    EXPECT_EQ(chunks[1].type, "PLTE");
    EXPECT_EQ(chunks[1].length, 768u);
    EXPECT_EQ(chunks[2].type, "IDAT");
    EXPECT_EQ(chunks[3].type, "IEND");
    EXPECT_EQ(chunks[3].offset + chunks[3].length + 4, png.size());
    // Bit depth 8, colour type 3, compression, filter and interlace 0.
    EXPECT_EQ(0, std::memcmp(&png[chunks[0].offset + 8], "\x08\x03\x00\x00\x00", 5));

    TPaletteImage logo = DecodeBytes(png);
    ASSERT_EQ(logo.Width, kLogoWidth);
    ASSERT_EQ(logo.Height, kLogoHeight);
    EXPECT_EQ(logo.ColorCount, 256);

    // The 256 colours stay close to the drawing they were reduced from.
    Bytes drawn = DrawLogo();
    double total = 0;
    int worst = 0;
    std::set<int> used;
    for (std::size_t i = 0; i < logo.Pixels.size(); ++i) {
        const TPaletteColor& p = logo.Palette[logo.Pixels[i]];
        used.insert(logo.Pixels[i]);
        for (int c = 0; c < 3; ++c) {
            int d = std::abs(int{(&p.Red)[c]} - int{drawn[4 * i + static_cast<std::size_t>(c)]});
            total += d;
            worst = std::max(worst, d);
        }
    }
    EXPECT_LT(total / static_cast<double>(3 * logo.Pixels.size()), 1.0);
    EXPECT_LT(worst, 32);
    EXPECT_GT(used.size(), 200u);
}

TEST(Quantise, FewColoursComeThroughExactly) {
    const std::uint8_t colours[5][3] = {
        {0, 0, 0}, {255, 255, 255}, {12, 200, 7}, {13, 200, 7}, {90, 30, 250}};
    Bytes rgba;
    for (int i = 0; i < 7 * 3; ++i) {
        const std::uint8_t* c = colours[(i * 7) % 5];
        rgba.insert(rgba.end(), {c[0], c[1], c[2], 255});
    }
    IndexedImage img = Quantise(rgba, 7, 3);
    ASSERT_EQ(img.palette.size(), 256u);
    ASSERT_EQ(img.pixels.size(), 21u);
    for (std::size_t i = 0; i < 21; ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(img.palette[img.pixels[i]][static_cast<std::size_t>(c)], rgba[4 * i + c]);
}

TEST(Icon, CarriesFourImagesWithAlpha) {
    Bytes ico = MakeIcon();
    EXPECT_EQ(ico, MakeIcon());
    ASSERT_GE(ico.size(), 6u + 4 * 16);
    EXPECT_EQ(Le16(ico, 0), 0u);
    EXPECT_EQ(Le16(ico, 2), 1u); // icon, not cursor
    ASSERT_EQ(Le16(ico, 4), 4u);
    const int sizes[4] = {16, 32, 48, 256};
    std::size_t expectedOffset = 6 + 4 * 16;
    for (int i = 0; i < 4; ++i) {
        std::size_t e = 6 + 16 * static_cast<std::size_t>(i);
        const int s = sizes[i];
        EXPECT_EQ(ico[e], s == 256 ? 0 : s);
        EXPECT_EQ(ico[e + 1], s == 256 ? 0 : s);
        EXPECT_EQ(Le16(ico, e + 4), 1u);
        EXPECT_EQ(Le16(ico, e + 6), 32u);
        std::size_t bytes = Le32(ico, e + 8), offset = Le32(ico, e + 12);
        ASSERT_EQ(offset, expectedOffset);
        ASSERT_LE(offset + bytes, ico.size());
        expectedOffset += bytes;
        Bytes image(ico.begin() + static_cast<std::ptrdiff_t>(offset),
                    ico.begin() + static_cast<std::ptrdiff_t>(offset + bytes));

        int transparent = 0, opaque = 0;
        if (s == 256) {
            ASSERT_EQ(0, std::memcmp(image.data(), "\x89PNG\r\n\x1A\n", 8));
            EXPECT_EQ(Be32(image, 16), 256u);
            EXPECT_EQ(Be32(image, 20), 256u);
            EXPECT_EQ(image[25], 6); // RGBA
            std::vector<ChunkInfo> chunks = Chunks(image);
            ASSERT_EQ(chunks.size(), 3u);
            ASSERT_EQ(chunks[1].type, "IDAT");
            std::uint32_t length = 0;
            InflatedBuffer rows = InflateBuffer(&image[chunks[1].offset],
                                                static_cast<std::uint32_t>(chunks[1].length), 0, length);
            ASSERT_EQ(length, 256u * (1 + 256 * 4));
            IconImage drawn = DrawIcon(256);
            for (int y = 0; y < 256; ++y) {
                const std::uint8_t* row = rows.get() + y * (1 + 256 * 4);
                ASSERT_EQ(row[0], 0);
                ASSERT_EQ(0, std::memcmp(row + 1, &drawn.rgba[static_cast<std::size_t>(y) * 1024], 1024));
                for (int x = 0; x < 256; ++x) {
                    transparent += row[1 + 4 * x + 3] == 0;
                    opaque += row[1 + 4 * x + 3] == 255;
                }
            }
        } else {
            EXPECT_EQ(Le32(image, 0), 40u);
            EXPECT_EQ(Le32(image, 4), static_cast<std::uint32_t>(s));
            EXPECT_EQ(Le32(image, 8), static_cast<std::uint32_t>(2 * s));
            EXPECT_EQ(Le16(image, 14), 32u);
            const std::size_t maskRow = static_cast<std::size_t>((s + 31) / 32 * 4);
            ASSERT_EQ(image.size(), 40 + static_cast<std::size_t>(s * s * 4) + maskRow * s);
            for (int y = 0; y < s; ++y)
                for (int x = 0; x < s; ++x) {
                    std::uint8_t alpha = image[40 + (static_cast<std::size_t>(y) * s + x) * 4 + 3];
                    bool masked = image[40 + static_cast<std::size_t>(s * s * 4) + y * maskRow + x / 8] &
                                  (0x80 >> (x % 8));
                    EXPECT_EQ(masked, alpha == 0) << s << " " << x << "," << y;
                    transparent += alpha == 0;
                    opaque += alpha == 255;
                }
        }
        // A shaped emblem: clear corners around a solid body.
        EXPECT_GT(transparent, s * s / 10) << s;
        EXPECT_GT(opaque, s * s / 3) << s;
    }
    EXPECT_EQ(expectedOffset, ico.size());
}
