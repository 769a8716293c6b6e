#include "InstallLog.h"

std::unique_ptr<TStringList> InstallLog;
std::wstring InstallLogPath;
int LogMute = 0;

void AddLogLine(const std::string& line) {
    if (LogMute != 0 || !InstallLog) return;
    if (InstallLog->IndexOf(line) < 0) InstallLog->Add(line);
}

void MuteLog() {
    ++LogMute;
}
void UnmuteLog() {
    --LogMute;
}
