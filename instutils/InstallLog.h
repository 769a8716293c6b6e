// The install log: "Made Dir: " and "File Copy: " lines in UTF-8, without
// duplicates (ignoring case), muted while LogMute is not 0.
#pragma once
#include "StringList.h"
#include <memory>
#include <string>

extern std::unique_ptr<TStringList> InstallLog; // created on the progress page
extern std::wstring InstallLogPath;             // empty for a portable copy
extern int LogMute;

inline constexpr const char* kMadeDirPrefix = "Made Dir: ";
inline constexpr const char* kFileCopyPrefix = "File Copy: ";

void AddLogLine(const std::string& line);
void MuteLog();
void UnmuteLog();
