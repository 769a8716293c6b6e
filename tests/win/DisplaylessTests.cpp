// A run that shows nothing (a silent install) keeps away from the display: forms
// load from their definitions without a window, a device context or the theme,
// and a shortcut is made without an OLE window. Under Wine any of those loads
// the display driver into the process (and starts the desktop process first),
// so the driver's absence is what these tests look for. Nothing here may touch
// the display, so this program holds only these tests.
#include "ExtCtrls.h"
#include "Forms.h"
#include "GuiForm.h"
#include "InstallLog.h"
#include "ResourceStream.h"
#include "Shell.h"
#include "StdCtrls.h"
#include "SystemLibraries.h"
#include "TextConv.h"
#include <gtest/gtest.h>

namespace {
bool DisplayTouched() {
    return GetModuleHandleW(L"winex11.drv") || GetModuleHandleW(L"uxtheme.dll");
}
// Wine 10 sometimes loads the driver while it starts the process, before any code of
// ours runs (seen in the first suite of a new prefix): then this process cannot show
// what the framework does, and says so rather than blame it.
const bool kTouchedAtStart = DisplayTouched();
#define SKIP_IF_TOUCHED_AT_START()                                                                           \
    if (kTouchedAtStart) GTEST_SKIP() << "Wine loaded the display driver before the program ran"

class SilentFramework : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        InitFramework(false);
        static const TClassInfo* const classes[] = {&TBevel::Info, &TButton::Info, &TCheckBox::Info,
                                                    &TEdit::Info,  &TLabel::Info,  &TPanel::Info};
        RegisterClassList(classes);
        UseClassResourcesOf(GetModuleHandleW(nullptr));
    }
    static void TearDownTestSuite() { DoneFramework(); }
};
} // namespace

TEST_F(SilentFramework, AFormLoadsWithoutWindowMeasureOrTheme) {
    SKIP_IF_TOUCHED_AT_START();
    ASSERT_TRUE(Displayless());
    EXPECT_EQ(Application->Handle(), nullptr);
    EXPECT_EQ(ScreenPixelsPerInch(), 96);
    TGuiForm form;
    ASSERT_NE(form.Lbl, nullptr);
    // The stored layout as it is: no frame, no scaling by a measured "0".
    EXPECT_EQ(form.ClientWidth(), 300);
    EXPECT_EQ(form.ClientHeight(), 200);
    EXPECT_EQ(form.Pan->Width(), 280);
    EXPECT_EQ(form.OkBtn->Left(), 120);
    // An auto-sized label keeps its bounds when its text changes: nothing is measured.
    int w = form.Lbl->Width(), h = form.Lbl->Height();
    form.Lbl->SetCaption("Un texte bien plus long que le premier");
    EXPECT_EQ(form.Lbl->Width(), w);
    EXPECT_EQ(form.Lbl->Height(), h);
    form.Edt->SetText("C:\\Apps\\Editor");
    EXPECT_EQ(form.Edt->Text(), "C:\\Apps\\Editor");
    form.Box->SetChecked(true);
    EXPECT_TRUE(form.Box->Checked());
    EXPECT_FALSE(form.HandleAllocated());
    EXPECT_FALSE(form.Edt->HandleAllocated());
    EXPECT_FALSE(DisplayTouched());
}

TEST_F(SilentFramework, AShortcutIsMadeWithoutAnOleWindow) {
    SKIP_IF_TOUCHED_AT_START();
    wchar_t tmp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, tmp), 0u);
    std::wstring folder = std::wstring(tmp) + L"nvt-displayless-" + std::to_wstring(GetCurrentProcessId());
    std::wstring link = folder + L"\\Menu\\Norvanta.lnk";
    TInstallLog log;
    UseWindowlessCom(true);
    MakeShortcut(link, folder + L"\\qrd.exe", folder, L"Traitement de texte", &log);
    EXPECT_EQ(GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES, true);
    ASSERT_FALSE(log.List().Lines.empty());
    EXPECT_EQ(log.List().Lines.back(), "File Copy: " + Utf16ToUtf8(link));
    DoneCom();
    UseWindowlessCom(false);
    DeleteFileW(link.c_str());
    RemoveDirectoryW((folder + L"\\Menu").c_str());
    RemoveDirectoryW(folder.c_str());
    EXPECT_FALSE(DisplayTouched());
}
