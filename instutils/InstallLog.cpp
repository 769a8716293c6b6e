#include "InstallLog.h"

void TInstallLog::Add(const std::string& line) {
    if (mute_ != 0) return;
    if (lines_.IndexOf(line) < 0) lines_.Add(line);
}
