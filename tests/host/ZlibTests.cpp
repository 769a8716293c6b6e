// The two inflate wrappers over real zlib streams, whole and damaged.
#include "Zlib.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <zlib.h>

namespace {
std::string Deflate(const std::string& data, int level = 9) {
    uLongf n = compressBound(static_cast<uLong>(data.size()));
    std::string out(n, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(data.data()),
                        static_cast<uLong>(data.size()), level),
              Z_OK);
    out.resize(n);
    return out;
}

std::string Sample(std::size_t n) {
    std::string s(n, '\0');
    unsigned x = 12345;
    for (auto& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>("abcdefgh \r\n"[(x >> 16) % 11]);
    }
    return s;
}

std::string Inflate(const std::string& z, std::uint32_t estimate) {
    std::uint32_t len = 0;
    InflatedBuffer b = InflateBuffer(z.data(), static_cast<std::uint32_t>(z.size()), estimate, len);
    return std::string(reinterpret_cast<const char*>(b.get()), len);
}
} // namespace

TEST(InflateBuffer, WholeStreamsWithAnyEstimate) {
    std::string data = Sample(300000);
    std::string z = Deflate(data);
    EXPECT_EQ(static_cast<unsigned char>(z[0]), 0x78);
    EXPECT_EQ(static_cast<unsigned char>(z[1]), 0xDA);
    for (std::uint32_t estimate : {0u, 1u, 1000u, static_cast<std::uint32_t>(z.size() * 5), 10000000u})
        EXPECT_EQ(Inflate(z, estimate), data) << estimate;
    EXPECT_EQ(Inflate(Deflate(""), 0), "");
}

TEST(InflateBuffer, DamagedStreamsEndWithAnError) {
    std::string z = Deflate(Sample(50000));
    std::uint32_t len = 0;
    for (std::size_t cut : {std::size_t(0), std::size_t(1), std::size_t(2), z.size() / 2, z.size() - 1}) {
        EXPECT_THROW(InflateBuffer(z.data(), static_cast<std::uint32_t>(cut), 0, len), EZlibError) << cut;
    }
    std::string bad = z;
    bad[bad.size() - 1] ^= 0x55; // Adler-32 trailer
    EXPECT_THROW(InflateBuffer(bad.data(), static_cast<std::uint32_t>(bad.size()), 0, len), EZlibError);
    std::string garbage(1000, '\xFF');
    EXPECT_THROW(InflateBuffer(garbage.data(), 1000, 0, len), EZlibError);
}

TEST(ZDecompressionStream, PiecesPositionsAndRestart) {
    std::string data = Sample(200000);
    std::string z = "junk" + Deflate(data);
    TReadOnlyMemoryStream src(z.data(), static_cast<std::int32_t>(z.size()));
    src.SetPosition(4);
    TZDecompressionStream zs(src);
    std::string got;
    char row[121];
    std::int32_t n;
    while ((n = zs.Read(row, sizeof row)) > 0) got.append(row, static_cast<std::size_t>(n));
    EXPECT_EQ(got, data);
    EXPECT_EQ(zs.Position(), static_cast<std::int32_t>(data.size()));
    EXPECT_EQ(zs.Read(row, sizeof row), 0);
    // Size is the current position; seeking from the end or backwards changes nothing.
    EXPECT_EQ(zs.Seek(-10, soEnd), static_cast<std::int32_t>(data.size()));
    EXPECT_EQ(zs.Seek(100, soBeginning), static_cast<std::int32_t>(data.size()));
    EXPECT_EQ(zs.Seek(-5, soCurrent), static_cast<std::int32_t>(data.size()));
    // Restarting a stream that began part-way into its source starts there again.
    zs.SetPosition(0);
    ASSERT_EQ(zs.Read(row, sizeof row), static_cast<std::int32_t>(sizeof row));
    EXPECT_EQ(std::string(row, sizeof row), data.substr(0, sizeof row));

    // Position 0 restarts from the source's own start, wherever the source stands.
    std::string plain = Deflate(data);
    TReadOnlyMemoryStream src2(plain.data(), static_cast<std::int32_t>(plain.size()));
    TZDecompressionStream zs2(src2);
    zs2.Read(row, 50);
    src2.SetPosition(77);
    EXPECT_EQ(zs2.Read(row, 10), 10); // the remembered source position is restored
    EXPECT_EQ(std::string(row, 10), data.substr(50, 10));
    zs2.SetPosition(0);
    src2.SetPosition(999);
    ASSERT_EQ(zs2.Read(row, 20), 20);
    EXPECT_EQ(std::string(row, 20), data.substr(0, 20));
    // Forward seeks skip output.
    EXPECT_EQ(zs2.Seek(5000, soCurrent), 5020);
    EXPECT_EQ(zs2.Seek(9000, soBeginning), 9000);
    ASSERT_EQ(zs2.Read(row, 3), 3);
    EXPECT_EQ(std::string(row, 3), data.substr(9000, 3));
    EXPECT_THROW(zs2.Seek(static_cast<std::int32_t>(data.size()), soCurrent), EStreamError);
}

TEST(ZDecompressionStream, TruncatedAndCorruptSources) {
    std::string data = Sample(100000);
    std::string z = Deflate(data);
    std::string cut = z.substr(0, z.size() / 2);
    TReadOnlyMemoryStream src(cut.data(), static_cast<std::int32_t>(cut.size()));
    TZDecompressionStream zs(src);
    std::string buf(data.size(), '\0');
    std::int32_t n = zs.Read(buf.data(), static_cast<std::int32_t>(buf.size()));
    EXPECT_LT(n, static_cast<std::int32_t>(data.size()));
    EXPECT_EQ(buf.substr(0, static_cast<std::size_t>(n)), data.substr(0, static_cast<std::size_t>(n)));
    EXPECT_EQ(zs.Read(buf.data(), 10), 0);

    std::string bad = z;
    for (std::size_t i = 10; i < 40; ++i) bad[i] = '\xFF';
    TReadOnlyMemoryStream src2(bad.data(), static_cast<std::int32_t>(bad.size()));
    TZDecompressionStream zs2(src2);
    EXPECT_THROW(zs2.Read(buf.data(), static_cast<std::int32_t>(buf.size())), EZlibError);
}

TEST(InflateBuffer, EstimatesAtTheExactSizeAndJustBelow) {
    // The output fills the buffer exactly before the trailer is read: no early end, no extra byte.
    std::string data = Sample(70000);
    std::string z = Deflate(data);
    for (std::uint32_t estimate :
         {static_cast<std::uint32_t>(data.size()), static_cast<std::uint32_t>(data.size() - 1),
          static_cast<std::uint32_t>(data.size() + 1)})
        EXPECT_EQ(Inflate(z, estimate), data) << estimate;
}

TEST(InflateBuffer, StreamsNeedingADictionaryEndWithAnError) {
    // A preset dictionary is never supplied: both wrappers must stop, not spin.
    std::string data = Sample(5000), dict = "abcdefgh";
    z_stream d{};
    ASSERT_EQ(deflateInit(&d, 9), Z_OK);
    ASSERT_EQ(
        deflateSetDictionary(&d, reinterpret_cast<const Bytef*>(dict.data()), static_cast<uInt>(dict.size())),
        Z_OK);
    std::string z(deflateBound(&d, static_cast<uLong>(data.size())), '\0');
    d.next_in = reinterpret_cast<Bytef*>(data.data());
    d.avail_in = static_cast<uInt>(data.size());
    d.next_out = reinterpret_cast<Bytef*>(z.data());
    d.avail_out = static_cast<uInt>(z.size());
    ASSERT_EQ(deflate(&d, Z_FINISH), Z_STREAM_END);
    z.resize(d.total_out);
    deflateEnd(&d);

    std::uint32_t len = 0;
    EXPECT_THROW(InflateBuffer(z.data(), static_cast<std::uint32_t>(z.size()), 0, len), EZlibError);
    TReadOnlyMemoryStream src(z.data(), static_cast<std::int32_t>(z.size()));
    TZDecompressionStream zs(src);
    char buf[100];
    EXPECT_THROW(zs.Read(buf, sizeof buf), EZlibError);
}

// The payload's inflater: any piece sizes give the same bytes, a restart gives
// them again, a cut or damaged stream ends with an error, never a loop.
TEST(StreamInflater, PiecesRestartSkipAndDamage) {
    std::string data = Sample(700000);
    std::string z = Deflate(data);
    TMemorySource source(z.data(), z.size());
    TStreamInflater in(source);
    std::string got;
    char piece[7777];
    while (std::size_t n = in.Read(piece, (got.size() % 3 + 1) * 1000)) got.append(piece, n);
    EXPECT_EQ(got, data);
    EXPECT_TRUE(in.Ended());
    EXPECT_EQ(in.Position(), data.size());
    EXPECT_EQ(in.Read(piece, sizeof piece), 0u);
    in.Restart();
    EXPECT_FALSE(in.Ended());
    EXPECT_EQ(in.Skip(500000), 500000u);
    ASSERT_EQ(in.Read(piece, 10), 10u);
    EXPECT_EQ(std::string(piece, 10), data.substr(500000, 10));
    EXPECT_EQ(in.Skip(1u << 30), data.size() - 500010); // only what there is

    for (std::size_t cut : {std::size_t(0), std::size_t(1), z.size() / 2, z.size() - 1}) {
        TMemorySource part(z.data(), cut);
        TStreamInflater cutIn(part);
        try {
            cutIn.Skip(data.size() + 1);
            ADD_FAILURE() << "a stream cut at " << cut << " was read whole";
        } catch (const EZlibError& e) {
            EXPECT_TRUE(std::string(e.Message()).find("ends early") != std::string::npos ||
                        std::string(e.Message()).find("Damaged") != std::string::npos)
                << e.Message();
        }
    }
    std::string bad = z;
    bad[bad.size() / 2] ^= 0x40;
    bad[bad.size() - 2] ^= 0x01; // the check value too
    TMemorySource damaged(bad.data(), bad.size());
    TStreamInflater badIn(damaged);
    EXPECT_THROW(badIn.Skip(data.size() + 1), EZlibError);
}

// The same values as zlib's: every length and alignment around a piece, runs
// of 0xFF as long as the sums may grow before they are reduced, and checks
// carried from one call to the next.
TEST(Adler32, AgreesWithZlib) {
    std::string bytes = Sample(200000);
    for (std::size_t i = 0; i < bytes.size(); i += 7) bytes[i] = static_cast<char>(i * 37);
    std::string ones(3 * 5552 + 33, '\xFF');
    auto zlib = [](uLong check, const std::string& s, std::size_t at, std::size_t n) {
        return static_cast<std::uint32_t>(
            adler32(check, reinterpret_cast<const Bytef*>(s.data() + at), static_cast<uInt>(n)));
    };
    for (std::size_t at = 0; at < 16; ++at)
        for (std::size_t n : {0u, 1u, 15u, 16u, 17u, 31u, 5551u, 5552u, 5553u, 11104u, 100003u})
            ASSERT_EQ(Adler32(1, bytes.data() + at, n), zlib(1, bytes, at, n)) << at << " " << n;
    for (std::size_t n : {std::size_t{5552}, ones.size()})
        EXPECT_EQ(Adler32(1, ones.data(), n), zlib(1, ones, 0, n)) << n;
    std::uint32_t carried = Adler32(1, bytes.data(), 12345);
    EXPECT_EQ(Adler32(carried, bytes.data() + 12345, 70000),
              zlib(zlib(1, bytes, 0, 12345), bytes, 12345, 70000));
    EXPECT_EQ(Adler32(0xFFF0FFF0u, ones.data(), ones.size()), zlib(0xFFF0FFF0u, ones, 0, ones.size()));
}
