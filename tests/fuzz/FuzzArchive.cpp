// The payload archive's records, read from inflated bytes as the payload reader
// reads them: every record must lie inside the buffer, carry a name the install
// folder can hold, and write back to the very same bytes. The same bytes read
// as the packer's index: one that is accepted tiles its inflated length with
// well-named records and encodes back to itself.
#include "Archive.h"
#include "DosTime.h"
#include "FuzzCommon.h"
#include "Paths.h"
#include "TextConv.h"
#include <cstring>
#include <vector>

namespace {
void CheckIndex(const std::uint8_t* data, std::size_t size) {
    ArchiveIndex index;
    if (!DecodeIndex(data, size, index)) return;
    std::uint64_t next = 0;
    for (const ArchiveRecord& r : index.Records) {
        FUZZ_CHECK(r.Offset == next && EntryNameProblem(r.Name).empty());
        next = r.DataOffset() + r.Size;
    }
    FUZZ_CHECK(next == index.InflatedLength);
    std::vector<std::uint8_t> again = EncodeIndex(index);
    FUZZ_CHECK(again.size() == size && std::memcmp(again.data(), data, size) == 0);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckIndex(data, size);
    std::vector<ArchiveRecord> records;
    if (Refused<EArchiveError>([&] { records = ReadArchive(data, size); })) return 0;

    const std::wstring base = L"C:\\Program Files (x86)\\Norvanta\\";
    std::vector<std::uint8_t> rewritten;
    rewritten.reserve(size);
    std::size_t next = 0;
    for (const ArchiveRecord& r : records) {
        // Records tile the buffer: each starts where the previous one ended.
        FUZZ_CHECK(r.Offset == next);
        FUZZ_CHECK(r.Name.size() == data[r.Offset]);
        FUZZ_CHECK(r.Data == data + r.Offset + kRecordOverhead + r.Name.size());
        FUZZ_CHECK(r.Size <= size - (r.Offset + kRecordOverhead + r.Name.size()));
        next = r.Offset + kRecordOverhead + r.Name.size() + r.Size;
        FUZZ_CHECK(EntryNameProblem(r.Name).empty());

        // The reader's names survive the program's lenient conversion unchanged,
        // and the file they name stays inside the install folder.
        std::wstring name = Utf8ToUtf16(r.Name);
        FUZZ_CHECK(Utf16ToUtf8(name) == r.Name);
        std::wstring target = base + name;
        FUZZ_CHECK(StartsWithPath(FolderPartOf(target), base));
        FUZZ_CHECK(NamePartOf(target).size() > 0);

        // The writer dates the file from the record; any double must be safe.
        std::uint32_t dos = DateTimeToDosTime(r.DateTime);
        if (dos != 0) FUZZ_CHECK(DosTimeToDateTime(dos) != 0.0);
        DateTimeParts parts;
        DecodeDateTime(r.DateTime, parts);

        AppendRecord(rewritten, r.Name, r.DateTime, r.Data, r.Size);
    }
    FUZZ_CHECK(next == size);
    FUZZ_CHECK(rewritten.size() == size && (size == 0 || std::memcmp(rewritten.data(), data, size) == 0));
    return 0;
}
