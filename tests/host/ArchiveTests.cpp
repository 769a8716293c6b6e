// The archive record format: writer and reader agree, and damaged bytes are refused
// with the record and offset named, never read past.
#include "Archive.h"
#include <gtest/gtest.h>
#include <cstring>
#include <memory>
#include <random>

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
        if (start == n) {
            EXPECT_EQ(error, "") << n; // ends on a record boundary
            auto copy = Exact(a, n);
            EXPECT_EQ(ReadArchive(copy.get(), n).size(), whole);
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
