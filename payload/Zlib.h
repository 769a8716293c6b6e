// zlib's inflate behind two wrappers: a whole buffer inflated at once, and a
// read-only stream that inflates another stream while it is read.
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
