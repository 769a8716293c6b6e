// Finds a resource named by strings (type and name) in a PE file by walking its
// resource directory. Every offset is checked against the file: a damaged file
// gives an error, never a read outside it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct FileSpan {
    std::size_t Offset = 0;
    std::size_t Length = 0;
};

bool LooksLikePe(const std::uint8_t* file, std::size_t size);

// The resource's bytes within the file (the first language found). Throws
// EPackError when the file is damaged or carries no such resource.
FileSpan FindPeResource(const std::uint8_t* file, std::size_t size, const std::string& type,
                        const std::string& name);
