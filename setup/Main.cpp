// The program block: prepares the framework, reads the command line, unpacks the
// payload, runs the wizard shown or silently, records the installation, and ends
// with an exit code deployment tools can rely on.
#include "AttachFiles.h"
#include "CommandLine.h"
#include "Install.h"
#include "InstallLock.h"
#include "MainForm.h"
#include "MessageBox.h"
#include "ResourceStream.h"
#include "RunLog.h"
#include "Strings.h"
#include "SystemLibraries.h"
#include "TextConv.h"
#include <new>
#include <optional>
#include <windows.h>
#include <ole2.h>

namespace {
wchar_t UpperChar(wchar_t c) {
    wchar_t s[2] = {c, 0};
    CharUpperBuffW(s, 1);
    return s[0];
}

void ReportFatal(bool silent, const std::string& detail, TRunLog& trace) {
    trace.Line(L"Unexpected error: " + Utf8ToUtf16(detail));
    if (silent) return; // an unattended run never waits for a person
    std::string text =
        "Le programme d'installation a rencontr\xC3\xA9 une erreur et doit s'arr\xC3\xAAter.\r\r" + detail;
    std::wstring w = Utf8ToUtf16(text), caption = GetTextW(txtCaption);
    MessageBoxW(nullptr, w.c_str(), caption.c_str(), MB_TASKMODAL | MB_ICONERROR | MB_OK);
}

// Shows the wizard, or drives it silently, and records what was installed.
// Whatever happens once the copying has begun, the records of what was written
// are kept; an unexpected error ends the run with 217.
int RunSetup(bool silent, const TCommandPreset& preset, TRunLog& trace, std::wstring& reason) {
    TInstallSession session;
    session.Silent = silent;
    session.Trace = &trace;

    // A silent run shows no window at all: no owner window, nothing measured,
    // and COM in the apartment that makes no window of its own.
    InitFramework(!silent);
    UseWindowlessCom(silent);
    MessageBoxOwner = Application->Handle();
    static const TClassInfo* const kClasses[] = {&TBevel::Info,    &TButton::Info, &TCheckBox::Info,
                                                 &TComboBox::Info, &TEdit::Info,   &TImage::Info,
                                                 &TLabel::Info,    &TMemo::Info,   &TPanel::Info};
    RegisterClassList(kClasses);
    HINSTANCE self = ModuleInstance();
    UseClassResourcesOf(self);

    if (!silent) {
        Application->Icon = LoadIconW(self, MAKEINTRESOURCEW(1));
        SendMessageW(Application->Handle(), WM_SETICON, ICON_BIG,
                     reinterpret_cast<LPARAM>(Application->Icon));
    }

    // Owned here, and gone before the process ends on every path (its inflater's
    // thread stopped and waited for): returning, an exception, the session's end.
    auto files = std::make_unique<TAttachedFiles>(&trace);
    auto form = std::make_unique<TMainForm>(nullptr, *files, session, preset);
    TInstallLock lock;
    form->InstallLock = &lock;
    // Logging off in the middle keeps the records too, waiting a little for the lock.
    Application->OnEndSession = [&session, &files, &lock] {
        DWORD start = GetTickCount();
        lock.Acquire(session.Trace, [start] { return GetTickCount() - start < 5000; });
        RecordInstall(session);
        int code = CriticalErrorShown() ? kExitFatal : session.ExitCode();
        session.Note(L"Exit code " + DecimalW(code) + L": the session of Windows ends");
        // Nothing returns from here: what was reading the payload never uses it again.
        files.reset();
        ExitProcess(static_cast<UINT>(code));
    };
    try {
        if (silent) {
            form->NBtn->Click();
        } else {
            SetWindowPos(Application->Handle(), nullptr, 0, 0, 0, 0,
                         SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
            form->RunModal();
        }
    } catch (...) {
        RecordInstall(session);
        throw;
    }
    RecordInstall(session);
    ReplaceEarlierCopies(session);
    lock.Release(); // the last record is written
    // An error shown while the wizard ran leaves it in no known state.
    if (CriticalErrorShown()) session.SetFatal(L"an unexpected error was shown while the wizard ran");
    reason = session.ExitReason();
    if (session.ExitCode() == kExitOk)
        reason = session.Finished         ? L"installed"
                 : session.InstallStarted ? L"cancelled during the copying; what was written is recorded"
                                          : L"cancelled before anything was written";
    Application->OnEndSession = nullptr;
    form->LogoImg->Picture = nullptr;
    form->Logo.reset();
    form.reset();
    DoneFramework();
    return session.ExitCode();
}
} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    RestrictDllSearch();
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // OLE comes from the system folder once the search is restricted, and only
    // when a shortcut or the folder browser needs it.
    int code = kExitFatal;
    std::wstring reason = L"an unexpected error";
    std::wstring line = GetCommandLineW();
    std::vector<std::wstring> args = SplitCommandLine(line);
    bool silent = FindSilentSwitch(args);
    TCommandPreset preset;
    std::wstring switchValue;
    if (FindDestinationSwitch(args, switchValue, UpperChar, &line)) preset.Destination = switchValue;
    preset.NoDesktop = FindSwitchWord(args, L"NODESKTOP");
    preset.AllUsers = FindShortcutScope(args);
    bool help = FindHelpSwitch(args);
    // Nothing of it without the switch; a file that cannot be made goes to the
    // temporary folder, and stops nothing.
    TRunLog trace;
    std::wstring logFile;
    if (FindLogSwitch(args, logFile)) logFile = trace.OpenAsked(logFile, L"setup");
    trace.Line(std::wstring(L"Setup of ") + GetTextW(txtProductName) + L" 4.4.6.1");
    trace.Line(L"Command line: " + line);
    const std::optional<std::wstring>& destination = preset.Destination;
    trace.Line(std::wstring(L"Switches: ") + (silent ? L"silent" : L"wizard") + L", destination " +
               (destination ? L"\"" + *destination + L"\"" : std::wstring(L"not given")) + L", run log \"" +
               logFile + L"\"" + (preset.NoDesktop ? L", no desktop shortcut" : L"") +
               (preset.AllUsers == 1   ? L", for all users"
                : preset.AllUsers == 0 ? L", for this user only"
                                       : L"") +
               (help ? L", help" : L""));
    if (help) {
        // Asked for by a person; a silent run shows nothing, even this.
        if (!silent) ShowMessageBox(kTextHelp, miInformation, mbOk);
        trace.Line(L"Exit code 0: the help was asked for; nothing was installed");
        ExitProcess(kExitOk);
    }
    try {
        code = RunSetup(silent, preset, trace, reason);
    } catch (const Exception& e) {
        ReportFatal(silent, e.Message(), trace);
    } catch (const std::bad_alloc&) {
        ReportFatal(silent, "Out of memory", trace);
    } catch (...) {
        ReportFatal(silent, "Unexpected error", trace);
    }
    DoneCom();
    trace.Line(L"Exit code " + DecimalW(code) + L": " + reason);
    ExitProcess(static_cast<UINT>(code));
}
