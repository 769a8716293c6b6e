// The host lister's PE resource walker, and the lister itself, on any file: a
// resource it finds lies inside the file, and a damaged file ends in the
// lister's own errors.
#include "Archive.h"
#include "FuzzCommon.h"
#include "Packer.h"
#include "PeResource.h"

namespace {
void Find(const std::uint8_t* data, std::size_t size, const char* type, const char* name) {
    FileSpan span;
    if (Refused<EPackError>([&] { span = FindPeResource(data, size, type, name); })) return;
    FUZZ_CHECK(LooksLikePe(data, size));
    FUZZ_CHECK(span.Offset <= size && span.Length <= size - span.Offset);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Find(data, size, "FILES", "FILES");
    Find(data, size, "PNG", "LOGO");
    Find(data, size, "files", "Files"); // names match ignoring case
    // mkpayload list: the FILES resource of a PE file, or a bare stream.
    std::string listing;
    if (!Refused<EPackError, EZlibError, EArchiveError>([&] { listing = ListPayload(data, size); }))
        FUZZ_CHECK(listing.find(" entries, ") != std::string::npos);
    return 0;
}
