// The Update.log merge and its stamp line.
#include "UpdateLog.h"
#include <gtest/gtest.h>

namespace {
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
