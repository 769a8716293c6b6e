// The real setup.exe run silently, as deployment tools run it: exit codes, what
// it leaves behind, and that nothing is ever shown.
#include "E2ETest.h"
#include "Strings.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
class Silent : public E2ETest {
protected:
    static bool NothingInstalled(const std::wstring& mainDir) {
        return !Exists(mainDir) && !Exists(SharedData()) && !KeyExists(HKEY_CURRENT_USER, kSettingsKeyW) &&
               !KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW);
    }
};
} // namespace

TEST_F(Silent, InstallsEverythingAndExitsZero) {
    EXPECT_EQ(RunSilently(L"/S"), 0);
    std::wstring main = DefaultMainDir();
    EXPECT_TRUE(Exists(main + L"\\qrd.exe"));
    EXPECT_TRUE(Exists(main + L"\\Licence.txt"));
    std::vector<std::string> log = FileLines(main + L"\\Install.log");
    ASSERT_EQ(log.size(), 8u);
    EXPECT_EQ(log[0].rfind("Made Dir: ", 0), 0u);
    EXPECT_EQ(log.back().rfind("File Copy: ", 0), 0u);
    std::vector<std::string> update = FileLines(SharedData() + L"Update.log");
    ASSERT_EQ(update.size(), 90u);
    std::string stamp = Bytes(SharedData() + L"Hidden\\install_stamp");
    ASSERT_EQ(stamp.size(), 8u);
    char hex[3];
    std::string spelled = "*";
    for (unsigned char b : stamp) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        spelled += hex;
    }
    EXPECT_EQ(update[0], spelled);
    EXPECT_EQ(Bytes(SharedData() + L"qrd_common.dat").size(), 25u);
    EXPECT_TRUE(Exists(SharedData() + L"Public\\Mod\u00E8les de document"));
    LinkFields link = LoadLink(ShortcutIn(CSIDL_COMMON_PROGRAMS));
    EXPECT_EQ(link.path, main + L"\\qrd.exe");
    EXPECT_TRUE(Exists(ShortcutIn(CSIDL_COMMON_DESKTOPDIRECTORY)));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"MAINDIR").Text(), main);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kUninstallKeyW, L"DisplayName").Text(),
              L"Traitement de texte Norvanta");
}

TEST_F(Silent, ARunningCopyExitsOneAndLeavesNothing) {
    SetupProcess qrd(L"", DemoProgramExe());
    ASSERT_TRUE(qrd.Started());
    for (int i = 0; i < 500 && !MarkedWindowExists(); ++i) Sleep(20);
    ASSERT_TRUE(MarkedWindowExists());
    EXPECT_EQ(RunSilently(L"/S"), 1);
    EXPECT_TRUE(NothingInstalled(DefaultMainDir()));
}

TEST_F(Silent, ALockedTargetExitsTwoAndStillRecords) {
    std::wstring main = dir / L"Norvanta";
    CreateDirectoryW(main.c_str(), nullptr);
    std::wstring licence = main + L"\\Licence.txt";
    HANDLE lock = CreateFileW(licence.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunSilently(L"/S \"-D" + main + L"\""), 2);
    CloseHandle(lock);
    std::vector<std::string> log = FileLines(main + L"\\Install.log");
    auto has = [&](const char* end) {
        return std::any_of(log.begin(), log.end(), [&](const std::string& l) {
            return l.size() >= std::strlen(end) &&
                   l.compare(l.size() - std::strlen(end), std::string::npos, end) == 0;
        });
    };
    EXPECT_TRUE(has("\\qrd.exe"));
    EXPECT_FALSE(has("\\Licence.txt"));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"MAINDIR").Text(), main);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
    EXPECT_FALSE(Exists(ShortcutIn(CSIDL_COMMON_PROGRAMS)));
}

TEST_F(Silent, OnlyRealSilentSwitchesCount) {
    EXPECT_EQ(RunSilently(L"-Sxyz"), 0);
    EXPECT_TRUE(Exists(DefaultMainDir() + L"\\qrd.exe"));
    CleanInstallState();
    for (const wchar_t* notSilent : {L"S", L"--S"}) {
        SetupProcess p(notSilent);
        ASSERT_NE(p.Form(), nullptr) << "the wizard shows for " << notSilent;
        p.Close();
        HWND box = p.MessageBox();
        ASSERT_NE(box, nullptr);
        p.Answer(box, IDYES);
        EXPECT_EQ(p.Wait(), 0);
        EXPECT_FALSE(Exists(DefaultMainDir()));
    }
}

TEST_F(Silent, DestinationSwitches) {
    EXPECT_EQ(RunSilently(L"/S -DC:\\Apps\\Editor"), 0);
    EXPECT_TRUE(Exists(L"C:\\Apps\\Editor\\qrd.exe"));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"MAINDIR").Text(), L"C:\\Apps\\Editor");
    TestDir::RemoveTree(L"C:\\Apps");
    CleanInstallState();

    EXPECT_EQ(RunSilently(L"/S /d"), 0); // empty: the default folder
    EXPECT_TRUE(Exists(DefaultMainDir() + L"\\qrd.exe"));
    CleanInstallState();

    std::wstring first = dir / L"First", second = dir / L"Second";
    EXPECT_EQ(RunSilently(L"/S \"/D" + first + L"\" \"-d" + second + L"\""), 0);
    EXPECT_TRUE(Exists(first + L"\\qrd.exe"));
    EXPECT_FALSE(Exists(second));
}

TEST_F(Silent, APortableCopyRefusedInProgramFilesExitsThree) {
    std::wstring portable = KnownPath(CSIDL_PROGRAM_FILES) + L"\\NorvantaPortable";
    CreateDirectoryW(portable.c_str(), nullptr);
    HANDLE ini = CreateFileW((portable + L"\\Norvanta.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             0, nullptr);
    CloseHandle(ini);
    EXPECT_EQ(RunSilently(L"/S \"-D" + portable + L"\""), 3);
    EXPECT_FALSE(Exists(portable + L"\\qrd.exe"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKeyW));
    TestDir::RemoveTree(portable);
}

TEST_F(Silent, ADamagedPayloadEndsWith217AndWritesNothing) {
    std::wstring variant = SetupVariant(dir.path(), "FILES", "FILES", std::string(4096, 'x'));
    ASSERT_FALSE(variant.empty());
    EXPECT_EQ(RunSilently(L"/S", variant), 217);
    EXPECT_TRUE(NothingInstalled(DefaultMainDir()));

    // Shown to a person, the error is said in a box before the end.
    SetupProcess p(L"", variant);
    HWND box = p.MessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_NE(p.MessageText(box).find(L"erreur"), std::wstring::npos);
    p.Answer(box, IDOK);
    EXPECT_EQ(p.Wait(), 217);
    EXPECT_TRUE(NothingInstalled(DefaultMainDir()));
}
