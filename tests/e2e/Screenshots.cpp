// Walks the wizard page by page and saves a picture of each, for the README:
// screenshots <folder> [<pixels per inch> <name suffix>]. The progress page is
// caught with the write-failure question on it (a file of the destination is
// held open meanwhile). At 100 %, also the close question on the welcome page,
// the progress page copying the tests' 48 MB payload, its bar half-way, the
// uninstaller's confirmation box and, last, the notice of a wizard that waits
// for another run's lock.
#include "Driver.h"
#include "InstallTraces.h"
#include "Strings.h"
#include "WindowBitmap.h"
#include <commctrl.h>
#include <cstdio>

namespace {
bool Shot(HWND window, const std::wstring& folder, const std::wstring& name) {
    Sleep(400); // let the window finish painting
    bool ok = SaveWindowBitmap(window, folder + L"\\" + name + L".bmp");
    std::printf("%ls: %s\n", name.c_str(), ok ? "saved" : "FAILED");
    return ok;
}

// The uninstaller's confirmation, as the program list's "Uninstall" shows it.
bool ShotUninstallConfirmation(const std::wstring& folder) {
    CleanInstallState();
    if (RunSilently(L"/S") != 0) return false;
    SetupProcess ui(L"-ui", DefaultMainDir() + L"\\qrd.exe");
    HWND box = ui.MessageBox();
    Sleep(400); // let the box finish painting
    bool ok = box && SaveWindowBitmap(box, folder + L"\\uninstall-confirmation.bmp");
    std::printf("uninstall-confirmation: %s\n", ok ? "saved" : "FAILED");
    if (box) ui.Answer(box, IDNO);
    return ui.Wait() == 0 && ok;
}

// The long copy of the large payload, caught with its bar between 40 and 60 %,
// then cancelled.
bool ShotMidway(const std::wstring& folder) {
    SetupProcess p(L"", LargeSetupExe());
    if (!p.ToReadyPage()) return false;
    p.Click(p.Button(GetTextW(txtNext)));
    HWND bar = nullptr;
    DWORD_PTR at = 0;
    for (int i = 0; i < 20000 && (at < 400 || at > 600); ++i) {
        if (!bar) bar = VisibleChild(p.Form(), L"msctls_progress32");
        if (!bar || !SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &at)) at = 0;
        if (at > 600) break;
    }
    bool ok = at >= 400 && at <= 600 && SaveWindowBitmap(p.Form(), folder + L"\\page4-progression.bmp");
    std::printf("page4-progression: %s\n", ok ? "saved" : "FAILED");
    p.Click(p.Button(GetTextW(txtCancel)));
    if (HWND box = p.MessageBox()) p.Answer(box, IDYES);
    return p.Wait() == 0 && ok;
}
// The notice of a wizard that waits for another run's lock, on its progress page.
bool ShotLockWait(const std::wstring& folder) {
    HANDLE lock = HoldInstallLock();
    SetupProcess p(L"");
    if (!p.ToReadyPage()) return false;
    p.Click(p.Button(GetTextW(txtNext)));
    HWND box = p.MessageBox();
    Sleep(400); // let the notice finish painting
    bool ok = box && SaveWindowBitmap(box, folder + L"\\attente-verrou.bmp");
    std::printf("attente-verrou: %s\n", ok ? "saved" : "FAILED");
    if (box) p.Answer(box, IDCANCEL);
    ReleaseInstallLock(lock);
    return p.Wait() == 0 && ok;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 && argc != 4) {
        std::printf("usage: screenshots <folder> [<pixels per inch> <name suffix>]\n");
        return 2;
    }
    std::wstring out = argv[1];
    int ppi = argc == 4 ? _wtoi(argv[2]) : 96;
    std::wstring suffix = argc == 4 ? argv[3] : L"";
    CoInitialize(nullptr);
    CleanInstallState();
    std::wstring main = DefaultMainDir();
    SetupProcess p(L"", ppi);
    auto next = [&] { p.Click(p.Button(GetTextW(txtNext))); };
    auto shot = [&](const wchar_t* name) { return Shot(p.Form(), out, name + suffix); };
    bool ok = p.WaitForTitle(GetTextW(txtPageTitle0)) && shot(L"page0-bienvenue");
    if (suffix.empty()) {
        // The close question, with its French buttons, answered Non.
        p.Close();
        HWND question = p.MessageBox();
        ok = ok && question && Shot(question, out, L"question-fermeture");
        if (question) p.Answer(question, IDNO);
    }
    next();
    ok = ok && p.WaitForTitle(GetTextW(txtPageTitle0 + 1)) && shot(L"page1-licence");
    next();
    ok = ok && p.WaitForTitle(GetTextW(txtPageTitle0 + 2)) && shot(L"page2-dossier");
    next();
    ok = ok && p.WaitForTitle(GetTextW(txtPageTitle0 + 3)) && shot(L"page3-pret");
    // Hold the licence file open so that the progress page stops on its question.
    CreateDirectoryW(main.c_str(), nullptr);
    HANDLE lock =
        CreateFileW((main + L"\\Licence.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    next();
    HWND box = p.MessageBox();
    ok = ok && box && p.PageTitle() == GetTextW(txtPageTitle0 + 4) && shot(L"page4-installation");
    CloseHandle(lock);
    if (box) p.Answer(box, IDRETRY);
    ok = ok && p.WaitForTitle(GetTextW(txtPageTitle0 + 5)) && shot(L"page5-terminee");
    HWND launch = p.CheckBox(GetTextW(txtLaunchNow));
    if (launch && p.Checked(launch)) p.Click(launch);
    p.Click(p.Button(GetTextW(txtFinish)));
    ok = ok && p.Wait() == 0;
    if (suffix.empty()) ok = ShotUninstallConfirmation(out) && ok;
    CleanInstallState();
    if (suffix.empty()) ok = ok && ShotMidway(out);
    CleanInstallState();
    if (suffix.empty()) ok = ok && ShotLockWait(out);
    CleanInstallState();
    CoUninitialize();
    return ok ? 0 : 1;
}
