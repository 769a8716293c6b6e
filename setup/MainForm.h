// The wizard: six visible pages and a closing step, driven by Back, Next and
// Cancel, or by the silent run that clicks Next for the user.
#pragma once
#include "ExtCtrls.h"
#include "Forms.h"
#include "Install.h"
#include "StdCtrls.h"
#include <memory>
#include <optional>
#include <string>

class TAttachedFiles;
class TInstallLock;

enum TPage : int {
    WelcomePage = 0,
    LicencePage = 1,
    FolderPage = 2,
    ReadyPage = 3,
    ProgressPage = 4,
    FinishPage = 5,
    ClosePage = 6,
};

// What the command line asks for beyond the earlier installation's choices.
struct TCommandPreset {
    std::optional<std::wstring> Destination; // /D<folder>, /D=<folder>, /DIR=<folder>
    bool NoDesktop = false;                  // /NODESKTOP
    int AllUsers = -1;                       // /ALLUSERS 1, /CURRENTUSER 0, neither -1
};

class TMainForm : public TForm, public TInstallChoices, public TInstallQuestions, public TInstallProgress {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    // The form answers the session's choices and questions while it lives; the
    // command line's switches, when given, replace the earlier or default folder
    // and options, as the boxes of the ready page would.
    TMainForm(TComponent* owner, TAttachedFiles& files, TInstallSession& session,
              const TCommandPreset& preset = {});
    ~TMainForm() override;

    TPanel* TopPan = nullptr;
    TLabel* TopLbl = nullptr;
    TImage* LogoImg = nullptr;
    TPanel* WPan = nullptr;
    TLabel* WelLbl = nullptr;
    TComboBox* LngBx = nullptr;
    TPanel* LPan = nullptr;
    TMemo* LicMemo = nullptr;
    TCheckBox* LicBx = nullptr;
    TPanel* DPan = nullptr;
    TEdit* DstEdt = nullptr;
    TButton* BwsBtn = nullptr;
    TCheckBox* PortBx = nullptr;
    TButton* PortIBtn = nullptr;
    TPanel* SPan = nullptr;
    TLabel* StartLbl = nullptr;
    TCheckBox* Inst2AllBx = nullptr;
    TCheckBox* DskBx = nullptr;
    TPanel* IPan = nullptr;
    TPanel* FPan = nullptr;
    TLabel* FinLbl = nullptr;
    TCheckBox* FinBx = nullptr;
    TButton* BBtn = nullptr;
    TButton* NBtn = nullptr;
    TButton* CBtn = nullptr;

    void BNClk(TPersistent* sender);
    void CClk(TPersistent* sender);
    void LngChg(TPersistent* sender);
    void BwsClk(TPersistent* sender);
    void PortIClk(TPersistent* sender);
    void FormCloseQuery(TPersistent* sender, bool& canClose);

    void WndProc(TMessage& m) override;
    void GoToPage(int page);
    void NormalizeDestination();

    bool IsPortable() override;
    bool AllUsers() override;
    bool DesktopShortcut() override;
    bool LaunchAfter() override;
    // A file cannot be written: the question with Abort, Retry and Ignore.
    TWriteFailureAnswer CannotWrite(const std::wstring& path) override;
    // Cancel or the close box pressed during the copying: the close question,
    // between two files; Yes stops there.
    bool StopCopying() override;
    // Moves the progress bar and answers the window's messages.
    void Copied(std::uint64_t done, std::uint64_t total) override;

    int CurrentPage = WelcomePage;
    bool LicenceLoaded = false;
    bool AllowClose = false;
    bool HadEarlierInstall = false;
    // The lock against a second setup, taken from the first write to the last
    // record and never while a page waits for the person; nil: none.
    TInstallLock* InstallLock = nullptr;
    // The logo shown by LogoImg; the image control does not own it.
    std::unique_ptr<TPNGImage> Logo;

private:
    // A page check refused: a message for a person, an exit code for a silent
    // run, and the reason in the run log.
    void Refuse(const std::string& text, int silentExitCode, const std::wstring& reason);
    bool EnterPage(int page, TWinControl*& focus);
    // A link in the way refused (the page stays); false when there is one.
    bool NoLinkInTheWay(const std::wstring& dest);
    // Takes the lock; the wizard tells the person meanwhile, and with mayCancel
    // Annuler gives up waiting (false).
    bool TakeLock(bool mayCancel);
    void StartProgram(const std::wstring& program);

    // Ends the wizard after the installation stopped on a write failure.
    void StopOnWriteFailure();
    // The progress page's bar, made the first time the page is shown.
    void ShowProgressBar();
    void RunCopying();

    TAttachedFiles& files_;
    TInstallSession& session_;
    TPanel* pagePanels_[7] = {};
    HWND progressBar_ = nullptr;
    int progressShown_ = -1;         // the bar's position, in thousandths
    bool cancelAsked_ = false;       // Cancel or the close box, not yet answered
    bool copyingStopped_ = false;    // the person chose to stop the copying
    std::wstring presetDestination_; // the folder the wizard opened with
    std::wstring presetFrom_;        // and where it came from, for the run log
};
