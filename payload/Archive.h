// The payload archive: records laid end to end, with no header, count or index.
// One record, little-endian:
//   name length N (1 byte) | name (N bytes, UTF-8, parts separated by "\") |
//   date-time (8-byte IEEE double, local time) | size S (4 bytes) | contents (S bytes)
// Pure code: no Windows calls, used by the setup and by the host packer.
//
// Beside it the packer stores an index (resource INDEX of type FILES): what
// the setup must know before it writes anything, so that it need not inflate
// the archive to learn it, and the proof that the bytes it reads from its file
// are the ones its image carries. Little-endian:
//   "NVX2" | compressed length (8) | SHA-256 of the compressed bytes (32) |
//   inflated length (8) | record count (4) | each record's header as the
//   archive holds it (name length, name, date-time, size) | Adler-32 of all
//   the bytes before it (4)
// Older packers wrote "NVX1", with an Adler-32 of the compressed bytes (4) in
// place of the SHA-256: it still decodes, as an index without proof.
#pragma once
#include "Exceptions.h"
#include "Sha256.h"
#include "Zlib.h"
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr std::size_t kMaxEntryName = 255;
inline constexpr std::size_t kRecordOverhead = 13; // length byte, date-time, size

struct ArchiveRecord {
    std::string Name;       // the stored UTF-8 bytes
    double DateTime = 0.0;  // days since 1899-12-30, local time
    std::uint32_t Size = 0; // content bytes
    const std::uint8_t* Data =
        nullptr;              // first content byte, inside the archive (not owned); nil when scanned
    std::uint64_t Offset = 0; // where the record starts
    std::uint64_t DataOffset() const { return Offset + kRecordOverhead + Name.size(); }
};

// Why a name cannot be used as a relative file path under the install folder, or
// an empty string when it can. Names must be well-formed UTF-8 of the basic plane
// (what the program's conversion keeps), relative, free of "." and ".." parts,
// of "/" and of characters Windows refuses in names.
std::string EntryNameProblem(const std::string& nameUtf8);

// Splits the inflated bytes into records. An empty archive has none. Throws
// EArchiveError naming the record (counted from 1), its byte offset and the fault.
std::vector<ArchiveRecord> ReadArchive(const std::uint8_t* data, std::size_t length);

// The same records read from an inflater from its start, the contents skipped:
// nothing is held but one header. The same checks and messages; the inflater's
// own errors (a damaged or cut stream) come as EZlibError. The inflated length
// is given back.
std::vector<ArchiveRecord> ScanArchive(TStreamInflater& inflater, std::uint64_t& inflatedLength);

struct ArchiveIndex {
    std::uint64_t CompressedLength = 0;
    bool HasProof = false;        // false: an index of the older form
    TSha256::Digest Proof{};      // SHA-256 of the compressed bytes
    std::uint32_t OlderCheck = 0; // the older form's Adler-32 in its place: kept, never trusted
    std::uint64_t InflatedLength = 0;
    std::vector<ArchiveRecord> Records; // without Data
};

// The current form; the older one (no proof) when the index has none.
std::vector<std::uint8_t> EncodeIndex(const ArchiveIndex& index);
// False when the bytes are no well-formed index: their own CRC, the names, the
// records adding up to the inflated length, nothing after the end.
bool DecodeIndex(const std::uint8_t* data, std::size_t length, ArchiveIndex& index);

// Appends one record. Throws EArchiveError for a name the reader would refuse.
void AppendRecord(std::vector<std::uint8_t>& archive, const std::string& nameUtf8, double dateTime,
                  const void* contents, std::uint32_t size);
// Appends a record's header only (its contents follow separately).
void AppendRecordHeader(std::vector<std::uint8_t>& out, const std::string& nameUtf8, double dateTime,
                        std::uint32_t size);
