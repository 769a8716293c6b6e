// The install procedure: what the wizard does on its progress page, on entering
// its finish page and when it closes. It reads the wizard's choices through
// TInstallChoices, so a whole installation runs without any window.
#pragma once
#include <string>

class TAttachedFiles;

class TInstallChoices {
public:
    virtual ~TInstallChoices() = default;
    virtual bool IsPortable() = 0;
    virtual bool AllUsers() = 0;
    virtual bool DesktopShortcut() = 0;
    virtual bool LaunchAfter() = 0;
};

enum TDataFolder : int { dfShared = 0, dfHidden = 1, dfPublic = 2 };

// The data folder of a kind, made (with "Made Dir: " lines while the log is not
// muted) and given with a trailing "\". A portable copy keeps everything in MainDir.
std::wstring GetDataFolder(int kind, bool portable);

// Selects the entries and their destinations.
void PrepareInstall(TAttachedFiles& files, bool portable);

// The progress page: log, selection, install stamp, and the payload files.
// False when a file could not be written and the installation must stop.
bool RunInstall(TAttachedFiles& files, TInstallChoices& choices, double& installStampTime);

// Entering the finish page: the state file, then the portable marker or the shortcuts.
void FinishInstall(TInstallChoices& choices);

// The closing step (page 6): the shared-file update log of a normal installation.
void CloseInstall(TAttachedFiles& files, TInstallChoices& choices, double installStampTime);

// After the wizard: settings, uninstall entry and Install.log, when the copying
// began and the copy is not portable. Any failure is swallowed.
void RecordInstall(TInstallChoices& choices);

// The 25 bytes of qrd_common.dat for a moment.
std::string CommonStateBytes(double now);
