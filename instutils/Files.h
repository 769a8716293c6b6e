// Folders, files and times on the real file system. None of these report an
// error of their own; they answer with booleans, empty strings or nothing.
#pragma once
#include "InstallLog.h"
#include "LogStream.h"
#include "StringList.h"
#include <cstdint>
#include <functional>
#include <string>

using FileHandle = void*; // a Windows HANDLE

bool FolderExists(const std::wstring& path);
// A file (not a folder) of exactly that name; "*" and "?" are plain characters.
bool FileIsPresent(const std::wstring& path);
// The file's last-write moment at DOS precision, or now when it cannot be read.
double FileDateOf(const std::wstring& path);
double NowDateTime();
class TRunLog;

// Makes every missing folder of the chain, root first, logging "Made Dir: " (a
// nil log records nothing) and telling the run log each folder made or refused.
// Each is made with the attributes given (a SECURITY_ATTRIBUTES*; nil: inherited).
void MakeFolderChain(const std::wstring& folder, TInstallLog* log, TRunLog* trace = nullptr,
                     void* attributes = nullptr);
// Creates or replaces the file with exactly these bytes, written beside it
// (PartialNameOf) and moved onto it only once whole; false, with the file as it
// was and nothing left beside it, when they are not all written (GetLastError()
// tells why). A link in its place is refused, never written through.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
bool ReadWholeFile(const std::wstring& path, std::string& bytes);

// The name a file is written under, beside its target, until it is whole.
std::wstring PartialNameOf(const std::wstring& target);
// Removes the file of that name, a link itself rather than what it points at;
// true when none is left (there was none, or it is gone).
bool RemoveFileItself(const std::wstring& path);
// Marks a file opened with DELETE access for removal when its handle closes.
bool DeleteThroughHandle(FileHandle file);
void SetFileDate(FileHandle file, std::uint32_t dosTime);

// A log read whole into a list and saved whole (the uninstaller's records):
// false when the file could not be read or written (a partial read keeps the
// lines read so far).
bool LoadListFromFile(TStringList& list, const std::wstring& path);
bool SaveListToFile(const TStringList& list, const std::wstring& path);

// Install.log and Update.log: the new file is made by the rewrite from the
// earlier one (no bytes when there is none), written beside it and put in its
// place only once it is whole. False, with the file as it was, when the earlier
// file cannot be read (a folder, locked, a read error) or the new one cannot be
// written or moved there (GetLastError() tells why). beforeMove, when given, is
// called once the new file is whole, just before it takes the earlier one's place.
using TRewrite = std::function<bool(TLogSource& earlier, TLogSink& out)>;
bool RewriteFile(const std::wstring& path, const TRewrite& rewrite,
                 const std::function<void()>& beforeMove = nullptr);
