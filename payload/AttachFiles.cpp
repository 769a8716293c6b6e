#include "AttachFiles.h"
#include "DosTime.h"
#include "Files.h"
#include "Paths.h"
#include "TextConv.h"
#include "WinHandles.h"
#include <windows.h>

namespace {
// One block of compressed bytes per read while they are checked.
constexpr std::size_t kCheckBlock = 1 << 20;

bool WriteWithWindows(void* file, const void* data, std::uint32_t size, std::uint32_t& written) {
    DWORD n = 0;
    BOOL ok = WriteFile(static_cast<HANDLE>(file), data, size, &n, nullptr);
    written = n;
    return ok != FALSE;
}

// A span of an open file, read in order.
class TFileSpanSource : public TByteSource {
public:
    TFileSpanSource(UniqueHandle file, std::uint64_t start, std::uint64_t length)
        : file_(std::move(file)), start_(start), length_(length) {}
    std::size_t Read(void* buffer, std::size_t count) override {
        if (position_ >= length_) return 0;
        if (!placed_) {
            LARGE_INTEGER at;
            at.QuadPart = static_cast<LONGLONG>(start_ + position_);
            if (!SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN))
                throw EZlibError("The payload cannot be read from the program's file");
            placed_ = true;
        }
        DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(count, length_ - position_)), got = 0;
        if (!ReadFile(file_.get(), buffer, want, &got, nullptr) || got == 0)
            throw EZlibError("The payload cannot be read from the program's file");
        position_ += got;
        return got;
    }
    void Rewind() override {
        position_ = 0;
        placed_ = false;
    }

private:
    UniqueHandle file_;
    std::uint64_t start_, length_, position_ = 0;
    bool placed_ = false;
};

// Where the bytes of a loaded resource lie in the program's file: their place in
// the image translated through the image's own section table.
bool FileOffsetOfImageBytes(HMODULE image, const void* bytes, std::uint32_t size, std::uint64_t& offset) {
    auto* base = reinterpret_cast<const std::uint8_t*>(image);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    std::uintptr_t rva = reinterpret_cast<std::uintptr_t>(bytes) - reinterpret_cast<std::uintptr_t>(base);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        std::uintptr_t inSection = rva - section->VirtualAddress;
        if (rva < section->VirtualAddress || inSection >= section->SizeOfRawData) continue;
        if (size > section->SizeOfRawData - inSection) return false; // partly zero fill, not in the file
        offset = static_cast<std::uint64_t>(section->PointerToRawData) + inSection;
        return true;
    }
    return false;
}

// The program's own file, opened for reading, when it holds those bytes.
std::unique_ptr<TByteSource> OwnFileSpan(HMODULE self, const void* bytes, std::uint32_t size) {
    std::uint64_t offset = 0;
    if (!FileOffsetOfImageBytes(self, bytes, size, offset)) return nullptr;
    std::wstring path(MAX_PATH, L'\0');
    DWORD n;
    while ((n = GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()))) >= path.size()) {
        if (path.size() >= 32768) return nullptr;
        path.resize(path.size() * 2); // a long path: the name was cut
    }
    if (n == 0) return nullptr;
    path.resize(n);
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER length;
    if (!file.valid() || !GetFileSizeEx(file.get(), &length) ||
        static_cast<std::uint64_t>(length.QuadPart) < offset + size)
        return nullptr;
    return std::make_unique<TFileSpanSource>(std::move(file), offset, size);
}

std::uint32_t CheckOf(TByteSource& source, std::uint8_t* block, std::size_t blockSize) {
    source.Rewind();
    std::uint32_t check = 1;
    while (std::size_t n = source.Read(block, blockSize)) check = Adler32(check, block, n);
    source.Rewind();
    return check;
}
} // namespace

WriteFileFn PayloadWriteFile = WriteWithWindows;
// A thread costs Wine 1.5 to 6 ms and 1 MB of working set: below this the
// inflating it would hide is worth less than that (at 4 MB it saves 3 ms).
std::uint64_t InflateAheadFrom = 2u << 20;

TAttachedFiles::TAttachedFiles() {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC res = FindResourceA(self, "FILES", "FILES");
    if (!res) throw EResNotFound("The program carries no payload (resource FILES of type FILES is missing)");
    DWORD size = SizeofResource(self, res);
    HGLOBAL loaded = LoadResource(self, res);
    // Only its address is taken: the bytes are read from the file.
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) throw EResNotFound("The payload resource FILES cannot be loaded");
    source_ = OwnFileSpan(self, bytes, size);
    // A program whose file cannot be read (or does not hold the bytes where the
    // image says) is still installed, from its mapped image.
    if (!source_) source_ = std::make_unique<TMemorySource>(bytes, size);
    compressedLength_ = size;
    const void* index = nullptr;
    std::size_t indexLength = 0;
    if (HRSRC ir = FindResourceA(self, "INDEX", "FILES")) {
        HGLOBAL il = LoadResource(self, ir);
        index = il ? LockResource(il) : nullptr;
        indexLength = index ? SizeofResource(self, ir) : 0;
    }
    Load(index, indexLength);
}

TAttachedFiles::TAttachedFiles(const void* compressed, std::uint32_t length, const void* index,
                               std::size_t indexLength)
    : copy_(static_cast<const std::uint8_t*>(compressed),
            static_cast<const std::uint8_t*>(compressed) + length),
      source_(std::make_unique<TMemorySource>(copy_.data(), copy_.size())), compressedLength_(length) {
    Load(index, indexLength);
}

TAttachedFiles::~TAttachedFiles() = default;

void TAttachedFiles::Damaged(const std::string& what) const {
    throw EArchiveError("Damaged payload archive (" + std::to_string(compressedLength_) +
                        " compressed bytes): " + what);
}

void TAttachedFiles::Load(const void* index, std::size_t indexLength) {
    // Not zero-filled: only the pages that a payload this size needs are touched.
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[kCheckBlock]);
    inflater_ = std::make_unique<TStreamInflater>(*source_);
    std::vector<ArchiveRecord> records;
    ArchiveIndex listed;
    try {
        // The index counts only when it is whole and made for exactly these
        // bytes; checking their Adler-32 costs a read, not an inflate. Any other
        // index is no index: the archive itself is read, as a reader without
        // one reads it, and a damaged archive is found there.
        indexUsed_ = index && DecodeIndex(static_cast<const std::uint8_t*>(index), indexLength, listed) &&
                     listed.CompressedLength == compressedLength_ &&
                     CheckOf(*source_, block.get(), kCheckBlock) == listed.CompressedCheck;
        if (indexUsed_) {
            records = std::move(listed.Records);
        } else {
            std::uint64_t length = 0;
            records = ScanArchive(*inflater_, length);
        }
    } catch (const EZlibError& e) {
        Damaged(e.Message());
    }
    inflater_->Restart();
    std::uint64_t inflated = records.empty() ? 0 : records.back().DataOffset() + records.back().Size;
    ahead_ = std::make_unique<TInflateAhead>(*inflater_, inflated >= InflateAheadFrom);
    for (const ArchiveRecord& r : records) {
        auto f = std::make_unique<TAttachedFile>();
        f->Name = Utf8ToUtf16(r.Name);
        f->Size = r.Size;
        f->DateTime = r.DateTime;
        f->Offset = r.DataOffset();
        Files.push_back(std::move(f));
    }
}

void TAttachedFiles::SeekTo(std::uint64_t offset) {
    try {
        // Entries are written in archive order: going back happens only for a
        // retried file or a payload packed in another order.
        if (ahead_->Position() > offset) ahead_->Restart();
        std::uint64_t distance = offset - ahead_->Position();
        if (ahead_->Skip(distance) != distance) Damaged("an entry lies beyond the end of the data");
    } catch (const EZlibError& e) {
        Damaged(e.Message());
    }
}

std::size_t TAttachedFiles::TakeSome(const std::uint8_t*& bytes, std::uint64_t left) {
    std::size_t n = 0;
    try {
        n = ahead_->Take(bytes,
                         static_cast<std::size_t>(std::min<std::uint64_t>(left, TInflateAhead::kBlock)));
    } catch (const EZlibError& e) {
        Damaged(e.Message());
    }
    if (n == 0) Damaged("an entry runs past the end of the data");
    return n;
}

std::string TAttachedFiles::ReadEntry(const TAttachedFile& entry) {
    SeekTo(entry.Offset);
    std::string bytes;
    bytes.reserve(entry.Size);
    for (std::uint64_t left = entry.Size; left > 0;) {
        const std::uint8_t* some = nullptr;
        std::size_t n = TakeSome(some, left);
        bytes.append(reinterpret_cast<const char*>(some), n);
        left -= n;
    }
    return bytes;
}

std::uint64_t TAttachedFiles::SelectedBytes() const {
    std::uint64_t total = 0;
    for (const auto& item : ToInstall) total += item->Source->Size;
    return total;
}

// Creates the file and writes all its bytes, block by block; a write that
// reports success with fewer bytes than asked is a failure too.
bool TAttachedFiles::WriteOnce(TInstallSession& session, const TAttachedFile& entry,
                               const std::wstring& target, unsigned long& error) {
    TInstallLog* log = session.Log.get();
    MakeFolderChain(FolderPartOf(target), log, session.Trace);
    // In the journal before the file takes its place; listed once it is whole.
    session.Recording(kFileCopyPrefix + Utf16ToUtf8(target));
    UniqueHandle file(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        error = GetLastError();
        return false;
    }
    SeekTo(entry.Offset);
    for (std::uint64_t left = entry.Size; left > 0;) {
        const std::uint8_t* bytes = nullptr;
        auto n = static_cast<std::uint32_t>(TakeSome(bytes, left));
        std::uint32_t written = 0;
        if (!PayloadWriteFile(file.get(), bytes, n, written)) {
            error = GetLastError();
            return false;
        }
        if (written != n) { // success with fewer bytes: the rest was lost just the same
            error = ERROR_HANDLE_DISK_FULL;
            return false;
        }
        left -= n;
        session.CopyDone += n;
        session.ReportCopied();
    }
    SetFileDate(file.get(), DateTimeToDosTime(entry.DateTime));
    file.reset();
    AddLogLine(log, kFileCopyPrefix + Utf16ToUtf8(target));
    session.BytesWritten += entry.Size;
    session.Note(L"Wrote file: " + target + L" (" + DecimalW(entry.Size) + L" bytes)");
    return true;
}

void TAttachedFiles::SelectFiles(const TInstallSession& session, const std::string& nameUtf8,
                                 const std::wstring& folder, std::uint8_t mode) {
    std::uint8_t effective = session.OverwriteAll ? std::uint8_t(wmReplaceAlways) : mode;
    std::wstring name = Utf8ToUtf16(nameUtf8);
    bool prefix = !name.empty() && name.back() == L'\\';
    std::wstring base(folder);
    PathWithSlash(base);
    for (const auto& entry : Files) {
        if (prefix ? !StartsWithPath(entry->Name, name) : !SamePath(entry->Name, name)) continue;
        std::wstring target = base + entry->Name;
        bool add = true;
        // Why, for the run log: the rule that decided.
        const wchar_t* why = session.OverwriteAll           ? L"an installation replaces every file"
                             : effective == wmReplaceAlways ? L"replaced whatever is there"
                                                            : L"not there yet";
        if (effective != wmReplaceAlways && FileIsPresent(target)) {
            if (effective == wmKeepExisting) {
                add = false;
                why = L"already there, and a file the user may have changed is kept";
            } else if (effective == wmReplaceIfOther) {
                add = FileDateOf(target) != entry->DateTime; // both at DOS precision when unchanged
                why = add ? L"already there with another date than the payload's"
                          : L"already there with the payload's date";
            }
        }
        session.Note((add ? L"To write (" : L"Kept (") + std::wstring(why) + L"): " + target);
        if (add) {
            auto item = std::make_unique<TFileToInstall>();
            item->Source = entry.get();
            item->Target = target;
            item->Logged = !session.Log || !session.Log->Muted();
            ToInstall.push_back(std::move(item));
            if (!session.PublicRoot.empty() && StartsWithPath(target, session.PublicRoot))
                PublicFiles.Add(Utf16ToUtf8(mode == wmKeepExisting ? target + L"\t!" : target));
        }
        if (!prefix) break;
    }
}

bool TAttachedFiles::WriteEntry(TInstallSession& session, const TAttachedFile& entry,
                                const std::wstring& target) {
    const std::uint64_t before = session.CopyDone;
    for (;;) {
        unsigned long error = 0;
        if (WriteOnce(session, entry, target, error)) {
            session.CopyDone = before + entry.Size;
            session.ReportCopied();
            return true;
        }
        session.CopyDone = before;
        switch (session.CannotWrite(target, error)) {
        case TWriteFailureAnswer::Retry:
            continue;
        case TWriteFailureAnswer::Ignore:
            session.CopyDone = before + entry.Size; // skipped: counted as done
            session.ReportCopied();
            return true;
        case TWriteFailureAnswer::Abort:
            return false;
        }
        return false;
    }
}
