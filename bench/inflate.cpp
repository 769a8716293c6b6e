// bench-inflate: how long the setup's own inflate takes on its payload, in one
// process, so that the silent install can be set against "the floor plus the
// time zlib needs". Reads the FILES resource of the given program and inflates it
// the way the setup does (the same inflater, block by block into one 1 MiB
// block, bytes thrown away), several times.
//
//   bench-inflate PROGRAM [RUNS]
//     inflate_ms=T min_ms=T max_ms=T compressed=N inflated=N runs=N
//
// Exit code: 0 measured, 2 bad command line, 3 no payload, 4 the payload does not inflate.
#include "Exceptions.h"
#include "Zlib.h"
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: bench-inflate PROGRAM [RUNS]\n");
        return 2;
    }
    int runs = argc == 3 ? static_cast<int>(std::wcstol(argv[2], nullptr, 10)) : 21;
    if (runs < 1 || runs > 1000) {
        std::fprintf(stderr, "bench-inflate: RUNS must be 1 to 1000\n");
        return 2;
    }
    HMODULE program =
        LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    HRSRC res = program ? FindResourceW(program, L"FILES", L"FILES") : nullptr;
    HGLOBAL loaded = res ? LoadResource(program, res) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) {
        std::fprintf(stderr, "bench-inflate: no FILES resource in the program\n");
        return 3;
    }
    DWORD size = SizeofResource(program, res);
    LARGE_INTEGER freq, a, b;
    QueryPerformanceFrequency(&freq);
    std::vector<double> ms;
    std::uint64_t inflated = 0;
    std::vector<std::uint8_t> block(1 << 20);
    try {
        for (int i = 0; i < runs; ++i) {
            QueryPerformanceCounter(&a);
            TMemorySource source(bytes, size);
            TStreamInflater inflater(source);
            while (inflater.Read(block.data(), block.size()) != 0) {}
            inflated = inflater.Position();
            QueryPerformanceCounter(&b);
            ms.push_back(1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) /
                         static_cast<double>(freq.QuadPart));
        }
    } catch (const Exception& e) {
        std::fprintf(stderr, "bench-inflate: %s\n", e.Message().c_str());
        return 4;
    }
    std::sort(ms.begin(), ms.end());
    double median = ms.size() % 2 ? ms[ms.size() / 2] : (ms[ms.size() / 2 - 1] + ms[ms.size() / 2]) / 2;
    std::printf("inflate_ms=%.3f min_ms=%.3f max_ms=%.3f compressed=%lu inflated=%llu runs=%d\n", median,
                ms.front(), ms.back(), static_cast<unsigned long>(size),
                static_cast<unsigned long long>(inflated), runs);
    return 0;
}
