// TAttachedFiles() reads the FILES resource of the program itself: this test
// program carries a small payload packed by the host mkpayload at build time.
#include "AttachFiles.h"
#include "DosTime.h"
#include "Files.h"
#include "InstallTraces.h"
#include "TextConv.h"
#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <utility>

TEST(OwnResource, ReadsAndWritesThePackedPayload) {
    TAttachedFiles files;
    std::vector<std::wstring> names;
    for (const auto& f : files.Files) names.push_back(f->Name);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"qrd.exe", L"Licence.txt",
                                                L"Mod\u00E8les de document\\Lettres\\Lettre.rtf",
                                                L"Collections d'inserts\\Cl\u00F4tures\\Fin.rtf"}));
    // Listed from the index packed beside it, read from this program's file.
    EXPECT_TRUE(files.IndexUsed());
    // The licence as the wizard takes it: Size bytes read from the archive.
    const TAttachedFile& licence = *files.Files[1];
    EXPECT_EQ(files.ReadEntry(licence), "Licence de test\r\n");

    TInstallSession session;
    session.Log = std::make_unique<TInstallLog>();
    TestDir dir;
    std::wstring target = dir / L"Lettre.rtf";
    ASSERT_TRUE(files.WriteEntry(session, *files.Files[2], target));
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(target, bytes));
    EXPECT_EQ(bytes, "{\\rtf1 lettre de test}");
    EXPECT_EQ(FileDateOf(target), files.Files[2]->DateTime);
    EXPECT_EQ(session.Log->List().Lines.back(), "File Copy: " + Utf16ToUtf8(target));
}

// The shipped setup.exe's own payload, read by the reader as the setup reads it.
TEST(ProductPayload, SetupCarriesTheDemoPayload) {
#ifndef NORVANTA_DEMO_PAYLOAD
    GTEST_SKIP() << "built from a packager's payload folder";
#endif
    HMODULE setup =
        LoadLibraryExW(Utf8ToUtf16(NORVANTA_SETUP_EXE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(setup, nullptr);
    HRSRC res = FindResourceA(setup, "FILES", "FILES");
    ASSERT_NE(res, nullptr);
    const void* bytes = LockResource(LoadResource(setup, res));
    ASSERT_NE(bytes, nullptr);
    std::uint32_t size = SizeofResource(setup, res);
    EXPECT_EQ(static_cast<const unsigned char*>(bytes)[0], 0x78);
    EXPECT_EQ(static_cast<const unsigned char*>(bytes)[1], 0xDA);
    // The index beside the archive lists the same entries as the archive itself.
    HRSRC ir = FindResourceA(setup, "INDEX", "FILES");
    ASSERT_NE(ir, nullptr);
    TAttachedFiles indexed(bytes, size, LockResource(LoadResource(setup, ir)), SizeofResource(setup, ir));
    TAttachedFiles files(bytes, size);
    EXPECT_TRUE(indexed.IndexUsed());
    EXPECT_FALSE(files.IndexUsed());
    ASSERT_EQ(indexed.Files.size(), files.Files.size());
    for (std::size_t i = 0; i < files.Files.size(); ++i) {
        EXPECT_EQ(indexed.Files[i]->Name, files.Files[i]->Name);
        EXPECT_EQ(indexed.Files[i]->Size, files.Files[i]->Size);
        EXPECT_EQ(indexed.Files[i]->DateTime, files.Files[i]->DateTime);
        EXPECT_EQ(indexed.Files[i]->Offset, files.Files[i]->Offset);
    }

    std::wstring source = Utf8ToUtf16(NORVANTA_SOURCE_DIR) + L"\\resources\\payload\\";
    // Every demo document, and the program and licence in front.
    const int demoTemplates = FilesUnder(source + L"Mod\u00E8les de document");
    const int demoInserts = FilesUnder(source + L"Collections d'inserts");
    ASSERT_GT(demoTemplates, 0);
    ASSERT_GT(demoInserts, 0);
    ASSERT_EQ(files.Files.size(), static_cast<std::size_t>(2 + demoTemplates + demoInserts));
    EXPECT_EQ(files.Files[0]->Name, L"qrd.exe");
    EXPECT_EQ(files.ReadEntry(*files.Files[0]).substr(0, 2), "MZ");
    EXPECT_EQ(files.Files[1]->Name, L"Licence.txt");
    int templates = 0, inserts = 0;
    for (std::size_t i = 1; i < files.Files.size(); ++i) {
        const TAttachedFile& f = *files.Files[i];
        templates += f.Name.rfind(L"Mod\u00E8les de document\\", 0) == 0;
        inserts += f.Name.rfind(L"Collections d'inserts\\", 0) == 0;
        // Every demo file travels byte for byte.
        std::string original;
        ASSERT_TRUE(ReadWholeFile(source + f.Name, original)) << Utf16ToUtf8(f.Name);
        EXPECT_EQ(files.ReadEntry(f), original) << Utf16ToUtf8(f.Name);
    }
    EXPECT_EQ(templates, demoTemplates);
    FreeLibrary(setup);
    EXPECT_EQ(inserts, demoInserts);
    // The licence: UTF-8 without a byte-order mark, CR LF lines.
    std::string licence = files.ReadEntry(*files.Files[1]);
    EXPECT_EQ(licence.rfind("CONTRAT DE LICENCE", 0), 0u);
    EXPECT_NE(licence.find("Traitement de texte Norvanta"), std::string::npos);
    // French typography: « and » hold to their words by no-break spaces, so that
    // the licence box never leaves one alone at a line's end.
    EXPECT_NE(licence.find("\xC2\xAB\xC2\xA0"), std::string::npos);
    for (const char* loose : {"\xC2\xAB ", " \xC2\xBB", "\xC2\xAB\r", "\n\xC2\xBB"})
        EXPECT_EQ(licence.find(loose), std::string::npos);
    for (std::size_t i = 0; i < licence.size(); ++i) {
        if (licence[i] == '\n') {
            ASSERT_TRUE(i > 0 && licence[i - 1] == '\r') << i;
        }
    }
}

namespace {
int readCalls = 0, failRead = 0;
bool FailsARead(void* file, void* buffer, std::uint32_t size, std::uint32_t& got) {
    DWORD n = 0;
    BOOL ok = ++readCalls != failRead && ReadFile(static_cast<HANDLE>(file), buffer, size, &n, nullptr);
    SetLastError(ERROR_NETNAME_DELETED);
    got = n;
    return ok;
}
struct RetryOnce : TInstallQuestions {
    int asked = 0;
    TWriteFailureAnswer CannotWrite(const std::wstring&) override {
        return ++asked == 1 ? TWriteFailureAnswer::Retry : TWriteFailureAnswer::Abort;
    }
};
int Threads() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 t{};
    t.dwSize = sizeof t;
    int n = 0;
    for (BOOL more = Thread32First(snap, &t); more; more = Thread32Next(snap, &t))
        n += t.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snap);
    return n;
}
} // namespace

// A read of the program's file that fails on the inflater's thread during the
// copy is no damage: the write-failure question, whose Retry reads again. The
// thread ends with the payload.
TEST(OwnResource, AFailedReadOfTheProgramsFileIsAskedAsAWriteFailure) {
    const std::uint64_t from = std::exchange(InflateAheadFrom, 0);
    auto files = std::make_unique<TAttachedFiles>();
    InflateAheadFrom = from;
    TInstallSession session;
    session.Log = std::make_unique<TInstallLog>();
    RetryOnce questions;
    session.Questions = &questions;
    TestDir dir;
    const ReadFileFn saved = std::exchange(PayloadReadFile, FailsARead);
    const int threads = Threads();
    failRead = 1;
    EXPECT_TRUE(files->WriteEntry(session, *files->Files[2], dir / L"Lettre.rtf"));
    PayloadReadFile = saved;
    EXPECT_EQ(questions.asked, 1);
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(dir / L"Lettre.rtf", bytes) && bytes == "{\\rtf1 lettre de test}");
    EXPECT_EQ(Threads(), threads + 1);
    files.reset();
    EXPECT_EQ(Threads(), threads); // stopped and waited for
}
