#include "DfmConvert.h"
#include <cstdint>
#include <limits>

namespace {

constexpr int MaxDepth = 64; // as deep as the reader goes

enum class Tok { End, Ident, Integer, String, Equals, Colon, Plus, Other };

struct Token {
    Tok kind = Tok::End;
    int line = 1;
    std::string text;       // identifier, string bytes, or the character met
    std::int64_t value = 0; // integer
};

bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool SameWord(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

class Lexer {
public:
    explicit Lexer(std::string_view text) : text_(text) {}

    Token Next() {
        SkipSpace();
        Token t;
        t.line = line_;
        if (pos_ >= text_.size()) return t;
        char c = text_[pos_];
        if (IsLetter(c)) {
            t.kind = Tok::Ident;
            std::size_t start = pos_;
            while (pos_ < text_.size() &&
                   (IsLetter(text_[pos_]) || IsDigit(text_[pos_]) || text_[pos_] == '.'))
                ++pos_;
            t.text = text_.substr(start, pos_ - start);
        } else if (IsDigit(c) ||
                   ((c == '-' || c == '+') && pos_ + 1 < text_.size() && IsDigit(text_[pos_ + 1]))) {
            ReadInteger(t);
        } else if (c == '\'' || c == '#') {
            ReadString(t);
        } else {
            ++pos_;
            t.kind = c == '=' ? Tok::Equals : c == ':' ? Tok::Colon : c == '+' ? Tok::Plus : Tok::Other;
            t.text = std::string(1, c);
        }
        return t;
    }

private:
    void SkipSpace() {
        while (pos_ < text_.size()) {
            char c = text_[pos_];
            if (c == '\n')
                ++line_;
            else if (c != ' ' && c != '\t' && c != '\r')
                break;
            ++pos_;
        }
    }

    void ReadInteger(Token& t) {
        bool negative = text_[pos_] == '-';
        if (text_[pos_] == '-' || text_[pos_] == '+') ++pos_;
        std::int64_t v = 0;
        while (pos_ < text_.size() && IsDigit(text_[pos_])) {
            v = v * 10 + (text_[pos_++] - '0');
            if (v > std::int64_t(1) << 32) throw EDfmError(line_, "integer out of range");
        }
        if (pos_ < text_.size() && (IsLetter(text_[pos_]) || text_[pos_] == '.'))
            throw EDfmError(line_, "malformed number");
        t.kind = Tok::Integer;
        t.value = negative ? -v : v;
        if (t.value < std::numeric_limits<std::int32_t>::min() ||
            t.value > std::numeric_limits<std::int32_t>::max())
            throw EDfmError(line_, "integer out of range");
    }

    // Quoted parts ('' for a quote) and #nnn character codes, written together.
    void ReadString(Token& t) {
        t.kind = Tok::String;
        while (pos_ < text_.size()) {
            if (text_[pos_] == '\'') {
                ++pos_;
                for (;;) {
                    if (pos_ >= text_.size() || text_[pos_] == '\n' || text_[pos_] == '\r')
                        throw EDfmError(line_, "unterminated string");
                    char c = text_[pos_++];
                    if (c == '\'') {
                        if (pos_ < text_.size() && text_[pos_] == '\'') {
                            ++pos_;
                        } else {
                            break;
                        }
                    }
                    t.text += c;
                }
            } else if (text_[pos_] == '#') {
                ++pos_;
                if (pos_ >= text_.size() || !IsDigit(text_[pos_]))
                    throw EDfmError(line_, "# without a character code");
                int code = 0;
                while (pos_ < text_.size() && IsDigit(text_[pos_])) {
                    code = code * 10 + (text_[pos_++] - '0');
                    if (code > 255) throw EDfmError(line_, "character code over 255");
                }
                t.text += static_cast<char>(code);
            } else {
                break;
            }
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    int line_ = 1;
};

class Converter {
public:
    explicit Converter(std::string_view text) : lex_(text) { Advance(); }

    std::string Run() {
        out_ = "TPF0";
        if (tok_.kind != Tok::Ident || !SameWord(tok_.text, "object")) Fail("expected 'object'");
        Object(0);
        if (tok_.kind != Tok::End) Fail("text after the last 'end'");
        return out_;
    }

private:
    [[noreturn]] void Fail(const std::string& message) const { throw EDfmError(tok_.line, message); }

    void Advance() { tok_ = lex_.Next(); }

    void ShortString(const std::string& s, const char* what, int line) {
        if (s.size() > 255) throw EDfmError(line, std::string(what) + " longer than 255 bytes");
        out_ += static_cast<char>(s.size());
        out_ += s;
    }

    std::string Ident(const char* what) {
        if (tok_.kind != Tok::Ident) Fail(std::string("expected ") + what);
        if (tok_.text.find('.') != std::string::npos) Fail("unexpected '.' in " + tok_.text);
        std::string s = tok_.text;
        Advance();
        return s;
    }

    // At 'object': the header, the properties, the children, 'end'.
    void Object(int depth) {
        if (depth >= MaxDepth) Fail("objects nested too deeply");
        int line = tok_.line;
        Advance();
        std::string name, className = Ident("a name or class name after 'object'");
        if (tok_.kind == Tok::Colon) {
            Advance();
            name = className;
            className = Ident("a class name after ':'");
        }
        ShortString(className, "class name", line);
        ShortString(name, "name", line);
        bool children = false;
        for (;;) {
            if (tok_.kind == Tok::End)
                Fail("missing 'end' of object " + (name.empty() ? className : name) + " (line " +
                     std::to_string(line) + ")");
            if (tok_.kind != Tok::Ident) Fail("expected a property, 'object' or 'end'");
            if (SameWord(tok_.text, "end")) {
                Advance();
                break;
            }
            if (SameWord(tok_.text, "object")) {
                if (!children) out_ += '\0'; // end of the properties
                children = true;
                Object(depth + 1);
                continue;
            }
            if (SameWord(tok_.text, "inherited") || SameWord(tok_.text, "inline"))
                Fail("'" + tok_.text + "' objects are not supported");
            if (children) Fail("property " + tok_.text + " after a child object");
            Property();
        }
        if (!children) out_ += '\0';
        out_ += '\0'; // end of the children
    }

    void Property() {
        std::string name = tok_.text;
        int line = tok_.line;
        if (name.back() == '.' || name.find("..") != std::string::npos)
            Fail("malformed property name " + name);
        ShortString(name, "property name", line);
        Advance();
        if (tok_.kind != Tok::Equals) Fail("expected '=' after " + name);
        Advance();
        switch (tok_.kind) {
        case Tok::Integer:
            Integer(tok_.value);
            break;
        case Tok::Ident:
            if (tok_.text.find('.') != std::string::npos) Fail("malformed identifier " + tok_.text);
            if (SameWord(tok_.text, "False"))
                out_ += '\x08';
            else if (SameWord(tok_.text, "True"))
                out_ += '\x09';
            else if (SameWord(tok_.text, "nil"))
                out_ += '\x0D';
            else {
                out_ += '\x07';
                ShortString(tok_.text, "identifier", tok_.line);
            }
            break;
        case Tok::String:
            String();
            return;
        case Tok::End:
            Fail("missing value of " + name);
        default:
            Fail("unsupported value of " + name);
        }
        Advance();
    }

    void Integer(std::int64_t v) {
        int bytes;
        if (v >= -128 && v <= 127) {
            out_ += '\x02';
            bytes = 1;
        } else if (v >= -32768 && v <= 32767) {
            out_ += '\x03';
            bytes = 2;
        } else {
            out_ += '\x04';
            bytes = 4;
        }
        auto u = static_cast<std::uint32_t>(static_cast<std::int32_t>(v));
        for (int i = 0; i < bytes; ++i) out_ += static_cast<char>(u >> (8 * i) & 0xFF);
    }

    // One or more string parts joined by '+', possibly over several lines.
    void String() {
        std::string s = tok_.text;
        int line = tok_.line;
        Advance();
        while (tok_.kind == Tok::Plus) {
            Advance();
            if (tok_.kind != Tok::String) Fail("expected a string after '+'");
            s += tok_.text;
            Advance();
        }
        if (s.size() > 255) throw EDfmError(line, "string longer than 255 bytes");
        out_ += '\x06';
        out_ += static_cast<char>(s.size());
        out_ += s;
    }

    Lexer lex_;
    Token tok_;
    std::string out_;
};

} // namespace

std::string ConvertFormText(std::string_view text) {
    return Converter(text).Run();
}
