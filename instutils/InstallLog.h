// The install log: "Made Dir: " and "File Copy: " lines in UTF-8, without
// duplicates (ignoring case), muted while its mute count is not 0. An earlier
// Install.log is read first, so that what earlier runs wrote stays listed.
#pragma once
#include "StringList.h"
#include <string>
#include <utility>

inline constexpr const char* kMadeDirPrefix = "Made Dir: ";
inline constexpr const char* kFileCopyPrefix = "File Copy: ";

class TInstallLog {
public:
    // Adds the line unless the log is muted or the line is already present.
    void Add(const std::string& line);
    void Mute() { ++mute_; }
    void Unmute() { --mute_; }
    bool Muted() const { return mute_ != 0; }

    const TStringList& List() const { return lines_; }
    // The lines of an earlier log, in place of what is held (never muted).
    void Assign(TStringList lines) { lines_ = std::move(lines); }

private:
    TStringList lines_;
    int mute_ = 0;
};

// Adds a line to a log that may not exist yet (nothing is logged before the copying begins).
inline void AddLogLine(TInstallLog* log, const std::string& line) {
    if (log) log->Add(line);
}
