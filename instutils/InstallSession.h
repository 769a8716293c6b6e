// One installation: the wizard's choices, the folders, the log, the exit code,
// and the question asked when a file cannot be written. The setup makes one and
// hands it to the install procedure, the payload writer and the records.
#pragma once
#include "InstallLog.h"
#include "RunLog.h"
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Exit codes deployment tools rely on.
enum : int {
    kExitOk = 0,
    kExitRunningCopy = 1,
    kExitWriteFailed = 2,
    kExitRefused = 3,
    kExitFatal = 217,
};

// What the person decides about a file that cannot be written.
enum class TWriteFailureAnswer { Abort, Retry, Ignore };

class TInstallQuestions {
public:
    virtual ~TInstallQuestions() = default;
    virtual TWriteFailureAnswer CannotWrite(const std::wstring& path) = 0;
    // Asked between two payload files: true stops the copying there (the
    // person asked to cancel and confirmed it).
    virtual bool StopCopying() { return false; }
};

// Told how far the copying is, between two blocks of a payload file (never
// inside a write): a window shows it and answers its messages meanwhile.
class TInstallProgress {
public:
    virtual ~TInstallProgress() = default;
    virtual void Copied(std::uint64_t done, std::uint64_t total) = 0;
};

// The wizard's ticks, read when they are needed.
class TInstallChoices {
public:
    virtual ~TInstallChoices() = default;
    virtual bool IsPortable() = 0;
    virtual bool AllUsers() = 0;
    virtual bool DesktopShortcut() = 0;
    virtual bool LaunchAfter() = 0;
};

class TJournal;

class TInstallSession {
public:
    bool Silent = false;                    // nobody is there to answer
    std::wstring MainDir;                   // destination folder
    bool InstallStarted = false;            // the copying has begun
    bool OverwriteAll = false;              // every selection writes, whatever its mode
    std::unique_ptr<TInstallLog> Log;       // made when the copying begins
    std::wstring LogPath;                   // Install.log; empty for a portable copy
    std::wstring PublicRoot;                // shared documents folder, "...\Public\"
    bool PublicMade = false;                // by this run: opened to the users after the copying
    double InstallStamp = 0.0;              // the moment written to install_stamp
    TInstallChoices* Choices = nullptr;     // not owned
    TInstallQuestions* Questions = nullptr; // not owned; nil: every failure stops
    TInstallProgress* Progress = nullptr;   // not owned; nil: nothing is shown
    std::uint64_t CopyTotal = 0;            // content bytes of the selected payload files
    std::uint64_t CopyDone = 0;             // of which written (or skipped by Ignore)
    bool Finished = false;                  // the wizard went through its last page
    std::uint64_t BytesWritten = 0;         // of the files this run wrote, for the uninstall entry
    // Folders of existing installations (with their Install.log): one that is not
    // this installation's is replaced by it once it has succeeded.
    std::vector<std::wstring> EarlierCopies;
    TRunLog* Trace = nullptr; // not owned; nil: no run log (/LOG=)
    // The record that survives a kill, fed by the log (not for a portable copy).
    std::shared_ptr<TJournal> Journal;
    std::uint64_t ProgramBytes = 0; // qrd.exe's size in the payload: the entry needs it whole
    // Install.log's hash as the entry and the settings held it before this run
    // replaced them, each with its folder.
    std::vector<std::pair<std::wstring, std::string>> EarlierLogHashes;

    // A line in the journal before its item is put in place; listed once it is whole.
    void Recording(const std::string& line) {
        if (Log) Log->Record(line);
    }

    void Note(const std::wstring& text) const {
        if (Trace) Trace->Line(text);
    }
    void NoteFailure(const std::wstring& what, unsigned long error) const {
        if (Trace) Trace->Failure(what, error);
    }

    // Whether the person wants the copying to stop here; never in a silent run.
    bool StopCopying() { return Questions && !Silent && Questions->StopCopying(); }
    void ReportCopied() {
        if (Progress) Progress->Copied(CopyDone, CopyTotal);
    }

    // The question for a file that cannot be written (the system's error as it
    // was); Abort when nobody can answer.
    TWriteFailureAnswer CannotWrite(const std::wstring& path, unsigned long error) {
        NoteFailure(L"Could not write " + path, error);
        if (!Questions || Silent) {
            Note(L"Nobody to ask in a silent run: the installation stops");
            return TWriteFailureAnswer::Abort;
        }
        TWriteFailureAnswer answer = Questions->CannotWrite(path);
        Note(answer == TWriteFailureAnswer::Retry    ? L"Answered Retry: written again"
             : answer == TWriteFailureAnswer::Ignore ? L"Answered Ignore: the file is left out"
                                                     : L"Answered Abort: the installation stops");
        return answer;
    }

    int ExitCode() const { return exitCode_; }
    const std::wstring& ExitReason() const { return exitReason_; }
    // Keeps the first reason the run failed.
    void SetExitCodeOnce(int code, const std::wstring& reason) {
        if (exitCode_ != 0) return;
        exitCode_ = code;
        exitReason_ = reason;
    }
    // An unexpected error outweighs every other outcome.
    void SetFatal(const std::wstring& reason) {
        exitCode_ = kExitFatal;
        exitReason_ = reason;
    }

private:
    int exitCode_ = 0;
    std::wstring exitReason_;
};
