#include "Install.h"
#include "AttachFiles.h"
#include "Files.h"
#include "InstallRecords.h"
#include "Paths.h"
#include "Security.h"
#include "RunLog.h"
#include "Settings.h"
#include "Shell.h"
#include "Strings.h"
#include "TextConv.h"
#include "Uninstall.h"
#include "UpdateLog.h"
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <windows.h>
#include <shlobj.h>
#include <vector>

namespace {
const char kTemplates[] = "Mod\xC3\xA8les de document\\";
const char kInserts[] = "Collections d'inserts\\";

// What an installation takes from the payload, in this order: into the
// destination, or into the shared documents folder.
struct TSelectionRow {
    const char* name;
    bool shared;
    std::uint8_t mode;
};
const TSelectionRow kSelection[] = {{"qrd.exe", false, wmReplaceIfOther},
                                    {"Licence.txt", false, wmReplaceIfOther},
                                    {kTemplates, true, wmKeepExisting},
                                    {kInserts, true, wmKeepExisting}};

// Room kept on each drive written to for what is not in the payload: the logs,
// the state files, the folders.
constexpr std::uint64_t kRecordsMargin = 1u << 20;

struct TDrive {
    std::wstring root;
    std::uint64_t cluster = 4096, free = 0, needed = 0;
};

// The drive (or the folder a volume is mounted at) that holds the folder,
// made or not, with its free space for this account; false when unknown.
bool DriveOf(std::wstring folder, TDrive& drive) {
    while (!FolderExists(folder)) {
        std::wstring up = FolderPartOf(PathWithoutSlash(folder));
        if (up.empty() || up.size() >= folder.size()) return false;
        folder = up;
    }
    std::wstring root(folder.size() + MAX_PATH + 2, L'\0');
    if (!GetVolumePathNameW(folder.c_str(), root.data(), static_cast<DWORD>(root.size()))) return false;
    root.resize(std::wcslen(root.c_str()));
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(root.c_str(), &available, nullptr, nullptr)) return false;
    DWORD sectors = 0, bytes = 0, freeClusters = 0, clusters = 0;
    if (GetDiskFreeSpaceW(root.c_str(), &sectors, &bytes, &freeClusters, &clusters) && sectors && bytes)
        drive.cluster = static_cast<std::uint64_t>(sectors) * bytes;
    drive.root = root;
    drive.free = available.QuadPart;
    return true;
}

template <typename T>
void Put(std::string& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T)); // little-endian on every target
    out.append(bytes, sizeof(T));
}

// Install.log as it is written, hashed on the way for the records.
class THashingSink : public TLogSink {
public:
    THashingSink(TLogSink& out, TSha256& hash) : out_(out), hash_(hash) {}
    bool Write(const char* bytes, std::size_t length) override {
        hash_.Add(bytes, length);
        return out_.Write(bytes, length);
    }
    bool Truncate(std::uint64_t) override { return false; } // the hash could not follow a cut

private:
    TLogSink& out_;
    TSha256& hash_;
};

// Before anything is written: what a stopped run left, Install.log's new file
// removed and its journal folded into this run's log; then the journal of this run.
void StartJournal(TInstallSession& session) {
    std::wstring stray = session.LogPath + L".new";
    if (FileIsPresent(stray) && RemoveFileItself(stray))
        session.Note(L"Removed what a stopped run left: " + stray);
    TJournalState state;
    if (!ReadJournal(session.MainDir, state, [&](const std::string& line, bool whole) {
            if (whole && !line.empty()) session.Log->Add(line);
        }))
        session.NoteFailure(L"The journal of a stopped run could not be read", GetLastError());
    const std::vector<std::string>& folded = session.Log->List().Lines;
    if (!folded.empty())
        session.Note(L"The journal of a stopped run is taken into this run's log (" +
                     DecimalW(folded.size()) + L" lines)");
    session.Journal = std::make_shared<TJournal>(session.MainDir, state, folded, session.Trace);
    TJournal* journal = session.Journal.get();
    session.Log->SetRecorder([journal](const std::string& line) { journal->Record(line); });
}

// The program the uninstall entry starts: there, and as long as the payload's.
bool ProgramIsWhole(const TInstallSession& session, const std::wstring& program) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(program.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return session.ProgramBytes == 0 || size == session.ProgramBytes;
}

// A state file goes the way of a payload file: written whole, or put to the
// session's question. False: stop.
bool WriteStateFile(TInstallSession& session, const std::wstring& path, const std::string& bytes) {
    for (;;) {
        if (WriteWholeFile(path, bytes)) {
            session.BytesWritten += bytes.size();
            session.Note(L"Wrote state file: " + path);
            return true;
        }
        switch (session.CannotWrite(path, GetLastError())) {
        case TWriteFailureAnswer::Retry:
            continue;
        case TWriteFailureAnswer::Ignore:
            return true;
        case TWriteFailureAnswer::Abort:
            return false;
        }
        return false;
    }
}
} // namespace

std::wstring GetDataFolder(TInstallSession& session, int kind, bool portable) {
    std::wstring folder = DataFolderPath(kind, portable, session.MainDir);
    if (kind == dfPublic && !portable && !FolderExists(folder)) session.PublicMade = true;
    // The shared folder first, with its own permissions, then the one asked for.
    const TFolderRole roles[] = {frSharedData, frHiddenData, frPublicData};
    for (int step : {static_cast<int>(dfShared), kind}) {
        TSecurityDescriptor access(SddlForNewFolder(roles[step], portable, folder, {}));
        MakeFolderChain(DataFolderPath(step, portable, session.MainDir), session.Log.get(), session.Trace,
                        access.Attributes());
    }
    return folder;
}

std::wstring PlantedLinkInTheWay(const std::wstring& mainDir, bool portable) {
    std::wstring shared = DataFolderPath(dfPublic, portable, mainDir);
    for (const std::wstring& folder : {mainDir, DataFolderPath(dfHidden, portable, mainDir),
                                       shared + Utf8ToUtf16(kTemplates), shared + Utf8ToUtf16(kInserts)}) {
        std::wstring link = UntrustedLinkIn(folder);
        if (!link.empty()) return link;
    }
    return std::wstring();
}

bool DestinationUsable(const std::wstring& folder, std::wstring* why) {
    auto refuse = [why](const std::wstring& reason) {
        if (why) *why = reason;
        return false;
    };
    if (!IsValidFolderPath(folder))
        return refuse(
            L"not a folder path Windows accepts (no drive or share, a character refused in a name, a device "
            L"name, or the \\\\?\\ or \\\\.\\ form)");
    std::wstring at = folder;
    PathWithSlash(at);
    const std::size_t root = PathRootLength(at);
    // The missing part of the chain, deepest first; what exists must be a folder.
    std::vector<std::wstring> missing;
    for (;;) {
        DWORD attributes = GetFileAttributesW(at.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
                return refuse(L"a file is in the way: " + PathWithoutSlash(at));
            break;
        }
        // Down to the root with nothing found: no such drive, or a share out of reach.
        if (at.size() <= root) {
            DWORD error = GetLastError();
            return refuse(L"no such drive, or the share is out of reach: " + at + L": " + ErrorText(error));
        }
        missing.push_back(at);
        at = FolderPartOf(PathWithoutSlash(at));
    }
    bool made = true;
    std::wstring failed;
    DWORD error = 0;
    for (auto it = missing.rbegin(); it != missing.rend() && made; ++it) {
        made = CreateDirectoryW(it->c_str(), nullptr);
        // A name that exists but was not seen by its attributes: a file, if not a folder.
        if (!made && GetLastError() == ERROR_ALREADY_EXISTS) {
            if (!FolderExists(*it)) {
                for (const std::wstring& m : missing) RemoveDirectoryW(m.c_str());
                return refuse(L"a file is in the way: " + PathWithoutSlash(*it));
            }
            made = true;
        }
        if (!made) {
            error = GetLastError();
            failed = PathWithoutSlash(*it);
        }
    }
    if (made && !FolderExists(folder)) {
        made = false;
        error = GetLastError();
        failed = folder;
    }
    for (const std::wstring& m : missing) RemoveDirectoryW(m.c_str());
    if (!made) return refuse(L"the folder cannot be made: " + failed + L": " + ErrorText(error));
    return true;
}

std::string CommonStateBytes(double now) {
    std::string bytes;
    Put<std::int32_t>(bytes, 1);
    Put<std::int32_t>(bytes, 8);
    Put<double>(bytes, now);
    Put<std::int32_t>(bytes, 2);
    Put<std::int32_t>(bytes, 1);
    bytes.push_back('1');
    return bytes;
}

void PrepareInstall(TInstallSession& session, TAttachedFiles& files, bool portable) {
    session.OverwriteAll = !portable;
    // Shared documents are listed in Update.log wherever a normal installation puts them.
    session.PublicRoot = DataFolderPath(dfPublic, false, session.MainDir);
    for (const auto& entry : files.Files)
        if (SamePath(entry->Name, L"qrd.exe")) session.ProgramBytes = entry->Size;
    std::wstring shared;
    for (const TSelectionRow& row : kSelection) {
        if (row.shared && shared.empty()) {
            shared = GetDataFolder(session, dfPublic, portable);
            // Templates and insert collections belong to the user: never logged, never removed.
            session.Log->Mute();
        }
        files.SelectFiles(session, row.name, row.shared ? shared : session.MainDir, row.mode);
    }
    session.Log->Unmute();
}

bool SpaceSuffices(const TAttachedFiles& files, const std::wstring& mainDir, bool portable,
                   TSpaceShortfall& shortfall, TRunLog* trace) {
    std::vector<TDrive> drives;
    for (const TSelectionRow& row : kSelection) {
        std::wstring folder = row.shared ? DataFolderPath(dfPublic, portable, mainDir) : mainDir;
        TDrive drive;
        if (!DriveOf(folder, drive)) continue; // unknown: the writes will tell
        auto same = std::find_if(drives.begin(), drives.end(),
                                 [&](const TDrive& d) { return SamePath(d.root, drive.root); });
        if (same == drives.end()) {
            drive.needed = kRecordsMargin;
            same = drives.insert(drives.end(), drive);
        }
        const std::uint64_t cluster = same->cluster;
        // A file that is replaced counts whole: its new copy is written beside it first.
        same->needed +=
            files.WouldWrite(row.name, folder, row.mode, !portable, [cluster](std::uint32_t size) {
                return (size + cluster - 1) / cluster * cluster;
            });
    }
    for (const TDrive& d : drives) {
        if (trace)
            trace->Line(L"Room on " + d.root + L": " + DecimalW(d.needed) + L" bytes needed, " +
                        DecimalW(d.free) + L" free");
        if (d.needed > d.free) {
            shortfall.Drive = d.root;
            shortfall.Needed = d.needed;
            shortfall.Free = d.free;
            return false;
        }
    }
    return true;
}

std::string FrenchSize(std::uint64_t bytes, bool roundUp) {
    const bool giga = bytes >= (1ull << 30);
    const std::uint64_t unit = giga ? 1ull << 30 : 1ull << 20;
    // In tenths, rounded the way that never makes the room look larger than it is.
    std::uint64_t tenths = (bytes * 10 + (roundUp ? unit - 1 : 0)) / unit;
    return std::to_string(tenths / 10) + "," + std::to_string(tenths % 10) + (giga ? " Go" : " Mo");
}

bool RunInstall(TInstallSession& session, TAttachedFiles& files) {
    bool portable = session.Choices->IsPortable();
    session.Log = std::make_unique<TInstallLog>();
    // The earlier Install.log is read only when the log is saved.
    if (!portable) {
        session.LogPath = JoinPath(session.MainDir, "Install.log");
        StartJournal(session);
    }
    session.InstallStarted = true;
    PrepareInstall(session, files, portable);
    if (!portable) {
        session.InstallStamp = NowDateTime();
        std::wstring stamp = GetDataFolder(session, dfHidden, false) + L"install_stamp";
        if (!WriteStateFile(session, stamp, StampBytes(session.InstallStamp))) return false;
    }
    {
        // Made here, as its first file would make it, but with its permissions at once.
        std::wstring folder = session.MainDir;
        PathWithSlash(folder);
        TSecurityDescriptor access(SddlForNewFolder(frDestination, portable, folder, ProgramFolders()));
        MakeFolderChain(folder, session.Log.get(), session.Trace, access.Attributes());
    }
    session.CopyTotal = files.SelectedBytes();
    session.CopyDone = 0;
    session.ReportCopied();
    for (const auto& item : files.ToInstall) {
        // Asked only here, between two files: a file is never left half written.
        if (&item != &files.ToInstall.front() && session.StopCopying()) return false;
        if (!item->Logged) session.Log->Mute();
        bool ok = files.WriteEntry(session, *item->Source, item->Target);
        if (!item->Logged) session.Log->Unmute();
        if (!ok) return false;
    }
    return true;
}

void OpenSharedDocuments(TInstallSession& session) {
    if (!session.PublicMade) return;
    session.PublicMade = false;
    if (SetFolderSddl(session.PublicRoot, kUsersMayAddSddl))
        session.Note(L"The users may add to " + session.PublicRoot);
    else
        session.NoteFailure(L"Could not open " + session.PublicRoot + L" to the users", GetLastError());
}

bool FinishInstall(TInstallSession& session) {
    TInstallChoices& choices = *session.Choices;
    bool portable = choices.IsPortable();
    std::wstring common = GetDataFolder(session, dfShared, portable) + L"qrd_common.dat";
    if (!WriteStateFile(session, common, CommonStateBytes(NowDateTime()))) return false;
    if (portable) {
        std::wstring ini = JoinPath(session.MainDir, "Norvanta.ini");
        return FileIsPresent(ini) || WriteStateFile(session, ini, std::string());
    }
    struct Row {
        int allUsers, currentUser;
        bool wanted;
    };
    bool all = choices.AllUsers();
    const Row rows[] = {
        {kProgramsShortcutFolder.AllUsers, kProgramsShortcutFolder.CurrentUser, true},
        {kDesktopShortcutFolder.AllUsers, kDesktopShortcutFolder.CurrentUser, choices.DesktopShortcut()}};
    std::wstring name = kShortcutFileName;
    std::wstring program = JoinPath(session.MainDir, kProgramName);
    for (const Row& row : rows) {
        std::wstring target = KnownFolder(all ? row.allUsers : row.currentUser);
        std::wstring other = KnownFolder(all ? row.currentUser : row.allUsers);
        if (!other.empty()) {
            std::wstring old = JoinPath(other, Utf16ToUtf8(name));
            if (DeleteFileW(old.c_str())) session.Note(L"Removed the shortcut of the other kind: " + old);
        }
        if (!row.wanted) continue;
        if (target.empty()) target = other;
        if (target.empty()) { // neither folder exists: no place for it
            session.Note(L"No shortcut: the system has no folder for it");
            continue;
        }
        std::wstring link = JoinPath(target, Utf16ToUtf8(name));
        long r = MakeShortcut(link, program, session.MainDir, GetTextW(txtShortcutDescription),
                              session.Log.get(), session.Trace);
        if (r == S_OK)
            session.Note(L"Made shortcut: " + link + L" -> " + program);
        else
            session.NoteFailure(L"Could not make the shortcut " + link, static_cast<unsigned long>(r));
    }
    return true;
}

void CloseInstall(TInstallSession& session, TAttachedFiles& files) {
    if (session.Choices->IsPortable()) return;
    std::wstring folder = GetDataFolder(session, dfShared, false);
    if (WriteUpdateLog(folder, files.PublicFiles, session.InstallStamp))
        session.Note(L"Update.log brought up to date: " + folder + L"Update.log");
    else
        session.NoteFailure(L"Update.log left as it was (it cannot be read or replaced whole): " + folder +
                                L"Update.log",
                            GetLastError());
}

void RecordInstall(TInstallSession& session) {
    if (!session.InstallStarted || !session.Choices || session.Choices->IsPortable()) return;
    try {
        TInstallChoices& choices = *session.Choices;
        TInstallOptions options;
        options.AllUsers = choices.AllUsers();
        options.DesktopShortcut = choices.DesktopShortcut();
        options.Launch = choices.LaunchAfter();
        // Install.log first: the settings and the entry name nothing that is not whole.
        std::string hash;
        bool logWhole = false;
        if (session.Log && !session.LogPath.empty()) {
            const std::vector<std::string>& added = session.Log->List().Lines;
            // An earlier Install.log changed since a setup wrote it is not carried over:
            // the new hash would vouch for lines nobody recorded.
            bool keepEarlier = true;
            {
                TLogHashPlaces places;
                places.SettingsKey = kSettingsKeyWide;
                places.UninstallKey = kUninstallKeyWide;
                TRecordsReader earlier(session.MainDir, places);
                std::wstring why;
                unsigned long error = 0;
                if (!earlier.Check(why, error) && earlier.Changed() &&
                    SamePath(earlier.ChangedPath(), session.LogPath)) {
                    keepEarlier = false;
                    session.Note(
                        L"The earlier Install.log was changed after the setup wrote it: its lines are "
                        L"not taken over: " +
                        session.LogPath);
                }
            }
            TSha256 sha;
            logWhole = RewriteFile(
                session.LogPath,
                [&](TLogSource& earlier, TLogSink& out) {
                    THashingSink hashed(out, sha);
                    TMemoryLogSource none(nullptr, 0);
                    return WriteInstallLog(keepEarlier ? earlier : none, added, hashed);
                },
                [&] {
                    hash = TSha256::Hex(sha.Finish());
                    // Pending until the entry holds it: a kill in between still finds it trusted.
                    if (session.Journal) session.Journal->PendingLogHash(hash);
                });
            if (logWhole) {
                session.Note(L"Install.log written: " + session.LogPath);
            } else {
                DWORD error = GetLastError();
                session.NoteFailure(L"Install.log left as it was (it cannot be read or replaced whole): " +
                                        session.LogPath,
                                    error);
                session.SetExitCodeOnce(kExitWriteFailed,
                                        L"Install.log could not be written: " + session.LogPath);
            }
        }
        if (!logWhole) {
            session.Note(
                L"No settings and no uninstall entry without a whole Install.log; the journal stays, "
                L"for the uninstaller and the next run");
            return;
        }
        LoadRecordedLogHashes(session.EarlierLogHashes);
        std::wstring program = JoinPath(session.MainDir, "qrd.exe");
        bool entry = ProgramIsWhole(session, program);
        if (!entry)
            session.Note(L"No uninstall entry: the program it would start is not there whole: " + program);
        bool stored =
            SaveInstallSettings(session.MainDir, options, !entry, session.Trace, session.BytesWritten, hash);
        // The journal goes once Install.log's hash is where the uninstaller looks for it.
        if (session.Journal && stored && session.Journal->Remove()) session.Journal.reset();
    } catch (...) {
        // The records are a courtesy for the next run; never fail the installation on them.
        session.Note(L"The records could not all be written (an unexpected error)");
    }
}

void ReplaceEarlierCopies(TInstallSession& session) {
    if (!session.Finished || session.ExitCode() != kExitOk || !session.Choices ||
        session.Choices->IsPortable() || !session.Log)
        return;
    for (const std::wstring& earlier : session.EarlierCopies) {
        if (SamePath(PathWithoutSlash(earlier), PathWithoutSlash(session.MainDir))) continue;
        session.Note(L"The new installation takes the place of the one in " + earlier + L": removing it");
        TUninstallOptions options;
        options.Silent = true;
        options.ProgramPath = JoinPath(earlier, "qrd.exe");
        options.Trace = session.Trace;
        options.KeepRegistry = true;
        // Its records' hash as the entry held it before this run replaced it.
        for (const auto& [folder, hash] : session.EarlierLogHashes)
            if (options.InstallLogSHA256.empty() &&
                SamePath(PathWithoutSlash(folder), PathWithoutSlash(earlier)))
                options.InstallLogSHA256 = hash;
        // What the new installation wrote stays, the shortcuts of the same name above all.
        for (const std::string& line : session.Log->List().Lines) {
            for (const char* prefix : {kFileCopyPrefix, kMadeDirPrefix})
                if (line.rfind(prefix, 0) == 0)
                    options.Keep.push_back(Utf8ToUtf16(line.substr(std::strlen(prefix))));
        }
        TUninstallOutcome outcome = Uninstall(options);
        if (outcome.ExitCode == kUninstallDone && outcome.Problems.empty()) {
            session.Note(FolderExists(earlier) ? L"The earlier copy in " + earlier +
                                                     L" is removed; what remains is its folder, which holds "
                                                     L"files the installation did not write"
                                               : L"The earlier copy in " + earlier + L" is removed");
            continue;
        }
        std::wstring remains;
        for (const TUninstallProblem& p : outcome.Problems)
            remains += L"; " + (p.Path.empty() ? std::wstring(L"?") : p.Path) +
                       (p.Reason.empty() ? L"" : L" (" + p.Reason + L")");
        if (outcome.ExitCode == kUninstallRunningCopy)
            remains += L"; all of it (a copy of the word processor runs)";
        // The installation itself succeeded: its exit code stays.
        session.Note(L"The earlier copy in " + earlier + L" could not be removed whole; what remains" +
                     (remains.empty() ? std::wstring(L": nothing named") : L":" + remains.substr(1)));
    }
}
