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

static bool IsStamp(const std::string& line) {
    return !line.empty() && line[0] == '*';
}

void MergeUpdateLog(TStringList& log, const TStringList& sortedFiles, const std::string& stampLine) {
    auto& lines = log.Lines;
    // Lines listed again under the new stamp, found by halving the sorted list.
    auto relisted = [&](const std::string& line) {
        auto it = std::lower_bound(
            sortedFiles.Lines.begin(), sortedFiles.Lines.end(), line,
            [](const std::string& a, const std::string& b) { return CompareText8(a, b) < 0; });
        return it != sortedFiles.Lines.end() && SameText8(*it, line);
    };
    std::vector<std::string> kept;
    kept.reserve(lines.size() + sortedFiles.Count() + 1);
    for (auto& line : lines) {
        if (!line.empty() && !relisted(line)) kept.push_back(std::move(line));
    }
    // Of a run of stamps only the first stays (each is compared with its
    // predecessor before any removal, as a walk from the end would).
    lines.clear();
    bool previousIsStamp = false;
    for (auto& line : kept) {
        bool stamp = IsStamp(line);
        if (!(stamp && previousIsStamp)) lines.push_back(std::move(line));
        previousIsStamp = stamp;
    }
    if (!lines.empty() && IsStamp(lines.back())) lines.pop_back();
    lines.push_back(stampLine);
    lines.insert(lines.end(), sortedFiles.Lines.begin(), sortedFiles.Lines.end());
}
