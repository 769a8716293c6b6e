// Folders, files, times, the install log file and locale rules against the real calls.
#include "DosTime.h"
#include "Files.h"
#include "InstallLog.h"
#include "Locale.h"
#include "Paths.h"
#include "StringList.h"
#include "TestDir.h"
#include "TextConv.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <new>

namespace {
std::string ReadAll(const std::wstring& path) {
    std::string bytes;
    ReadWholeFile(path, bytes);
    return bytes;
}

std::wstring CurrentFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    GetCurrentDirectoryW(MAX_PATH, buffer);
    return buffer;
}
} // namespace

TEST(Folders, ExistsAndPresenceAnswers) {
    TestDir dir;
    std::wstring before = CurrentFolder();
    ASSERT_FALSE(before.empty());
    EXPECT_TRUE(FolderExists(dir.path()));
    EXPECT_TRUE(FolderExists(dir.path() + L"\\"));
    EXPECT_FALSE(FolderExists(dir / L"missing"));
    EXPECT_FALSE(FolderExists(L"relative\\folder"));
    EXPECT_FALSE(FolderExists(L""));
    WriteWholeFile(dir / L"f.txt", "x");
    EXPECT_FALSE(FolderExists(dir / L"f.txt"));
    EXPECT_EQ(CurrentFolder(), before); // the current folder is left as it was

    EXPECT_TRUE(FileIsPresent(dir / L"f.txt"));
    EXPECT_FALSE(FileIsPresent(dir.path()));
    EXPECT_FALSE(FileIsPresent(dir / L"none.txt"));
    EXPECT_FALSE(FileIsPresent(L""));
    // Names are taken as they are: "*" and "?" match nothing else.
    EXPECT_FALSE(FileIsPresent(dir / L"*.txt"));
    EXPECT_FALSE(FileIsPresent(dir / L"f?txt"));
}

TEST(Folders, ChainIsMadeFromTheRootAndLogged) {
    TestDir dir;
    TInstallLog log;
    const auto& lines = log.List().Lines;
    std::wstring a = dir.path() + L"\\A\\", b = a + L"Mod\u00E8les\\";
    MakeFolderChain(b, &log);
    EXPECT_TRUE(FolderExists(b));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Made Dir: " + Utf16ToUtf8(a));
    EXPECT_EQ(lines[1], "Made Dir: " + Utf16ToUtf8(b));
    MakeFolderChain(b, &log);
    EXPECT_EQ(lines.size(), 2u);
    log.Mute();
    MakeFolderChain(b + L"C\\", &log);
    log.Unmute();
    EXPECT_TRUE(FolderExists(b + L"C\\"));
    MakeFolderChain(b + L"D\\", nullptr);
    EXPECT_TRUE(FolderExists(b + L"D\\"));
    EXPECT_EQ(lines.size(), 2u);
    MakeFolderChain(L"", &log);
    EXPECT_EQ(lines.size(), 2u);
}

TEST(Folders, MissingDriveIsAttemptedAndLogged) {
    TInstallLog log;
    ASSERT_EQ(GetDriveTypeW(L"Q:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    MakeFolderChain(L"Q:\\", &log);
    EXPECT_EQ(log.List().Lines, (std::vector<std::string>{"Made Dir: Q:", "Made Dir: Q:\\"}));
}

TEST(WholeFiles, WriteReplaceAndEmpty) {
    TestDir dir;
    std::wstring f = dir / L"qrd_common.dat";
    EXPECT_TRUE(WriteWholeFile(f, std::string("\x01\x00\x02", 3)));
    EXPECT_EQ(ReadAll(f), std::string("\x01\x00\x02", 3));
    EXPECT_TRUE(WriteWholeFile(f, ""));
    EXPECT_TRUE(FileIsPresent(f));
    EXPECT_EQ(ReadAll(f), "");
    // A file that cannot be made, or one held open by another program, says so.
    EXPECT_FALSE(WriteWholeFile(dir / L"no\\such\\folder\\x", "lost"));
    EXPECT_FALSE(FileIsPresent(dir / L"no\\such\\folder\\x"));
    HANDLE held = CreateFileW(f.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(WriteWholeFile(f, "x"));
    CloseHandle(held);
    // Written beside it: a failure leaves the earlier bytes and nothing beside them;
    // what a killed run left there goes first.
    WriteWholeFile(f, "earlier");
    held = CreateFileW(f.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                       nullptr);
    EXPECT_FALSE(WriteWholeFile(f, "new"));
    CloseHandle(held);
    EXPECT_EQ(ReadAll(f), "earlier");
    EXPECT_FALSE(FileIsPresent(PartialNameOf(f)));
    WriteWholeFile(PartialNameOf(f), "cut sho");
    EXPECT_TRUE(WriteWholeFile(f, "new"));
    EXPECT_EQ(ReadAll(f), "new");
    EXPECT_FALSE(FileIsPresent(PartialNameOf(f)));
}

TEST(FileTimes, SetFileDateAndFileDateOfAgreeInLocalTime) {
    TestDir dir;
    std::wstring f = dir / L"dated.bin";
    double when = 0;
    ASSERT_TRUE(EncodeDateTime({2019, 7, 14, 16, 42, 10, 0}, when));
    std::uint32_t dos = DateTimeToDosTime(when);
    {
        HANDLE h =
            CreateFileW(f.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        SetFileDate(h, dos);
        CloseHandle(h);
    }
    EXPECT_EQ(FileDateOf(f), when);

    // The stored time is universal: converted back to local it shows the same clock.
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExW(f.c_str(), GetFileExInfoStandard, &data));
    FILETIME local;
    SYSTEMTIME st;
    FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
    FileTimeToSystemTime(&local, &st);
    EXPECT_EQ(st.wYear, 2019);
    EXPECT_EQ(st.wHour, 16);
    EXPECT_EQ(st.wMinute, 42);
    EXPECT_EQ(st.wSecond, 10);

    // An out-of-range DOS value leaves the write time alone.
    FILETIME beforeFt = data.ftLastWriteTime;
    HANDLE h =
        CreateFileW(f.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    SetFileDate(h, 0);
    CloseHandle(h);
    ASSERT_TRUE(GetFileAttributesExW(f.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(CompareFileTime(&beforeFt, &data.ftLastWriteTime), 0);

    // A missing file answers the current moment.
    EXPECT_NEAR(FileDateOf(dir / L"absent"), NowDateTime(), 5.0 / 86400);
}

TEST(LogFiles, LoneLineFeedsAreSavedWithCrLf) {
    TestDir dir;
    std::wstring f = dir / L"Install.log";
    WriteWholeFile(f, "Made Dir: C:\\A\\\nFile Copy: C:\\A\\Mod\xC3\xA8les.rtf\n\nlast");
    TStringList l;
    ASSERT_TRUE(LoadListFromFile(l, f));
    EXPECT_EQ(l.Count(), 4u);
    ASSERT_TRUE(SaveListToFile(l, f));
    EXPECT_EQ(ReadAll(f), "Made Dir: C:\\A\\\r\nFile Copy: C:\\A\\Mod\xC3\xA8les.rtf\r\n\r\nlast\r\n");
    TStringList empty;
    ASSERT_TRUE(SaveListToFile(empty, f));
    EXPECT_EQ(ReadAll(f), "");
    EXPECT_FALSE(LoadListFromFile(l, dir / L"missing.log"));
    EXPECT_FALSE(SaveListToFile(l, dir / L"no\\folder\\x.log"));
}

TEST(LogFiles, RewrittenWholeOrNotAtAll) {
    TestDir dir;
    std::wstring f = dir / L"Install.log";
    auto save = [&](const std::vector<std::string>& added) {
        return RewriteFile(
            f, [&](TLogSource& earlier, TLogSink& out) { return WriteInstallLog(earlier, added, out); });
    };
    auto filesInDir = [&] {
        WIN32_FIND_DATAW data;
        HANDLE h = FindFirstFileW((dir / L"*").c_str(), &data);
        int n = 0;
        if (h != INVALID_HANDLE_VALUE) {
            do n += !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
            while (FindNextFileW(h, &data));
            FindClose(h);
        }
        return n;
    };
    // No earlier file: this run's lines.
    ASSERT_TRUE(save({"Made Dir: C:\\A\\"}));
    EXPECT_EQ(ReadAll(f), "Made Dir: C:\\A\\\r\n");
    // Lone line feeds become CR LF, a NUL stays, the last line gets its ending.
    const char earlier[] = "Made Dir: C:\\A\\\nFile Copy: C:\\A\\Mod\xC3\xA8les.rtf\n\0\n\nlast";
    WriteWholeFile(f, std::string(earlier, sizeof earlier - 1));
    ASSERT_TRUE(save({"made dir: c:\\a\\", "File Copy: C:\\A\\b"}));
    const char saved[] = "Made Dir: C:\\A\\\r\nFile Copy: C:\\A\\Mod\xC3\xA8les.rtf\r\n\0\r\n\r\nlast\r\n"
                         "File Copy: C:\\A\\b\r\n";
    EXPECT_EQ(ReadAll(f), std::string(saved, sizeof saved - 1));

    // Many write pieces, and a cut back across them (a trailing stamp taken back).
    std::string big(700 * 1024, 'x');
    ASSERT_TRUE(RewriteFile(f, [&](TLogSource&, TLogSink& out) {
        return out.Write("abc", 3) && out.Write(big.data(), big.size()) && out.Truncate(3) &&
               out.Write("de", 2) && out.Write(big.data(), big.size()) && out.Truncate(3 + big.size()) &&
               out.Write("fgh", 3) && out.Truncate(5 + big.size());
    }));
    EXPECT_EQ(ReadAll(f), "abcde" + big.substr(0, big.size() - 2) + "fg");

    // A rewrite that fails or throws, a file held open for writing, a folder in its place:
    // what is there stays as it was, and nothing is left beside it.
    std::string before = ReadAll(f);
    EXPECT_FALSE(RewriteFile(f, [](TLogSource&, TLogSink& out) { return out.Write("x", 1) && false; }));
    EXPECT_THROW(RewriteFile(f,
                             [](TLogSource&, TLogSink& out) -> bool {
                                 out.Write("x", 1);
                                 throw std::bad_alloc();
                             }),
                 std::bad_alloc);
    HANDLE held = CreateFileW(f.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(save({"File Copy: C:\\A\\c"}));
    CloseHandle(held);
    EXPECT_EQ(ReadAll(f), before);
    EXPECT_EQ(filesInDir(), 1);
    std::wstring folder = dir / L"Update.log";
    CreateDirectoryW(folder.c_str(), nullptr);
    EXPECT_FALSE(RewriteFile(folder, [](TLogSource&, TLogSink&) { return true; }));
    EXPECT_TRUE(FolderExists(folder));
    EXPECT_EQ(filesInDir(), 1);
    EXPECT_FALSE(RewriteFile(dir / L"no\\folder\\x.log", [](TLogSource&, TLogSink&) { return true; }));
}

TEST(LocaleRules, WindowsCaseRules) {
    EXPECT_TRUE(SamePath(L"c:\\mod\u00E8les\\\u00E9t\u00E9", L"C:\\MOD\u00C8LES\\\u00C9T\u00C9"));
    EXPECT_TRUE(LocaleSameText(L"File Copy: \u00E9", L"FILE COPY: \u00C9"));
    EXPECT_FALSE(LocaleSameText(L"a", L"b"));
    EXPECT_LT(LocaleCompareText(L"alpha", L"Beta"), 0);
    EXPECT_GT(LocaleCompareText(L"Zeta", L"beta"), 0);
    EXPECT_EQ(LocaleUpper(L"abc\u00E7"), L"ABC\u00C7");
    // Sorting by keys gives the order of comparing each pair, punctuation, digits,
    // accents and case included (ties keep their order).
    std::vector<std::wstring> names = {
        L"b\u00E9b\u00E9", L"co-op",     L"coop", L"Coop", L"co'op", L"c\u00F4te",
        L"cote",           L"C\u00D4TE", L"x10",  L"x9",   L"x 9",   L"\u00C6on",
        L"aeon",           L"Z",         L"zz",   L"",     L"_a",    L"\u0153uvre",
        L"oeuvre"};
    TStringList list;
    for (const std::wstring& n : names) list.Add(Utf16ToUtf8(n));
    list.Sort();
    std::stable_sort(names.begin(), names.end(), [](const std::wstring& a, const std::wstring& b) {
        return LocaleCompareText(a, b) < 0;
    });
    std::vector<std::string> expected;
    for (const std::wstring& n : names) expected.push_back(Utf16ToUtf8(n));
    EXPECT_EQ(list.Lines, expected);
}
