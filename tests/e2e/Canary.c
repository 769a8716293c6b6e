/* A DLL planted beside setup.exe under the names of system DLLs: if it is ever
   loaded it leaves a marker file "<its own path>.loaded". */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 8];
        DWORD n = GetModuleFileNameW(instance, path, MAX_PATH);
        if (n > 0 && n < MAX_PATH) {
            lstrcpyW(path + n, L".loaded");
            HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        }
    }
    return TRUE;
}
