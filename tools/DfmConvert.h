// Text form definitions to their binary form, as the form reader takes them.
//
//   object MainForm: TMainForm
//     ClientHeight = 351
//     Caption = 'It''s'#13#10 +
//       'two lines'
//     object NBtn: TButton
//       Default = True
//     end
//   end
//
// Integers get the smallest code that holds them (2: one byte, 3: two, 4: four),
// identifiers code 7 (False 8, True 9, nil 13), strings code 6 with a one-byte
// length.
#pragma once
#include "Exceptions.h"
#include <string>
#include <string_view>

// Malformed text; Message() starts with the line number.
class EDfmError : public Exception {
public:
    EDfmError(int line, const std::string& text)
        : Exception("line " + std::to_string(line) + ": " + text), line_(line), text_(text) {}
    int Line() const { return line_; }
    const std::string& Text() const { return text_; } // without the line

private:
    int line_;
    std::string text_;
};

std::string ConvertFormText(std::string_view text);
