// The install log of this run: "Made Dir: " and "File Copy: " lines in UTF-8,
// without duplicates (ignoring case), muted while its mute count is not 0. The
// earlier Install.log is never held: it is streamed once when the log is saved
// (WriteInstallLog), keeping its lines and adding these where they are new.
#pragma once
#include "StringList.h"
#include <string>

inline constexpr const char* kMadeDirPrefix = "Made Dir: ";
inline constexpr const char* kFileCopyPrefix = "File Copy: ";

class TInstallLog {
public:
    // Adds the line unless the log is muted or the line is already present.
    void Add(const std::string& line);
    void Mute() { ++mute_; }
    void Unmute() { --mute_; }
    bool Muted() const { return mute_ != 0; }

    // This run's lines, in the order they came.
    const TStringList& List() const { return lines_; }
    void Clear();

private:
    TStringList lines_;
    TLineIndex index_;
    int mute_ = 0;
};

// Adds a line to a log that may not exist yet (nothing is logged before the copying begins).
inline void AddLogLine(TInstallLog* log, const std::string& line) {
    if (log) log->Add(line);
}
