// Both zlib wrappers over the same bytes, checked against zlib itself: the whole
// buffer must inflate exactly when zlib reaches the end of the stream, and the
// stream, read in pieces of any size between restarts and seeks, must deliver
// the same bytes and fail only where the data is damaged.
//
// Input: one byte K, K control bytes (which wrapper settings, which reads and
// seeks), then the zlib stream.
#include "FuzzCommon.h"
#include "Zlib.h"
#include <algorithm>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>
#include <zlib.h>

namespace {
constexpr std::size_t kCap = 64u << 20; // beyond this the bytes are not compared

// What zlib alone makes of the stream: the bytes before the end or the damage.
struct Reference {
    std::string Bytes;
    bool Ended = false;   // the stream's end was reached
    bool Damaged = false; // zlib refused the data
    bool Capped = false;
};

Reference Inflate(const std::uint8_t* z, std::size_t n) {
    Reference ref;
    z_stream s{};
    if (inflateInit(&s) != Z_OK) std::abort();
    s.next_in = const_cast<Bytef*>(z);
    s.avail_in = static_cast<uInt>(n);
    std::vector<Bytef> block(65536);
    for (;;) {
        s.next_out = block.data();
        s.avail_out = static_cast<uInt>(block.size());
        int r = inflate(&s, Z_NO_FLUSH);
        ref.Bytes.append(reinterpret_cast<const char*>(block.data()), block.size() - s.avail_out);
        if (r == Z_STREAM_END) {
            ref.Ended = true;
            break;
        }
        if (r != Z_OK && r != Z_BUF_ERROR) {
            ref.Damaged = true;
            break;
        }
        if (s.avail_out != 0) break; // all input used: the stream ends early
        if (ref.Bytes.size() >= kCap) {
            ref.Capped = true;
            break;
        }
    }
    inflateEnd(&s);
    return ref;
}

void CheckBuffer(const std::uint8_t* z, std::size_t n, std::uint32_t estimate, const Reference& ref) {
    std::uint32_t length = 0;
    InflatedBuffer out;
    bool refused =
        Refused<EZlibError>([&] { out = InflateBuffer(z, static_cast<std::uint32_t>(n), estimate, length); });
    if (ref.Capped) return;
    FUZZ_CHECK(refused == !ref.Ended);
    if (refused) return;
    FUZZ_CHECK(out != nullptr);
    FUZZ_CHECK(length == ref.Bytes.size());
    FUZZ_CHECK(length == 0 || std::memcmp(out.get(), ref.Bytes.data(), length) == 0);
}

// Reads and seeks as the control bytes say, keeping the expected position.
void CheckStream(TStream& source, FuzzedDataProvider& control, const Reference& ref) {
    const std::int64_t known = static_cast<std::int64_t>(ref.Bytes.size());
    // A whole stream: every byte is delivered, reading stops with a short count
    // at its end and never fails. A damaged or cut one may fail anywhere, or
    // stop early (bytes zlib still holds when the source has no more are lost),
    // but what it delivers is what zlib decodes.
    const bool clean = ref.Ended;
    TZDecompressionStream zs(source); // from where the source stands: restarts come back there
    std::int64_t pos = 0;
    for (int op = 0; op < 64 && control.remaining_bytes() > 0; ++op) {
        std::uint8_t what = control.ConsumeIntegral<std::uint8_t>();
        try {
            switch (what % 8) {
            case 0:
            case 1: {
                // Small pieces most of the time, sometimes more than a source block.
                std::int32_t n = what & 0x80 ? control.ConsumeIntegralInRange<std::int32_t>(0, 140000)
                                             : control.ConsumeIntegralInRange<std::int32_t>(0, 300);
                if (ref.Capped && pos + n > known) break;
                std::vector<std::uint8_t> buffer(static_cast<std::size_t>(n)); // exact, for ASan
                std::int32_t got = zs.Read(buffer.data(), n);
                FUZZ_CHECK(got >= 0 && got <= n);
                FUZZ_CHECK(pos + got <= known);
                FUZZ_CHECK(got == 0 || std::memcmp(buffer.data(), ref.Bytes.data() + pos, got) == 0);
                if (got < n && clean) FUZZ_CHECK(pos + got == known);
                pos += got;
                break;
            }
            case 2:
                FUZZ_CHECK(zs.Seek(0, soBeginning) == 0);
                pos = 0;
                break;
            case 3:
            case 4: {
                // Forward moves skip output, a move to 0 restarts, any other
                // move changes nothing.
                bool fromHere = what % 8 == 3;
                std::int32_t k = fromHere ? control.ConsumeIntegralInRange<std::int32_t>(0, 5000)
                                          : control.ConsumeIntegralInRange<std::int32_t>(-5, 20000);
                std::int64_t to = fromHere ? pos + k : k > pos || k == 0 ? k : pos;
                if (ref.Capped && to > known) break;
                std::int32_t result = -1;
                if (Refused<EStreamError>([&] { result = zs.Seek(k, fromHere ? soCurrent : soBeginning); })) {
                    FUZZ_CHECK(!clean || to > known);
                    FUZZ_CHECK(zs.Seek(0, soBeginning) == 0); // the position is lost: restart
                    pos = 0;
                } else {
                    FUZZ_CHECK(to <= known && result == to);
                    pos = to;
                }
                break;
            }
            case 5: {
                // Moves that change nothing: from the end, backwards, negative.
                std::int32_t k = control.ConsumeIntegral<std::int32_t>();
                FUZZ_CHECK(zs.Seek(k, soEnd) == pos);
                if (k < 0) FUZZ_CHECK(zs.Seek(k, soCurrent) == pos);
                FUZZ_CHECK(zs.Size() == pos);
                break;
            }
            case 6:
                // Another user of the same source moves it; the stream must not mind.
                source.SetPosition(control.ConsumeIntegral<std::int32_t>());
                break;
            case 7:
                FUZZ_CHECK(zs.Position() == pos);
                break;
            }
        } catch (const EStreamError&) {
            // Only damaged data may fail; a read that met it stands nowhere known.
            FUZZ_CHECK(!clean);
            FUZZ_CHECK(zs.Seek(0, soBeginning) == 0);
            pos = 0;
        }
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::size_t k = std::min<std::size_t>(data[0], size - 1);
    FuzzedDataProvider control(data + 1, k);
    const std::uint8_t* z = data + 1 + k;
    const std::size_t n = size - 1 - k;
    const Reference ref = Inflate(z, n);

    // The payload reader's estimate (five times the input), none, or any.
    std::uint8_t mode = control.ConsumeIntegral<std::uint8_t>();
    std::uint32_t estimate = mode % 3 == 0   ? static_cast<std::uint32_t>(n * 5)
                             : mode % 3 == 1 ? 0
                                             : control.ConsumeIntegralInRange<std::uint32_t>(1, 1u << 20);
    CheckBuffer(z, n, estimate, ref);

    // The compressed bytes start part-way into the source (after other bytes,
    // as the logo's data follows its chunk header), or at its start.
    std::vector<std::uint8_t> bytes(control.ConsumeIntegralInRange<std::size_t>(0, 16), 0xA5);
    const std::int32_t start = static_cast<std::int32_t>(bytes.size());
    bytes.insert(bytes.end(), z, z + n);
    if (mode & 0x80) {
        TReadOnlyMemoryStream source(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        source.SetPosition(start);
        CheckStream(source, control, ref);
    } else {
        TMemoryStream source;
        source.Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        source.SetPosition(start);
        CheckStream(source, control, ref);
    }
    return 0;
}
