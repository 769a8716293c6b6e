#include "PeResource.h"
#include "Packer.h"

namespace {
class PeReader {
public:
    PeReader(const std::uint8_t* file, std::size_t size) : p_(file), size_(size) {}

    std::uint32_t U16(std::size_t at) const {
        Need(at, 2);
        return p_[at] | p_[at + 1] << 8;
    }
    std::uint32_t U32(std::size_t at) const {
        Need(at, 4);
        return static_cast<std::uint32_t>(p_[at]) | static_cast<std::uint32_t>(p_[at + 1]) << 8 |
               static_cast<std::uint32_t>(p_[at + 2]) << 16 | static_cast<std::uint32_t>(p_[at + 3]) << 24;
    }
    void Need(std::size_t at, std::size_t length) const {
        if (at > size_ || length > size_ - at) Fail("a header or table runs past the end of the file");
    }
    [[noreturn]] static void Fail(const std::string& what) { throw EPackError("Damaged PE file: " + what); }

private:
    const std::uint8_t* p_;
    std::size_t size_;
};

struct Section {
    std::uint32_t Va, VirtualSize, RawSize, RawPointer;
};

// Compares a directory string (UTF-16) with an ASCII name, ignoring case as
// FindResource does.
bool SameResourceName(const PeReader& pe, std::size_t at, std::size_t limit, const std::string& name) {
    if (at > limit || limit - at < 2) PeReader::Fail("a resource name lies outside the resource directory");
    std::size_t n = pe.U16(at);
    if ((limit - at - 2) / 2 < n) PeReader::Fail("a resource name runs past the resource directory");
    if (n != name.size()) return false;
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t c = pe.U16(at + 2 + 2 * i);
        auto up = [](std::uint32_t x) { return x >= 'a' && x <= 'z' ? x - 0x20 : x; };
        if (up(c) != up(static_cast<unsigned char>(name[i]))) return false;
    }
    return true;
}
} // namespace

bool LooksLikePe(const std::uint8_t* file, std::size_t size) {
    return size >= 2 && file[0] == 'M' && file[1] == 'Z';
}

FileSpan FindPeResource(const std::uint8_t* file, std::size_t size, const std::string& type,
                        const std::string& name) {
    PeReader pe(file, size);
    if (!LooksLikePe(file, size)) throw EPackError("Not a PE file (no MZ header)");
    std::size_t nt = pe.U32(0x3C);
    if (pe.U32(nt) != 0x00004550) PeReader::Fail("no PE signature");
    std::size_t sections = pe.U16(nt + 6), optionalSize = pe.U16(nt + 20), opt = nt + 24;
    pe.Need(opt, optionalSize);
    std::uint32_t magic = pe.U16(opt);
    std::size_t dirs;
    if (magic == 0x10B)
        dirs = opt + 92;
    else if (magic == 0x20B)
        dirs = opt + 108;
    else
        PeReader::Fail("unknown optional header");
    // The resource table is data directory 2.
    std::size_t dirCount = pe.U32(dirs);
    if (dirCount < 3 || dirs + 4 + 3 * 8 > opt + optionalSize)
        throw EPackError("The PE file has no resources");
    std::uint32_t resRva = pe.U32(dirs + 4 + 16), resSize = pe.U32(dirs + 4 + 20);
    if (resRva == 0 || resSize == 0) throw EPackError("The PE file has no resources");

    std::size_t table = opt + optionalSize;
    pe.Need(table, sections * 40);
    auto toOffset = [&](std::uint32_t rva, std::uint32_t length, const char* what) -> std::size_t {
        for (std::size_t i = 0; i < sections; ++i) {
            std::size_t s = table + 40 * i;
            Section sec{pe.U32(s + 12), pe.U32(s + 8), pe.U32(s + 16), pe.U32(s + 20)};
            if (rva < sec.Va || rva - sec.Va >= std::max(sec.VirtualSize, sec.RawSize)) continue;
            std::uint64_t inSection = rva - sec.Va;
            if (inSection + length > sec.RawSize)
                PeReader::Fail(std::string(what) + " runs past the end of its section");
            std::uint64_t at = sec.RawPointer + inSection;
            pe.Need(static_cast<std::size_t>(at), length);
            return static_cast<std::size_t>(at);
        }
        PeReader::Fail(std::string(what) + " lies in no section");
    };
    std::size_t base = toOffset(resRva, resSize, "the resource directory");

    // Three levels: type, name, language. Offsets are relative to the directory
    // and must stay inside it; the fixed depth means no loop can form.
    auto findEntry = [&](std::uint32_t dirOffset, const std::string* wanted) -> std::uint32_t {
        if (dirOffset > resSize || resSize - dirOffset < 16)
            PeReader::Fail("a resource table lies outside the resource directory");
        std::size_t d = base + dirOffset;
        std::size_t named = pe.U16(d + 12), ids = pe.U16(d + 14);
        if ((resSize - dirOffset - 16) / 8 < named + ids)
            PeReader::Fail("a resource table runs past the resource directory");
        if (!wanted) {
            if (named + ids == 0) PeReader::Fail("a resource has no language entry");
            return pe.U32(d + 16 + 4);
        }
        for (std::size_t i = 0; i < named; ++i) {
            std::size_t e = d + 16 + 8 * i;
            std::uint32_t nameField = pe.U32(e);
            if ((nameField & 0x80000000u) == 0) continue;
            if (SameResourceName(pe, base + (nameField & 0x7FFFFFFFu), base + resSize, *wanted))
                return pe.U32(e + 4);
        }
        throw EPackError("The PE file has no resource " + name + " of type " + type);
    };
    std::uint32_t byType = findEntry(0, &type);
    if ((byType & 0x80000000u) == 0) PeReader::Fail("the resource type entry is not a table");
    std::uint32_t byName = findEntry(byType & 0x7FFFFFFFu, &name);
    if ((byName & 0x80000000u) == 0) PeReader::Fail("the resource name entry is not a table");
    std::uint32_t leaf = findEntry(byName & 0x7FFFFFFFu, nullptr);
    if (leaf & 0x80000000u) PeReader::Fail("the resource language entry is not data");
    if (leaf > resSize || resSize - leaf < 16)
        PeReader::Fail("a resource data entry lies outside the directory");
    std::uint32_t dataRva = pe.U32(base + leaf), dataSize = pe.U32(base + leaf + 4);
    return FileSpan{toOffset(dataRva, dataSize, "the resource data"), dataSize};
}
