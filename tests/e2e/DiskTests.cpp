// Full disks for real: drive E: is a small tmpfs mounted on the Linux side for
// each test (skipped, saying so, where mounting is refused).
#include "E2ETest.h"
#include "Strings.h"
#include <gtest/gtest.h>

class Disk : public E2ETest {
protected:
    void TearDown() override {
        RunOnHost("rm -f \"$WINEPREFIX/dosdevices/e:\"; umount " + mount_ + " || umount -l " + mount_ +
                  "; rmdir " + mount_);
        E2ETest::TearDown();
    }
    bool MountDrive(unsigned kib) {
        return RunOnHost("mkdir -p " + mount_ + " && mount -t tmpfs -o size=" + std::to_string(kib) +
                         "k tmpfs " + mount_ + " && ln -sfn " + mount_ + " \"$WINEPREFIX/dosdevices/e:\"") ==
               0;
    }
    void WalkTo(SetupProcess& p,
                int page) { // Next until that page (the licence's is skipped after an installation)
        ASSERT_TRUE(p.WaitForTitle(GetTextW(txtPageTitle0)));
        for (int i = 0; i < 4 && p.PageTitle() != GetTextW(txtPageTitle0 + page); ++i) {
            std::wstring before = p.PageTitle();
            p.Click(p.Button(GetTextW(txtNext)));
            ASSERT_TRUE(Eventually([&] { return p.PageTitle() != before; }));
        }
    }
    const std::string mount_ = "/tmp/norvanta-disk-" + std::to_string(GetCurrentProcessId());
    const std::wstring main = L"E:\\Norvanta", runLog = dir / L"setup.log";
};

TEST_F(Disk, APayloadLargerThanTheDriveIsRefusedBeforeAnythingIsWritten) {
    if (!MountDrive(64)) GTEST_SKIP() << "no tmpfs could be mounted as drive E: (mounting refused here)";
    EXPECT_EQ(RunSilently(L"/S \"/D" + main + L"\" \"/LOG=" + runLog + L"\""), 3);
    EXPECT_TRUE(HasLine(FileLines(runLog), "Exit code 3: not enough room on E:\\ for the installation: "));
    EXPECT_FALSE(Exists(main) || Exists(SharedData()) || KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
    SetupProcess p(L"\"/D" + main + L"\"");
    WalkTo(p, 2);
    p.Click(p.Button(GetTextW(txtNext)));
    HWND box = p.MessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_NE(p.MessageText(box).find(L"lecteur E:\\ pour"), std::wstring::npos) << Utf8(p.MessageText(box));
    EXPECT_NE(p.MessageText(box).find(L"disponible : 0,0 Mo"), std::wstring::npos);
    p.Answer(box, IDOK);
    EXPECT_EQ(p.PageTitle(), GetTextW(txtPageTitle0 + 2)); // the folder page stays
}

// Filled by someone else once the room was checked: exit 2, the earlier program whole.
TEST_F(Disk, ADriveFilledDuringTheCopyEndsWithTwoAndKeepsTheEarlierFilesWhole) {
    if (!MountDrive(4096)) GTEST_SKIP() << "no tmpfs could be mounted as drive E: (mounting refused here)";
    ASSERT_EQ(RunSilently(L"/S \"/D" + main + L"\""), 0);
    std::string earlier = Bytes(main + L"\\qrd.exe") + "of an earlier installation";
    HANDLE h =
        CreateFileW((main + L"\\qrd.exe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(h, earlier.data(), static_cast<DWORD>(earlier.size()), &n, nullptr);
    CloseHandle(h);
    SetupProcess p(L"\"/D" + main + L"\"");
    WalkTo(p, 3);
    ULARGE_INTEGER free{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(L"E:\\", &free, nullptr, nullptr) && free.QuadPart > (1u << 20));
    h = CreateFileW(L"E:\\filler", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    std::string block(4096, 'f');
    for (ULONGLONG i = 0; i < free.QuadPart / 4096 - 4; ++i) WriteFile(h, block.data(), 4096, &n, nullptr);
    CloseHandle(h);
    p.Click(p.Button(GetTextW(txtNext)));
    HWND box = p.MessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_NE(p.MessageText(box).find(main + L"\\qrd.exe"), std::wstring::npos);
    p.Answer(box, IDABORT);
    EXPECT_EQ(p.Wait(), 2);
    EXPECT_EQ(Bytes(main + L"\\qrd.exe"), earlier);
    WIN32_FIND_DATAW fd;
    EXPECT_EQ(FindFirstFileW((main + L"\\*.norvanta-new").c_str(), &fd), INVALID_HANDLE_VALUE);
}
