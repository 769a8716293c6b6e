// The wizard driven as a person would: find the window, press its buttons and
// keys, read the page titles, answer its message boxes.
#include "E2ETest.h"
#include "Strings.h"
#include <gtest/gtest.h>

namespace {
std::wstring Title(int page) {
    return GetTextW(txtPageTitle0 + page);
}

class Wizard : public E2ETest {
protected:
    // Next, and the page that follows.
    static void Next(SetupProcess& p) { p.Click(p.Button(GetTextW(txtNext))); }
    static void Back(SetupProcess& p) { p.Click(p.Button(GetTextW(txtBack))); }
    // Closes the window and confirms: the wizard ends with 0.
    static void Quit(SetupProcess& p) {
        p.Close();
        HWND box = p.MessageBox();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(p.MessageText(box), GetTextW(txtNotFinished));
        p.Answer(box, IDYES);
        EXPECT_EQ(p.Wait(), 0);
    }
};
} // namespace

TEST_F(Wizard, NextThroughEveryPageToTheFinish) {
    SetupProcess p(L"");
    ASSERT_NE(p.Form(), nullptr);
    ASSERT_TRUE(p.WaitForTitle(Title(0)));
    EXPECT_EQ(p.Text(p.Form()), GetTextW(txtCaption));
    EXPECT_FALSE(IsWindowVisible(p.Button(GetTextW(txtBack))) && p.Button(GetTextW(txtBack)));
    Next(p);
    ASSERT_TRUE(p.WaitForTitle(Title(1)));
    HWND memo = VisibleChild(p.Form(), L"TMemo");
    ASSERT_NE(memo, nullptr);
    EXPECT_EQ(p.Text(memo).rfind(L"CONTRAT DE LICENCE", 0), 0u); // the licence text is shown
    Next(p);
    ASSERT_TRUE(p.WaitForTitle(Title(2)));
    EXPECT_EQ(p.Text(p.Edit()), DefaultMainDir());
    Next(p);
    ASSERT_TRUE(p.WaitForTitle(Title(3)));
    Next(p);
    ASSERT_TRUE(p.WaitForTitle(Title(5), 60000));
    // On the finish page: Cancel is disabled, Back too, Next reads Terminer.
    EXPECT_FALSE(IsWindowEnabled(p.Button(GetTextW(txtCancel))));
    EXPECT_FALSE(IsWindowEnabled(p.Button(GetTextW(txtBack))));
    HWND finish = p.Button(GetTextW(txtFinish));
    ASSERT_NE(finish, nullptr);
    HWND launch = p.CheckBox(GetTextW(txtLaunchNow));
    ASSERT_NE(launch, nullptr);
    if (p.Checked(launch)) p.Click(launch);
    EXPECT_TRUE(Eventually([&] { return !p.Checked(launch); }));
    p.Click(finish);
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_TRUE(Exists(DefaultMainDir() + L"\\qrd.exe"));
    EXPECT_TRUE(Exists(SharedData() + L"Update.log"));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"LAUNCH").Number(), 0u);
    EXPECT_FALSE(MarkedWindowExists());
}

TEST_F(Wizard, TheLicenceMustBeAccepted) {
    SetupProcess p(L"");
    ASSERT_TRUE(p.WaitForTitle(Title(0)));
    Next(p);
    ASSERT_TRUE(p.WaitForTitle(Title(1)));
    HWND accept = p.CheckBox(GetTextW(txtAcceptLicence));
    ASSERT_NE(accept, nullptr);
    EXPECT_TRUE(p.Checked(accept));
    p.Click(accept);
    Next(p);
    HWND box = p.MessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(p.MessageText(box), GetTextW(txtLicenceRequired));
    p.Answer(box, IDOK);
    EXPECT_EQ(p.PageTitle(), Title(1));
    Quit(p);
    EXPECT_FALSE(Exists(DefaultMainDir()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKeyW));
}

TEST_F(Wizard, AfterAnEarlierInstallationTheLicencePageIsSkipped) {
    HKEY k;
    RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKeyW, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    DWORD off = 0;
    RegSetValueExW(k, L"INSTALLTOALL", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off), 4);
    RegCloseKey(k);
    SetupProcess p(L"");
    ASSERT_TRUE(p.WaitForTitle(Title(0)));
    Next(p);
    ASSERT_TRUE(p.WaitForTitle(Title(2)));
    Next(p);
    ASSERT_TRUE(p.WaitForTitle(Title(3)));
    EXPECT_FALSE(p.Checked(p.CheckBox(GetTextW(txtAllUsers)))); // the earlier choice
    Back(p);
    ASSERT_TRUE(p.WaitForTitle(Title(2)));
    Back(p);
    ASSERT_TRUE(p.WaitForTitle(Title(0)));
    Quit(p);
}

TEST_F(Wizard, ADestinationIsNormalisedAndAPortableCopyRefusedInProgramFiles) {
    SetupProcess p(L"");
    ASSERT_TRUE(p.WaitForTitle(Title(0)));
    Next(p);
    Next(p);
    ASSERT_TRUE(p.WaitForTitle(Title(2)));
    HWND edit = p.Edit();
    p.SetText(edit, L"  C:  ");
    p.Key(edit, VK_RETURN); // Enter in the edit is Next
    ASSERT_TRUE(p.WaitForTitle(Title(3)));
    Back(p);
    ASSERT_TRUE(p.WaitForTitle(Title(2)));
    EXPECT_EQ(p.Text(edit), L"C:\\Norvanta");
    p.SetText(edit, L"Apps");
    Next(p);
    ASSERT_TRUE(p.WaitForTitle(Title(3)));
    Back(p);
    EXPECT_EQ(p.Text(edit), DefaultMainDir());

    HWND portable = p.CheckBox(GetTextW(txtPortableCopy));
    ASSERT_NE(portable, nullptr);
    p.Click(portable);
    EXPECT_TRUE(Eventually([&] { return p.Checked(portable); }));
    Next(p);
    HWND box = p.MessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(p.MessageText(box), GetTextW(txtPortableRefused));
    p.Answer(box, IDOK);
    EXPECT_EQ(p.PageTitle(), Title(2));
    Quit(p);
}

TEST_F(Wizard, AFolderHoldingNorvantaIniIsAPortableCopy) {
    std::wstring folder = dir / L"Cle USB";
    CreateDirectoryW(folder.c_str(), nullptr);
    CloseHandle(CreateFileW((folder + L"\\Norvanta.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                            nullptr));
    SetupProcess p(L"\"-D" + folder + L"\"");
    ASSERT_TRUE(p.WaitForTitle(Title(0)));
    Next(p);
    Next(p);
    ASSERT_TRUE(p.WaitForTitle(Title(2)));
    HWND portable = p.CheckBox(GetTextW(txtPortableCopy));
    EXPECT_TRUE(p.Checked(portable));
    EXPECT_FALSE(IsWindowEnabled(portable));
    EXPECT_EQ(p.Text(p.Edit()), folder);
    Quit(p);
}

TEST_F(Wizard, ClosingAsksAndNoKeepsTheWizard) {
    SetupProcess p(L"");
    ASSERT_TRUE(p.WaitForTitle(Title(0)));
    p.Close();
    HWND box = p.MessageBox();
    ASSERT_NE(box, nullptr);
    p.Answer(box, IDNO);
    EXPECT_EQ(p.Wait(500), -1); // still running
    EXPECT_EQ(p.PageTitle(), Title(0));
    p.Key(p.Button(GetTextW(txtNext)), VK_ESCAPE); // Escape is Cancel, which asks too
    box = p.MessageBox();
    ASSERT_NE(box, nullptr);
    p.Answer(box, IDYES);
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_FALSE(Exists(DefaultMainDir()));
    EXPECT_FALSE(Exists(SharedData()));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKeyW));
}

TEST_F(Wizard, TheLaunchBoxStartsTheInstalledProgram) {
    std::wstring main = dir / L"Norvanta";
    SetupProcess p(L"\"-D" + main + L"\"");
    ASSERT_TRUE(p.WaitForTitle(Title(0)));
    for (int page = 1; page <= 3; ++page) {
        Next(p);
        ASSERT_TRUE(p.WaitForTitle(Title(page)));
    }
    Next(p);
    ASSERT_TRUE(p.WaitForTitle(Title(5), 60000));
    EXPECT_TRUE(p.Checked(p.CheckBox(GetTextW(txtLaunchNow))));
    p.Click(p.Button(GetTextW(txtFinish)));
    EXPECT_EQ(p.Wait(), 0);
    bool started = false;
    for (int i = 0; i < 500 && !(started = MarkedWindowExists()); ++i) Sleep(20);
    EXPECT_TRUE(started);
    // Close the word processor that was started.
    HWND marked = MarkedWindow();
    if (marked) PostMessageW(marked, WM_CLOSE, 0, 0);
    for (int i = 0; i < 250 && MarkedWindowExists(); ++i) Sleep(20);
    EXPECT_TRUE(Exists(main + L"\\qrd.exe"));
}
