// The payload archive: records laid end to end, with no header, count or index.
// One record, little-endian:
//   name length N (1 byte) | name (N bytes, UTF-8, parts separated by "\") |
//   date-time (8-byte IEEE double, local time) | size S (4 bytes) | contents (S bytes)
// Pure code: no Windows calls, used by the setup and by the host packer.
#pragma once
#include "Exceptions.h"
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr std::size_t kMaxEntryName = 255;
inline constexpr std::size_t kRecordOverhead = 13; // length byte, date-time, size

struct ArchiveRecord {
    std::string Name;                   // the stored UTF-8 bytes
    double DateTime = 0.0;              // days since 1899-12-30, local time
    std::uint32_t Size = 0;             // content bytes
    const std::uint8_t* Data = nullptr; // first content byte, inside the archive (not owned)
    std::size_t Offset = 0;             // where the record starts
};

// Why a name cannot be used as a relative file path under the install folder, or
// an empty string when it can. Names must be well-formed UTF-8 of the basic plane
// (what the program's conversion keeps), relative, free of "." and ".." parts,
// of "/" and of characters Windows refuses in names.
std::string EntryNameProblem(const std::string& nameUtf8);

// Splits the inflated bytes into records. An empty archive has none. Throws
// EArchiveError naming the record (counted from 1), its byte offset and the fault.
std::vector<ArchiveRecord> ReadArchive(const std::uint8_t* data, std::size_t length);

// Appends one record. Throws EArchiveError for a name the reader would refuse.
void AppendRecord(std::vector<std::uint8_t>& archive, const std::string& nameUtf8, double dateTime,
                  const void* contents, std::uint32_t size);
