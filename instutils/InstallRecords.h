// Records that survive a kill. While it copies, the setup appends each new
// Install.log line to a journal beside Install.log, after telling its trust
// record in the registry (the Journal key: the folder, and the journal's
// SHA-256 with its newest line and without it) and before the item is made.
// The next setup folds a journal into its own log; the uninstaller follows
// Install.log and the journal only when their hashes are the ones the setup
// recorded, so that lines added afterwards remove nothing.
#pragma once
#include "LogStream.h"
#include "Product.h"
#include "Sha256.h"
#include "WinHandles.h"
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TRunLog;

inline constexpr const char kJournalName[] = "Install.journal";
// Install.log's SHA-256, in the uninstall entry and the settings (REG_SZ, lower-case hex).
inline constexpr const char kLogHashValue[] = "InstallLogSHA256";

// Each line of a record file; whole is false for a line longer than any path.
using TLineVisit = std::function<void(const std::string& line, bool whole)>;

// The Journal key as a run left it (HKLM's, else HKCU's).
struct TJournalKey {
    bool Present = false;
    std::wstring Folder;
    std::string With, Without; // the journal's hash with its newest line, and without it
    std::string LogHash;       // Install.log's, before it was replaced
    std::string Early;         // the lines recorded while the journal could not be made yet
};
TJournalKey ReadJournalKey();

// What a journal of this folder holds that can be trusted.
struct TJournalState {
    TJournalKey Key; // Present only when it is this folder's
    bool FilePresent = false, FileTrusted = false;
    std::uint64_t Length = 0; // of the file's bytes that its hash covers
    std::size_t FileLines = 0;
    TSha256 Hash; // of those bytes
    std::string HashHex;
};
// Reads this folder's journal: the key's early lines, then the trusted lines of
// the file (visit gets each). False when the file is there but cannot be read.
bool ReadJournal(const std::wstring& folder, TJournalState& state, const TLineVisit& visit);

// The journal an installation keeps (not for a portable copy). Every failure is
// told to the run log and stops nothing: Install.log is still written at the end.
class TJournal {
public:
    // Continues the journal read for the fold (folded: the lines taken from it).
    TJournal(const std::wstring& folder, const TJournalState& state, const std::vector<std::string>& folded,
             TRunLog* trace);
    ~TJournal();
    TJournal(const TJournal&) = delete;
    TJournal& operator=(const TJournal&) = delete;
    // Before the line's item is made: the key, then the line appended.
    void Record(const std::string& line);
    // Install.log's hash, told before Install.log is replaced.
    void PendingLogHash(const std::string& hex);
    // At the end: the journal file, then the key. False when the file stays.
    bool Remove();

private:
    bool Key(const std::string& hashes, const std::string* early);
    void Broken(const std::wstring& what, unsigned long error);
    std::wstring folder_, path_;
    UniqueHandle file_;
    bool broken_ = false;
    std::string early_; // lines not in the file yet (its folder is not made yet)
    TSha256 hash_;
    std::string hex_;
    HKEY key_ = nullptr;
    TRunLog* trace_;
};

// Removes the Journal key of this folder (HKLM's and HKCU's) and its parent
// when that is left empty. 0, or the registry's error.
long DeleteJournalKey(const std::wstring& folder);

// Where the setup recorded Install.log's hash: the uninstall entry (when its
// InstallLocation is the folder), the settings (when MAINDIR is), the Journal
// key (pending), and hashes the caller knows (an entry just replaced).
struct TLogHashPlaces {
    const wchar_t* SettingsKey = nullptr;  // HKCU
    const wchar_t* UninstallKey = nullptr; // HKLM
    std::vector<std::string> Known;
};

// Install.log and the journal beside it, streamed, each held open from the
// check to the last line so that nobody writes them in between.
class TRecordsReader {
public:
    TRecordsReader(const std::wstring& folder, const TLogHashPlaces& places);
    // False when nothing may be followed: why tells the reason (a file changed
    // since the setup wrote it; error 0), or a read failed (error).
    bool Check(std::wstring& why, unsigned long& error);
    bool Changed() const { return changed_; }
    const std::wstring& ChangedPath() const { return changedPath_; }
    // Install.log's lines, then the journal's; false when a read failed.
    bool ForEachLine(const TLineVisit& visit);
    const std::wstring& JournalPath() const { return journalPath_; }
    bool JournalKeyHere() const { return journal_.Key.Present; }

private:
    std::wstring folder_, logPath_, journalPath_;
    TLogHashPlaces places_;
    UniqueHandle log_, journalFile_;
    TJournalState journal_;
    bool changed_ = false;
    std::wstring changedPath_;
};

// After the uninstaller rewrote Install.log: its new hash wherever the old one
// was recorded for this folder (nowhere for an installation older than the hash),
// and pending in this folder's journal key.
void UpdateLogHash(const std::wstring& folder, const TLogHashPlaces& places, const std::string& hex);

// The SHA-256 of a file's bytes, streamed; empty when it cannot be read.
std::string FileSha256(const std::wstring& path);
