// Path strings in Windows form. "Slash form" is a folder path ending in one "\".
#pragma once
#include <string>

void PathWithSlash(std::wstring& path);
std::wstring PathWithoutSlash(const std::wstring& path);
// Both upper-cased by the user's locale, then compared unit by unit.
bool SamePath(const std::wstring& a, const std::wstring& b);
// A plain prefix test: as many leading characters as the folder has.
bool IsUnderFolder(const std::wstring& path, const std::wstring& folder);
std::wstring FolderPartOf(const std::wstring& path);
std::wstring NamePartOf(const std::wstring& path);
std::wstring DrivePartOf(const std::wstring& path);
std::wstring JoinPath(const std::wstring& folder, const std::string& nameUtf8);
