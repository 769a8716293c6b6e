// Ordered lists of 8-bit (UTF-8) lines with case-ignoring lookup, stored as
// text with CR LF after every line.
#pragma once
#include <cstddef>
#include <string>
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

    // Splits at CR LF, lone CR and lone LF; a NUL byte ends the text; text after
    // the last separator is a last line. Replaces the lines.
    void SetText(const char* bytes, std::size_t length);
    // Every line followed by CR LF; an empty list gives no bytes.
    std::string Text() const;
};

// Case-ignoring equality of two UTF-8 lines by the user's locale.
bool SameText8(const std::string& a, const std::string& b);
int CompareText8(const std::string& a, const std::string& b);
