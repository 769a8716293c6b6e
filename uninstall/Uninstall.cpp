#include "Uninstall.h"
#include "Elevation.h"
#include "Files.h"
#include "FrenchMessageBox.h"
#include "InstallLock.h"
#include "InstallLog.h"
#include "InstallRecords.h"
#include "Paths.h"
#include "Product.h"
#include "RunLog.h"
#include "Shell.h"
#include "StringList.h"
#include "SystemLibraries.h"
#include "TextConv.h"
#include "WinHandles.h"
#include <windows.h>
#include <ntsecapi.h>
#include <shlobj.h>
#include <algorithm>
#include <cstring>

namespace {
const wchar_t kCaption[] = L"Désinstallation du traitement de texte Norvanta";

const wchar_t kConfirm[] =
    L"Voulez-vous désinstaller le traitement de texte Norvanta ?\r\n\r\n"
    L"Le programme, ses raccourcis et ses réglages seront supprimés. Les modèles de document et les "
    L"collections d'inserts du dossier de données partagé sont conservés.";
const wchar_t kDone[] = L"Le traitement de texte Norvanta a été désinstallé.";
const wchar_t kKeptFolders[] = L"Ces dossiers contiennent d'autres fichiers et ont été conservés :";
const wchar_t kNotRemoved[] =
    L"La désinstallation n'est pas terminée. Ces éléments n'ont pas pu être supprimés :";
const wchar_t kRetry[] = L"Fermez les programmes qui les utilisent, puis relancez la désinstallation.";
const wchar_t kKeptForRetry[] =
    L"Le programme, le journal d'installation (Install.log), les réglages et l'entrée de désinstallation "
    L"sont conservés pour cette nouvelle tentative.";
const wchar_t kAtRestart[] = L"il sera supprimé, avec son dossier, au prochain redémarrage de l'ordinateur";
const wchar_t kNotFollowed[] = L"c'est un lien, ou un lien se trouve sur son chemin : il n'a pas été suivi";
const wchar_t kRefused[] =
    L"Ces lignes du journal d'installation désignent des éléments extérieurs à l'installation ; "
    L"ils n'ont pas été touchés :";
const wchar_t kNothingHere[] = L"Il n'y a pas d'installation à retirer ici : le dossier";
const wchar_t kDeleteByHand[] =
    L"ne contient pas de journal d'installation (Install.log). S'il s'agit d'une copie portable, "
    L"supprimez simplement ce dossier à la main.";
const wchar_t kChangedBefore[] = L"Le journal d'installation (";
const wchar_t kChangedAfter[] =
    L") a été modifié depuis que le programme d'installation l'a écrit. La désinstallation ne suit pas un "
    L"journal modifié : rien n'a été supprimé.";
const wchar_t kRunning[] = L"Le traitement de texte Norvanta est en cours d'exécution.\r\n\r\n"
                           L"Fermez-le, puis relancez la désinstallation. Rien n'a été supprimé.";

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool IsRoot(const std::wstring& path) {
    std::size_t root = PathRootLength(path);
    return root != 0 && root >= path.size();
}

// The full form of an absolute path, without a trailing separator (a drive's
// root keeps its own). Empty for anything else: a relative path, a device or
// "\\?\" path, a stream name, a wildcard or a control character.
std::wstring FullPath(const std::wstring& text) {
    bool letter =
        text.size() >= 3 && ((text[0] >= L'A' && text[0] <= L'Z') || (text[0] >= L'a' && text[0] <= L'z'));
    bool drive = letter && text[1] == L':' && IsSeparator(text[2]);
    bool share = text.size() >= 3 && IsSeparator(text[0]) && IsSeparator(text[1]) && text[2] != L'?' &&
                 text[2] != L'.';
    if (!drive && !share) return std::wstring();
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] < 32 || (text[i] == L':' && i != 1) || text[i] == L'*' || text[i] == L'?')
            return std::wstring();
    DWORD n = GetFullPathNameW(text.c_str(), 0, nullptr, nullptr);
    if (n == 0) return std::wstring();
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(text.c_str(), n, full.data(), nullptr);
    if (n == 0 || n >= full.size()) return std::wstring();
    full.resize(n);
    if (!IsRoot(full) && !IsRoot(PathWithoutSlash(full))) full = PathWithoutSlash(full);
    // Whatever the system made of it, no "." or ".." part may be left.
    std::wstring parts = L"\\" + full + L"\\";
    if (parts.find(L"\\..\\") != std::wstring::npos || parts.find(L"\\.\\") != std::wstring::npos)
        return std::wstring();
    return full;
}

// Strictly below the folder, on whole components.
bool Below(const std::wstring& path, const std::wstring& folder) {
    return !folder.empty() && IsInFolder(path, folder) && !SamePath(path, folder);
}

// What a handle reaches, by the system's own name for it: "\\?\C:\a" gives "C:\a",
// "\\?\UNC\s\h\a" gives "\\s\h\a". Empty when it cannot tell.
std::wstring FinalPathOf(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(n + 1);
    }
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        path = L"\\" + path.substr(7);
    else if (path.compare(0, 4, L"\\\\?\\") == 0)
        path = path.substr(4);
    return FullPath(path);
}

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// What a full path names, whatever name reached it (a drive alias, an 8.3 name,
// another case, a link on the way): the final path of its nearest folder that
// exists, then the rest as written. The item itself is followed only when asked:
// a file that is a link is removed itself, and its line stays in its folder.
std::wstring RealPath(const std::wstring& full, bool followItem) {
    std::wstring head = full, tail;
    for (bool first = true;; first = false) {
        if (!first || followItem) {
            UniqueHandle h(CreateFileW(head.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS, nullptr));
            std::wstring real = h.valid() ? FinalPathOf(h.get()) : std::wstring();
            if (!real.empty()) return IsRoot(real) && !tail.empty() ? real + tail.substr(1) : real + tail;
        }
        std::size_t cut = head.find_last_of(L'\\');
        if (IsRoot(head) || cut == std::wstring::npos || cut < PathRootLength(head) - 1) return full;
        tail = head.substr(cut) + tail;
        head = head.substr(0, cut);
        if (head.size() < PathRootLength(full)) head = full.substr(0, PathRootLength(full));
    }
}

bool Present(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Gone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool FolderLooksEmpty(const std::wstring& folder) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool empty = true;
    do empty = empty && (lstrcmpW(fd.cFileName, L".") == 0 || lstrcmpW(fd.cFileName, L"..") == 0);
    while (empty && FindNextFileW(h, &fd));
    FindClose(h);
    return empty;
}

// Not where the records found it: a link or junction now lies on its way, or the
// item is a link that this system follows when it opens one (Wine does).
const DWORD kNotWhereRecorded = 0x20000001; // bit 29: an error of this program's own

// The item, opened without following a link and with the right to delete it,
// checked at this very moment: the kind the records name (a link goes itself,
// whatever it points to) and the same final path as found at the start, so that
// nothing put on its way since is followed. Nil with the error otherwise.
UniqueHandle OpenToRemove(const std::wstring& real, bool folder, DWORD& error) {
    UniqueHandle h(CreateFileW(real.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll,
                               nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!h.valid() || !GetFileInformationByHandleEx(h.get(), FileAttributeTagInfo, &tag, sizeof tag))
        error = GetLastError();
    else if (!SamePath(FinalPathOf(h.get()), real))
        error = kNotWhereRecorded;
    else if (!(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
             folder != ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0))
        error = ERROR_DIRECTORY;
    else
        return error = 0, std::move(h);
    return UniqueHandle();
}

// Marks the opened item for deletion, done when its last handle closes; a
// read-only one is made writable first. 0 or the error (ERROR_DIR_NOT_EMPTY for
// a folder that holds something).
DWORD DeleteThrough(HANDLE h) {
    FILE_DISPOSITION_INFO deletion{TRUE};
    if (SetFileInformationByHandle(h, FileDispositionInfo, &deletion, sizeof deletion)) return 0;
    DWORD e = GetLastError();
    FILE_BASIC_INFO basic{};
    if (e != ERROR_ACCESS_DENIED || !GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) ||
        !(basic.FileAttributes & FILE_ATTRIBUTE_READONLY))
        return e;
    basic = FILE_BASIC_INFO{}; // times of 0 stay as they are
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic)) return e;
    return SetFileInformationByHandle(h, FileDispositionInfo, &deletion, sizeof deletion) ? 0
                                                                                          : GetLastError();
}

DWORD DeleteAttempt(const std::wstring& real, bool folder) {
    DWORD e = 0;
    UniqueHandle h = OpenToRemove(real, folder, e);
    return h.valid() ? DeleteThrough(h.get()) : e;
}

// Runs an attempt again for about a second while something holds the item (a
// file being read, an entry whose deletion another handle still delays); the
// run log tells the first wait. Answers 0 or the last error.
template <typename Attempt>
DWORD Retrying(Attempt attempt, TRunLog* log, const std::wstring& shown, const std::wstring& real,
               bool folder) {
    for (int n = 0;; ++n) {
        DWORD e = attempt();
        bool busy = e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION || e == ERROR_ACCESS_DENIED ||
                    (folder && e == ERROR_DIR_NOT_EMPTY && FolderLooksEmpty(real));
        if (e == 0 || !busy || n >= 10) return e;
        if (n == 0) log->Line(L"In use, trying again for a second: " + shown);
        Sleep(100);
    }
}

// A name in the temporary folder that nobody can guess: 128 bits from the
// system's generator (advapi32, already loaded). Empty when it gives none.
std::wstring UnguessableTempName() {
    wchar_t temp[MAX_PATH + 1] = {};
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    unsigned char bytes[16];
    if (n == 0 || n > MAX_PATH || !RtlGenRandom(bytes, sizeof bytes)) return std::wstring();
    std::wstring name(temp, n);
    name += L"Norvanta-uninstall-";
    for (unsigned char b : bytes) name += {L"0123456789abcdef"[b >> 4], L"0123456789abcdef"[b & 15]};
    return name + L".tmp";
}

// A key and everything under it, in the 32-bit view that the 32-bit setup wrote
// to, whatever this program's own build. 0 when removed, or the error.
LONG DeleteKey32(HKEY root, const wchar_t* path) {
    HKEY key;
    LONG r = RegOpenKeyExW(
        root, path, 0, KEY_WOW64_32KEY | DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE,
        &key);
    if (r != ERROR_SUCCESS) return r;
    r = RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    return r == ERROR_SUCCESS ? RegDeleteKeyExW(root, path, KEY_WOW64_32KEY, 0) : r;
}

bool KeyIsEmpty(HKEY root, const wchar_t* path) {
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_WOW64_32KEY | KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD keys = 1, values = 1;
    LONG r = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values, nullptr,
                              nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return r == ERROR_SUCCESS && keys == 0 && values == 0;
}

std::wstring ListOf(const std::vector<TUninstallProblem>& items) {
    std::wstring text;
    std::size_t shown = 0;
    for (const TUninstallProblem& p : items) {
        if (++shown > 10) {
            text += L"\r\n... (" + DecimalW(items.size() - 10) + L" de plus)";
            break;
        }
        text += L"\r\n" + p.Path + (p.Reason.empty() ? L"" : L"\r\n    " + p.Reason);
    }
    return text;
}

class TRemoval {
public:
    TRemoval(const TUninstallOptions& options, TUninstallOutcome& outcome)
        : options_(options), outcome_(outcome) {}
    void Run();

private:
    enum class Role { File, Folder, AboveFolder, Kept, Program };
    struct Record {
        std::string line;
        std::wstring path; // as the log names it, for the messages
        std::wstring real; // what it names (RealPath), for the work
        Role role;
    };

    bool ReadRecords();
    TLogHashPlaces HashPlaces() const;
    void RemoveJournal();
    void ResolveRoots();
    void Classify(const std::string& line, const std::wstring& path, bool folder);
    void Refuse(const std::wstring& line, const std::wstring& why);
    void Fail(const std::wstring& what, const std::wstring& path, DWORD error);
    DWORD RemoveItem(const std::wstring& shown, const std::wstring& real, bool folder);
    void RemoveFile(const Record& r);
    void RemovePartial(const Record& r);
    void RemoveRegistry();
    void RemoveProgram();
    void RestoreProgram();
    void RemoveFolders();
    void RemoveRecords();
    void KeepRecords();
    void Finish(int code, const std::wstring& reason);

    const TUninstallOptions& options_;
    TUninstallOutcome& outcome_;
    TRunLog ownLog_;
    TRunLog* log_ = &ownLog_;
    std::vector<std::wstring> keep_; // full paths that stay whatever the log says
    std::wstring program_, folder_, installLog_, journal_, data_, logPath_;
    std::wstring unread_ = L"Install.log could not be read"; // why the records are not followed
    std::vector<std::wstring> shortcutFolders_;
    // The same, as RealPath gives them: every comparison is made on these.
    std::wstring programReal_, folderReal_, installLogReal_, dataReal_;
    std::vector<std::wstring> shortcutReal_;
    bool resolved_ = false;
    std::wstring moved_; // where the running program went
    std::vector<Record> records_;
    std::vector<TUninstallProblem> refused_, keptFolders_;
    bool failed_ = false;          // something of ours stays: the records are kept
    bool recordsGone_ = false;     // Install.log went: nothing is kept for a later attempt
    bool folderAtRestart_ = false; // the program stays in its folder until the restart
};

void TRemoval::Run() {
    if (options_.Trace) {
        log_ = options_.Trace;
    } else {
        // A log that cannot be made goes to the temporary folder and stops nothing.
        std::wstring written;
        if (options_.Elevated && ownLog_.Append(options_.LogPath))
            written = options_.LogPath;
        else if (options_.LogWanted || !options_.LogPath.empty())
            written = ownLog_.OpenAsked(options_.LogPath, L"uninstall");
        logPath_ = written;
        log_->Line(std::wstring(L"Command line: ") + GetCommandLineW());
        log_->Line(std::wstring(L"Switches: uninstall") +
                   (options_.Silent ? L", silent" : L", confirmation asked") +
                   (options_.Help ? L", help" : L"") + (options_.Elevated ? L", elevated" : L"") +
                   (written.empty() ? L"" : L", log " + written));
    }
    if (options_.Help) {
        if (!options_.Silent) UninstallBox(kUninstallHelp, MB_OK | MB_ICONINFORMATION);
        return Finish(kUninstallDone, L"the help was asked for: nothing removed");
    }
    for (const std::wstring& k : options_.Keep)
        if (std::wstring full = FullPath(k); !full.empty()) keep_.push_back(full);
    program_ = FullPath(options_.ProgramPath.empty() ? ModuleFilePath() : options_.ProgramPath);
    folder_ = program_.empty() ? std::wstring() : FullPath(FolderPartOf(program_));
    installLog_ = folder_.empty() ? std::wstring() : JoinPath(folder_, "Install.log");
    journal_ = folder_.empty() ? std::wstring() : JoinPath(folder_, kJournalName);
    log_->Line(L"Program: " + program_);
    log_->Line(L"Install folder: " + folder_);
    // A program at a drive's root has no folder of its own: the whole drive is no install folder.
    // A killed setup's records are its journal until Install.log is written.
    bool journal = FileIsPresent(journal_) && SamePath(PathWithoutSlash(ReadJournalKey().Folder), folder_);
    if ((!FileIsPresent(installLog_) && !journal) || IsRoot(folder_)) {
        if (!options_.Silent)
            UninstallBox(std::wstring(kNothingHere) + L"\r\n\r\n" + folder_ + L"\r\n\r\n" + kDeleteByHand,
                         MB_OK | MB_ICONINFORMATION);
        return Finish(kUninstallNothingHere,
                      L"no Install.log beside the program (a portable copy?): nothing removed");
    }
    // A setup that replaces an earlier copy has its own rights; a run without
    // them starts again with them, before it asks or checks anything more.
    int code = kUninstallDone;
    std::wstring reason;
    if (!options_.Trace && !EnsureUninstallRights(options_, ownLog_, logPath_, code, reason))
        return Finish(code, reason);
    if (std::wstring found; WordProcessorRunning(program_, &found, options_.ElevatedBy)) {
        log_->Line(L"Running copy: " + found);
        if (!options_.Silent) UninstallBox(kRunning, MB_OK | MB_ICONWARNING);
        return Finish(kUninstallRunningCopy, L"a copy of the word processor is running: nothing removed");
    }
    if (!options_.Silent && UninstallBox(kConfirm, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return Finish(kUninstallDone, L"the user said no: nothing removed");
    // Never while a setup (or another removal) writes the same records.
    TInstallLock lock;
    lock.Acquire(log_);
    // This process must not hold the install folder as its current folder.
    wchar_t system[MAX_PATH + 1] = {};
    if (GetSystemDirectoryW(system, MAX_PATH)) SetCurrentDirectoryW(system);

    if (!ReadRecords()) return Finish(kUninstallIncomplete, unread_ + L": nothing removed");
    if (!resolved_) ResolveRoots();
    // Everything else first; what a later attempt needs only once all of it went.
    for (const Record& r : records_) {
        if (r.role == Role::File) RemoveFile(r);
        if (r.role == Role::File || r.role == Role::Program) RemovePartial(r);
    }
    RemoveFolders();
    if (!failed_) RemoveRecords();
    if (failed_ && !recordsGone_) KeepRecords();

    std::vector<TUninstallProblem> failures = outcome_.Problems;
    outcome_.Problems.insert(outcome_.Problems.end(), refused_.begin(), refused_.end());
    if (!options_.Silent) {
        if (outcome_.Problems.empty()) {
            std::wstring text = kDone;
            if (!keptFolders_.empty())
                text += std::wstring(L"\r\n\r\n") + kKeptFolders + ListOf(keptFolders_);
            UninstallBox(text, MB_OK | MB_ICONINFORMATION);
        } else {
            std::wstring text;
            if (!failures.empty())
                text = std::wstring(kNotRemoved) + ListOf(failures) +
                       (recordsGone_ ? L"" : std::wstring(L"\r\n\r\n") + kRetry + L"\r\n" + kKeptForRetry);
            if (!refused_.empty())
                text += (text.empty() ? L"" : L"\r\n\r\n") + std::wstring(kRefused) + ListOf(refused_);
            UninstallBox(text, MB_OK | MB_ICONWARNING);
        }
    }
    if (outcome_.Problems.empty())
        return Finish(kUninstallDone, L"everything the installation recorded was removed");
    Finish(kUninstallIncomplete, DecimalW(failures.size()) + L" item(s) could not be removed, " +
                                     DecimalW(refused_.size()) + L" line(s) of Install.log refused");
}

bool TRemoval::ReadRecords() {
    // Followed only as the setup wrote them: a line added since removes nothing.
    TRecordsReader reader(folder_, HashPlaces());
    std::wstring why;
    unsigned long error = 0;
    if (!reader.Check(why, error)) {
        unread_ = why;
        if (reader.Changed()) {
            const std::wstring& changed = reader.ChangedPath();
            outcome_.Problems.push_back({changed, why});
            log_->Line(L"Not followed: " + why);
            if (!options_.Silent)
                UninstallBox(kChangedBefore + NamePartOf(changed) + kChangedAfter, MB_OK | MB_ICONWARNING);
        } else {
            outcome_.Problems.push_back({installLog_, SystemErrorText(error)});
            log_->Failure(L"Could not read the records: " + why, error);
        }
        return false;
    }
    data_ = FullPath(DataFolderPath(dfShared, false, std::wstring()));
    for (int csidl : {kProgramsShortcutFolder.AllUsers, kProgramsShortcutFolder.CurrentUser,
                      kDesktopShortcutFolder.AllUsers, kDesktopShortcutFolder.CurrentUser}) {
        std::wstring f = FullPath(KnownFolder(csidl));
        if (!f.empty()) shortcutFolders_.push_back(f);
    }
    bool readOk = reader.ForEachLine([&](const std::string& line, bool whole) {
        if (line.empty()) return;
        if (!whole) return Refuse(Utf8ToUtf16(line), L"longer than any path the setup writes");
        std::size_t dir = std::strlen(kMadeDirPrefix), copy = std::strlen(kFileCopyPrefix);
        bool folder = line.compare(0, dir, kMadeDirPrefix) == 0;
        if (!folder && line.compare(0, copy, kFileCopyPrefix) != 0)
            return Refuse(Utf8ToUtf16(line), L"not a line the setup writes");
        std::string text = line.substr(folder ? dir : copy);
        std::wstring path = Utf8ToUtf16(text);
        // A line must read back exactly as the setup writes paths: a character
        // dropped on the way would name another item.
        if (Utf16ToUtf8(path) != text)
            return Refuse(Utf8ToUtf16(line), L"its bytes are not a path as the setup writes it");
        std::wstring full = FullPath(path);
        if (full.empty()) return Refuse(Utf8ToUtf16(line), L"not a full path");
        Classify(line, full, folder);
    });
    if (!readOk) {
        DWORD e = GetLastError();
        outcome_.Problems.push_back({installLog_, SystemErrorText(e)});
        log_->Failure(L"Could not read " + installLog_, e);
        return false;
    }
    return true;
}

TLogHashPlaces TRemoval::HashPlaces() const {
    TLogHashPlaces places;
    places.SettingsKey = kSettingsKeyWide;
    places.UninstallKey = kUninstallKeyWide;
    if (!options_.InstallLogSHA256.empty()) places.Known.push_back(options_.InstallLogSHA256);
    return places;
}

// Every name is compared by what it reaches, so that a program started through
// another name for its folder (a drive alias, an 8.3 name, a junction, another
// case) finds its own lines.
void TRemoval::ResolveRoots() {
    resolved_ = true;
    for (std::wstring& k : keep_) k = RealPath(k, false);
    folderReal_ = folder_.empty() ? std::wstring() : RealPath(folder_, true);
    programReal_ = program_.empty() ? std::wstring() : RealPath(program_, false);
    installLogReal_ = folderReal_.empty() ? std::wstring() : JoinPath(folderReal_, "Install.log");
    dataReal_ = data_.empty() ? std::wstring() : RealPath(data_, true);
    for (const std::wstring& s : shortcutFolders_) shortcutReal_.push_back(RealPath(s, true));
}

// Files go only in the install folder, and in the shortcut folders only as the
// one shortcut the setup makes there; folders also in the data folder (never the
// data folder itself), and the folders above the install folder that the setup
// made for it, when they are empty.
void TRemoval::Classify(const std::string& line, const std::wstring& path, bool folder) {
    if (!resolved_) ResolveRoots();
    std::wstring shown = Utf8ToUtf16(line);
    // A folder is taken for what it reaches; a file that is a link stays itself.
    std::wstring real = RealPath(path, folder), self = folder ? RealPath(path, false) : real;
    if (SamePath(real, installLogReal_)) return; // removed last, when everything else went
    for (const std::wstring& k : keep_)
        if (SamePath(self, k) || SamePath(real, k))
            return log_->Line(L"Kept (the new installation's own): " + path);
    if (SamePath(real, programReal_)) {
        records_.push_back({line, path, real, folder ? Role::Kept : Role::Program});
        return;
    }
    bool inFolder = folder ? IsInFolder(real, folderReal_) : Below(real, folderReal_);
    bool shortcut = false, inShortcutFolder = false;
    for (const std::wstring& s : shortcutReal_) {
        shortcut = shortcut || (!folder && SamePath(real, PathWithoutSlash(s) + L"\\" + kShortcutFileName));
        inShortcutFolder = inShortcutFolder || Below(real, s);
    }
    if (inFolder || shortcut || (folder && Below(real, dataReal_))) {
        records_.push_back({line, path, real, folder ? Role::Folder : Role::File});
        return;
    }
    if (folder && Below(folderReal_, real)) {
        records_.push_back({line, path, real, Role::AboveFolder});
        return;
    }
    bool holdsKept = SamePath(real, dataReal_) || Below(dataReal_, real);
    for (const std::wstring& s : shortcutReal_) holdsKept = holdsKept || IsInFolder(s, real);
    if (folder && holdsKept) {
        records_.push_back({line, path, real, Role::Kept});
        log_->Line(SamePath(real, dataReal_)
                       ? L"Kept folder (the shared data folder stays): " + path
                       : L"Kept folder (it holds the shared data folder or a shortcut folder): " + path);
        return;
    }
    Refuse(shown, inShortcutFolder                    ? L"not the shortcut the setup makes there"
                  : folder || !Below(real, dataReal_) ? L"outside the installation's folders"
                                                      : L"a file of the shared data folder, which stays");
}

void TRemoval::Refuse(const std::wstring& line, const std::wstring& why) {
    refused_.push_back({line, why});
    log_->Line(L"Skipped Install.log line (" + why + L"): " + line);
}

void TRemoval::Fail(const std::wstring& what, const std::wstring& path, DWORD error) {
    failed_ = true;
    if (error != kNotWhereRecorded) {
        outcome_.Problems.push_back({path, SystemErrorText(error)});
        return log_->Failure(what + L" " + path, error);
    }
    outcome_.Problems.push_back({path, kNotFollowed});
    log_->Line(what + L" " + path +
               L": it is a link that this system follows, or a link or junction now lies on its way; "
               L"nothing was followed");
}

// 0 when removed or already gone (the run log says which), or the error.
DWORD TRemoval::RemoveItem(const std::wstring& shown, const std::wstring& real, bool folder) {
    DWORD e = Retrying([&] { return DeleteAttempt(real, folder); }, log_, shown, real, folder);
    if (e == 0) {
        log_->Line((folder ? L"Removed folder: " : L"Removed file: ") + shown);
    } else if (Gone(e)) {
        log_->Line(L"Already gone: " + shown);
        e = 0;
    }
    return e;
}

void TRemoval::RemoveFile(const Record& r) {
    if (DWORD e = RemoveItem(r.path, r.real, false))
        Fail(e == ERROR_DIRECTORY ? L"Could not remove file (it is a folder)" : L"Could not remove file",
             r.path, e);
}

// What a killed setup left beside a file of the install folder: its new copy
// under the name it had while being written.
void TRemoval::RemovePartial(const Record& r) {
    std::wstring real = PartialNameOf(r.real);
    if (!Below(r.real, folderReal_) || !Present(real)) return;
    if (DWORD e = RemoveItem(PartialNameOf(r.path), real, false))
        Fail(L"Could not remove file", PartialNameOf(r.path), e);
}

void TRemoval::RemoveRegistry() {
    struct Key {
        HKEY root;
        const wchar_t* path;
        const wchar_t* shown;
        bool onlyWhenEmpty;
    };
    const Key keys[] = {
        {HKEY_CURRENT_USER, kSettingsKeyWide, L"HKEY_CURRENT_USER\\", false},
        {HKEY_CURRENT_USER, kSettingsParentWide, L"HKEY_CURRENT_USER\\", true},
        {HKEY_LOCAL_MACHINE, kUninstallKeyWide, L"HKEY_LOCAL_MACHINE\\", false},
    };
    for (const Key& k : keys) {
        std::wstring name = k.shown + std::wstring(k.path);
        if (k.onlyWhenEmpty && !KeyIsEmpty(k.root, k.path)) {
            log_->Line(L"Kept registry key (not empty, or absent): " + name);
            continue;
        }
        LONG r = DeleteKey32(k.root, k.path);
        if (r == ERROR_SUCCESS)
            log_->Line(L"Removed registry key: " + name);
        else if (r == ERROR_FILE_NOT_FOUND)
            log_->Line(L"Registry key already absent: " + name);
        else
            Fail(L"Could not remove registry key", name, static_cast<DWORD>(r));
    }
}

// A running program's file can be renamed on its volume but not deleted: it
// leaves the install folder for the temporary folder, under a name nobody could
// take first, and the system deletes it at the next restart. On another volume
// it stays, and goes with its folder at the restart.
void TRemoval::RemoveProgram() {
    auto it = std::find_if(records_.begin(), records_.end(),
                           [](const Record& r) { return r.role == Role::Program; });
    if (it == records_.end())
        return log_->Line(L"Kept the program (Install.log does not name it): " + program_);
    // A copy that is not this process goes as any file of the installation.
    if (!SamePath(programReal_, RealPath(FullPath(ModuleFilePath()), false))) return RemoveFile(*it);
    DWORD e = 0;
    UniqueHandle program = OpenToRemove(programReal_, false, e);
    if (!program.valid()) return Fail(L"Could not move the running program", program_, e);
    // Renamed through the handle that was checked; a name taken meanwhile gives another.
    for (int attempt = 0; attempt < 8 && moved_.empty(); ++attempt) {
        std::wstring to = UnguessableTempName(), nt = L"\\??\\" + to;
        std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + nt.size() * sizeof(wchar_t));
        auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        rename->FileNameLength = static_cast<DWORD>(nt.size() * sizeof(wchar_t));
        std::memcpy(rename->FileName, nt.data(), rename->FileNameLength);
        if (to.empty())
            e = ERROR_GEN_FAILURE;
        else if (SetFileInformationByHandle(program.get(), FileRenameInfo, rename,
                                            static_cast<DWORD>(buffer.size())))
            moved_ = to;
        else
            e = GetLastError();
        if (to.empty() || (e != ERROR_ALREADY_EXISTS && e != ERROR_FILE_EXISTS)) break;
    }
    program.reset();
    if (!moved_.empty()) {
        log_->Line(L"Moved the running program out of the install folder: " + program_ + L" -> " + moved_);
        if (MoveFileExW(moved_.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
            log_->Line(L"The system deletes it at the next restart: " + moved_);
        else
            log_->Failure(L"It stays in the temporary folder, not marked for deletion at the restart: " +
                              moved_,
                          GetLastError());
        return;
    }
    log_->Failure(L"Could not move the running program out of the install folder " + program_, e);
    if (!MoveFileExW(programReal_.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return Fail(L"Could not mark the running program for deletion at the next restart", program_,
                    GetLastError());
    // Nothing is left to try again with, but the run did not end what it promised.
    log_->Line(L"The system deletes it at the next restart: " + program_);
    outcome_.Problems.push_back({program_, kAtRestart});
    folderAtRestart_ = true;
}

// When Install.log could not go after all, the program comes back for a later attempt.
void TRemoval::RestoreProgram() {
    if (moved_.empty()) return;
    if (MoveFileExW(moved_.c_str(), programReal_.c_str(), 0))
        log_->Line(L"Moved the program back into the install folder: " + program_);
    else
        log_->Failure(L"Could not move the program back into the install folder from " + moved_,
                      GetLastError());
}

// Deepest first, and only when empty: what the user put there stays. The install
// folder and those above it go last (RemoveRecords).
void TRemoval::RemoveFolders() {
    std::vector<const Record*> folders;
    for (const Record& r : records_)
        if (r.role == Role::Folder && !SamePath(r.real, folderReal_)) folders.push_back(&r);
    auto depth = [](const Record* r) { return std::count(r->real.begin(), r->real.end(), L'\\'); };
    std::stable_sort(folders.begin(), folders.end(),
                     [&](const Record* a, const Record* b) { return depth(a) > depth(b); });
    for (const Record* r : folders) {
        if (IsRoot(r->real)) {
            log_->Line(L"Kept folder (a drive's root): " + r->path);
            continue;
        }
        DWORD e = RemoveItem(r->path, r->real, true);
        if (e == ERROR_DIR_NOT_EMPTY) {
            log_->Line(L"Kept folder (not empty): " + r->path);
            if (!failed_ && !Below(r->real, dataReal_))
                keptFolders_.push_back({r->path, L""}); // the data folder always stays
        } else if (e) {
            Fail(e == ERROR_DIRECTORY ? L"Could not remove folder (it is a file)"
                                      : L"Could not remove folder",
                 r->path, e);
        }
    }
}

// What a later attempt needs, once everything else went: the program, then
// Install.log, then the install folder and the folders above it, then the
// registry. Install.log and those folders are opened for deletion before the
// program leaves, so that one held by another program stops the run while all
// of them are still there for another attempt.
void TRemoval::RemoveRecords() {
    // The new installation's own folder under another name: its log stays with it.
    for (const std::wstring& k : keep_)
        if (SamePath(k, programReal_))
            return log_->Line(L"Kept (the new installation's own): " + installLog_);
    DWORD e = 0;
    UniqueHandle log;
    // A setup stopped before its end may have left only its journal.
    const bool hasLog = FileIsPresent(installLogReal_);
    if (hasLog)
        e = Retrying([&] { return log = OpenToRemove(installLogReal_, false, e), e; }, log_, installLog_,
                     installLogReal_, false);
    if (hasLog && !log.valid()) return Fail(L"Could not remove file", installLog_, e);
    std::vector<const Record*> last;
    for (const Record& r : records_)
        if (r.role == Role::AboveFolder || (r.role == Role::Folder && SamePath(r.real, folderReal_)))
            last.push_back(&r);
    std::stable_sort(last.begin(), last.end(), [](const Record* a, const Record* b) {
        return std::count(a->real.begin(), a->real.end(), L'\\') >
               std::count(b->real.begin(), b->real.end(), L'\\');
    });
    std::vector<std::pair<const Record*, UniqueHandle>> folders;
    for (const Record* r : last) {
        UniqueHandle h;
        if (IsRoot(r->real)) {
            log_->Line(L"Kept folder (a drive's root): " + r->path);
            continue;
        }
        e = Retrying([&] { return h = OpenToRemove(r->real, true, e), e; }, log_, r->path, r->real, false);
        if (Gone(e)) {
            log_->Line(L"Already gone: " + r->path);
        } else if (e) {
            return Fail(e == ERROR_DIRECTORY ? L"Could not remove folder (it is a file)"
                                             : L"Could not remove folder",
                        r->path, e);
        } else {
            folders.emplace_back(r, std::move(h));
        }
    }
    RemoveProgram();
    if (failed_) return;
    if (hasLog && (e = DeleteThrough(log.get())) != 0) {
        RestoreProgram();
        return Fail(L"Could not remove file", installLog_, e);
    }
    log.reset();
    recordsGone_ = true;
    if (hasLog) log_->Line(L"Removed file: " + installLog_);
    RemoveJournal();
    for (auto& [r, h] : folders) {
        e = DeleteThrough(h.get());
        for (int n = 0; e == ERROR_DIR_NOT_EMPTY && n < 10 && FolderLooksEmpty(r->real); ++n) {
            Sleep(100); // an item whose deletion another handle still delays
            e = DeleteThrough(h.get());
        }
        h.reset();
        if (e == 0) {
            log_->Line(L"Removed folder: " + r->path);
        } else if (e == ERROR_DIR_NOT_EMPTY && folderAtRestart_ && SamePath(r->real, folderReal_) &&
                   MoveFileExW(folderReal_.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            log_->Line(L"The system removes the install folder at the next restart: " + r->path);
        } else if (e == ERROR_DIR_NOT_EMPTY) {
            log_->Line(L"Kept folder (not empty): " + r->path);
            keptFolders_.push_back({r->path, L""});
        } else {
            Fail(L"Could not remove folder", r->path, e);
        }
    }
    if (!options_.KeepRegistry) RemoveRegistry();
}

// The journal of a stopped setup (and the Install.log it was writing) and the
// journal's key go with Install.log, and stay with it.
void TRemoval::RemoveJournal() {
    for (const char* name : {kJournalName, "Install.log.new"}) {
        std::wstring record = JoinPath(folderReal_, name);
        if (!FileIsPresent(record)) continue;
        if (RemoveFileItself(record))
            log_->Line(L"Removed file: " + record);
        else
            Fail(L"Could not remove file", record, GetLastError());
    }
    if (!options_.KeepRegistry)
        if (LONG r = DeleteJournalKey(folder_))
            Fail(L"Could not remove registry key", std::wstring(L"HKEY_LOCAL_MACHINE\\") + kJournalKeyWide,
                 static_cast<DWORD>(r));
}

// What a later attempt needs: Install.log lists every recorded item that is
// still there. Written beside and then put in place, so that a failed write
// leaves the earlier, longer list rather than a cut one; never through a link
// put in the install folder's place since the start.
void TRemoval::KeepRecords() {
    log_->Line(L"Kept for a later attempt: " + program_ + L", " + installLog_ +
               L", the settings and the uninstall entry");
    if (!SamePath(RealPath(folder_, true), folderReal_))
        return log_->Line(L"The install folder no longer leads where it did: Install.log is not rewritten");
    TStringList remaining;
    for (const Record& r : records_)
        if (Present(r.real) || Present(PartialNameOf(r.real))) remaining.Add(r.line);
    std::wstring fresh = installLogReal_ + L".new";
    if (SaveListToFile(remaining, fresh) &&
        MoveFileExW(fresh.c_str(), installLogReal_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        // The next attempt must find it trusted: its hash where the old one was recorded.
        std::string text = remaining.Text();
        UpdateLogHash(folder_, HashPlaces(), TSha256::HexOf(text.data(), text.size()));
        log_->Line(L"Install.log now lists what remains (" + DecimalW(remaining.Count()) + L" lines)");
        return;
    }
    log_->Failure(L"Could not rewrite Install.log; it keeps its earlier lines", GetLastError());
    DeleteFileW(fresh.c_str());
}

void TRemoval::Finish(int code, const std::wstring& reason) {
    outcome_.ExitCode = code;
    // In another program's log the exit code is that program's own.
    log_->Line((options_.Trace ? L"Removal ended with " : L"Exit code ") + DecimalW(code) + L": " + reason);
}
} // namespace

const wchar_t kUninstallHelp[] =
    L"Désinstallation : qrd.exe -ui [options]\r\n\r\n"
    L"/S, /SILENT, /VERYSILENT, /QUIET\r\n    désinstaller sans rien afficher ni demander\r\n"
    L"/LOG=<fichier>\r\n    journal de la désinstallation (ses dossiers sont créés)\r\n"
    L"/LOG\r\n    journal dans le dossier temporaire (Norvanta-uninstall-<date>-<heure>.log)\r\n"
    L"/?, /HELP\r\n    cette aide (rien n'est supprimé)\r\n\r\n"
    L"Codes de sortie :\r\n"
    L"0    désinstallé, ou l'utilisateur a répondu Non\r\n"
    L"1    le traitement de texte est en cours d'exécution : rien n'a été supprimé\r\n"
    L"2    des éléments n'ont pas pu être supprimés (le reste l'a été)\r\n"
    L"3    aucune installation ici (pas de journal Install.log) : rien n'a été supprimé\r\n"
    L"4    les droits d'administrateur manquent (en mode silencieux, ils ne sont pas demandés) : "
    L"rien n'a été supprimé";

int UninstallBox(const std::wstring& text, unsigned style) {
    return MessageBoxInFrench(text, kCaption, style | MB_TASKMODAL | MB_SETFOREGROUND, nullptr);
}

TUninstallOutcome Uninstall(const TUninstallOptions& options) {
    TUninstallOutcome outcome;
    try {
        TRemoval(options, outcome).Run();
    } catch (...) {
        // Out of memory, most likely; what was not reached is still recorded.
        outcome.ExitCode = kUninstallIncomplete;
        outcome.Problems.push_back({L"", L"unexpected error"});
    }
    return outcome;
}
