#include "Install.h"
#include "AttachFiles.h"
#include "Files.h"
#include "Globals.h"
#include "InstallLog.h"
#include "Paths.h"
#include "Settings.h"
#include "Shell.h"
#include "Strings.h"
#include "TextConv.h"
#include "UpdateLog.h"
#include <cstring>
#include <shlobj.h>

namespace {
const char kTemplates[] = "Mod\xC3\xA8les de document\\";
const char kInserts[] = "Collections d'inserts\\";

template <typename T>
void Put(std::string& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T)); // little-endian on every target
    out.append(bytes, sizeof(T));
}

std::wstring MainDirFile(const char* name) {
    return JoinPath(MainDir, name);
}

std::wstring ShortcutName() {
    return GetTextW(txtProductName) + L".lnk";
}
} // namespace

std::wstring GetDataFolder(int kind, bool portable) {
    std::wstring folder;
    if (portable) {
        folder = MainDir;
        PathWithSlash(folder);
    } else {
        std::wstring base = KnownFolder(CSIDL_COMMON_APPDATA);
        if (base.empty()) base = KnownFolder(CSIDL_PERSONAL);
        folder = JoinPath(base, "Norvanta");
        PathWithSlash(folder);
        if (kind == dfHidden) folder += L"Hidden\\";
        if (kind == dfPublic) folder += L"Public\\";
    }
    MakeFolderChain(folder);
    return folder;
}

std::string CommonStateBytes(double now) {
    std::string bytes;
    Put<std::int32_t>(bytes, 1);
    Put<std::int32_t>(bytes, 8);
    Put<double>(bytes, now);
    Put<std::int32_t>(bytes, 2);
    Put<std::int32_t>(bytes, 1);
    bytes.push_back('1');
    return bytes;
}

void PrepareInstall(TAttachedFiles& files, bool portable) {
    OverwriteAll = !portable;
    files.SelectFiles("qrd.exe", MainDir, wmReplaceIfOther);
    files.SelectFiles("Licence.txt", MainDir, wmReplaceIfOther);
    std::wstring shared = GetDataFolder(dfPublic, portable);
    // Templates and insert collections belong to the user: never logged, never removed.
    MuteLog();
    files.SelectFiles(kTemplates, shared, wmKeepExisting);
    files.SelectFiles(kInserts, shared, wmKeepExisting);
    UnmuteLog();
}

bool RunInstall(TAttachedFiles& files, TInstallChoices& choices, double& installStampTime) {
    bool portable = choices.IsPortable();
    InstallLog = std::make_unique<TStringList>();
    if (!portable) {
        InstallLogPath = MainDirFile("Install.log");
        if (FileIsPresent(InstallLogPath)) LoadListFromFile(*InstallLog, InstallLogPath);
    }
    InstallStarted = true;
    PrepareInstall(files, portable);
    if (!portable) {
        installStampTime = NowDateTime();
        WriteWholeFile(GetDataFolder(dfHidden, false) + L"install_stamp", StampBytes(installStampTime));
    }
    for (const auto& item : files.ToInstall) {
        if (!item->Logged) MuteLog();
        bool ok = files.WriteEntry(*item->Source, item->Target);
        if (!item->Logged) UnmuteLog();
        if (!ok) return false;
    }
    return true;
}

void FinishInstall(TInstallChoices& choices) {
    bool portable = choices.IsPortable();
    WriteWholeFile(GetDataFolder(dfShared, portable) + L"qrd_common.dat", CommonStateBytes(NowDateTime()));
    if (portable) {
        std::wstring ini = MainDirFile("Norvanta.ini");
        if (!FileIsPresent(ini)) WriteWholeFile(ini, std::string());
        return;
    }
    struct Row {
        int allUsers, currentUser;
        bool wanted;
    };
    bool all = choices.AllUsers();
    const Row rows[] = {{CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS, true},
                        {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY, choices.DesktopShortcut()}};
    std::wstring name = ShortcutName();
    for (const Row& row : rows) {
        std::wstring target = KnownFolder(all ? row.allUsers : row.currentUser);
        std::wstring other = KnownFolder(all ? row.currentUser : row.allUsers);
        if (!other.empty()) DeleteFileW(JoinPath(other, Utf16ToUtf8(name)).c_str());
        if (!row.wanted) continue;
        if (target.empty()) target = other;
        if (target.empty()) continue; // neither folder exists: no place for it
        MakeShortcut(JoinPath(target, Utf16ToUtf8(name)), MainDirFile("qrd.exe"), MainDir,
                     GetTextW(txtShortcutDescription));
    }
}

void CloseInstall(TAttachedFiles& files, TInstallChoices& choices, double installStampTime) {
    if (choices.IsPortable()) return;
    WriteUpdateLog(GetDataFolder(dfShared, false), files.PublicFiles, installStampTime);
}

void RecordInstall(TInstallChoices& choices) {
    if (!InstallStarted || choices.IsPortable()) return;
    try {
        TInstallOptions options;
        options.AllUsers = choices.AllUsers();
        options.DesktopShortcut = choices.DesktopShortcut();
        options.Launch = choices.LaunchAfter();
        SaveInstallSettings(MainDir, options, false);
        if (InstallLog && !InstallLogPath.empty()) SaveListToFile(*InstallLog, InstallLogPath);
    } catch (...) {
        // The records are a courtesy for the next run; never fail the installation on them.
    }
}
