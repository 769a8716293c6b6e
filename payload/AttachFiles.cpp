#include "AttachFiles.h"
#include "DosTime.h"
#include "Files.h"
#include "Paths.h"
#include "SystemLibraries.h"
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

bool ReadWithWindows(void* file, void* buffer, std::uint32_t size, std::uint32_t& got) {
    DWORD n = 0;
    BOOL ok = ReadFile(static_cast<HANDLE>(file), buffer, size, &n, nullptr);
    got = n;
    return ok != FALSE;
}

// A span of an open file, read in order. A failed read is no damage: it says
// so, with the system's error, and the same bytes can be asked for again.
class TFileSpanSource : public TByteSource {
public:
    TFileSpanSource(UniqueHandle file, std::uint64_t start, std::uint64_t length)
        : file_(std::move(file)), start_(start), length_(length) {}
    std::size_t Read(void* buffer, std::size_t count) override {
        if (position_ >= length_) return 0;
        if (!placed_) {
            LARGE_INTEGER at;
            at.QuadPart = static_cast<LONGLONG>(start_ + position_);
            if (!SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN)) Failed();
            placed_ = true;
        }
        auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, length_ - position_));
        std::uint32_t got = 0;
        if (!PayloadReadFile(file_.get(), buffer, want, got)) Failed();
        if (got == 0) { // the file became shorter than the image says
            SetLastError(ERROR_HANDLE_EOF);
            Failed();
        }
        position_ += got;
        return got;
    }
    void Rewind() override {
        position_ = 0;
        placed_ = false;
    }

private:
    [[noreturn]] void Failed() {
        DWORD error = GetLastError();
        placed_ = false; // the next read places itself again
        throw EPayloadReadError("The payload cannot be read from the program's file", error);
    }
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

// The program's own file, opened for reading and shared for reading only: while
// it is held nobody can write it, rename it or put another file at its name.
// Nil with the reason when it cannot be had.
std::unique_ptr<TByteSource> OwnFileSpan(HMODULE self, const void* bytes, std::uint32_t size,
                                         std::wstring& why) {
    std::uint64_t offset = 0;
    if (!FileOffsetOfImageBytes(self, bytes, size, offset)) {
        why = L"the image does not say where the payload lies in the program's file";
        return nullptr;
    }
    std::wstring path = ModuleFilePath(self);
    if (path.empty()) {
        why = L"the program's file name cannot be had";
        return nullptr;
    }
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) {
        why = L"the program's file " + path + L" cannot be opened: " + ErrorText(GetLastError());
        return nullptr;
    }
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file.get(), &length) || static_cast<std::uint64_t>(length.QuadPart) < offset + size) {
        why = L"the program's file " + path + L" is shorter than the image says";
        return nullptr;
    }
    return std::make_unique<TFileSpanSource>(std::move(file), offset, size);
}

TSha256::Digest DigestOf(TByteSource& source, std::uint8_t* block, std::size_t blockSize) {
    TSha256 sha;
    source.Rewind();
    while (std::size_t n = source.Read(block, blockSize)) sha.Add(block, n);
    source.Rewind();
    return sha.Finish();
}
} // namespace

WriteFileFn PayloadWriteFile = WriteWithWindows;
ReadFileFn PayloadReadFile = ReadWithWindows;
// A thread costs Wine 1.5 to 6 ms and 1 MB of working set: below this the
// inflating it would hide is worth less than that (at 4 MB it saves 3 ms).
std::uint64_t InflateAheadFrom = 2u << 20;

TAttachedFiles::TAttachedFiles(TRunLog* trace) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC res = FindResourceA(self, "FILES", "FILES");
    if (!res) throw EResNotFound("The program carries no payload (resource FILES of type FILES is missing)");
    DWORD size = SizeofResource(self, res);
    HGLOBAL loaded = LoadResource(self, res);
    // Read from the file when the index proves it holds these bytes; otherwise
    // from here, the image that runs.
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) throw EResNotFound("The payload resource FILES cannot be loaded");
    std::wstring why;
    std::unique_ptr<TByteSource> file = OwnFileSpan(self, bytes, size, why);
    compressedLength_ = size;
    const void* index = nullptr;
    std::size_t indexLength = 0;
    if (HRSRC ir = FindResourceA(self, "INDEX", "FILES")) {
        HGLOBAL il = LoadResource(self, ir);
        index = il ? LockResource(il) : nullptr;
        indexLength = index ? SizeofResource(self, ir) : 0;
    }
    Load(index, indexLength, std::move(file), why, bytes, trace);
}

TAttachedFiles::TAttachedFiles(const void* compressed, std::uint32_t length, const void* index,
                               std::size_t indexLength)
    : copy_(static_cast<const std::uint8_t*>(compressed),
            static_cast<const std::uint8_t*>(compressed) + length),
      compressedLength_(length) {
    Load(index, indexLength, std::make_unique<TMemorySource>(copy_.data(), copy_.size()), std::wstring(),
         copy_.data(), nullptr);
}

TAttachedFiles::~TAttachedFiles() = default;

void TAttachedFiles::Damaged(const std::string& what) const {
    throw EArchiveError("Damaged payload archive (" + std::to_string(compressedLength_) +
                        " compressed bytes): " + what);
}

void TAttachedFiles::Load(const void* index, std::size_t indexLength, std::unique_ptr<TByteSource> file,
                          std::wstring why, const void* image, TRunLog* trace) {
    // Not zero-filled: only the pages that a payload this size needs are touched.
    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[kCheckBlock]);
    ArchiveIndex listed;
    // The file's bytes count only when the index is whole and proves exactly
    // them; its SHA-256 is checked once, here, before anything is written.
    if (!index)
        why = L"the program carries no index";
    else if (!DecodeIndex(static_cast<const std::uint8_t*>(index), indexLength, listed))
        why = L"its index does not decode";
    else if (!listed.HasProof)
        why = L"its index is of an older form, without proof";
    else if (listed.CompressedLength != compressedLength_)
        why = L"its index was made for " + DecimalW(listed.CompressedLength) + L" compressed bytes, not " +
              DecimalW(compressedLength_);
    else if (file) {
        try {
            if (DigestOf(*file, block.get(), kCheckBlock) != listed.Proof)
                why = L"the SHA-256 of the payload in the program's file is not the index's";
        } catch (const EPayloadReadError& e) {
            why = L"the program's file cannot be read: " + ErrorText(e.Error);
        }
    }
    indexUsed_ = file && why.empty();
    std::vector<ArchiveRecord> records;
    if (indexUsed_) {
        source_ = std::move(file);
        records = std::move(listed.Records);
        if (trace)
            trace->Line(L"Payload: " + DecimalW(compressedLength_) +
                        L" compressed bytes read from the program's file, their SHA-256 the index's");
    } else {
        // No byte of the file is trusted: the image is read, as a reader without an index reads it.
        held_ = std::move(file);
        source_ = std::make_unique<TMemorySource>(image, compressedLength_);
        if (trace)
            trace->Line(L"Payload: " + DecimalW(compressedLength_) +
                        L" compressed bytes read from the program's image and listed by one pass: " + why);
    }
    inflater_ = std::make_unique<TStreamInflater>(*source_);
    if (!indexUsed_) {
        try {
            std::uint64_t length = 0;
            records = ScanArchive(*inflater_, length);
        } catch (const EZlibError& e) {
            Damaged(e.Message());
        }
        inflater_->Restart();
    }
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
        // retried file or a payload packed in another order, and after a read
        // of the file failed (the inflater lost its place then).
        if (ahead_->Position() > offset || lostPlace_) ahead_->Restart();
        lostPlace_ = false;
        std::uint64_t distance = offset - ahead_->Position();
        if (ahead_->Skip(distance) != distance) Damaged("an entry lies beyond the end of the data");
    } catch (const EZlibError& e) {
        Damaged(e.Message());
    } catch (const EPayloadReadError&) {
        lostPlace_ = true;
        throw;
    }
}

std::size_t TAttachedFiles::TakeSome(const std::uint8_t*& bytes, std::uint64_t left) {
    std::size_t n = 0;
    try {
        n = ahead_->Take(bytes,
                         static_cast<std::size_t>(std::min<std::uint64_t>(left, TInflateAhead::kBlock)));
    } catch (const EZlibError& e) {
        Damaged(e.Message());
    } catch (const EPayloadReadError&) {
        lostPlace_ = true;
        throw;
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

namespace {
// The file being written beside its target: removed through its handle unless
// it was made whole.
struct TPartialFile {
    UniqueHandle handle;
    ~TPartialFile() {
        if (handle.valid()) DeleteThroughHandle(handle.get());
    }
};
} // namespace

// Writes all the bytes to the partial file beside the target, block by block,
// dates it and puts it in the target's place; a write that reports success
// with fewer bytes than asked is a failure too. Whatever fails, the partial
// file goes and the target stays as it was.
bool TAttachedFiles::WriteOnce(TInstallSession& session, const TAttachedFile& entry,
                               const std::wstring& target, unsigned long& error) {
    TInstallLog* log = session.Log.get();
    MakeFolderChain(FolderPartOf(target), log, session.Trace);
    const std::wstring partial = PartialNameOf(target);
    {
        // A target in use (held open without leave to replace it) is found before
        // its bytes are written beside it; one taken meanwhile fails at the move.
        UniqueHandle inUse(CreateFileW(target.c_str(), DELETE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        DWORD why = inUse.valid() ? ERROR_SUCCESS : GetLastError();
        if (why != ERROR_SUCCESS && why != ERROR_FILE_NOT_FOUND && why != ERROR_PATH_NOT_FOUND) {
            error = why;
            return false;
        }
    }
    // In the journal before anything is written for it (a kill leaves at most the
    // partial file beside it, which goes with it); listed once it is in place.
    session.Recording(kFileCopyPrefix + Utf16ToUtf8(target));
    TPartialFile file;
    if (RemoveFileItself(partial))
        file.handle.reset(CreateFileW(partial.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.handle.valid()) {
        error = GetLastError();
        return false;
    }
    try {
        SeekTo(entry.Offset);
        for (std::uint64_t left = entry.Size; left > 0;) {
            const std::uint8_t* bytes = nullptr;
            auto n = static_cast<std::uint32_t>(TakeSome(bytes, left));
            std::uint32_t written = 0;
            if (!PayloadWriteFile(file.handle.get(), bytes, n, written)) {
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
    } catch (const EPayloadReadError& e) {
        session.NoteFailure(L"The payload could not be read from the program's file while " + target +
                                L" was written",
                            e.Error);
        error = e.Error;
        return false;
    }
    SetFileDate(file.handle.get(), DateTimeToDosTime(entry.DateTime));
    file.handle = UniqueHandle(); // closed whole: from here a failure removes it by name
    if (!MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        error = GetLastError();
        RemoveFileItself(partial);
        return false;
    }
    AddLogLine(log, kFileCopyPrefix + Utf16ToUtf8(target));
    session.BytesWritten += entry.Size;
    session.Note(L"Wrote file: " + target + L" (" + DecimalW(entry.Size) + L" bytes)");
    return true;
}

void TAttachedFiles::Match(const std::string& nameUtf8, const std::wstring& folder, std::uint8_t mode,
                           bool overwriteAll, const TMatchFn& found) const {
    std::uint8_t effective = overwriteAll ? std::uint8_t(wmReplaceAlways) : mode;
    std::wstring name = Utf8ToUtf16(nameUtf8);
    bool prefix = !name.empty() && name.back() == L'\\';
    std::wstring base(folder);
    PathWithSlash(base);
    for (const auto& entry : Files) {
        if (prefix ? !StartsWithPath(entry->Name, name) : !SamePath(entry->Name, name)) continue;
        std::wstring target = base + entry->Name;
        bool add = true;
        // Why, for the run log: the rule that decided.
        const wchar_t* why = overwriteAll                   ? L"an installation replaces every file"
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
        found(*entry, target, add, why);
        if (!prefix) break;
    }
}

std::uint64_t TAttachedFiles::WouldWrite(const std::string& nameUtf8, const std::wstring& folder,
                                         std::uint8_t mode, bool overwriteAll,
                                         const std::function<std::uint64_t(std::uint32_t)>& size) const {
    std::uint64_t total = 0;
    Match(nameUtf8, folder, mode, overwriteAll,
          [&](const TAttachedFile& entry, const std::wstring&, bool add, const wchar_t*) {
              if (add) total += size(entry.Size);
          });
    return total;
}

void TAttachedFiles::SelectFiles(const TInstallSession& session, const std::string& nameUtf8,
                                 const std::wstring& folder, std::uint8_t mode) {
    Match(nameUtf8, folder, mode, session.OverwriteAll,
          [&](const TAttachedFile& entry, const std::wstring& target, bool add, const wchar_t* why) {
              // What a run that ended in the middle left beside it, kept file or not.
              std::wstring partial = PartialNameOf(target);
              if (FileIsPresent(partial) && RemoveFileItself(partial))
                  session.Note(L"Removed what an unfinished run left: " + partial);
              session.Note((add ? L"To write (" : L"Kept (") + std::wstring(why) + L"): " + target);
              if (!add) return;
              auto item = std::make_unique<TFileToInstall>();
              item->Source = const_cast<TAttachedFile*>(&entry);
              item->Target = target;
              item->Logged = !session.Log || !session.Log->Muted();
              ToInstall.push_back(std::move(item));
              if (!session.PublicRoot.empty() && StartsWithPath(target, session.PublicRoot))
                  PublicFiles.Add(Utf16ToUtf8(mode == wmKeepExisting ? target + L"\t!" : target));
          });
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
