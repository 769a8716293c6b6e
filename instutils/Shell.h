// Shell services: known folders, the folder browser, shortcut files and
// launching. COM is started when first needed.
#pragma once
#include "InstallLog.h"
#include <string>

// Known folders by CSIDL number (never created). Empty when the system has none.
std::wstring KnownFolder(int csidl);

// Lets the user pick a folder, opening on the given one. On OK the path is
// replaced and the answer is true; on cancel, or a choice that is no folder of
// the file system, the path is left as it was.
bool BrowseForFolder(std::wstring& path, void* ownerHwnd);

class TRunLog;

// Writes a shortcut file, making and logging its folder chain, then logs the
// file with "File Copy: " (also when it could not be saved). The answer is the
// system's (an HRESULT): S_OK when the file was saved.
long MakeShortcut(const std::wstring& linkPath, const std::wstring& target, const std::wstring& workingFolder,
                  const std::wstring& description, TInstallLog* log, TRunLog* trace = nullptr);

// Opens a program, document or address with the verb "open"; the result is not examined.
void OpenWithShell(const std::wstring& fileOrUrl, int showCommand);
