#include "Encode.h"
#include <algorithm>
#include <stdexcept>
#include <zlib.h>

namespace {
void Put16(Bytes& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
void PutBe32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void PutChunk(Bytes& out, const char* type, const Bytes& data) {
    PutBe32(out, static_cast<std::uint32_t>(data.size()));
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    out.insert(out.end(), typed.begin(), typed.end());
    PutBe32(out, static_cast<std::uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
}

Bytes Deflate(const Bytes& raw) {
    uLongf n = compressBound(static_cast<uLong>(raw.size()));
    Bytes z(n);
    if (compress2(z.data(), &n, raw.data(), static_cast<uLong>(raw.size()), 9) != Z_OK)
        throw std::runtime_error("compression failed");
    z.resize(n);
    return z;
}

// Every row stored unfiltered: filter byte 0, then the row's bytes.
Bytes EncodePNG(int width, int height, int colourType, int bytesPerPixel, const Bytes& pixels,
                const Bytes* plte) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    PutBe32(ihdr, static_cast<std::uint32_t>(width));
    PutBe32(ihdr, static_cast<std::uint32_t>(height));
    ihdr.insert(ihdr.end(), {8, static_cast<std::uint8_t>(colourType), 0, 0, 0});
    PutChunk(out, "IHDR", ihdr);
    if (plte) PutChunk(out, "PLTE", *plte);
    Bytes raw;
    std::size_t rowBytes = static_cast<std::size_t>(width) * bytesPerPixel;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        auto row = pixels.begin() + static_cast<std::ptrdiff_t>(rowBytes * y);
        raw.insert(raw.end(), row, row + static_cast<std::ptrdiff_t>(rowBytes));
    }
    PutChunk(out, "IDAT", Deflate(raw));
    PutChunk(out, "IEND", {});
    return out;
}

struct Colour {
    std::uint32_t rgb;
    std::uint32_t count;
    int Channel(int c) const { return static_cast<int>((rgb >> (16 - 8 * c)) & 255); }
};

struct Box {
    std::size_t begin, end;
    double error; // summed squared distance from the box's mean
    int axis;     // channel of the largest spread
};

Box Measure(const std::vector<Colour>& colours, std::size_t begin, std::size_t end) {
    double n = 0, sum[3] = {}, sq[3] = {};
    for (std::size_t i = begin; i < end; ++i)
        for (int c = 0; c < 3; ++c) {
            double v = colours[i].Channel(c), k = colours[i].count;
            sum[c] += v * k;
            sq[c] += v * v * k;
        }
    for (std::size_t i = begin; i < end; ++i) n += colours[i].count;
    Box b{begin, end, 0, 0};
    double best = -1;
    for (int c = 0; c < 3; ++c) {
        double var = sq[c] - sum[c] * sum[c] / n;
        b.error += var;
        if (var > best) best = var, b.axis = c;
    }
    if (end - begin < 2) b.error = 0;
    return b;
}
} // namespace

IndexedImage Quantise(const Bytes& rgba, int width, int height) {
    std::vector<std::uint32_t> keys;
    std::size_t n = static_cast<std::size_t>(width) * height;
    for (std::size_t i = 0; i < n; ++i)
        keys.push_back((std::uint32_t{rgba[4 * i]} << 16) | (std::uint32_t{rgba[4 * i + 1]} << 8) |
                       rgba[4 * i + 2]);
    std::vector<std::uint32_t> sorted = keys;
    std::sort(sorted.begin(), sorted.end());
    std::vector<Colour> colours;
    for (std::uint32_t k : sorted) {
        if (!colours.empty() && colours.back().rgb == k)
            ++colours.back().count;
        else
            colours.push_back({k, 1});
    }

    std::vector<Box> boxes = {Measure(colours, 0, colours.size())};
    while (boxes.size() < 256) {
        auto worst = std::max_element(boxes.begin(), boxes.end(),
                                      [](const Box& a, const Box& b) { return a.error < b.error; });
        if (worst->error <= 0) break;
        Box box = *worst;
        int axis = box.axis;
        std::sort(
            colours.begin() + static_cast<std::ptrdiff_t>(box.begin),
            colours.begin() + static_cast<std::ptrdiff_t>(box.end), [axis](const Colour& a, const Colour& b) {
                return a.Channel(axis) != b.Channel(axis) ? a.Channel(axis) < b.Channel(axis) : a.rgb < b.rgb;
            });
        double total = 0, run = 0;
        for (std::size_t i = box.begin; i < box.end; ++i) total += colours[i].count;
        std::size_t cut = box.begin + 1;
        for (std::size_t i = box.begin; i + 1 < box.end; ++i) {
            run += colours[i].count;
            cut = i + 1;
            if (run >= total / 2) break;
        }
        *worst = Measure(colours, box.begin, cut);
        boxes.push_back(Measure(colours, cut, box.end));
    }

    IndexedImage out;
    out.width = width;
    out.height = height;
    for (const Box& b : boxes) {
        double k = 0, s[3] = {};
        for (std::size_t i = b.begin; i < b.end; ++i) {
            k += colours[i].count;
            for (int c = 0; c < 3; ++c) s[c] += colours[i].Channel(c) * double(colours[i].count);
        }
        std::array<std::uint8_t, 3> p{};
        for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>(s[c] / k + 0.5);
        out.palette.push_back(p);
    }
    std::sort(out.palette.begin(), out.palette.end());
    out.palette.resize(256, out.palette.back());

    for (std::uint32_t k : keys) {
        int best = 0, bestDistance = 1 << 30;
        for (int i = 0; i < 256; ++i) {
            int d = 0;
            for (int c = 0; c < 3; ++c) {
                int v =
                    static_cast<int>((k >> (16 - 8 * c)) & 255) - out.palette[static_cast<std::size_t>(i)][c];
                d += v * v;
            }
            if (d < bestDistance) bestDistance = d, best = i;
        }
        out.pixels.push_back(static_cast<std::uint8_t>(best));
    }
    return out;
}

Bytes EncodePalettePNG(const IndexedImage& image) {
    Bytes plte;
    for (const auto& p : image.palette) plte.insert(plte.end(), p.begin(), p.end());
    return EncodePNG(image.width, image.height, 3, 1, image.pixels, &plte);
}

Bytes EncodeRgbaPNG(const Bytes& rgba, int width, int height) {
    return EncodePNG(width, height, 6, 4, rgba, nullptr);
}

Bytes EncodeRgbPNG(const Bytes& rgb, int width, int height) {
    return EncodePNG(width, height, 2, 3, rgb, nullptr);
}

Bytes EncodeIco(const std::vector<IconImage>& images) {
    std::vector<Bytes> blobs;
    for (const IconImage& im : images) {
        const int s = im.size;
        if (s >= 256) {
            blobs.push_back(EncodeRgbaPNG(im.rgba, s, s));
            continue;
        }
        const std::uint32_t maskRow = static_cast<std::uint32_t>((s + 31) / 32 * 4);
        Bytes b;
        Put32(b, 40); // BITMAPINFOHEADER
        Put32(b, static_cast<std::uint32_t>(s));
        Put32(b, static_cast<std::uint32_t>(2 * s)); // colour rows, then mask rows
        Put16(b, 1);
        Put16(b, 32);
        Put32(b, 0); // BI_RGB
        Put32(b, static_cast<std::uint32_t>(s * s * 4) + maskRow * static_cast<std::uint32_t>(s));
        for (int i = 0; i < 4; ++i) Put32(b, 0);
        for (int y = s - 1; y >= 0; --y) // bottom-up, BGRA
            for (int x = 0; x < s; ++x) {
                const std::uint8_t* p = &im.rgba[(static_cast<std::size_t>(y) * s + x) * 4];
                b.insert(b.end(), {p[2], p[1], p[0], p[3]});
            }
        for (int y = s - 1; y >= 0; --y) { // AND mask: set where fully transparent
            Bytes row(maskRow, 0);
            for (int x = 0; x < s; ++x)
                if (im.rgba[(static_cast<std::size_t>(y) * s + x) * 4 + 3] == 0)
                    row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            b.insert(b.end(), row.begin(), row.end());
        }
        blobs.push_back(std::move(b));
    }

    Bytes out;
    Put16(out, 0);
    Put16(out, 1); // icon
    Put16(out, static_cast<unsigned>(images.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        std::uint8_t side = images[i].size >= 256 ? 0 : static_cast<std::uint8_t>(images[i].size);
        out.insert(out.end(), {side, side, 0, 0});
        Put16(out, 1);  // planes
        Put16(out, 32); // bits per pixel
        Put32(out, static_cast<std::uint32_t>(blobs[i].size()));
        Put32(out, offset);
        offset += static_cast<std::uint32_t>(blobs[i].size());
    }
    for (const Bytes& b : blobs) out.insert(out.end(), b.begin(), b.end());
    return out;
}
