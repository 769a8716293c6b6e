// Runs the real setup.exe and drives it as a person or a deployment tool would:
// start it with a command line, wait for its exit code, find its wizard window,
// read the page title, press buttons and keys, answer its message boxes.
#pragma once
#include <windows.h>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class SetupProcess {
public:
    // Starts the program with the arguments (the program name is added in front);
    // with a token (CreateProcessAsUserW), or on a desktop made for it (the name
    // given), out of this desktop's sight as a program of another session is.
    explicit SetupProcess(const std::wstring& arguments, const std::wstring& exe = L"",
                          HANDLE token = nullptr, const wchar_t* desktop = nullptr);
    // Starts it at a screen scale (pixels per inch), which is set only until its
    // wizard shows: by then the program has read it.
    SetupProcess(const std::wstring& arguments, int pixelsPerInch);
    ~SetupProcess(); // a process still running is ended
    SetupProcess(const SetupProcess&) = delete;
    SetupProcess& operator=(const SetupProcess&) = delete;

    bool Started() const { return process_ != nullptr; }
    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_; }
    // The exit code, or -1 when it did not end within the time.
    int Wait(DWORD milliseconds = 60000);

    // ---- The wizard, once shown.
    HWND Form(DWORD milliseconds = 20000);
    std::wstring PageTitle();
    // Waits until the title is the given one; false when it does not come.
    bool WaitForTitle(const std::wstring& title, DWORD milliseconds = 20000);
    // Next from the welcome page to the ready page, each page awaited; false when one does not come.
    bool ToReadyPage();
    HWND Button(const std::wstring& caption);
    HWND CheckBox(const std::wstring& caption);
    HWND Edit();
    // A click or key is posted, as input is: its effect shows once the wizard has
    // taken it, so what follows waits for that effect (WaitForTitle, Eventually).
    void Click(HWND control);
    bool Checked(HWND checkBox);
    std::wstring Text(HWND control);
    void SetText(HWND control, const std::wstring& text);
    // Key presses posted to a control of the wizard, as the keyboard would.
    void Key(HWND control, WPARAM vk);
    void Close(); // the window's close box

    // ---- The keyboard, as a person uses it: keys go to whatever has the focus.
    // The window that has the keyboard focus in the program, nil when none has.
    HWND Focus();
    bool WaitForFocus(HWND control, DWORD milliseconds = 20000);
    // A key pressed and released, with Shift or Alt held down around it.
    static void Type(WORD vk, bool shift = false, bool alt = false);

    // ---- Message boxes of the process: the text of the one shown, then the answer.
    HWND MessageBox(DWORD milliseconds = 20000);
    std::wstring MessageText(HWND box);
    void Answer(HWND box, int button);
    bool AnyVisibleWindow(); // a top-level window of the process that a person would see
    // Raises the highest working set and commit charge seen so far to the
    // process's own peaks (Wine keeps them only while the process lives, so a
    // caller samples while it runs); false once it has ended.
    bool SampleMemory(SIZE_T& peakWorkingSet, SIZE_T& peakPagefile);

private:
    HWND FindChild(const wchar_t* cls, const std::wstring& text);
    bool UnexpectedBox(const wchar_t* waitingFor);
    HANDLE process_ = nullptr;
    HDESK desktop_ = nullptr;
    DWORD id_ = 0;
    HWND form_ = nullptr;
};

// Runs setup.exe to its end and answers its exit code; -1 when it does not end in
// time, -2 when a window a person could see showed meanwhile (a silent run must
// show nothing).
int RunSilently(const std::wstring& arguments, const std::wstring& exe = L"");

// Polls the condition until it holds; false when it does not within the time.
bool Eventually(const std::function<bool()>& condition, DWORD milliseconds = 10000);
// RunSilently, sampling the process's memory every few milliseconds.
int RunSilentlyMeasured(const std::wstring& arguments, const std::wstring& exe, SIZE_T& peakWorkingSet,
                        SIZE_T& peakPagefile);

std::wstring FromUtf8(const char* s);
std::string Utf8(const std::wstring& w);
// Whether a line holds the part; the system's text for an error code, as a run log writes it.
bool HasLine(const std::vector<std::string>& lines, const std::string& part);
std::string SystemText(DWORD code);
// The temporary folder (with its trailing "\"), and its files that match a pattern.
std::wstring TempFolder();
std::vector<std::wstring> TempFiles(const wchar_t* pattern);
// setup.exe with a generated payload of tens of MB, and the folder it was packed from.
std::wstring LargeSetupExe();
std::wstring LargePayloadFolder();
// The path of the built setup.exe (or of the copy that NORVANTA_SETUP_UNDER_TEST
// names), and of the demo qrd.exe.
std::wstring SetupExe();
std::wstring DemoProgramExe();
// A copy of setup.exe with one resource replaced by other bytes, or removed (type nil: RCDATA).
std::wstring SetupVariant(const std::wstring& folder, const char* type, const char* name,
                          const std::string& bytes, bool remove = false);
// A process that the one given started, once there is one; 0 when none comes in time.
DWORD ChildProcess(DWORD parent, DWORD milliseconds = 20000);
// A message box of the process given (which SetupProcess::Answer can answer).
HWND MessageBoxOf(DWORD process, DWORD milliseconds = 20000);
// The running word processor's mark on a window of another process.
bool MarkedWindowExists();
HWND MarkedWindow();
// The install lock held as another setup holds it (nil when it cannot be had),
// and whether a setup started with that run log waits for it.
HANDLE HoldInstallLock();
void ReleaseInstallLock(HANDLE lock);
bool WaitsForInstallLock(const std::wstring& runLog);
// A shell command run on the Linux side of Wine (sh -c, no double quotes in it):
// its exit status, or -1 when it could not be run or did not end in time.
int RunOnHost(const std::string& command, DWORD milliseconds = 30000);
// A link made on the Linux side, as another user could plant one (Wine reports a
// folder link as a reparse point); an empty target removes the link.
bool HostLink(const std::wstring& link, const std::wstring& target);
// The first visible child window of a class.
HWND VisibleChild(HWND parent, const wchar_t* cls);

// ---- For a test that is its setup's debugger.
// Where a function of this process's system libraries lies in another process:
// the same library there, at its own base (0 when it is not loaded there).
std::uintptr_t AddressIn(HANDLE process, const wchar_t* module, const char* function);
// Writes one byte of the other process's code (the earlier one to *before).
bool PokeByte(HANDLE process, std::uintptr_t at, std::uint8_t byte, std::uint8_t* before = nullptr);
