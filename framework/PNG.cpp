#include "PNG.h"
#include "Zlib.h"
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace {
enum ChunkKind : std::uint8_t { ckIHDR = 0, ckPLTE = 1, ckIDAT = 2, ckIEND = 3, ckCount = 4 };
constexpr char kChunkCodes[ckCount][4] = {
    {'I', 'H', 'D', 'R'}, {'P', 'L', 'T', 'E'}, {'I', 'D', 'A', 'T'}, {'I', 'E', 'N', 'D'}};
constexpr std::uint32_t kMaxChunkLength = 0x7FFFFFFFu;
constexpr std::int32_t kHeaderLength = 13;

// One known chunk's data bytes, without length, type and CRC.
using TChunk = TMemoryStream;

std::uint32_t BigEndian32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// The slot of a chunk type, or -1 for a type the decoder skips.
int ChunkSlot(const std::uint8_t* type) {
    for (int kind = ckIEND; kind >= ckIHDR; --kind)
        if (std::memcmp(type, kChunkCodes[kind], 4) == 0) return kind;
    return -1;
}

void ReadChunks(TStream& stream, std::unique_ptr<TChunk> (&slots)[ckCount]) {
    std::uint8_t signature[8];
    if (stream.Read(signature, sizeof signature) != sizeof signature)
        throw EPNGError("The PNG image ends inside its signature");
    const std::int64_t size = stream.Size();
    while (stream.Position() < size) {
        std::uint8_t head[8];
        if (stream.Read(head, sizeof head) != sizeof head)
            throw EPNGError("The PNG image ends inside a chunk header");
        std::uint32_t length = BigEndian32(head);
        int kind = ChunkSlot(head + 4);
        if (kind == ckIEND) return; // nothing after it belongs to the image
        if (length > kMaxChunkLength) throw EPNGError("A PNG chunk is too long");
        // Data and CRC must both be there: anything shorter is a truncated file.
        if (std::int64_t{length} + 4 > size - stream.Position())
            throw EPNGError("A PNG chunk runs past the end of the image");
        if (kind < 0) {
            stream.Seek(static_cast<std::int32_t>(length + 4), soCurrent);
            continue;
        }
        // A second IDAT would be the rest of the image data, which this decoder
        // does not join; a later IHDR or PLTE simply replaces the earlier one.
        if (kind == ckIDAT && slots[ckIDAT])
            throw EPNGError("The PNG image data is split over several chunks");
        auto chunk = std::make_unique<TChunk>();
        chunk->CopyFrom(stream, static_cast<std::int32_t>(length));
        slots[kind] = std::move(chunk);
        stream.Seek(4, soCurrent); // the CRC is not checked
    }
}

void CheckHeader(const TChunk* ihdr, std::uint32_t& width, std::uint32_t& height) {
    if (!ihdr) throw EPNGError("The PNG image has no header chunk");
    if (ihdr->ByteCount() < kHeaderLength) throw EPNGError("The PNG header chunk is too short");
    const std::uint8_t* h = ihdr->Memory();
    width = BigEndian32(h);
    height = BigEndian32(h + 4);
    if (width == 0 || height == 0 || width > kPNGMaxSide || height > kPNGMaxSide ||
        std::int64_t{width} * height > kPNGMaxPixels)
        throw EPNGError("The PNG image size is out of range");
    if (h[8] != 8) throw EPNGError("Only PNG images of bit depth 8 are supported");
    if (h[9] != 3) throw EPNGError("Only palette PNG images are supported");
    if (h[10] != 0 || h[11] != 0) throw EPNGError("Unknown PNG compression or filter method");
    if (h[12] != 0) throw EPNGError("Interlaced PNG images are not supported");
}

// Rows are stored unfiltered: a filter byte of 0, then one palette index per pixel.
void ReadRows(TChunk& idat, TPaletteImage& image) {
    idat.SetPosition(0);
    TZDecompressionStream data(idat);
    const std::int32_t width = image.Width;
    for (std::int32_t y = 0; y < image.Height; ++y) {
        std::uint8_t filter = 0;
        std::uint8_t* row =
            image.Pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        if (data.Read(&filter, 1) != 1 || data.Read(row, width) != width)
            throw EPNGError("The PNG image data ends before the last row");
        if (filter != 0) throw EPNGError("Filtered PNG rows are not supported");
        for (std::int32_t x = 0; x < width; ++x)
            if (row[x] >= image.ColorCount) throw EPNGError("A PNG pixel lies outside the palette");
    }
}
} // namespace

TPaletteImage DecodePNG(TStream& stream) {
    std::unique_ptr<TChunk> slots[ckCount];
    ReadChunks(stream, slots);

    std::uint32_t width = 0, height = 0;
    CheckHeader(slots[ckIHDR].get(), width, height);
    if (!slots[ckPLTE]) throw EPNGError("The PNG image has no palette");
    if (!slots[ckIDAT]) throw EPNGError("The PNG image has no image data");

    TPaletteImage image;
    image.Width = static_cast<std::int32_t>(width);
    image.Height = static_cast<std::int32_t>(height);
    image.ColorCount = std::min(256, slots[ckPLTE]->ByteCount() / 3);
    if (image.ColorCount == 0) throw EPNGError("The PNG palette is empty");
    const std::uint8_t* plte = slots[ckPLTE]->Memory();
    for (std::int32_t i = 0; i < image.ColorCount; ++i)
        image.Palette[i] = {plte[3 * i], plte[3 * i + 1], plte[3 * i + 2]};
    image.Pixels.resize(static_cast<std::size_t>(width) * height);
    try {
        ReadRows(*slots[ckIDAT], image);
    } catch (const EZlibError&) {
        throw EPNGError("The PNG image data is damaged");
    }
    return image;
}

TRGBImage::TRGBImage(std::int32_t width, std::int32_t height)
    : Width(std::max(width, 0)), Height(std::max(height, 0)),
      Pixels(static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height)) {}

TRGBImage PaletteToRGB(const TPaletteImage& image) {
    TRGBImage rgb(image.Width, image.Height);
    for (std::size_t i = 0; i < rgb.Pixels.size() && i < image.Pixels.size(); ++i) {
        const TPaletteColor& c = image.Palette[image.Pixels[i]];
        rgb.Pixels[i] = {c.Red, c.Green, c.Blue};
    }
    return rgb;
}

namespace {
// Mitchell-Netravali cubic with B = C = 1/3, support 2.
float Mitchell(float x) {
    x = std::fabs(x);
    if (x < 1.0f) return (7.0f * x * x * x - 12.0f * x * x + 16.0f / 3.0f) / 6.0f;
    if (x < 2.0f) return (-7.0f / 3.0f * x * x * x + 12.0f * x * x - 20.0f * x + 32.0f / 3.0f) / 6.0f;
    return 0.0f;
}

struct Tap {
    std::int32_t Index;
    float Weight;
};

// Per output index, the source pixels it sums and their weights. Output ends meet
// source ends (scale = (out - 1) / (in - 1)); a 1-pixel source scales by the
// output length. Weights are left as the filter gives them, not normalised.
std::vector<std::vector<Tap>> Contributions(std::int32_t sourceLength, std::int32_t destinationLength) {
    const float scale = sourceLength == 1 ? static_cast<float>(destinationLength)
                                          : static_cast<float>(std::max(1, destinationLength - 1)) /
                                                static_cast<float>(sourceLength - 1);
    const float halfWidth = scale >= 1.0f ? 2.0f : 2.0f / scale;
    std::vector<std::vector<Tap>> taps(static_cast<std::size_t>(destinationLength));
    for (std::int32_t i = 0; i < destinationLength; ++i) {
        const float centre = static_cast<float>(i) / scale;
        const auto first = static_cast<std::int32_t>(std::floor(centre - halfWidth));
        const auto last = static_cast<std::int32_t>(std::ceil(centre + halfWidth));
        for (std::int32_t j = first; j <= last; ++j) {
            const float distance = centre - static_cast<float>(j);
            const float weight = scale >= 1.0f ? Mitchell(distance) : Mitchell(distance * scale) * scale;
            if (weight == 0.0f) continue;
            // Negative indexes mirror; past the end sticks to the last pixel.
            const std::int32_t index = std::min(sourceLength - 1, j < 0 ? -j : j);
            taps[static_cast<std::size_t>(i)].push_back({index, weight});
        }
    }
    return taps;
}

std::uint8_t ClampChannel(float v) {
    if (v > 255.0f) return 255;
    if (v < 0.0f) return 0;
    return static_cast<std::uint8_t>(v + 0.5f);
}

TRGB Sum(const std::vector<Tap>& taps, const TRGB* line, std::size_t stride) {
    float r = 0.0f, g = 0.0f, b = 0.0f;
    for (const Tap& t : taps) {
        const TRGB& p = line[static_cast<std::size_t>(t.Index) * stride];
        r += t.Weight * p.R;
        g += t.Weight * p.G;
        b += t.Weight * p.B;
    }
    return {ClampChannel(r), ClampChannel(g), ClampChannel(b)};
}
} // namespace

void Resample(const TRGBImage& source, TRGBImage& destination, bool finishing) {
    if (source.Width <= 0 || source.Height <= 0 || destination.Width <= 0 || destination.Height <= 0) return;
    const auto across = Contributions(source.Width, destination.Width);
    const auto down = Contributions(source.Height, destination.Height);

    // Pass 1: every source row to destination width; the work buffer holds
    // clamped 8-bit channels like any other image.
    TRGBImage work(destination.Width, source.Height);
    for (std::int32_t y = 0; y < source.Height; ++y)
        for (std::int32_t x = 0; x < destination.Width; ++x)
            work.At(x, y) = Sum(across[static_cast<std::size_t>(x)], &source.At(0, y), 1);
    // Pass 2: the work buffer's columns to destination height.
    const auto stride = static_cast<std::size_t>(work.Width);
    for (std::int32_t x = 0; x < destination.Width; ++x)
        for (std::int32_t y = 0; y < destination.Height; ++y)
            destination.At(x, y) = Sum(down[static_cast<std::size_t>(y)], &work.At(x, 0), stride);
    if (finishing) FinishResampled(destination);
}

void FinishResampled(TRGBImage& image) {
    for (TRGB& p : image.Pixels)
        if (p.R > 250 && p.G > 250 && p.B > 250) p = {255, 255, 255};

    static constexpr int kKernel[3][3] = {{-1, -2, -1}, {-2, 28, -2}, {-1, -2, -1}};
    const std::vector<TRGB> copy = image.Pixels;
    const std::int32_t w = image.Width, h = image.Height;
    auto at = [&](std::int32_t x, std::int32_t y) -> const TRGB& {
        return copy[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)];
    };
    auto clamp = [](int sum) -> std::uint8_t {
        return static_cast<std::uint8_t>(sum < 0 ? 0 : std::min(sum / 16, 255));
    };
    for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x) {
            const TRGB& centre = at(x, y);
            int r = 0, g = 0, b = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    // A neighbour counts only in rows 1 to h - 1 and columns 1 to
                    // w - 1, both ends included: row 0 and column 0 are treated as
                    // outside, the last row and column as inside. Elsewhere the
                    // centre pixel stands in.
                    const std::int32_t nx = x + dx, ny = y + dy;
                    const bool inside = ny >= 1 && ny <= h - 1 && nx >= 1 && nx <= w - 1;
                    const TRGB& p = inside ? at(nx, ny) : centre;
                    const int k = kKernel[dy + 1][dx + 1];
                    r += k * p.R;
                    g += k * p.G;
                    b += k * p.B;
                }
            }
            image.At(x, y) = {clamp(r), clamp(g), clamp(b)};
        }
    }
}
