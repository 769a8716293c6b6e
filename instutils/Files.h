// Folders, files and times on the real file system. None of these report an
// error of their own; they answer with booleans, empty strings or nothing.
#pragma once
#include "StringList.h"
#include <cstdint>
#include <string>

using FileHandle = void*; // a Windows HANDLE

std::wstring CurrentFolder();
bool FolderExists(const std::wstring& path);
bool FileIsPresent(const std::wstring& path);
double FileDateOf(const std::wstring& path);
double NowDateTime();
// Makes every missing folder of the chain, root first, logging "Made Dir: ".
void MakeFolderChain(const std::wstring& folder);
void WriteWholeFile(const std::wstring& path, const std::string& bytes);
bool ReadWholeFile(const std::wstring& path, std::string& bytes);
void SetFileDate(FileHandle file, std::uint32_t dosTime);

// Install.log and Update.log: false when the file could not be read or written
// (a partial read keeps the lines read so far).
bool LoadListFromFile(TStringList& list, const std::wstring& path);
bool SaveListToFile(const TStringList& list, const std::wstring& path);
