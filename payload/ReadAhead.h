// The payload's inflater on a thread of its own, a few blocks ahead of the
// writer: inflating the next bytes costs about as much as writing the last
// ones, and the two need not wait for each other.
#pragma once
#include "Zlib.h"
#include <cstdint>
#include <memory>

class TInflateAhead {
public:
    // The inflater is not owned; while this object lives only it uses it.
    // Without a thread the reader inflates each block itself, into one block.
    TInflateAhead(TStreamInflater& inflater, bool threaded);
    ~TInflateAhead(); // stops the thread and waits for it to end
    TInflateAhead(const TInflateAhead&) = delete;
    TInflateAhead& operator=(const TInflateAhead&) = delete;

    // The next inflated bytes in order, at most count: bytes points at them
    // until the next call. 0 only at the stream's end. Throws what the inflater
    // threw (EZlibError, EPayloadReadError) at the start of the block it was
    // filling, until Restart.
    std::size_t Take(const std::uint8_t*& bytes, std::size_t count);
    // Throws count bytes away; the number there were before the end.
    std::uint64_t Skip(std::uint64_t count);
    // From the first byte again.
    void Restart();
    // Inflated bytes taken or skipped since the start.
    std::uint64_t Position() const { return position_; }

    static constexpr std::size_t kBlock = 512 * 1024;
    static constexpr unsigned kBlocks = 3;

private:
    struct State;
    static unsigned long __stdcall Run(void* state);
    std::unique_ptr<State> s_;
    std::uint64_t position_ = 0;
};
