#include "ResourceStream.h"
#include "Classes.h"

TResourceStream::TResourceStream(HINSTANCE instance, const std::string& name, LPCSTR type)
    : TReadOnlyMemoryStream(nullptr, 0) {
    HRSRC info = FindResourceA(instance, name.c_str(), type);
    // A loaded resource stays mapped as long as the module: nothing to release.
    HGLOBAL handle = info ? LoadResource(instance, info) : nullptr;
    const void* data = handle ? LockResource(handle) : nullptr;
    if (!data) throw EResNotFound("Resource " + name + " not found");
    Reset(data, static_cast<std::int32_t>(SizeofResource(instance, info)));
}

static HINSTANCE ClassResourceModule = nullptr;

static std::unique_ptr<TStream> OpenClassResource(const std::string& className) {
    return std::make_unique<TResourceStream>(ClassResourceModule, className, MAKEINTRESOURCEA(10));
}

void UseClassResourcesOf(HINSTANCE instance) {
    ClassResourceModule = instance;
    SetClassResourceOpener(&OpenClassResource);
}
