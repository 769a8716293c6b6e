// Logs read and written as streams of lines, so that an earlier log of any size
// costs memory in proportion to this run's lines only. Lines are byte strings:
// every byte is kept, NUL included; CR LF, a lone CR and a lone LF end a line, and
// bytes after the last ending are a last line.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TLogSource {
public:
    virtual ~TLogSource() = default;
    // Up to capacity bytes into buffer; got == 0 at the end. False: the read failed.
    virtual bool Read(char* buffer, std::size_t capacity, std::size_t& got) = 0;
    // At most this many bytes will come (a reader needs no larger buffer).
    virtual std::size_t Remaining() const { return SIZE_MAX; }
};

class TLogSink {
public:
    virtual ~TLogSink() = default;
    virtual bool Write(const char* bytes, std::size_t length) = 0;
    // Cuts what was written back to its first size bytes.
    virtual bool Truncate(std::uint64_t size) = 0;
};

// Bytes held by the caller, handed out in pieces of at most the given size
// (the tests and the fuzz target vary it to cut lines at every place).
class TMemoryLogSource : public TLogSource {
public:
    TMemoryLogSource(const char* bytes, std::size_t length, std::size_t piece = SIZE_MAX)
        : bytes_(bytes), length_(length), piece_(piece ? piece : 1) {}
    bool Read(char* buffer, std::size_t capacity, std::size_t& got) override;
    std::size_t Remaining() const override { return length_ - at_; }

private:
    const char* bytes_;
    std::size_t length_, at_ = 0, piece_;
};

class TStringLogSink : public TLogSink {
public:
    std::string Bytes;
    bool Write(const char* bytes, std::size_t length) override {
        Bytes.append(bytes, length);
        return true;
    }
    bool Truncate(std::uint64_t size) override {
        if (size < Bytes.size()) Bytes.resize(static_cast<std::size_t>(size));
        return true;
    }
};

// Splits a source into lines. A line's first bytes, up to the window, are held
// (its head); the rest of a longer line is passed on piece by piece, never held.
class TLineReader {
public:
    TLineReader(TLogSource& source, std::size_t window);
    // Moves to the next line (skipping what is left of the current one); false at
    // the end of the source or when a read failed (Failed()).
    bool Next();
    const std::string& Head() const { return head_; }
    // The head is the whole line; otherwise the line has at least window bytes.
    bool Whole() const { return whole_; }
    // The rest of a line that is not whole, to the sink (nil: skipped).
    bool CopyRest(TLogSink* sink);
    bool Failed() const { return failed_; }

private:
    bool Fill();
    TLogSource& source_;
    std::size_t window_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_, pos_ = 0, end_ = 0;
    bool atEnd_ = false, failed_ = false;
    bool afterCr_ = false; // the last line ended with CR: an LF right after belongs to it
    bool inLine_ = false;  // the current line's rest is still unread
    std::string head_;
    bool whole_ = true;
};

// A window in which every line that could equal one of these ignoring case is
// whole (a character and its other case take 1 to 3 bytes in UTF-8).
std::size_t CompareWindow(const std::vector<std::string>& lines);

// The lines of an earlier Install.log as they are, each followed by CR LF, then
// the lines of this run (distinct ignoring case) that it does not hold yet.
bool WriteInstallLog(TLogSource& earlier, const std::vector<std::string>& added, TLogSink& out);
