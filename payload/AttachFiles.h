// The payload reader: the program's FILES resource read block by block from
// the program's own file and inflated as its entries are written, the list of
// entries (from the packer's index, or one pass over the archive), the
// selection of entries with their destinations, and the writing of one entry.
// Nothing holds more than a few blocks of the archive at a time: for all but
// small archives the inflater runs a few blocks ahead of the writes, on a
// thread of its own.
#pragma once
#include "Archive.h"
#include "InstallSession.h"
#include "RunLog.h"
#include "StringList.h"
#include "ReadAhead.h"
#include "Zlib.h"
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TAttachedFile {
public:
    std::wstring Name;        // "\"-separated relative path
    std::uint32_t Size = 0;   // content bytes
    double DateTime = 0.0;    // last-write moment, local time
    std::uint64_t Offset = 0; // first content byte within the inflated archive
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

    // Reads the resource FILES of type FILES of the program itself. The
    // program's file is opened once, shared for reading only, and held open:
    // when the resource INDEX beside the payload proves the file's bytes (their
    // SHA-256, checked here once, before anything is written), it lists the
    // entries and the bytes are read from the file (pages of the image that are
    // read stay in memory). Anything else (no index, one without proof or that
    // does not decode, another SHA-256, a file that cannot be opened or read)
    // trusts no byte of the file: the mapped image is read, listed by one pass
    // that keeps only the headers. Either way a damaged payload is found before
    // anything is written; the run log says which way was taken, and why.
    // Throws EResNotFound when the payload is missing, EArchiveError when it is
    // damaged.
    explicit TAttachedFiles(TRunLog* trace = nullptr);
    // The same from compressed bytes held by the caller (copied), with or
    // without an index (read at once): the index counts when it proves them.
    TAttachedFiles(const void* compressed, std::uint32_t length, const void* index = nullptr,
                   std::size_t indexLength = 0);
    ~TAttachedFiles();
    TAttachedFiles(const TAttachedFiles&) = delete;
    TAttachedFiles& operator=(const TAttachedFiles&) = delete;

    // A name ending in "\" selects every entry under that folder, otherwise the
    // first entry of that name (both ignoring case). Unmatched names add nothing.
    // The session says whether everything is overwritten and whether the log is
    // muted; it is not changed.
    // What a run that ended in the middle left beside a matched target (kept or
    // not) is removed.
    void SelectFiles(const TInstallSession& session, const std::string& nameUtf8, const std::wstring& folder,
                     std::uint8_t mode);
    // What the same selection would write now, each entry's size passed
    // through size (to round it up to the disk's clusters); nothing is changed.
    std::uint64_t WouldWrite(const std::string& nameUtf8, const std::wstring& folder, std::uint8_t mode,
                             bool overwriteAll,
                             const std::function<std::uint64_t(std::uint32_t)>& size) const;
    // Writes one entry with its folder chain, date and log line, its bytes
    // inflated block by block on the way into PartialNameOf(target), which
    // takes the target's place only once it is whole and dated; the session's
    // progress is told after each block. A failure (of the disk, or of a read
    // of the program's file) is put to the session's question, the target as it
    // was and the partial file gone (Retry reads and writes the file whole
    // again). True: go on (written, or Ignore); false: stop.
    bool WriteEntry(TInstallSession& session, const TAttachedFile& entry, const std::wstring& target);
    // One entry's bytes (the licence, for the wizard). Throws EArchiveError.
    std::string ReadEntry(const TAttachedFile& entry);
    // The content bytes of the selection.
    std::uint64_t SelectedBytes() const;
    // Whether the entries came from the packer's index (no pass over the archive).
    bool IndexUsed() const { return indexUsed_; }

private:
    // file: where the bytes are read when the index proves them (nil: why not);
    // image: the same bytes as the image carries them.
    void Load(const void* index, std::size_t indexLength, std::unique_ptr<TByteSource> file, std::wstring why,
              const void* image, TRunLog* trace);
    using TMatchFn = std::function<void(const TAttachedFile& entry, const std::wstring& target, bool add,
                                        const wchar_t* why)>;
    // The entries a selection matches, each with its target and whether it is taken.
    void Match(const std::string& nameUtf8, const std::wstring& folder, std::uint8_t mode, bool overwriteAll,
               const TMatchFn& found) const;
    // False with the system's error when the file cannot be written whole.
    bool WriteOnce(TInstallSession& session, const TAttachedFile& entry, const std::wstring& target,
                   unsigned long& error);
    // Moves the inflater to an inflated offset; behind it, from the start again.
    void SeekTo(std::uint64_t offset);
    // The next of the entry's bytes, at most one block of the left ones.
    std::size_t TakeSome(const std::uint8_t*& bytes, std::uint64_t left);
    [[noreturn]] void Damaged(const std::string& what) const;

    std::vector<std::uint8_t> copy_;      // the caller's compressed bytes
    std::unique_ptr<TByteSource> source_; // what is read: a proven file, or the image
    std::unique_ptr<TByteSource> held_;   // the program's file when it is not read: held all the same
    std::unique_ptr<TStreamInflater> inflater_;
    std::unique_ptr<TInflateAhead> ahead_; // the inflater's only user once the entries are listed
    std::uint64_t compressedLength_ = 0;
    bool indexUsed_ = false;
    bool lostPlace_ = false; // a read of the file failed: the inflater starts again
};

// The one write of a block of an entry's bytes (WriteFile); a seam for tests,
// which cannot make a real disk accept fewer bytes than asked.
using WriteFileFn = bool (*)(void* file, const void* data, std::uint32_t size, std::uint32_t& written);
extern WriteFileFn PayloadWriteFile;
// The one read of a block of the program's file (ReadFile); a seam for tests
// too, which cannot make a disk fail a read.
using ReadFileFn = bool (*)(void* file, void* buffer, std::uint32_t size, std::uint32_t& got);
extern ReadFileFn PayloadReadFile;
// The inflated archive size from which the inflater runs on its own thread
// (below it the writer inflates each block itself); a seam for tests too.
extern std::uint64_t InflateAheadFrom;
