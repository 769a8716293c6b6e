// The command line: split into arguments, and the two switches.
#pragma once
#include <string>
#include <vector>

// Characters 1 to 32 separate arguments; a double quote starts a quoted run that
// lasts to the next double quote or the end, the quotes themselves dropped; a pair
// of quotes where an argument would begin is skipped like white space. Arguments
// of any length are taken whole. Argument 0 is the program's own name.
std::vector<std::wstring> SplitCommandLine(const std::wstring& line);

// "-S", "/S", "-s" or "/s" at the start of an argument (anything may follow).
bool IsSilentSwitch(const std::wstring& arg);

// Upper-cases one character by the user's locale rules.
using UpperFn = wchar_t (*)(wchar_t);

// "-D" or "/D" (either case) at the start: the destination is the rest (maybe
// empty). Arguments are examined from the last to the first, each match
// replacing the previous one, so that the first on the command line wins.
bool FindDestinationSwitch(const std::vector<std::wstring>& args, std::wstring& destination, UpperFn upper);
bool FindSilentSwitch(const std::vector<std::wstring>& args);
// "/LOG=<file>" or "-LOG=<file>" (LOG in either case): the run log is the rest
// (maybe empty). The first on the command line wins, as for the destination.
bool FindLogSwitch(const std::vector<std::wstring>& args, std::wstring& file);
