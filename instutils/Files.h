// Folders, files and times on the real file system. None of these report an
// error of their own; they answer with booleans, empty strings or nothing.
#pragma once
#include "InstallLog.h"
#include "StringList.h"
#include <cstdint>
#include <string>

using FileHandle = void*; // a Windows HANDLE

bool FolderExists(const std::wstring& path);
// A file (not a folder) of exactly that name; "*" and "?" are plain characters.
bool FileIsPresent(const std::wstring& path);
// The file's last-write moment at DOS precision, or now when it cannot be read.
double FileDateOf(const std::wstring& path);
double NowDateTime();
// Makes every missing folder of the chain, root first, logging "Made Dir: " (a
// nil log records nothing).
void MakeFolderChain(const std::wstring& folder, TInstallLog* log);
// Creates or replaces the file with exactly these bytes; false when they are not all written.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
bool ReadWholeFile(const std::wstring& path, std::string& bytes);
void SetFileDate(FileHandle file, std::uint32_t dosTime);

// Install.log and Update.log: false when the file could not be read or written
// (a partial read keeps the lines read so far).
bool LoadListFromFile(TStringList& list, const std::wstring& path);
bool SaveListToFile(const TStringList& list, const std::wstring& path);
