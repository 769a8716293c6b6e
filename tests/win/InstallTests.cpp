// Whole installations without any window: the install procedure driven through
// its choices interface, with the demo payload this test program carries.
#include "AttachFiles.h"
#include "Elevation.h"
#include "Files.h"
#include "InstallTraces.h"
#include "Install.h"
#include "Strings.h"
#include "TextConv.h"
#include "UpdateLog.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

namespace {
struct TestChoices : TInstallChoices {
    bool portable = false, allUsers = true, desktop = true, launch = true;
    bool IsPortable() override { return portable; }
    bool AllUsers() override { return allUsers; }
    bool DesktopShortcut() override { return desktop; }
    bool LaunchAfter() override { return launch; }
};

bool IsShared(const std::wstring& name) {
    return name.rfind(L"Mod\u00E8les de document\\", 0) == 0 ||
           name.rfind(L"Collections d'inserts\\", 0) == 0;
}

// The shared documents the payload carries: each is listed in Update.log.
std::size_t SharedCount(const TAttachedFiles& files) {
    return static_cast<std::size_t>(std::count_if(files.Files.begin(), files.Files.end(),
                                                  [](const auto& f) { return IsShared(f->Name); }));
}

// Answers every write-failure question the same way, counting them.
struct CountingQuestions : TInstallQuestions {
    TWriteFailureAnswer answer = TWriteFailureAnswer::Abort;
    std::vector<std::wstring> asked;
    std::function<void()> before;
    TWriteFailureAnswer CannotWrite(const std::wstring& path) override {
        asked.push_back(path);
        if (before) before();
        return asked.size() > 3 ? TWriteFailureAnswer::Abort : answer;
    }
};

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        CleanInstallState();
        MainDir = dir.path() + L"\\Norvanta";
    }
    void TearDown() override {
        CleanInstallState();
        CoUninitialize();
    }
    // A new session, as each run of the program makes one.
    TInstallSession& Fresh(TestChoices& choices) {
        session = std::make_unique<TInstallSession>();
        session->MainDir = MainDir;
        session->Choices = &choices;
        return *session;
    }
    // One run of the wizard's install steps, as pages 4, 5 and 6 and the program end make them.
    bool Install(TestChoices& choices) {
        TInstallSession& s = Fresh(choices);
        TAttachedFiles files;
        bool ok = RunInstall(s, files) && FinishInstall(s);
        if (ok) CloseInstall(s, files);
        RecordInstall(s);
        stamp = s.InstallStamp;
        return ok;
    }
    std::wstring Target(const TAttachedFile& f, bool portable) {
        if (IsShared(f.Name)) return (portable ? MainDir + L"\\" : SharedData() + L"Public\\") + f.Name;
        return MainDir + L"\\" + f.Name;
    }
    std::wstring Main(const wchar_t* name) { return MainDir + L"\\" + name; }

    TestDir dir;
    std::wstring MainDir;
    std::unique_ptr<TInstallSession> session;
    double stamp = 0.0;
};
} // namespace

TEST_F(InstallTest, FirstNormalInstallationLeavesEveryRecord) {
    TestChoices choices;
    ASSERT_TRUE(Install(choices));
    EXPECT_EQ(session->ExitCode(), 0);
    TAttachedFiles files;
    ASSERT_GT(SharedCount(files), 0u);

    // Every payload file where it belongs, with the archive's time.
    for (const auto& f : files.Files) {
        std::wstring t = Target(*f, false);
        ASSERT_TRUE(FileIsPresent(t)) << Utf16ToUtf8(t);
        EXPECT_EQ(Bytes(t), files.ReadEntry(*f)) << Utf16ToUtf8(t);
        EXPECT_EQ(FileDateOf(t), f->DateTime) << Utf16ToUtf8(t);
    }

    // Install.log: the shared folders, the program and licence, the shortcuts; never a template.
    std::string shared = Utf16ToUtf8(SharedData()), main = Utf16ToUtf8(MainDir);
    std::vector<std::string> expected = {
        "Made Dir: " + shared,
        "Made Dir: " + shared + "Public\\",
        "Made Dir: " + shared + "Hidden\\",
        "Made Dir: " + main + "\\",
        "File Copy: " + main + "\\qrd.exe",
        "File Copy: " + main + "\\Licence.txt",
        "File Copy: " + Utf16ToUtf8(ShortcutIn(CSIDL_COMMON_PROGRAMS)),
        "File Copy: " + Utf16ToUtf8(ShortcutIn(CSIDL_COMMON_DESKTOPDIRECTORY)),
    };
    EXPECT_EQ(FileLines(Main(L"Install.log")), expected);

    // Update.log: one section, the stamp of this run and every shared file marked "!".
    std::vector<std::string> update = FileLines(SharedData() + L"Update.log");
    ASSERT_EQ(update.size(), 1 + SharedCount(files));
    EXPECT_EQ(update[0], StampLine(stamp));
    for (std::size_t i = 1; i < update.size(); ++i) {
        EXPECT_EQ(update[i].rfind(shared + "Public\\", 0), 0u) << update[i];
        EXPECT_EQ(update[i].substr(update[i].size() - 2), "\t!") << update[i];
        if (i > 1) {
            EXPECT_LE(CompareText8(update[i - 1], update[i]), 0) << update[i];
        }
    }
    // The same eight bytes in install_stamp.
    EXPECT_EQ(Bytes(SharedData() + L"Hidden\\install_stamp"), StampBytes(stamp));

    // qrd_common.dat: 25 bytes of fixed fields and the moment it was written.
    std::string common = Bytes(SharedData() + L"qrd_common.dat");
    ASSERT_EQ(common.size(), 25u);
    std::int32_t ints[2], tail[2];
    double when;
    std::memcpy(ints, common.data(), 8);
    std::memcpy(&when, common.data() + 8, 8);
    std::memcpy(tail, common.data() + 16, 8);
    EXPECT_EQ(ints[0], 1);
    EXPECT_EQ(ints[1], 8);
    EXPECT_EQ(tail[0], 2);
    EXPECT_EQ(tail[1], 1);
    EXPECT_EQ(common[24], '1');
    EXPECT_NEAR(when, NowDateTime(), 60.0 / 86400);

    // Both shortcuts for all users.
    for (int csidl : {CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_DESKTOPDIRECTORY}) {
        LinkFields link = LoadLink(ShortcutIn(csidl));
        ASSERT_TRUE(link.loaded) << csidl;
        EXPECT_EQ(link.path, Main(L"qrd.exe"));
        EXPECT_EQ(link.folder, MainDir);
        EXPECT_EQ(link.description, GetTextW(txtShortcutDescription));
    }
    EXPECT_FALSE(Exists(ShortcutIn(CSIDL_PROGRAMS)));

    // The settings and the uninstall entry.
    RegValue dirValue = ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"MAINDIR");
    EXPECT_EQ(dirValue.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(dirValue.Text(), MainDir);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"INSTALLTOALL").Number(), 1u);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"LAUNCH").type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kUninstallKeyW, L"UninstallString").Text(),
              L"\"" + Main(L"qrd.exe") + L"\" -ui");
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kUninstallKeyW, L"DisplayIcon").Text(), Main(L"qrd.exe"));
    // Every payload file and the two state files, in KB rounded up.
    std::uint64_t written = 8 + 25;
    for (const auto& f : files.Files) written += f->Size;
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kUninstallKeyW, L"EstimatedSize").Number(),
              (written + 1023) / 1024);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kUninstallKeyW, L"InstallLocation").Text(), MainDir);
}

TEST_F(InstallTest, SecondInstallationRewritesAndKeepsOneSectionPerRun) {
    TestChoices choices;
    ASSERT_TRUE(Install(choices));
    std::vector<std::string> firstLog = FileLines(Main(L"Install.log"));
    std::string firstStamp = FileLines(SharedData() + L"Update.log")[0];

    TAttachedFiles files;
    std::wstring templ = Target(*files.Files[2], false);
    WriteWholeFile(Main(L"qrd.exe"), "changed by the user");
    WriteWholeFile(templ, "changed by the user");
    for (double first = stamp; NowDateTime() <= first;) Sleep(1); // a later stamp
    ASSERT_TRUE(Install(choices));

    EXPECT_EQ(Bytes(Main(L"qrd.exe")).substr(0, 2), "MZ");
    EXPECT_EQ(Bytes(templ), files.ReadEntry(*files.Files[2]));
    EXPECT_EQ(FileLines(Main(L"Install.log")), firstLog); // nothing it already held
    std::vector<std::string> update = FileLines(SharedData() + L"Update.log");
    ASSERT_EQ(update.size(), 1 + SharedCount(files)); // the emptied first section's stamp is gone
    EXPECT_EQ(update[0], StampLine(stamp));
    EXPECT_NE(update[0], firstStamp);
    EXPECT_EQ(std::count_if(update.begin(), update.end(), [](const std::string& l) { return l[0] == '*'; }),
              1);
}

TEST_F(InstallTest, AllUsersReplacesPerUserShortcutsAndDesktopOffLeavesOneAlone) {
    TestChoices choices;
    choices.allUsers = false;
    ASSERT_TRUE(Install(choices));
    EXPECT_TRUE(Exists(ShortcutIn(CSIDL_PROGRAMS)));
    EXPECT_TRUE(Exists(ShortcutIn(CSIDL_DESKTOPDIRECTORY)));
    EXPECT_FALSE(Exists(ShortcutIn(CSIDL_COMMON_PROGRAMS)));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"INSTALLTOALL").Number(), 0u);

    choices.allUsers = true;
    ASSERT_TRUE(Install(choices));
    EXPECT_FALSE(Exists(ShortcutIn(CSIDL_PROGRAMS)));
    EXPECT_FALSE(Exists(ShortcutIn(CSIDL_DESKTOPDIRECTORY)));
    EXPECT_TRUE(Exists(ShortcutIn(CSIDL_COMMON_PROGRAMS)));
    EXPECT_TRUE(Exists(ShortcutIn(CSIDL_COMMON_DESKTOPDIRECTORY)));

    choices.desktop = false;
    ASSERT_TRUE(Install(choices));
    EXPECT_TRUE(Exists(ShortcutIn(CSIDL_COMMON_DESKTOPDIRECTORY)));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"DSKSHORTCUT").Number(), 0u);
}

TEST_F(InstallTest, PortableOverPortableTouchesOnlyWhatDiffers) {
    TestChoices choices;
    choices.portable = true;
    MainDir = dir.path() + L"\\Portable";
    ASSERT_TRUE(Install(choices));
    TAttachedFiles files;
    for (const auto& f : files.Files) EXPECT_TRUE(FileIsPresent(Target(*f, true))) << Utf16ToUtf8(f->Name);
    EXPECT_TRUE(FileIsPresent(Main(L"Norvanta.ini")));
    EXPECT_EQ(Bytes(Main(L"Norvanta.ini")), "");
    EXPECT_EQ(Bytes(Main(L"qrd_common.dat")).size(), 25u);
    EXPECT_FALSE(Exists(Main(L"Install.log")));
    EXPECT_FALSE(Exists(SharedData()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKeyW));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
    for (int csidl :
         {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS, CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY})
        EXPECT_FALSE(Exists(ShortcutIn(csidl)));

    // Same time, other bytes: kept. Other time: rewritten. A shared document: kept.
    std::wstring program = Main(L"qrd.exe"), licence = Main(L"Licence.txt"),
                 templ = Target(*files.Files[2], true);
    FILETIME programTime;
    {
        HANDLE h =
            CreateFileW(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        GetFileTime(h, nullptr, nullptr, &programTime);
        CloseHandle(h);
    }
    WriteWholeFile(program, "kept");
    HANDLE h = CreateFileW(program.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(h, nullptr, nullptr, &programTime);
    CloseHandle(h);
    WriteWholeFile(licence, "older licence");
    WriteWholeFile(templ, "the user's own template");
    WriteWholeFile(Main(L"Norvanta.ini"), "[user]");
    ASSERT_TRUE(Install(choices));
    EXPECT_EQ(Bytes(program), "kept");
    EXPECT_EQ(Bytes(licence), files.ReadEntry(*files.Files[1]));
    EXPECT_EQ(Bytes(templ), "the user's own template");
    EXPECT_EQ(Bytes(Main(L"Norvanta.ini")), "[user]");
    EXPECT_FALSE(Exists(Main(L"Install.log")));
}

TEST_F(InstallTest, WriteFailureStillRecordsSettingsAndThePartialLog) {
    TestChoices choices;
    CreateDirectoryW(MainDir.c_str(), nullptr);
    WriteWholeFile(Main(L"Licence.txt"), "locked");
    HANDLE lock =
        CreateFileW(Main(L"Licence.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    TInstallSession& s = Fresh(choices);
    s.Silent = true;
    TAttachedFiles files;
    EXPECT_FALSE(RunInstall(s, files));
    RecordInstall(s);
    CloseHandle(lock);

    std::vector<std::string> log = FileLines(Main(L"Install.log"));
    std::string main = Utf16ToUtf8(MainDir);
    EXPECT_NE(std::find(log.begin(), log.end(), "File Copy: " + main + "\\qrd.exe"), log.end());
    EXPECT_EQ(std::find(log.begin(), log.end(), "File Copy: " + main + "\\Licence.txt"), log.end());
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"MAINDIR").Text(), MainDir);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
    EXPECT_FALSE(Exists(SharedData() + L"Update.log"));
    EXPECT_FALSE(Exists(ShortcutIn(CSIDL_COMMON_PROGRAMS)));
}

TEST_F(InstallTest, StateFilesThatCannotBeWrittenAreAskedAboutLikePayloadFiles) {
    TestChoices choices;
    CountingQuestions questions;
    // install_stamp held open: the question, and Abort stops before any payload file.
    CreateDirectoryW(SharedData().c_str(), nullptr);
    CreateDirectoryW((SharedData() + L"Hidden").c_str(), nullptr);
    std::wstring stampFile = SharedData() + L"Hidden\\install_stamp";
    HANDLE lock = CreateFileW(stampFile.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    TInstallSession& s = Fresh(choices);
    s.Questions = &questions;
    TAttachedFiles files;
    EXPECT_FALSE(RunInstall(s, files));
    EXPECT_EQ(questions.asked, std::vector<std::wstring>{stampFile});
    EXPECT_FALSE(Exists(Main(L"qrd.exe")));
    // Silent: no question, the same stop.
    TInstallSession& silent = Fresh(choices);
    silent.Silent = true;
    silent.Questions = &questions;
    TAttachedFiles again;
    EXPECT_FALSE(RunInstall(silent, again));
    EXPECT_EQ(questions.asked.size(), 1u);
    CloseHandle(lock);

    // qrd_common.dat held open on the finish page: Retry once it is released writes it.
    std::wstring common = SharedData() + L"qrd_common.dat";
    lock = CreateFileW(common.c_str(), GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    questions.asked.clear();
    questions.answer = TWriteFailureAnswer::Retry;
    questions.before = [&] { CloseHandle(std::exchange(lock, INVALID_HANDLE_VALUE)); };
    TInstallSession& retry = Fresh(choices);
    retry.Questions = &questions;
    TAttachedFiles third;
    ASSERT_TRUE(RunInstall(retry, third));
    EXPECT_TRUE(FinishInstall(retry));
    EXPECT_EQ(questions.asked, std::vector<std::wstring>{common});
    EXPECT_EQ(Bytes(common).size(), 25u);
}

// The removal of a machine-wide installation without administrator rights:
// prompt once, never in a silent run, never again from the run it started.
TEST(Rights, OnlyAnInteractiveFirstRunWithoutTheRightsAsksForThem) {
    // Machine-wide, administrator, silent, started for the rights.
    EXPECT_EQ(RightsStep(false, false, false, false), TRightsStep::GoOn);
    EXPECT_EQ(RightsStep(true, true, true, false), TRightsStep::GoOn);
    EXPECT_EQ(RightsStep(true, true, false, true), TRightsStep::GoOn);
    EXPECT_EQ(RightsStep(true, false, false, false), TRightsStep::StartElevated);
    EXPECT_EQ(RightsStep(true, false, true, false), TRightsStep::Refuse);
    EXPECT_EQ(RightsStep(true, false, false, true), TRightsStep::Refuse);
}

// The token this thread wears counts: one whose Administrators group is
// deny-only, as user account control filters it, has no rights.
TEST(Rights, ATokenWithTheAdministratorsGroupDenyOnlyHasNoRights) {
    HANDLE filtered = FilteredToken();
    ASSERT_NE(filtered, nullptr);
    EXPECT_TRUE(HasAdministratorRights()) << "Wine gives every process an administrator's token";
    ASSERT_TRUE(ImpersonateLoggedOnUser(filtered));
    EXPECT_FALSE(HasAdministratorRights());
    RevertToSelf();
    CloseHandle(filtered);
}
