// Faults injected into real runs of setup.exe: locked, read-only and missing
// destinations, an install log and an uninstall key that cannot be written,
// damaged resources. Each ends with a clear outcome, never a hang, and keeps the
// records of what was already installed.
#include "Archive.h"
#include "Sha256.h"
#include "E2ETest.h"
#include "Strings.h"
#include "TextConv.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <sddl.h>
#include <psapi.h>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <cctype>
#include <zlib.h>

namespace {
class Faults : public E2ETest {
protected:
    void SetUp() override {
        E2ETest::SetUp();
        main = dir / L"Norvanta";
    }
    // Walks the wizard to the progress page; it stops there on the write-failure question.
    HWND ToFailureQuestion(SetupProcess& p) {
        if (!p.WaitForTitle(GetTextW(txtPageTitle0))) return nullptr;
        for (int page = 1; page <= 4; ++page) {
            p.Click(p.Button(GetTextW(txtNext)));
            if (page < 4 && !p.WaitForTitle(GetTextW(txtPageTitle0 + page))) return nullptr;
        }
        return p.MessageBox();
    }
    bool LogHas(const std::wstring& fileEnd) {
        std::string end(fileEnd.begin(), fileEnd.end());
        auto lines = FileLines(main + L"\\Install.log");
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.size() >= end.size() && l.compare(l.size() - end.size(), end.size(), end) == 0;
        });
    }
    HANDLE Lock(const std::wstring& path, const char* content = "held open") {
        CreateDirectoryW(main.c_str(), nullptr);
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n;
        WriteFile(h, content, static_cast<DWORD>(strlen(content)), &n, nullptr);
        return h;
    }
    std::wstring main;
};

// The lines after the first bytes of a file, which must be those bytes.
std::vector<std::string> LinesAfter(const std::string& file, const std::string& earlier) {
    std::vector<std::string> lines;
    if (file.compare(0, earlier.size(), earlier) != 0) return {"<the earlier bytes are not kept>"};
    std::size_t start = earlier.size();
    for (std::size_t i; (i = file.find("\r\n", start)) != std::string::npos; start = i + 2)
        lines.push_back(file.substr(start, i - start));
    if (start < file.size()) lines.push_back(file.substr(start) + "<no CR LF>");
    return lines;
}

// Records of an earlier log that are not text: NULs, bytes of UTF-16.
std::string BinaryRecords(const std::string& prefix, int count) {
    static const char kTail[] = "\0\xFF\xFE\x01\0 record\t!\r\n";
    std::string records;
    for (int i = 0; i < count; ++i)
        records += prefix + std::to_string(i) + std::string(kTail, sizeof kTail - 1);
    return records;
}

} // namespace

TEST_F(Faults, WizardRetryAfterTheLockIsReleasedSucceeds) {
    HANDLE lock = Lock(main + L"\\Licence.txt");
    SetupProcess p(L"\"-D" + main + L"\"");
    HWND box = ToFailureQuestion(p);
    ASSERT_NE(box, nullptr);
    std::wstring text = p.MessageText(box);
    EXPECT_NE(text.find(L"\"" + main + L"\\Licence.txt\""), std::wstring::npos)
        << "the question names the file";
    CloseHandle(lock);
    p.Answer(box, IDRETRY);
    ASSERT_TRUE(p.WaitForTitle(GetTextW(txtPageTitle0 + 5)));
    p.Click(p.CheckBox(GetTextW(txtLaunchNow)));
    p.Click(p.Button(GetTextW(txtFinish)));
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_EQ(Bytes(main + L"\\Licence.txt").rfind("CONTRAT DE LICENCE", 0), 0u);
    EXPECT_TRUE(LogHas(L"\\Licence.txt"));
}

TEST_F(Faults, WizardIgnoreSkipsTheFileAndLogsNothingForIt) {
    HANDLE lock = Lock(main + L"\\Licence.txt", "the user's own");
    SetupProcess p(L"\"-D" + main + L"\"");
    HWND box = ToFailureQuestion(p);
    ASSERT_NE(box, nullptr);
    // The page's progress bar stands past the program, short of the end.
    HWND bar = VisibleChild(p.Form(), L"msctls_progress32");
    ASSERT_NE(bar, nullptr);
    LRESULT at = SendMessageW(bar, PBM_GETPOS, 0, 0);
    EXPECT_GT(at, 0);
    EXPECT_LT(at, 1000);
    p.Answer(box, IDIGNORE);
    ASSERT_TRUE(p.WaitForTitle(GetTextW(txtPageTitle0 + 5)));
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 1000); // an ignored file counts as done
    CloseHandle(lock);
    p.Click(p.CheckBox(GetTextW(txtLaunchNow)));
    p.Click(p.Button(GetTextW(txtFinish)));
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_EQ(Bytes(main + L"\\Licence.txt"), "the user's own");
    EXPECT_FALSE(LogHas(L"\\Licence.txt"));
    EXPECT_TRUE(LogHas(L"\\qrd.exe"));
    EXPECT_TRUE(Exists(SharedData() + L"Update.log"));
}

TEST_F(Faults, WizardAbortEndsWithTwoAndKeepsTheRecords) {
    HANDLE lock = Lock(main + L"\\Licence.txt");
    SetupProcess p(L"\"-D" + main + L"\"");
    HWND box = ToFailureQuestion(p);
    ASSERT_NE(box, nullptr);
    p.Answer(box, IDABORT);
    EXPECT_EQ(p.Wait(), 2); // closed without the close question
    CloseHandle(lock);
    EXPECT_TRUE(LogHas(L"\\qrd.exe"));
    EXPECT_FALSE(LogHas(L"\\Licence.txt"));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"MAINDIR").Text(), main);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
    EXPECT_FALSE(Exists(ShortcutIn(CSIDL_COMMON_PROGRAMS)));
}

// A destination that cannot be made is refused before anything is written:
// exit 3 in a silent run, a box naming it in the wizard, whose page stays.
TEST_F(Faults, DestinationsThatCannotBeMadeAreRefusedBeforeAnythingIsWritten) {
    ASSERT_EQ(GetDriveTypeW(L"Q:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    std::wstring file = dir / L"a file";
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(h);
    // Each with the reason its run log gives.
    const std::pair<std::wstring, std::string> refused[] = {
        {L"R:\\Norvanta", "the folder cannot be made: R:\\Norvanta: error "}, // refuses every write
        {L"Q:\\Norvanta", "no such drive, or the share is out of reach: Q:\\: error "},
        {dir / L"Nor|vanta", "not a folder path Windows accepts"},
        {file + L"\\Norvanta", "a file is in the way: " + Utf8(file)},
        {L"\\\\nosuchserver\\share\\Norvanta", "no such drive, or the share is out of reach: "},
    };
    std::wstring runLog = dir / L"setup.log";
    for (const auto& [destination, reason] : refused) {
        SCOPED_TRACE(Utf16ToUtf8(destination));
        EXPECT_EQ(RunSilently(L"/S \"/D" + destination + L"\" \"/LOG=" + runLog + L"\""), 3);
        std::vector<std::string> lines = FileLines(runLog);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().substr(24, 13), "Exit code 3: ");
        EXPECT_NE(lines.back().find("cannot be used: " + reason), std::string::npos) << lines.back();
        EXPECT_FALSE(Exists(SharedData()));
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKeyW));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
    }
    EXPECT_FALSE(Exists(file + L"\\Norvanta"));

    SetupProcess p(L"-DR:\\Norvanta");
    ASSERT_TRUE(p.WaitForTitle(GetTextW(txtPageTitle0)));
    for (int page = 1; page <= 2; ++page) {
        p.Click(p.Button(GetTextW(txtNext)));
        ASSERT_TRUE(p.WaitForTitle(GetTextW(txtPageTitle0 + page)));
    }
    p.Click(p.Button(GetTextW(txtNext)));
    HWND box = p.MessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_NE(p.MessageText(box).find(L"\"R:\\Norvanta\""), std::wstring::npos) << "the box names the folder";
    p.Answer(box, IDOK);
    EXPECT_EQ(p.PageTitle(), GetTextW(txtPageTitle0 + 2));
    EXPECT_FALSE(Exists(SharedData()));
    p.SetText(p.Edit(), main);
    p.Click(p.Button(GetTextW(txtNext)));
    EXPECT_TRUE(p.WaitForTitle(GetTextW(txtPageTitle0 + 3)));
}

// A link another user could have planted where the setup writes, or a name that
// is no folder, stops a silent run with 3 before anything is written.
TEST_F(Faults, LinksInTheWayAndDeviceNamesAreRefused) {
    std::wstring target = dir / L"elsewhere", data = SharedData().substr(0, SharedData().size() - 1);
    CreateDirectoryW(target.c_str(), nullptr);
    const struct {
        std::wstring destination, link; // the link, when there is one, points at target
        std::string reason;
    } rows[] = {
        {main, data, "the folder " + Utf8(data) + " is a junction, symbolic link or mount point"},
        {main, data + L"\\Hidden", "the folder " + Utf8(data) + "\\Hidden is a junction"},
        {main, data + L"\\Public", "the folder " + Utf8(data) + "\\Public is a junction"},
        {main, main, "the folder " + Utf8(main) + " is a junction"},
        {L"\\\\?\\" + main, L"", "cannot be used: not a folder path Windows accepts"},
        {L"\\\\.\\" + main, L"", "cannot be used: not a folder path Windows accepts"},
        {dir / L"CON", L"", "cannot be used: not a folder path Windows accepts"},
        {dir / L"nul.txt", L"", "cannot be used: not a folder path Windows accepts"},
        {dir / L"COM1\\Norvanta", L"", "cannot be used: not a folder path Windows accepts"},
    };
    std::wstring runLog = dir / L"setup.log";
    for (const auto& row : rows) {
        SCOPED_TRACE(Utf8(row.destination + L" " + row.link));
        if (!row.link.empty()) {
            if (row.link != data) CreateDirectoryW(data.c_str(), nullptr);
            ASSERT_TRUE(HostLink(row.link, target));
            ASSERT_NE(GetFileAttributesW(row.link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
        }
        EXPECT_EQ(RunSilently(L"/S \"/D" + row.destination + L"\" \"/LOG=" + runLog + L"\""), 3);
        std::vector<std::string> lines = FileLines(runLog);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().substr(24, 13), "Exit code 3: ");
        EXPECT_NE(lines.back().find(row.reason), std::string::npos) << lines.back();
        if (!row.link.empty()) {
            EXPECT_TRUE(HostLink(row.link, L""));
        }
        EXPECT_EQ(FilesUnder(target), 0) << "written through the link";
        EXPECT_FALSE(Exists(SharedData() + L"Hidden"));
        EXPECT_FALSE(Exists(main));
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKeyW));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
        RemoveDirectoryW(data.c_str());
    }
}

// The files are installed, but no record lies: exit 2, no settings and no
// uninstall entry, and the journal stays as the record of what was written.
TEST_F(Faults, AnInstallLogThatCannotBeReadOrWrittenEndsWithTwoAndNoEntry) {
    // A folder where the log would be: neither read nor replaced.
    CreateDirectoryW(main.c_str(), nullptr);
    CreateDirectoryW((main + L"\\Install.log").c_str(), nullptr);
    std::wstring runLog = dir / L"setup.log";
    EXPECT_EQ(RunSilently(L"/S \"/D" + main + L"\" \"/LOG=" + runLog + L"\""), 2);
    EXPECT_TRUE(HasLine(FileLines(runLog), "Exit code 2: Install.log could not be written: "));
    EXPECT_TRUE(Exists(main + L"\\qrd.exe"));
    EXPECT_EQ(GetFileAttributesW((main + L"\\Install.log").c_str()) & FILE_ATTRIBUTE_DIRECTORY,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKeyW));
    EXPECT_TRUE(Exists(main + L"\\Install.journal"));
    RemoveDirectoryW((main + L"\\Install.log").c_str());

    // A log held open by another program: the earlier log stays as it was.
    CleanInstallState();
    HANDLE lock = Lock(main + L"\\Install.log", "Made Dir: earlier\r\n");
    EXPECT_EQ(RunSilently(L"/S \"/D" + main + L"\""), 2);
    CloseHandle(lock);
    EXPECT_EQ(Bytes(main + L"\\Install.log"), "Made Dir: earlier\r\n");
    EXPECT_TRUE(Exists(ShortcutIn(CSIDL_COMMON_PROGRAMS)));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW));
}

TEST_F(Faults, EarlierLogsHoldingNulBytesKeepEveryByteOfTheirRecords) {
    const std::wstring install = main + L"\\Install.log", update = SharedData() + L"Update.log";
    ASSERT_EQ(RunSilently(L"/S \"/D" + main + L"\""), 0);
    const std::vector<std::string> first = FileLines(update);
    ASSERT_GT(first.size(), 1u);

    // Update.log: a few MB of binary records, then every shared file of the run
    // with a NUL after it, which is not that file listed again.
    std::string earlierUpdate = first[0] + "\r\n" + BinaryRecords("C:\\Old\\", 100000);
    for (std::size_t i = 1; i < first.size(); ++i) earlierUpdate += first[i] + std::string(1, '\0') + "\r\n";
    // Install.log: the same, the program with a NUL after it, and the licence in other case.
    std::string mainUtf8 = Utf16ToUtf8(main), upper = mainUtf8;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string earlierInstall = BinaryRecords("File Copy: C:\\Old\\", 100000) + "File Copy: " + mainUtf8 +
                                 "\\qrd.exe" + std::string(1, '\0') + "\r\nFILE COPY: " + upper +
                                 "\\LICENCE.TXT\r\n";
    ASSERT_GT(earlierUpdate.size(), 2000000u);
    Write(update, earlierUpdate);
    Write(install, earlierInstall);
    RecordLogHash(TSha256::HexOf(earlierInstall.data(), earlierInstall.size())); // as a setup wrote it

    ASSERT_EQ(RunSilently(L"/S \"/D" + main + L"\""), 0);
    std::vector<std::string> added = LinesAfter(Bytes(update), earlierUpdate);
    ASSERT_EQ(added.size(), first.size());
    EXPECT_EQ(added[0].size(), 17u);
    EXPECT_EQ(added[0][0], '*');
    EXPECT_TRUE(std::equal(first.begin() + 1, first.end(), added.begin() + 1)) << "this run's shared files";

    added = LinesAfter(Bytes(install), earlierInstall);
    EXPECT_NE(std::find(added.begin(), added.end(), "File Copy: " + mainUtf8 + "\\qrd.exe"), added.end());
    for (const std::string& line : added) {
        EXPECT_TRUE(line.rfind("File Copy: ", 0) == 0 || line.rfind("Made Dir: ", 0) == 0) << line;
        EXPECT_EQ(line.find("Licence.txt"), std::string::npos) << "already listed in other case";
    }
}

TEST_F(Faults, AnEarlierInstallLogOfTensOfMegabytesKeepsEveryLineInConstantMemory) {
    const std::wstring install = main + L"\\Install.log";
    CreateDirectoryW(main.c_str(), nullptr);
    SIZE_T smallSet = 0, smallPagefile = 0, largeSet = 0, largePagefile = 0;
    Write(install, "File Copy: C:\\Old\\one\r\n");
    ASSERT_EQ(RunSilentlyMeasured(L"/S \"/D" + main + L"\"", L"", smallSet, smallPagefile), 0);
    ASSERT_GT(smallSet, 0u);

    std::string earlier;
    for (int i = 0; earlier.size() < 48 * 1024 * 1024; ++i)
        earlier += "File Copy: C:\\Old\\Programme\\Fichier " + std::to_string(i) + ".dat\r\n";
    Write(install, earlier);
    RecordLogHash(TSha256::HexOf(earlier.data(), earlier.size()));
    ASSERT_EQ(RunSilentlyMeasured(L"/S \"/D" + main + L"\"", L"", largeSet, largePagefile), 0);
    std::vector<std::string> added = LinesAfter(Bytes(install), earlier);
    EXPECT_NE(std::find(added.begin(), added.end(), "File Copy: " + Utf16ToUtf8(main) + "\\qrd.exe"),
              added.end());
    for (const std::string& line : added)
        EXPECT_EQ(line.rfind("File Copy: C:\\Old\\", 0), std::string::npos) << line;
    // Holding the log would take more than its size; streaming it takes a few buffers.
    RecordProperty("peak_kib", std::to_string(smallSet >> 10) + " " + std::to_string(largeSet >> 10));
    const SIZE_T margin = 12 * 1024 * 1024;
    EXPECT_LT(largeSet, smallSet + margin) << smallSet << " for a log of one line";
    EXPECT_LT(largePagefile, smallPagefile + margin) << smallPagefile << " for a log of one line";
}

TEST_F(Faults, AnUninstallKeyThatCannotBeWrittenLosesOnlyItself) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstallKeyW, 0, nullptr, 0,
                              KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    PSECURITY_DESCRIPTOR sd = nullptr;
    // Everyone may read, delete and change the rights, but not write values or keys.
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;0x6;;;WD)(A;;KA;;;WD)",
                                                                     SDDL_REVISION_1, &sd, nullptr));
    RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, sd);
    LocalFree(sd);
    RegCloseKey(k);

    EXPECT_EQ(RunSilently(L"/S \"/D" + main + L"\""), 0);
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, kUninstallKeyW, L"DisplayName").type,
              static_cast<DWORD>(REG_NONE));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, kSettingsKeyW, L"MAINDIR").Text(), main);
    EXPECT_TRUE(Exists(main + L"\\Install.log"));
    EXPECT_TRUE(Exists(SharedData() + L"Update.log"));
}

TEST_F(Faults, DamagedOrMissingResourcesEndWith217AndWriteNothing) {
    struct Case {
        const char* type;
        const char* name;
        std::string bytes;
        bool remove;
    };
    std::string truncatedForm = "TPF0\x09TMainForm\x08MainForm\x0C"
                                "ClientHeight\x03";
    std::string badPng = "\x89PNG\r\n\x1A\n" + std::string("\0\0\0\x0DIHDR", 8) + std::string(13, '\x7F');
    const Case cases[] = {
        {"FILES", "FILES", std::string("\x78\xDA\x01\x02", 4), false},
        {"FILES", "FILES", "", true},
        {nullptr, "TMAINFORM", truncatedForm, false},
        {"PNG", "LOGO", badPng, false},
        {"PNG", "LOGO", "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.remove ? " removed" : " damaged"));
        CleanInstallState();
        std::wstring variant = SetupVariant(dir.path(), c.type, c.name, c.bytes, c.remove);
        ASSERT_FALSE(variant.empty());
        EXPECT_EQ(RunSilently(L"/S", variant), 217);
        EXPECT_FALSE(Exists(DefaultMainDir()));
        EXPECT_FALSE(Exists(SharedData()));
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKeyW));
    }
}

namespace {
// Debugs a running process and makes one allocation of it fail, as it does when
// memory runs out: once the process asks for the local time (the install
// procedure does so first thing, for its stamp), its next call of the C
// runtime's malloc returns nil at once. Nothing of the program is changed.
class FailOneAllocation {
public:
    explicit FailOneAllocation(DWORD pid) : pid_(pid), thread_([this] { Debug(); }) {
        WaitForSingleObject(attached_, 20000);
    }
    ~FailOneAllocation() {
        if (thread_.joinable()) thread_.join(); // once the debuggee has ended
        CloseHandle(attached_);
    }
    bool Attached() const { return ok_; }
    bool Failed() const { return failed_; }

private:
    enum class Stage { Trigger, Allocation, Done };

    bool Put(std::uintptr_t at, std::uint8_t byte, std::uint8_t* before) {
        return PokeByte(process_, at, byte, before);
    }
    std::uintptr_t InDebuggee(const wchar_t* module, const char* function) {
        return AddressIn(process_, module, function);
    }
    // Past a breakpoint hit at `at`: the thread goes on at `eip`, with `eax` when given.
    bool Resume(DWORD threadId, std::uintptr_t eip, bool returnNil) {
        HANDLE t = OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, threadId);
        if (!t) return false;
        CONTEXT c{};
        c.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
        bool ok = GetThreadContext(t, &c);
#ifdef _WIN64
        auto& sp = c.Rsp;
        auto& ax = c.Rax;
        auto& ip = c.Rip;
#else
        auto& sp = c.Esp;
        auto& ax = c.Eax;
        auto& ip = c.Eip;
#endif
        if (ok && returnNil) {
            // Back to the caller's return address; the arguments are the caller's to drop.
            SIZE_T n = 0;
            ok = ReadProcessMemory(process_, reinterpret_cast<void*>(sp), &eip, sizeof(void*), &n);
            sp += sizeof(void*);
            ax = 0;
        }
        ip = eip;
        ok = ok && SetThreadContext(t, &c);
        CloseHandle(t);
        return ok;
    }
    void Debug() {
        if (DebugActiveProcess(pid_)) {
            DebugSetProcessKillOnExit(FALSE);
            process_ = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid_);
            trigger_ = process_ ? InDebuggee(L"kernel32.dll", "GetLocalTime") : 0;
            malloc_ = process_ ? InDebuggee(L"msvcrt.dll", "malloc") : 0;
            ok_ = trigger_ && malloc_ && Put(trigger_, 0xCC, &original_);
        }
        SetEvent(attached_);
        DEBUG_EVENT ev{};
        for (bool running = ok_; running && WaitForDebugEvent(&ev, 120000);) {
            DWORD verdict = DBG_CONTINUE;
            if (ev.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
                running = false;
            } else if (ev.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
                const EXCEPTION_RECORD& r = ev.u.Exception.ExceptionRecord;
                auto at = reinterpret_cast<std::uintptr_t>(r.ExceptionAddress);
                if (r.ExceptionCode == EXCEPTION_BREAKPOINT && stage_ == Stage::Trigger && at == trigger_) {
                    // The time is read as usual; the allocation that follows fails.
                    Put(trigger_, original_, nullptr);
                    Resume(ev.dwThreadId, trigger_, false);
                    Put(malloc_, 0xCC, &original_);
                    stage_ = Stage::Allocation;
                } else if (r.ExceptionCode == EXCEPTION_BREAKPOINT && stage_ == Stage::Allocation &&
                           at == malloc_) {
                    Put(malloc_, original_, nullptr);
                    failed_ = Resume(ev.dwThreadId, 0, true);
                    stage_ = Stage::Done;
                } else if (r.ExceptionCode != EXCEPTION_BREAKPOINT) {
                    verdict = DBG_EXCEPTION_NOT_HANDLED;
                }
            } else if (ev.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT && ev.u.CreateProcessInfo.hFile) {
                CloseHandle(ev.u.CreateProcessInfo.hFile);
            } else if (ev.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && ev.u.LoadDll.hFile) {
                CloseHandle(ev.u.LoadDll.hFile);
            }
            ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, verdict);
        }
        if (process_) CloseHandle(process_);
    }

    DWORD pid_;
    HANDLE attached_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE process_ = nullptr;
    std::uintptr_t trigger_ = 0, malloc_ = 0;
    std::uint8_t original_ = 0;
    Stage stage_ = Stage::Trigger;
    std::atomic<bool> ok_{false}, failed_{false};
    std::thread thread_;
};
} // namespace

// An allocation that fails while the wizard installs is an unexpected error:
// the box says so, and whatever the person does next the run ends with 217.
TEST_F(Faults, AnUnexpectedErrorOnTheProgressPageEndsWith217) {
    SetupProcess p(L"\"-D" + main + L"\"");
    ASSERT_TRUE(p.ToReadyPage());
    FailOneAllocation fault(p.Id());
    ASSERT_TRUE(fault.Attached());
    p.Click(p.Button(GetTextW(txtNext)));
    HWND box = p.MessageBox();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(fault.Failed());
    EXPECT_EQ(p.MessageText(box), L"Critical error");
    EXPECT_EQ(p.PageTitle(), GetTextW(txtPageTitle0 + 4)); // it happened on the progress page
    p.Answer(box, IDOK);
    // The page is left as the error found it; the person cancels and confirms.
    p.Click(p.Button(GetTextW(txtCancel)));
    HWND question = p.MessageBox();
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(p.MessageText(question), GetTextW(txtNotFinished));
    p.Answer(question, IDYES);
    EXPECT_EQ(p.Wait(), 217);
    // The copying had begun (the shared folders were made): it is recorded in the
    // journal key, for the next run, as the install folder for Install.log was not made yet.
    EXPECT_TRUE(Exists(SharedData() + L"Public"));
    EXPECT_FALSE(Exists(main + L"\\qrd.exe"));
    EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, L"Software\\Norvanta Word Processor\\Journal", L"Folder").Text(),
              main);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKeyW))
        << "no entry starts a program that is not there";
}

// Only bytes the running image vouches for are installed: a file its index does
// not prove, or without one, is read through the image; so is a setup whose file
// is swapped for another program while it waits for the lock (or the swap is refused).
TEST_F(Faults, OnlyTheBytesTheRunningImageCarriesAreInstalled) {
    const char impostorProgram[] = "MZ not the genuine program";
    std::vector<std::uint8_t> raw;
    AppendRecord(raw, "qrd.exe", 45000.0, impostorProgram, sizeof impostorProgram - 1);
    uLongf n = compressBound(static_cast<uLong>(raw.size()));
    std::string z(n, '\0');
    compress2(reinterpret_cast<Bytef*>(z.data()), &n, raw.data(), static_cast<uLong>(raw.size()), 9);
    std::wstring runLog = dir / L"setup.log", other = dir / L"o", bare = dir / L"b";
    CreateDirectoryW(other.c_str(), nullptr);
    CreateDirectoryW(bare.c_str(), nullptr);
    std::wstring impostor = SetupVariant(other, "FILES", "FILES", z.substr(0, n));
    const std::pair<std::wstring, const char*> runs[] = {
        {impostor, "listed by one pass: its index was made for "},
        {SetupVariant(bare, "FILES", "INDEX", "", true), "listed by one pass: the program carries no index"}};
    for (const auto& [exe, why] : runs) {
        CleanInstallState();
        EXPECT_EQ(RunSilently(L"/S \"/D" + main + L"\" \"/LOG=" + runLog + L"\"", exe), 0) << why;
        EXPECT_TRUE(HasLine(FileLines(runLog), why));
        EXPECT_EQ(Bytes(main + L"\\qrd.exe"), exe == impostor ? impostorProgram : Bytes(DemoProgramExe()));
    }
    CleanInstallState();
    std::wstring setup = dir / L"setup.exe", away = dir / L"setup-away.exe";
    ASSERT_TRUE(CopyFileW(SetupExe().c_str(), setup.c_str(), FALSE));
    HANDLE lock = HoldInstallLock();
    SetupProcess p(L"/S \"/D" + main + L"\" \"/LOG=" + runLog + L"\"", setup);
    ASSERT_TRUE(WaitsForInstallLock(runLog));
    bool swapped =
        MoveFileW(setup.c_str(), away.c_str()) && CopyFileW(impostor.c_str(), setup.c_str(), FALSE);
    ReleaseInstallLock(lock);
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_EQ(Bytes(main + L"\\qrd.exe"), Bytes(DemoProgramExe()));
    RecordProperty("swap", swapped ? "renamed, read from the image" : "refused");
    EXPECT_TRUE(!swapped || HasLine(FileLines(runLog), "read from the program's image"));
}
