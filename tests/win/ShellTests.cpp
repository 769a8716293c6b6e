// Shell services against Wine's shell32 and ole32: known folders, shortcuts read
// back through IShellLinkW, the folder browser answered as a user would, and
// launching with the verb "open"; the message boxes with French buttons.
#include "DialogAnswerer.h"
#include "Files.h"
#include "FrenchMessageBox.h"
#include "InstallLog.h"
#include "Paths.h"
#include "Shell.h"
#include "InstallTraces.h"
#include "TestDir.h"
#include "TextConv.h"
#include "WinHandles.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>
#include <shlobj.h>

namespace {
class ShellServices : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr))); }
    void TearDown() override { OleUninitialize(); }
    TestDir dir;
    TInstallLog log;
};

} // namespace

TEST_F(ShellServices, KnownFoldersAsA32BitProgramSeesThem) {
    std::wstring programs = KnownFolder(0x26);
#ifndef _WIN64
    EXPECT_TRUE(SamePath(programs, L"C:\\Program Files (x86)")) << Utf16ToUtf8(programs);
#endif
    for (int csidl : {0x02, 0x05, 0x10, 0x17, 0x19, 0x23, 0x26}) {
        std::wstring f = KnownFolder(csidl);
        EXPECT_FALSE(f.empty()) << csidl;
        EXPECT_NE(f.back(), L'\\') << csidl;
        EXPECT_EQ(f.find(L'\0'), std::wstring::npos);
    }
    EXPECT_TRUE(FolderExists(KnownFolder(0x23)));
    EXPECT_EQ(KnownFolder(0xFF), L""); // no such folder: empty, not an error
    EXPECT_EQ(KnownFolder(-1), L"");
}

TEST_F(ShellServices, ShortcutIsReadBackAndItsFolderChainLogged) {
    std::wstring target = dir / L"qrd.exe";
    WriteWholeFile(target, "MZ");
    std::wstring menu = dir.path() + L"\\Menu\\Norvanta \u00E9dition\\";
    std::wstring link = menu + L"Traitement de texte Norvanta.lnk";
    std::wstring description = L"Traitement de texte compact, rapide, puissant, et par dessus tout pratique";
    MakeShortcut(link, target, dir.path() + L"\\", description, &log);
    EXPECT_TRUE(FileIsPresent(link));
    EXPECT_EQ(log.List().Lines, (std::vector<std::string>{
                                    "Made Dir: " + Utf16ToUtf8(dir.path() + L"\\Menu\\"),
                                    "Made Dir: " + Utf16ToUtf8(menu), "File Copy: " + Utf16ToUtf8(link)}));
    LinkFields f = LoadLink(link);
    EXPECT_TRUE(SamePath(f.path, target)) << Utf16ToUtf8(f.path);
    EXPECT_TRUE(SamePath(PathWithoutSlash(f.folder), dir.path())) << Utf16ToUtf8(f.folder);
    EXPECT_EQ(f.description, description);

    // Replacing it in an existing folder makes no folder line.
    log.Clear();
    MakeShortcut(link, target, dir.path(), L"autre", &log);
    EXPECT_EQ(log.List().Lines, (std::vector<std::string>{"File Copy: " + Utf16ToUtf8(link)}));
    EXPECT_EQ(LoadLink(link).description, L"autre");
}

namespace {
BOOL CALLBACK FindTree(HWND h, LPARAM l) {
    wchar_t cls[32] = {};
    GetClassNameW(h, cls, 32);
    if (lstrcmpW(cls, L"SysTreeView32") != 0) return TRUE;
    *reinterpret_cast<HWND*>(l) = h;
    return FALSE;
}

void WaitForSelection(HWND dialog, const std::wstring& name) {
    for (int i = 0; i < 3000; ++i) { // 30 s: a loaded machine fills the tree slowly
        HWND tree = nullptr;
        EnumChildWindows(dialog, FindTree, reinterpret_cast<LPARAM>(&tree));
        if (tree) {
            wchar_t text[MAX_PATH] = {};
            TVITEMW item{};
            item.mask = TVIF_TEXT;
            item.hItem = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
            item.pszText = text;
            item.cchTextMax = MAX_PATH;
            if (item.hItem && SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) &&
                name == text)
                return;
        }
        Sleep(10);
    }
}
} // namespace

TEST_F(ShellServices, BrowserOpensOnTheGivenFolderAndCancelKeepsThePath) {
    std::wstring chosen = dir / L"Choix";
    CreateDirectoryW(chosen.c_str(), nullptr);
    std::wstring path = chosen + L"\\"; // as the destination field holds it
    {
        // Wine builds its shell namespace on the first browser of a session and may
        // miss the first selection meanwhile: open and cancel one first.
        std::wstring warm = path;
        DialogAnswerer answer({{IDCANCEL, nullptr}});
        BrowseForFolder(warm, nullptr);
    }
    {
        // OK once the browser shows the folder it was asked to open on (it fills its
        // tree in steps, so a loaded machine may take a while).
        DialogAnswerer answer({{IDOK, [](HWND dialog) { WaitForSelection(dialog, L"Choix"); }}});
        EXPECT_TRUE(BrowseForFolder(path, nullptr));
        EXPECT_EQ(answer.Seen(), 1);
    }
    EXPECT_TRUE(SamePath(path, chosen)) << Utf16ToUtf8(path); // OK on the preselected folder

    std::wstring before = L"C:\\Nulle part\\";
    path = before;
    {
        DialogAnswerer answer({{IDCANCEL, nullptr}});
        EXPECT_FALSE(BrowseForFolder(path, nullptr));
        EXPECT_EQ(answer.Seen(), 1);
    }
    EXPECT_EQ(path, before);
}

TEST_F(ShellServices, OpenRunsABatchFile) {
    std::wstring marker = dir / L"opened.txt";
    std::wstring script = dir / L"open me.cmd";
    WriteWholeFile(script, "@echo opened> \"%~dp0opened.txt\"\r\n");
    OpenWithShell(script, SW_SHOWNORMAL);
    for (int i = 0; i < 600 && !FileIsPresent(marker); ++i)
        Sleep(50); // waits for the launch, asserts no time
    EXPECT_TRUE(FileIsPresent(marker));
    OpenWithShell(dir / L"absent.cmd", SW_SHOWNORMAL); // reports nothing
}

// ---- Message boxes with French buttons, as the setup and the uninstaller show them.

namespace {
struct BoxSeen {
    std::vector<std::wstring> labels; // in button order, as read back from the box
    bool fit = true;                  // every label within its button
    HWND owner = nullptr;
};

void Inspect(HWND box, BoxSeen& seen) {
    seen.owner = GetWindow(box, GW_OWNER);
    for (int id : {IDOK, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO}) {
        HWND button = GetDlgItem(box, id);
        if (!button) continue;
        wchar_t label[64] = {};
        GetWindowTextW(button, label, 64);
        seen.labels.push_back(label);
        HDC dc = GetDC(button);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(button, WM_GETFONT, 0, 0)));
        RECT text{0, 0, 0, 0}, client;
        DrawTextW(dc, label, -1, &text, DT_CALCRECT | DT_SINGLELINE);
        SelectObject(dc, old);
        ReleaseDC(button, dc);
        GetClientRect(button, &client);
        seen.fit = seen.fit && text.right + 4 <= client.right && text.bottom <= client.bottom;
    }
}
} // namespace

TEST(FrenchMessageBoxes, LabelEveryButtonInFrenchAndAnswerTheOnePressed) {
    HWND owner = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 10, 10, 300, 100, nullptr, nullptr,
                                 nullptr, nullptr);
    HWND field = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 5, 5, 200, 24, owner,
                                 nullptr, nullptr, nullptr);
    struct Case {
        MsgButtons buttons;
        int icon, press;
        std::vector<std::wstring> labels;
    };
    const std::vector<std::wstring> yesNo{L"&Oui", L"&Non"};
    const std::vector<std::wstring> abortRetryIgnore{L"&Abandonner", L"&R\u00E9essayer", L"&Ignorer"};
    const Case cases[] = {
        {mbOk, miInformation, IDOK, {L"OK"}},
        {mbYesNo, miQuestion, IDYES, yesNo},
        {mbYesNo, miQuestion, IDNO, yesNo},
        {mbAbortRetryIgnore, miError, IDABORT, abortRetryIgnore},
        {mbAbortRetryIgnore, miError, IDRETRY, abortRetryIgnore},
        {mbAbortRetryIgnore, miError, IDIGNORE, abortRetryIgnore},
    };
    for (const Case& c : cases) {
        SetFocus(field);
        BoxSeen seen;
        int answer;
        {
            DialogAnswerer answerer({{c.press, [&](HWND box) { Inspect(box, seen); }}}, L"Norvanta");
            answer = FrenchMessageBox(L"Le texte de la question.", L"Norvanta", c.icon, c.buttons, owner);
            EXPECT_EQ(answerer.Seen(), 1);
        }
        SCOPED_TRACE(testing::Message() << "buttons " << c.buttons << ", pressed " << c.press);
        EXPECT_EQ(answer, c.press);
        EXPECT_EQ(seen.labels, c.labels);
        EXPECT_TRUE(seen.fit);
        EXPECT_EQ(seen.owner, owner);
        EXPECT_EQ(GetFocus(), field); // back where it was before the box
    }
    DestroyWindow(owner);
}
