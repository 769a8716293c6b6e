#include "InstallRecords.h"
#include "Files.h"
#include "Paths.h"
#include "RunLog.h"
#include "TextConv.h"
#include <algorithm>
#include <windows.h>

namespace {
constexpr REGSAM kView = KEY_WOW64_32KEY; // where the 32-bit setup writes, whatever the reader's build
// Longer than any path the setup writes (32767 UTF-16 units of up to 3 bytes each).
constexpr std::size_t kLineWindow = 3 * 32767 + 64;
constexpr std::size_t kPiece = 256 * 1024;

std::wstring Folded(const std::wstring& path) {
    return PathWithoutSlash(path);
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && !b.empty() && SamePath(Folded(a), Folded(b));
}

bool ReadValue(HKEY root, const wchar_t* key, const wchar_t* name, std::string& bytes, DWORD& type) {
    HKEY k;
    if (!key || RegOpenKeyExW(root, key, 0, kView | KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    LONG r = RegQueryValueExW(k, name, nullptr, &type, nullptr, &size);
    if (r == ERROR_SUCCESS) {
        bytes.assign(size, '\0');
        r = RegQueryValueExW(k, name, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size);
        bytes.resize(std::min<std::size_t>(size, bytes.size()));
    }
    RegCloseKey(k);
    return r == ERROR_SUCCESS;
}

std::wstring ReadText(HKEY root, const wchar_t* key, const wchar_t* name) {
    std::string bytes;
    DWORD type = 0;
    if (!ReadValue(root, key, name, bytes, type) || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

LONG PutText(HKEY key, const wchar_t* name, const std::wstring& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::wstring Wide(const char* name) {
    return Utf8ToUtf16(name);
}

std::string Hex(const TSha256& hash) {
    TSha256 copy = hash;
    return TSha256::Hex(copy.Finish());
}

// A file's bytes from its start, up to a limit.
class THandleSource : public TLogSource {
public:
    THandleSource(HANDLE file, std::uint64_t limit) : file_(file), left_(limit) {}
    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override {
        got = 0;
        DWORD n = 0;
        DWORD want = static_cast<DWORD>(std::min<std::uint64_t>({capacity, left_, 1u << 30}));
        if (want && !ReadFile(file_, buffer, want, &n, nullptr)) return false;
        got = n;
        left_ -= n;
        return true;
    }

private:
    HANDLE file_;
    std::uint64_t left_;
};

bool Rewind(HANDLE file) {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(file, zero, nullptr, FILE_BEGIN);
}

UniqueHandle OpenRecord(const std::wstring& path) {
    // Read by others, written by nobody while it is followed.
    return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

bool Absent(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The whole file's hash, streamed.
bool HashOf(HANDLE file, std::string& hex) {
    if (!Rewind(file)) return false;
    std::string buffer(kPiece, '\0');
    TSha256 hash;
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr)) return false;
        if (n == 0) break;
        hash.Add(buffer.data(), n);
    }
    hex = TSha256::Hex(hash.Finish());
    return true;
}

// The longest start of the journal, ending at a line's end, whose hash is one of
// the key's two: what a kill in the middle of an append leaves after it is cut off.
bool TrustedStart(HANDLE file, TJournalState& state) {
    if (!Rewind(file)) return false;
    std::string buffer(kPiece, '\0');
    TSha256 hash;
    std::uint64_t at = 0;
    std::size_t lines = 0;
    auto check = [&] {
        std::string hex = Hex(hash);
        if (hex == state.Key.With || hex == state.Key.Without) {
            state.FileTrusted = true;
            state.Length = at;
            state.FileLines = lines;
            state.Hash = hash;
            state.HashHex = hex;
        }
    };
    check();
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr)) return false;
        if (n == 0) break;
        const char* p = buffer.data();
        const char* end = p + n;
        while (p < end) {
            const char* nl = std::find(p, end, '\n');
            const char* stop = nl < end ? nl + 1 : end;
            hash.Add(p, static_cast<std::size_t>(stop - p));
            at += static_cast<std::uint64_t>(stop - p);
            if (nl < end) {
                ++lines;
                check();
            }
            p = stop;
        }
    }
    return true;
}

bool VisitLines(TLogSource& source, const TLineVisit& visit) {
    TLineReader reader(source, kLineWindow);
    while (reader.Next()) visit(reader.Head(), reader.Whole());
    return !reader.Failed();
}

// Deletes the key, then its parent if nothing else is in it.
LONG DeleteKeyAndEmptyParent(HKEY root) {
    LONG r = RegDeleteKeyExW(root, kJournalKeyWide, kView, 0);
    HKEY parent;
    if (RegOpenKeyExW(root, kSettingsParentWide, 0, kView | KEY_QUERY_VALUE, &parent) == ERROR_SUCCESS) {
        DWORD keys = 1, values = 1;
        LONG q = RegQueryInfoKeyW(parent, nullptr, nullptr, nullptr, &keys, nullptr, nullptr, &values,
                                  nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(parent);
        if (q == ERROR_SUCCESS && keys == 0 && values == 0)
            RegDeleteKeyExW(root, kSettingsParentWide, kView, 0);
    }
    return r == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : r;
}

TJournalKey ReadKeyIn(HKEY root) {
    TJournalKey key;
    HKEY k;
    if (RegOpenKeyExW(root, kJournalKeyWide, 0, kView | KEY_QUERY_VALUE, &k) != ERROR_SUCCESS) return key;
    RegCloseKey(k);
    key.Present = true;
    key.Folder = ReadText(root, kJournalKeyWide, L"Folder");
    std::string hashes = Utf16ToUtf8(ReadText(root, kJournalKeyWide, L"SHA256"));
    std::size_t space = hashes.find(' ');
    key.With = hashes.substr(0, space);
    key.Without = space == std::string::npos ? std::string() : hashes.substr(space + 1);
    key.LogHash = Utf16ToUtf8(ReadText(root, kJournalKeyWide, L"LogSHA256"));
    DWORD type = 0;
    if (!ReadValue(root, kJournalKeyWide, L"Lines", key.Early, type) || type != REG_BINARY) key.Early.clear();
    return key;
}
} // namespace

TJournalKey ReadJournalKey() {
    TJournalKey key = ReadKeyIn(HKEY_LOCAL_MACHINE);
    return key.Present ? key : ReadKeyIn(HKEY_CURRENT_USER);
}

bool ReadJournal(const std::wstring& folder, TJournalState& state, const TLineVisit& visit) {
    state = TJournalState();
    state.Key = ReadJournalKey();
    if (!SameFolder(state.Key.Folder, folder)) state.Key = TJournalKey();
    UniqueHandle file = OpenRecord(JoinPath(folder, kJournalName));
    if (!file.valid() && !Absent(GetLastError())) return false;
    state.FilePresent = file.valid();
    if (!state.Key.Present) return true; // nobody vouches for a journal without its key
    TMemoryLogSource early(state.Key.Early.data(), state.Key.Early.size());
    VisitLines(early, visit);
    if (!file.valid()) return true;
    if (!TrustedStart(file.get(), state) || !Rewind(file.get())) return false;
    if (!state.FileTrusted) return true;
    THandleSource source(file.get(), state.Length);
    return VisitLines(source, visit);
}

TJournal::TJournal(const std::wstring& folder, const TJournalState& state,
                   const std::vector<std::string>& folded, TRunLog* trace)
    : folder_(folder), path_(JoinPath(folder, kJournalName)), trace_(trace) {
    TJournalKey other = ReadJournalKey();
    if (other.Present && !SameFolder(other.Folder, folder)) {
        if (trace_)
            trace_->Line(L"The journal key of an unfinished installation in " + other.Folder +
                         L" is replaced by this one's");
        DeleteJournalKey(other.Folder);
    }
    if (state.FileTrusted && state.FileLines == folded.size()) {
        // Appended to where its trusted part ends (a line cut by a kill goes).
        file_.reset(CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(state.Length);
        if (file_.valid() && SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN) &&
            SetEndOfFile(file_.get())) {
            hash_ = state.Hash;
            hex_ = state.HashHex;
            return;
        }
        file_.reset();
    }
    // Started again from the folded lines, which the key holds until the file has them.
    RemoveFileItself(path_);
    for (const std::string& line : folded) early_ += line + "\r\n";
    hash_.Add(early_.data(), early_.size());
    hex_ = Hex(hash_);
    if (!early_.empty()) Key(hex_ + " " + hex_, &early_);
}

TJournal::~TJournal() {
    if (key_) RegCloseKey(key_);
}

void TJournal::Broken(const std::wstring& what, unsigned long error) {
    if (!broken_ && trace_) trace_->Failure(what + L" (the lines still go to Install.log at the end)", error);
    broken_ = true;
}

bool TJournal::Key(const std::string& hashes, const std::string* early) {
    if (!key_) {
        // The machine's key, which only administrators change; the user's when it is refused.
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            if (RegCreateKeyExW(root, kJournalKeyWide, 0, nullptr, 0, kView | KEY_SET_VALUE | KEY_QUERY_VALUE,
                                nullptr, &key_, nullptr) == ERROR_SUCCESS)
                break;
            else
                key_ = nullptr;
        if (!key_) {
            Broken(L"Could not create the journal key", GetLastError());
            return false;
        }
        PutText(key_, L"Folder", folder_);
    }
    LONG r = hashes.empty() ? ERROR_SUCCESS : PutText(key_, L"SHA256", Utf8ToUtf16(hashes));
    if (r == ERROR_SUCCESS && early)
        r = RegSetValueExW(key_, L"Lines", 0, REG_BINARY, reinterpret_cast<const BYTE*>(early->data()),
                           static_cast<DWORD>(early->size()));
    if (r != ERROR_SUCCESS) Broken(L"Could not write the journal key", static_cast<unsigned long>(r));
    return r == ERROR_SUCCESS;
}

void TJournal::Record(const std::string& line) {
    if (broken_) return;
    std::string add = line + "\r\n";
    TSha256 with = hash_;
    with.Add(add.data(), add.size());
    std::string withHex = TSha256::Hex(with.Finish());
    if (!file_.valid() && FolderExists(folder_)) {
        file_.reset(CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_.valid()) return Broken(L"Could not make the journal " + path_, GetLastError());
    }
    if (!file_.valid()) {
        // No folder for it yet: the key holds the lines until it is made.
        std::string early = early_ + add;
        if (!Key(withHex + " " + hex_, &early)) return;
        early_ = std::move(early);
    } else {
        if (!Key(withHex + " " + hex_, nullptr)) return;
        std::string bytes = early_ + add;
        DWORD written = 0;
        if (!WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written != bytes.size())
            return Broken(L"Could not write the journal " + path_, GetLastError());
        early_.clear();
    }
    hash_.Add(add.data(), add.size());
    hex_ = withHex;
}

void TJournal::PendingLogHash(const std::string& hex) {
    if (!key_ && !Key(std::string(), nullptr)) return;
    LONG r = PutText(key_, L"LogSHA256", Utf8ToUtf16(hex));
    if (r != ERROR_SUCCESS && trace_)
        trace_->Failure(L"Could not write Install.log's hash to the journal key",
                        static_cast<unsigned long>(r));
}

bool TJournal::Remove() {
    file_.reset();
    if (!RemoveFileItself(path_)) {
        if (trace_)
            trace_->Failure(L"Could not remove the journal " + path_ + L"; its key stays", GetLastError());
        return false;
    }
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
    LONG r = DeleteJournalKey(folder_);
    if (r != ERROR_SUCCESS && trace_)
        trace_->Failure(L"Could not remove the journal key", static_cast<unsigned long>(r));
    return r == ERROR_SUCCESS;
}

long DeleteJournalKey(const std::wstring& folder) {
    LONG result = ERROR_SUCCESS;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
        if (SameFolder(ReadKeyIn(root).Folder, folder))
            if (LONG r = DeleteKeyAndEmptyParent(root)) result = r;
    return result;
}

TRecordsReader::TRecordsReader(const std::wstring& folder, const TLogHashPlaces& places)
    : folder_(folder), logPath_(JoinPath(folder, "Install.log")),
      journalPath_(JoinPath(folder, kJournalName)), places_(places) {}

namespace {
// Install.log's hash as recorded for this folder, in each place that has one.
std::vector<std::string> RecordedLogHashes(const std::wstring& folder, const TLogHashPlaces& places,
                                           const TJournalKey& journal) {
    std::vector<std::string> hashes = places.Known;
    std::wstring name = Wide(kLogHashValue);
    if (SameFolder(ReadText(HKEY_LOCAL_MACHINE, places.UninstallKey, L"InstallLocation"), folder))
        hashes.push_back(Utf16ToUtf8(ReadText(HKEY_LOCAL_MACHINE, places.UninstallKey, name.c_str())));
    if (SameFolder(ReadText(HKEY_CURRENT_USER, places.SettingsKey, L"MAINDIR"), folder))
        hashes.push_back(Utf16ToUtf8(ReadText(HKEY_CURRENT_USER, places.SettingsKey, name.c_str())));
    hashes.push_back(journal.LogHash);
    hashes.erase(std::remove(hashes.begin(), hashes.end(), std::string()), hashes.end());
    return hashes;
}
} // namespace

bool TRecordsReader::Check(std::wstring& why, unsigned long& error) {
    error = 0;
    journal_ = TJournalState();
    journal_.Key = ReadJournalKey();
    if (!SameFolder(journal_.Key.Folder, folder_)) journal_.Key = TJournalKey();
    log_ = OpenRecord(logPath_);
    if (!log_.valid() && !Absent(GetLastError())) {
        error = GetLastError();
        why = L"Install.log could not be read";
        return false;
    }
    if (log_.valid()) {
        std::string hex;
        if (!HashOf(log_.get(), hex)) {
            error = GetLastError();
            why = L"Install.log could not be read";
            return false;
        }
        std::vector<std::string> recorded = RecordedLogHashes(folder_, places_, journal_.Key);
        // An installation older than the hash recorded none: its log is followed as before.
        if (!recorded.empty() && std::find(recorded.begin(), recorded.end(), hex) == recorded.end()) {
            changed_ = true;
            changedPath_ = logPath_;
            why = L"Install.log was changed after the setup wrote it";
            return false;
        }
    }
    journalFile_ = OpenRecord(journalPath_);
    if (!journalFile_.valid() && !Absent(GetLastError())) {
        error = GetLastError();
        why = L"the journal " + journalPath_ + L" could not be read";
        return false;
    }
    journal_.FilePresent = journalFile_.valid();
    if (!journalFile_.valid() || !journal_.Key.Present)
        return true; // a journal nobody vouches for is not followed
    if (!TrustedStart(journalFile_.get(), journal_)) {
        error = GetLastError();
        why = L"the journal " + journalPath_ + L" could not be read";
        return false;
    }
    if (!journal_.FileTrusted) {
        changed_ = true;
        changedPath_ = journalPath_;
        why = L"the journal " + journalPath_ + L" was changed after the setup wrote it";
        return false;
    }
    return true;
}

bool TRecordsReader::ForEachLine(const TLineVisit& visit) {
    if (log_.valid()) {
        if (!Rewind(log_.get())) return false;
        THandleSource source(log_.get(), UINT64_MAX);
        if (!VisitLines(source, visit)) return false;
    }
    if (!journal_.Key.Present) return true;
    TMemoryLogSource early(journal_.Key.Early.data(), journal_.Key.Early.size());
    VisitLines(early, visit);
    if (!journalFile_.valid() || !journal_.FileTrusted || !Rewind(journalFile_.get()))
        return !journalFile_.valid();
    THandleSource source(journalFile_.get(), journal_.Length);
    return VisitLines(source, visit);
}

void UpdateLogHash(const std::wstring& folder, const TLogHashPlaces& places, const std::string& hex) {
    std::wstring name = Wide(kLogHashValue), value = Utf8ToUtf16(hex);
    auto update = [&](HKEY root, const wchar_t* key, const wchar_t* folderValue, const wchar_t* hashValue,
                      bool pending = false) {
        if (!key || !SameFolder(ReadText(root, key, folderValue), folder)) return;
        HKEY k;
        if (RegOpenKeyExW(root, key, 0, kView | KEY_QUERY_VALUE | KEY_SET_VALUE, &k) != ERROR_SUCCESS) return;
        if (pending || RegQueryValueExW(k, hashValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
            PutText(k, hashValue, value);
        RegCloseKey(k);
    };
    update(HKEY_LOCAL_MACHINE, places.UninstallKey, L"InstallLocation", name.c_str());
    update(HKEY_CURRENT_USER, places.SettingsKey, L"MAINDIR", name.c_str());
    update(HKEY_LOCAL_MACHINE, kJournalKeyWide, L"Folder", L"LogSHA256", true);
    update(HKEY_CURRENT_USER, kJournalKeyWide, L"Folder", L"LogSHA256", true);
}

std::string FileSha256(const std::wstring& path) {
    UniqueHandle file = OpenRecord(path);
    std::string hex;
    if (!file.valid() || !HashOf(file.get(), hex)) return std::string();
    return hex;
}
