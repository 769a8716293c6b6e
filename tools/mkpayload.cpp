// mkpayload pack <payload-folder> <out-file> [<index-file>]: the FILES stream of
// the setup, and the index it reads beside it.
// mkpayload list <archive-or-exe>: its entries, then totals.
// mkpayload locate <exe>: where the FILES resource lies in the file (offset and
// length in bytes), for the release checks that change a byte of it.
#include "Packer.h"
#include "PeResource.h"
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        std::fputs("usage: mkpayload pack <payload-folder> <out-file> [<index-file>]\n"
                   "       mkpayload list <archive-or-setup.exe>\n"
                   "       mkpayload locate <setup.exe>\n",
                   stderr);
        return 2;
    }
    try {
        if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "pack") == 0) {
            TimePolicy policy = TimePolicyFromEnvironment();
            std::vector<PayloadFile> files = CollectPayload(argv[2], policy);
            PackPayload(files, argv[3], argc == 5 ? argv[4] : "");
            return 0;
        }
        if (argc == 3 && std::strcmp(argv[1], "list") == 0) {
            std::vector<std::uint8_t> bytes = ReadFileBytes(argv[2]);
            std::string text = ListPayload(bytes.data(), bytes.size());
            std::fwrite(text.data(), 1, text.size(), stdout);
            return 0;
        }
        if (argc == 3 && std::strcmp(argv[1], "locate") == 0) {
            std::vector<std::uint8_t> bytes = ReadFileBytes(argv[2]);
            FileSpan span = FindPeResource(bytes.data(), bytes.size(), "FILES", "FILES");
            std::printf("%zu %zu\n", span.Offset, span.Length);
            return 0;
        }
        std::fprintf(stderr, "mkpayload: unknown command \"%s\"\n", argv[1]);
        return 2;
    } catch (const Exception& e) {
        std::fprintf(stderr, "mkpayload: %s\n", e.Message().c_str());
        return 1;
    }
}
