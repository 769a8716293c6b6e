#include "LogStream.h"
#include "StringList.h"
#include <algorithm>
#include <cstring>

namespace {
constexpr std::size_t kBufferSize = 256 * 1024;

const char* FindEnding(const char* from, const char* to) {
    for (const char* p = from; p < to; ++p)
        if (*p == '\r' || *p == '\n') return p;
    return to;
}
} // namespace

bool TMemoryLogSource::Read(char* buffer, std::size_t capacity, std::size_t& got) {
    got = std::min({capacity, piece_, length_ - at_});
    if (got) std::memcpy(buffer, bytes_ + at_, got);
    at_ += got;
    return true;
}

TLineReader::TLineReader(TLogSource& source, std::size_t window)
    : source_(source), window_(window),
      capacity_(std::max<std::size_t>(1, std::min(kBufferSize, source.Remaining()))) {
    buffer_.reset(new char[capacity_]);
}

bool TLineReader::Fill() {
    if (pos_ < end_) return true;
    if (atEnd_ || failed_) return false;
    std::size_t got = 0;
    if (!source_.Read(buffer_.get(), capacity_, got)) {
        failed_ = true;
        return false;
    }
    pos_ = 0;
    end_ = std::min(got, capacity_);
    atEnd_ = end_ == 0;
    return !atEnd_;
}

bool TLineReader::Next() {
    if (inLine_ && !CopyRest(nullptr)) return false;
    head_.clear();
    whole_ = true;
    if (!Fill()) return false;
    if (afterCr_) {
        afterCr_ = false;
        if (buffer_[pos_] == '\n') ++pos_;
        if (!Fill()) return false;
    }
    for (;;) {
        const char* from = buffer_.get() + pos_;
        std::size_t room = window_ - head_.size();
        const char* to = from + std::min(end_ - pos_, room);
        const char* ending = FindEnding(from, to);
        head_.append(from, static_cast<std::size_t>(ending - from));
        pos_ += static_cast<std::size_t>(ending - from);
        if (ending < to) {
            afterCr_ = *ending == '\r';
            ++pos_;
            return true;
        }
        if (head_.size() == window_) {
            whole_ = false;
            inLine_ = true;
            return true;
        }
        if (!Fill()) return !failed_; // the last line has no ending
    }
}

bool TLineReader::CopyRest(TLogSink* sink) {
    if (!inLine_) return true;
    while (Fill()) {
        const char* from = buffer_.get() + pos_;
        const char* ending = FindEnding(from, buffer_.get() + end_);
        std::size_t n = static_cast<std::size_t>(ending - from);
        if (sink && n && !sink->Write(from, n)) return false;
        pos_ += n;
        if (pos_ < end_) {
            afterCr_ = *ending == '\r';
            ++pos_;
            inLine_ = false;
            return true;
        }
    }
    inLine_ = false;
    return !failed_;
}

std::size_t CompareWindow(const std::vector<std::string>& lines) {
    std::size_t longest = 0;
    for (const std::string& line : lines) longest = std::max(longest, line.size());
    return 3 * longest + 1;
}

bool WriteInstallLog(TLogSource& earlier, const std::vector<std::string>& added, TLogSink& out) {
    TLineIndex index;
    for (std::size_t i = 0; i < added.size(); ++i) index.Add(added, i);
    std::vector<bool> present(added.size(), false);
    TLineReader reader(earlier, CompareWindow(added));
    while (reader.Next()) {
        const std::string& line = reader.Head();
        if (!out.Write(line.data(), line.size())) return false;
        if (reader.Whole())
            index.ForEachEqual(added, line, [&](std::size_t i) { present[i] = true; });
        else if (!reader.CopyRest(&out))
            return false;
        if (!out.Write("\r\n", 2)) return false;
    }
    if (reader.Failed()) return false;
    for (std::size_t i = 0; i < added.size(); ++i) {
        if (present[i]) continue;
        if (!out.Write(added[i].data(), added[i].size()) || !out.Write("\r\n", 2)) return false;
    }
    return true;
}
