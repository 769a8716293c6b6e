// zlib's inflate behind three wrappers: a whole buffer inflated at once, a
// read-only stream that inflates another stream while it is read, and the
// payload's inflater, which reads its compressed bytes block by block from a
// source of any size and counts in 64 bits.
#pragma once
#include "Streams.h"
#include <cstdint>
#include <cstdlib>
#include <memory>

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using InflatedBuffer = std::unique_ptr<std::uint8_t[], FreeDeleter>;

// Inflates a complete zlib stream into one new buffer of exactly the inflated
// length. The estimate sizes the first allocation (0: the input length rounded up
// to 256). Throws EZlibError when the stream is corrupt, ends early or would
// inflate beyond 2 GiB.
InflatedBuffer InflateBuffer(const void* input, std::uint32_t inputLength, std::uint32_t estimate,
                             std::uint32_t& outputLength);

// zlib's adler32 (the same values, any length), 16 bytes at a step where the
// processor has SSE2: checking a large payload before it is installed is
// otherwise a tenth of a second spent on its check value.
std::uint32_t Adler32(std::uint32_t check, const void* data, std::size_t length);

// Compressed bytes that could not be read (a share or a removable disk that
// went away): no damage, and the same read may succeed later. Error is the
// system's code.
class EPayloadReadError : public Exception {
public:
    EPayloadReadError(std::string message, unsigned long error)
        : Exception(std::move(message)), Error(error) {}
    unsigned long Error;
};

// Compressed bytes read in order from their start, such as a span of a file.
class TByteSource {
public:
    virtual ~TByteSource() = default;
    // Up to count bytes from the current position on; 0 at the end. Throws
    // EPayloadReadError when the bytes cannot be read.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Back to the first byte.
    virtual void Rewind() = 0;
};

// Bytes held by someone else.
class TMemorySource : public TByteSource {
public:
    TMemorySource(const void* data, std::size_t length)
        : data_(static_cast<const std::uint8_t*>(data)), length_(length) {}
    std::size_t Read(void* buffer, std::size_t count) override;
    void Rewind() override { position_ = 0; }

private:
    const std::uint8_t* data_;
    std::size_t length_;
    std::size_t position_ = 0;
};

// Inflates one complete zlib stream from a source, never holding more than
// one input block. Reads past the stream's end give short counts; a damaged
// stream, or one whose source ends before the stream does, throws EZlibError.
// A source that cannot be read throws through it: only Restart goes on from there.
class TStreamInflater {
public:
    explicit TStreamInflater(TByteSource& source); // not owned
    ~TStreamInflater();
    TStreamInflater(const TStreamInflater&) = delete;
    TStreamInflater& operator=(const TStreamInflater&) = delete;

    // Up to count bytes; fewer only where the stream ends.
    std::size_t Read(void* buffer, std::size_t count);
    // Throws count bytes away; the number there were before the end.
    std::uint64_t Skip(std::uint64_t count);
    // From the first byte again (the source is rewound).
    void Restart();
    // Inflated bytes delivered or skipped since the start.
    std::uint64_t Position() const { return position_; }
    // The stream's end was reached and its check value matched.
    bool Ended() const { return ended_; }

private:
    struct State;
    TByteSource& source_;
    std::unique_ptr<State> z_;
    std::uint64_t position_ = 0;
    bool ended_ = false;
};

class TZDecompressionStream : public TStream {
public:
    // Inflates the source from its current position on (the source is not owned).
    explicit TZDecompressionStream(TStream& source);
    ~TZDecompressionStream() override;
    TZDecompressionStream(const TZDecompressionStream&) = delete;
    TZDecompressionStream& operator=(const TZDecompressionStream&) = delete;

    // A short count at the end of the data; throws EZlibError on corrupt data.
    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void*, std::int32_t) override { return 0; } // read-only
    // The position is the number of bytes delivered. Seeking to 0 restarts from
    // where the source stood when this stream was made; forward moves skip output
    // (EStreamError when it runs out); anything else changes nothing.
    std::int32_t Seek(std::int32_t offset, SeekOrigin origin) override;

private:
    struct State;
    TStream& source_;
    std::int32_t sourceStart_;
    std::int32_t sourcePosition_;
    std::unique_ptr<State> z_;
    bool ended_ = false;
};
