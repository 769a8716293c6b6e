// The wizard driven as a person would: find the window, press its buttons and
// keys, read the page titles, answer its message boxes.
#include "E2ETest.h"
#include "Strings.h"
#include <tlhelp32.h>
#include <gtest/gtest.h>
#include <commctrl.h>

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
    // The finish page waits for the person without holding another run up.
    EXPECT_EQ(RunSilently(L"/S \"/D" + (dir / L"Other") + L"\""), 0);
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
    // Wine's desktop has no shell window: this test stands in for the shell.
    HWND shell =
        CreateWindowExW(0, L"STATIC", L"shell", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    auto setShell = reinterpret_cast<BOOL(WINAPI*)(HWND)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetShellWindow")));
    ASSERT_TRUE(setShell && setShell(shell) && GetShellWindow() == shell);
    std::wstring main = dir / L"Norvanta";
    SetupProcess p(L"\"-D" + main + L"\"");
    ASSERT_TRUE(p.ToReadyPage());
    Next(p);
    ASSERT_TRUE(p.WaitForTitle(Title(5), 60000));
    EXPECT_TRUE(p.Checked(p.CheckBox(GetTextW(txtLaunchNow))));
    p.Click(p.Button(GetTextW(txtFinish)));
    EXPECT_EQ(p.Wait(), 0);
    bool started = false;
    for (int i = 0; i < 500 && !(started = MarkedWindowExists()); ++i) Sleep(20);
    EXPECT_TRUE(started);
    // Started by the shell's process, as the desktop's user, not by the elevated setup.
    DWORD parent = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, L"qrd.exe") == 0) parent = entry.th32ParentProcessID;
    CloseHandle(snapshot);
    EXPECT_EQ(parent, GetCurrentProcessId());
    DestroyWindow(shell);
    // Close the word processor that was started.
    HWND marked = MarkedWindow();
    if (marked) PostMessageW(marked, WM_CLOSE, 0, 0);
    for (int i = 0; i < 250 && MarkedWindowExists(); ++i) Sleep(20);
    EXPECT_TRUE(Exists(main + L"\\qrd.exe"));
}

// Another run holds the lock: the wizard says so in French on the progress page;
// Annuler ends it with nothing written, and the notice goes when the lock comes.
TEST_F(Wizard, WaitingForTheLockIsToldAndAnnulerWritesNothing) {
    HANDLE lock = HoldInstallLock();
    std::wstring main = dir / L"Norvanta";
    for (bool annuler : {true, false}) {
        SetupProcess p(L"\"-D" + main + L"\"");
        ASSERT_TRUE(p.ToReadyPage());
        Next(p);
        HWND box = p.MessageBox();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(p.MessageText(box), FromUtf8(kTextWaitingForLock));
        EXPECT_EQ(p.Text(GetDlgItem(box, IDCANCEL)), GetTextW(txtCancel));
        if (!annuler) {
            ReleaseInstallLock(lock);
            // The notice closes itself once the lock comes: only then is the box gone.
            EXPECT_TRUE(Eventually([&] { return !IsWindow(box); }, 20000));
            EXPECT_TRUE(p.WaitForTitle(Title(5), 60000));
            break;
        }
        p.Answer(box, IDCANCEL);
        EXPECT_EQ(p.Wait(), 0);
        EXPECT_FALSE(Exists(main));
        EXPECT_FALSE(Exists(SharedData()));
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKeyW));
    }
}

// ---- By keyboard alone, as a person who uses no mouse, at 100 % and 200 %.

namespace {
constexpr bool kShift = true, kAlt = true;

class Keyboard : public Wizard, public ::testing::WithParamInterface<int> {
protected:
    static void Type(WORD vk, bool shift = false, bool alt = false) { SetupProcess::Type(vk, shift, alt); }
    static void Alt(WORD letter) { Type(letter, false, kAlt); }
    static HWND Gone(SetupProcess& p, HWND box) {
        EXPECT_TRUE(Eventually([&] { return !IsWindow(box); })) << "the box stays";
        return p.Form();
    }
    static std::wstring Label(SetupProcess& p, HWND box, int id) { return p.Text(GetDlgItem(box, id)); }
};
} // namespace

INSTANTIATE_TEST_SUITE_P(Scale, Keyboard, ::testing::Values(96, 192),
                         [](const ::testing::TestParamInfo<int>& i) {
                             return std::to_string(i.param) + "ppi";
                         });

TEST_P(Keyboard, EveryPageForwardsAndBackThenInstalls) {
    std::wstring main = dir / L"Norvanta";
    SetupProcess p(L"\"-D" + main + L"\"", GetParam());
    ASSERT_TRUE(p.WaitForTitle(Title(0)));
    HWND next = p.Button(GetTextW(txtNext)), cancel = p.Button(GetTextW(txtCancel));
    ASSERT_TRUE(next && cancel);
    RECT client;
    GetClientRect(p.Form(), &client); // the scale asked for is the one shown
    EXPECT_GE(client.right, MulDiv(492, GetParam(), 96) * 9 / 10);
    // The first page: Suite has the focus; Tab and Shift+Tab go round the buttons.
    EXPECT_TRUE(p.WaitForFocus(next));
    Type(VK_TAB);
    EXPECT_TRUE(p.WaitForFocus(cancel));
    Type(VK_TAB, kShift);
    EXPECT_TRUE(p.WaitForFocus(next));
    Alt('S');
    ASSERT_TRUE(p.WaitForTitle(Title(1)));
    HWND memo = VisibleChild(p.Form(), L"TMemo"), accept = p.CheckBox(GetTextW(txtAcceptLicence));
    EXPECT_TRUE(p.WaitForFocus(memo));

    // A bare letter in the licence text is typing, not a mnemonic; on the check
    // box it is one: "J'&accepte" unticks the licence.
    Type('S');
    Type(VK_TAB);
    EXPECT_TRUE(p.WaitForFocus(accept));
    EXPECT_EQ(p.PageTitle(), Title(1));
    Type('A');
    EXPECT_TRUE(Eventually([&] { return !p.Checked(accept); }));
    // Next refuses; once its box is closed the focus is back on Suite, where the
    // mnemonic put it, and Space presses it again.
    Alt('S');
    for (int i = 0; i < 2; ++i) {
        HWND box = p.MessageBox();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(p.MessageText(box), GetTextW(txtLicenceRequired));
        EXPECT_EQ(Label(p, box, IDOK), L"OK");
        Type(VK_RETURN);
        Gone(p, box);
        EXPECT_TRUE(p.WaitForFocus(next)) << "after box " << i;
        EXPECT_EQ(p.PageTitle(), Title(1));
        if (i == 0) Type(VK_SPACE);
    }
    Alt('A');
    EXPECT_TRUE(Eventually([&] { return p.Checked(accept); }));
    EXPECT_TRUE(p.WaitForFocus(accept));
    Type('S'); // the focus is on the check box: a bare letter is a mnemonic
    ASSERT_TRUE(p.WaitForTitle(Title(2)));
    HWND edit = p.Edit(), browse = p.Button(GetTextW(txtBrowse));
    EXPECT_TRUE(p.WaitForFocus(edit));

    // The folder browser, opened with Space and closed with Escape, gives the
    // focus back to its button (not to the field, where Space would type a blank).
    Type(VK_TAB);
    EXPECT_TRUE(p.WaitForFocus(browse));
    Type(VK_SPACE);
    HWND browser = p.MessageBox();
    ASSERT_NE(browser, nullptr);
    Type(VK_ESCAPE);
    Gone(p, browser);
    EXPECT_TRUE(p.WaitForFocus(browse));
    EXPECT_EQ(p.Text(edit), main);
    Alt('S');
    ASSERT_TRUE(p.WaitForTitle(Title(3)));
    EXPECT_TRUE(p.WaitForFocus(next));

    // Back to the first page, each page focused as on the way forwards, and on again.
    const HWND focusOf[] = {next, memo, edit, next};
    for (int page = 2; page >= 0; --page) {
        Alt('R');
        ASSERT_TRUE(p.WaitForTitle(Title(page)));
        EXPECT_TRUE(p.WaitForFocus(focusOf[page])) << "back on page " << page;
    }
    for (int page = 1; page <= 3; ++page) {
        Alt('S');
        ASSERT_TRUE(p.WaitForTitle(Title(page)));
        EXPECT_TRUE(p.WaitForFocus(focusOf[page])) << "on page " << page;
    }

    // The write-failure question, its buttons in French: Réessayer once the file is free.
    CreateDirectoryW(main.c_str(), nullptr);
    HANDLE lock =
        CreateFileW((main + L"\\Licence.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    Alt('S');
    HWND box = p.MessageBox(60000);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(p.PageTitle(), Title(4));
    EXPECT_EQ(Label(p, box, IDABORT), L"&Abandonner");
    EXPECT_EQ(Label(p, box, IDRETRY), L"&R\u00E9essayer");
    EXPECT_EQ(Label(p, box, IDIGNORE), L"&Ignorer");
    CloseHandle(lock);
    Type('R');
    Gone(p, box);
    ASSERT_TRUE(p.WaitForTitle(Title(5), 60000));
    EXPECT_TRUE(Exists(main + L"\\Licence.txt"));
    // The finish page: the launch box has the focus; at 100 % its mnemonic unticks it.
    HWND launch = p.CheckBox(GetTextW(txtLaunchNow));
    EXPECT_TRUE(p.WaitForFocus(launch));
    bool launched = GetParam() != 96;
    if (!launched) {
        Alt('L');
        EXPECT_TRUE(Eventually([&] { return !p.Checked(launch); }));
    }
    EXPECT_EQ(p.Checked(launch), launched);
    // At 100 % Alt+T presses Terminer; at 200 % Alt+F4 closes the window, which
    // finishes as Terminer does: no question, and the tick decides the start.
    if (launched)
        Type(VK_F4, false, kAlt);
    else
        Alt('T');
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"LAUNCH").Number(), launched ? 1u : 0u);
    EXPECT_TRUE(Exists(SharedData() + L"Update.log")); // the closing step ran
    EXPECT_EQ(Eventually([] { return MarkedWindowExists(); }, launched ? 10000 : 1000), launched);
    if (HWND marked = MarkedWindow()) PostMessageW(marked, WM_CLOSE, 0, 0);
    Eventually([] { return !MarkedWindowExists(); }, 5000);
}

TEST_P(Keyboard, TheCloseQuestionAnswersWithItsFrenchButtons) {
    SetupProcess p(L"", GetParam());
    ASSERT_TRUE(p.WaitForTitle(Title(0)));
    Alt('S');
    ASSERT_TRUE(p.WaitForTitle(Title(1)));
    Type(VK_TAB);
    HWND accept = p.CheckBox(GetTextW(txtAcceptLicence));
    EXPECT_TRUE(p.WaitForFocus(accept));
    Type(VK_F4, false, kAlt);
    HWND box = p.MessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(p.MessageText(box), GetTextW(txtNotFinished));
    EXPECT_EQ(Label(p, box, IDYES), L"&Oui");
    EXPECT_EQ(Label(p, box, IDNO), L"&Non");
    // Oui stays the default button, as the system made it.
    EXPECT_EQ(GetWindowLongW(GetDlgItem(box, IDYES), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_EQ(GetWindow(box, GW_OWNER), GetWindow(p.Form(), GW_OWNER)); // modal to the wizard's owner
    EXPECT_FALSE(IsWindowEnabled(p.Form()));
    Type('N');
    Gone(p, box);
    EXPECT_EQ(p.Wait(0), -1);
    EXPECT_TRUE(p.WaitForFocus(accept)); // back where it was
    EXPECT_TRUE(p.Checked(accept));
    Type(VK_ESCAPE); // Annuler asks the same
    box = p.MessageBox();
    ASSERT_NE(box, nullptr);
    Type('O');
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKeyW));
}

// With a payload of 48 MB the copying lasts: meanwhile the window answers its
// messages, its bar moves, the buttons stay as the page set them, and the close
// box or Cancel asks the close question between two files: No goes on, Yes
// stops the copying there (what was written is recorded).
TEST_F(Wizard, TheProgressPageAnswersAndCancelsDuringALongCopy) {
    SetupProcess p(L"", LargeSetupExe());
    ASSERT_TRUE(p.ToReadyPage());
    Next(p);
    HWND bar = nullptr;
    // The bar's position once it stands beyond `after` and short of the end;
    // answered only while the program handles its messages.
    auto midway = [&](DWORD_PTR after) {
        DWORD_PTR at = 0;
        for (int i = 0; i < 5000 && (at <= after || at >= 1000); ++i) {
            if (!bar) bar = VisibleChild(p.Form(), L"msctls_progress32");
            if (!bar || !SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &at)) at = 0;
            Sleep(1);
        }
        return at;
    };
    auto ask = [&](void (*press)(SetupProcess&), int answer) {
        press(p);
        HWND box = p.MessageBox();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(p.MessageText(box), GetTextW(txtNotFinished));
        p.Answer(box, answer);
    };
    DWORD_PTR first = midway(0);
    ASSERT_GT(first, 0u);
    ASSERT_LT(first, 1000u);
    EXPECT_EQ(p.PageTitle(), Title(4));
    EXPECT_FALSE(IsWindowEnabled(p.Button(GetTextW(txtBack))));
    EXPECT_FALSE(IsWindowEnabled(p.Button(GetTextW(txtNext))));
    EXPECT_TRUE(IsWindowEnabled(p.Button(GetTextW(txtCancel))));
    ask([](SetupProcess& s) { s.Close(); }, IDNO);
    DWORD_PTR second = midway(first);
    ASSERT_GT(second, first); // the copying went on
    ASSERT_LT(second, 1000u);
    ask([](SetupProcess& s) { s.Click(s.Button(GetTextW(txtCancel))); }, IDYES);
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_TRUE(Exists(DefaultMainDir() + L"\\qrd.exe"));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"MAINDIR").Text(), DefaultMainDir());
    EXPECT_TRUE(Exists(DefaultMainDir() + L"\\Install.log"));
    EXPECT_FALSE(Exists(SharedData() + L"Update.log"));
    EXPECT_LT(FilesUnder(SharedData() + L"Public"), FilesUnder(LargePayloadFolder()) - 2);
}
