#include "Sha256.h"
#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define NORVANTA_SHA_NI 1
#endif

namespace {
constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline std::uint32_t Rotate(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

void PlainBlocks(std::uint32_t* h, const std::uint8_t* data, std::size_t count) {
    for (; count > 0; --count, data += 64) {
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = std::uint32_t(data[4 * i]) << 24 | std::uint32_t(data[4 * i + 1]) << 16 |
                   std::uint32_t(data[4 * i + 2]) << 8 | data[4 * i + 3];
        for (int i = 16; i < 64; ++i) {
            std::uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
            std::uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
        for (int i = 0; i < 64; ++i) {
            std::uint32_t t1 =
                k + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
            std::uint32_t t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            k = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += k;
    }
}

#ifdef NORVANTA_SHA_NI
bool HasShaInstructions() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSE4_1) || !(c & bit_SSSE3)) return false;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid_count(7, 0, a, b, c, d);
    return (b & bit_SHA) != 0;
}

// Four rounds on the message words in m, with the schedule kept in the caller.
#define NORVANTA_ROUNDS(m, i)                                                                                \
    do {                                                                                                     \
        __m128i k = _mm_add_epi32(m, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound + (i))));       \
        state1 = _mm_sha256rnds2_epu32(state1, state0, k);                                                   \
        state0 = _mm_sha256rnds2_epu32(state0, state1, _mm_shuffle_epi32(k, 0x0E));                          \
    } while (0)

__attribute__((target("sha,sse4.1,ssse3"))) void ShaBlocks(std::uint32_t* h, const std::uint8_t* data,
                                                           std::size_t count) {
    const __m128i swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i t = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0xB1);
    __m128i state1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4)), 0x1B);
    __m128i state0 = _mm_alignr_epi8(t, state1, 8); // ABEF
    state1 = _mm_blend_epi16(state1, t, 0xF0);      // CDGH
    for (; count > 0; --count, data += 64) {
        __m128i save0 = state0, save1 = state1;
        __m128i m[4];
        for (int i = 0; i < 4; ++i)
            m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), swap);
        for (int i = 0; i < 16; ++i) {
            __m128i& cur = m[i & 3];
            if (i >= 4) {
                // The next four schedule words from the four before them.
                cur = _mm_sha256msg1_epu32(cur, m[(i + 1) & 3]);
                cur = _mm_add_epi32(cur, _mm_alignr_epi8(m[(i + 3) & 3], m[(i + 2) & 3], 4));
                cur = _mm_sha256msg2_epu32(cur, m[(i + 3) & 3]);
            }
            NORVANTA_ROUNDS(cur, 4 * i);
        }
        state0 = _mm_add_epi32(state0, save0);
        state1 = _mm_add_epi32(state1, save1);
    }
    t = _mm_shuffle_epi32(state0, 0x1B);       // FEBA
    state1 = _mm_shuffle_epi32(state1, 0xB1);  // DCHG
    state0 = _mm_blend_epi16(t, state1, 0xF0); // DCBA
    state1 = _mm_alignr_epi8(state1, t, 8);    // ABEF -> HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 4), state1);
}
#undef NORVANTA_ROUNDS

#endif
} // namespace

#ifdef NORVANTA_SHA_NI
bool Sha256UseInstructions = HasShaInstructions();
#else
bool Sha256UseInstructions = false;
#endif

TSha256::TSha256() {
    static constexpr std::uint32_t kStart[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::memcpy(state_, kStart, sizeof state_);
}

void TSha256::Blocks(const std::uint8_t* data, std::size_t count) {
#ifdef NORVANTA_SHA_NI
    if (Sha256UseInstructions) return ShaBlocks(state_, data, count);
#endif
    PlainBlocks(state_, data, count);
}

void TSha256::Add(const void* bytes, std::size_t length) {
    auto* p = static_cast<const std::uint8_t*>(bytes);
    total_ += length;
    if (pendingLength_ > 0) {
        std::size_t n = std::min(length, sizeof pending_ - pendingLength_);
        std::memcpy(pending_ + pendingLength_, p, n);
        pendingLength_ += n, p += n, length -= n;
        if (pendingLength_ < sizeof pending_) return;
        Blocks(pending_, 1);
        pendingLength_ = 0;
    }
    Blocks(p, length / 64);
    p += length / 64 * 64;
    pendingLength_ = length % 64;
    std::memcpy(pending_, p, pendingLength_);
}

TSha256::Digest TSha256::Finish() {
    std::uint64_t bits = total_ * 8;
    std::uint8_t tail[72] = {0x80};
    std::size_t pad = (pendingLength_ < 56 ? 56 : 120) - pendingLength_;
    for (int i = 0; i < 8; ++i) tail[pad + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    Add(tail, pad + 8);
    Digest d;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j) d[4 * i + j] = static_cast<std::uint8_t>(state_[i] >> (24 - 8 * j));
    *this = TSha256();
    return d;
}

std::string TSha256::Hex(const Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : digest) text += {kDigits[b >> 4], kDigits[b & 15]};
    return text;
}

std::string TSha256::HexOf(const void* bytes, std::size_t length) {
    TSha256 h;
    h.Add(bytes, length);
    return Hex(h.Finish());
}
