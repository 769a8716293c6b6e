// Walks the wizard page by page and saves a picture of each, for the README:
// screenshots <folder>. The progress page is caught with the write-failure
// question on it (a file of the destination is held open meanwhile).
#include "Driver.h"
#include "Inspect.h"
#include "Strings.h"
#include <cstdio>

namespace {
bool SaveBitmap(const RECT& r, const std::wstring& path) {
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr), mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(mem, old);
    int stride = (w * 3 + 3) & ~3;
    BITMAPFILEHEADER fh{0x4D42, static_cast<DWORD>(sizeof fh + sizeof bi.bmiHeader + stride * h), 0, 0,
                        static_cast<DWORD>(sizeof fh + sizeof bi.bmiHeader)};
    bool ok = false;
    if (FILE* f = _wfopen(path.c_str(), L"wb")) {
        ok = std::fwrite(&fh, sizeof fh, 1, f) == 1 &&
             std::fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) == 1 &&
             std::fwrite(bits, 1, static_cast<std::size_t>(stride) * h, f) ==
                 static_cast<std::size_t>(stride) * h;
        std::fclose(f);
    }
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

bool Shot(SetupProcess& p, const std::wstring& folder, const wchar_t* name) {
    Sleep(400); // let the page finish painting
    RECT r;
    GetWindowRect(p.Form(), &r);
    bool ok = SaveBitmap(r, folder + L"\\" + name + L".bmp");
    std::printf("%ls: %s\n", name, ok ? "saved" : "FAILED");
    return ok;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::printf("usage: screenshots <folder>\n");
        return 2;
    }
    std::wstring out = argv[1];
    CoInitialize(nullptr);
    CleanInstallState();
    std::wstring main = DefaultMainDir();
    SetupProcess p(L"");
    auto next = [&] { p.Click(p.Button(GetTextW(txtNext))); };
    bool ok = p.WaitForTitle(GetTextW(txtPageTitle0)) && Shot(p, out, L"page0-bienvenue");
    next();
    ok = ok && p.WaitForTitle(GetTextW(txtPageTitle0 + 1)) && Shot(p, out, L"page1-licence");
    next();
    ok = ok && p.WaitForTitle(GetTextW(txtPageTitle0 + 2)) && Shot(p, out, L"page2-dossier");
    next();
    ok = ok && p.WaitForTitle(GetTextW(txtPageTitle0 + 3)) && Shot(p, out, L"page3-pret");
    // Hold the licence file open so that the progress page stops on its question.
    CreateDirectoryW(main.c_str(), nullptr);
    HANDLE lock =
        CreateFileW((main + L"\\Licence.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    next();
    HWND box = p.MessageBox();
    ok = ok && box && p.PageTitle() == GetTextW(txtPageTitle0 + 4) && Shot(p, out, L"page4-installation");
    CloseHandle(lock);
    if (box) p.Answer(box, IDRETRY);
    ok = ok && p.WaitForTitle(GetTextW(txtPageTitle0 + 5)) && Shot(p, out, L"page5-terminee");
    HWND launch = p.CheckBox(GetTextW(txtLaunchNow));
    if (launch && p.Checked(launch)) p.Click(launch);
    p.Click(p.Button(GetTextW(txtFinish)));
    ok = ok && p.Wait() == 0;
    CleanInstallState();
    CoUninitialize();
    return ok ? 0 : 1;
}
