#include "Files.h"
#include "RunLog.h"
#include "DosTime.h"
#include "InstallLog.h"
#include "Paths.h"
#include "Security.h"
#include "TextConv.h"
#include "WinHandles.h"
#include <algorithm>
#include <vector>

bool FolderExists(const std::wstring& path) {
    // Asked of the folder itself rather than by entering it as the current folder,
    // which costs a round trip per call on some systems and changes process state.
    std::wstring wanted(path);
    PathWithSlash(wanted);
    bool drive = wanted.size() >= 3 && wanted[1] == L':' && wanted[2] == L'\\';
    bool share = wanted.size() >= 3 && wanted[0] == L'\\' && wanted[1] == L'\\';
    if (!drive && !share) return false; // a relative path names no particular folder
    // A folder this process may not read still exists: making it again could not
    // help, and a write into it reports its own failure.
    DWORD attributes = GetFileAttributesW(wanted.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {
// Attributes and times of the named item itself: no wildcard meaning for "*" or "?".
bool ItemData(const std::wstring& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    return !path.empty() && GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
}
} // namespace

bool FileIsPresent(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    return ItemData(path, data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

double NowDateTime() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    DateTimeParts p{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
    double dt = 0.0;
    EncodeDateTime(p, dt);
    return dt;
}

double FileDateOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!ItemData(path, data)) return NowDateTime();
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) ||
        !FileTimeToDosDateTime(&local, &date, &time))
        return NowDateTime();
    return DosTimeToDateTime((static_cast<std::uint32_t>(date) << 16) | time);
}

void MakeFolderChain(const std::wstring& folder, TInstallLog* log, TRunLog* trace, void* attributes) {
    if (folder.empty() || FolderExists(folder)) return;
    std::wstring parent = FolderPartOf(PathWithoutSlash(folder));
    if (parent.size() < folder.size()) MakeFolderChain(parent, log, trace, attributes);
    // Recorded before it is made: a kill in between leaves no folder unrecorded.
    AddLogLine(log, kMadeDirPrefix + Utf16ToUtf8(folder));
    // Made with its permissions at once: nobody else can put anything in it first.
    if (CreateDirectoryW(folder.c_str(), static_cast<SECURITY_ATTRIBUTES*>(attributes))) {
        if (trace) trace->Line(L"Made folder: " + folder);
    } else if (trace) {
        trace->Failure(L"Could not make folder " + folder, GetLastError());
    }
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    // A link in its place would send the bytes wherever it points.
    if (IsLinkedFile(path)) {
        SetLastError(LinkRefusedError());
        return false;
    }
    std::wstring partial = PartialNameOf(path);
    RemoveFileItself(partial);
    UniqueHandle f(CreateFileW(partial.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!f.valid()) return false;
    DWORD written = 0, error = 0;
    if (!bytes.empty() &&
        !WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        error = GetLastError();
    // A write that reports success with fewer bytes lost the rest just the same.
    else if (written != bytes.size())
        error = ERROR_HANDLE_DISK_FULL;
    // An earlier file is replaced only by one that is on the disk.
    else if (FileIsPresent(path) && !FlushFileBuffers(f.get()))
        error = GetLastError();
    f.reset();
    if (!error &&
        !MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = GetLastError();
    if (!error) return true;
    DeleteFileW(partial.c_str());
    SetLastError(error);
    return false;
}

std::wstring PartialNameOf(const std::wstring& target) {
    return target + L".norvanta-new";
}

bool DeleteThroughHandle(FileHandle file) {
    FILE_DISPOSITION_INFO info{TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof info) != FALSE;
}

bool RemoveFileItself(const std::wstring& path) {
    // Opened as the link it may be, never through it; removed through that handle,
    // so that nothing put at the name meanwhile is removed instead.
    UniqueHandle f(CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!f.valid()) {
        DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (DeleteThroughHandle(f.get())) return true;
    DWORD error = GetLastError();
    f.reset();
    SetLastError(error);
    return false;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
    bytes.clear();
    UniqueHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f.valid()) return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(f.get(), &size) || size.QuadPart > 0x7FFFFFFF) return false;
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!ReadFile(f.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &got, nullptr) ||
            got == 0) {
            bytes.resize(done);
            return false;
        }
        done += got;
    }
    return true;
}

void SetFileDate(FileHandle file, std::uint32_t dosTime) {
    FILETIME local, utc;
    if (!DosDateTimeToFileTime(static_cast<WORD>(dosTime >> 16), static_cast<WORD>(dosTime & 0xFFFF), &local))
        return;
    if (!LocalFileTimeToFileTime(&local, &utc)) return;
    SetFileTime(static_cast<HANDLE>(file), nullptr, nullptr, &utc);
}

bool LoadListFromFile(TStringList& list, const std::wstring& path) {
    std::string bytes;
    bool ok = ReadWholeFile(path, bytes);
    if (!bytes.empty() || ok) list.SetText(bytes.data(), bytes.size());
    return ok;
}

bool SaveListToFile(const TStringList& list, const std::wstring& path) {
    std::string bytes = list.Text();
    UniqueHandle f(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f.valid()) return false;
    DWORD written = 0;
    if (bytes.empty()) return true;
    return WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

namespace {
class TFileSource : public TLogSource {
public:
    explicit TFileSource(HANDLE file) : file_(file) {}
    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override {
        got = 0;
        if (!file_) return true; // no earlier file
        DWORD n = 0;
        if (!ReadFile(file_, buffer, static_cast<DWORD>(std::min<std::size_t>(capacity, 1u << 30)), &n,
                      nullptr))
            return false;
        got = n;
        return true;
    }

private:
    HANDLE file_;
};

// Writes in large pieces; the size and the cut are 64-bit, for logs over 4 GiB.
class TFileSink : public TLogSink {
public:
    explicit TFileSink(HANDLE file) : file_(file) { buffer_.reserve(kPiece); }
    bool Write(const char* bytes, std::size_t length) override {
        if (buffer_.size() + length > kPiece && !Flush()) return false;
        if (length >= kPiece) return Put(bytes, length);
        buffer_.append(bytes, length);
        return true;
    }
    bool Truncate(std::uint64_t size) override {
        if (size >= flushed_) {
            if (size - flushed_ < buffer_.size()) buffer_.resize(static_cast<std::size_t>(size - flushed_));
            return true;
        }
        buffer_.clear();
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(size);
        if (!SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) || !SetEndOfFile(file_)) return false;
        flushed_ = size;
        return true;
    }
    bool Flush() {
        bool ok = Put(buffer_.data(), buffer_.size());
        buffer_.clear();
        return ok;
    }

private:
    static constexpr std::size_t kPiece = 256 * 1024;
    bool Put(const char* bytes, std::size_t length) {
        while (length > 0) {
            DWORD n = static_cast<DWORD>(std::min<std::size_t>(length, 1u << 30)), written = 0;
            // A write that reports success with fewer bytes lost the rest just the same.
            if (!WriteFile(file_, bytes, n, &written, nullptr) || written != n) return false;
            bytes += n;
            length -= n;
            flushed_ += n;
        }
        return true;
    }
    HANDLE file_;
    std::string buffer_;
    std::uint64_t flushed_ = 0;
};

// A name beside the file that nothing holds yet, created empty.
UniqueHandle CreateNewBeside(const std::wstring& path, std::wstring& name) {
    for (int i = 0; i < 100; ++i) {
        name = path + L".new" + (i ? DecimalW(i) : std::wstring());
        UniqueHandle h(
            CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (h.valid() || GetLastError() != ERROR_FILE_EXISTS) return h;
    }
    return UniqueHandle();
}
} // namespace

bool RewriteFile(const std::wstring& path, const TRewrite& rewrite, const std::function<void()>& beforeMove) {
    // Nobody may write it while it is read; a reader elsewhere may stay.
    // A link in its place is not read: its lines are someone else's. The new
    // file takes the link's place, not its target's.
    UniqueHandle earlier;
    if (!IsLinkedFile(path)) {
        earlier.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!earlier.valid() && GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    }
    std::wstring temporary;
    UniqueHandle made = CreateNewBeside(path, temporary);
    if (!made.valid()) return false;
    TFileSource source(earlier.valid() ? earlier.get() : nullptr);
    TFileSink sink(made.get());
    bool ok = false;
    try {
        // On the disk before it takes the earlier file's place, which a power cut
        // must not leave empty. A first file has nothing to lose, and its flush
        // would wait for every payload byte just written (a fifth of a second at 100 MB).
        ok = rewrite(source, sink) && sink.Flush() && (!earlier.valid() || FlushFileBuffers(made.get()));
    } catch (...) {
        made.reset();
        DeleteFileW(temporary.c_str()); // nothing half-written stays behind
        throw;
    }
    DWORD error = ok ? 0 : GetLastError();
    made.reset();
    earlier.reset();
    if (ok && beforeMove) beforeMove();
    if (ok &&
        !MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        error = GetLastError();
    }
    if (!ok) {
        DeleteFileW(temporary.c_str());
        SetLastError(error);
    }
    return ok;
}
