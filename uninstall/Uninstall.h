// Removes an installation by the records its setup left: the files and folders
// named by Install.log beside the program, the settings key of the current user
// and the uninstall entry. The installed program links it and answers "-ui"
// with it; it depends on nothing of the setup itself.
//
// What goes, in this order: every "File Copy: " line's file (and the
// "<file>.norvanta-new" a killed setup left beside one of the install folder),
// every "Made Dir: " line's folder that is empty (deepest first); then, only when
// all of that went, what a later attempt needs: the running program itself,
// moved out of the install folder to a name of the temporary folder that nobody
// can guess and deleted by the system at the next restart (a running program's
// file can be renamed but never deleted), Install.log, the install folder and the
// folders made above it, the settings key and the uninstall entry (32-bit
// registry view, as the setup wrote them). In the shortcut folders only the one
// shortcut the setup makes there goes. What stays: the shared data folder
// (C:\ProgramData\Norvanta) with what other installations use, folders that hold
// files the installation did not write, and anything outside the install folder,
// the shortcut folders and the data folder.
//
// Names are compared by what they reach (final paths), so that the program may be
// started through any name of its folder: a drive alias, an 8.3 name, a junction,
// another case. Each item is removed through a handle that does not follow a link,
// checked at that moment to be the kind the log names with no link on its way; a
// link goes itself, never what it points to.
//
// When something could not be removed, the records a later attempt needs stay:
// Install.log is rewritten to list what remains, the program itself, the
// settings and the uninstall entry are kept, so that the program list can run
// the removal again.
#pragma once
#include <string>
#include <vector>

class TRunLog;

struct TUninstallOptions {
    bool Silent = false;      // no window and no box at all; nothing is asked
    std::wstring LogPath;     // when not empty, a run log of every step is written there
    std::wstring ProgramPath; // the program in the install folder; empty: this process's own file
    // The log switch without a file (or LogPath that cannot be made): a log in
    // the temporary folder instead (TRunLog::OpenAsked).
    bool LogWanted = false;
    bool Help = false; // the switches and exit codes in a box (none when silent); nothing is removed
    // Started again by a run without administrator rights (its process id in
    // ElevatedBy, which waits for this one and is no running copy): it never
    // starts another, and its run log (LogPath) goes on after that run's lines.
    bool Elevated = false;
    unsigned long ElevatedBy = 0;
    // For a setup that replaces an earlier copy by its own new installation: its
    // run log, already open (LogPath is not used then); the settings and the
    // uninstall entry, which now describe the new one, stay; and so does every
    // path the new installation recorded, whatever the earlier log says.
    TRunLog* Trace = nullptr;
    bool KeepRegistry = false;
    std::vector<std::wstring> Keep;
    // Install.log's hash as the entry just replaced held it (the entry no longer does).
    std::string InstallLogSHA256;
};

// The exit codes of "-ui", for deployment tools.
enum : int {
    kUninstallDone = 0,        // removed, or the user said no
    kUninstallRunningCopy = 1, // a copy of the word processor runs; nothing was removed
    kUninstallIncomplete = 2, // something stays (the rest went) or goes at the restart, or a line was refused
    kUninstallNothingHere = 3, // no Install.log beside the program (a portable copy): nothing was removed
    kUninstallNoRights = 4,    // no administrator rights for a machine-wide removal: nothing was removed
};

struct TUninstallProblem {
    std::wstring Path;   // the file, folder or registry key, or the refused log line
    std::wstring Reason; // the system's reason, or why the line was refused
};

struct TUninstallOutcome {
    int ExitCode = kUninstallDone;
    std::vector<TUninstallProblem> Problems; // what was not removed, and the lines refused
};

// The help box's text: the switches of "-ui" and its exit codes.
extern const wchar_t kUninstallHelp[];

// Runs the whole removal: checks, the confirmation (unless silent), the removal,
// the closing box (unless silent). Never throws. Once confirmed, the process's
// current folder becomes the system folder, so that it holds no folder it removes.
TUninstallOutcome Uninstall(const TUninstallOptions& options);

// Every box of the uninstaller goes through here: a task-modal box with the
// uninstaller's caption and French buttons. Answers the button pressed (IDYES,
// IDNO, IDOK...).
int UninstallBox(const std::wstring& text, unsigned style);
