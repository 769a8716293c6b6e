// Path strings in Windows form. "Slash form" is a folder path ending in one "\".
#pragma once
#include <string>

void PathWithSlash(std::wstring& path);
std::wstring PathWithoutSlash(const std::wstring& path);
// Both upper-cased by the user's locale, then compared unit by unit.
bool SamePath(const std::wstring& a, const std::wstring& b);
// A plain prefix test, ignoring case: "C:\\Program Files (x86)" starts with
// "C:\\Program Files". Not a test of folder membership.
bool StartsWithPath(const std::wstring& path, const std::wstring& folder);
// On whole components, ignoring case: C:\A\b is in C:\a and in C:\A\b\ (the folder
// itself counts), C:\A2 is not in C:\A. Both in full form (no "." or ".." part).
bool IsInFolder(const std::wstring& path, const std::wstring& folder);
std::wstring FolderPartOf(const std::wstring& path);
std::wstring NamePartOf(const std::wstring& path);
std::wstring JoinPath(const std::wstring& folder, const std::string& nameUtf8);

// How many leading characters name the root: 3 for "C:\\", the length of
// "\\\\server\\share\\" for a share, 0 when there is no root.
std::size_t PathRootLength(const std::wstring& path);
// A name Windows opens as a device whatever its folder: CON, PRN, AUX, NUL,
// COM1-9, LPT1-9 (also with an extension or trailing blanks), CONIN$, CONOUT$.
bool IsDeviceName(const std::wstring& part);
// A rooted path whose names hold none of the characters Windows refuses in
// them (control characters, < > : " / | ? *) and none of which is a device
// name; neither "\\?\" nor "\\.\" form.
bool IsValidFolderPath(const std::wstring& path);
