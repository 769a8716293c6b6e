// Path strings, DOS date-times and the log's line rules.
#include "DosTime.h"
#include "InstallLog.h"
#include "LogStream.h"
#include "Paths.h"
#include "Security.h"
#include "StringList.h"
#include <gtest/gtest.h>
#include <cmath>

TEST(Paths, SlashForms) {
    std::wstring p;
    PathWithSlash(p);
    EXPECT_EQ(p, L"");
    p = L"C:/x/";
    PathWithSlash(p);
    EXPECT_EQ(p, L"C:/x\\");
    p = L"C:\\x";
    PathWithSlash(p);
    EXPECT_EQ(p, L"C:\\x\\");
    p = L"C:\\x\\";
    PathWithSlash(p);
    EXPECT_EQ(p, L"C:\\x\\");
    EXPECT_EQ(PathWithoutSlash(L"C:\\x\\\\"), L"C:\\x\\");
    EXPECT_EQ(PathWithoutSlash(L"C:\\x"), L"C:\\x");
    EXPECT_EQ(PathWithoutSlash(L""), L"");
}

TEST(Paths, Parts) {
    EXPECT_EQ(FolderPartOf(L"C:\\a\\b.txt"), L"C:\\a\\");
    EXPECT_EQ(FolderPartOf(L"C:b.txt"), L"C:");
    EXPECT_EQ(FolderPartOf(L"b.txt"), L"");
    EXPECT_EQ(NamePartOf(L"C:\\a\\b.txt"), L"b.txt");
    EXPECT_EQ(NamePartOf(L"D:"), L"");
    EXPECT_EQ(NamePartOf(L"plain"), L"plain");
}

TEST(Paths, JoinAndCompare) {
    EXPECT_EQ(JoinPath(L"", "qrd.exe"), L"qrd.exe");
    EXPECT_EQ(JoinPath(L"C:\\P", "qrd.exe"), L"C:\\P\\qrd.exe");
    EXPECT_EQ(JoinPath(L"C:\\P/", "Mod\xC3\xA8les"), L"C:\\P\\Mod\u00E8les");
    EXPECT_TRUE(SamePath(L"c:\\program files", L"C:\\Program Files"));
    EXPECT_TRUE(SamePath(L"c:\\mod\u00E8les", L"C:\\MOD\u00C8LES"));
    EXPECT_FALSE(SamePath(L"C:\\x\\", L"C:\\x"));
    EXPECT_FALSE(SamePath(L"C:/x", L"C:\\x"));
    EXPECT_TRUE(StartsWithPath(L"C:\\Program Files (x86)\\Norvanta", L"C:\\Program Files"));
    EXPECT_TRUE(StartsWithPath(L"c:\\program files", L"C:\\Program Files"));
    EXPECT_FALSE(StartsWithPath(L"C:\\Prog", L"C:\\Program Files"));
    EXPECT_FALSE(StartsWithPath(L"D:\\Program Files\\x", L"C:\\Program Files"));
}

// What the uninstaller may touch is decided on whole components, never on a prefix.
TEST(Paths, InFolderOnWholeComponents) {
    EXPECT_TRUE(IsInFolder(L"C:\\Norvanta\\qrd.exe", L"C:\\Norvanta"));
    EXPECT_TRUE(IsInFolder(L"c:\\norvanta\\A\\b", L"C:\\NORVANTA\\"));
    EXPECT_TRUE(IsInFolder(L"C:\\Norvanta", L"C:\\Norvanta\\"));
    EXPECT_TRUE(IsInFolder(L"C:\\x", L"C:\\"));
    EXPECT_FALSE(IsInFolder(L"C:\\Norvanta2\\qrd.exe", L"C:\\Norvanta"));
    EXPECT_FALSE(IsInFolder(L"C:\\Norvanta2", L"C:\\Norvanta"));
    EXPECT_FALSE(IsInFolder(L"C:\\Norvant", L"C:\\Norvanta"));
    EXPECT_FALSE(IsInFolder(L"D:\\Norvanta\\x", L"C:\\Norvanta"));
    EXPECT_FALSE(IsInFolder(L"C:\\Norvanta\\x", L""));
}

static double Make(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
    double dt = -1;
    EXPECT_TRUE(EncodeDateTime({y, mo, d, h, mi, s, ms}, dt));
    return dt;
}

TEST(DosTime, EpochAndKnownValues) {
    EXPECT_EQ(Make(1899, 12, 30, 0, 0, 0), 0.0);
    EXPECT_EQ(Make(1900, 1, 1, 12, 0, 0), 2.5);
    EXPECT_EQ(Make(2000, 1, 1, 0, 0, 0), 36526.0);
    EXPECT_EQ(Make(2024, 2, 29, 0, 0, 0), 45351.0);
    double dt = 0;
    EXPECT_FALSE(EncodeDateTime({2023, 2, 29, 0, 0, 0, 0}, dt));
    EXPECT_FALSE(EncodeDateTime({2023, 13, 1, 0, 0, 0, 0}, dt));
    EXPECT_FALSE(EncodeDateTime({2023, 1, 1, 24, 0, 0, 0}, dt));
    DateTimeParts p;
    ASSERT_TRUE(DecodeDateTime(45351.75, p));
    EXPECT_EQ(p.year, 2024);
    EXPECT_EQ(p.month, 2);
    EXPECT_EQ(p.day, 29);
    EXPECT_EQ(p.hour, 18);
    EXPECT_FALSE(DecodeDateTime(NAN, p));
    EXPECT_FALSE(DecodeDateTime(1e300, p));
}

TEST(DosTime, PackingAndRange) {
    double dt = Make(2026, 12, 8, 9, 30, 44);
    std::uint32_t dos = DateTimeToDosTime(dt);
    EXPECT_EQ(dos >> 16, ((2026u - 1980) << 9) | (12u << 5) | 8u);
    EXPECT_EQ(dos & 0xFFFF, (9u << 11) | (30u << 5) | 22u);
    EXPECT_EQ(DosTimeToDateTime(dos), dt); // even seconds survive exactly
    double odd = Make(2026, 12, 8, 9, 30, 45);
    EXPECT_NE(DosTimeToDateTime(DateTimeToDosTime(odd)), odd);
    EXPECT_EQ(DateTimeToDosTime(Make(1979, 12, 31, 23, 59, 58)), 0u);
    EXPECT_EQ(DateTimeToDosTime(Make(2100, 1, 1, 0, 0, 0)), 0u);
    EXPECT_NE(DateTimeToDosTime(Make(2099, 12, 31, 23, 59, 58)), 0u);
    EXPECT_NE(DateTimeToDosTime(Make(1980, 1, 1, 0, 0, 0)), 0u);
    EXPECT_EQ(DosTimeToDateTime(0), 0.0); // month 0 names no date
    // Milliseconds that round up to the next day carry into the date.
    double late = Make(2020, 12, 31, 23, 59, 59, 999) + 0.0006 / 86400.0;
    DateTimeParts p;
    ASSERT_TRUE(DecodeDateTime(late, p));
    EXPECT_EQ(p.year, 2021);
    EXPECT_EQ(p.hour, 0);
}

TEST(DosTime, EveryEvenSecondOfADayRoundTrips) {
    double day = Make(2031, 7, 14, 0, 0, 0);
    for (int s = 0; s < 86400; s += 2) {
        double dt = day + s / 86400.0;
        std::uint32_t dos = DateTimeToDosTime(dt);
        ASSERT_EQ((dos & 0x1F) * 2u + ((dos >> 5) & 0x3F) * 60u + (dos >> 11 & 0x1F) * 3600u,
                  static_cast<unsigned>(s));
    }
}

TEST(StringList, SplittingAndSaving) {
    TStringList l;
    std::string text = "a\r\nb\rc\nd\n\ne";
    l.SetText(text.data(), text.size());
    EXPECT_EQ(l.Lines, (std::vector<std::string>{"a", "b", "c", "d", "", "e"}));
    EXPECT_EQ(l.Text(), "a\r\nb\r\nc\r\nd\r\n\r\ne\r\n");
    std::string withNul("x\r\ny\0z\r\n", 8);
    l.SetText(withNul.data(), withNul.size());
    EXPECT_EQ(l.Lines,
              (std::vector<std::string>{"x", std::string("y\0z", 3)})); // a NUL is a byte of its line
    l.SetText("", 0);
    EXPECT_EQ(l.Count(), 0u);
    EXPECT_EQ(l.Text(), "");
    l.SetText("\r\n\r\n", 4);
    EXPECT_EQ(l.Lines, (std::vector<std::string>{"", ""}));
    l.SetText("\n\r", 2); // LF then a lone CR: two empty lines
    EXPECT_EQ(l.Count(), 2u);
}

TEST(StringList, CaseIgnoringLookupAndSort) {
    TStringList l;
    l.Lines = {"File Copy: C:\\Mod\xC3\xA8les\\a", "zeta", "Alpha", "beta"};
    EXPECT_EQ(l.IndexOf("FILE COPY: c:\\MOD\xC3\x88LES\\A"), 0);
    EXPECT_EQ(l.IndexOf("gamma"), -1);
    l.Sort();
    EXPECT_EQ(l.Lines[0], "Alpha");
    EXPECT_EQ(l.Lines[1], "beta");
    EXPECT_EQ(l.Lines.back(), "zeta");
}

TEST(InstallLog, MuteAndDuplicates) {
    TInstallLog log;
    log.Add("Made Dir: C:\\A\\");
    log.Add("made dir: c:\\a\\");
    log.Mute();
    log.Add("File Copy: C:\\A\\muted");
    log.Mute();
    log.Unmute();
    log.Add("File Copy: C:\\A\\still muted");
    log.Unmute();
    EXPECT_FALSE(log.Muted());
    log.Add("File Copy: C:\\A\\x");
    EXPECT_EQ(log.List().Lines, (std::vector<std::string>{"Made Dir: C:\\A\\", "File Copy: C:\\A\\x"}));
    log.Clear();
    log.Add("File Copy: C:\\A\\x");
    EXPECT_EQ(log.List().Count(), 1u);
    AddLogLine(nullptr, "no log yet"); // nothing to add to, nothing happens
}

namespace {
// Bytes of a literal, NULs included.
template <std::size_t N>
std::string B(const char (&bytes)[N]) {
    return std::string(bytes, N - 1);
}

// The lines of the bytes read through the reader, in pieces of the given size,
// with the window given; a line longer than it is put together from its rest.
std::vector<std::string> ReadLines(const std::string& bytes, std::size_t piece, std::size_t window) {
    TMemoryLogSource source(bytes.data(), bytes.size(), piece);
    TLineReader reader(source, window);
    std::vector<std::string> lines;
    while (reader.Next()) {
        TStringLogSink rest;
        EXPECT_TRUE(reader.CopyRest(&rest));
        EXPECT_EQ(reader.Whole(), rest.Bytes.empty() && reader.Head().size() < window);
        lines.push_back(reader.Head() + rest.Bytes);
    }
    EXPECT_FALSE(reader.Failed());
    return lines;
}

std::string SavedInstallLog(const std::string& earlier, const std::vector<std::string>& added,
                            std::size_t piece = SIZE_MAX) {
    TMemoryLogSource source(earlier.data(), earlier.size(), piece);
    TStringLogSink out;
    EXPECT_TRUE(WriteInstallLog(source, added, out));
    return out.Bytes;
}

class FailingSource : public TLogSource {
public:
    bool Read(char* buffer, std::size_t, std::size_t& got) override {
        got = 0;
        if (calls_++ > 0) return false;
        buffer[0] = 'x';
        got = 1;
        return true;
    }

private:
    int calls_ = 0;
};
} // namespace

TEST(LogLines, EveryByteIsKeptWhereverTheReadsEnd) {
    const std::string text = B("a\r\n\0b\0\rc\r\r\nd\n\ne\xFF\xFE\0\0last");
    const std::vector<std::string> expected = {"a", B("\0b\0"), "c", "", "d", "", B("e\xFF\xFE\0\0last")};
    for (std::size_t piece = 1; piece <= text.size(); ++piece) {
        for (std::size_t window : {std::size_t{1}, std::size_t{2}, std::size_t{5}, SIZE_MAX}) {
            SCOPED_TRACE("piece " + std::to_string(piece) + ", window " + std::to_string(window));
            EXPECT_EQ(ReadLines(text, piece, window), expected);
        }
    }
    EXPECT_TRUE(ReadLines("", 1, 1).empty());
    EXPECT_EQ(ReadLines("\r\n", 1, 1), std::vector<std::string>{""});
    EXPECT_EQ(ReadLines("\r\r", 1, 1), (std::vector<std::string>{"", ""}));
    // A CR LF split between two reads is one ending, also when the line before it is long.
    EXPECT_EQ(ReadLines("abcdef\r\ng", 7, 3), (std::vector<std::string>{"abcdef", "g"}));
    // A read that fails ends the lines and says so.
    FailingSource failing;
    TLineReader reader(failing, 8);
    EXPECT_FALSE(reader.Next());
    EXPECT_TRUE(reader.Failed());
}

TEST(LogLines, LinesThatAreNotPlainTextEqualOnlyThemselves) {
    EXPECT_TRUE(SameText8("File Copy: C:\\Mod\xC3\xA8les", "FILE COPY: c:\\MOD\xC3\x88LES"));
    EXPECT_EQ(CaseKeyHash("File Copy: \xC3\xA9"), CaseKeyHash("FILE COPY: \xC3\x89"));
    const std::string nul = B("File Copy: C:\\a\0tail");
    EXPECT_FALSE(SameText8(nul, "File Copy: C:\\a"));
    EXPECT_FALSE(SameText8(nul, B("FILE COPY: C:\\A\0tail")));
    EXPECT_TRUE(SameText8(nul, nul));
    EXPECT_FALSE(SameText8("File Copy: C:\\a\x80\x80\x80\x80", "File Copy: C:\\a"));
    EXPECT_FALSE(SameText8("\xC0\x80", B("\0")));    // an overlong NUL
    EXPECT_FALSE(SameText8("\xF0\x9F\x98\x80", "")); // beyond the basic plane
}

TEST(InstallLogFile, EarlierLinesStayAndOnlyNewLinesAreAdded) {
    const std::string nul = B("File Copy: C:\\A\\b\0junk");
    const std::string earlier =
        "Made Dir: C:\\A\\\nMade Dir: C:\\A\\\r" + nul + "\r\nFILE COPY: c:\\a\\x\r\nlast";
    const std::vector<std::string> added = {"made dir: c:\\a\\", "File Copy: C:\\A\\b", "File Copy: C:\\A\\x",
                                            "File Copy: C:\\A\\y"};
    const std::string expected =
        "Made Dir: C:\\A\\\r\nMade Dir: C:\\A\\\r\n" + nul +
        "\r\nFILE COPY: c:\\a\\x\r\nlast\r\nFile Copy: C:\\A\\b\r\nFile Copy: C:\\A\\y\r\n";
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, SIZE_MAX})
        EXPECT_EQ(SavedInstallLog(earlier, added, piece), expected);
    EXPECT_EQ(SavedInstallLog("", added),
              "made dir: c:\\a\\\r\nFile Copy: C:\\A\\b\r\nFile Copy: C:\\A\\x\r\nFile Copy: C:\\A\\y\r\n");
    EXPECT_EQ(SavedInstallLog("", {}), "");
    // A line longer than any that could match is copied whole, and matches nothing.
    const std::string longLine = std::string(100, 'z') + B("\0") + "made dir: c:\\a\\";
    EXPECT_EQ(SavedInstallLog(longLine + "\n" + earlier, added, 7), longLine + "\r\n" + expected);
    // A read failure midway writes nothing more and reports it.
    FailingSource failing;
    TStringLogSink out;
    EXPECT_FALSE(WriteInstallLog(failing, added, out));
}

// Sizes at which a scan of the whole log per line would not end in time.
TEST(InstallLogFile, ManyLinesCostTimeInProportion) {
    TInstallLog log;
    const int added = 30000;
    for (int i = 0; i < added; ++i) log.Add("File Copy: C:\\Norvanta\\f" + std::to_string(i));
    for (int i = 0; i < added; ++i) log.Add("FILE COPY: c:\\NORVANTA\\F" + std::to_string(i));
    ASSERT_EQ(log.List().Count(), static_cast<std::size_t>(added));
    std::string earlier;
    const int lines = 150000;
    for (int i = 0; i < lines; ++i) earlier += "File Copy: C:\\Norvanta\\F" + std::to_string(i * 2) + "\r\n";
    std::string saved = SavedInstallLog(earlier, log.List().Lines);
    ASSERT_EQ(saved.compare(0, earlier.size(), earlier), 0);
    std::string tail;
    for (int i = 1; i < added; i += 2) tail += "File Copy: C:\\Norvanta\\f" + std::to_string(i) + "\r\n";
    EXPECT_EQ(saved.substr(earlier.size()), tail);
}

TEST(Paths, DeviceNamesAndObjectPathsAreNoFolders) {
    for (const wchar_t* path : {L"C:\\x\\CON", L"C:\\NUL", L"C:\\COM1\\Norvanta", L"C:\\a\\lpt9.txt",
                                L"C:\\aux .log\\x", L"C:\\com\u00B9", L"C:\\CONOUT$", L"\\\\?\\C:\\x",
                                L"\\\\.\\C:\\x", L"\\\\?\\UNC\\server\\share\\x"})
        EXPECT_FALSE(IsValidFolderPath(path)) << std::wstring(path).size();
    for (const wchar_t* path : {L"C:\\CONSOLE", L"C:\\COM10", L"C:\\x\\NULL.txt", L"C:\\LPT", L"C:\\LPT0",
                                L"\\\\server\\share\\x", L"C:\\Program Files\\Norvanta"})
        EXPECT_TRUE(IsValidFolderPath(path)) << std::wstring(path).size();
}

TEST(Security, WhichFoldersGetWhichPermissions) {
    const std::vector<std::wstring> programs{L"C:\\Program Files", L"C:\\Program Files (x86)"};
    // Made outside the program folders: Program Files' own permissions.
    EXPECT_STREQ(SddlForNewFolder(frDestination, false, L"C:\\Apps\\Norvanta", programs), kAdminsOnlySddl);
    EXPECT_STREQ(SddlForNewFolder(frDestination, false, L"C:\\Program Files2\\N", programs), kAdminsOnlySddl);
    // Inside them, or a portable copy: whatever the folder above gives.
    EXPECT_EQ(SddlForNewFolder(frDestination, false, L"c:\\program files (x86)\\Norvanta\\", programs),
              nullptr);
    EXPECT_EQ(SddlForNewFolder(frDestination, true, L"C:\\Apps\\Norvanta", programs), nullptr);
    for (TFolderRole role : {frSharedData, frHiddenData}) {
        EXPECT_STREQ(SddlForNewFolder(role, false, L"C:\\ProgramData\\Norvanta\\", {}), kAdminsOnlySddl);
        EXPECT_EQ(SddlForNewFolder(role, true, L"E:\\Norvanta\\", {}), nullptr);
    }
    // The shared documents' folder too, until the copying is over.
    EXPECT_STREQ(SddlForNewFolder(frPublicData, false, L"C:\\ProgramData\\Norvanta\\Public\\", {}),
                 kAdminsOnlySddl);
    // System and administrators full control, users read and execute, nothing from above.
    EXPECT_STREQ(kAdminsOnlySddl, L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
}
