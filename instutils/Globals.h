// Program-wide state of the one GUI thread.
#pragma once
#include <string>

extern bool Silent;          // a silent switch was given
extern std::wstring MainDir; // destination folder
extern bool InstallStarted;  // the copying has begun
extern bool OverwriteAll;    // every selection writes, whatever its mode
extern int ExitCode;         // the process ends with it

// Exit codes deployment tools rely on.
enum : int {
    kExitOk = 0,
    kExitRunningCopy = 1,
    kExitWriteFailed = 2,
    kExitRefused = 3,
    kExitFatal = 217,
};

// Sets the code unless one is already set.
inline void SetExitCodeOnce(int code) {
    if (ExitCode == 0) ExitCode = code;
}
