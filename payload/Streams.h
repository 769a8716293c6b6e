// Byte streams: the base class, a memory stream and a read-only view over
// bytes that someone else owns. Positions and counts are 32-bit signed.
#pragma once
#include "Exceptions.h"
#include <cstdint>
#include <vector>

enum SeekOrigin : int { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
public:
    virtual ~TStream() = default;
    // Delivers at most count bytes; the number delivered.
    virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
    virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
    virtual std::int32_t Seek(std::int32_t offset, SeekOrigin origin) = 0;

    std::int32_t Position() { return Seek(0, soCurrent); }
    void SetPosition(std::int32_t position) { Seek(position, soBeginning); }
    std::int32_t Size();
    // Reads exactly count bytes or throws EStreamError ("Operation aborted").
    void ReadBuffer(void* buffer, std::int32_t count);
};

// A stream over bytes it does not own; writing stores nothing.
class TReadOnlyMemoryStream : public TStream {
public:
    TReadOnlyMemoryStream(const void* data, std::int32_t size);
    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void*, std::int32_t) override { return 0; }
    std::int32_t Seek(std::int32_t offset, SeekOrigin origin) override;
    const std::uint8_t* Memory() const { return data_; }

protected:
    void Reset(const void* data, std::int32_t size);

private:
    const std::uint8_t* data_ = nullptr;
    std::int32_t size_ = 0;
    std::int32_t position_ = 0;
};

// A growable stream that owns its bytes.
class TMemoryStream : public TStream {
public:
    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;
    std::int32_t Seek(std::int32_t offset, SeekOrigin origin) override;
    // Reads count bytes from another stream into this one (throws when short).
    void CopyFrom(TStream& source, std::int32_t count);
    const std::uint8_t* Memory() const { return bytes_.data(); }
    std::int32_t ByteCount() const { return static_cast<std::int32_t>(bytes_.size()); }
    void Clear();

private:
    std::vector<std::uint8_t> bytes_;
    std::int32_t position_ = 0;
};
