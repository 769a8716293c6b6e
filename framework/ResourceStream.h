// A module's resource read in place as a stream, and the form reader's access to
// the definitions stored as RCDATA resources named after their classes.
#pragma once
#include "Streams.h"
#include <string>
#include <windows.h>

class TResourceStream : public TReadOnlyMemoryStream {
public:
    // Finds, loads and locks the resource (type e.g. MAKEINTRESOURCEA(10), RCDATA);
    // throws EResNotFound naming it when the module has none.
    TResourceStream(HINSTANCE instance, const std::string& name, LPCSTR type);
};

// Makes LoadFromClassResources read the RCDATA resources of the given module.
void UseClassResourcesOf(HINSTANCE instance);
