// Update.log: sections of a stamp line ("*" and 16 hex digits) followed by the
// shared document files that one installation placed, oldest first.
#pragma once
#include "LogStream.h"
#include "StringList.h"
#include <string>

// "*" and the 8 bytes of the date-time double in memory order, two upper-case
// hex digits each, high half first: the same bytes as the install_stamp file.
std::string StampLine(double stamp);
// The 8 raw bytes of the stamp, as written to install_stamp.
std::string StampBytes(double stamp);

// Brings the lines of an earlier Update.log up to date: drops empty lines and
// lines that this run lists again, collapses runs of stamps to their first,
// drops a trailing stamp, then appends the new stamp and the (sorted) files.
// Streamed from the earlier file to the new one, with one line of look-behind.
bool MergeUpdateLog(TLogSource& earlier, const TStringList& sortedFiles, const std::string& stampLine,
                    TLogSink& out);
// The same on lines held in a list.
void MergeUpdateLog(TStringList& log, const TStringList& sortedFiles, const std::string& stampLine);
