// The form reader on any definition, read the way the wizard window reads its
// own: into an existing TMainForm of stand-in controls with the wizard's
// published properties, fields and methods. A damaged definition may only end
// in EReadError; a definition that loads leaves every component owned by the
// form and finished loading, every field bound to a component of its name and
// class, and every event bound to a handler of its own signature.
#include "Classes.h"
#include "FuzzCommon.h"
#include "StandIns.h"
#include <algorithm>
#include <memory>

namespace {
const std::uint8_t* Bytes = nullptr;
std::size_t Length = 0;

std::unique_ptr<TStream> OpenInput(const std::string&) {
    return std::make_unique<TReadOnlyMemoryStream>(Bytes, static_cast<std::int32_t>(Length));
}

bool Owns(const TComponent& owner, const TComponent* c) {
    auto list = owner.Components();
    return std::find(list.begin(), list.end(), c) != list.end();
}

void CheckLoaded(TMainForm& form) {
    FUZZ_CHECK((form.ComponentState() & (csLoading | csReading)) == 0);
    for (TComponent* c : form.Components()) {
        FUZZ_CHECK(c->Owner() == &form);
        FUZZ_CHECK((c->ComponentState() & (csLoading | csReading)) == 0);
    }
    for (const TFieldInfo& field : TMainForm::Info.Fields) {
        TComponent* c = field.Get(&form);
        if (!c) continue;
        FUZZ_CHECK(Owns(form, c));
        FUZZ_CHECK(SameName(c->Name(), field.Name));
        FUZZ_CHECK(c->InheritsFrom(field.Class));
    }
    // Handlers run on the form: calling each bound event must reach a method.
    std::size_t calls = 0;
    auto fire = [&](auto& event, auto&&... args) {
        if (!event) return;
        FUZZ_CHECK(event.Method.Data == &form);
        event(args...);
        FUZZ_CHECK(form.Calls.size() == ++calls);
    };
    for (TComponent* c : form.Components()) {
        if (auto* button = dynamic_cast<TButton*>(c)) fire(button->OnClick, button);
        if (auto* combo = dynamic_cast<TComboBox*>(c)) fire(combo->OnChange, combo);
    }
    bool canClose = true;
    fire(form.OnCloseQuery, &form, canClose);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool registered = [] {
        RegisterStandIns();
        SetClassResourceOpener(&OpenInput);
        return true;
    }();
    (void)registered;
    Bytes = data;
    Length = size;
    AfterLoadLog().clear();

    // As the wizard is built: its own class's definition, read into it.
    auto form = std::make_unique<TMainForm>(nullptr);
    bool loaded = !Refused<EReadError>([&] { LoadFromClassResources(form.get(), &TForm::Info); });
    if (loaded) {
        CheckLoaded(*form);
        // The same definition for TForm and TMainForm: two reads into one root
        // that share one load, with every name met twice.
        auto twice = std::make_unique<TMainForm>(nullptr);
        if (!Refused<EReadError>([&] { LoadFromClassResources(twice.get(), &TWinControl::Info); }))
            CheckLoaded(*twice);
    }
    form.reset();

    // A definition read into a new object of the registered class it names; the
    // stream then stands just after the definition's last end marker.
    TReadOnlyMemoryStream stream(data, static_cast<std::int32_t>(size));
    std::unique_ptr<TComponent> root;
    if (!Refused<EReadError>([&] { root = ReadComponent(stream); })) {
        FUZZ_CHECK(root != nullptr);
        std::int32_t end = stream.Position();
        FUZZ_CHECK(end >= 8 && static_cast<std::size_t>(end) <= size && data[end - 1] == 0);
        for (TComponent* c : root->Components()) FUZZ_CHECK((c->ComponentState() & csLoading) == 0);
    }
    AfterLoadLog().clear();
    return 0;
}
