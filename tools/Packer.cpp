#include "Packer.h"
#include "Archive.h"
#include "DosTime.h"
#include "Locale.h"
#include "PeResource.h"
#include "TextConv.h"
#include "Zlib.h"
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <sys/stat.h>
#include <zlib.h>

namespace fs = std::filesystem;

namespace {
std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

struct Walk {
    const TimePolicy& policy;
    std::vector<PayloadFile> files;
    std::set<std::wstring> seen; // names upper-cased: Windows does not tell a.rtf from A.RTF

    void AddFile(const fs::path& path, const std::string& name) {
        std::string why = EntryNameProblem(name);
        if (!why.empty())
            throw EPackError("Cannot pack " + Quoted(path.string()) + ": the name " + Quoted(name) + " " +
                             why);
        if (!seen.insert(LocaleUpper(Utf8ToUtf16(name))).second)
            throw EPackError("Cannot pack " + Quoted(path.string()) + ": another file has the same name " +
                             Quoted(name) + " when letter case is ignored");
        struct stat st;
        if (::stat(path.c_str(), &st) != 0)
            throw EPackError("Cannot read " + Quoted(path.string()) + ": " + std::strerror(errno));
        if (static_cast<std::uint64_t>(st.st_size) > 0xFFFFFFFFu)
            throw EPackError("Cannot pack " + Quoted(path.string()) + ": larger than 4 GiB");
        PayloadFile f;
        f.Name = name;
        f.Path = path;
        f.Size = static_cast<std::uint32_t>(st.st_size);
        f.DateTime = ArchiveDateTime(st.st_mtim.tv_sec, policy);
        files.push_back(std::move(f));
    }

    // Files of the folder first, then its sub-folders, each group sorted by name bytes.
    void AddTree(const fs::path& folder, const std::string& prefix) {
        std::vector<std::pair<std::string, fs::path>> plain, folders;
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            std::string leaf = it->path().filename().string();
            fs::file_status st = it->symlink_status();
            if (leaf.find('\\') != std::string::npos)
                throw EPackError("Cannot pack " + Quoted(it->path().string()) + ": its name holds \"\\\"");
            if (fs::is_regular_file(st))
                plain.emplace_back(leaf, it->path());
            else if (fs::is_directory(st))
                folders.emplace_back(leaf, it->path());
            else
                throw EPackError("Cannot pack " + Quoted(it->path().string()) +
                                 ": only plain files and folders are packed (no links or devices)");
        }
        if (ec) throw EPackError("Cannot read the folder " + Quoted(folder.string()) + ": " + ec.message());
        std::sort(plain.begin(), plain.end());
        std::sort(folders.begin(), folders.end());
        for (const auto& [leaf, path] : plain) AddFile(path, prefix + leaf);
        for (const auto& [leaf, path] : folders) AddTree(path, prefix + leaf + "\\");
    }
};
} // namespace

TimePolicy TimePolicyFromEnvironment() {
    TimePolicy policy;
    const char* value = std::getenv("SOURCE_DATE_EPOCH");
    if (!value || !*value) return policy;
    char* end = nullptr;
    errno = 0;
    long long epoch = std::strtoll(value, &end, 10);
    if (*end != '\0' || errno != 0 || epoch < 0 || *value < '0' || *value > '9')
        throw EPackError(std::string("SOURCE_DATE_EPOCH is not a count of seconds: ") + Quoted(value));
    policy.Clamp = true;
    policy.Epoch = epoch;
    return policy;
}

double ArchiveDateTime(std::int64_t unixSeconds, const TimePolicy& policy) {
    if (policy.Clamp && unixSeconds > policy.Epoch) unixSeconds = policy.Epoch;
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    if (!(policy.Clamp ? gmtime_r(&t, &tm) : localtime_r(&t, &tm)))
        throw EPackError("A file time cannot be converted: " + std::to_string(unixSeconds));
    DateTimeParts parts{
        tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, std::min(tm.tm_sec, 59) & ~1, 0};
    double dt = 0.0;
    if (!EncodeDateTime(parts, dt))
        throw EPackError("A file time is out of range: " + std::to_string(unixSeconds));
    return dt;
}

std::vector<PayloadFile> CollectPayload(const fs::path& folder, const TimePolicy& policy) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        throw EPackError("The payload folder " + Quoted(folder.string()) + " does not exist");
    const std::set<std::string> expected = {kProgramName, kLicenceName, kTemplatesFolder, kInsertsFolder};
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string leaf = it->path().filename().string();
        if (!expected.count(leaf))
            throw EPackError("Stray item in the payload folder: " + Quoted(leaf) + " (only " + kProgramName +
                             ", " + kLicenceName + ", " + kTemplatesFolder + "\\ and " + kInsertsFolder +
                             "\\ are packed)");
    }
    if (ec) throw EPackError("Cannot read the folder " + Quoted(folder.string()) + ": " + ec.message());
    Walk walk{policy, {}, {}};
    for (const char* name : {kProgramName, kLicenceName}) {
        fs::path p = folder / name;
        if (!fs::is_regular_file(fs::symlink_status(p, ec)))
            throw EPackError(std::string("The payload folder lacks the file ") + name);
        walk.AddFile(p, name);
    }
    for (const char* name : {kTemplatesFolder, kInsertsFolder}) {
        fs::path p = folder / name;
        if (!fs::is_directory(fs::symlink_status(p, ec)))
            throw EPackError(std::string("The payload folder lacks the folder ") + name);
        walk.AddTree(p, std::string(name) + "\\");
    }
    return std::move(walk.files);
}

std::vector<std::uint8_t> BuildArchive(const std::vector<PayloadFile>& files) {
    std::vector<std::uint8_t> archive;
    for (const PayloadFile& f : files) {
        std::vector<std::uint8_t> bytes = ReadFileBytes(f.Path);
        if (bytes.size() != f.Size)
            throw EPackError("The file " + Quoted(f.Path.string()) + " changed while it was packed");
        AppendRecord(archive, f.Name, f.DateTime, bytes.data(), f.Size);
    }
    return archive;
}

namespace {
// One deflate stream written to a file as it is made, with its SHA-256.
class Deflater {
public:
    Deflater(const fs::path& path) : path_(path) {
        if (deflateInit2(&z_, Z_BEST_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw EPackError("Cannot start compressing");
        file_ = std::fopen(path.c_str(), "wb");
        if (!file_) {
            deflateEnd(&z_);
            throw EPackError("Cannot create " + Quoted(path.string()) + ": " + std::strerror(errno));
        }
    }
    ~Deflater() {
        deflateEnd(&z_);
        if (file_) std::fclose(file_);
    }
    void Feed(const void* bytes, std::size_t n, int flush = Z_NO_FLUSH) {
        z_.next_in = static_cast<Bytef*>(const_cast<void*>(bytes));
        z_.avail_in = static_cast<uInt>(n);
        int r;
        do {
            z_.next_out = out_;
            z_.avail_out = sizeof out_;
            r = deflate(&z_, flush);
            if (r == Z_STREAM_ERROR) throw EPackError("Compression failed");
            std::size_t made = sizeof out_ - z_.avail_out;
            if (made != 0 && std::fwrite(out_, 1, made, file_) != made)
                throw EPackError("Cannot write " + Quoted(path_.string()));
            proof_.Add(out_, made);
            length_ += made;
            if (length_ > kMaxCompressed)
                throw EPackError(
                    "The payload compresses to more than 1 GiB, the most a 32-bit setup can carry");
        } while (z_.avail_in != 0 || (flush == Z_FINISH && r != Z_STREAM_END));
    }
    void Finish() {
        Feed(nullptr, 0, Z_FINISH);
        bool ok = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!ok) throw EPackError("Cannot write " + Quoted(path_.string()));
    }
    std::uint64_t Length() const { return length_; }
    TSha256::Digest Proof() { return proof_.Finish(); }

private:
    fs::path path_;
    z_stream z_{};
    std::FILE* file_ = nullptr;
    Bytef out_[1 << 16];
    TSha256 proof_;
    std::uint64_t length_ = 0;
};
} // namespace

void PackPayload(const std::vector<PayloadFile>& files, const fs::path& out, const fs::path& indexPath) {
    // Written beside, then renamed: a failed run leaves no half file behind.
    fs::path temp = out;
    temp += ".part";
    std::error_code ec;
    try {
        ArchiveIndex index;
        auto deflater = std::make_unique<Deflater>(temp);
        std::vector<std::uint8_t> block(1 << 20);
        for (const PayloadFile& f : files) {
            std::vector<std::uint8_t> header;
            AppendRecordHeader(header, f.Name, f.DateTime, f.Size);
            ArchiveRecord r;
            r.Name = f.Name;
            r.DateTime = f.DateTime;
            r.Size = f.Size;
            r.Offset = index.InflatedLength;
            index.Records.push_back(std::move(r));
            deflater->Feed(header.data(), header.size());
            std::FILE* in = std::fopen(f.Path.c_str(), "rb");
            if (!in) throw EPackError("Cannot open " + Quoted(f.Path.string()) + ": " + std::strerror(errno));
            std::uint64_t read = 0;
            std::size_t n;
            while ((n = std::fread(block.data(), 1, block.size(), in)) > 0) {
                read += n;
                if (read > f.Size) break;
                deflater->Feed(block.data(), n);
            }
            bool failed = std::ferror(in) != 0;
            std::fclose(in);
            if (failed) throw EPackError("Cannot read " + Quoted(f.Path.string()));
            if (read != f.Size)
                throw EPackError("The file " + Quoted(f.Path.string()) + " changed while it was packed");
            index.InflatedLength += header.size() + f.Size;
        }
        deflater->Finish();
        index.CompressedLength = deflater->Length();
        index.HasProof = true;
        index.Proof = deflater->Proof();
        deflater.reset();
        if (!indexPath.empty()) WriteFileBytes(indexPath, EncodeIndex(index));
        fs::rename(temp, out, ec);
        if (ec) throw EPackError("Cannot write " + Quoted(out.string()));
    } catch (...) {
        fs::remove(temp, ec);
        throw;
    }
}

std::vector<std::uint8_t> CompressBest(const std::vector<std::uint8_t>& bytes) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw EPackError("Cannot start compressing");
    std::vector<std::uint8_t> out(deflateBound(&z, static_cast<uLong>(bytes.size())));
    z.next_in = const_cast<Bytef*>(bytes.data());
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int r = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (r != Z_STREAM_END) throw EPackError("Compression failed");
    return out;
}

std::string ListPayload(const std::uint8_t* bytes, std::size_t size) {
    FileSpan stream{0, size};
    if (LooksLikePe(bytes, size)) stream = FindPeResource(bytes, size, "FILES", "FILES");
    if (stream.Length > 0xFFFFFFFFu) throw EPackError("The payload stream is larger than 4 GiB");
    // Scanned, not inflated into memory: a payload of any size can be listed.
    TMemorySource source(bytes + stream.Offset, stream.Length);
    TStreamInflater inflater(source);
    std::uint64_t length = 0, compressed = stream.Length;
    std::vector<ArchiveRecord> records = ScanArchive(inflater, length);
    std::string out;
    char line[64];
    for (const ArchiveRecord& r : records) {
        DateTimeParts p;
        if (DecodeDateTime(r.DateTime, p))
            std::snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                          p.minute, p.second);
        else
            std::snprintf(line, sizeof line, "(no date)");
        out += r.Name + "\t" + std::to_string(r.Size) + "\t" + line + "\n";
    }
    out += std::to_string(records.size()) + " entries, " + std::to_string(length) + " bytes inflated, " +
           std::to_string(compressed) + " bytes compressed\n";
    return out;
}

std::vector<std::uint8_t> ReadFileBytes(const fs::path& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw EPackError("Cannot open " + Quoted(path.string()) + ": " + std::strerror(errno));
    std::vector<std::uint8_t> bytes;
    std::uint8_t block[65536];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) bytes.insert(bytes.end(), block, block + n);
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) throw EPackError("Cannot read " + Quoted(path.string()));
    return bytes;
}

void WriteFileBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    // Written beside, then renamed: a failed run leaves no half file behind.
    fs::path temp = path;
    temp += ".part";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) throw EPackError("Cannot create " + Quoted(temp.string()) + ": " + std::strerror(errno));
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    std::error_code ec;
    if (ok) fs::rename(temp, path, ec);
    if (!ok || ec) {
        fs::remove(temp, ec);
        throw EPackError("Cannot write " + Quoted(path.string()));
    }
}
