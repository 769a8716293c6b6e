// Every Windows test program sees other windows in their real pixels. The tests start
// setup.exe at another screen scale than their own (ScreenScale.h sets it only for the
// program's start), and Wine 10, like Windows, then scales what a program sees of a
// window whose system scale differs from its own, unless it is aware of each monitor's
// scale. setup.exe itself declares system awareness in its manifest; a test that measured
// it with that awareness would see it at the test's own scale, not at the program's.
#include <windows.h>

namespace {
bool BeDpiAware() {
    using SetContext = BOOL(WINAPI*)(HANDLE);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    auto set = user32 ? reinterpret_cast<SetContext>(
                            reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")))
                      : nullptr;
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, then _PER_MONITOR_AWARE.
    if (set && (set(reinterpret_cast<HANDLE>(-4)) || set(reinterpret_cast<HANDLE>(-3)))) return true;
    return SetProcessDPIAware() != FALSE; // before Windows 10: one scale for all
}
const bool kDpiAware = BeDpiAware();
} // namespace
