// dfm2bin INPUT.dfm OUTPUT.bin: the text form definition in its binary form.
// Errors name the input's line; no output is written then.
#include "DfmConvert.h"
#include <cstdio>
#include <string>

static bool ReadFile(const char* path, std::string& bytes) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    char block[4096];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) bytes.append(block, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

static bool WriteFile(const char* path, const std::string& bytes) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0) ok = false;
    if (!ok) std::remove(path);
    return ok;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: dfm2bin INPUT.dfm OUTPUT.bin\n");
        return 2;
    }
    std::string text;
    if (!ReadFile(argv[1], text)) {
        std::fprintf(stderr, "dfm2bin: cannot read %s\n", argv[1]);
        return 1;
    }
    std::string binary;
    try {
        binary = ConvertFormText(text);
    } catch (const EDfmError& e) {
        std::fprintf(stderr, "%s:%d: error: %s\n", argv[1], e.Line(), e.Text().c_str());
        return 1;
    }
    if (!WriteFile(argv[2], binary)) {
        std::fprintf(stderr, "dfm2bin: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
