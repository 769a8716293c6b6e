#include "UpdateLog.h"
#include <algorithm>
#include <cstring>

std::string StampBytes(double stamp) {
    static_assert(sizeof(double) == 8, "the stamp is an IEEE 754 double");
    std::string bytes(8, '\0');
    std::memcpy(bytes.data(), &stamp, 8); // both toolchains are little-endian
    return bytes;
}

std::string StampLine(double stamp) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string line = "*";
    for (unsigned char b : StampBytes(stamp)) {
        line.push_back(kHex[b >> 4]);
        line.push_back(kHex[b & 0x0F]);
    }
    return line;
}

namespace {
// What was written so far, so that a stamp can be taken back.
class TCountingSink : public TLogSink {
public:
    explicit TCountingSink(TLogSink& out) : out_(out) {}
    bool Write(const char* bytes, std::size_t length) override {
        written_ += length;
        return out_.Write(bytes, length);
    }
    bool Truncate(std::uint64_t size) override {
        written_ = size;
        return out_.Truncate(size);
    }
    std::uint64_t Written() const { return written_; }

private:
    TLogSink& out_;
    std::uint64_t written_ = 0;
};

bool PutLine(TLogSink& out, const std::string& line) {
    return out.Write(line.data(), line.size()) && out.Write("\r\n", 2);
}
} // namespace

bool MergeUpdateLog(TLogSource& earlier, const TStringList& sortedFiles, const std::string& stampLine,
                    TLogSink& sink) {
    TLineIndex relisted;
    for (std::size_t i = 0; i < sortedFiles.Count(); ++i) relisted.Add(sortedFiles.Lines, i);
    TCountingSink out(sink);
    TLineReader reader(earlier, CompareWindow(sortedFiles.Lines));
    // Of a run of stamps only the first stays (each is compared with its
    // predecessor among the lines kept so far); it is written at once and
    // taken back if the file ends before another line comes.
    bool previousIsStamp = false, lastIsStamp = false;
    std::uint64_t beforeStamp = 0;
    while (reader.Next()) {
        const std::string& head = reader.Head();
        if (reader.Whole() && (head.empty() || relisted.Holds(sortedFiles.Lines, head))) continue;
        bool stamp = head[0] == '*';
        bool keep = !(stamp && previousIsStamp);
        previousIsStamp = stamp;
        if (!keep) continue;
        lastIsStamp = stamp;
        beforeStamp = out.Written();
        if (!out.Write(head.data(), head.size()) || (!reader.Whole() && !reader.CopyRest(&out)) ||
            !out.Write("\r\n", 2))
            return false;
    }
    if (reader.Failed()) return false;
    if (lastIsStamp && !out.Truncate(beforeStamp)) return false;
    if (!PutLine(out, stampLine)) return false;
    for (const std::string& file : sortedFiles.Lines)
        if (!PutLine(out, file)) return false;
    return true;
}

void MergeUpdateLog(TStringList& log, const TStringList& sortedFiles, const std::string& stampLine) {
    std::string text = log.Text();
    TMemoryLogSource source(text.data(), text.size());
    TStringLogSink merged;
    MergeUpdateLog(source, sortedFiles, stampLine, merged);
    log.SetText(merged.Bytes.data(), merged.Bytes.size());
}
