#include "Streams.h"
#include <algorithm>
#include <cstring>

std::int32_t TStream::Size() {
    std::int32_t here = Seek(0, soCurrent);
    std::int32_t end = Seek(0, soEnd);
    Seek(here, soBeginning);
    return end;
}

void TStream::ReadBuffer(void* buffer, std::int32_t count) {
    if (count < 0 || (count != 0 && Read(buffer, count) != count)) throw EStreamError("Operation aborted");
}

TReadOnlyMemoryStream::TReadOnlyMemoryStream(const void* data, std::int32_t size) {
    Reset(data, size);
}

void TReadOnlyMemoryStream::Reset(const void* data, std::int32_t size) {
    data_ = static_cast<const std::uint8_t*>(data);
    size_ = size < 0 ? 0 : size;
    position_ = 0;
}

std::int32_t TReadOnlyMemoryStream::Read(void* buffer, std::int32_t count) {
    if (count <= 0 || position_ >= size_) return 0;
    std::int32_t n = std::min(count, size_ - position_);
    std::memcpy(buffer, data_ + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

static std::int32_t NewPosition(std::int32_t position, std::int32_t size, std::int32_t offset,
                                SeekOrigin origin) {
    std::int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position : size;
    std::int64_t p = base + offset;
    if (p < 0) p = 0;
    if (p > INT32_MAX) p = INT32_MAX;
    return static_cast<std::int32_t>(p);
}

std::int32_t TReadOnlyMemoryStream::Seek(std::int32_t offset, SeekOrigin origin) {
    position_ = NewPosition(position_, size_, offset, origin);
    return position_;
}

std::int32_t TMemoryStream::Read(void* buffer, std::int32_t count) {
    std::int32_t size = ByteCount();
    if (count <= 0 || position_ >= size) return 0;
    std::int32_t n = std::min(count, size - position_);
    std::memcpy(buffer, bytes_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

std::int32_t TMemoryStream::Write(const void* buffer, std::int32_t count) {
    if (count <= 0) return 0;
    std::size_t end = static_cast<std::size_t>(position_) + static_cast<std::size_t>(count);
    if (end > INT32_MAX) throw EStreamError("Operation aborted");
    if (end > bytes_.size()) bytes_.resize(end);
    std::memcpy(bytes_.data() + position_, buffer, static_cast<std::size_t>(count));
    position_ = static_cast<std::int32_t>(end);
    return count;
}

std::int32_t TMemoryStream::Seek(std::int32_t offset, SeekOrigin origin) {
    position_ = NewPosition(position_, ByteCount(), offset, origin);
    return position_;
}

void TMemoryStream::CopyFrom(TStream& source, std::int32_t count) {
    if (count < 0) throw EStreamError("Operation aborted");
    std::uint8_t block[4096];
    while (count > 0) {
        std::int32_t n = std::min<std::int32_t>(count, sizeof block);
        source.ReadBuffer(block, n);
        Write(block, n);
        count -= n;
    }
}

void TMemoryStream::Clear() {
    bytes_.clear();
    position_ = 0;
}
