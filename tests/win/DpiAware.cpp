// Test programs see other windows in real pixels: they start setup.exe at another scale
// than their own (ScreenScale.h), and Wine 10, like Windows, scales what a program sees
// of a window of another system scale unless it is aware of each monitor's scale.
#include <windows.h>

namespace {
bool BeDpiAware() {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    auto set = reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
    // Per monitor (v2, then v1); before Windows 10 one scale holds for every program.
    return (set && (set(reinterpret_cast<HANDLE>(-4)) || set(reinterpret_cast<HANDLE>(-3)))) ||
           SetProcessDPIAware();
}
const bool kDpiAware = BeDpiAware();
} // namespace
