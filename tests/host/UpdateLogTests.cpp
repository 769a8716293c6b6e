// The Update.log merge and its stamp line.
#include "UpdateLog.h"
#include <gtest/gtest.h>

namespace {
// Bytes of a literal, NULs included.
template <std::size_t N>
std::string B(const char (&bytes)[N]) {
    return std::string(bytes, N - 1);
}

TStringList Lines(std::vector<std::string> l) {
    TStringList s;
    s.Lines = std::move(l);
    return s;
}
} // namespace

TEST(UpdateLogStamp, SpellsTheDoubleInMemoryOrder) {
    EXPECT_EQ(StampLine(1.0), "*000000000000F03F");
    EXPECT_EQ(StampLine(0.0), "*0000000000000000");
    EXPECT_EQ(StampLine(-2.0), "*00000000000000C0");
    double stamp = 46364.5123456789;
    std::string bytes = StampBytes(stamp), line = StampLine(stamp);
    ASSERT_EQ(bytes.size(), 8u);
    ASSERT_EQ(line.size(), 17u);
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(std::stoul(line.substr(1 + 2 * i, 2), nullptr, 16), static_cast<unsigned char>(bytes[i]))
            << i;
    }
    for (char c : line.substr(1)) EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << c;
}

TEST(UpdateLogMerge, FirstRunAppendsStampAndFiles) {
    TStringList log;
    MergeUpdateLog(log, Lines({"C:\\P\\a.rtf\t!", "C:\\P\\b.rtf\t!"}), "*S1");
    EXPECT_EQ(log.Lines, (std::vector<std::string>{"*S1", "C:\\P\\a.rtf\t!", "C:\\P\\b.rtf\t!"}));
}

TEST(UpdateLogMerge, ReinstallingEverythingLeavesOneSection) {
    // Steps run in their order: stamp runs collapse to the first, then a trailing
    // stamp goes, so both emptied stamps disappear.
    TStringList log = Lines({"*S1", "p1", "p2", "*S2", "p3"});
    MergeUpdateLog(log, Lines({"p1", "p2", "p3"}), "*S3");
    EXPECT_EQ(log.Lines, (std::vector<std::string>{"*S3", "p1", "p2", "p3"}));
}

TEST(UpdateLogMerge, OlderSectionsKeepWhatIsNotListedAgain) {
    TStringList log = Lines({"*S1", "p1", "", "p2", "*S2", "p3", ""});
    MergeUpdateLog(log, Lines({"P3", "p4"}), "*S3");
    EXPECT_EQ(log.Lines, (std::vector<std::string>{"*S1", "p1", "p2", "*S3", "P3", "p4"}));

    TStringList runs = Lines({"*A", "*B", "*C", "x", "*D", "*E"});
    MergeUpdateLog(runs, Lines({"y"}), "*F");
    EXPECT_EQ(runs.Lines, (std::vector<std::string>{"*A", "x", "*F", "y"}));
}

TEST(UpdateLogMerge, RelistingIgnoresCaseAndAccents) {
    TStringList files = Lines({"C:\\Data\\Mod\xC3\xA8les\\A.rtf\t!", "C:\\Data\\Z.rtf\t!"});
    files.Sort();
    TStringList log = Lines({"*S1", "c:\\data\\MOD\xC3\x88LES\\a.RTF\t!", "C:\\Data\\other.rtf"});
    MergeUpdateLog(log, files, "*S2");
    EXPECT_EQ(log.Lines.size(), 5u);
    EXPECT_EQ(log.Lines[0], "*S1");
    EXPECT_EQ(log.Lines[1], "C:\\Data\\other.rtf");
    EXPECT_EQ(log.Lines[2], "*S2");
}

namespace {
std::string Merged(const std::string& earlier, const TStringList& files, std::size_t piece = SIZE_MAX) {
    TMemoryLogSource source(earlier.data(), earlier.size(), piece);
    TStringLogSink out;
    EXPECT_TRUE(MergeUpdateLog(source, files, "*S9", out));
    return out.Bytes;
}
} // namespace

TEST(UpdateLogMerge, EveryByteOfTheRecordsKeptIsKept) {
    const std::string nulled = B("C:\\P\\a.rtf\t!\0");
    const std::string earlier =
        "*S1\r\n" + nulled + "\r\n" + B("\xFF\xFE*\0S\0\r\0\n\n*S2\r*S3\r\nC:\\P\\b.rtf\t!\r\n*S4");
    TStringList files = Lines({"C:\\P\\a.rtf\t!", "c:\\p\\B.RTF\t!"});
    // The line with a NUL is not the file it starts with; the binary lines stay;
    // the relisted file goes, and with it the stamps around it.
    const std::string expected = "*S1\r\n" + nulled + "\r\n" + B("\xFF\xFE*\0S\0\r\n\0\r\n") +
                                 "*S9\r\nC:\\P\\a.rtf\t!\r\nc:\\p\\B.RTF\t!\r\n";
    for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{5}, SIZE_MAX})
        EXPECT_EQ(Merged(earlier, files, piece), expected) << piece;

    // Lines longer than any file: kept whole, or as a trailing stamp taken back.
    const std::string longLine(300, 'x'), longStamp = "*" + std::string(300, 'S');
    EXPECT_EQ(Merged(longStamp + "\r\n" + longLine + "\r\n" + longStamp + "\r\n*S5\r\n", files, 7),
              longStamp + "\r\n" + longLine + "\r\n*S9\r\nC:\\P\\a.rtf\t!\r\nc:\\p\\B.RTF\t!\r\n");
    EXPECT_EQ(Merged("", files), "*S9\r\nC:\\P\\a.rtf\t!\r\nc:\\p\\B.RTF\t!\r\n");

    // A read that fails midway is reported.
    class Failing : public TLogSource {
    public:
        bool Read(char*, std::size_t, std::size_t&) override { return false; }
    } failing;
    TStringLogSink out;
    EXPECT_FALSE(MergeUpdateLog(failing, files, "*S9", out));
}

// Sizes at which a scan of the files per line would not end in time.
TEST(UpdateLogMerge, ManyLinesCostTimeInProportion) {
    TStringList files;
    for (int i = 0; i < 50000; ++i) files.Add("C:\\P\\f" + std::to_string(100000 + i) + ".rtf");
    files.Sort();
    // A stamp every 1000 lines; the first half of the lines is listed again, so
    // the stamps among them collapse to the first.
    std::string earlier, expected = "*S0\r\n";
    for (int i = 0; i < 100000; ++i) {
        std::string stamp = i % 1000 == 0 ? "*S" + std::to_string(i) + "\r\n" : std::string();
        std::string line = "c:\\p\\F" + std::to_string(100000 + 2 * i) + ".RTF\r\n";
        earlier += stamp + line;
        if (i >= 25000) expected += (i > 25000 ? stamp : std::string()) + line;
    }
    std::string merged = Merged(earlier, files);
    ASSERT_GT(merged.size(), expected.size());
    EXPECT_EQ(merged.substr(0, expected.size()), expected);
    EXPECT_EQ(merged.substr(expected.size(), 5), "*S9\r\n");
}
