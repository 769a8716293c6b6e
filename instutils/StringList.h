// Ordered lists of 8-bit (UTF-8) lines with case-ignoring lookup, stored as
// text with CR LF after every line.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class TStringList {
public:
    std::vector<std::string> Lines;

    std::size_t Count() const { return Lines.size(); }
    void Add(const std::string& line) { Lines.push_back(line); }
    // First line equal to the given one ignoring case (user's locale), or -1.
    int IndexOf(const std::string& line) const;
    // Stable sort, ignoring case in string-sort order.
    void Sort();

    // Splits at CR LF, lone CR and lone LF, keeping every other byte (NUL
    // included); text after the last separator is a last line. Replaces the lines.
    void SetText(const char* bytes, std::size_t length);
    // Every line followed by CR LF; an empty list gives no bytes.
    std::string Text() const;
};

// Case-ignoring equality of two UTF-8 lines by the user's locale. A line that is
// not plain text (a NUL, bytes that are not UTF-8 of the basic plane) is equal
// to itself only: the conversion would drop those bytes.
bool SameText8(const std::string& a, const std::string& b);
int CompareText8(const std::string& a, const std::string& b);
// A hash of the line's case key: its upper case by the user's locale, or its
// bytes when it is not plain text. Lines equal by SameText8 have the same key,
// except forms that the locale compares equal without one being the other's
// upper case (a letter and its decomposed spelling): those count as different.
std::size_t CaseKeyHash(const std::string& line);

// Finds a line equal ignoring case among many without a scan: the indexes of
// lines by the hash of their case key, every hit checked with SameText8. The
// lines themselves stay with the caller, who passes them to every call.
class TLineIndex {
public:
    void Add(const std::vector<std::string>& lines, std::size_t i) {
        byKey_.emplace(CaseKeyHash(lines[i]), i);
        shortest_ = std::min(shortest_, lines[i].size());
        longest_ = std::max(longest_, lines[i].size());
    }
    void Clear() { *this = TLineIndex(); }
    // Every indexed line equal to this one, in no particular order.
    template <typename Visit>
    void ForEachEqual(const std::vector<std::string>& lines, const std::string& line, Visit visit) const {
        // Equal keys have as many UTF-16 units, of 1 to 3 bytes each.
        if (byKey_.empty() || line.size() > 3 * longest_ || 3 * line.size() < shortest_) return;
        auto range = byKey_.equal_range(CaseKeyHash(line));
        for (auto it = range.first; it != range.second; ++it)
            if (SameText8(lines[it->second], line)) visit(it->second);
    }
    bool Holds(const std::vector<std::string>& lines, const std::string& line) const {
        bool found = false;
        ForEachEqual(lines, line, [&](std::size_t) { found = true; });
        return found;
    }

private:
    std::unordered_multimap<std::size_t, std::size_t> byKey_;
    std::size_t shortest_ = SIZE_MAX, longest_ = 0;
};
