#include "InstallLog.h"

void TInstallLog::Add(const std::string& line) {
    if (mute_ != 0 || index_.Holds(lines_.Lines, line)) return;
    lines_.Add(line);
    index_.Add(lines_.Lines, lines_.Count() - 1);
}

void TInstallLog::Clear() {
    lines_.Lines.clear();
    index_.Clear();
}
