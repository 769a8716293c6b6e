#include "Uninstall.h"
#include "Files.h"
#include "FrenchMessageBox.h"
#include "InstallLock.h"
#include "InstallLog.h"
#include "InstallRecords.h"
#include "Paths.h"
#include "RunLog.h"
#include "Shell.h"
#include "StringList.h"
#include "TextConv.h"
#include <windows.h>
#include <shlobj.h>
#include <algorithm>
#include <cstring>

namespace {
const wchar_t kCaption[] = L"Désinstallation du traitement de texte Norvanta";
const wchar_t kRunningMark[] = L"1.x Quiet Fern";
const wchar_t kSettingsParent[] = L"Software\\Norvanta Word Processor";
const wchar_t kSettingsKey[] = L"Software\\Norvanta Word Processor\\Install";
const wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Norvanta Word Processor";

const wchar_t kConfirm[] =
    L"Voulez-vous désinstaller le traitement de texte Norvanta ?\r\n\r\n"
    L"Le programme, ses raccourcis et ses réglages seront supprimés. Les modèles de document et les "
    L"collections d'inserts du dossier de données partagé sont conservés.";
const wchar_t kDone[] = L"Le traitement de texte Norvanta a été désinstallé.";
const wchar_t kKeptFolders[] = L"Ces dossiers contiennent d'autres fichiers et ont été conservés :";
const wchar_t kNotRemoved[] =
    L"La désinstallation n'est pas terminée. Ces éléments n'ont pas pu être supprimés :";
const wchar_t kRetry[] = L"Fermez les programmes qui les utilisent, puis relancez la désinstallation.";
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

// True when a part of the path between the root and the item is a link or a
// junction: what lies behind it is elsewhere, and it is never followed.
bool BehindALink(const std::wstring& path, const std::wstring& root) {
    for (std::size_t i = PathWithoutSlash(root).size();;) {
        i = path.find(L'\\', i + 1);
        if (i == std::wstring::npos) return false;
        DWORD a = GetFileAttributesW(path.substr(0, i).c_str());
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
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

// Runs a removal, retrying for about a second while something holds the item
// (a file being read, an entry whose deletion another handle still delays).
// Answers 0 or the last error.
template <typename Remove>
DWORD Retrying(Remove remove, const std::wstring& path, bool folder) {
    for (int attempt = 0;; ++attempt) {
        if (remove()) return 0;
        DWORD e = GetLastError();
        DWORD a = GetFileAttributesW(path.c_str());
        if (attempt == 0 && e == ERROR_ACCESS_DENIED && a != INVALID_FILE_ATTRIBUTES &&
            (a & FILE_ATTRIBUTE_READONLY)) {
            SetFileAttributesW(path.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
            continue;
        }
        bool busy = e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION || e == ERROR_ACCESS_DENIED ||
                    (folder && e == ERROR_DIR_NOT_EMPTY && FolderLooksEmpty(path));
        if (!busy || attempt >= 10) return e;
        Sleep(100);
    }
}

BOOL CALLBACK FindMarkedWindow(HWND window, LPARAM found) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() && GetPropW(window, kRunningMark)) {
        *reinterpret_cast<bool*>(found) = true;
        return FALSE;
    }
    return TRUE;
}

// The desktop's own windows rather than the desktop window, which under Wine
// would start the desktop process in a silent run; the full list only when the
// desktop cannot be enumerated.
bool WordProcessorRunning() {
    bool found = false;
    HDESK desktop = GetThreadDesktop(GetCurrentThreadId());
    SetLastError(ERROR_SUCCESS);
    if (desktop && EnumDesktopWindows(desktop, FindMarkedWindow, reinterpret_cast<LPARAM>(&found)))
        return found;
    if (!found && (!desktop || GetLastError() != ERROR_SUCCESS))
        EnumWindows(FindMarkedWindow, reinterpret_cast<LPARAM>(&found));
    return found;
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

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return std::wstring();
        if (n < path.size()) return path.substr(0, n);
        path.resize(path.size() * 2);
    }
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
        std::wstring path;
        Role role;
    };

    bool ReadRecords();
    TLogHashPlaces HashPlaces() const;
    void Classify(const std::string& line, const std::wstring& path, bool folder);
    void Refuse(const std::wstring& line, const std::wstring& why);
    void Fail(const std::wstring& what, const std::wstring& path, DWORD error);
    void RemoveFile(const std::wstring& path);
    void RemoveRegistry();
    void RemoveProgram();
    void RemoveFolders();
    void KeepRecords();
    void Finish(int code, const std::wstring& reason);

    const TUninstallOptions& options_;
    TUninstallOutcome& outcome_;
    TRunLog ownLog_;
    TRunLog* log_ = &ownLog_;
    std::vector<std::wstring> keep_; // full paths that stay whatever the log says
    std::wstring program_, folder_, installLog_, journal_, data_;
    std::wstring unread_ = L"Install.log could not be read"; // why the records are not followed
    std::vector<std::wstring> shortcutFolders_;
    std::vector<Record> records_;
    std::vector<TUninstallProblem> refused_, keptFolders_;
    bool failed_ = false;          // something of ours stays: the records are kept
    bool folderAtRestart_ = false; // the program stays in its folder until the restart
};

void TRemoval::Run() {
    if (options_.Trace) {
        log_ = options_.Trace;
    } else {
        // A log that cannot be made goes to the temporary folder and stops nothing.
        std::wstring written;
        if (options_.LogWanted || !options_.LogPath.empty())
            written = ownLog_.OpenAsked(options_.LogPath, L"uninstall");
        log_->Line(std::wstring(L"Command line: ") + GetCommandLineW());
        log_->Line(std::wstring(L"Switches: uninstall") +
                   (options_.Silent ? L", silent" : L", confirmation asked") +
                   (options_.Help ? L", help" : L"") + (written.empty() ? L"" : L", log " + written));
    }
    if (options_.Help) {
        if (!options_.Silent) UninstallBox(kUninstallHelp, MB_OK | MB_ICONINFORMATION);
        return Finish(kUninstallDone, L"the help was asked for: nothing removed");
    }
    for (const std::wstring& k : options_.Keep)
        if (std::wstring full = FullPath(k); !full.empty()) keep_.push_back(full);
    program_ = FullPath(options_.ProgramPath.empty() ? ModulePath() : options_.ProgramPath);
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
    if (WordProcessorRunning()) {
        if (!options_.Silent) UninstallBox(kRunning, MB_OK | MB_ICONWARNING);
        return Finish(kUninstallRunningCopy, L"a copy of the word processor is running: nothing removed");
    }
    if (!options_.Silent && UninstallBox(kConfirm, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return Finish(kUninstallDone, L"the user said no: nothing removed");
    // This process must not hold the install folder as its current folder.
    wchar_t system[MAX_PATH + 1] = {};
    if (GetSystemDirectoryW(system, MAX_PATH)) SetCurrentDirectoryW(system);

    if (!ReadRecords()) return Finish(kUninstallIncomplete, unread_ + L": nothing removed");
    for (const Record& r : records_)
        if (r.role == Role::File) RemoveFile(r.path);
    if (!failed_ && !options_.KeepRegistry) RemoveRegistry();
    if (!failed_) RemoveProgram();
    if (!failed_ && Present(installLog_)) {
        if (DWORD e = Retrying([&] { return DeleteFileW(installLog_.c_str()); }, installLog_, false))
            Fail(L"Could not remove file", installLog_, e);
        else
            log_->Line(L"Removed file: " + installLog_);
    }
    // The journal of a stopped setup (and the Install.log it was writing) and the
    // journal's key go with Install.log, and stay with it.
    for (const std::wstring& record : {journal_, installLog_ + L".new"}) {
        if (failed_ || !FileIsPresent(record)) continue;
        if (DWORD e = Retrying([&] { return RemoveLeftover(record) ? TRUE : FALSE; }, record, false))
            Fail(L"Could not remove file", record, e);
        else
            log_->Line(L"Removed file: " + record);
    }
    if (!failed_ && !options_.KeepRegistry)
        if (LONG r = DeleteJournalKey(folder_))
            Fail(L"Could not remove registry key", std::wstring(L"HKEY_LOCAL_MACHINE\\") + kJournalKey,
                 static_cast<DWORD>(r));
    RemoveFolders();
    if (failed_) KeepRecords();

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
            if (!failures.empty()) text = std::wstring(kNotRemoved) + ListOf(failures) + L"\r\n\r\n" + kRetry;
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
    std::wstring base = KnownFolder(CSIDL_COMMON_APPDATA);
    if (base.empty()) base = KnownFolder(CSIDL_PERSONAL); // where the setup puts it then
    data_ = base.empty() ? std::wstring() : FullPath(JoinPath(base, "Norvanta"));
    for (int csidl :
         {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY}) {
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
        // What a stopped setup was writing beside the file goes with it.
        if (!folder && FileIsPresent(PartialNameOf(full))) Classify(line, PartialNameOf(full), false);
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
    places.SettingsKey = kSettingsKey;
    places.UninstallKey = kUninstallKey;
    if (!options_.InstallLogSHA256.empty()) places.Known.push_back(options_.InstallLogSHA256);
    return places;
}

// Files go only in the install folder and the shortcut folders; folders also in
// the data folder (never the data folder itself), and the folders above the
// install folder that the setup made for it, when they are empty.
void TRemoval::Classify(const std::string& line, const std::wstring& path, bool folder) {
    std::wstring shown = Utf8ToUtf16(line);
    if (SamePath(path, installLog_)) return; // removed last, when everything else went
    for (const std::wstring& k : keep_)
        if (SamePath(path, k)) return log_->Line(L"Kept (the new installation's own): " + path);
    if (SamePath(path, program_)) {
        records_.push_back({line, path, folder ? Role::Kept : Role::Program});
        return;
    }
    std::wstring root;
    if (folder ? IsInFolder(path, folder_) : Below(path, folder_)) root = folder_;
    for (const std::wstring& s : shortcutFolders_)
        if (root.empty() && Below(path, s)) root = s;
    if (root.empty() && folder && Below(path, data_)) root = data_;
    if (!root.empty()) {
        if (BehindALink(path, root)) return Refuse(shown, L"it lies behind a link or junction");
        records_.push_back({line, path, folder ? Role::Folder : Role::File});
        return;
    }
    if (folder && Below(folder_, path)) {
        records_.push_back({line, path, Role::AboveFolder});
        return;
    }
    bool holdsKept = SamePath(path, data_) || Below(data_, path);
    for (const std::wstring& s : shortcutFolders_) holdsKept = holdsKept || IsInFolder(s, path);
    if (folder && holdsKept) {
        records_.push_back({line, path, Role::Kept});
        log_->Line(SamePath(path, data_)
                       ? L"Kept folder (the shared data folder stays): " + path
                       : L"Kept folder (it holds the shared data folder or a shortcut folder): " + path);
        return;
    }
    Refuse(shown, folder || !Below(path, data_) ? L"outside the installation's folders"
                                                : L"a file of the shared data folder, which stays");
}

void TRemoval::Refuse(const std::wstring& line, const std::wstring& why) {
    refused_.push_back({line, why});
    log_->Line(L"Skipped Install.log line (" + why + L"): " + line);
}

void TRemoval::Fail(const std::wstring& what, const std::wstring& path, DWORD error) {
    failed_ = true;
    outcome_.Problems.push_back({path, SystemErrorText(error)});
    log_->Failure(what + L" " + path, error);
}

void TRemoval::RemoveFile(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES && Gone(GetLastError())) return log_->Line(L"Already gone: " + path);
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY))
        return Fail(L"Could not remove file (it is a folder)", path, ERROR_DIRECTORY);
    DWORD e = Retrying([&] { return DeleteFileW(path.c_str()); }, path, false);
    if (e == 0)
        log_->Line(L"Removed file: " + path);
    else if (Gone(e))
        log_->Line(L"Already gone: " + path);
    else
        Fail(L"Could not remove file", path, e);
}

void TRemoval::RemoveRegistry() {
    struct Key {
        HKEY root;
        const wchar_t* path;
        const wchar_t* shown;
        bool onlyWhenEmpty;
    };
    const Key keys[] = {
        {HKEY_CURRENT_USER, kSettingsKey, L"HKEY_CURRENT_USER\\", false},
        {HKEY_CURRENT_USER, kSettingsParent, L"HKEY_CURRENT_USER\\", true},
        {HKEY_LOCAL_MACHINE, kUninstallKey, L"HKEY_LOCAL_MACHINE\\", false},
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
// leaves the install folder for the temporary folder, and the system deletes it
// at the next restart. On another volume it stays, and goes with its folder at
// the restart.
void TRemoval::RemoveProgram() {
    auto it = std::find_if(records_.begin(), records_.end(),
                           [](const Record& r) { return r.role == Role::Program; });
    if (it == records_.end())
        return log_->Line(L"Kept the program (Install.log does not name it): " + program_);
    // A copy that is not this process goes as any file of the installation.
    if (!SamePath(program_, FullPath(ModulePath()))) return RemoveFile(program_);
    wchar_t temp[MAX_PATH + 1] = {};
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    std::wstring moved = std::wstring(temp, n <= MAX_PATH ? n : 0) + L"Norvanta-uninstall-" +
                         DecimalW(GetCurrentProcessId()) + L".tmp";
    if (n > 0 && n <= MAX_PATH && MoveFileExW(program_.c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        log_->Line(L"Moved the running program out of the install folder: " + program_ + L" -> " + moved);
        if (MoveFileExW(moved.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
            log_->Line(L"The system deletes it at the next restart: " + moved);
        else
            log_->Failure(L"It stays in the temporary folder, not marked for deletion at the restart: " +
                              moved,
                          GetLastError());
        return;
    }
    log_->Failure(L"Could not move the running program out of the install folder " + program_,
                  GetLastError());
    if (!MoveFileExW(program_.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return Fail(L"Could not mark the running program for deletion at the next restart", program_,
                    GetLastError());
    log_->Line(L"The system deletes it at the next restart: " + program_);
    folderAtRestart_ = true;
}

// Deepest first, and only when empty: what the user put there stays.
void TRemoval::RemoveFolders() {
    std::vector<const Record*> folders;
    for (const Record& r : records_)
        if (r.role == Role::Folder || r.role == Role::AboveFolder) folders.push_back(&r);
    auto depth = [](const Record* r) { return std::count(r->path.begin(), r->path.end(), L'\\'); };
    std::stable_sort(folders.begin(), folders.end(),
                     [&](const Record* a, const Record* b) { return depth(a) > depth(b); });
    for (const Record* r : folders) {
        const std::wstring& path = r->path;
        DWORD a = GetFileAttributesW(path.c_str());
        if (a == INVALID_FILE_ATTRIBUTES && Gone(GetLastError())) {
            log_->Line(L"Already gone: " + path);
            continue;
        }
        if (IsRoot(path)) {
            log_->Line(L"Kept folder (a drive's root): " + path);
            continue;
        }
        if (a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY)) {
            Fail(L"Could not remove folder (it is a file)", path, ERROR_DIRECTORY);
            continue;
        }
        // A link or junction named by the log goes itself; what it points to is never entered.
        DWORD e = Retrying([&] { return RemoveDirectoryW(path.c_str()); }, path, true);
        if (e == 0) {
            log_->Line(L"Removed folder: " + path);
        } else if (Gone(e)) {
            log_->Line(L"Already gone: " + path);
        } else if (e == ERROR_DIR_NOT_EMPTY && folderAtRestart_ && SamePath(path, folder_) &&
                   MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            log_->Line(L"The system removes the install folder at the next restart: " + path);
        } else if (e == ERROR_DIR_NOT_EMPTY) {
            log_->Line(L"Kept folder (not empty): " + path);
            if (!failed_ && !Below(path, data_))
                keptFolders_.push_back({path, L""}); // the data folder always stays
        } else {
            Fail(L"Could not remove folder", path, e);
        }
    }
}

// What a later attempt needs: Install.log lists every recorded item that is
// still there. Written beside and then put in place, so that a failed write
// leaves the earlier, longer list rather than a cut one.
void TRemoval::KeepRecords() {
    TStringList remaining;
    for (const Record& r : records_)
        if (Present(r.path)) remaining.Add(r.line);
    std::wstring fresh = installLog_ + L".new";
    if (SaveListToFile(remaining, fresh) &&
        MoveFileExW(fresh.c_str(), installLog_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        // The next attempt must find it trusted: its hash where the old one was recorded.
        std::string text = remaining.Text();
        UpdateLogHash(folder_, HashPlaces(), TSha256::HexOf(text.data(), text.size()));
        log_->Line(L"Install.log now lists what remains (" + DecimalW(remaining.Count()) +
                   L" lines); the settings and the uninstall entry are kept for a later attempt");
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
    L"3    aucune installation ici (pas de journal Install.log) : rien n'a été supprimé";

int UninstallBox(const std::wstring& text, unsigned style) {
    return MessageBoxInFrench(text, kCaption, style | MB_TASKMODAL | MB_SETFOREGROUND, nullptr);
}

TUninstallOutcome Uninstall(const TUninstallOptions& options) {
    TUninstallOutcome outcome;
    try {
        // Never while a setup (or another removal) writes the same records.
        TInstallLock lock;
        TRemoval(options, outcome).Run();
    } catch (...) {
        // Out of memory, most likely; what was not reached is still recorded.
        outcome.ExitCode = kUninstallIncomplete;
        outcome.Problems.push_back({L"", L"unexpected error"});
    }
    return outcome;
}
