// Install.log and Update.log as the setup streams them: read in pieces, extended
// with this run's lines, merged and saved. Each result is compared with a plain
// model of the rules on lines held in memory, so that no byte of a line is lost
// or changed, whatever the bytes.
//
// Input: sections separated by form feeds (0C): the earlier Install.log, lines
// the install adds to it, the earlier Update.log, the shared files of this run,
// the 8 bytes of the run's stamp, and one byte giving the size of the pieces the
// files are read in (none: whole).
#include "FuzzCommon.h"
#include "InstallLog.h"
#include "Locale.h"
#include "LogStream.h"
#include "TextConv.h"
#include "UpdateLog.h"
#include <cstring>
#include <string_view>
#include <vector>

namespace {
constexpr std::size_t kMaxAddedLines = 64; // the model searches every earlier line for each

using Lines = std::vector<std::string>;

std::vector<std::string_view> Sections(std::string_view input) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        std::size_t end = input.find('\f', start);
        parts.push_back(
            input.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    parts.resize(std::max<std::size_t>(parts.size(), 6));
    return parts;
}

// The model of a file's lines: split at CR LF, lone CR and lone LF, nothing else dropped.
Lines Split(std::string_view bytes) {
    Lines lines;
    std::string line;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (c != '\r' && c != '\n') {
            line.push_back(c);
            continue;
        }
        lines.push_back(line);
        line.clear();
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

std::string Joined(const Lines& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

// The lines as the setup's reader gives them, long ones put together from their rest.
Lines Read(std::string_view bytes, std::size_t piece, std::size_t window) {
    TMemoryLogSource source(bytes.data(), bytes.size(), piece);
    TLineReader reader(source, window);
    Lines lines;
    while (reader.Next()) {
        TStringLogSink rest;
        FUZZ_CHECK(reader.CopyRest(&rest));
        FUZZ_CHECK(reader.Whole() == (rest.Bytes.empty() && reader.Head().size() < window));
        lines.push_back(reader.Head() + rest.Bytes);
    }
    FUZZ_CHECK(!reader.Failed());
    return lines;
}

// The model's equality: the bytes, or for lines that the conversion keeps whole,
// the locale's comparison ignoring case. Each line is converted once.
struct Compared {
    explicit Compared(const Lines& lines) {
        for (const std::string& line : lines) {
            std::wstring w = Utf8ToUtf16(line);
            text.push_back(Utf16ToUtf8(w) == line);
            wide.push_back(std::move(w));
        }
    }
    std::vector<bool> text;
    std::vector<std::wstring> wide;
};

bool HoldsEqual(const Lines& lines, const Compared& in, const std::string& line) {
    std::wstring w = Utf8ToUtf16(line);
    bool text = Utf16ToUtf8(w) == line;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == line || (text && in.text[i] && LocaleSameText(in.wide[i], w))) {
            FUZZ_CHECK(SameText8(lines[i], line));
            return true;
        }
    }
    return false;
}

bool HoldsEqual(const Lines& lines, const std::string& line) {
    return HoldsEqual(lines, Compared(lines), line);
}

bool IsStamp(const std::string& line) {
    return !line.empty() && line[0] == '*';
}

// Read, saved and read again: the same lines, byte for byte, in any pieces.
void CheckLoadSaveLoad(std::string_view file, std::size_t piece) {
    const Lines lines = Split(file);
    for (std::size_t window : {std::size_t{1}, std::size_t{7}, SIZE_MAX})
        FUZZ_CHECK(Read(file, piece, window) == lines);
    TMemoryLogSource source(file.data(), file.size(), piece);
    TStringLogSink saved;
    FUZZ_CHECK(WriteInstallLog(source, {}, saved));
    FUZZ_CHECK(saved.Bytes == Joined(lines));
    FUZZ_CHECK(Read(saved.Bytes, piece, SIZE_MAX) == lines);
}

void CheckInstallLog(std::string_view file, std::string_view addedText, std::size_t piece) {
    const Lines earlier = Split(file);
    Lines added = Split(addedText);
    if (added.size() > kMaxAddedLines) added.resize(kMaxAddedLines);

    TInstallLog log;
    log.Mute();
    for (const std::string& line : added) log.Add(line);
    log.Unmute();
    FUZZ_CHECK(log.List().Count() == 0);
    Lines held;
    for (const std::string& line : added) {
        bool present = HoldsEqual(held, line);
        log.Add(line);
        if (!present) held.push_back(line);
        FUZZ_CHECK(log.List().Lines == held);
    }
    // Saved: the earlier lines as they were, duplicates included, then the new ones.
    Lines expected = earlier;
    const Compared inEarlier(earlier);
    for (const std::string& line : held)
        if (!HoldsEqual(earlier, inEarlier, line)) expected.push_back(line);
    TMemoryLogSource source(file.data(), file.size(), piece);
    TStringLogSink saved;
    FUZZ_CHECK(WriteInstallLog(source, held, saved));
    FUZZ_CHECK(saved.Bytes == Joined(expected));
}

void CheckUpdateLog(std::string_view file, std::string_view shared, std::string_view stampBytes,
                    std::size_t piece) {
    const Lines old = Split(file);
    // The run's shared files are full paths: never empty, never a stamp.
    TStringList files;
    for (const std::string& line : Split(shared))
        if (!line.empty() && !IsStamp(line)) files.Add(line);
    if (files.Count() > kMaxAddedLines) files.Lines.resize(kMaxAddedLines);
    files.Sort();

    double stamp = 0.0;
    std::memcpy(&stamp, std::string(stampBytes).append(8, '\0').data(), 8);
    std::string stampLine = StampLine(stamp);
    FUZZ_CHECK(stampLine.size() == 17 && stampLine[0] == '*');
    FUZZ_CHECK(StampBytes(stamp) == std::string(reinterpret_cast<const char*>(&stamp), 8));

    // The rules on lines held whole: drop empty and relisted lines, keep the first
    // stamp of a run, drop a trailing stamp, append the stamp and the files.
    Lines kept, expected;
    const Compared inFiles(files.Lines);
    for (const std::string& line : old)
        if (!line.empty() && !HoldsEqual(files.Lines, inFiles, line)) kept.push_back(line);
    for (std::size_t i = 0; i < kept.size(); ++i)
        if (!(i > 0 && IsStamp(kept[i]) && IsStamp(kept[i - 1]))) expected.push_back(kept[i]);
    if (!expected.empty() && IsStamp(expected.back())) expected.pop_back();
    const std::size_t newStamp = expected.size();
    expected.push_back(stampLine);
    expected.insert(expected.end(), files.Lines.begin(), files.Lines.end());

    TMemoryLogSource source(file.data(), file.size(), piece);
    TStringLogSink merged;
    FUZZ_CHECK(MergeUpdateLog(source, files, stampLine, merged));
    FUZZ_CHECK(merged.Bytes == Joined(expected));

    // What stays of the earlier file: every line that is not empty, not a stamp
    // and not listed again, in its order; no two stamps in a row.
    std::size_t plain = 0;
    for (const std::string& line : old)
        plain += !line.empty() && !IsStamp(line) && !HoldsEqual(files.Lines, line);
    std::size_t from = 0, plainKept = 0;
    for (std::size_t i = 0; i < newStamp; ++i) {
        while (from < old.size() && old[from] != expected[i]) ++from;
        FUZZ_CHECK(from < old.size());
        ++from;
        plainKept += !IsStamp(expected[i]);
        if (i > 0) FUZZ_CHECK(!(IsStamp(expected[i]) && IsStamp(expected[i - 1])));
    }
    FUZZ_CHECK(plainKept == plain);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto parts = Sections(std::string_view(reinterpret_cast<const char*>(data), size));
    std::size_t piece = parts[5].empty() ? SIZE_MAX : static_cast<std::uint8_t>(parts[5][0]) + std::size_t{1};
    CheckLoadSaveLoad(parts[0], piece);
    CheckInstallLog(parts[0], parts[1], piece);
    CheckLoadSaveLoad(parts[2], piece);
    CheckUpdateLog(parts[2], parts[3], parts[4], piece);
    return 0;
}
