#include "Elevation.h"
#include "Product.h"
#include "RunLog.h"
#include "SystemLibraries.h"
#include "TextConv.h"
#include "Uninstall.h"
#include "WinHandles.h"
#include <windows.h>
#include <shellapi.h>

namespace {
const wchar_t kNoRights[] =
    L"La désinstallation du traitement de texte Norvanta demande les droits d'administrateur, qui n'ont "
    L"pas pu être obtenus.\r\n\r\nRien n'a été supprimé.";

bool KeyPresent(HKEY root, const wchar_t* path, DWORD* allUsers = nullptr) {
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_WOW64_32KEY | KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    if (allUsers) {
        DWORD type = 0, size = sizeof *allUsers;
        if (RegQueryValueExW(key, L"INSTALLTOALL", nullptr, &type, reinterpret_cast<BYTE*>(allUsers),
                             &size) != ERROR_SUCCESS ||
            type != REG_DWORD)
            *allUsers = 0;
    }
    RegCloseKey(key);
    return true;
}
} // namespace

TRightsStep RightsStep(bool machineWide, bool admin, bool silent, bool relaunched) {
    if (!machineWide || admin) return TRightsStep::GoOn;
    // A run started for the rights that still lacks them would start another for ever.
    if (silent || relaunched) return TRightsStep::Refuse;
    return TRightsStep::StartElevated;
}

bool MachineWideInstallation() {
    DWORD allUsers = 0;
    return KeyPresent(HKEY_LOCAL_MACHINE, kUninstallKeyWide) ||
           (KeyPresent(HKEY_CURRENT_USER, kSettingsKeyWide, &allUsers) && allUsers == 1);
}

bool HasAdministratorRights(void* token) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID admins = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, &admins))
        return false;
    // The membership is asked of an impersonation token: a primary one is copied as one.
    UniqueHandle copy;
    HANDLE check = static_cast<HANDLE>(token);
    TOKEN_TYPE type = TokenPrimary;
    DWORD size = 0;
    if (check && GetTokenInformation(check, TokenType, &type, sizeof type, &size) && type == TokenPrimary) {
        HANDLE d = nullptr;
        copy.reset(DuplicateToken(check, SecurityIdentification, &d) ? d : nullptr);
        check = copy.get();
        if (!check) {
            FreeSid(admins);
            return false;
        }
    }
    BOOL member = FALSE;
    if (!CheckTokenMembership(check, admins, &member)) member = FALSE;
    FreeSid(admins);
    if (!member) return false;
    // A filtered token under user account control is not an administrator's,
    // whatever its groups say.
    UniqueHandle own;
    HANDLE query = static_cast<HANDLE>(token);
    if (!query) {
        HANDLE t = nullptr;
        if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &t) ||
            OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &t))
            own.reset(t);
        query = own.get();
    }
    TOKEN_ELEVATION_TYPE elevation = TokenElevationTypeDefault;
    if (query && GetTokenInformation(query, TokenElevationType, &elevation, sizeof elevation, &size) &&
        elevation == TokenElevationTypeLimited)
        return false;
    return true;
}

bool EnsureUninstallRights(const TUninstallOptions& options, TRunLog& log, const std::wstring& logPath,
                           int& code, std::wstring& reason) {
    bool machineWide = MachineWideInstallation(), admin = HasAdministratorRights();
    TRightsStep step = RightsStep(machineWide, admin, options.Silent, options.Elevated);
    if (step == TRightsStep::GoOn) return true;
    log.Line(std::wstring(L"A machine-wide installation, and this run has no administrator rights") +
             (options.Elevated ? L" (though started for them)" : L""));
    auto refuse = [&](const std::wstring& why) {
        if (!options.Silent) UninstallBox(kNoRights, MB_OK | MB_ICONWARNING);
        code = kUninstallNoRights;
        reason = why;
        return false;
    };
    if (step == TRightsStep::Refuse)
        return refuse(options.Silent
                          ? L"a silent run without administrator rights asks for none: nothing removed"
                          : L"still no administrator rights: nothing removed");

    std::wstring program = ModuleFilePath(), arguments = std::wstring(L"-ui /") + kElevatedSwitch + L"=" +
                                                         DecimalW(GetCurrentProcessId());
    if (!logPath.empty()) arguments += L" \"/LOG=" + logPath + L"\"";
    // Neither run may hold the install folder as its current folder.
    wchar_t system[MAX_PATH + 1] = {};
    if (GetSystemDirectoryW(system, MAX_PATH)) SetCurrentDirectoryW(system);
    auto run = Shell32().ShellExecuteExW;
    log.Line(L"Starting again with administrator rights: \"" + program + L"\" " + arguments);
    if (!logPath.empty()) log.Close(); // the elevated run goes on in the same file
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = program.c_str();
    info.lpParameters = arguments.c_str();
    info.lpDirectory = system;
    info.nShow = SW_SHOWNORMAL;
    EnsureOle();
    BOOL started = run && !program.empty() && run(&info);
    DWORD error = started ? 0 : (run ? GetLastError() : ERROR_PROC_NOT_FOUND);
    UniqueHandle child(info.hProcess);
    DWORD childCode = 0;
    bool waited = started && child.valid() && WaitForSingleObject(child.get(), INFINITE) == WAIT_OBJECT_0 &&
                  GetExitCodeProcess(child.get(), &childCode);
    if (!logPath.empty()) log.Append(logPath);
    if (!started && error == ERROR_CANCELLED) {
        code = kUninstallDone;
        reason = L"the prompt for administrator rights was refused: nothing removed";
        return false;
    }
    if (!started) {
        log.Failure(L"Could not start the run with administrator rights", error);
        return refuse(L"no administrator rights could be had: nothing removed");
    }
    code = waited ? static_cast<int>(childCode) : kUninstallDone;
    reason = waited ? L"the run with administrator rights ended with " + DecimalW(childCode)
                    : L"the run with administrator rights goes on; its end is not known here";
    return false;
}
