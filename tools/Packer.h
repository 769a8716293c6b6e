// Packs a payload folder into the FILES stream of the setup and lists one.
// Host tool code: plain C++ and zlib, no Windows calls.
#pragma once
#include "Exceptions.h"
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class EPackError : public Exception {
public:
    using Exception::Exception;
};

// How file times become the archive's date-times. With SOURCE_DATE_EPOCH set,
// newer times are clamped to it and converted in UTC, so the bytes do not
// depend on the build machine; without it, local time (TZ) is used.
struct TimePolicy {
    bool Clamp = false;
    std::int64_t Epoch = 0;
};
TimePolicy TimePolicyFromEnvironment(); // throws EPackError for a malformed value

// Seconds since 1970 as an archive date-time, truncated to even seconds so that
// an unchanged file compares equal with what Windows reads back at DOS precision.
double ArchiveDateTime(std::int64_t unixSeconds, const TimePolicy& policy);

struct PayloadFile {
    std::string Name; // UTF-8, "\"-separated
    std::filesystem::path Path;
    double DateTime = 0.0;
    std::uint32_t Size = 0;
};

// The four top-level items, in archive order.
inline constexpr const char* kProgramName = "qrd.exe";
inline constexpr const char* kLicenceName = "Licence.txt";
inline constexpr const char* kTemplatesFolder = "Mod\xC3\xA8les de document";
inline constexpr const char* kInsertsFolder = "Collections d'inserts";

// Walks the payload folder in archive order: the program, the licence, then each
// tree with the files of a folder (sorted by the bytes of their UTF-8 names)
// before its sub-folders (sorted the same way). Throws EPackError for a missing
// item, a stray file, an unusable name or size.
std::vector<PayloadFile> CollectPayload(const std::filesystem::path& folder, const TimePolicy& policy);

// The largest FILES stream the setup can carry: the whole program is mapped
// into a 32-bit address space when it starts, so the stream must leave room.
inline constexpr std::uint64_t kMaxCompressed = 0x40000000; // 1 GiB

// The inflated archive of those files (reads them).
std::vector<std::uint8_t> BuildArchive(const std::vector<PayloadFile>& files);

// Packs the files into the FILES stream at out (the same bytes as
// CompressBest(BuildArchive(files))) and, when index is not empty, the index
// the setup reads beside it. Each file is read in blocks and compressed as it
// goes, so no payload size needs its size in memory. Throws EPackError, and
// for a stream over kMaxCompressed.
void PackPayload(const std::vector<PayloadFile>& files, const std::filesystem::path& out,
                 const std::filesystem::path& index);

// One zlib stream, best compression (header 78 DA).
std::vector<std::uint8_t> CompressBest(const std::vector<std::uint8_t>& bytes);

// One line per entry (name, size, date-time, TAB-separated), then the totals.
// The bytes are a FILES stream or a PE file carrying one. Throws EPackError or
// EArchiveError, EZlibError on damaged input.
std::string ListPayload(const std::uint8_t* bytes, std::size_t size);

// Whole files; throw EPackError naming the file.
std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
