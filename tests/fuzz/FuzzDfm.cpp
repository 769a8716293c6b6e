// The text form converter on any text. What it accepts must be a well-formed
// binary definition, which the form reader then reads without harm.
#include "Classes.h"
#include "DfmConvert.h"
#include "FuzzCommon.h"
#include "StandIns.h"
#include <string_view>

namespace {
// Walks a binary definition without knowing any class: the structure alone.
class Walker {
public:
    explicit Walker(std::string_view bytes) : b_(bytes) {}
    bool Definition() {
        if (b_.substr(0, 4) != "TPF0") return false;
        pos_ = 4;
        return Component(0) && pos_ == b_.size();
    }

private:
    bool Byte(std::uint8_t& v) {
        if (pos_ >= b_.size()) return false;
        v = static_cast<std::uint8_t>(b_[pos_++]);
        return true;
    }
    bool Skip(std::size_t n) {
        if (b_.size() - pos_ < n) return false;
        pos_ += n;
        return true;
    }
    bool ShortString(bool nonEmpty) {
        std::uint8_t n;
        return Byte(n) && (!nonEmpty || n > 0) && Skip(n);
    }
    bool Value() {
        std::uint8_t code;
        if (!Byte(code)) return false;
        switch (code) {
        case 2:
            return Skip(1);
        case 3:
            return Skip(2);
        case 4:
            return Skip(4);
        case 6:
        case 7:
            return ShortString(code == 7);
        case 8:
        case 9:
        case 13:
            return true;
        default:
            return false;
        }
    }
    bool AtEnd() { return pos_ < b_.size() && b_[pos_] == 0; }
    bool Component(int depth) {
        if (depth > 64 || !ShortString(true) || !ShortString(false)) return false;
        while (!AtEnd())
            if (!ShortString(true) || !Value()) return false;
        ++pos_;
        while (!AtEnd())
            if (!Component(depth + 1)) return false;
        ++pos_;
        return true;
    }

    std::string_view b_;
    std::size_t pos_ = 0;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool registered = (RegisterStandIns(), true);
    (void)registered;
    std::string binary;
    if (Refused<EDfmError>(
            [&] { binary = ConvertFormText(std::string_view(reinterpret_cast<const char*>(data), size)); }))
        return 0;
    FUZZ_CHECK(Walker(binary).Definition());

    // The reader takes each value by its property's kind, not by the code the
    // converter chose, so a value of the wrong kind may read as other bytes:
    // whatever it makes of them, it stays inside the definition.
    TMainForm form(nullptr);
    TReadOnlyMemoryStream stream(binary.data(), static_cast<std::int32_t>(binary.size()));
    if (!Refused<EReadError>([&] { ReadComponent(stream, form); })) {
        std::int32_t end = stream.Position();
        FUZZ_CHECK(end > 4 && static_cast<std::size_t>(end) <= binary.size() && binary[end - 1] == 0);
    }
    AfterLoadLog().clear();
    return 0;
}
