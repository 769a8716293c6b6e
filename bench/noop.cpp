// The floor of the benchmarks: a GUI program that does nothing.
//   noop.exe              exits at once with code 0
//   noop.exe exit N       exits at once with code N
//   noop.exe window       shows a small window with one button until it is closed
//   noop.exe ask          the same, but closing asks a Yes/No question first
//   noop.exe sleep MS     waits MS milliseconds, then exits with code 0
#include <windows.h>
#include <cwchar>

namespace {

bool g_ask = false;

// The blank-separated words after the program name; no shell32 here, so that
// the floor loads as little as a GUI program can.
int Words(const wchar_t* line, const wchar_t* words[], wchar_t* buf, int max) {
    bool quoted = false;
    while (*line && (quoted || (*line != L' ' && *line != L'\t'))) quoted ^= *line++ == L'"';
    int n = 0;
    while (n < max) {
        while (*line == L' ' || *line == L'\t') ++line;
        if (!*line) break;
        words[n++] = buf;
        while (*line && *line != L' ' && *line != L'\t') *buf++ = *line++;
        *buf++ = L'\0';
    }
    return n;
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CLOSE:
        if (g_ask && MessageBoxW(hwnd, L"Quit?", L"noop", MB_YESNO | MB_ICONQUESTION) != IDYES) return 0;
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

int ShowWindowUntilClosed(HINSTANCE inst) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"NoopWindow";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"noop", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 400, 300, nullptr, nullptr, inst, nullptr);
    CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 150, 200, 90, 26, hwnd,
                    nullptr, inst, nullptr);
    ShowWindow(hwnd, SW_SHOWNORMAL);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, LPWSTR, int) {
    static wchar_t buf[256];
    const wchar_t* line = GetCommandLineW();
    if (std::wcslen(line) >= 256) return 0;
    const wchar_t* words[2] = {};
    int n = Words(line, words, buf, 2);
    if (n == 0) return 0;
    const wchar_t* what = words[0];
    int value = n > 1 ? static_cast<int>(std::wcstol(words[1], nullptr, 10)) : 0;
    if (!std::wcscmp(what, L"exit")) return value;
    if (!std::wcscmp(what, L"sleep")) {
        Sleep(static_cast<DWORD>(value));
        return 0;
    }
    g_ask = !std::wcscmp(what, L"ask");
    if (g_ask || !std::wcscmp(what, L"window")) return ShowWindowUntilClosed(inst);
    return 0;
}
