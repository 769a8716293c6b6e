// Install.log and Update.log as the setup reads, extends, merges and saves them.
//
// Input: sections separated by form feeds (0C): the earlier Install.log, lines
// the install adds to it, the earlier Update.log, the shared files of this run,
// and the 8 bytes of the run's stamp.
#include "FuzzCommon.h"
#include "InstallLog.h"
#include "UpdateLog.h"
#include <cstring>
#include <string_view>
#include <vector>

namespace {
constexpr std::size_t kMaxAddedLines = 256; // each add searches the whole log

std::vector<std::string_view> Sections(std::string_view input) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        std::size_t end = input.find('\f', start);
        parts.push_back(
            input.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    parts.resize(std::max<std::size_t>(parts.size(), 5));
    return parts;
}

// As the setup loads a file: its bytes whole in a string.
TStringList Read(std::string_view bytes) {
    std::string file(bytes);
    TStringList list;
    list.SetText(file.data(), file.size());
    return list;
}

bool IsStamp(const std::string& line) {
    return !line.empty() && line[0] == '*';
}

// Saving and reading back gives the same lines; no line holds a separator.
void CheckSavedAndReread(const TStringList& list) {
    std::size_t bytes = 0;
    for (const std::string& line : list.Lines) {
        FUZZ_CHECK(line.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
        bytes += line.size() + 2;
    }
    std::string text = list.Text();
    FUZZ_CHECK(text.size() == bytes);
    FUZZ_CHECK(Read(text).Lines == list.Lines);
}

void CheckInstallLog(std::string_view file, std::string_view added) {
    TStringList loaded = Read(file);
    CheckSavedAndReread(loaded);
    // Only separators go: the text up to the first NUL, less CR and LF, is the lines.
    std::string_view text = file.substr(0, file.find('\0'));
    std::size_t kept = 0;
    for (char c : text) kept += c != '\r' && c != '\n';
    std::size_t inLines = 0;
    for (const std::string& line : loaded.Lines) inLines += line.size();
    FUZZ_CHECK(inLines == kept);

    TInstallLog log;
    log.Assign(loaded);
    const TStringList& held = log.List();
    TStringList lines = Read(added);
    if (lines.Count() > kMaxAddedLines) lines.Lines.resize(kMaxAddedLines);
    log.Mute();
    for (const std::string& line : lines.Lines) log.Add(line);
    log.Unmute();
    FUZZ_CHECK(held.Lines == loaded.Lines);
    for (const std::string& line : lines.Lines) {
        std::size_t before = held.Count();
        bool present = held.IndexOf(line) >= 0;
        log.Add(line);
        FUZZ_CHECK(held.Count() == before + (present ? 0 : 1));
        if (!present) FUZZ_CHECK(held.Lines.back() == line);
    }
    // Lines from the earlier file stay as they were, duplicates included.
    FUZZ_CHECK(std::equal(loaded.Lines.begin(), loaded.Lines.end(), held.Lines.begin()));
    CheckSavedAndReread(held);
}

void CheckUpdateLog(std::string_view file, std::string_view shared, std::string_view stampBytes) {
    TStringList old = Read(file);
    // The run's shared files are full paths: never empty, never a stamp.
    TStringList files;
    for (std::string& line : Read(shared).Lines)
        if (!line.empty() && !IsStamp(line)) files.Add(line);
    files.Sort();

    double stamp = 0.0;
    std::memcpy(&stamp, std::string(stampBytes).append(8, '\0').data(), 8);
    std::string stampLine = StampLine(stamp);
    FUZZ_CHECK(stampLine.size() == 17 && stampLine[0] == '*');
    FUZZ_CHECK(StampBytes(stamp) == std::string(reinterpret_cast<const char*>(&stamp), 8));

    TStringList log = old;
    MergeUpdateLog(log, files, stampLine);
    const auto& merged = log.Lines;
    FUZZ_CHECK(merged.size() >= files.Count() + 1);
    const std::size_t newStamp = merged.size() - files.Count() - 1;
    FUZZ_CHECK(merged[newStamp] == stampLine);
    FUZZ_CHECK(std::equal(files.Lines.begin(), files.Lines.end(), merged.begin() + newStamp + 1));

    // What stays of the earlier file: in its order, no empty line, nothing
    // listed again, no two stamps in a row and no stamp left at its end.
    auto relisted = [&](const std::string& line) {
        for (const std::string& f : files.Lines)
            if (SameText8(f, line)) return true;
        return false;
    };
    std::size_t from = 0, plainKept = 0, plainExpected = 0;
    for (std::size_t i = 0; i < newStamp; ++i) {
        const std::string& line = merged[i];
        FUZZ_CHECK(!line.empty() && !relisted(line));
        if (i > 0) FUZZ_CHECK(!(IsStamp(line) && IsStamp(merged[i - 1])));
        while (from < old.Count() && old.Lines[from] != line) ++from;
        FUZZ_CHECK(from < old.Count()); // a subsequence of the earlier lines
        ++from;
        plainKept += !IsStamp(line);
    }
    if (newStamp > 0) FUZZ_CHECK(!IsStamp(merged[newStamp - 1]));
    // Every other earlier line is kept.
    for (const std::string& line : old.Lines)
        plainExpected += !line.empty() && !IsStamp(line) && !relisted(line);
    FUZZ_CHECK(plainKept == plainExpected);
    CheckSavedAndReread(log);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto parts = Sections(std::string_view(reinterpret_cast<const char*>(data), size));
    CheckInstallLog(parts[0], parts[1]);
    CheckUpdateLog(parts[2], parts[3], parts[4]);
    return 0;
}
