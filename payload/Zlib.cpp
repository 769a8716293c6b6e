#include "Zlib.h"
#include <algorithm>
#include <cstring>
#include <zlib.h>

namespace {
constexpr std::uint32_t kMaxInflated = 0x7FFFFFFFu;
constexpr std::int32_t kInputBlock = 65536;

struct ZStreamGuard {
    z_stream& z;
    ~ZStreamGuard() { inflateEnd(&z); }
};
} // namespace

InflatedBuffer InflateBuffer(const void* input, std::uint32_t inputLength, std::uint32_t estimate,
                             std::uint32_t& outputLength) {
    outputLength = 0;
    std::uint32_t step = (inputLength + 255u) & ~255u;
    if (step == 0) step = 256;
    std::uint32_t capacity = estimate != 0 ? estimate : step;
    InflatedBuffer buffer(static_cast<std::uint8_t*>(std::malloc(capacity)));
    if (!buffer) throw EZlibError("Out of memory while inflating");

    z_stream z{};
    z.next_in = static_cast<Bytef*>(const_cast<void*>(input));
    z.avail_in = inputLength;
    z.next_out = buffer.get();
    z.avail_out = capacity;
    if (inflateInit(&z) != Z_OK) throw EZlibError("Cannot start inflating");
    ZStreamGuard guard{z};

    for (;;) {
        int r = inflate(&z, Z_NO_FLUSH);
        if (r == Z_STREAM_END) break;
        if (r != Z_OK && r != Z_BUF_ERROR) throw EZlibError("Damaged compressed data");
        if (z.avail_out != 0) {
            // Output room is left, so inflate stopped for want of input: the stream ends early.
            throw EZlibError("Compressed data ends early");
        }
        // Grow by the rounded input length, or by half the buffer once that is larger,
        // so that a high ratio does not turn into a long run of small copies.
        std::uint32_t grow = std::max(step, capacity / 2);
        if (capacity >= kMaxInflated || grow > kMaxInflated - capacity)
            throw EZlibError("Compressed data inflates beyond its limit");
        std::uint32_t done = static_cast<std::uint32_t>(z.total_out);
        auto* bigger = static_cast<std::uint8_t*>(std::realloc(buffer.get(), capacity + grow));
        if (!bigger) throw EZlibError("Out of memory while inflating");
        buffer.release();
        buffer.reset(bigger);
        capacity += grow;
        z.next_out = buffer.get() + done;
        z.avail_out = capacity - done;
    }
    outputLength = static_cast<std::uint32_t>(z.total_out);
    if (outputLength < capacity) {
        // Shrink to the inflated length (keep at least one byte so the pointer stays valid).
        if (auto* exact =
                static_cast<std::uint8_t*>(std::realloc(buffer.get(), outputLength ? outputLength : 1))) {
            buffer.release();
            buffer.reset(exact);
        }
    }
    return buffer;
}

struct TZDecompressionStream::State {
    z_stream z{};
    Bytef input[kInputBlock];
};

TZDecompressionStream::TZDecompressionStream(TStream& source)
    : source_(source), sourceStart_(source.Position()), sourcePosition_(sourceStart_),
      z_(std::make_unique<State>()) {
    z_->z.next_in = z_->input;
    z_->z.avail_in = 0;
    if (inflateInit(&z_->z) != Z_OK) throw EZlibError("Cannot start inflating");
}

TZDecompressionStream::~TZDecompressionStream() {
    inflateEnd(&z_->z);
}

std::int32_t TZDecompressionStream::Read(void* buffer, std::int32_t count) {
    if (count <= 0) return 0;
    z_stream& z = z_->z;
    z.next_out = static_cast<Bytef*>(buffer);
    z.avail_out = static_cast<uInt>(count);
    if (source_.Position() != sourcePosition_) source_.SetPosition(sourcePosition_);
    while (z.avail_out > 0 && !ended_) {
        if (z.avail_in == 0) {
            std::int32_t got = source_.Read(z_->input, kInputBlock);
            if (got <= 0) break; // the source has nothing more: a short count
            z.next_in = z_->input;
            z.avail_in = static_cast<uInt>(got);
            sourcePosition_ = source_.Position();
        }
        uInt inBefore = z.avail_in, outBefore = z.avail_out;
        int r = inflate(&z, Z_NO_FLUSH);
        if (r == Z_STREAM_END) {
            ended_ = true;
        } else if (r != Z_OK && r != Z_BUF_ERROR) {
            throw EZlibError("Damaged compressed data");
        } else if (z.avail_in == inBefore && z.avail_out == outBefore) {
            throw EZlibError("Damaged compressed data"); // no progress: never loop on it
        }
    }
    return count - static_cast<std::int32_t>(z.avail_out);
}

std::int32_t TZDecompressionStream::Seek(std::int32_t offset, SeekOrigin origin) {
    z_stream& z = z_->z;
    std::int32_t current = static_cast<std::int32_t>(z.total_out);
    if (offset == 0 && origin == soBeginning) {
        inflateReset(&z);
        z.next_in = z_->input;
        z.avail_in = 0;
        ended_ = false;
        source_.SetPosition(sourceStart_);
        sourcePosition_ = sourceStart_;
    } else if ((origin == soCurrent && offset >= 0) || (origin == soBeginning && offset > current)) {
        std::int32_t distance = origin == soCurrent ? offset : offset - current;
        std::uint8_t scratch[4096];
        while (distance > 0) {
            std::int32_t n = std::min<std::int32_t>(distance, sizeof scratch);
            ReadBuffer(scratch, n);
            distance -= n;
        }
    }
    return static_cast<std::int32_t>(z.total_out);
}

std::size_t TMemorySource::Read(void* buffer, std::size_t count) {
    std::size_t n = std::min(count, length_ - position_);
    if (n != 0) std::memcpy(buffer, data_ + position_, n);
    position_ += n;
    return n;
}

namespace {
// Large enough that reading a file costs few calls, small beside any budget.
constexpr std::size_t kSourceBlock = 256 * 1024;
} // namespace

// The buffers are not zero-filled: a small payload touches only what it uses.
struct TStreamInflater::State {
    z_stream z{};
    std::unique_ptr<Bytef[]> input{new Bytef[kSourceBlock]};
    std::unique_ptr<std::uint8_t[]> scratch; // for skipping, made when first needed
};

TStreamInflater::TStreamInflater(TByteSource& source) : source_(source), z_(std::make_unique<State>()) {
    source_.Rewind();
    if (inflateInit(&z_->z) != Z_OK) throw EZlibError("Cannot start inflating");
}

TStreamInflater::~TStreamInflater() {
    inflateEnd(&z_->z);
}

void TStreamInflater::Restart() {
    inflateReset(&z_->z);
    z_->z.avail_in = 0;
    source_.Rewind();
    position_ = 0;
    ended_ = false;
}

std::size_t TStreamInflater::Read(void* buffer, std::size_t count) {
    z_stream& z = z_->z;
    auto* out = static_cast<Bytef*>(buffer);
    std::size_t done = 0;
    while (done < count && !ended_) {
        if (z.avail_in == 0) {
            std::size_t got = source_.Read(z_->input.get(), kSourceBlock);
            if (got == 0) throw EZlibError("Compressed data ends early");
            z.next_in = z_->input.get();
            z.avail_in = static_cast<uInt>(got);
        }
        // zlib counts in 32 bits: never ask it for more at once.
        uInt want = static_cast<uInt>(std::min<std::size_t>(count - done, 0x40000000u));
        z.next_out = out + done;
        z.avail_out = want;
        uInt inBefore = z.avail_in;
        int r = inflate(&z, Z_NO_FLUSH);
        std::size_t made = want - z.avail_out;
        done += made;
        if (r == Z_STREAM_END)
            ended_ = true;
        else if (r != Z_OK && r != Z_BUF_ERROR)
            throw EZlibError("Damaged compressed data");
        else if (made == 0 && z.avail_in == inBefore)
            throw EZlibError("Damaged compressed data"); // no progress: never loop on it
    }
    position_ += done;
    return done;
}

std::uint64_t TStreamInflater::Skip(std::uint64_t count) {
    constexpr std::size_t kScratch = 65536;
    if (!z_->scratch) z_->scratch.reset(new std::uint8_t[kScratch]);
    std::uint64_t skipped = 0;
    while (skipped < count) {
        std::size_t n = Read(z_->scratch.get(),
                             static_cast<std::size_t>(std::min<std::uint64_t>(count - skipped, kScratch)));
        if (n == 0) break;
        skipped += n;
    }
    return skipped;
}
