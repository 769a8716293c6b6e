// The payload reader against the real file system: reading an archive, selecting
// entries by name and write mode, and writing them with dates, log lines and the
// Abort/Retry/Ignore question.
#include "AttachFiles.h"
#include "DosTime.h"
#include "Files.h"
#include "Paths.h"
#include "Shell.h"
#include "TestDir.h"
#include "TextConv.h"
#include <gtest/gtest.h>
#include <functional>
#include <zlib.h>

namespace {
const std::string kModeles = "Mod\xC3\xA8les de document\\";

double When(int y, int mo, int d, int h, int mi, int s) {
    double dt = 0;
    EXPECT_TRUE(EncodeDateTime({y, mo, d, h, mi, s, 0}, dt));
    return dt;
}

struct Rec {
    std::string name;
    double when;
    std::string bytes;
};

const std::vector<Rec>& Records() {
    static const std::vector<Rec> recs = {
        {"qrd.exe", When(2021, 3, 4, 10, 20, 30), "MZ" + std::string(998, '\x90')},
        {"Licence.txt", When(2021, 3, 4, 10, 20, 31), "Licence (odd second)\r\n"},
        {"licence.TXT", When(2020, 1, 1, 0, 0, 0), "a second licence, never taken"},
        {kModeles + "Lettres\\Lettre.rtf", When(2022, 6, 7, 8, 9, 10), "{\\rtf1 lettre}"},
        {"Mod\xC3\xA8les de documentation\\Autre.rtf", When(2022, 6, 7, 8, 9, 10), "not under the prefix"},
        {kModeles + "Vide.rtf", When(2022, 6, 7, 8, 9, 12), ""},
        {"Collections d'inserts\\Cl\xC3\xB4tures\\Fin.rtf", When(2023, 1, 2, 3, 4, 6), "{\\rtf1 fin}"},
    };
    return recs;
}

std::string Compress(const std::vector<std::uint8_t>& raw) {
    uLongf n = compressBound(static_cast<uLong>(raw.size()));
    std::string z(n, '\0');
    EXPECT_EQ(
        compress2(reinterpret_cast<Bytef*>(z.data()), &n, raw.data(), static_cast<uLong>(raw.size()), 9),
        Z_OK);
    z.resize(n);
    return z;
}

std::string Packed(const std::vector<Rec>& recs = Records()) {
    std::vector<std::uint8_t> raw;
    for (const Rec& r : recs)
        AppendRecord(raw, r.name, r.when, r.bytes.data(), static_cast<std::uint32_t>(r.bytes.size()));
    return Compress(raw);
}

std::unique_ptr<TAttachedFiles> Reader(const std::string& z = Packed()) {
    return std::make_unique<TAttachedFiles>(z.data(), static_cast<std::uint32_t>(z.size()));
}

std::string ReadAll(const std::wstring& path) {
    std::string bytes;
    ReadWholeFile(path, bytes);
    return bytes;
}

std::string U8(const std::wstring& s) {
    return Utf16ToUtf8(s);
}

// Opened without sharing: CreateFileW of the setup fails with a sharing violation.
HANDLE Lock(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WritesHalf(void* file, const void* data, std::uint32_t size, std::uint32_t& written) {
    DWORD n = 0;
    BOOL ok = WriteFile(static_cast<HANDLE>(file), data, size / 2, &n, nullptr);
    written = n;
    return ok != FALSE; // success reported, half the bytes written
}

// The person at the write-failure question: planned answers, each run before
// answering (to release a lock, say); the paths asked about are kept.
class ScriptedQuestions : public TInstallQuestions {
public:
    struct Step {
        TWriteFailureAnswer answer;
        std::function<void()> before;
    };
    std::vector<Step> Steps;
    std::vector<std::wstring> Asked;
    TWriteFailureAnswer CannotWrite(const std::wstring& path) override {
        Asked.push_back(path);
        if (Asked.size() > Steps.size()) return TWriteFailureAnswer::Abort; // unplanned: never loop
        const Step& step = Steps[Asked.size() - 1];
        if (step.before) step.before();
        return step.answer;
    }
};

class Payload : public ::testing::Test {
protected:
    void SetUp() override {
        session.Log = std::make_unique<TInstallLog>();
        session.Questions = &questions;
        saved_ = PayloadWriteFile;
    }
    void TearDown() override { PayloadWriteFile = saved_; }
    const std::vector<std::string>& Log() { return session.Log->List().Lines; }
    std::wstring Folder() const { return dir.path() + L"\\"; }

    TestDir dir;
    TInstallSession session;
    ScriptedQuestions questions;

private:
    WriteFileFn saved_ = nullptr;
};
} // namespace

TEST_F(Payload, EntriesAreListedWithTheirPlaceInTheArchive) {
    auto files = Reader();
    ASSERT_EQ(files->Files.size(), Records().size());
    EXPECT_FALSE(files->IndexUsed());
    // Read backwards: each read behind the last one starts the inflater again.
    for (std::size_t i = Records().size(); i-- > 0;) {
        const TAttachedFile& f = *files->Files[i];
        EXPECT_EQ(U8(f.Name), Records()[i].name);
        EXPECT_EQ(f.DateTime, Records()[i].when);
        ASSERT_EQ(f.Size, Records()[i].bytes.size());
        EXPECT_EQ(files->ReadEntry(f), Records()[i].bytes);
        if (i > 0) { // laid end to end in the inflated archive
            const TAttachedFile& p = *files->Files[i - 1];
            EXPECT_EQ(f.Offset, p.Offset + p.Size + 13 + Records()[i].name.size());
        }
    }
    EXPECT_EQ(files->Files[0]->Offset, 13u + Records()[0].name.size());
    EXPECT_EQ(files->Files[3]->Name, L"Mod\u00E8les de document\\Lettres\\Lettre.rtf");
    EXPECT_TRUE(files->ToInstall.empty());
    EXPECT_EQ(files->PublicFiles.Count(), 0u);

    std::string empty = Compress({});
    EXPECT_TRUE(Reader(empty)->Files.empty());
}

TEST_F(Payload, DamagedArchivesAndAMissingResourceThrowWithThePlace) {
    std::string z = Packed();
    std::string cut = z.substr(0, z.size() / 2);
    try {
        Reader(cut);
        ADD_FAILURE() << "a cut stream was accepted";
    } catch (const EArchiveError& e) {
        EXPECT_NE(e.Message().find("ends early"), std::string::npos) << e.Message();
    }
    std::vector<std::uint8_t> raw;
    AppendRecord(raw, "qrd.exe", 0, "MZ", 2);
    AppendRecord(raw, "Licence.txt", 0, "long enough", 11);
    raw.resize(raw.size() - 1); // the second record's contents end early
    try {
        Reader(Compress(raw));
        ADD_FAILURE() << "a short record was accepted";
    } catch (const EArchiveError& e) {
        EXPECT_NE(e.Message().find("record 2 at byte 22"), std::string::npos) << e.Message();
    }
    raw = {3, '.', '.', '\\', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_THROW(Reader(Compress(raw)), EArchiveError);
    // This test program carries no FILES resource.
    EXPECT_THROW(TAttachedFiles(), EResNotFound);
}

// The packer's index beside the archive: used only when it is whole and made
// for exactly these compressed bytes; anything else falls back to reading the
// archive itself, which still finds a damaged archive before anything is written.
TEST_F(Payload, AnIndexListsTheEntriesOnlyWhenItMatchesTheArchive) {
    std::string z = Packed();
    ArchiveIndex index;
    index.CompressedLength = z.size();
    index.HasProof = true;
    TSha256 sha;
    sha.Add(z.data(), z.size());
    index.Proof = sha.Finish();
    std::uint64_t offset = 0;
    for (const Rec& r : Records()) {
        ArchiveRecord a;
        a.Name = r.name;
        a.DateTime = r.when;
        a.Size = static_cast<std::uint32_t>(r.bytes.size());
        a.Offset = offset;
        offset = a.DataOffset() + a.Size;
        index.Records.push_back(a);
    }
    index.InflatedLength = offset;
    std::vector<std::uint8_t> good = EncodeIndex(index);
    auto withIndex = [&](const std::string& archive, const std::vector<std::uint8_t>& idx) {
        return std::make_unique<TAttachedFiles>(archive.data(), static_cast<std::uint32_t>(archive.size()),
                                                idx.data(), idx.size());
    };
    auto plain = Reader(z);
    auto indexed = withIndex(z, good);
    EXPECT_TRUE(indexed->IndexUsed());
    ASSERT_EQ(indexed->Files.size(), plain->Files.size());
    for (std::size_t i = 0; i < plain->Files.size(); ++i) {
        EXPECT_EQ(indexed->Files[i]->Name, plain->Files[i]->Name);
        EXPECT_EQ(indexed->Files[i]->Offset, plain->Files[i]->Offset);
        EXPECT_EQ(indexed->ReadEntry(*indexed->Files[i]), Records()[i].bytes);
    }
    ASSERT_TRUE(indexed->WriteEntry(session, *indexed->Files[3], Folder() + L"Lettre.rtf"));
    EXPECT_EQ(ReadAll(Folder() + L"Lettre.rtf"), Records()[3].bytes);

    // A damaged index, one made for other bytes, or one without proof, is passed over.
    std::vector<std::uint8_t> flipped = good;
    flipped[30] ^= 1;
    std::string other = Packed({Records()[0], Records()[1]});
    index.HasProof = false;
    std::vector<std::uint8_t> older = EncodeIndex(index);
    for (auto* files :
         {withIndex(z, flipped).release(), withIndex(other, good).release(), withIndex(z, older).release()}) {
        std::unique_ptr<TAttachedFiles> owned(files);
        EXPECT_FALSE(files->IndexUsed());
        EXPECT_EQ(files->ReadEntry(*files->Files[1]), Records()[1].bytes);
    }
    // Archive bytes damaged under a whole index: still refused up front.
    std::string damaged = z;
    damaged[damaged.size() / 2] ^= 0x55;
    EXPECT_THROW(withIndex(damaged, good), EArchiveError);
}

TEST_F(Payload, SelectsWholeNamesAndFolderPrefixesIgnoringCase) {
    auto files = Reader();
    files->SelectFiles(session, "LICENCE.txt", dir.path(), wmReplaceAlways); // first match only
    ASSERT_EQ(files->ToInstall.size(), 1u);
    EXPECT_EQ(files->ToInstall[0]->Source, files->Files[1].get());
    EXPECT_EQ(files->ToInstall[0]->Target, Folder() + L"Licence.txt");
    EXPECT_TRUE(files->ToInstall[0]->Logged);

    session.Log->Mute();
    files->SelectFiles(session, "mod\xC3\xA8les de DOCUMENT\\", dir.path() + L"/", wmReplaceAlways);
    session.Log->Unmute();
    ASSERT_EQ(files->ToInstall.size(), 3u);
    EXPECT_EQ(files->ToInstall[1]->Source, files->Files[3].get()); // at any depth, in archive order
    EXPECT_EQ(files->ToInstall[2]->Source, files->Files[5].get());
    EXPECT_EQ(files->ToInstall[2]->Target, Folder() + L"Mod\u00E8les de document\\Vide.rtf");
    EXPECT_FALSE(files->ToInstall[1]->Logged);

    files->SelectFiles(session, "absent.txt", dir.path(), wmReplaceAlways);
    files->SelectFiles(session, "Absent\\", dir.path(), wmReplaceAlways);
    files->SelectFiles(session, "qrd", dir.path(), wmReplaceAlways); // a whole name, not a prefix
    EXPECT_EQ(files->ToInstall.size(), 3u);
    EXPECT_EQ(files->PublicFiles.Count(), 0u); // nothing under the public folder
}

TEST_F(Payload, WriteModesAgainstExistingFiles) {
    auto files = Reader();
    const auto& F = files->Files;
    for (std::size_t i : {0u, 1u, 3u}) ASSERT_TRUE(files->WriteEntry(session, *F[i], Folder() + F[i]->Name));
    // Written files carry the entry's time: even seconds read back equal, odd ones never.
    EXPECT_EQ(FileDateOf(Folder() + L"qrd.exe"), F[0]->DateTime);
    EXPECT_NE(FileDateOf(Folder() + L"Licence.txt"), F[1]->DateTime);

    auto pick = [&](const char* name, std::uint8_t mode) {
        std::size_t before = files->ToInstall.size();
        files->SelectFiles(session, name, dir.path(), mode);
        return files->ToInstall.size() - before;
    };
    WriteWholeFile(PartialNameOf(Folder() + L"qrd.exe"), "left by a run that was killed");
    EXPECT_EQ(pick("qrd.exe", wmKeepExisting), 0u);
    EXPECT_FALSE(FileIsPresent(PartialNameOf(Folder() + L"qrd.exe")));
    EXPECT_EQ(pick("Collections d'inserts\\", wmKeepExisting), 1u); // missing: always taken
    EXPECT_EQ(pick("qrd.exe", wmReplaceIfOther), 0u);               // same date
    EXPECT_EQ(pick("Licence.txt", wmReplaceIfOther), 1u);           // odd second
    EXPECT_EQ(pick("qrd.exe", wmReplaceAlways), 1u);
    // Another date on disk: replaced in mode 1.
    HANDLE h =
        CreateFileW((Folder() + L"qrd.exe").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileDate(h, DateTimeToDosTime(When(2021, 3, 4, 10, 20, 32)));
    CloseHandle(h);
    EXPECT_EQ(pick("qrd.exe", wmReplaceIfOther), 1u);
    // OverwriteAll replaces whatever the mode.
    session.OverwriteAll = true;
    EXPECT_EQ(pick(("Mod\xC3\xA8les de document\\Lettres\\Lettre.rtf"), wmKeepExisting), 1u);
}

TEST_F(Payload, PublicFolderLinesMarkTheKeepMode) {
    auto files = Reader();
    session.PublicRoot = dir.path() + L"\\Norvanta\\Public\\";
    std::wstring pub = dir.path() + L"\\NORVANTA\\public"; // same folder, other case, no slash
    ASSERT_TRUE(files->WriteEntry(session, *files->Files[3], pub + L"\\" + files->Files[3]->Name));

    files->SelectFiles(session, kModeles, pub, wmKeepExisting); // the existing letter is kept
    files->SelectFiles(session, "Collections d'inserts\\", pub, wmReplaceIfOther);
    files->SelectFiles(session, "qrd.exe", dir.path(), wmKeepExisting); // not public
    session.OverwriteAll = true;
    files->SelectFiles(session, kModeles, pub, wmKeepExisting); // taken, still marked
    std::string p = U8(pub) + "\\";
    EXPECT_EQ(files->PublicFiles.Lines,
              (std::vector<std::string>{
                  p + kModeles + "Vide.rtf\t!", p + "Collections d'inserts\\Cl\xC3\xB4tures\\Fin.rtf",
                  p + kModeles + "Lettres\\Lettre.rtf\t!", p + kModeles + "Vide.rtf\t!"}));
    EXPECT_EQ(files->ToInstall.size(), 5u);
}

TEST_F(Payload, WritesBytesDateFolderChainAndLogLines) {
    auto files = Reader();
    const TAttachedFile& letter = *files->Files[3];
    std::wstring target = Folder() + L"A\\B\u00E9\\Lettre.rtf";
    ASSERT_TRUE(files->WriteEntry(session, letter, target));
    EXPECT_EQ(ReadAll(target), "{\\rtf1 lettre}");
    EXPECT_EQ(FileDateOf(target), letter.DateTime);
    EXPECT_EQ(Log(), (std::vector<std::string>{"Made Dir: " + U8(Folder()) + "A\\",
                                               "Made Dir: " + U8(Folder()) + "A\\B\xC3\xA9\\",
                                               "File Copy: " + U8(target)}));
    // An empty entry still gives a dated, logged file; a longer existing file is truncated.
    std::wstring empty = Folder() + L"A\\Vide.rtf";
    WriteWholeFile(empty, std::string(5000, 'x'));
    ASSERT_TRUE(files->WriteEntry(session, *files->Files[5], empty));
    EXPECT_EQ(ReadAll(empty), "");
    EXPECT_TRUE(FileIsPresent(empty));
    EXPECT_EQ(FileDateOf(empty), files->Files[5]->DateTime);
    EXPECT_EQ(Log().back(), "File Copy: " + U8(empty));
    EXPECT_TRUE(questions.Asked.empty());
}

TEST_F(Payload, LockedTargetRetryThenSucceeds) {
    auto files = Reader();
    std::wstring target = Folder() + L"qrd.exe";
    HANDLE lock = Lock(target);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    questions.Steps = {{TWriteFailureAnswer::Retry, [&] { CloseHandle(lock); }}};
    EXPECT_TRUE(files->WriteEntry(session, *files->Files[0], target));
    EXPECT_EQ(questions.Asked, std::vector<std::wstring>{target});
    EXPECT_EQ(ReadAll(target), Records()[0].bytes);
    EXPECT_EQ(Log().back(), "File Copy: " + U8(target));
}

TEST_F(Payload, LockedTargetIgnoreGoesOnAndAbortStops) {
    auto files = Reader();
    std::wstring target = Folder() + L"Licence.txt";
    WriteWholeFile(target, "old");
    HANDLE lock = Lock(target);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    questions.Steps = {{TWriteFailureAnswer::Retry, nullptr},
                       {TWriteFailureAnswer::Ignore, nullptr},
                       {TWriteFailureAnswer::Abort, nullptr}};
    EXPECT_TRUE(
        files->WriteEntry(session, *files->Files[1], target)); // Retry while still locked, then Ignore
    EXPECT_FALSE(files->WriteEntry(session, *files->Files[1], target)); // Abort
    EXPECT_EQ(questions.Asked.size(), 3u);
    CloseHandle(lock);
    EXPECT_EQ(ReadAll(target), "old");
    for (const std::string& line : Log()) EXPECT_EQ(line.find("File Copy: "), std::string::npos) << line;
}

TEST_F(Payload, SilentOrUnansweredFailureStopsWithoutAsking) {
    auto files = Reader();
    std::wstring target = Folder() + L"qrd.exe";
    HANDLE lock = Lock(target);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    session.Silent = true;
    EXPECT_FALSE(files->WriteEntry(session, *files->Files[0], target));
    EXPECT_TRUE(questions.Asked.empty());
    session.Silent = false;
    session.Questions = nullptr;
    EXPECT_FALSE(files->WriteEntry(session, *files->Files[0], target));
    CloseHandle(lock);
    EXPECT_TRUE(Log().empty() || Log().back().find("File Copy: ") == std::string::npos);
}

TEST_F(Payload, ShortWriteCountsAsAFailure) {
    auto files = Reader();
    PayloadWriteFile = WritesHalf;
    std::wstring target = Folder() + L"qrd.exe";
    questions.Steps = {{TWriteFailureAnswer::Abort, nullptr}};
    WriteWholeFile(target, "earlier");
    EXPECT_FALSE(files->WriteEntry(session, *files->Files[0], target));
    EXPECT_EQ(questions.Asked.size(), 1u);
    EXPECT_EQ(ReadAll(target), "earlier"); // nothing cut short under its name, nothing beside it
    EXPECT_FALSE(FileIsPresent(PartialNameOf(target)));
    EXPECT_TRUE(Log().empty());
}

namespace {
int failAtCall = 0, writeCalls = 0;
bool FailsOnce(void* file, const void* data, std::uint32_t size, std::uint32_t& written) {
    if (++writeCalls == failAtCall) {
        written = 0;
        SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    DWORD n = 0;
    BOOL ok = WriteFile(static_cast<HANDLE>(file), data, size, &n, nullptr);
    written = n;
    return ok != FALSE;
}

std::string Noise(std::size_t n, std::uint32_t seed) {
    std::string s(n, '\0');
    for (char& c : s) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 24);
    }
    return s;
}
} // namespace

// Entries larger than the inflater's lead of blocks, read out of order and
// retried after a failure in mid-file (the thread is then still inflating ahead).
TEST_F(Payload, EntriesAcrossManyBlocksRetriedAndReadOutOfOrder) {
    const std::size_t block = TInflateAhead::kBlock;
    std::vector<Rec> recs = {
        {"petit.txt", When(2021, 1, 1, 0, 0, 0), "avant"},
        {"gros.bin", When(2021, 1, 1, 0, 0, 2), Noise(block * TInflateAhead::kBlocks + 777, 1)},
        {"milieu.txt", When(2021, 1, 1, 0, 0, 4), "entre"},
        {"autre.bin", When(2021, 1, 1, 0, 0, 6), Noise(block + 1, 2)}};
    const std::uint64_t from = InflateAheadFrom;
    InflateAheadFrom = 0; // on its thread, small as the payload is
    auto files = Reader(Packed(recs));
    InflateAheadFrom = from;
    std::wstring big = Folder() + L"gros.bin";
    PayloadWriteFile = FailsOnce;
    writeCalls = 0;
    failAtCall = 3;
    questions.Steps = {{TWriteFailureAnswer::Retry, nullptr}};
    ASSERT_TRUE(files->WriteEntry(session, *files->Files[1], big));
    EXPECT_EQ(questions.Asked, std::vector<std::wstring>{big});
    EXPECT_EQ(ReadAll(big), recs[1].bytes);
    EXPECT_EQ(session.CopyDone, recs[1].bytes.size());
    for (std::size_t i : {3u, 0u, 2u, 1u, 3u})
        EXPECT_EQ(files->ReadEntry(*files->Files[i]), recs[i].bytes) << i;

    // The inflater failing in mid-stream, on its thread or not: the bytes before
    // the failing block come, then every read throws, until a restart.
    std::string z = Compress(std::vector<std::uint8_t>(recs[1].bytes.begin(), recs[1].bytes.end()));
    z.resize(z.size() / 2);
    for (bool threaded : {true, false}) {
        TMemorySource source(z.data(), z.size());
        TStreamInflater inflater(source);
        TInflateAhead ahead(inflater, threaded);
        const std::uint8_t* bytes = nullptr;
        std::string got;
        try {
            for (std::size_t n; (n = ahead.Take(bytes, 100000)) != 0;)
                got.append(reinterpret_cast<const char*>(bytes), n);
            ADD_FAILURE() << "a damaged stream read to its end";
        } catch (const EZlibError&) {}
        EXPECT_EQ(got.size() % block, 0u);
        EXPECT_GT(got.size(), 0u);
        EXPECT_TRUE(got == recs[1].bytes.substr(0, got.size()));
        EXPECT_THROW(ahead.Take(bytes, 1), EZlibError);
        ahead.Restart();
        EXPECT_EQ(ahead.Position(), 0u);
        ASSERT_EQ(ahead.Take(bytes, 5), 5u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), 5), recs[1].bytes.substr(0, 5));
    }
}
