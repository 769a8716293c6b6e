#include "Archive.h"
#include <algorithm>
#include <cstring>

namespace {
// Decodes UTF-8 strictly, basic plane only: overlong forms, surrogates, stray or
// missing continuation bytes and four-byte sequences are refused, so that the
// program's lenient conversion cannot turn hidden bytes into "\" or ".".
bool DecodeStrict(const std::string& s, std::u16string& out, std::string& why) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    std::size_t n = s.size(), i = 0;
    auto cont = [&](std::size_t k, unsigned lo, unsigned hi) { return k < n && p[k] >= lo && p[k] <= hi; };
    while (i < n) {
        unsigned b = p[i];
        if (b < 0x80) {
            out.push_back(static_cast<char16_t>(b));
            i += 1;
        } else if (b >= 0xC2 && b <= 0xDF && cont(i + 1, 0x80, 0xBF)) {
            out.push_back(static_cast<char16_t>(((b & 0x1F) << 6) | (p[i + 1] & 0x3F)));
            i += 2;
        } else if (b >= 0xE0 && b <= 0xEF && cont(i + 1, b == 0xE0 ? 0xA0 : 0x80, b == 0xED ? 0x9F : 0xBF) &&
                   cont(i + 2, 0x80, 0xBF)) {
            out.push_back(
                static_cast<char16_t>(((b & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F)));
            i += 3;
        } else if (b >= 0xF0 && b <= 0xF4) {
            why = "holds a character outside the basic plane at byte " + std::to_string(i);
            return false;
        } else {
            why = "is not valid UTF-8 at byte " + std::to_string(i);
            return false;
        }
    }
    return true;
}

bool IsDeviceName(const std::u16string& part) {
    // CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension, open devices.
    // Windows also takes the superscripts 1, 2 and 3 of Latin-1 for port digits.
    std::string base;
    for (char16_t c : part) {
        if (c == u'.') break;
        if (c == 0xB9)
            c = u'1';
        else if (c == 0xB2 || c == 0xB3)
            c = static_cast<char16_t>(u'2' + (c - 0xB2));
        else if (c > 0x7F)
            return false;
        base.push_back(static_cast<char>(c >= u'a' && c <= u'z' ? c - 0x20 : c));
    }
    while (!base.empty() && base.back() == ' ') base.pop_back();
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

std::string Hex2(unsigned v) {
    const char* digits = "0123456789ABCDEF";
    return std::string{'0', 'x', digits[(v >> 4) & 15], digits[v & 15]};
}

// The name as it can be shown in a message: other bytes as \xHH.
std::string Printable(const std::string& name) {
    std::string r;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) {
            r += "\\x";
            r += Hex2(c).substr(2);
        } else {
            r.push_back(static_cast<char>(c));
        }
    }
    return r;
}

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

double LeDouble(const std::uint8_t* p) {
    std::uint64_t bits = Le32(p) | static_cast<std::uint64_t>(Le32(p + 4)) << 32;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

[[noreturn]] void Damaged(std::size_t index, std::uint64_t offset, const std::string& what) {
    throw EArchiveError("Damaged payload archive: record " + std::to_string(index) + " at byte " +
                        std::to_string(offset) + ": " + what);
}
} // namespace

std::string EntryNameProblem(const std::string& nameUtf8) {
    if (nameUtf8.empty()) return "is empty";
    if (nameUtf8.size() > kMaxEntryName)
        return "is " + std::to_string(nameUtf8.size()) + " bytes long (at most 255)";
    std::u16string name;
    std::string why;
    if (!DecodeStrict(nameUtf8, name, why)) return why;
    for (char16_t c : name) {
        if (c < 0x20) return "holds the control character " + Hex2(c);
        if (c == u':') return "names a drive or a stream (\":\")";
        if (c == u'/') return "holds \"/\" (parts are separated by \"\\\")";
        if (c == u'<' || c == u'>' || c == u'"' || c == u'|' || c == u'?' || c == u'*')
            return std::string("holds the character \"") + static_cast<char>(c) + "\", invalid in file names";
    }
    if (name.front() == u'\\') return "is absolute (begins with \"\\\")";
    std::size_t start = 0;
    for (;;) {
        std::size_t end = name.find(u'\\', start);
        std::u16string part =
            name.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
        if (part.empty()) return "has an empty part";
        if (part == u"." || part == u"..") return "has a \".\" or \"..\" part";
        if (part.back() == u'.' || part.back() == u' ') return "has a part ending in a dot or a space";
        if (IsDeviceName(part)) return "has a part that names a device";
        if (end == std::u16string::npos) break;
        start = end + 1;
    }
    return std::string();
}

namespace {
std::string HeaderRunsPast(std::size_t n, std::uint64_t left) {
    return "its name and header (" + std::to_string(kRecordOverhead + n) +
           " bytes) run past the end of the data (" + std::to_string(left) + " bytes left)";
}

std::string ContentsRunPast(const ArchiveRecord& r, std::uint64_t left) {
    return "the contents of \"" + r.Name + "\" (" + std::to_string(r.Size) +
           " bytes) run past the end of the data (" + std::to_string(left) + " bytes left)";
}

// Name, date-time and size from a header whose bytes are all there.
void TakeHeader(const std::uint8_t* header, std::size_t index, ArchiveRecord& r) {
    std::size_t n = header[0];
    r.Name.assign(reinterpret_cast<const char*>(header + 1), n);
    std::string why = EntryNameProblem(r.Name);
    if (!why.empty()) Damaged(index, r.Offset, "the name \"" + Printable(r.Name) + "\" " + why);
    r.DateTime = LeDouble(header + 1 + n);
    r.Size = Le32(header + 9 + n);
}
} // namespace

std::vector<ArchiveRecord> ReadArchive(const std::uint8_t* data, std::size_t length) {
    std::vector<ArchiveRecord> records;
    std::size_t pos = 0;
    while (pos < length) {
        std::size_t index = records.size() + 1, start = pos, left = length - pos;
        std::size_t n = data[pos];
        if (left < kRecordOverhead + n) Damaged(index, start, HeaderRunsPast(n, left));
        ArchiveRecord r;
        r.Offset = start;
        TakeHeader(data + pos, index, r);
        pos += kRecordOverhead + n;
        if (r.Size > length - pos) Damaged(index, start, ContentsRunPast(r, length - pos));
        r.Data = data + pos;
        pos += r.Size;
        records.push_back(std::move(r));
    }
    return records;
}

std::vector<ArchiveRecord> ScanArchive(TStreamInflater& inflater, std::uint64_t& inflatedLength) {
    inflater.Restart();
    std::vector<ArchiveRecord> records;
    std::uint8_t header[kRecordOverhead + kMaxEntryName];
    for (;;) {
        ArchiveRecord r;
        r.Offset = inflater.Position();
        if (inflater.Read(header, 1) == 0) break; // the data ends between two records
        std::size_t index = records.size() + 1, n = header[0];
        std::size_t got = inflater.Read(header + 1, kRecordOverhead - 1 + n);
        if (got < kRecordOverhead - 1 + n) Damaged(index, r.Offset, HeaderRunsPast(n, 1 + got));
        TakeHeader(header, index, r);
        std::uint64_t skipped = inflater.Skip(r.Size);
        if (skipped < r.Size) Damaged(index, r.Offset, ContentsRunPast(r, skipped));
        records.push_back(std::move(r));
    }
    inflatedLength = inflater.Position();
    return records;
}

namespace {
constexpr char kIndexMagic[] = "NVX2", kOlderIndexMagic[] = "NVX1";
constexpr std::size_t kProofSize = sizeof(TSha256::Digest);

void PutLe64(std::vector<std::uint8_t>& out, std::uint64_t v) {
    PutLe32(out, static_cast<std::uint32_t>(v));
    PutLe32(out, static_cast<std::uint32_t>(v >> 32));
}

std::uint64_t Le64(const std::uint8_t* p) {
    return Le32(p) | static_cast<std::uint64_t>(Le32(p + 4)) << 32;
}

std::uint32_t Check(const std::uint8_t* p, std::size_t n) {
    return Adler32(1, p, n);
}
} // namespace

std::vector<std::uint8_t> EncodeIndex(const ArchiveIndex& index) {
    const char* magic = index.HasProof ? kIndexMagic : kOlderIndexMagic;
    std::vector<std::uint8_t> out(magic, magic + 4);
    PutLe64(out, index.CompressedLength);
    if (index.HasProof)
        out.insert(out.end(), index.Proof.begin(), index.Proof.end());
    else
        PutLe32(out, index.OlderCheck);
    PutLe64(out, index.InflatedLength);
    PutLe32(out, static_cast<std::uint32_t>(index.Records.size()));
    for (const ArchiveRecord& r : index.Records) AppendRecordHeader(out, r.Name, r.DateTime, r.Size);
    PutLe32(out, Check(out.data(), out.size()));
    return out;
}

bool DecodeIndex(const std::uint8_t* data, std::size_t length, ArchiveIndex& index) {
    if (length < 4) return false;
    ArchiveIndex got;
    got.HasProof = std::memcmp(data, kIndexMagic, 4) == 0;
    if (!got.HasProof && std::memcmp(data, kOlderIndexMagic, 4) != 0) return false;
    const std::size_t check = got.HasProof ? kProofSize : 4, fixed = 4 + 8 + check + 8 + 4;
    if (length < fixed + 4 || Le32(data + length - 4) != Check(data, length - 4)) return false;
    got.CompressedLength = Le64(data + 4);
    if (got.HasProof)
        std::memcpy(got.Proof.data(), data + 12, kProofSize);
    else
        got.OlderCheck = Le32(data + 12);
    got.InflatedLength = Le64(data + 12 + check);
    std::uint32_t count = Le32(data + 20 + check);
    std::size_t pos = fixed, end = length - 4;
    std::uint64_t offset = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (pos >= end || end - pos < kRecordOverhead + data[pos]) return false;
        ArchiveRecord r;
        r.Offset = offset;
        try {
            TakeHeader(data + pos, i + 1, r);
        } catch (const EArchiveError&) {
            return false;
        }
        pos += kRecordOverhead + r.Name.size();
        std::uint64_t next = r.DataOffset() + r.Size;
        if (next > got.InflatedLength) return false;
        offset = next;
        got.Records.push_back(std::move(r));
    }
    if (pos != end || offset != got.InflatedLength) return false;
    index = std::move(got);
    return true;
}

void AppendRecord(std::vector<std::uint8_t>& archive, const std::string& nameUtf8, double dateTime,
                  const void* contents, std::uint32_t size) {
    AppendRecordHeader(archive, nameUtf8, dateTime, size);
    const auto* p = static_cast<const std::uint8_t*>(contents);
    if (size != 0) archive.insert(archive.end(), p, p + size);
}

void AppendRecordHeader(std::vector<std::uint8_t>& out, const std::string& nameUtf8, double dateTime,
                        std::uint32_t size) {
    std::string why = EntryNameProblem(nameUtf8);
    if (!why.empty()) throw EArchiveError("Cannot store \"" + Printable(nameUtf8) + "\": the name " + why);
    out.push_back(static_cast<std::uint8_t>(nameUtf8.size()));
    out.insert(out.end(), nameUtf8.begin(), nameUtf8.end());
    std::uint64_t bits;
    std::memcpy(&bits, &dateTime, sizeof bits);
    PutLe32(out, static_cast<std::uint32_t>(bits));
    PutLe32(out, static_cast<std::uint32_t>(bits >> 32));
    PutLe32(out, size);
}
