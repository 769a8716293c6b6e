// The payload reader: the program's FILES resource inflated once into one
// buffer, its entries as views into that buffer, the selection of entries with
// their destinations, and the writing of one entry.
#pragma once
#include "Archive.h"
#include "InstallSession.h"
#include "StringList.h"
#include "Zlib.h"
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TAttachedFile {
public:
    std::wstring Name;                  // "\"-separated relative path
    std::uint32_t Size = 0;             // content bytes
    double DateTime = 0.0;              // last-write moment, local time
    const std::uint8_t* Data = nullptr; // inside the reader's buffer (not owned)
};

class TFileToInstall {
public:
    TAttachedFile* Source = nullptr; // not owned
    std::wstring Target;             // full destination path
    bool Logged = false;             // selected while the log was not muted
};

// What SelectFiles does with a file that already exists at the destination.
enum TWriteMode : std::uint8_t {
    wmKeepExisting = 0,   // leave it, the entry is not selected
    wmReplaceIfOther = 1, // replace it unless its date-time equals the entry's
    wmReplaceAlways = 2,  // replace it
};

class TAttachedFiles {
public:
    std::vector<std::unique_ptr<TAttachedFile>> Files;      // archive order
    std::vector<std::unique_ptr<TFileToInstall>> ToInstall; // selection order
    TStringList PublicFiles; // UTF-8 targets under the session's PublicRoot, "\t!" when kept-if-present

    // Reads the FILES resource of type FILES of the program itself. Throws
    // EResNotFound when it is missing, EArchiveError when it is damaged.
    TAttachedFiles();
    // The same from compressed bytes held by the caller (copied out by inflating).
    TAttachedFiles(const void* compressed, std::uint32_t length);
    TAttachedFiles(const TAttachedFiles&) = delete;
    TAttachedFiles& operator=(const TAttachedFiles&) = delete;

    // A name ending in "\" selects every entry under that folder, otherwise the
    // first entry of that name (both ignoring case). Unmatched names add nothing.
    // The session says whether everything is overwritten and whether the log is
    // muted; it is not changed.
    void SelectFiles(const TInstallSession& session, const std::string& nameUtf8, const std::wstring& folder,
                     std::uint8_t mode);
    // Writes one entry with its folder chain, date and log line; a failure is put
    // to the session's question. True: go on (written, or Ignore); false: stop.
    bool WriteEntry(TInstallSession& session, const TAttachedFile& entry, const std::wstring& target);

private:
    void Load(const void* compressed, std::uint32_t length);
    InflatedBuffer buffer_;
    std::uint32_t length_ = 0;
};

// The one write of an entry's bytes (WriteFile); a seam for tests, which cannot
// make a real disk accept fewer bytes than asked.
using WriteFileFn = bool (*)(void* file, const void* data, std::uint32_t size, std::uint32_t& written);
extern WriteFileFn PayloadWriteFile;
