#include "MainForm.h"
#include "AttachFiles.h"
#include "Files.h"
#include "Globals.h"
#include "Locale.h"
#include "MessageBox.h"
#include "Paths.h"
#include "ResourceStream.h"
#include "Settings.h"
#include "Shell.h"
#include "Strings.h"
#include "TextConv.h"
#include <shlobj.h>

int CurrentPage = 0;
bool LicenceLoaded = false;
const std::wstring* DestinationSwitch = nullptr;

namespace {
const TFieldInfo MainFormFields[] = {
    PublishedField<&TMainForm::TopPan>("TopPan"),
    PublishedField<&TMainForm::TopLbl>("TopLbl"),
    PublishedField<&TMainForm::LogoImg>("LogoImg"),
    PublishedField<&TMainForm::WPan>("WPan"),
    PublishedField<&TMainForm::WelLbl>("WelLbl"),
    PublishedField<&TMainForm::LngBx>("LngBx"),
    PublishedField<&TMainForm::LPan>("LPan"),
    PublishedField<&TMainForm::LicMemo>("LicMemo"),
    PublishedField<&TMainForm::LicBx>("LicBx"),
    PublishedField<&TMainForm::DPan>("DPan"),
    PublishedField<&TMainForm::DstEdt>("DstEdt"),
    PublishedField<&TMainForm::BwsBtn>("BwsBtn"),
    PublishedField<&TMainForm::PortBx>("PortBx"),
    PublishedField<&TMainForm::PortIBtn>("PortIBtn"),
    PublishedField<&TMainForm::SPan>("SPan"),
    PublishedField<&TMainForm::StartLbl>("StartLbl"),
    PublishedField<&TMainForm::Inst2AllBx>("Inst2AllBx"),
    PublishedField<&TMainForm::DskBx>("DskBx"),
    PublishedField<&TMainForm::IPan>("IPan"),
    PublishedField<&TMainForm::FPan>("FPan"),
    PublishedField<&TMainForm::FinLbl>("FinLbl"),
    PublishedField<&TMainForm::FinBx>("FinBx"),
    PublishedField<&TMainForm::BBtn>("BBtn"),
    PublishedField<&TMainForm::NBtn>("NBtn"),
    PublishedField<&TMainForm::CBtn>("CBtn"),
};
const TMethodInfo MainFormMethods[] = {
    PublishedMethod<&TMainForm::BNClk>("BNClk"),
    PublishedMethod<&TMainForm::CClk>("CClk"),
    PublishedMethod<&TMainForm::LngChg>("LngChg"),
    PublishedMethod<&TMainForm::BwsClk>("BwsClk"),
    PublishedMethod<&TMainForm::PortIClk>("PortIClk"),
    PublishedMethod<&TMainForm::FormCloseQuery>("FormCloseQuery"),
};

const wchar_t kRunningMark[] = L"1.x Quiet Fern";

BOOL CALLBACK FindMarkedWindow(HWND hwnd, LPARAM found) {
    if (GetPropW(hwnd, kRunningMark) != nullptr) {
        *reinterpret_cast<bool*>(found) = true;
        return FALSE;
    }
    return TRUE;
}

std::wstring ProgramFiles() {
    return KnownFolder(CSIDL_PROGRAM_FILES);
}

bool IsBlank(wchar_t c) {
    return c <= L' ';
}

bool HasDrive(const std::wstring& path) {
    bool letter = path.size() >= 2 && path[1] == L':' &&
                  ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
    bool share = path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
    return letter || share;
}
} // namespace

const TClassInfo TMainForm::Info{"TMainForm", &TForm::Info, nullptr, {}, MainFormFields, MainFormMethods};

bool IsInstanceRunning() {
    bool found = false;
    // The top-level windows of this thread's desktop, as EnumWindows lists them,
    // without asking for the desktop window: under Wine that request alone
    // starts the desktop process, which a silent run otherwise never needs.
    HDESK desktop = GetThreadDesktop(GetCurrentThreadId());
    SetLastError(ERROR_SUCCESS);
    if (desktop && EnumDesktopWindows(desktop, FindMarkedWindow, reinterpret_cast<LPARAM>(&found)))
        return found;
    // False also ends a search that found the window, or one over an empty
    // desktop; only an error (no right to enumerate) falls back to the full list,
    // so that a running copy is never missed.
    if (!found && (!desktop || GetLastError() != ERROR_SUCCESS))
        EnumWindows(FindMarkedWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

TMainForm::TMainForm(TComponent* owner, TAttachedFiles& files) : TForm(owner), files_(files) {
    LoadDefinition();
    // The white title band paints its own colour even under visual themes.
    TopPan->ControlStyle =
        (TopPan->ControlStyle | csOpaque) & ~static_cast<std::uint32_t>(csParentBackground);
    TPanel* panels[7] = {WPan, LPan, DPan, SPan, IPan, FPan, IPan};
    for (int i = 0; i < 7; ++i) pagePanels_[i] = panels[i];
    for (int i = 1; i < 7; ++i)
        pagePanels_[i]->SetBounds(WPan->Left(), WPan->Top(), WPan->Width(), WPan->Height());

    Logo = std::make_unique<TPNGImage>();
    {
        TResourceStream logo(ModuleInstance(), "LOGO", "PNG");
        Logo->LoadFromStream(logo);
    }
    LogoImg->Picture = Logo.get();

    TFont& title = TopLbl->Font();
    title.SetColor(clNavy);
    title.SetHeight(-15);
    title.SetName(L"Arial");
    title.SetStyle(fsBold);

    LngBx->Hide();

    TInstallOptions options;
    HadEarlierInstall = LoadInstallSettings(MainDir, options);
    DskBx->SetChecked(options.DesktopShortcut);
    Inst2AllBx->SetChecked(options.AllUsers);
    FinBx->SetChecked(options.Launch);

    LngChg(this);

    if (MainDir.empty() || !FolderExists(MainDir)) MainDir = JoinPath(ProgramFiles(), "Norvanta");
    if (DestinationSwitch) MainDir = *DestinationSwitch;
    DstEdt->SetText(Utf16ToUtf8(MainDir));
    NormalizeDestination();

    if (!Silent) GoToPage(WelcomePage);
}

void TMainForm::LngChg(TPersistent*) {
    if (Application) Application->SetTitle(GetTextW(txtCaption));
    SetCaption(GetText(txtCaption));
    TopLbl->SetCaption(PageTitle(WelcomePage));
    WelLbl->SetCaption(FormattedProductText(txtWelcome));
    LicBx->SetCaption(GetText(txtAcceptLicence));
    BwsBtn->SetCaption(GetText(txtBrowse));
    PortBx->SetCaption(GetText(txtPortableCopy));
    StartLbl->SetCaption(GetText(txtReady));
    Inst2AllBx->SetCaption(GetText(txtAllUsers));
    DskBx->SetCaption(GetText(txtDesktopShortcut));
    FinLbl->SetCaption(FormattedProductText(txtFinished));
    FinBx->SetCaption(GetText(txtLaunchNow));
    BBtn->SetCaption(GetText(txtBack));
    NBtn->SetCaption(GetText(txtNext));
    CBtn->SetCaption(GetText(txtCancel));
    int textWidth = Canvas().TextExtent(GetTextW(txtPortableCopy)).cx;
    PortBx->SetWidth(textWidth + PortBx->Height());
    PortIBtn->SetLeft(PortBx->Left() + PortBx->Width());
}

void TMainForm::NormalizeDestination() {
    std::wstring text = Utf8ToUtf16(DstEdt->Text());
    std::size_t start = 0;
    while (start < text.size() && IsBlank(text[start])) ++start;
    text.erase(0, start);
    while (!text.empty() && IsBlank(text.back())) text.pop_back();
    if (!text.empty() && text.back() == L'\\') text.pop_back();
    if (text.empty() || !HasDrive(text)) text = ProgramFiles();
    if (NamePartOf(text).empty() || LocaleUpper(text) == LocaleUpper(ProgramFiles()))
        text = JoinPath(text, "Norvanta");
    DstEdt->SetText(Utf16ToUtf8(text));
    if (FileIsPresent(JoinPath(text, "Norvanta.ini"))) {
        PortBx->SetChecked(true);
        PortBx->SetEnabled(false);
    } else {
        PortBx->SetEnabled(true);
    }
}

bool TMainForm::IsPortable() {
    return PortBx->Checked();
}
bool TMainForm::AllUsers() {
    return Inst2AllBx->Checked();
}
bool TMainForm::DesktopShortcut() {
    return DskBx->Checked();
}
bool TMainForm::LaunchAfter() {
    return FinBx->Checked();
}

void TMainForm::Refuse(int text, int silentExitCode) {
    if (Silent) {
        // Nobody is there to read it: the exit code tells the deployment tool.
        SetExitCodeOnce(silentExitCode);
        return;
    }
    ShowMessageBox(GetText(text), miInformation, mbOk);
}

bool TMainForm::EnterPage(int page, TWinControl*& focus) {
    focus = nullptr;
    switch (page) {
    case WelcomePage:
        focus = LngBx;
        return true;
    case LicencePage:
        if (!LicenceLoaded) {
            LicMemo->SetReadOnly(true);
            for (auto it = files_.Files.rbegin(); it != files_.Files.rend(); ++it) {
                const TAttachedFile& f = **it;
                if (SamePath(f.Name, L"Licence.txt")) {
                    LicMemo->SetText(std::string(reinterpret_cast<const char*>(f.Data), f.Size));
                    break;
                }
            }
            LicenceLoaded = true;
        }
        focus = LicMemo;
        return true;
    case FolderPage:
        if (!LicBx->Checked()) {
            Refuse(txtLicenceRequired, kExitRefused);
            return false;
        }
        focus = DstEdt;
        return true;
    case ReadyPage: {
        NormalizeDestination();
        std::wstring dest = Utf8ToUtf16(DstEdt->Text());
        std::wstring pf = ProgramFiles();
        if (IsPortable() && !pf.empty() && IsUnderFolder(dest, pf)) {
            Refuse(txtPortableRefused, kExitRefused);
            return false;
        }
        MainDir = dest;
        Inst2AllBx->SetVisible(!IsPortable());
        DskBx->SetVisible(!IsPortable());
        focus = NBtn;
        return true;
    }
    case ProgressPage:
        if (IsInstanceRunning()) {
            Refuse(txtCloseRunningCopies, kExitRunningCopy);
            return false;
        }
        return true;
    case FinishPage:
        FinishInstall(*this);
        return true;
    default:
        return false;
    }
}

void TMainForm::GoToPage(int page) {
    if (page < WelcomePage || page > ClosePage) return;
    if (page == ClosePage) {
        CloseInstall(files_, *this, InstallStampTime);
        if (!Silent && FinBx->Checked()) OpenWithShell(JoinPath(MainDir, "qrd.exe"), SW_SHOW);
        AllowClose = true;
        ModalResult = mrOk;
        return;
    }
    TWinControl* focus = nullptr;
    if (!EnterPage(page, focus)) return;

    BBtn->SetVisible(page != WelcomePage);
    BBtn->SetEnabled(page < ProgressPage);
    NBtn->SetEnabled(page != ProgressPage);
    NBtn->SetCaption(GetText(page == FinishPage ? txtFinish : txtNext));
    CBtn->SetEnabled(page != FinishPage);
    TopLbl->SetCaption(PageTitle(page));
    CurrentPage = page;
    for (int i = ClosePage; i >= WelcomePage; --i) pagePanels_[i]->SetVisible(i == page);
    if (focus && focus->CanFocus()) focus->SetFocus();

    if (page == ProgressPage) {
        if (HandleAllocated()) UpdateWindow(WindowHandle());
        if (RunInstall(files_, *this, InstallStampTime)) {
            GoToPage(FinishPage);
        } else {
            SetExitCodeOnce(kExitWriteFailed);
            AllowClose = true;
            ModalResult = mrCancel;
        }
        return;
    }
    if (Silent && ExitCode == 0) NBtn->Click();
}

void TMainForm::BNClk(TPersistent* sender) {
    int step = sender == BBtn ? -1 : 1;
    int target = CurrentPage + step;
    if (target == LicencePage && HadEarlierInstall) target += step;
    GoToPage(target);
}

void TMainForm::CClk(TPersistent*) {
    ModalResult = mrCancel;
}

void TMainForm::FormCloseQuery(TPersistent*, bool& canClose) {
    canClose = AllowClose || Silent || ShowMessageBox(GetText(txtNotFinished), miQuestion, mbYesNo) == idYes;
    AllowClose = canClose;
}

void TMainForm::BwsClk(TPersistent*) {
    std::wstring path = Utf8ToUtf16(DstEdt->Text());
    if (BrowseForFolder(path, Handle())) {
        DstEdt->SetText(Utf16ToUtf8(path));
        NormalizeDestination();
    }
}

void TMainForm::PortIClk(TPersistent*) {
    OpenWithShell(GetTextW(txtPortableHelpUrl), SW_SHOWNORMAL);
}
