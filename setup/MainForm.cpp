#include "MainForm.h"
#include "AttachFiles.h"
#include "Files.h"
#include "InstallLock.h"
#include "Locale.h"
#include "MainFormTable.h"
#include "MessageBox.h"
#include "Paths.h"
#include "Product.h"
#include "ResourceStream.h"
#include "Security.h"
#include "Settings.h"
#include "Shell.h"
#include "Strings.h"
#include "SystemLibraries.h"
#include "TextConv.h"
#include <algorithm>
#include <commctrl.h>
#include <shlobj.h>
#include <vector>

namespace {

std::wstring ProgramFiles() {
    return KnownFolder(CSIDL_PROGRAM_FILES);
}

bool IsBlank(wchar_t c) {
    return c <= L' ';
}

// The notice shown while the lock is awaited: a modeless dialog whose Annuler
// button (IDCANCEL) sets the flag; its text is the static 0xFFFF, as in a box.
INT_PTR CALLBACK WaitNoticeProc(HWND box, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(box, DWLP_USER, l);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(w) == IDCANCEL) {
        if (auto* cancelled = reinterpret_cast<bool*>(GetWindowLongPtrW(box, DWLP_USER))) *cancelled = true;
        return TRUE;
    }
    return FALSE;
}

HWND ShowWaitNotice(HWND owner, const std::wstring& text, bool mayCancel, bool* cancelled) {
    std::vector<WORD> t;
    auto dword = [&](DWORD v) {
        t.push_back(LOWORD(v));
        t.push_back(HIWORD(v));
    };
    auto string = [&](const wchar_t* s) {
        for (; *s; ++s) t.push_back(*s);
        t.push_back(0);
    };
    auto item = [&](DWORD style, short x, short y, short cx, short cy, WORD id, WORD cls, const wchar_t* s) {
        if (t.size() % 2) t.push_back(0); // each item on a DWORD boundary
        dword(style | WS_CHILD | WS_VISIBLE);
        dword(0);
        for (short v : {x, y, cx, cy}) t.push_back(static_cast<WORD>(v));
        t.push_back(id);
        t.push_back(0xFFFF);
        t.push_back(cls);
        string(s);
        t.push_back(0);
    };
    dword(DS_MODALFRAME | DS_SETFONT | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    dword(0);
    t.push_back(2);
    for (short v : {0, 0, 240, 64}) t.push_back(static_cast<WORD>(v));
    t.push_back(0); // no menu
    t.push_back(0); // the dialog class
    string(GetTextW(txtCaption).c_str());
    t.push_back(8);
    string(L"MS Shell Dlg");
    item(SS_LEFT, 10, 10, 220, 28, 0xFFFF, 0x0082, L"");
    item(BS_DEFPUSHBUTTON | WS_TABSTOP, 95, 42, 50, 14, IDCANCEL, 0x0080, GetTextW(txtCancel).c_str());
    HWND box = CreateDialogIndirectParamW(ModuleInstance(), reinterpret_cast<LPCDLGTEMPLATEW>(t.data()),
                                          owner, WaitNoticeProc, reinterpret_cast<LPARAM>(cancelled));
    if (!box) return nullptr;
    SetDlgItemTextW(box, 0xFFFF, text.c_str());
    EnableWindow(GetDlgItem(box, IDCANCEL), mayCancel);
    ShowWindow(box, SW_SHOW);
    return box;
}

bool HasDrive(const std::wstring& path) {
    bool letter = path.size() >= 2 && path[1] == L':' &&
                  ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
    bool share = path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
    return letter || share;
}
} // namespace

const TClassInfo TMainForm::Info{
    "TMainForm", &TForm::Info, nullptr, {}, MainFormFieldTable<TMainForm>, MainFormMethodTable<TMainForm>};

TMainForm::TMainForm(TComponent* owner, TAttachedFiles& files, TInstallSession& session,
                     const TCommandPreset& preset)
    : TForm(owner), files_(files), session_(session) {
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
    title.SetHeight(Scaled(-15)); // grows with the form, like every other text
    title.SetName(L"Arial");
    title.SetStyle(fsBold);

    LngBx->Hide();

    session_.Choices = this;
    session_.Questions = this;

    TInstallOptions options, entryOptions;
    std::wstring& MainDir = session_.MainDir;
    std::wstring entryDir;
    bool entry = LoadUninstallEntry(entryDir, entryOptions);
    HadEarlierInstall = LoadInstallSettings(MainDir, options);
    // Another account's installation (a deployment tool's, say) is found by the
    // machine's uninstall entry when this user has no settings of their own.
    bool fromEntry = !HadEarlierInstall && entry && !entryDir.empty();
    if (fromEntry) {
        MainDir = entryDir;
        options = entryOptions;
    }
    // Each installation there is, so that a new one elsewhere can take its place.
    for (const std::wstring& earlier : {HadEarlierInstall ? MainDir : std::wstring(), entryDir}) {
        if (earlier.empty() || !FileIsPresent(JoinPath(earlier, "Install.log"))) continue;
        auto& copies = session_.EarlierCopies;
        if (std::none_of(copies.begin(), copies.end(),
                         [&](const std::wstring& c) { return SamePath(c, earlier); }))
            copies.push_back(earlier);
    }
    if (preset.NoDesktop) options.DesktopShortcut = false;
    if (preset.AllUsers >= 0) options.AllUsers = preset.AllUsers == 1;
    DskBx->SetChecked(options.DesktopShortcut);
    Inst2AllBx->SetChecked(options.AllUsers);
    FinBx->SetChecked(options.Launch);

    LngChg(this);

    const wchar_t* earlierFrom =
        fromEntry ? L"the earlier installation's uninstall entry" : L"the earlier installation's settings";
    if (MainDir.empty())
        presetFrom_ = L"the default";
    else if (!FolderExists(MainDir))
        presetFrom_ = L"the default; the earlier installation's folder " + MainDir + L" is gone";
    else
        presetFrom_ = earlierFrom;
    if (MainDir.empty() || !FolderExists(MainDir)) MainDir = JoinPath(ProgramFiles(), "Norvanta");
    if (preset.Destination) {
        MainDir = *preset.Destination;
        presetFrom_ = L"the /D switch";
    }
    DstEdt->SetText(Utf16ToUtf8(MainDir));
    NormalizeDestination();
    presetDestination_ = Utf8ToUtf16(DstEdt->Text());
    session_.Note(L"Destination: " + presetDestination_ + L" (" + presetFrom_ + L")");
    if (HadEarlierInstall) session_.Note(L"An earlier installation's settings preset the wizard");
    if (fromEntry)
        session_.Note(L"The earlier installation's uninstall entry preset the wizard (this account has no "
                      L"settings of its own)");
    if (preset.NoDesktop) session_.Note(L"Options: no desktop shortcut (the /NODESKTOP switch)");
    if (preset.AllUsers >= 0)
        session_.Note(preset.AllUsers ? L"Options: shortcuts for all users (the /ALLUSERS switch)"
                                      : L"Options: shortcuts for this user only (the /CURRENTUSER switch)");
    for (const std::wstring& earlier : session_.EarlierCopies)
        session_.Note(L"An installation is in " + earlier);

    if (!session_.Silent) GoToPage(WelcomePage);
}

TMainForm::~TMainForm() {
    // The session may outlive the form; it must not ask a form that is gone.
    if (session_.Choices == this) session_.Choices = nullptr;
    if (session_.Questions == this) session_.Questions = nullptr;
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
    // Windows takes "/" for "\" in paths; the folder is written the usual way.
    for (wchar_t& c : text)
        if (c == L'/') c = L'\\';
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

TWriteFailureAnswer TMainForm::CannotWrite(const std::wstring& path) {
    std::string text = FormatText(GetText(txtCannotCreateFile), {Utf16ToUtf8(path)});
    switch (ShowMessageBox(text, miError, mbAbortRetryIgnore)) {
    case idRetry:
        return TWriteFailureAnswer::Retry;
    case idIgnore:
        return TWriteFailureAnswer::Ignore;
    default: // Abort, or a box that could not be shown: stop rather than loop
        return TWriteFailureAnswer::Abort;
    }
}

void TMainForm::Refuse(const std::string& text, int silentExitCode, const std::wstring& reason) {
    session_.Note(L"Refused: " + reason);
    if (session_.Silent) {
        // Nobody is there to read it: the exit code tells the deployment tool.
        session_.SetExitCodeOnce(silentExitCode, reason);
        return;
    }
    ShowMessageBox(text, miInformation, mbOk);
}

void TMainForm::StopOnWriteFailure() {
    session_.SetExitCodeOnce(kExitWriteFailed, L"a file could not be written; what was written is recorded");
    AllowClose = true;
    ModalResult = mrCancel;
}

bool TMainForm::EnterPage(int page, TWinControl*& focus) {
    focus = nullptr;
    switch (page) {
    case WelcomePage:
        focus = LngBx;
        return true;
    case LicencePage:
        // Nobody reads it in a silent run: inflating it would be done twice.
        if (!LicenceLoaded && !session_.Silent) {
            LicMemo->SetReadOnly(true);
            for (auto it = files_.Files.rbegin(); it != files_.Files.rend(); ++it) {
                const TAttachedFile& f = **it;
                if (SamePath(f.Name, L"Licence.txt")) {
                    // Read from the archive now: it is small and near its start.
                    LicMemo->SetText(files_.ReadEntry(f));
                    break;
                }
            }
            LicenceLoaded = true;
        }
        focus = LicMemo;
        return true;
    case FolderPage:
        if (!LicBx->Checked()) {
            Refuse(GetText(txtLicenceRequired), kExitRefused, L"the licence was not accepted");
            return false;
        }
        focus = DstEdt;
        return true;
    case ReadyPage: {
        NormalizeDestination();
        std::wstring dest = Utf8ToUtf16(DstEdt->Text());
        std::wstring pf = ProgramFiles();
        if (IsPortable() && !pf.empty() && StartsWithPath(dest, pf)) {
            Refuse(GetText(txtPortableRefused), kExitRefused,
                   L"a portable copy cannot go into the programs folder " + pf + L": " + dest);
            return false;
        }
        // Refused here, before anything is written, rather than half-installed.
        std::wstring why;
        if (!DestinationUsable(dest, &why)) {
            Refuse(FormatText(kTextDestinationUnusable, {Utf16ToUtf8(dest)}), kExitRefused,
                   L"the destination " + dest + L" cannot be used: " + why);
            return false;
        }
        if (!NoLinkInTheWay(dest)) return false;
        TSpaceShortfall room;
        if (!SpaceSuffices(files_, dest, IsPortable(), room, session_.Trace)) {
            Refuse(FormatText(kTextNoRoom, {Utf16ToUtf8(room.Drive), FrenchSize(room.Needed, true),
                                            FrenchSize(room.Free, false)}),
                   kExitRefused,
                   L"not enough room on " + room.Drive + L" for the installation: " + DecimalW(room.Needed) +
                       L" bytes needed, " + DecimalW(room.Free) + L" free");
            return false;
        }
        session_.MainDir = dest;
        session_.Note(
            L"Destination: " + dest + L" (" +
            (SamePath(dest, presetDestination_) ? presetFrom_ : std::wstring(L"chosen in the wizard")) +
            L"), " + (IsPortable() ? L"a portable copy" : L"an installation"));
        Inst2AllBx->SetVisible(!IsPortable());
        DskBx->SetVisible(!IsPortable());
        focus = NBtn;
        return true;
    }
    case ProgressPage:
        if (std::wstring found; WordProcessorRunning(JoinPath(session_.MainDir, kProgramName), &found)) {
            session_.Note(L"Running copy: " + found);
            Refuse(GetText(txtCloseRunningCopies), kExitRunningCopy,
                   L"a copy of the word processor is running: nothing was installed");
            return false;
        }
        // Asked again: the ready page may have waited long.
        return NoLinkInTheWay(session_.MainDir);
    case FinishPage:
        if (!FinishInstall(session_)) {
            StopOnWriteFailure();
            return false;
        }
        // The page waits for the person: another setup may write meanwhile.
        if (!session_.Silent && InstallLock) InstallLock->Release();
        return true;
    default:
        return false;
    }
}

void TMainForm::GoToPage(int page) {
    if (page < WelcomePage || page > ClosePage) return;
    if (page == ClosePage) {
        session_.Finished = true;
        // The closing records need it again; the installation is done, so it is awaited.
        TakeLock(false);
        CloseInstall(session_, files_);
        if (!session_.Silent && FinBx->Checked()) StartProgram(JoinPath(session_.MainDir, "qrd.exe"));
        AllowClose = true;
        ModalResult = mrOk;
        return;
    }
    TWinControl* focus = nullptr;
    if (!EnterPage(page, focus)) return;
    static const wchar_t* const kPageNames[] = {L"welcome", L"licence",  L"folder",
                                                L"ready",   L"progress", L"finish"};
    session_.Note(std::wstring(L"Page: ") + kPageNames[page]);

    BBtn->SetVisible(page != WelcomePage);
    BBtn->SetEnabled(page < ProgressPage);
    NBtn->SetEnabled(page != ProgressPage);
    NBtn->SetCaption(GetText(page == FinishPage ? txtFinish : txtNext));
    CBtn->SetEnabled(page != FinishPage);
    TopLbl->SetCaption(PageTitle(page));
    CurrentPage = page;
    for (int i = ClosePage; i >= WelcomePage; --i) pagePanels_[i]->SetVisible(i == page);
    if (focus && focus->CanFocus())
        focus->SetFocus();
    else if (!ActiveControl() || !ActiveControl()->CanFocus())
        // The control that had the focus went with the page (Back from the licence,
        // Next disabled for the installation): the page gets the focus that the
        // window's activation gives it on the way forwards.
        SelectNext(nullptr, true);

    if (page == ProgressPage) {
        RunCopying();
        return;
    }
    if (session_.Silent && session_.ExitCode() == 0) NBtn->Click();
}

void TMainForm::WndProc(TMessage& m) {
    // On the finish page the installation is done: closing the window (its close
    // box, Alt+F4) finishes, as the finish button does, without the close question.
    if (m.Msg == WM_CLOSE && CurrentPage == FinishPage) {
        NBtn->Click();
        m.Result = 0;
        return;
    }
    TForm::WndProc(m);
}

void TMainForm::ShowProgressBar() {
    if (progressBar_ || !IPan->HandleAllocated()) return;
    HWND panel = IPan->Handle();
    RECT client;
    GetClientRect(panel, &client);
    HDC dc = GetDC(panel);
    int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ReleaseDC(panel, dc);
    int margin = MulDiv(12, dpi, 96), height = MulDiv(18, dpi, 96);
    auto make = [&] {
        return CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, margin,
                               (client.bottom - height) / 2, client.right - 2 * margin, height, panel,
                               nullptr, ModuleInstance(), nullptr);
    };
    progressBar_ = make();
    if (!progressBar_) {
        // The class comes with the common controls, loaded only now (a silent
        // run never loads them) and from the system folder.
        using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
        if (HMODULE controls = LoadSystemLibrary(L"comctl32.dll")) {
            auto init = reinterpret_cast<InitFn>(
                reinterpret_cast<void*>(GetProcAddress(controls, "InitCommonControlsEx")));
            INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS};
            if (init) init(&classes);
            progressBar_ = make();
        }
    }
    if (progressBar_) SendMessageW(progressBar_, PBM_SETRANGE32, 0, 1000);
}

void TMainForm::Copied(std::uint64_t done, std::uint64_t total) {
    int shown = total == 0 ? 1000 : static_cast<int>(std::min<std::uint64_t>(done, total) * 1000 / total);
    if (progressBar_ && shown != progressShown_) SendMessageW(progressBar_, PBM_SETPOS, shown, 0);
    progressShown_ = shown;
    // Painting, moving, Cancel: the buttons keep the states the page gave them.
    // A bounded number per block, so that a window that keeps asking to be
    // painted cannot hold the copying up.
    for (int i = 0; i < 256 && Application->PumpOneMessage(); ++i) {}
    // Cancel and the close box only set the modal result; it is taken here, so
    // that the question comes between two files rather than after the copying.
    if (ModalResult == mrCancel) {
        ModalResult = mrNone;
        cancelAsked_ = true;
    }
}

bool TMainForm::StopCopying() {
    if (!cancelAsked_) return false;
    cancelAsked_ = false;
    copyingStopped_ = ShowMessageBox(GetText(txtNotFinished), miQuestion, mbYesNo) == idYes;
    session_.Note(copyingStopped_ ? L"Cancelled by the person between two files: the copying stops"
                                  : L"The person chose to go on with the copying");
    return copyingStopped_;
}

bool TMainForm::NoLinkInTheWay(const std::wstring& dest) {
    std::wstring link = PlantedLinkInTheWay(dest, IsPortable());
    if (link.empty()) return true;
    Refuse(FormatText(kTextLinkInTheWay, {Utf16ToUtf8(link)}), kExitRefused,
           L"the folder " + link +
               L" is a junction, symbolic link or mount point that another user could have made: nothing was "
               L"written");
    return false;
}

bool TMainForm::TakeLock(bool mayCancel) {
    if (!InstallLock) return true;
    if (session_.Silent) return InstallLock->Acquire(session_.Trace);
    HWND notice = nullptr, form = HandleAllocated() ? WindowHandle() : nullptr;
    bool cancelled = false;
    bool taken = InstallLock->Acquire(session_.Trace, [&] {
        if (!notice) {
            if (form) EnableWindow(form, FALSE);
            notice = ShowWaitNotice(form, Utf8ToUtf16(kTextWaitingForLock), mayCancel, &cancelled);
            session_.Note(L"The wizard tells the person it waits for the other setup or uninstall");
        }
        MSG msg;
        while (!cancelled && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return !mayCancel;
            }
            if (notice && IsDialogMessageW(notice, &msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        return !cancelled;
    });
    if (form) EnableWindow(form, TRUE);
    if (notice) DestroyWindow(notice);
    if (form) SetForegroundWindow(form);
    return taken;
}

void TMainForm::StartProgram(const std::wstring& program) {
    // Elevated, the program would run with the setup's token, not the person's.
    DWORD id = 0;
    if (IsElevated() && StartAsDesktopUser(program, session_.MainDir, &id)) {
        session_.Note(L"Started " + program + L" through the desktop's shell, as its user (process " +
                      DecimalW(id) + L")");
        return;
    }
    OpenWithShell(program, SW_SHOW);
    session_.Note(L"Started " + program + L" with the setup's own token");
}

void TMainForm::RunCopying() {
    // Taken just before the first write, so that a wizard left open on a page
    // holds no other installation up.
    if (!TakeLock(true)) {
        session_.Note(L"Cancelled while waiting for the other setup or uninstall");
        AllowClose = true;
        ModalResult = mrCancel;
        return;
    }
    if (!session_.Silent) {
        ShowProgressBar();
        session_.Progress = this;
    }
    if (HandleAllocated()) UpdateWindow(WindowHandle());
    bool ok = RunInstall(session_, files_);
    OpenSharedDocuments(session_);
    session_.Progress = nullptr;
    if (ok) {
        // Asked during the last file: nothing is left to stop, the finish page comes.
        cancelAsked_ = false;
        GoToPage(FinishPage);
    } else if (copyingStopped_) {
        // Like a write failure, the records keep what was written; the person
        // was asked already, and cancelling is not a failure.
        AllowClose = true;
        ModalResult = mrCancel;
    } else {
        StopOnWriteFailure();
    }
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
    canClose = AllowClose || session_.Silent ||
               ShowMessageBox(GetText(txtNotFinished), miQuestion, mbYesNo) == idYes;
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
