#include "Settings.h"
#include "Files.h"
#include "Paths.h"
#include "Registry.h"
#include "Strings.h"
#include "UpdateLog.h"

bool LoadInstallSettings(std::wstring& mainDir, TInstallOptions& options) {
    TRegistry reg;
    if (!reg.OpenExistingKey(kSettingsKey)) return false;
    if (reg.ValuePresent("MAINDIR")) mainDir = reg.GetText("MAINDIR");
    if (reg.ValuePresent("INSTALLTOALL")) options.AllUsers = reg.GetFlag("INSTALLTOALL");
    if (reg.ValuePresent("DSKSHORTCUT")) options.DesktopShortcut = reg.GetFlag("DSKSHORTCUT");
    if (reg.ValuePresent("LAUNCH")) options.Launch = reg.GetFlag("LAUNCH");
    return true;
}

void SaveInstallSettings(const std::wstring& mainDir, const TInstallOptions& options, bool portable) {
    TRegistry reg;
    reg.OpenOrCreateKey(kSettingsKey);
    reg.PutText("MAINDIR", mainDir);
    reg.PutFlag("INSTALLTOALL", options.AllUsers);
    reg.PutFlag("DSKSHORTCUT", options.DesktopShortcut);
    reg.PutFlag("LAUNCH", options.Launch);
    if (portable) return;
    std::wstring program = JoinPath(mainDir, "qrd.exe");
    reg.ChangeRoot(HKEY_LOCAL_MACHINE);
    reg.OpenOrCreateKey(kUninstallKey);
    reg.PutText("DisplayIcon", program);
    reg.PutText("DisplayName", GetTextW(txtProductName));
    reg.PutText8("DisplayVersion", "4.4.6.1");
    reg.PutNumber("EstimatedSize", 3072);
    reg.PutText8("Publisher", "The Norvanta Word Processor Team");
    reg.PutText("UninstallString", L"\"" + program + L"\" -ui");
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
