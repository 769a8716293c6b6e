#include "Settings.h"
#include "Files.h"
#include "InstallRecords.h"
#include "Paths.h"
#include "Registry.h"
#include "RunLog.h"
#include "Strings.h"
#include "TextConv.h"
#include "UpdateLog.h"
#include <algorithm>

namespace {
// The three options as the settings and the uninstall entry both keep them.
void LoadOptions(const TRegistry& reg, TInstallOptions& options) {
    if (reg.ValuePresent("INSTALLTOALL")) options.AllUsers = reg.GetFlag("INSTALLTOALL");
    if (reg.ValuePresent("DSKSHORTCUT")) options.DesktopShortcut = reg.GetFlag("DSKSHORTCUT");
    if (reg.ValuePresent("LAUNCH")) options.Launch = reg.GetFlag("LAUNCH");
}
} // namespace

bool LoadInstallSettings(std::wstring& mainDir, TInstallOptions& options) {
    TRegistry reg;
    if (!reg.OpenExistingKey(kSettingsKey)) return false;
    if (reg.ValuePresent("MAINDIR")) mainDir = reg.GetText("MAINDIR");
    LoadOptions(reg, options);
    return true;
}

bool LoadUninstallEntry(std::wstring& mainDir, TInstallOptions& options) {
    TRegistry reg;
    reg.ChangeRoot(HKEY_LOCAL_MACHINE);
    if (!reg.OpenExistingKey(kUninstallKey)) return false;
    std::wstring folder = reg.GetText("InstallLocation");
    if (folder.empty()) {
        std::wstring icon = reg.GetText("DisplayIcon");
        if (SamePath(NamePartOf(icon), L"qrd.exe")) folder = PathWithoutSlash(FolderPartOf(icon));
    }
    if (!folder.empty()) mainDir = folder;
    LoadOptions(reg, options);
    return true;
}

namespace {
// Each value as the run log tells it: where, what, and whether it was stored.
class TTracedKey {
public:
    TTracedKey(HKEY root, const wchar_t* rootName, const char* path, TRunLog* trace)
        : trace_(trace), where_(std::wstring(rootName) + L"\\" + Utf8ToUtf16(path) + L"\\") {
        reg_.ChangeRoot(root);
        long r = reg_.OpenOrCreateKey(path);
        if (r != ERROR_SUCCESS && trace_) trace_->Failure(L"Could not open or create the key " + where_, r);
    }
    bool Text(const char* name, const std::wstring& text) {
        long r = reg_.PutText(name, text);
        Told(name, L"\"" + text + L"\"", r);
        return r == ERROR_SUCCESS;
    }
    void Number(const char* name, std::int32_t value) {
        Told(name, DecimalW(value), reg_.PutNumber(name, value));
    }

private:
    void Told(const char* name, const std::wstring& shown, long result) {
        if (!trace_) return;
        std::wstring value = where_ + Utf8ToUtf16(name);
        if (result == ERROR_SUCCESS)
            trace_->Line(L"Registry value: " + value + L" = " + shown);
        else
            trace_->Failure(L"Could not write the registry value " + value, result);
    }
    TRegistry reg_;
    TRunLog* trace_;
    std::wstring where_;
};
} // namespace

bool SaveInstallSettings(const std::wstring& mainDir, const TInstallOptions& options, bool portable,
                         TRunLog* trace, std::uint64_t bytesWritten, const std::string& logSha256) {
    bool stored = logSha256.empty();
    {
        TTracedKey settings(HKEY_CURRENT_USER, L"HKCU", kSettingsKey, trace);
        settings.Text("MAINDIR", mainDir);
        settings.Number("INSTALLTOALL", options.AllUsers ? 1 : 0);
        settings.Number("DSKSHORTCUT", options.DesktopShortcut ? 1 : 0);
        settings.Number("LAUNCH", options.Launch ? 1 : 0);
        if (!logSha256.empty()) stored = settings.Text(kLogHashValue, Utf8ToUtf16(logSha256)) || stored;
    }
    if (portable) return stored;
    std::wstring program = JoinPath(mainDir, "qrd.exe");
    TTracedKey entry(HKEY_LOCAL_MACHINE, L"HKLM", kUninstallKey, trace);
    entry.Text("DisplayIcon", program);
    entry.Text("DisplayName", GetTextW(txtProductName));
    entry.Text("DisplayVersion", L"4.4.6.1");
    entry.Number("EstimatedSize", static_cast<std::int32_t>(
                                      std::min<std::uint64_t>((bytesWritten + 1023) / 1024, 0x7FFFFFFF)));
    entry.Text("Publisher", L"The Norvanta Word Processor Team");
    entry.Text("UninstallString", L"\"" + program + L"\" -ui");
    // What deployment and inventory tools look for beside the program list's own.
    entry.Text("QuietUninstallString", L"\"" + program + L"\" -ui /S");
    entry.Text("InstallLocation", mainDir);
    SYSTEMTIME now;
    GetLocalTime(&now);
    entry.Text("InstallDate", DecimalW(now.wYear * 10000 + now.wMonth * 100 + now.wDay));
    entry.Number("NoModify", 1);
    entry.Number("NoRepair", 1);
    entry.Number("VersionMajor", 4);
    entry.Number("VersionMinor", 4);
    entry.Text("URLInfoAbout", GetTextW(txtPortableHelpUrl));
    // The options, for another account's next run, which has no settings of its own.
    entry.Number("INSTALLTOALL", options.AllUsers ? 1 : 0);
    entry.Number("DSKSHORTCUT", options.DesktopShortcut ? 1 : 0);
    entry.Number("LAUNCH", options.Launch ? 1 : 0);
    // What the uninstaller checks Install.log against before it follows it.
    if (!logSha256.empty()) stored = entry.Text(kLogHashValue, Utf8ToUtf16(logSha256)) || stored;
    return stored;
}

void LoadRecordedLogHashes(std::vector<std::pair<std::wstring, std::string>>& found) {
    TRegistry machine;
    machine.ChangeRoot(HKEY_LOCAL_MACHINE);
    if (machine.OpenExistingKey(kUninstallKey) && machine.ValuePresent(kLogHashValue))
        found.emplace_back(machine.GetText("InstallLocation"), Utf16ToUtf8(machine.GetText(kLogHashValue)));
    TRegistry user;
    if (user.OpenExistingKey(kSettingsKey) && user.ValuePresent(kLogHashValue))
        found.emplace_back(user.GetText("MAINDIR"), Utf16ToUtf8(user.GetText(kLogHashValue)));
}

bool WriteUpdateLog(const std::wstring& sharedDataFolder, TStringList& publicFiles, double stamp) {
    if (publicFiles.Count() == 0) return true;
    publicFiles.Sort();
    std::string stampLine = StampLine(stamp);
    // A file that cannot be read or replaced whole keeps what is there.
    return RewriteFile(JoinPath(sharedDataFolder, "Update.log"), [&](TLogSource& earlier, TLogSink& out) {
        return MergeUpdateLog(earlier, publicFiles, stampLine, out);
    });
}
