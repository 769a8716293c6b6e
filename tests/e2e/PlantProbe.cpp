// Loads a DLL by its bare name, as a program without any loader hardening would,
// and answers 0 when the copy beside it was taken: the proof that this system's
// loader would load a planted DLL at all.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    HMODULE m = LoadLibraryW(argv[1]);
    if (!m) return 3;
    wchar_t loaded[MAX_PATH] = {}, self[MAX_PATH] = {};
    GetModuleFileNameW(m, loaded, MAX_PATH);
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    wchar_t* slash = wcsrchr(self, L'\\');
    if (slash) slash[1] = 0;
    return _wcsnicmp(loaded, self, wcslen(self)) == 0 ? 0 : 1;
}
