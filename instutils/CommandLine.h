// The command line: split into arguments, and the switches.
#pragma once
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// Characters 1 to 32 separate arguments; a double quote starts a quoted run that
// lasts to the next double quote or the end, the quotes themselves dropped; a pair
// of quotes where an argument would begin is skipped like white space. Arguments
// of any length are taken whole. Argument 0 is the program's own name. Where each
// argument lies in the line (from its first character to past its last) goes to
// spans when asked for.
std::vector<std::wstring> SplitCommandLine(const std::wstring& line,
                                           std::vector<std::pair<std::size_t, std::size_t>>* spans = nullptr);

// "-S", "/S", "-s" or "/s" at the start of an argument (anything may follow).
bool IsSilentSwitch(const std::wstring& arg);

// The whole argument is "/" or "-" and the word, in either case ("/NODESKTOP").
bool IsSwitchWord(const std::wstring& arg, const wchar_t* word);

// Upper-cases one character by the user's locale rules.
using UpperFn = wchar_t (*)(wchar_t);

// "-D" or "/D" (either case) at the start: the destination is the rest (maybe
// empty); "/D=<folder>" and "/DIR=<folder>", as other installers take it, drop
// the "=" too. Arguments are examined from the last to the first, each match
// replacing the previous one, so that the first on the command line wins. Given
// the line the arguments came from, an unquoted "/D=" or "/DIR=" value runs on
// over the blanks and arguments after it up to the next switch, as an
// unquoted folder with blanks is written for other installers.
bool FindDestinationSwitch(const std::vector<std::wstring>& args, std::wstring& destination, UpperFn upper,
                           const std::wstring* line = nullptr);
// The silent switch, or "/VERYSILENT" or "/QUIET" as whole arguments.
bool FindSilentSwitch(const std::vector<std::wstring>& args);
// "/LOG=<file>" or "-LOG=<file>" (LOG in either case): the run log is the rest
// (maybe empty). The first on the command line wins, as for the destination. A
// bare "/LOG" asks for the log too, with no file named.
bool FindLogSwitch(const std::vector<std::wstring>& args, std::wstring& file);
// "/<word>=<value>" or "-<word>=<value>" (the word in either case): the value is
// the rest. The first on the command line wins.
bool FindSwitchValue(const std::vector<std::wstring>& args, const wchar_t* word, std::wstring& value);
// Whether one of the arguments is the switch word.
bool FindSwitchWord(const std::vector<std::wstring>& args, const wchar_t* word);
// "/?" or "/HELP".
bool FindHelpSwitch(const std::vector<std::wstring>& args);
// "/ALLUSERS" (1) or "/CURRENTUSER" (0), the first on the command line winning;
// -1 when neither is given.
int FindShortcutScope(const std::vector<std::wstring>& args);
