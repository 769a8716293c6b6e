// The window framework under Wine with a display: a small form read from its
// definition, its controls' windows, keyboard navigation, the modal loop, the
// wizard's own definition shown in a plain form, and the wizard itself at every
// screen scale.
#include "AttachFiles.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "GuiForm.h"
#include "MainForm.h"
#include "MainFormTable.h"
#include "ResourceStream.h"
#include "ScreenScale.h"
#include "StdCtrls.h"
#include "TextConv.h"
#include "WindowBitmap.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <algorithm>
#include <map>
#include <thread>

namespace {
class Framework : public ::testing::Environment {
public:
    void SetUp() override {
        InitFramework();
        static const TClassInfo* const classes[] = {&TBevel::Info,    &TButton::Info, &TCheckBox::Info,
                                                    &TComboBox::Info, &TEdit::Info,   &TImage::Info,
                                                    &TLabel::Info,    &TMemo::Info,   &TPanel::Info};
        RegisterClassList(classes);
        UseClassResourcesOf(GetModuleHandleW(nullptr));
    }
    void TearDown() override { DoneFramework(); }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new Framework);

void Pump() {
    for (int i = 0; i < 50; ++i) {
        while (Application->PumpOneMessage()) {}
        Sleep(2);
    }
}

// Counts the messages a window receives, then passes them on.
std::map<HWND, std::pair<WNDPROC, std::map<UINT, int>>> Spies;
std::map<HWND, std::map<UINT, WPARAM>> LastSeen; // the last WPARAM of each message
LRESULT CALLBACK SpyProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    auto& spy = Spies[h];
    ++spy.second[msg];
    LastSeen[h][msg] = w;
    if (msg == WM_COMMAND) ++spy.second[0x10000 + HIWORD(w)];
    return CallWindowProcW(spy.first, h, msg, w, l);
}
void Spy(HWND h) {
    Spies[h].first =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SpyProc)));
}
int Seen(HWND h, UINT msg) {
    return Spies[h].second[msg];
}

RECT RectIn(HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void SetKey(int vk, bool down) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[vk] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

void Press(HWND target, WPARAM vk) {
    PostMessageW(target, WM_KEYDOWN, vk, 1);
    PostMessageW(target, WM_KEYUP, vk, 0xC0000001);
    Pump();
}

SIZE Extent(HFONT font, const std::wstring& text) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE s{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &s);
    SelectObject(dc, old);
    DeleteDC(dc);
    return s;
}

// A font whose "0" measures 13 pixels (the design text height), if this system has one.
struct FontChoice {
    std::wstring face;
    int height = 0;
};
FontChoice FontGivingThirteen() {
    TFont message;
    for (const std::wstring& face :
         {message.Name(), std::wstring(L"DejaVu Sans"), std::wstring(L"Liberation Sans")}) {
        for (int h : {-11, 13, -12, 12, 14, -10, 11}) {
            HFONT f = CreateFontW(h, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, face.c_str());
            int cy = Extent(f, L"0").cy;
            DeleteObject(f);
            if (cy == 13) return {face, h};
        }
    }
    return {};
}

class Gui : public ::testing::Test {
protected:
    std::unique_ptr<TGuiForm> Open(FontChoice font = FontGivingThirteen()) {
        auto form = std::make_unique<TGuiForm>(font.face, font.height);
        form->Show();
        SetForegroundWindow(form->Handle());
        Pump();
        return form;
    }
    void TearDown() override {
        for (int vk : {VK_SHIFT, VK_CONTROL, VK_MENU}) SetKey(vk, false);
    }
};
} // namespace

TEST_F(Gui, WindowsTakeTheStoredBoundsWhenTheZeroMeasuresThirteen) {
    FontChoice font = FontGivingThirteen();
    if (!font.height) GTEST_SKIP() << "no font here measures 13 for the zero";
    auto form = Open(font);
    EXPECT_EQ(form->ClientWidth(), 300);
    EXPECT_EQ(form->ClientHeight(), 200);
    RECT pan = RectIn(form->Pan->Handle());
    EXPECT_EQ(pan.left, 10);
    EXPECT_EQ(pan.top, 10);
    EXPECT_EQ(pan.right - pan.left, 280);
    EXPECT_EQ(pan.bottom - pan.top, 120);
    RECT edt = RectIn(form->Edt->Handle());
    EXPECT_EQ(edt.left, 8);
    EXPECT_EQ(edt.top, 30);
    EXPECT_EQ(edt.right - edt.left, 200);
    // An edit's height follows its font: text height plus eight border widths.
    TEXTMETRICW tm{};
    HDC dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, form->Edt->Font().Handle());
    GetTextMetricsW(dc, &tm);
    DeleteDC(dc);
    EXPECT_EQ(edt.bottom - edt.top, tm.tmHeight + 8 * GetSystemMetrics(SM_CYBORDER));
    RECT ok = RectIn(form->OkBtn->Handle());
    EXPECT_EQ(ok.left, 120);
    EXPECT_EQ(ok.top, 160);
    EXPECT_EQ(ok.right - ok.left, 80);
    EXPECT_EQ(ok.bottom - ok.top, 24);
    RECT box = RectIn(form->Box->Handle());
    EXPECT_EQ(box.bottom - box.top, 17); // a check box's own height
    EXPECT_EQ(GetParent(form->Edt->Handle()), form->Pan->Handle());
    EXPECT_EQ(GetWindow(form->Handle(), GW_OWNER), Application->Handle());
    // The form is centred on the screen.
    RECT f;
    GetWindowRect(form->Handle(), &f);
    EXPECT_EQ(f.left, (GetSystemMetrics(SM_CXSCREEN) - (f.right - f.left)) / 2);
}

TEST_F(Gui, StoredCoordinatesScaleWithTheMeasuredZero) {
    TFont message;
    int m = Extent(message.Handle(), L"0").cy;
    if (m == 13) GTEST_SKIP() << "the message font measures 13 here";
    auto form = Open(FontChoice{});
    EXPECT_EQ(form->ClientWidth(), MulDiv(300, m, 13));
    EXPECT_EQ(form->Pan->Left(), MulDiv(10, m, 13));
    EXPECT_EQ(form->Pan->Width(), MulDiv(290, m, 13) - MulDiv(10, m, 13));
    EXPECT_EQ(form->OkBtn->Top(), MulDiv(160, m, 13));
    // A label's unstored position keeps its default; an edit's height is its font's.
    EXPECT_EQ(form->Edt->Width(), MulDiv(208, m, 13) - MulDiv(8, m, 13));
    // A check box's default height is a design size too, so its glyph stays whole.
    EXPECT_EQ(form->Box->Height(), MulDiv(64 + 17, m, 13) - MulDiv(64, m, 13));
}

TEST_F(Gui, LabelsSizeThemselvesToTheirCaption) {
    auto form = Open();
    SIZE s = Extent(form->Lbl->Font().Handle(), L"Nom du dossier");
    EXPECT_EQ(form->Lbl->Width(), s.cx + s.cy / 4);
    EXPECT_EQ(form->Lbl->Height(), s.cy + s.cy / 4);
    form->Lbl->SetCaption("Un libell\xC3\xA9 bien plus long que le premier");
    s = Extent(form->Lbl->Font().Handle(), L"Un libell\u00E9 bien plus long que le premier");
    EXPECT_EQ(form->Lbl->Width(), s.cx + s.cy / 4);
    RECT r = RectIn(form->Lbl->Handle());
    EXPECT_EQ(r.right - r.left, s.cx + s.cy / 4);
    form->Lbl->SetAutoSize(false);
    form->Lbl->SetCaption("x");
    EXPECT_EQ(form->Lbl->Width(), s.cx + s.cy / 4);
}

TEST_F(Gui, CheckBoxesAndEditsSendNothingForTheStateTheyHave) {
    auto form = Open();
    HWND box = form->Box->Handle(), edt = form->Edt->Handle(), pan = form->Pan->Handle();
    Spy(box);
    Spy(edt);
    Spy(pan);
    form->Box->SetChecked(false);
    EXPECT_EQ(Seen(box, BM_SETCHECK), 0);
    form->Box->SetChecked(true);
    EXPECT_EQ(Seen(box, BM_SETCHECK), 1);
    form->Box->SetChecked(true);
    EXPECT_EQ(Seen(box, BM_SETCHECK), 1);
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_CHECKED);

    form->Edt->SetText("C:\\Norvanta");
    Pump();
    EXPECT_EQ(Seen(edt, WM_SETTEXT), 1);
    int changes = Seen(pan, 0x10000 + EN_CHANGE);
    EXPECT_GE(changes, 1);
    form->Edt->SetText("C:\\Norvanta");
    Pump();
    EXPECT_EQ(Seen(edt, WM_SETTEXT), 1);
    EXPECT_EQ(Seen(pan, 0x10000 + EN_CHANGE), changes);
    EXPECT_EQ(form->Edt->Text(), "C:\\Norvanta");
}

TEST_F(Gui, AThreeStateWindowStillTogglesOnlyCheckedAndUnchecked) {
    auto form = Open();
    HWND box = form->Box->Handle();
    SendMessageW(box, BM_SETCHECK, BST_INDETERMINATE, 0);
    SendMessageW(box, BM_CLICK, 0, 0);
    Pump();
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_TRUE(form->Box->Checked());
    SendMessageW(box, BM_CLICK, 0, 0);
    Pump();
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_FALSE(form->Box->Checked());
}

TEST_F(Gui, EnterEscapeAndTabActAsInADialog) {
    auto form = Open();
    form->Edt->SetFocus();
    Pump();
    ASSERT_EQ(GetFocus(), form->Edt->Handle());
    EXPECT_TRUE(form->OkBtn->IsActiveDefault());

    Press(form->Edt->Handle(), VK_RETURN); // the default button
    EXPECT_EQ(form->okClicks, 1);
    Press(form->Edt->Handle(), VK_ESCAPE); // the cancel button
    EXPECT_EQ(form->cancelClicks, 1);

    form->CancelBtn->SetFocus();
    Pump();
    EXPECT_FALSE(form->OkBtn->IsActiveDefault());
    EXPECT_TRUE(form->CancelBtn->IsActiveDefault());
    Press(form->CancelBtn->Handle(), VK_RETURN); // a focused button takes Enter itself
    EXPECT_EQ(form->cancelClicks, 2);
    EXPECT_EQ(form->okClicks, 1);

    form->Edt->SetFocus();
    Pump();
    Press(GetFocus(), VK_TAB);
    EXPECT_EQ(GetFocus(), form->Box->Handle());
    Press(GetFocus(), VK_TAB);
    EXPECT_EQ(GetFocus(), form->OkBtn->Handle());
    Press(GetFocus(), VK_TAB);
    EXPECT_EQ(GetFocus(), form->CancelBtn->Handle());
    Press(GetFocus(), VK_TAB);
    EXPECT_EQ(GetFocus(), form->Edt->Handle()); // round again
    SetKey(VK_SHIFT, true);
    Press(GetFocus(), VK_TAB);
    EXPECT_EQ(GetFocus(), form->CancelBtn->Handle());
    SetKey(VK_SHIFT, false);

    // Ctrl+Tab is not the form's: it reaches the control.
    form->Edt->SetFocus();
    Pump();
    Spy(form->Edt->Handle());
    SetKey(VK_CONTROL, true);
    Press(form->Edt->Handle(), VK_TAB);
    SetKey(VK_CONTROL, false);
    EXPECT_EQ(GetFocus(), form->Edt->Handle());
    EXPECT_EQ(Seen(form->Edt->Handle(), WM_KEYDOWN), 1);
}

TEST_F(Gui, AMnemonicFocusesAndTogglesItsCheckBox) {
    auto form = Open();
    form->Edt->SetFocus();
    Pump();
    PostMessageW(form->Edt->Handle(), WM_SYSCHAR, L'P', 1 << 29);
    Pump();
    EXPECT_TRUE(form->Box->Checked());
    EXPECT_EQ(GetFocus(), form->Box->Handle());
    PostMessageW(form->Box->Handle(), WM_SYSCHAR, L'x', 1 << 29);
    Pump();
    EXPECT_TRUE(form->Box->Checked());
}

TEST_F(Gui, AButtonMnemonicFocusesAndPressesTheButtonUnlessItIsHiddenOrDisabled) {
    auto form = Open();
    form->OkBtn->SetCaption("&Valider");
    form->Edt->SetFocus();
    Pump();
    Spy(form->Handle());
    auto type = [](HWND to, wchar_t c, bool alt) {
        PostMessageW(to, alt ? WM_SYSCHAR : WM_CHAR, c, alt ? 1 << 29 : 1);
        Pump();
    };
    type(form->Edt->Handle(), L'v', false); // typing in the edit
    EXPECT_EQ(form->okClicks, 0);
    EXPECT_EQ(form->Edt->Text(), "v");
    type(form->Edt->Handle(), L'V', true); // Alt+V anywhere
    EXPECT_EQ(form->okClicks, 1);
    EXPECT_EQ(GetFocus(), form->OkBtn->Handle());
    type(form->OkBtn->Handle(), L'v', false); // the bare letter where typing means nothing
    EXPECT_EQ(form->okClicks, 2);
    form->OkBtn->SetEnabled(false);
    type(form->Box->Handle(), L'v', true);
    form->OkBtn->SetEnabled(true);
    form->OkBtn->Hide();
    type(form->Box->Handle(), L'v', true);
    EXPECT_EQ(form->okClicks, 2);
    EXPECT_NE(GetFocus(), form->OkBtn->Handle());
    form->OkBtn->Show();
    form->Pan->Hide(); // the focus leaves the hidden panel, whose check box keeps its letter
    Pump();
    bool checked = form->Box->Checked();
    type(form->Handle(), L'p', true);
    EXPECT_EQ(form->Box->Checked(), checked);
    type(form->Handle(), L'v', true);
    EXPECT_EQ(form->okClicks, 3);
    // The keyboard was used: the form asks for its focus rectangles and underlines.
    Spies[form->Handle()].second.clear();
    Press(GetFocus(), VK_TAB);
    EXPECT_GE(Seen(form->Handle(), WM_CHANGEUISTATE), 1);
    EXPECT_EQ(LastSeen[form->Handle()][WM_CHANGEUISTATE],
              MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL));
}

TEST_F(Gui, TheFocusComesBackToItsControlWhenTheFormIsActiveAgain) {
    auto form = Open();
    form->Box->SetFocus();
    Pump();
    ASSERT_EQ(GetFocus(), form->Box->Handle());
    // As when a message box owned by the application window closes: the system
    // activates that window, which gives the focus to the form.
    int answer = 0;
    std::thread closer([&] {
        for (int i = 0; i < 500; ++i) {
            HWND box = FindWindowW(L"#32770", nullptr);
            if (box && IsWindowVisible(box)) {
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                return;
            }
            Sleep(10);
        }
    });
    answer = MessageBoxW(Application->Handle(), L"Texte", L"Titre", MB_TASKMODAL | MB_OK);
    closer.join();
    EXPECT_EQ(answer, IDOK);
    Pump();
    EXPECT_EQ(GetFocus(), form->Box->Handle());
    // Another window active, then the form again.
    HWND other = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                 nullptr, nullptr);
    SetForegroundWindow(other);
    Pump();
    EXPECT_NE(GetFocus(), form->Box->Handle());
    SetForegroundWindow(form->Handle());
    Pump();
    EXPECT_EQ(GetFocus(), form->Box->Handle());
    DestroyWindow(other);
    // Giving the focus to the form itself on purpose still does.
    form->SetFocus();
    Pump();
    EXPECT_EQ(GetFocus(), form->Handle());
    EXPECT_EQ(form->ActiveControl(), nullptr);
}

TEST_F(Gui, TheCloseBoxEndsTheModalRunWithCancel) {
    auto form = std::make_unique<TGuiForm>();
    form->Handle();
    PostMessageW(form->Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(form->RunModal(), mrCancel);
    EXPECT_EQ(form->closeQueries, 1);
}

TEST_F(Gui, ARefusingCloseQueryKeepsTheFormRunning) {
    auto form = std::make_unique<TGuiForm>();
    form->Handle();
    form->refuseClose = true;
    PostMessageW(form->Handle(), WM_CLOSE, 0, 0);
    PostMessageW(form->Handle(), WM_APP, 0, 0);
    PostMessageW(form->Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(form->RunModal(), mrCancel);
    EXPECT_EQ(form->modalSeen, std::vector<int>{mrNone});
    EXPECT_EQ(form->closeQueries, 2);
}

TEST_F(Gui, APostedQuitEndsTheModalRunWithoutAsking) {
    auto form = std::make_unique<TGuiForm>();
    form->Handle();
    PostQuitMessage(0);
    EXPECT_EQ(form->RunModal(), mrCancel);
    EXPECT_EQ(form->closeQueries, 0);
    EXPECT_TRUE(Application->Terminated());
    // A fresh application object for whatever runs next.
    form.reset();
    DoneFramework();
    InitFramework();
}

// ---- The wizard's own definition in a plain form, before any page logic.

namespace {
class TPreviewForm : public TForm {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    TPreviewForm() : TForm(nullptr) {}
    TPanel *TopPan = nullptr, *WPan = nullptr, *LPan = nullptr, *DPan = nullptr, *SPan = nullptr,
           *IPan = nullptr, *FPan = nullptr;
    TLabel *TopLbl = nullptr, *WelLbl = nullptr, *StartLbl = nullptr, *FinLbl = nullptr;
    TImage* LogoImg = nullptr;
    TComboBox* LngBx = nullptr;
    TMemo* LicMemo = nullptr;
    TCheckBox *LicBx = nullptr, *PortBx = nullptr, *Inst2AllBx = nullptr, *DskBx = nullptr, *FinBx = nullptr;
    TEdit* DstEdt = nullptr;
    TButton *BwsBtn = nullptr, *PortIBtn = nullptr, *BBtn = nullptr, *NBtn = nullptr, *CBtn = nullptr;
    // The wizard's handlers, doing nothing: only the definition is looked at.
    void BNClk(TPersistent*) {}
    void CClk(TPersistent*) {}
    void LngChg(TPersistent*) {}
    void BwsClk(TPersistent*) {}
    void PortIClk(TPersistent*) {}
    void FormCloseQuery(TPersistent*, bool&) {}
};

COLORREF PixelAt(HWND hwnd, int x, int y) {
    HDC dc = GetDC(hwnd);
    COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(hwnd, dc);
    return c;
}
} // namespace
const TClassInfo TPreviewForm::Info{"TPreviewForm",
                                    &TForm::Info,
                                    nullptr,
                                    {},
                                    MainFormFieldTable<TPreviewForm>,
                                    MainFormMethodTable<TPreviewForm>};

TEST_F(Gui, TheWizardDefinitionShowsItsPanelsBevelsLogoAndButtons) {
    auto form = std::make_unique<TPreviewForm>();
    {
        TResourceStream definition(GetModuleHandleW(nullptr), "TMAINFORM", MAKEINTRESOURCEA(10));
        ReadComponent(definition, *form);
    }
    TPNGImage logo;
    {
        TResourceStream png(GetModuleHandleW(nullptr), "LOGO", "PNG");
        logo.LoadFromStream(png);
    }
    form->LogoImg->Picture = &logo;
    // As the wizard does: the title band paints its own white even under themes.
    form->TopPan->ControlStyle =
        (form->TopPan->ControlStyle | csOpaque) & ~static_cast<std::uint32_t>(csParentBackground);
    for (TPanel* p : {form->LPan, form->DPan, form->SPan, form->IPan, form->FPan}) p->Hide();
    form->NBtn->SetCaption("&Suite >");
    form->CBtn->SetCaption("Annuler");
    form->BBtn->SetCaption("< &Retour");
    form->SetCaption("Aper\xC3\xA7u");
    form->Show();
    SetForegroundWindow(form->Handle());
    Pump();
    UpdateWindow(form->Handle());
    Pump();
    SaveWindowBitmap(form->Handle(), L"wizard-definition.bmp");

    HWND h = form->Handle();
    auto scale = [&](int v) { return MulDiv(v, form->LogoImg->Height(), 260); };
    EXPECT_EQ(form->ComponentCount(), 31);
    // The title band is white inside its two frames.
    EXPECT_EQ(PixelAt(form->TopPan->Handle(), 5, 5), RGB(255, 255, 255));
    EXPECT_EQ(PixelAt(form->TopPan->Handle(), 0, 5), GetSysColor(COLOR_BTNSHADOW));
    // The logo is drawn in its image control (not button face), in blues.
    COLORREF logoPixel = PixelAt(h, form->LogoImg->Left() + 3, form->TopPan->Height() + scale(240));
    EXPECT_NE(logoPixel, GetSysColor(COLOR_BTNFACE));
    EXPECT_GT(GetBValue(logoPixel), GetRValue(logoPixel));
    // The left line: shadow then highlight; the bottom line over the button band.
    TWinControl* lftPan = form->LogoImg->Parent();
    TControl* lftBvl = lftPan->Controls()[1];
    EXPECT_EQ(PixelAt(lftPan->Handle(), lftBvl->Left(), 100), GetSysColor(COLOR_BTNSHADOW));
    EXPECT_EQ(PixelAt(lftPan->Handle(), lftBvl->Left() + 1, 100), GetSysColor(COLOR_BTNHIGHLIGHT));
    TWinControl* bevelPanel = dynamic_cast<TWinControl*>(form->FindComponent("BtmBvlPan"));
    ASSERT_NE(bevelPanel, nullptr);
    POINT onLine{bevelPanel->Width() / 2, 0};
    MapWindowPoints(bevelPanel->Handle(), h, &onLine, 1);
    EXPECT_EQ(PixelAt(h, onLine.x, onLine.y), GetSysColor(COLOR_BTNSHADOW));
    // Buttons sit in the bottom band, right to left: Cancel, Next, Back.
    EXPECT_LT(RectIn(form->BBtn->Handle()).left, RectIn(form->NBtn->Handle()).left);
    EXPECT_LT(RectIn(form->NBtn->Handle()).left, RectIn(form->CBtn->Handle()).left);
    EXPECT_TRUE(form->NBtn->Default());
    EXPECT_TRUE(form->CBtn->Cancel);
    form->LogoImg->Picture = nullptr;
}

// ---- The wizard at 100, 125, 150 and 200 %: a copy of this program is started
// at each scale, since a program reads it when it starts.

namespace {
// The rectangle of a window's client drawing that differs from its background
// (the colour most of its painted pixels have): what a person sees of its caption.
SIZE InkOf(HWND hwnd) {
    constexpr std::uint32_t kUnpainted = 0xFF00FF;
    RECT r;
    GetClientRect(hwnd, &r);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), r.right, -r.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bmp);
    std::size_t n = static_cast<std::size_t>(r.right) * static_cast<std::size_t>(r.bottom);
    auto* px = static_cast<std::uint32_t*>(bits);
    std::fill(px, px + n, kUnpainted);
    SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
    GdiFlush();
    std::map<std::uint32_t, int> count;
    for (std::size_t i = 0; i < n; ++i) ++count[px[i] & 0xFFFFFF];
    std::uint32_t background = 0;
    int most = -1;
    for (const auto& [colour, times] : count)
        if (colour != kUnpainted && times > most) most = times, background = colour;
    RECT ink{r.right, r.bottom, -1, -1};
    for (int y = 0; y < r.bottom; ++y)
        for (int x = 0; x < r.right; ++x)
            if (std::uint32_t c = px[static_cast<std::size_t>(y) * r.right + x] & 0xFFFFFF;
                c != background && c != kUnpainted)
                ink = {std::min<LONG>(ink.left, x), std::min<LONG>(ink.top, y), std::max<LONG>(ink.right, x),
                       std::max<LONG>(ink.bottom, y)};
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    return ink.right < 0 ? SIZE{0, 0} : SIZE{ink.right - ink.left + 1, ink.bottom - ink.top + 1};
}

// Checks the wizard at this program's scale and answers its title's text height.
int CheckTheWizard() {
    static TAttachedFiles files; // this program's own small payload
    TInstallSession session;
    TMainForm form(nullptr, files, session);
    SCOPED_TRACE(testing::Message() << ScreenPixelsPerInch() << " pixels per inch");
    // The title is scaled like the form: -15 where the "0" measures 13 pixels.
    int zero = Extent(form.Font().Handle(), L"0").cy;
    EXPECT_EQ(form.TopLbl->Font().Height(), MulDiv(-15, zero, 13));
    for (TComponent* c : form.Components()) {
        std::wstring caption = Utf8ToUtf16(static_cast<TControl*>(c)->Text());
        if (auto* box = dynamic_cast<TCheckBox*>(c)) {
            // Glyph and caption are whole: a bigger window shows no more of them.
            HWND h = box->Handle();
            SIZE ink = InkOf(h);
            SetWindowPos(h, nullptr, 0, 0, box->Width() * 3 / 2, box->Height() * 2,
                         SWP_NOMOVE | SWP_NOZORDER);
            SIZE whole = InkOf(h);
            SetWindowPos(h, nullptr, 0, 0, box->Width(), box->Height(), SWP_NOMOVE | SWP_NOZORDER);
            EXPECT_GT(ink.cx, box->Height()) << box->Name(); // more than the glyph is drawn
            EXPECT_GE(ink.cx, whole.cx) << box->Name() << " is cut on the right";
            EXPECT_GE(ink.cy, whole.cy) << box->Name() << " is cut at the bottom";
        } else if (auto* label = dynamic_cast<TLabel*>(c); label && !caption.empty()) {
            // As the static control draws it: words wrapped within its width.
            HDC dc = CreateCompatibleDC(nullptr);
            HGDIOBJ old = SelectObject(dc, label->Font().Handle());
            RECT text{0, 0, label->Width(), 0};
            DrawTextW(dc, caption.c_str(), -1, &text, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
            SelectObject(dc, old);
            DeleteDC(dc);
            EXPECT_LE(text.right, label->Width()) << label->Name();
            EXPECT_LE(text.bottom, label->Height()) << label->Name();
        }
    }
    // The "?" beside the portable box keeps the alignment it has at 100 %: centres
    // within a design pixel of each other (half a pixel apart in the design).
    double box = form.PortBx->Top() + form.PortBx->Height() / 2.0;
    double help = form.PortIBtn->Top() + form.PortIBtn->Height() / 2.0;
    EXPECT_LE(std::abs((help - box) * 13 / zero + 0.5), 1.0) << box << " " << help;
    EXPECT_EQ(form.PortIBtn->Left(), form.PortBx->Left() + form.PortBx->Width());
    return Extent(form.TopLbl->Font().Handle(), L"0").cy;
}

// The scale asked of a copy of this program, its title height at 96 pixels per
// inch, and the event it sets once it has read its scale.
const wchar_t kScaleVariable[] = L"NORVANTA_GUI_SCALE";

int RunAtScale(int ppi, int title96) {
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring event =
        L"NorvantaScaleRead" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(ppi);
    HANDLE read = CreateEventW(nullptr, TRUE, FALSE, event.c_str());
    std::wstring value = std::to_wstring(ppi) + L" " + std::to_wstring(title96) + L" " + event;
    SetEnvironmentVariableW(kScaleVariable, value.c_str());
    std::wstring line =
        L"\"" + std::wstring(exe) +
        L"\" --gtest_also_run_disabled_tests --gtest_filter=Gui.DISABLED_TheWizardAtTheScaleOfThisCopy";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    int code = -1;
    {
        ScreenScale scale(static_cast<DWORD>(ppi));
        if (!scale.Set() ||
            !CreateProcessW(exe, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            SetEnvironmentVariableW(kScaleVariable, nullptr);
            CloseHandle(read);
            return -1;
        }
        HANDLE either[2] = {read, pi.hProcess};
        WaitForMultipleObjects(2, either, FALSE, 60000);
    } // the scale goes back as soon as the copy has read it
    SetEnvironmentVariableW(kScaleVariable, nullptr);
    if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
    DWORD exit = 1;
    GetExitCodeProcess(pi.hProcess, &exit);
    code = static_cast<int>(exit);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(read);
    return code;
}
} // namespace

TEST_F(Gui, TheWizardIsWholeAtEveryScaleAndItsTitleGrowsWithIt) {
    ASSERT_EQ(ScreenPixelsPerInch(), 96) << "the prefix is not at 100 %";
    int title = CheckTheWizard();
    for (int ppi : {120, 144, 192})
        EXPECT_EQ(RunAtScale(ppi, title), 0) << "at " << ppi << " pixels per inch";
}

// Run only by the test above, in a copy of this program started at a scale.
TEST_F(Gui, DISABLED_TheWizardAtTheScaleOfThisCopy) {
    wchar_t value[256] = {};
    ASSERT_GT(GetEnvironmentVariableW(kScaleVariable, value, 256), 0u);
    int ppi = 0, title96 = 0;
    wchar_t event[128] = {};
    ASSERT_EQ(swscanf(value, L"%d %d %127ls", &ppi, &title96, event), 3);
    int read = ScreenPixelsPerInch();
    if (HANDLE e = OpenEventW(EVENT_MODIFY_STATE, FALSE, event)) {
        SetEvent(e);
        CloseHandle(e);
    }
    ASSERT_EQ(read, ppi);
    int title = CheckTheWizard();
    // At 200 % the title is at least 1.8 times as high as at 100 %.
    EXPECT_GE(title * 96 * 10, title96 * ppi * 9);
}
