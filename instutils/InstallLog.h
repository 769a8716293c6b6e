// The install log of this run: "Made Dir: " and "File Copy: " lines in UTF-8,
// without duplicates (ignoring case), muted while its mute count is not 0. The
// earlier Install.log is never held: it is streamed once when the log is saved
// (WriteInstallLog), keeping its lines and adding these where they are new.
#pragma once
#include "StringList.h"
#include <functional>
#include <string>

inline constexpr const char* kMadeDirPrefix = "Made Dir: ";
inline constexpr const char* kFileCopyPrefix = "File Copy: ";

class TInstallLog {
public:
    // Adds the line unless the log is muted or the line is already present;
    // a new line goes to the recorder first, unless Record gave it already.
    void Add(const std::string& line);
    // Gives a line to the recorder (the journal that survives a kill) before its
    // item is made, without listing it: it is listed once the item is whole (Add).
    void Record(const std::string& line);
    using TRecorder = std::function<void(const std::string& line)>;
    void SetRecorder(TRecorder recorder) { recorder_ = std::move(recorder); }
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
    TRecorder recorder_;
    std::vector<std::string> recorded_; // given to the recorder, not listed yet
};

// Adds a line to a log that may not exist yet (nothing is logged before the copying begins).
inline void AddLogLine(TInstallLog* log, const std::string& line) {
    if (log) log->Add(line);
}
inline void RecordLogLine(TInstallLog* log, const std::string& line) {
    if (log) log->Record(line);
}
