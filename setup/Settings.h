// The records an installation leaves outside its folder: the settings that the
// next run presets its wizard from, the uninstall entry, and Update.log.
#pragma once
#include "Product.h"
#include "StringList.h"
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The three boxes the settings remember; all ticked unless an earlier run said otherwise.
struct TInstallOptions {
    bool AllUsers = true;
    bool DesktopShortcut = true;
    bool Launch = true;
};

// Reads the settings of an earlier installation without creating anything.
// True when the settings key exists (an earlier installation); mainDir is replaced
// only when MAINDIR is present, each option only when its value is present.
bool LoadInstallSettings(std::wstring& mainDir, TInstallOptions& options);

// The uninstall entry of an earlier installation, seen by every account: its
// folder (InstallLocation, or the folder of DisplayIcon in an entry written
// before it had one) and the options it recorded, each replaced only when
// present. False when there is no entry.
bool LoadUninstallEntry(std::wstring& mainDir, TInstallOptions& options);

class TRunLog;

// Writes the settings and, unless portable (or without a program to start), the
// uninstall entry, whose size is that of the bytes written (in KB, rounded up),
// both with Install.log's hash when there is one. Failures stop nothing and are
// shown to nobody (an uninstall key that cannot be created without
// administrator rights, for instance); the run log tells each value. True when
// the hash (if any) is stored in at least one of the two.
bool SaveInstallSettings(const std::wstring& mainDir, const TInstallOptions& options, bool portable,
                         TRunLog* trace = nullptr, std::uint64_t bytesWritten = 0,
                         const std::string& logSha256 = std::string());

// Install.log's hash as the uninstall entry and the settings hold it, each with
// the folder it is for (added to found; nothing when absent).
void LoadRecordedLogHashes(std::vector<std::pair<std::wstring, std::string>>& found);

// Brings "Update.log" in the shared data folder up to date with the shared files
// of this run (sorted in place). Nothing happens when the list is empty. An
// existing file that cannot be read is left untouched rather than replaced; the
// answer is false when the file could not be read or written.
bool WriteUpdateLog(const std::wstring& sharedDataFolder, TStringList& publicFiles, double stamp);
