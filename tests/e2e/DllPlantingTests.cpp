// setup.exe started from a folder that also holds DLLs named like system DLLs (a
// download folder where someone planted them) must never load them.
#include "E2ETest.h"
#include "Strings.h"
#include <gtest/gtest.h>
#include <tlhelp32.h>

namespace {
const wchar_t* const kPlanted[] = {
    L"uxtheme",  L"version", L"dwmapi",   L"cryptbase", L"propsys", L"profapi", L"userenv",
    L"secur32",  L"sspicli", L"comctl32", L"shfolder",  L"msimg32", L"winmm",   L"riched20",
    L"oleaut32", L"mpr",     L"shcore",   L"apphelp",   L"imm32",   L"msctf",   L"setupapi",
};

class DllPlanting : public E2ETest {
protected:
    void SetUp() override {
        E2ETest::SetUp();
        Plant(dir.path());
        CopyFileW(SetupExe().c_str(), setup().c_str(), FALSE);
    }
    void TearDown() override {
        for (const wchar_t* name : kPlanted)
            for (const wchar_t* end : {L".dll", L".dll.loaded"})
                DeleteFileW((TempFolder() + name + end).c_str());
        E2ETest::TearDown();
    }
    static void Plant(const std::wstring& folder) {
        for (const wchar_t* name : kPlanted)
            CopyFileW(FromUtf8(NORVANTA_CANARY_DLL).c_str(), (folder + L"\\" + name + L".dll").c_str(),
                      FALSE);
    }
    std::wstring setup() { return dir / L"setup.exe"; }
    std::vector<std::wstring> Markers() { return Markers(dir.path()); }
    std::vector<std::wstring> Markers(const std::wstring& folder) {
        std::vector<std::wstring> found;
        for (const wchar_t* name : kPlanted)
            if (Exists(folder + L"\\" + name + L".dll.loaded")) found.push_back(name);
        return found;
    }
    // Modules of the process whose file lies in the folder. Wine names its own
    // built-in DLLs after the place where the search found the name, so those
    // (marked "Wine builtin DLL" in their header) are left out: their code is Wine's.
    std::vector<std::wstring> ModulesFromTheFolder(DWORD pid) {
        std::vector<std::wstring> found;
        HANDLE process = OpenProcess(PROCESS_VM_READ | PROCESS_QUERY_INFORMATION, FALSE, pid);
        HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, pid);
        if (snap == INVALID_HANDLE_VALUE) return {L"<no module list>"};
        MODULEENTRY32W me{};
        me.dwSize = sizeof me;
        for (BOOL ok = Module32FirstW(snap, &me); ok; ok = Module32NextW(snap, &me)) {
            std::wstring path = me.szExePath;
            if (_wcsnicmp(path.c_str(), dir.path().c_str(), dir.path().size()) != 0 ||
                _wcsicmp(me.szModule, L"setup.exe") == 0)
                continue;
            char header[0x60] = {};
            SIZE_T got = 0;
            ReadProcessMemory(process, me.modBaseAddr, header, sizeof header, &got);
            if (std::string(header + 0x40, 16) != "Wine builtin DLL") found.push_back(path);
        }
        CloseHandle(snap);
        if (process) CloseHandle(process);
        return found;
    }
};
} // namespace

TEST_F(DllPlanting, ThisLoaderWouldLoadAPlantedDllFromTheProgramsFolder) {
    std::wstring probe = dir / L"probe.exe";
    CopyFileW(FromUtf8(NORVANTA_PLANT_PROBE).c_str(), probe.c_str(), FALSE);
    SetupProcess p(L"dwmapi.dll", probe);
    EXPECT_EQ(p.Wait(), 0) << "the canary beside a program is loaded by a bare LoadLibrary";
    EXPECT_EQ(Markers(), std::vector<std::wstring>{L"dwmapi"});
}

TEST_F(DllPlanting, SetupLoadsNoneOfThem) {
    std::wstring main = dir / L"Norvanta";
    SetupProcess silent(L"/S \"-D" + main + L"\"", setup());
    EXPECT_EQ(silent.Wait(), 0);
    EXPECT_TRUE(Exists(main + L"\\qrd.exe"));
    EXPECT_TRUE(Markers().empty());
    CleanInstallState();

    // The wizard, through every page, the folder browser included.
    SetupProcess p(L"\"-D" + main + L"\"", setup());
    ASSERT_TRUE(p.WaitForTitle(GetTextW(txtPageTitle0)));
    p.Click(p.Button(GetTextW(txtNext)));
    p.Click(p.Button(GetTextW(txtNext)));
    ASSERT_TRUE(p.WaitForTitle(GetTextW(txtPageTitle0 + 2)));
    p.Click(p.Button(GetTextW(txtBrowse)));
    HWND browser = p.MessageBox();
    ASSERT_NE(browser, nullptr) << "the folder browser opens";
    EXPECT_TRUE(ModulesFromTheFolder(p.Id()).empty());
    p.Answer(browser, IDCANCEL);
    p.Click(p.Button(GetTextW(txtNext)));
    ASSERT_TRUE(p.WaitForTitle(GetTextW(txtPageTitle0 + 3)));
    p.Click(p.Button(GetTextW(txtNext)));
    ASSERT_TRUE(p.WaitForTitle(GetTextW(txtPageTitle0 + 5), 60000));
    EXPECT_EQ(ModulesFromTheFolder(p.Id()), std::vector<std::wstring>{});
    p.Click(p.CheckBox(GetTextW(txtLaunchNow)));
    p.Click(p.Button(GetTextW(txtFinish)));
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_EQ(Markers(), std::vector<std::wstring>{});
}

// The installed program's removal, asked and silent: canaries beside it and in
// the temporary folder it moves itself to are never loaded.
TEST_F(DllPlanting, TheUninstallLoadsNoneOfThem) {
    std::wstring main = dir / L"Norvanta", qrd = main + L"\\qrd.exe", temp = TempFolder();
    temp.pop_back(); // without its trailing backslash
    ASSERT_EQ(RunSilently(L"/S \"-D" + main + L"\"", setup()), 0);
    Plant(main);
    Plant(temp);
    SetupProcess asked(L"-ui", qrd);
    if (HWND box = asked.MessageBox()) asked.Answer(box, IDNO);
    EXPECT_EQ(asked.Wait(), 0);
    EXPECT_EQ(RunSilently(L"-ui /S", qrd), 0);
    EXPECT_FALSE(Exists(qrd));
    EXPECT_EQ(Markers(main), std::vector<std::wstring>{});
    EXPECT_EQ(Markers(temp), std::vector<std::wstring>{});
}
