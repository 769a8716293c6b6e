// The administrator rights the removal of a machine-wide installation needs:
// the program files, the all-users shortcuts and the uninstall entry are the
// administrators' own. A run without them starts itself again with them.
#pragma once
#include <string>

class TRunLog;
struct TUninstallOptions;

// What a run does about the rights, from what it knows.
enum class TRightsStep {
    GoOn,          // it has what the removal needs
    StartElevated, // the "runas" prompt, then the elevated run's outcome
    Refuse,        // nothing removed, exit 4: a silent run never prompts, an elevated one never again
};
TRightsStep RightsStep(bool machineWide, bool admin, bool silent, bool relaunched);

// Installed for every account: the uninstall entry is in HKLM (32-bit view), or
// the settings recorded the all-users choice.
bool MachineWideInstallation();

// Whether the token (nil: this thread's, or this process's) carries the
// administrator rights: a member of Administrators, neither deny-only nor a
// filtered token of user account control.
bool HasAdministratorRights(void* token = nullptr);

// At the start of the removal: true when it goes on in this process. False when
// the run ends here, code and reason set: the elevated run's code, 0 when the
// prompt was refused, 4 when the rights cannot be had. The run log (logPath)
// is closed while the elevated run appends to it.
bool EnsureUninstallRights(const TUninstallOptions& options, TRunLog& log, const std::wstring& logPath,
                           int& code, std::wstring& reason);
