// The archive record format: writer and reader agree, and damaged bytes are refused
// with the record and offset named, never read past.
#include "Archive.h"
#include "Sha256.h"
#include <gtest/gtest.h>
#include <cstring>
#include <memory>
#include <random>
#include <zlib.h>

namespace {
struct Rec {
    std::string name;
    double when;
    std::string bytes;
};

std::vector<std::uint8_t> Build(const std::vector<Rec>& recs) {
    std::vector<std::uint8_t> a;
    for (const Rec& r : recs)
        AppendRecord(a, r.name, r.when, r.bytes.data(), static_cast<std::uint32_t>(r.bytes.size()));
    return a;
}

// An exact-size heap copy, so that the address sanitizer sees any read beyond it.
std::unique_ptr<std::uint8_t[]> Exact(const std::vector<std::uint8_t>& a, std::size_t n) {
    auto p = std::make_unique<std::uint8_t[]>(n ? n : 1);
    if (n) std::memcpy(p.get(), a.data(), n);
    return p;
}

std::vector<std::uint8_t> Deflate(const std::uint8_t* data, std::size_t n) {
    uLongf size = compressBound(static_cast<uLong>(n));
    std::vector<std::uint8_t> z(size);
    EXPECT_EQ(compress2(z.data(), &size, data, static_cast<uLong>(n), 9), Z_OK);
    z.resize(size);
    return z;
}

// What the streaming reader says of the first n bytes, compressed whole.
std::string ScanErrorOf(const std::vector<std::uint8_t>& a, std::size_t n, std::size_t* count = nullptr) {
    std::vector<std::uint8_t> z = Deflate(a.data(), n);
    TMemorySource source(z.data(), z.size());
    TStreamInflater inflater(source);
    try {
        std::uint64_t length = 0;
        std::vector<ArchiveRecord> recs = ScanArchive(inflater, length);
        EXPECT_EQ(length, n);
        if (count) *count = recs.size();
    } catch (const EArchiveError& e) {
        return e.Message();
    }
    return "";
}

std::string ErrorOf(const std::vector<std::uint8_t>& a, std::size_t n) {
    auto copy = Exact(a, n);
    try {
        ReadArchive(copy.get(), n);
    } catch (const EArchiveError& e) {
        return e.Message();
    }
    return "";
}

const std::vector<Rec> kSample = {
    {"qrd.exe", 45123.5, std::string("MZ\0\x90", 4) + std::string(300, 'x')},
    {"Licence.txt", 45000.25, "Licence\r\n"},
    {"Mod\xC3\xA8les de document\\Lettres\\Vide.rtf", 44000.0, ""},
    {"Collections d'inserts\\Cl\xC3\xB4tures\\Fin.rtf", 43000.125, "{\\rtf1 fin}"},
};
} // namespace

TEST(ArchiveFormat, RecordLayoutIsLittleEndian) {
    std::vector<std::uint8_t> a;
    double when = 1.5; // 0x3FF8000000000000
    AppendRecord(a, "ab", when, "xyz", 3);
    const std::vector<std::uint8_t> expected = {2,    'a',  'b', 0, 0, 0, 0,   0,   0,
                                                0xF8, 0x3F, 3,   0, 0, 0, 'x', 'y', 'z'};
    EXPECT_EQ(a, expected);
}

TEST(ArchiveFormat, RoundTripKeepsNamesSizesBytesAndTimes) {
    std::vector<Rec> recs = kSample;
    recs.push_back({std::string(240, 'n') + "\\" + std::string(14, 'm'), 36526.999988426, "z"}); // 255 bytes
    std::vector<std::uint8_t> a = Build(recs);
    auto copy = Exact(a, a.size());
    std::vector<ArchiveRecord> got = ReadArchive(copy.get(), a.size());
    ASSERT_EQ(got.size(), recs.size());
    for (std::size_t i = 0; i < recs.size(); ++i) {
        EXPECT_EQ(got[i].Name, recs[i].name);
        EXPECT_EQ(got[i].DateTime, recs[i].when);
        ASSERT_EQ(got[i].Size, recs[i].bytes.size());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(got[i].Data), got[i].Size), recs[i].bytes);
        // Contents are views into the buffer, never copies.
        EXPECT_GE(got[i].Data, copy.get());
        EXPECT_LE(got[i].Data + got[i].Size, copy.get() + a.size());
    }
    EXPECT_EQ(got.back().Name.size(), 255u);
    EXPECT_EQ(got[1].Offset, 13 + 7 + recs[0].bytes.size());
    EXPECT_TRUE(ReadArchive(copy.get(), 0).empty());
}

TEST(ArchiveNames, AcceptedNames) {
    for (const char* name : {"qrd.exe", "Mod\xC3\xA8les de document\\Factures & devis\\Facture.rtf",
                             "Collections d'inserts\\a..b.rtf", "CONSOLE.rtf", "COM0", "x\\.hidden",
                             "\xE2\x82\xAC uro", "a b\\c d"})
        EXPECT_EQ(EntryNameProblem(name), "") << name;
}

// Windows takes the superscript digits of Latin-1 for COM and LPT port numbers:
// such a name would write the entry's bytes to a port, not to a file.
TEST(ArchiveNames, SuperscriptPortNumbersAreDevices) {
    for (const char* name :
         {"COM\xC2\xB9", "Mod\xC3\xA8les\\com\xC2\xB2.rtf", "LPT\xC2\xB3 .txt", "lpt\xC2\xB9"})
        EXPECT_NE(EntryNameProblem(name).find("device"), std::string::npos) << name;
    // Other letters after COM or LPT name plain files.
    for (const char* name : {"COM\xC2\xB4", "LPT\xC2\xBC", "COM\xC2\xB9\xC2\xB9", "COM\xC2\xB9x.rtf"})
        EXPECT_EQ(EntryNameProblem(name), "") << name;
}

TEST(ArchiveNames, RefusedNamesSayWhy) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "empty"},
        {"\\Windows\\x.dll", "absolute"},
        {"/etc/passwd", "\"/\""},
        {"a/b", "\"/\""},
        {"C:x", "drive"},
        {"a\\b:stream", "drive"},
        {"a\\..\\..\\b", "\"..\""},
        {"..", "\"..\""},
        {".\\a", "\".\""},
        {"a\\\\b", "empty part"},
        {"a\\", "empty part"},
        {std::string("a\0b", 3), "control character 0x00"},
        {"a\tb", "control character 0x09"},
        {"a<b", "\"<\""},
        {"a|b", "\"|\""},
        {"a?", "\"?\""},
        {"a*", "\"*\""},
        {"a\"b", "\"\"\""},
        {"dossier.\\x", "ending in a dot"},
        {"x ", "ending in a dot or a space"},
        {"CON", "device"},
        {"a\\nul.txt", "device"},
        {"com1.rtf", "device"},
        {"LPT9", "device"},
        {"a\xC0\xAF", "not valid UTF-8"}, // overlong "/"
        {"\xC1\x9C"
         "a",
         "not valid UTF-8"},                  // overlong "\"
        {"a\xE0\x80\xAE", "not valid UTF-8"}, // overlong "."
        {"a\xED\xA0\x80", "not valid UTF-8"}, // surrogate
        {"\x80"
         "abc",
         "not valid UTF-8"},                    // stray continuation
        {"a\xC3", "not valid UTF-8 at byte 1"}, // cut short
        {"a\xC3"
         "A",
         "not valid UTF-8"}, // bad continuation
        {"a\xF0\x9F\x98\x80", "outside the basic plane"},
        {std::string(256, 'a'), "256 bytes"},
    };
    for (const auto& [name, why] : cases) {
        std::string got = EntryNameProblem(name);
        EXPECT_NE(got.find(why), std::string::npos) << "name: " << name << " -> " << got;
        std::vector<std::uint8_t> a;
        EXPECT_THROW(AppendRecord(a, name, 0, "", 0), EArchiveError) << name;
        EXPECT_TRUE(a.empty());
    }
}

TEST(ArchiveDamage, EveryCutNamesTheRecordItStopsIn) {
    std::vector<std::uint8_t> a = Build(kSample);
    std::vector<std::size_t> ends;
    for (std::size_t pos = 0; pos < a.size();) {
        pos += kRecordOverhead + a[pos] + (a[pos + 1 + a[pos] + 8] | a[pos + 1 + a[pos] + 9] << 8);
        ends.push_back(pos);
    }
    ASSERT_EQ(ends.back(), a.size());
    for (std::size_t n = 0; n <= a.size(); ++n) {
        std::size_t whole = 0, start = 0;
        while (whole < ends.size() && ends[whole] <= n) start = ends[whole++];
        std::string error = ErrorOf(a, n);
        // The streaming reader says exactly what the reader of a whole buffer says.
        std::size_t scanned = 0;
        EXPECT_EQ(ScanErrorOf(a, n, &scanned), error) << n;
        if (start == n) {
            EXPECT_EQ(error, "") << n; // ends on a record boundary
            auto copy = Exact(a, n);
            EXPECT_EQ(ReadArchive(copy.get(), n).size(), whole);
            EXPECT_EQ(scanned, whole);
        } else {
            EXPECT_NE(
                error.find("record " + std::to_string(whole + 1) + " at byte " + std::to_string(start) + ":"),
                std::string::npos)
                << n << ": " << error;
            EXPECT_NE(error.find("past the end"), std::string::npos) << error;
        }
    }
}

TEST(ArchiveDamage, BadNamesAndHugeSizesInsideTheData) {
    std::vector<std::uint8_t> a = Build(kSample);
    std::size_t second = kRecordOverhead + 7 + kSample[0].bytes.size();
    std::vector<std::uint8_t> bad = a;
    bad[second + 1] = '\\'; // "\icence.txt"
    EXPECT_NE(
        ErrorOf(bad, bad.size())
            .find("record 2 at byte " + std::to_string(second) + ": the name \"\\icence.txt\" is absolute"),
        std::string::npos)
        << ErrorOf(bad, bad.size());

    bad = a;
    bad[second] = 0; // an empty name: the rest no longer lines up
    EXPECT_NE(ErrorOf(bad, bad.size()).find("record 2"), std::string::npos);

    bad = a;
    std::size_t sizeAt = second + 1 + 11 + 8;
    for (int i = 0; i < 4; ++i) bad[sizeAt + i] = 0xFF; // 4 GiB - 1: must not wrap around
    std::string e = ErrorOf(bad, bad.size());
    EXPECT_NE(e.find("record 2"), std::string::npos) << e;
    EXPECT_NE(e.find("4294967295 bytes"), std::string::npos) << e;

    bad = a;
    bad[0] = 255; // the first name swallows the rest
    EXPECT_NE(ErrorOf(bad, bad.size()).find("record 1 at byte 0"), std::string::npos);
}

TEST(ArchiveDamage, RandomMutationsNeverReadOutside) {
    std::vector<std::uint8_t> a = Build(kSample);
    std::mt19937 rng(20240501);
    int refused = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::uint8_t> m = a;
        int flips = 1 + static_cast<int>(rng() % 4);
        for (int f = 0; f < flips; ++f) m[rng() % m.size()] = static_cast<std::uint8_t>(rng());
        std::size_t n = rng() % 4 == 0 ? rng() % (m.size() + 1) : m.size();
        auto copy = Exact(m, n);
        try {
            for (const ArchiveRecord& r : ReadArchive(copy.get(), n)) {
                ASSERT_LE(r.Data + r.Size, copy.get() + n);
                ASSERT_EQ(EntryNameProblem(r.Name), "");
            }
        } catch (const EArchiveError&) {
            ++refused;
        }
    }
    EXPECT_GT(refused, 0);
}

TEST(ArchiveIndex, RoundTripAndEveryDamageRefused) {
    std::vector<std::uint8_t> a = Build(kSample);
    ArchiveIndex index;
    index.CompressedLength = 123456789012ull; // 64 bits
    index.HasProof = true;
    for (std::size_t i = 0; i < index.Proof.size(); ++i) index.Proof[i] = static_cast<std::uint8_t>(i * 7);
    auto copy = Exact(a, a.size());
    index.Records = ReadArchive(copy.get(), a.size());
    index.InflatedLength = a.size();
    std::vector<std::uint8_t> bytes = EncodeIndex(index);
    ArchiveIndex back;
    ASSERT_TRUE(DecodeIndex(bytes.data(), bytes.size(), back));
    EXPECT_EQ(back.CompressedLength, index.CompressedLength);
    EXPECT_TRUE(back.HasProof);
    EXPECT_EQ(back.Proof, index.Proof);
    EXPECT_EQ(back.InflatedLength, index.InflatedLength);
    ASSERT_EQ(back.Records.size(), kSample.size());
    for (std::size_t i = 0; i < kSample.size(); ++i) {
        EXPECT_EQ(back.Records[i].Name, kSample[i].name);
        EXPECT_EQ(back.Records[i].DateTime, kSample[i].when);
        EXPECT_EQ(back.Records[i].Size, kSample[i].bytes.size());
        EXPECT_EQ(back.Records[i].Offset, index.Records[i].Offset);
        EXPECT_EQ(back.Records[i].Data, nullptr);
    }
    // Any byte changed, or any length, and the index is no index.
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::vector<std::uint8_t> bad = bytes;
        bad[i] ^= 0x20;
        auto exact = Exact(bad, bad.size());
        EXPECT_FALSE(DecodeIndex(exact.get(), bad.size(), back)) << i;
    }
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        auto exact = Exact(bytes, n);
        EXPECT_FALSE(DecodeIndex(exact.get(), n, back)) << n;
    }
    // Well sealed but inconsistent: records that do not add up to the length.
    index.InflatedLength = a.size() + 1;
    bytes = EncodeIndex(index);
    EXPECT_FALSE(DecodeIndex(bytes.data(), bytes.size(), back));
    index.InflatedLength = a.size() - 1;
    bytes = EncodeIndex(index);
    EXPECT_FALSE(DecodeIndex(bytes.data(), bytes.size(), back));
    index.InflatedLength = a.size();
    index.HasProof = false; // the older form: the same records, no proof
    index.OlderCheck = 0xCAFEF00D;
    bytes = EncodeIndex(index);
    EXPECT_TRUE(bytes[3] == '1' && DecodeIndex(bytes.data(), bytes.size(), back) && !back.HasProof &&
                EncodeIndex(back) == bytes);
}

// Offsets past 4 GiB: an entry of 4 GiB - 1 zero bytes, then one more entry,
// found and read where it lies, its offset in 64 bits.
TEST(ArchiveScan, OffsetsBeyondFourGiB) {
    constexpr std::uint32_t kHuge = 0xFFFFFFFFu;
    std::vector<std::uint8_t> head, tail;
    AppendRecordHeader(head, "qrd.exe", 1.0, kHuge);
    AppendRecord(tail, "Licence.txt", 2.0, "fin", 3);
    // Made quickly: one raw deflate piece of 1 MiB of zeros ends on a full
    // flush, so the same bytes can stand 4095 times over; the check value is
    // combined, not computed over 4 GiB.
    z_stream z{};
    ASSERT_EQ(deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::vector<std::uint8_t> block(1 << 16);
    auto piece = [&](const std::uint8_t* p, std::size_t n, int flush) {
        std::vector<std::uint8_t> out;
        z.next_in = const_cast<Bytef*>(p);
        z.avail_in = static_cast<uInt>(n);
        int r;
        do {
            z.next_out = block.data();
            z.avail_out = static_cast<uInt>(block.size());
            r = deflate(&z, flush);
            out.insert(out.end(), block.data(), block.data() + (block.size() - z.avail_out));
        } while (z.avail_in != 0 || z.avail_out == 0 || (flush == Z_FINISH && r != Z_STREAM_END));
        return out;
    };
    constexpr std::size_t kMiB = 1 << 20;
    std::vector<std::uint8_t> zeros(kMiB), out = {0x78, 0x01};
    auto add = [&](const std::vector<std::uint8_t>& p) { out.insert(out.end(), p.begin(), p.end()); };
    add(piece(head.data(), head.size(), Z_FULL_FLUSH));
    std::vector<std::uint8_t> mib = piece(zeros.data(), kMiB, Z_FULL_FLUSH);
    uLong check = adler32(adler32(0, nullptr, 0), head.data(), static_cast<uInt>(head.size()));
    const uLong zeroCheck = adler32(adler32(0, nullptr, 0), zeros.data(), kMiB);
    for (int i = 0; i < 4095; ++i) {
        add(mib);
        check = adler32_combine(check, zeroCheck, kMiB);
    }
    add(piece(zeros.data(), kMiB - 1, Z_FULL_FLUSH));
    check = adler32_combine(check, adler32(adler32(0, nullptr, 0), zeros.data(), kMiB - 1), kMiB - 1);
    add(piece(tail.data(), tail.size(), Z_FINISH));
    check =
        adler32_combine(check, adler32(adler32(0, nullptr, 0), tail.data(), static_cast<uInt>(tail.size())),
                        static_cast<z_off_t>(tail.size()));
    deflateEnd(&z);
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(check >> shift));

    TMemorySource source(out.data(), out.size());
    TStreamInflater inflater(source);
    std::uint64_t length = 0;
    std::vector<ArchiveRecord> recs = ScanArchive(inflater, length);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].Size, kHuge);
    const std::uint64_t second = head.size() + std::uint64_t(kHuge);
    EXPECT_EQ(recs[1].Offset, second);
    EXPECT_EQ(length, second + tail.size());
    EXPECT_EQ(recs[1].Name, "Licence.txt"); // its header read whole, beyond 4 GiB
    EXPECT_EQ(recs[1].Size, 3u);
    EXPECT_TRUE(inflater.Ended()); // the check value over all of it matched
}

// The digest the payload's index and the install records are checked by: known
// answers, fed whole and in every cut, with and without the processor's SHA
// instructions.
TEST(Sha256, KnownDigestsInAnyPiecesEitherWay) {
    const std::string million(1000000, 'a');
    const struct {
        std::string text, digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    const bool had = Sha256UseInstructions;
    for (bool instructions : {false, had}) {
        Sha256UseInstructions = instructions;
        for (const auto& c : cases) {
            EXPECT_EQ(TSha256::HexOf(c.text.data(), c.text.size()), c.digest);
            if (c.text.size() > 200) continue;
            for (std::size_t cut = 0; cut <= c.text.size(); ++cut) {
                TSha256 h;
                h.Add(c.text.data(), cut);
                h.Add(c.text.data() + cut, c.text.size() - cut);
                EXPECT_EQ(TSha256::Hex(h.Finish()), c.digest) << "cut at " << cut;
            }
        }
        // Odd pieces over many blocks, against the digest fed whole.
        TSha256 h;
        for (std::size_t at = 0, piece = 1; at < million.size(); at += piece, piece = piece * 7 % 1031 + 1)
            h.Add(million.data() + at, std::min(piece, million.size() - at));
        EXPECT_EQ(TSha256::Hex(h.Finish()), cases[3].digest);
    }
    Sha256UseInstructions = had;
}
