#include "Zlib.h"
#include <algorithm>
#include <cstring>
#include <zlib.h>
#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <emmintrin.h>
#endif

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

namespace {
constexpr std::uint32_t kAdlerBase = 65521;
// The most bytes summed before both sums are reduced (zlib's NMAX); a multiple of 16.
constexpr std::size_t kAdlerRun = 5552;

#if defined(__i386__) || defined(__x86_64__)
bool HasSse2() {
#if defined(__x86_64__)
    return true;
#else
    unsigned a, b, c, d;
    return __get_cpuid(1, &a, &b, &c, &d) && (d & bit_SSE2) != 0;
#endif
}

// One run of 16-byte pieces (at most kAdlerRun bytes). For n bytes x[j] the
// sums grow by A' = A + sum x[j] and B' = B + n*A + sum (n - j) x[j]; piece by
// piece the weights are 16 times the pieces still to come, plus 16..1 inside.
__attribute__((target("sse2"))) void AdlerRun(std::uint32_t& a, std::uint32_t& b, const std::uint8_t* p,
                                              std::size_t n) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i first = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
    const __m128i second = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    __m128i sum = zero, before = zero, weighted = zero;
    for (std::size_t i = 0; i < n; i += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        before = _mm_add_epi32(before, sum); // the sums of the pieces so far, once per piece
        sum = _mm_add_epi32(sum, _mm_sad_epu8(x, zero));
        weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(x, zero), first));
        weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpackhi_epi8(x, zero), second));
    }
    alignas(16) std::uint32_t s[4], f[4], w[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(s), sum);
    _mm_store_si128(reinterpret_cast<__m128i*>(f), before);
    _mm_store_si128(reinterpret_cast<__m128i*>(w), weighted);
    std::uint64_t added = std::uint64_t(s[0]) + s[1] + s[2] + s[3];
    std::uint64_t lead = std::uint64_t(f[0]) + f[1] + f[2] + f[3];
    std::uint64_t inner = std::uint64_t(w[0]) + w[1] + w[2] + w[3];
    b = static_cast<std::uint32_t>((b + std::uint64_t(n) * a + 16 * lead + inner) % kAdlerBase);
    a = static_cast<std::uint32_t>((a + added) % kAdlerBase);
}
#endif
} // namespace

std::uint32_t Adler32(std::uint32_t check, const void* data, std::size_t length) {
    const auto* p = static_cast<const std::uint8_t*>(data);
#if defined(__i386__) || defined(__x86_64__)
    static const bool sse2 = HasSse2();
    if (sse2) {
        std::uint32_t a = check & 0xFFFF, b = check >> 16;
        while (length >= 16) {
            std::size_t n = std::min(length & ~std::size_t(15), kAdlerRun);
            AdlerRun(a, b, p, n);
            p += n;
            length -= n;
        }
        for (; length > 0; --length) {
            a += *p++;
            b += a;
        }
        return (b % kAdlerBase) << 16 | (a % kAdlerBase);
    }
#endif
    uLong sum = check;
    while (length > 0) { // zlib takes 32-bit lengths
        uInt step = static_cast<uInt>(std::min<std::size_t>(length, 0x40000000u));
        sum = adler32(sum, p, step);
        p += step;
        length -= step;
    }
    return static_cast<std::uint32_t>(sum);
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
