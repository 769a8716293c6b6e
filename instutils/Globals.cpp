#include "Globals.h"

bool Silent = false;
std::wstring MainDir;
bool InstallStarted = false;
bool OverwriteAll = false;
int ExitCode = 0;
