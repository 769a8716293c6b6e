#include "InstallLog.h"

namespace {
bool TakeRecorded(std::vector<std::string>& recorded, const std::string& line) {
    for (auto it = recorded.begin(); it != recorded.end(); ++it)
        if (SameText8(*it, line)) {
            recorded.erase(it);
            return true;
        }
    return false;
}
} // namespace

void TInstallLog::Add(const std::string& line) {
    if (mute_ != 0 || index_.Holds(lines_.Lines, line)) return;
    if (!TakeRecorded(recorded_, line) && recorder_) recorder_(line);
    lines_.Add(line);
    index_.Add(lines_.Lines, lines_.Count() - 1);
}

void TInstallLog::Record(const std::string& line) {
    if (mute_ != 0 || !recorder_ || index_.Holds(lines_.Lines, line)) return;
    for (const std::string& r : recorded_)
        if (SameText8(r, line)) return;
    recorded_.push_back(line);
    recorder_(line);
}

void TInstallLog::Clear() {
    lines_.Lines.clear();
    index_.Clear();
    recorded_.clear();
}
