#include "AttachFiles.h"
#include "DosTime.h"
#include "Files.h"
#include "Paths.h"
#include "TextConv.h"
#include "WinHandles.h"
#include <windows.h>

namespace {

bool WriteWithWindows(void* file, const void* data, std::uint32_t size, std::uint32_t& written) {
    DWORD n = 0;
    BOOL ok = WriteFile(static_cast<HANDLE>(file), data, size, &n, nullptr);
    written = n;
    return ok != FALSE;
}

// Creates the file and writes all its bytes at once; a write that reports
// success with fewer bytes than asked is a failure too.
bool WriteOnce(const TAttachedFile& entry, const std::wstring& target, TInstallLog* log) {
    MakeFolderChain(FolderPartOf(target), log);
    UniqueHandle file(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return false;
    std::uint32_t written = 0;
    if (!PayloadWriteFile(file.get(), entry.Data, entry.Size, written) || written != entry.Size) return false;
    SetFileDate(file.get(), DateTimeToDosTime(entry.DateTime));
    file.reset();
    AddLogLine(log, kFileCopyPrefix + Utf16ToUtf8(target));
    return true;
}
} // namespace

WriteFileFn PayloadWriteFile = WriteWithWindows;

TAttachedFiles::TAttachedFiles() {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC res = FindResourceA(self, "FILES", "FILES");
    if (!res) throw EResNotFound("The program carries no payload (resource FILES of type FILES is missing)");
    DWORD size = SizeofResource(self, res);
    HGLOBAL loaded = LoadResource(self, res);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) throw EResNotFound("The payload resource FILES cannot be loaded");
    Load(bytes, size);
}

TAttachedFiles::TAttachedFiles(const void* compressed, std::uint32_t length) {
    Load(compressed, length);
}

void TAttachedFiles::Load(const void* compressed, std::uint32_t length) {
    // Five times the compressed size is enough for the shipped payload in one pass.
    std::uint32_t estimate = length <= 0x7FFFFFFFu / 5 ? length * 5 : 0x7FFFFFFFu;
    try {
        buffer_ = InflateBuffer(compressed, length, estimate, length_);
    } catch (const EZlibError& e) {
        throw EArchiveError("Damaged payload archive (" + std::to_string(length) +
                            " compressed bytes): " + e.Message());
    }
    for (const ArchiveRecord& r : ReadArchive(buffer_.get(), length_)) {
        auto f = std::make_unique<TAttachedFile>();
        f->Name = Utf8ToUtf16(r.Name);
        f->Size = r.Size;
        f->DateTime = r.DateTime;
        f->Data = r.Data;
        Files.push_back(std::move(f));
    }
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
        if (effective != wmReplaceAlways && FileIsPresent(target)) {
            if (effective == wmKeepExisting)
                add = false;
            else if (effective == wmReplaceIfOther)
                add = FileDateOf(target) != entry->DateTime; // both at DOS precision when unchanged
        }
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
    for (;;) {
        if (WriteOnce(entry, target, session.Log.get())) return true;
        switch (session.CannotWrite(target)) {
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
