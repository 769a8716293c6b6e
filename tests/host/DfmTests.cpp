// The text-to-binary form converter: record layout, value codes, strings, and
// errors that name their line.
#include "DfmConvert.h"
#include <gtest/gtest.h>
#include <string>

using namespace std::string_literals;

namespace {
// The bytes of a definition whose root holds just this property line.
std::string Value(const std::string& line) {
    std::string bin = ConvertFormText("object F: TForm\n  " + line + "\nend\n");
    std::string head = "TPF0\x05TForm\x01"
                       "F"s;
    EXPECT_EQ(bin.substr(0, head.size()), head);
    EXPECT_EQ(bin.substr(bin.size() - 2), "\0\0"s); // properties end, children end
    std::string prop = bin.substr(head.size(), bin.size() - head.size() - 2);
    std::size_t nameLength = static_cast<unsigned char>(prop[0]);
    return prop.substr(1 + nameLength); // just the value
}

std::string Error(const std::string& text) {
    try {
        ConvertFormText(text);
    } catch (const EDfmError& e) {
        return e.Message();
    }
    return "converted";
}
} // namespace

TEST(Dfm2Bin, RecordsNestInStreamOrder) {
    std::string bin = ConvertFormText("object MainForm: TMainForm\n"
                                      "  ClientWidth = 492\n"
                                      "  object Pan: TPanel\n"
                                      "    object Lbl: TLabel\n"
                                      "      Left = 20\n"
                                      "    end\n"
                                      "  end\n"
                                      "  object TButton\n"
                                      "  end\n"
                                      "END\n");
    EXPECT_EQ(bin, "TPF0\x09TMainForm\x08MainForm"
                   "\x0B"
                   "ClientWidth\x03\xEC\x01\0"
                   "\x06TPanel\x03Pan\0"
                   "\x06TLabel\x03Lbl\x04Left\x02\x14\0\0"
                   "\0"
                   "\x07TButton\0\0\0"
                   "\0"s);
}

TEST(Dfm2Bin, SmallestIntegerCodes) {
    EXPECT_EQ(Value("Left = 0"), "\x02\x00"s);
    EXPECT_EQ(Value("Left = 127"), "\x02\x7F"s);
    EXPECT_EQ(Value("Left = -10"), "\x02\xF6"s);
    EXPECT_EQ(Value("Left = -128"), "\x02\x80"s);
    EXPECT_EQ(Value("Left = 128"), "\x03\x80\x00"s);
    EXPECT_EQ(Value("Left = -129"), "\x03\x7F\xFF"s);
    EXPECT_EQ(Value("Left = +301"), "\x03\x2D\x01"s);
    EXPECT_EQ(Value("Left = 32767"), "\x03\xFF\x7F"s);
    EXPECT_EQ(Value("Left = -32768"), "\x03\x00\x80"s);
    EXPECT_EQ(Value("Left = 32768"), "\x04\x00\x80\x00\x00"s);
    EXPECT_EQ(Value("Color = 16777215"), "\x04\xFF\xFF\xFF\x00"s);
    EXPECT_EQ(Value("Left = 2147483647"), "\x04\xFF\xFF\xFF\x7F"s);
    EXPECT_EQ(Value("Left = -2147483648"), "\x04\x00\x00\x00\x80"s);
}

TEST(Dfm2Bin, IdentifiersAndBooleans) {
    EXPECT_EQ(Value("BevelInner = bvRaised"), "\x07\x08"
                                              "bvRaised"s);
    EXPECT_EQ(Value("AutoSize = False"), "\x08");
    EXPECT_EQ(Value("Default = true"), "\x09");
    EXPECT_EQ(Value("OnClick = nil"), "\x0D");
    EXPECT_EQ(Value("OnClick = BNClk"), "\x07\x05"
                                        "BNClk"s);
    EXPECT_EQ(Value("Font.Style = fsBold")[0], '\x07');
}

TEST(Dfm2Bin, StringsWithQuotesCodesAndJoins) {
    EXPECT_EQ(Value("Caption = '  ?  '"), "\x06\x05  ?  "s);
    EXPECT_EQ(Value("Caption = ''"), "\x06\x00"s);
    EXPECT_EQ(Value("Caption = 'It''s'"), "\x06\x04It's"s);
    EXPECT_EQ(Value("Caption = 'a'#13#10'b'#0"), "\x06\x05"
                                                 "a\r\nb\0"s);
    EXPECT_EQ(Value("Caption = #233't'#233"), "\x06\x03\xE9t\xE9"s);
    EXPECT_EQ(Value("Caption = 'one ' +\n    'two' + #33"), "\x06\x08one two!"s);
    EXPECT_EQ(Value("Caption = '\xC3\xA9t\xC3\xA9'"), "\x06\x05\xC3\xA9t\xC3\xA9"s); // UTF-8 as it is
    EXPECT_EQ(Value("Caption = '" + std::string(255, 'x') + "'").size(), 257u);
}

TEST(Dfm2Bin, ErrorsNameTheirLine) {
    EXPECT_EQ(Error("object F: TForm\n  Left 5\nend"), "line 2: expected '=' after Left");
    EXPECT_EQ(Error("object F: TForm\n\n  Caption = 'open\nend"), "line 3: unterminated string");
    EXPECT_EQ(Error("object F: TForm\n  Caption = '" + std::string(200, 'x') + "' +\n '" +
                    std::string(56, 'x') + "'\nend"),
              "line 2: string longer than 255 bytes");
    EXPECT_EQ(Error("object F: TForm\n  " + std::string(256, 'N') + " = 1\nend"),
              "line 2: property name longer than 255 bytes");
    EXPECT_EQ(Error("object " + std::string(256, 'N') + ": TForm\nend"),
              "line 1: name longer than 255 bytes");
    EXPECT_EQ(Error("object F: TForm\n  Tag = 4294967296\nend"), "line 2: integer out of range");
    EXPECT_EQ(Error("object F: TForm\n  Tag = 2147483648\nend"), "line 2: integer out of range");
    EXPECT_EQ(Error("object F: TForm\n  Tag = 12px\nend"), "line 2: malformed number");
    EXPECT_EQ(Error("object F: TForm\n  Caption = #256\nend"), "line 2: character code over 255");
    EXPECT_EQ(Error("object F: TForm\n  Caption = #\nend"), "line 2: # without a character code");
    EXPECT_EQ(Error("object F: TForm\n  Caption = 'a' +\nend"), "line 3: expected a string after '+'");
    EXPECT_EQ(Error("object F: TForm\n  Anchors = [akLeft]\nend"), "line 2: unsupported value of Anchors");
    EXPECT_EQ(Error("object F: TForm\n  Left =\n"), "line 3: missing value of Left");
    EXPECT_EQ(Error("object F: TForm\n  object P: TPanel\n  end\n  Left = 1\nend"),
              "line 4: property Left after a child object");
    EXPECT_EQ(Error("object F: TForm\n  object P: TPanel\n  Left = 1\n"),
              "line 4: missing 'end' of object P (line 2)");
    EXPECT_EQ(Error("object F: TForm\nend\nobject G: TForm\nend"), "line 3: text after the last 'end'");
    EXPECT_EQ(Error("form F: TForm\nend"), "line 1: expected 'object'");
    EXPECT_EQ(Error("object F: 5\nend"), "line 1: expected a class name after ':'");
    EXPECT_EQ(Error("object F: T.Form\nend"), "line 1: unexpected '.' in T.Form");
    EXPECT_EQ(Error("inherited F: TForm\nend"), "line 1: expected 'object'");
    EXPECT_EQ(Error("object F: TForm\n  inline X: TFrame\n  end\nend"),
              "line 2: 'inline' objects are not supported");
    EXPECT_EQ(Error("object F: TForm\n  Font. = 1\nend"), "line 2: malformed property name Font.");
    EXPECT_EQ(Error("object F: TForm\n  ; = 1\nend"), "line 2: expected a property, 'object' or 'end'");
    EXPECT_EQ(Error(""), "line 1: expected 'object'");
    std::string deep;
    for (int i = 0; i < 65; ++i) deep += "object P: TPanel\n";
    EXPECT_EQ(Error(deep), "line 65: objects nested too deeply");
}
