// What the setup, the uninstaller and the installed program all know of the
// product: its registry keys, its data folder, its shortcuts, the mark of a
// running copy and how a running copy is found. Kept in one place so that the
// uninstaller's limits are always what the setup writes.
#pragma once
#include <string>

// The registry keys, in the 32-bit view the 32-bit setup writes to. UTF-8 for
// the registry class; the same keys in UTF-16 for the system's own calls.
#define NORVANTA_PRODUCT_KEY "Software\\Norvanta Word Processor"
#define NORVANTA_UNINSTALL_KEY                                                                               \
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Norvanta Word Processor"
// The settings (HKCU) and their parent, removed once empty.
inline constexpr char kSettingsParent[] = NORVANTA_PRODUCT_KEY;
inline constexpr char kSettingsKey[] = NORVANTA_PRODUCT_KEY "\\Install";
// The trust record of the journal of an installation under way (HKLM, or HKCU).
inline constexpr char kJournalKey[] = NORVANTA_PRODUCT_KEY "\\Journal";
// The uninstall entry (HKLM).
inline constexpr char kUninstallKey[] = NORVANTA_UNINSTALL_KEY;
inline constexpr wchar_t kSettingsParentWide[] = L"" NORVANTA_PRODUCT_KEY;
inline constexpr wchar_t kSettingsKeyWide[] = L"" NORVANTA_PRODUCT_KEY "\\Install";
inline constexpr wchar_t kJournalKeyWide[] = L"" NORVANTA_PRODUCT_KEY "\\Journal";
inline constexpr wchar_t kUninstallKeyWide[] = L"" NORVANTA_UNINSTALL_KEY;
#undef NORVANTA_PRODUCT_KEY
#undef NORVANTA_UNINSTALL_KEY

// The program file in the install folder.
inline constexpr char kProgramName[] = "qrd.exe";

// The running word processor puts this property on its main window.
inline constexpr wchar_t kRunningMark[] = L"1.x Quiet Fern";

// The uninstaller's switch of the run it starts again with administrator
// rights, "/ELEVATED=<process id of the run that waits for it>": that run
// never starts another, and the waiting run is no running copy to it.
inline constexpr wchar_t kElevatedSwitch[] = L"ELEVATED";

// The shortcut file, the product's name as the wizard shows it and ".lnk".
inline constexpr wchar_t kShortcutFileName[] = L"Traitement de texte Norvanta.lnk";

// The two places of a shortcut: the Start menu's Programs and the Desktop, each
// as the folder of all users and of the current user (CSIDL numbers).
struct TShortcutFolder {
    int AllUsers;
    int CurrentUser;
};
extern const TShortcutFolder kProgramsShortcutFolder;
extern const TShortcutFolder kDesktopShortcutFolder;

enum TDataFolder : int { dfShared = 0, dfHidden = 1, dfPublic = 2 };

// The data folder of a kind, with a trailing "\": "...\Norvanta\", its "Hidden\"
// or its "Public\" under the common application data (the documents folder when
// the system has none); a portable copy keeps everything in its own folder.
// Nothing is made.
std::wstring DataFolderPath(int kind, bool portable, const std::wstring& mainDir);

// Whether a copy of the word processor runs, this process and the one named
// aside: a window of this desktop carries the mark, or a process of any
// session runs the program file (the same file, whatever name reaches it), as
// the process list or the restart manager tells. What was found goes to found,
// for the run log.
bool WordProcessorRunning(const std::wstring& program, std::wstring* found = nullptr,
                          unsigned long besides = 0);
