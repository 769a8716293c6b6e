// Program block. For now it links the utilities and answers with exit code 0.
#include "InstUtils.h"
#include "MessageBox.h"
#include "Strings.h"
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    SetErrorMode(SEM_FAILCRITICALERRORS);
    std::wstring caption = GetTextW(txtCaption);
    return caption.empty() ? kExitFatal : ExitCode;
}
