// Full disks for real: a small tmpfs mounted on the Linux side and mapped as
// drive E:. A payload larger than the drive is refused before anything is
// written; a drive that someone else fills during the copy leaves every earlier
// file whole and nothing cut short beside it.
#include "E2ETest.h"
#include "Strings.h"
#include "TextConv.h"
#include <gtest/gtest.h>
#include <algorithm>

namespace {
// Each test gets drive E: of the size it asks for, taken away at its end.
class Disk : public E2ETest {
protected:
    void TearDown() override {
        if (!mount_.empty())
            RunOnHost("rm -f \"$WINEPREFIX/dosdevices/e:\"; umount " + mount_ + " || umount -l " + mount_ +
                      "; rmdir " + mount_);
        E2ETest::TearDown();
    }
    // False when the system refuses the mount (the caller skips, and says so).
    bool MountDrive(unsigned kib) {
        mount_ = "/tmp/norvanta-disk-" + std::to_string(GetCurrentProcessId());
        return RunOnHost("mkdir -p " + mount_ + " && mount -t tmpfs -o size=" + std::to_string(kib) +
                         "k tmpfs " + mount_ + " && ln -sfn " + mount_ + " \"$WINEPREFIX/dosdevices/e:\"") ==
                   0 &&
               Eventually([] { return GetFileAttributesW(L"E:\\") != INVALID_FILE_ATTRIBUTES; });
    }
    std::vector<std::wstring> Leftovers(const std::wstring& folder) {
        std::vector<std::wstring> found;
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW((folder + L"\\*.norvanta-new").c_str(), &fd);
        for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileW(h, &fd))
            found.push_back(fd.cFileName);
        if (h != INVALID_HANDLE_VALUE) FindClose(h);
        return found;
    }
    // Next until the ready page (the licence page is skipped after an installation).
    bool ToReadyPage(SetupProcess& p) {
        if (!p.WaitForTitle(GetTextW(txtPageTitle0))) return false;
        for (int i = 0; i < 4 && p.PageTitle() != GetTextW(txtPageTitle0 + 3); ++i) {
            std::wstring before = p.PageTitle();
            p.Click(p.Button(GetTextW(txtNext)));
            if (!Eventually([&] { return p.PageTitle() != before; })) return false;
        }
        return p.PageTitle() == GetTextW(txtPageTitle0 + 3);
    }
    const std::wstring main = L"E:\\Norvanta";

private:
    std::string mount_;
};
} // namespace

TEST_F(Disk, APayloadLargerThanTheDriveIsRefusedBeforeAnythingIsWritten) {
    if (!MountDrive(64)) GTEST_SKIP() << "no tmpfs could be mounted as drive E: (mounting refused here)";
    std::wstring runLog = dir / L"setup.log";
    EXPECT_EQ(RunSilently(L"/S \"/D" + main + L"\" \"/LOG=" + runLog + L"\""), 3);
    std::vector<std::string> lines = FileLines(runLog);
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("Exit code 3: not enough room on E:\\ for the installation: "),
              std::string::npos)
        << lines.back();
    EXPECT_NE(lines.back().find(" bytes needed, "), std::string::npos) << lines.back();
    EXPECT_FALSE(Exists(main));
    EXPECT_FALSE(Exists(SharedData()));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));

    // The wizard names the drive and the figures, and its folder page stays.
    SetupProcess p(L"\"/D" + main + L"\"");
    ASSERT_TRUE(p.WaitForTitle(GetTextW(txtPageTitle0)));
    for (int page = 1; page <= 2; ++page) {
        p.Click(p.Button(GetTextW(txtNext)));
        ASSERT_TRUE(p.WaitForTitle(GetTextW(txtPageTitle0 + page)));
    }
    p.Click(p.Button(GetTextW(txtNext)));
    HWND box = p.MessageBox();
    ASSERT_NE(box, nullptr);
    std::wstring text = p.MessageText(box);
    EXPECT_NE(text.find(L"lecteur E:\\ pour"), std::wstring::npos) << Utf8(text);
    EXPECT_NE(text.find(L"disponible : 0,0 Mo"), std::wstring::npos) << Utf8(text);
    p.Answer(box, IDOK);
    EXPECT_EQ(p.PageTitle(), GetTextW(txtPageTitle0 + 2));
    EXPECT_FALSE(Exists(main));
}

TEST_F(Disk, ADriveFilledDuringTheCopyEndsWithTwoAndKeepsTheEarlierFilesWhole) {
    if (!MountDrive(4096)) GTEST_SKIP() << "no tmpfs could be mounted as drive E: (mounting refused here)";
    ASSERT_EQ(RunSilently(L"/S \"/D" + main + L"\""), 0);
    const std::string earlier = "the earlier installation's program";
    {
        HANDLE h =
            CreateFileW((main + L"\\qrd.exe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n = 0;
        WriteFile(h, earlier.data(), static_cast<DWORD>(earlier.size()), &n, nullptr);
        CloseHandle(h);
    }
    SetupProcess p(L"\"/D" + main + L"\"");
    ASSERT_TRUE(ToReadyPage(p)); // the room was checked on the way
    // Someone else fills the drive but for a few KiB, less than the program.
    ULARGE_INTEGER free{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(L"E:\\", &free, nullptr, nullptr));
    ASSERT_GT(free.QuadPart, 1024u * 1024u);
    HANDLE filler = CreateFileW(L"E:\\filler", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    std::string block(64 * 1024, 'f');
    for (ULONGLONG left = free.QuadPart - 16 * 1024; left > 0;) {
        DWORD n = static_cast<DWORD>(std::min<ULONGLONG>(left, block.size())), done = 0;
        if (!WriteFile(filler, block.data(), n, &done, nullptr) || done == 0) break;
        left -= done;
    }
    CloseHandle(filler);
    p.Click(p.Button(GetTextW(txtNext)));
    HWND box = p.MessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_NE(p.MessageText(box).find(main + L"\\qrd.exe"), std::wstring::npos) << Utf8(p.MessageText(box));
    p.Answer(box, IDABORT);
    EXPECT_EQ(p.Wait(), 2);
    EXPECT_EQ(Bytes(main + L"\\qrd.exe"), earlier);
    EXPECT_EQ(Bytes(main + L"\\Licence.txt").rfind("CONTRAT DE LICENCE", 0), 0u);
    EXPECT_EQ(Leftovers(main), std::vector<std::wstring>{});
}
