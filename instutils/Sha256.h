// SHA-256, fed in pieces of any size. The payload's proof and the install
// records' tamper check; the processor's SHA instructions are used when it has
// them (a tenth of the time), with the same result.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class TSha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;
    TSha256();
    void Add(const void* bytes, std::size_t length);
    // The digest of everything added; the object starts again afterwards.
    Digest Finish();

    // The digest in 64 lower-case hex digits.
    static std::string Hex(const Digest& digest);
    static std::string HexOf(const void* bytes, std::size_t length);

private:
    void Blocks(const std::uint8_t* data, std::size_t count);
    std::uint32_t state_[8];
    std::uint8_t pending_[64];
    std::size_t pendingLength_ = 0;
    std::uint64_t total_ = 0;
};

// Whether the processor's SHA instructions are used (when it has them); a seam
// for the tests, which check both ways give the same digests.
extern bool Sha256UseInstructions;
