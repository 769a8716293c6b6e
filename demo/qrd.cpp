// Demo stand-in for the Norvanta word processor, packed by the demo payload so
// that the setup has a real program to install, start, find and uninstall.
// It shows an RTF file given on its command line as plain text; "-ui" removes
// the installation (the uninstall entry's command), "-ui /S" without a word.
#include "CommandLine.h"
#include "Product.h"
#include "RtfText.h"
#include "SystemLibraries.h"
#include "Uninstall.h"
#include "WinHandles.h"
#include <windows.h>
#include <string>

namespace {
const wchar_t kTitle[] = L"Norvanta (rempla\u00E7ant de d\u00E9monstration)";
const wchar_t kClassName[] = L"NorvantaDemoWindow";

const wchar_t kNoFileNote[] =
    L"Ce programme de d\u00E9monstration tient la place du traitement de texte Norvanta dans "
    L"l'installation d'essai.\r\n\r\n"
    L"Il n'\u00E9dite rien : donnez-lui un mod\u00E8le ou un insert (fichier RTF) sur la ligne de "
    L"commande, par exemple\r\n\r\n    qrd.exe \"Lettre simple.rtf\"\r\n\r\n"
    L"et il en affiche le texte, sans mise en forme.";

HWND editor = nullptr;

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
    UniqueHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!f.valid() || !GetFileSizeEx(f.get(), &size) || size.QuadPart > 64 * 1024 * 1024) return false;
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    return bytes.empty() ||
           (ReadFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
            got == bytes.size());
}

// Plain files are shown too: UTF-8 when they are, the ANSI code page otherwise.
std::wstring PlainText(const std::string& bytes) {
    for (UINT cp : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
        DWORD flags = cp == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        int n = MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
        if (n <= 0) continue;
        std::wstring w(static_cast<std::size_t>(n), L'\0');
        MultiByteToWideChar(cp, flags, bytes.data(), static_cast<int>(bytes.size()), w.data(), n);
        return w;
    }
    return std::wstring();
}

std::wstring NamePart(const std::wstring& path) {
    std::size_t i = path.find_last_of(L"\\/:");
    return i == std::wstring::npos ? path : path.substr(i + 1);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        SetPropW(hwnd, kRunningMark, reinterpret_cast<HANDLE>(1));
        return 0;
    case WM_SIZE:
        if (editor) MoveWindow(editor, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_SETFOCUS:
        if (editor) SetFocus(editor);
        return 0;
    case WM_DESTROY:
        RemovePropW(hwnd, kRunningMark);
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

// The switches read as the setup reads its own: /S or -S in either case (or
// /VERYSILENT, /QUIET), /LOG=<file> or /LOG alone, /? or /HELP; and the mark of
// the run started again with administrator rights.
int RunUninstall(const std::vector<std::wstring>& args) {
    TUninstallOptions options;
    options.Silent = FindSilentSwitch(args);
    options.LogWanted = FindLogSwitch(args, options.LogPath);
    options.Help = FindHelpSwitch(args);
    std::wstring by;
    options.Elevated = FindSwitchValue(args, kElevatedSwitch, by);
    // The waiting run's process id; anything but digits names none.
    bool digits = !by.empty() && by.size() <= 9;
    for (wchar_t c : by) digits = digits && c >= L'0' && c <= L'9';
    for (wchar_t c : by) options.ElevatedBy = digits ? options.ElevatedBy * 10 + (c - L'0') : 0;
    return Uninstall(options).ExitCode;
}
} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int show) {
    RestrictDllSearch();
    std::vector<std::wstring> args = SplitCommandLine(GetCommandLineW());
    for (std::size_t i = 1; i < args.size(); ++i)
        if (lstrcmpiW(args[i].c_str(), L"-ui") == 0 || lstrcmpiW(args[i].c_str(), L"/ui") == 0)
            return RunUninstall(args);

    std::wstring file = args.size() > 1 ? args[1] : std::wstring();

    std::wstring text = kNoFileNote, title = kTitle;
    if (!file.empty()) {
        std::string bytes;
        if (!ReadFileBytes(file, bytes))
            text = L"Impossible d'ouvrir le fichier \u00AB " + file + L" \u00BB.";
        else if (bytes.compare(0, 5, "{\\rtf") == 0)
            text = RtfToText(bytes);
        else
            text = PlainText(bytes);
        title = NamePart(file) + L" - " + title;
    }

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    wc.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));     // IDI_APPLICATION
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc)) return 1;
    HWND window = CreateWindowExW(0, kClassName, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 720, 540, nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    editor = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", text.c_str(),
                             WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
                             0, 0, 0, 0, window, nullptr, instance, nullptr);
    UniqueGdi<HFONT> font;
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        font.reset(CreateFontIndirectW(&metrics.lfMessageFont));
    if (editor && font.get()) SendMessageW(editor, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    RECT client;
    GetClientRect(window, &client);
    if (editor) MoveWindow(editor, 0, 0, client.right, client.bottom, FALSE);
    ShowWindow(window, show);
    UpdateWindow(window);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
