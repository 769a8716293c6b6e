// The payload packer and lister: order, names, times, refusals, reproducible
// bytes, and the lister on archives and on PE files carrying one.
#include "Archive.h"
#include "DosTime.h"
#include "Packer.h"
#include "PeResource.h"
#include "Zlib.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace fs = std::filesystem;

namespace {
const std::string kTemplates = kTemplatesFolder, kInserts = kInsertsFolder;
constexpr std::int64_t kEpoch = 1700000000; // 2023-11-14 22:13:20 UTC

class TempTree {
public:
    TempTree() {
        static int counter = 0;
        root_ = fs::temp_directory_path() /
                ("nvt-pack-" + std::to_string(getpid()) + "-" + std::to_string(++counter));
        fs::create_directories(root_);
    }
    ~TempTree() { fs::remove_all(root_); }
    const fs::path& root() const { return root_; }

    void File(const std::string& rel, const std::string& bytes, std::int64_t mtime = kEpoch - 1001) {
        fs::path p = root_ / rel;
        fs::create_directories(p.parent_path());
        std::FILE* f = std::fopen(p.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        struct timespec times[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
    }
    // The smallest folder the packer accepts.
    void Minimal() {
        File("qrd.exe", "MZ program");
        File("Licence.txt", "Licence\r\n");
        File(kTemplates + "/Lettre.rtf", "{\\rtf1 lettre}");
        File(kInserts + "/Fin.rtf", "{\\rtf1 fin}");
    }

private:
    fs::path root_;
};

const TimePolicy kClamped{true, kEpoch};

std::vector<std::string> Names(const std::vector<PayloadFile>& files) {
    std::vector<std::string> names;
    for (const auto& f : files) names.push_back(f.Name);
    return names;
}

std::string PackError(const fs::path& folder) {
    try {
        CollectPayload(folder, kClamped);
    } catch (const EPackError& e) {
        return e.Message();
    }
    return "";
}

std::vector<std::uint8_t> Pack(const fs::path& folder, const TimePolicy& policy = kClamped) {
    return CompressBest(BuildArchive(CollectPayload(folder, policy)));
}

double Utc(int y, int mo, int d, int h, int mi, int s) {
    double dt = 0;
    EXPECT_TRUE(EncodeDateTime({y, mo, d, h, mi, s, 0}, dt));
    return dt;
}

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// A minimal PE32 file with one section holding a resource tree type/name/language.
std::vector<std::uint8_t> MakePe(const std::vector<std::uint8_t>& data, const std::string& type = "FILES",
                                 const std::string& name = "FILES") {
    const std::size_t raw = 0x200, va = 0x1000;
    std::vector<std::uint8_t> rsrc(88);
    auto dir = [&](std::size_t at, std::uint32_t nameField, std::uint32_t target, bool named) {
        Put16(rsrc, at + (named ? 12 : 14), 1);
        Put32(rsrc, at + 16, nameField);
        Put32(rsrc, at + 20, target);
    };
    auto str = [&](const std::string& s) {
        std::uint32_t at = static_cast<std::uint32_t>(rsrc.size());
        rsrc.resize(rsrc.size() + 2 + 2 * s.size());
        Put16(rsrc, at, static_cast<std::uint32_t>(s.size()));
        for (std::size_t i = 0; i < s.size(); ++i)
            Put16(rsrc, at + 2 + 2 * i, static_cast<unsigned char>(s[i]));
        return at;
    };
    std::uint32_t typeName = str(type), resName = str(name);
    rsrc.resize((rsrc.size() + 7) & ~std::size_t(7));
    std::uint32_t dataAt = static_cast<std::uint32_t>(rsrc.size());
    rsrc.insert(rsrc.end(), data.begin(), data.end());
    dir(0, 0x80000000u | typeName, 0x80000000u | 24, true);
    dir(24, 0x80000000u | resName, 0x80000000u | 48, true);
    dir(48, 0, 72, false); // language neutral, a data entry
    Put32(rsrc, 72, static_cast<std::uint32_t>(va + dataAt));
    Put32(rsrc, 76, static_cast<std::uint32_t>(data.size()));

    std::vector<std::uint8_t> pe(raw);
    pe[0] = 'M';
    pe[1] = 'Z';
    Put32(pe, 0x3C, 0x40);
    Put32(pe, 0x40, 0x00004550);
    Put16(pe, 0x44, 0x14C);
    Put16(pe, 0x46, 1);
    Put16(pe, 0x54, 224);
    std::size_t opt = 0x58;
    Put16(pe, opt, 0x10B);
    Put32(pe, opt + 92, 16);
    Put32(pe, opt + 96 + 16, static_cast<std::uint32_t>(va));
    Put32(pe, opt + 96 + 20, static_cast<std::uint32_t>(rsrc.size()));
    std::size_t sec = opt + 224;
    std::memcpy(&pe[sec], ".rsrc", 5);
    Put32(pe, sec + 8, static_cast<std::uint32_t>(rsrc.size()));
    Put32(pe, sec + 12, static_cast<std::uint32_t>(va));
    Put32(pe, sec + 16, static_cast<std::uint32_t>(rsrc.size()));
    Put32(pe, sec + 20, static_cast<std::uint32_t>(raw));
    pe.insert(pe.end(), rsrc.begin(), rsrc.end());
    return pe;
}

std::string RunTool(const std::string& command, int& status) {
    std::FILE* p = popen((command + " 2>&1").c_str(), "r");
    std::string out;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = pclose(p);
    status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

std::string Quote(const fs::path& p) {
    std::string s = "'";
    for (char c : p.string()) s += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return s + "'";
}
} // namespace

TEST(PackOrder, ProgramLicenceThenEachTreeFilesBeforeFolders) {
    TempTree t;
    t.File("qrd.exe", "MZ");
    t.File("Licence.txt", "L");
    t.File(kTemplates + "/a.rtf", "1");
    t.File(kTemplates + "/B.rtf", "2");
    t.File(kTemplates + "/Lettres/z.rtf", "3");
    t.File(kTemplates + "/Lettres/Sous-dossier/y.rtf", "4");
    t.File(kTemplates + "/Factures & devis/f.rtf", "5");
    t.File(kTemplates + "/\xC3\x89t\xC3\xA9/e.rtf", "6");
    t.File(kInserts + "/Cl\xC3\xB4tures/c.rtf", "7");
    t.File(kInserts + "/x.rtf", "8");
    fs::create_directories(t.root() / kInserts / "Vide"); // an empty folder gives nothing
    const std::string m = kTemplates + "\\", c = kInserts + "\\";
    EXPECT_EQ(Names(CollectPayload(t.root(), kClamped)),
              (std::vector<std::string>{"qrd.exe", "Licence.txt", m + "B.rtf", m + "a.rtf",
                                        m + "Factures & devis\\f.rtf", m + "Lettres\\z.rtf",
                                        m + "Lettres\\Sous-dossier\\y.rtf", m + "\xC3\x89t\xC3\xA9\\e.rtf",
                                        c + "x.rtf", c + "Cl\xC3\xB4tures\\c.rtf"}));
}

TEST(PackRoundTrip, ArchiveHoldsNamesSizesBytesAndTimes) {
    TempTree t;
    std::string program(70000, '\0');
    for (std::size_t i = 0; i < program.size(); ++i) program[i] = static_cast<char>(i * 7 % 251);
    t.File("qrd.exe", program, kEpoch + 5000); // newer than the epoch: clamped
    t.File("Licence.txt", "Licence\r\nCR LF\r\n", kEpoch - 3599);
    t.File(kTemplates + "/Vide.rtf", "");
    t.File(kInserts + "/Fin.rtf", "{\\rtf1 fin}", 315532800); // 1980-01-01 00:00:00
    std::vector<std::uint8_t> z = Pack(t.root());
    ASSERT_GE(z.size(), 2u);
    EXPECT_EQ(z[0], 0x78);
    EXPECT_EQ(z[1], 0xDA);
    std::uint32_t n = 0;
    InflatedBuffer inflated = InflateBuffer(z.data(), static_cast<std::uint32_t>(z.size()), 0, n);
    std::vector<ArchiveRecord> recs = ReadArchive(inflated.get(), n);
    ASSERT_EQ(recs.size(), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(recs[0].Data), recs[0].Size), program);
    EXPECT_EQ(recs[0].DateTime, Utc(2023, 11, 14, 22, 13, 20));
    EXPECT_EQ(recs[1].DateTime, Utc(2023, 11, 14, 21, 13, 20)); // odd second truncated
    EXPECT_EQ(recs[1].Size, 16u);
    EXPECT_EQ(recs[2].Name, kTemplates + "\\Vide.rtf");
    EXPECT_EQ(recs[2].Size, 0u);
    EXPECT_EQ(recs[3].DateTime, Utc(1980, 1, 1, 0, 0, 0));
    // Equal to what Windows reads back at DOS precision.
    for (const auto& r : recs) EXPECT_EQ(DosTimeToDateTime(DateTimeToDosTime(r.DateTime)), r.DateTime);
}

TEST(PackTimes, LocalTimeWithoutEpochAndEnvironmentParsing) {
    const char* oldTz = std::getenv("TZ");
    std::string saved = oldTz ? oldTz : "";
    setenv("TZ", "CET-1", 1); // one hour east of UTC, no summer time
    tzset();
    EXPECT_EQ(ArchiveDateTime(kEpoch + 3, TimePolicy{}), Utc(2023, 11, 14, 23, 13, 22));
    EXPECT_EQ(ArchiveDateTime(kEpoch + 3, kClamped), Utc(2023, 11, 14, 22, 13, 20)); // clamped, in UTC
    EXPECT_EQ(ArchiveDateTime(kEpoch - 86400, kClamped), Utc(2023, 11, 13, 22, 13, 20));
    if (oldTz)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();

    setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    TimePolicy p = TimePolicyFromEnvironment();
    EXPECT_TRUE(p.Clamp);
    EXPECT_EQ(p.Epoch, kEpoch);
    for (const char* bad : {"17e8", "-5", " 12", "12 ", "x"}) {
        setenv("SOURCE_DATE_EPOCH", bad, 1);
        EXPECT_THROW(TimePolicyFromEnvironment(), EPackError) << bad;
    }
    setenv("SOURCE_DATE_EPOCH", "", 1);
    EXPECT_FALSE(TimePolicyFromEnvironment().Clamp);
    unsetenv("SOURCE_DATE_EPOCH");
    EXPECT_FALSE(TimePolicyFromEnvironment().Clamp);
}

TEST(PackRefusals, MissingItemsStrayFilesAndBadNames) {
    // Each case damages a minimal folder one way; the message names what is wrong.
    const std::vector<std::pair<std::function<void(TempTree&)>, std::string>> cases = {
        {[](TempTree& t) { fs::remove(t.root() / "qrd.exe"); }, "lacks the file qrd.exe"},
        {[](TempTree& t) { fs::remove(t.root() / "Licence.txt"); }, "lacks the file Licence.txt"},
        {[](TempTree& t) { fs::remove_all(t.root() / kInserts); }, "lacks the folder " + kInserts},
        {[](TempTree& t) { t.File("readme.txt", "stray"); },
         "Stray item in the payload folder: \"readme.txt\""},
        {[](TempTree& t) { t.File("licence.txt", "exact names only"); }, "Stray item"},
        {[](TempTree& t) {
             fs::create_directory_symlink(t.root() / kInserts, t.root() / kTemplates / "Lien");
         },
         "no links"},
        {[](TempTree& t) { t.File(kInserts + "/fin.RTF", "same name on Windows"); }, "same name"},
        {[](TempTree& t) { t.File(kInserts + "/a\\b.rtf", "backslash in a Linux name"); }, "holds \"\\\""},
        {[](TempTree& t) { t.File(kInserts + "/Quoi ?.rtf", ""); }, "Quoi ?.rtf\" holds the character \"?\""},
    };
    for (const auto& [damage, message] : cases) {
        TempTree t;
        t.Minimal();
        EXPECT_EQ(PackError(t.root()), "");
        damage(t);
        std::string e = PackError(t.root());
        EXPECT_NE(e.find(message), std::string::npos) << message << " -> " << e;
    }
    EXPECT_NE(PackError("/nonexistent/payload").find("does not exist"), std::string::npos);
}

TEST(PackRefusals, NameLengthLimitIs255Bytes) {
    TempTree t;
    t.Minimal();
    // "Collections d'inserts\" is 22 bytes; two long parts reach 255 and 256 exactly.
    std::string part1(200, 'a'), ok(255 - 22 - 201, 'b'), tooLong(256 - 22 - 201, 'c');
    t.File(kInserts + "/" + part1 + "/" + ok, "fits");
    EXPECT_EQ(PackError(t.root()), "");
    t.File(kInserts + "/" + part1 + "/" + tooLong, "too long");
    std::string e = PackError(t.root());
    EXPECT_NE(e.find("256 bytes long (at most 255)"), std::string::npos) << e;
    EXPECT_NE(e.find(tooLong), std::string::npos) << e;
}

TEST(PackReproducible, SameInputSameBytes) {
    TempTree t;
    t.Minimal();
    t.File(kTemplates + "/Lettres/L.rtf", std::string(5000, 'q'));
    t.File("Licence.txt", "Licence\r\n", kEpoch + 7);
    std::vector<std::uint8_t> first = Pack(t.root());
    // Touching files after the epoch changes nothing once clamped.
    t.File("Licence.txt", "Licence\r\n", kEpoch + 99999);
    EXPECT_EQ(Pack(t.root()), first);
    t.File("Licence.txt", "Licence changed\r\n", kEpoch + 99999);
    EXPECT_NE(Pack(t.root()), first);
}

TEST(Lister, ListsArchivesAndPeFilesCarryingThem) {
    TempTree t;
    t.Minimal();
    t.File(kTemplates + "/Lettres/Mod\xC3\xA8le.rtf", "{\\rtf1 x}", kEpoch + 1);
    std::vector<std::uint8_t> z = Pack(t.root());
    std::string listed = ListPayload(z.data(), z.size());
    std::string size = std::to_string(z.size());
    std::size_t bytes = 0;
    for (const PayloadFile& f : CollectPayload(t.root(), kClamped))
        bytes += kRecordOverhead + f.Name.size() + f.Size;
    std::string inflated = std::to_string(bytes);
    EXPECT_EQ(listed, "qrd.exe\t10\t2023-11-14 21:56:38\n"
                      "Licence.txt\t9\t2023-11-14 21:56:38\n" +
                          kTemplates + "\\Lettre.rtf\t14\t2023-11-14 21:56:38\n" + kTemplates +
                          "\\Lettres\\Mod\xC3\xA8le.rtf\t9\t2023-11-14 22:13:20\n" + kInserts +
                          "\\Fin.rtf\t11\t2023-11-14 21:56:38\n"
                          "5 entries, " +
                          inflated + " bytes inflated, " + size + " bytes compressed\n");
    // The same through a PE file's resource directory.
    EXPECT_EQ(ListPayload(MakePe(z).data(), MakePe(z).size()), listed);
    std::vector<std::uint8_t> lower = MakePe(z, "files", "Files"); // names ignore case
    EXPECT_EQ(ListPayload(lower.data(), lower.size()), listed);
    std::vector<std::uint8_t> other = MakePe(z, "FILES", "LOGO");
    EXPECT_THROW(ListPayload(other.data(), other.size()), EPackError);
    // An empty archive lists no entries.
    std::vector<std::uint8_t> empty = CompressBest({});
    EXPECT_EQ(ListPayload(empty.data(), empty.size()),
              "0 entries, 0 bytes inflated, " + std::to_string(empty.size()) + " bytes compressed\n");
}

TEST(Lister, DamagedPeFilesAreRefusedCleanly) {
    TempTree t;
    t.Minimal();
    std::vector<std::uint8_t> pe = MakePe(Pack(t.root()));
    auto attempt = [](const std::vector<std::uint8_t>& bytes, std::size_t n) {
        auto copy = std::make_unique<std::uint8_t[]>(n ? n : 1); // exact size for the sanitizer
        if (n) std::memcpy(copy.get(), bytes.data(), n);
        try {
            ListPayload(copy.get(), n);
            return true;
        } catch (const Exception&) {
            return false;
        }
    };
    for (std::size_t n = 2; n < pe.size(); ++n) EXPECT_FALSE(attempt(pe, n)) << n; // every cut
    EXPECT_TRUE(attempt(pe, pe.size()));
    std::mt19937 rng(7);
    int refused = 0;
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::uint8_t> m = pe;
        // Damage the headers and the resource tree, where offsets live.
        for (int f = 0; f < 3; ++f) {
            std::size_t at = rng() % 2 ? rng() % 0x200 : 0x200 + rng() % 120;
            m[at] = static_cast<std::uint8_t>(rng());
        }
        m[0] = 'M';
        m[1] = 'Z';
        refused += attempt(m, m.size()) ? 0 : 1;
    }
    EXPECT_GT(refused, 0);
    // Offsets that point far away, and a loop back to the root, end with an error.
    std::vector<std::uint8_t> loop = pe;
    Put32(loop, 0x200 + 20, 0x80000000u); // the type entry points back at the root table
    EXPECT_FALSE(attempt(loop, loop.size()));
    std::vector<std::uint8_t> far = pe;
    Put32(far, 0x3C, 0xFFFFFFF0u);
    EXPECT_FALSE(attempt(far, far.size()));
    EXPECT_FALSE(attempt(std::vector<std::uint8_t>{'M', 'Z'}, 2));
}

TEST(Tool, CommandLineReportsErrorsAndLists) {
    TempTree t;
    t.Minimal();
    fs::path out = t.root().parent_path() / (t.root().filename().string() + ".z");
    int status = 0;
    std::string text = RunTool("SOURCE_DATE_EPOCH=1700000000 " + Quote(MKPAYLOAD_EXE) + " pack " +
                                   Quote(t.root()) + " " + Quote(out),
                               status);
    EXPECT_EQ(status, 0) << text;
    std::vector<std::uint8_t> z = ReadFileBytes(out);
    EXPECT_EQ(z, Pack(t.root()));
    EXPECT_EQ(RunTool(Quote(MKPAYLOAD_EXE) + " list " + Quote(out), status), ListPayload(z.data(), z.size()));
    EXPECT_EQ(status, 0);
    fs::remove(out);

    // Streamed, with its index: the same stream, and an index made for exactly it.
    t.File(kInserts + "/Gros.bin", std::string(3 << 20, 'g') + std::string(100, 'h'));
    fs::path index = out;
    index += ".index";
    text = RunTool("SOURCE_DATE_EPOCH=1700000000 " + Quote(MKPAYLOAD_EXE) + " pack " + Quote(t.root()) + " " +
                       Quote(out) + " " + Quote(index),
                   status);
    EXPECT_EQ(status, 0) << text;
    z = ReadFileBytes(out);
    EXPECT_EQ(z, Pack(t.root()));
    std::vector<std::uint8_t> indexBytes = ReadFileBytes(index);
    ArchiveIndex decoded;
    ASSERT_TRUE(DecodeIndex(indexBytes.data(), indexBytes.size(), decoded));
    EXPECT_EQ(decoded.CompressedLength, z.size());
    EXPECT_TRUE(decoded.HasProof);
    EXPECT_EQ(TSha256::Hex(decoded.Proof), TSha256::HexOf(z.data(), z.size()));
    std::vector<std::uint8_t> raw = BuildArchive(CollectPayload(t.root(), kClamped));
    EXPECT_EQ(decoded.InflatedLength, raw.size());
    std::vector<ArchiveRecord> recs = ReadArchive(raw.data(), raw.size());
    ASSERT_EQ(decoded.Records.size(), recs.size());
    for (std::size_t i = 0; i < recs.size(); ++i) {
        EXPECT_EQ(decoded.Records[i].Name, recs[i].Name);
        EXPECT_EQ(decoded.Records[i].Size, recs[i].Size);
        EXPECT_EQ(decoded.Records[i].DateTime, recs[i].DateTime);
        EXPECT_EQ(decoded.Records[i].Offset, recs[i].Offset);
    }
    fs::remove(out);
    fs::remove(index);

    t.File("stray.bin", "x");
    text = RunTool(Quote(MKPAYLOAD_EXE) + " pack " + Quote(t.root()) + " " + Quote(out), status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(text.find("mkpayload: Stray item"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(out)); // nothing half-written is left
    text = RunTool(Quote(MKPAYLOAD_EXE) + " list " + Quote(t.root() / "stray.bin"), status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(text.find("mkpayload: "), std::string::npos) << text;
    RunTool(Quote(MKPAYLOAD_EXE), status);
    EXPECT_EQ(status, 2);
}
