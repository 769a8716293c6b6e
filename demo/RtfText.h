// The readable text of a rich-text document: paragraphs become CR LF, escapes
// become characters, formatting and hidden groups are dropped. Enough for the
// demo's own templates; not a full reader.
#pragma once
#include <string>

// Bytes of an RTF file to UTF-16 text (one unit per wchar_t).
std::wstring RtfToText(const std::string& rtf);
