#include "Security.h"
#include "Paths.h"
#include "Shell.h"
#include "WinHandles.h"
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <cstring>

static_assert(sizeof(SECURITY_ATTRIBUTES) <= 32, "room for the attributes");

std::vector<std::wstring> ProgramFolders() {
    // From the system's settings, not the environment, which whoever starts the setup chooses.
    std::vector<std::wstring> folders;
    for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86}) {
        std::wstring folder = KnownFolder(csidl);
        if (!folder.empty()) folders.push_back(folder);
    }
    // The 64-bit folder, which a 32-bit program sees only in the 64-bit registry.
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        wchar_t value[MAX_PATH + 1] = {};
        DWORD type = 0, size = sizeof value - sizeof(wchar_t);
        if (RegQueryValueExW(key, L"ProgramW6432Dir", nullptr, &type, reinterpret_cast<BYTE*>(value),
                             &size) == ERROR_SUCCESS &&
            type == REG_SZ && value[0])
            folders.emplace_back(value);
        RegCloseKey(key);
    }
    return folders;
}

TSecurityDescriptor::TSecurityDescriptor(const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!sddl || !ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr))
        return;
    descriptor_ = sd;
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    std::memcpy(attributes_, &sa, sizeof sa);
}

TSecurityDescriptor::~TSecurityDescriptor() {
    if (descriptor_) LocalFree(descriptor_);
}

bool SetFolderSddl(const std::wstring& folder, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr))
        return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    std::wstring path = folder;
    bool ok = GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) &&
              SetNamedSecurityInfoW(path.data(), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, dacl, nullptr) == ERROR_SUCCESS;
    LocalFree(sd);
    return ok;
}

namespace {
bool TrustedOwner(PSID owner) {
    if (!owner || !IsValidSid(owner)) return false;
    for (WELL_KNOWN_SID_TYPE type : {WinLocalSystemSid, WinBuiltinAdministratorsSid})
        if (IsWellKnownSid(owner, type)) return true;
    // TrustedInstaller, the service that owns the system's own files.
    PSID installer = nullptr;
    bool same = ConvertStringSidToSidW(L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
                                       &installer) &&
                EqualSid(owner, installer);
    if (installer) LocalFree(installer);
    return same;
}

HANDLE OpenItself(const std::wstring& path, DWORD access) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// A redirection someone other than the system or the administrators made.
bool UntrustedLink(const std::wstring& path) {
    UniqueHandle h(OpenItself(path, FILE_READ_ATTRIBUTES | READ_CONTROL));
    if (!h.valid()) return true; // a link that cannot be examined is not followed
    FILE_ATTRIBUTE_TAG_INFO tag{};
    // Other tags (deduplication, cloud files) keep the data in place: no redirection.
    if (GetFileInformationByHandleEx(h.get(), FileAttributeTagInfo, &tag, sizeof tag) &&
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && tag.ReparseTag != 0 &&
        !IsReparseTagNameSurrogate(tag.ReparseTag))
        return false;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    bool trusted = GetSecurityInfo(h.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                   nullptr, nullptr, &sd) == ERROR_SUCCESS &&
                   TrustedOwner(owner);
    if (sd) LocalFree(sd);
    return !trusted;
}

std::wstring FinalPath(HANDLE h) {
    wchar_t buffer[MAX_PATH * 2];
    DWORD n = GetFinalPathNameByHandleW(h, buffer, MAX_PATH * 2, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return n > 0 && n < MAX_PATH * 2 ? std::wstring(buffer, n) : std::wstring();
}
} // namespace

std::wstring UntrustedLinkIn(const std::wstring& folder) {
    std::wstring path = PathWithoutSlash(folder);
    std::size_t at = PathRootLength(folder);
    if (at == 0) return std::wstring();
    while (at < path.size()) {
        std::size_t end = path.find(L'\\', at);
        if (end == std::wstring::npos) end = path.size();
        std::wstring part = path.substr(0, end);
        DWORD attributes = GetFileAttributesW(part.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) break; // the rest is made by this run
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && UntrustedLink(part)) return part;
        at = end + 1;
    }
    return std::wstring();
}

unsigned long LinkRefusedError() {
    return ERROR_CANT_ACCESS_FILE;
}

bool IsLinkedFile(const std::wstring& path) {
    UniqueHandle h(OpenItself(path, FILE_READ_ATTRIBUTES));
    if (!h.valid()) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h.get(), &info)) return true;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && info.nNumberOfLinks > 1) return true;
    // Wine follows a file link made on its host even when asked not to: the
    // handle's own path tells where it ended.
    UniqueHandle parent(CreateFileW(FolderPartOf(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::wstring itself = FinalPath(h.get()), folder = parent.valid() ? FinalPath(parent.get()) : L"";
    if (itself.empty() || folder.empty()) return false; // nothing to compare: the attributes decided
    PathWithSlash(folder);
    return !SamePath(itself, folder + NamePartOf(path));
}

bool IsElevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD n = 0;
    bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &n) &&
                    elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
}

bool StartAsDesktopUser(const std::wstring& program, const std::wstring& folder, unsigned long* processId) {
    HWND shell = GetShellWindow();
    DWORD shellId = 0;
    if (!shell || !GetWindowThreadProcessId(shell, &shellId) || !shellId) return false;
    UniqueHandle parent(OpenProcess(PROCESS_CREATE_PROCESS, FALSE, shellId));
    if (!parent.valid()) return false;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> storage(size);
    auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) return false;
    HANDLE parentHandle = parent.get();
    bool started = false;
    if (UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_PARENT_PROCESS, &parentHandle,
                                  sizeof parentHandle, nullptr, nullptr)) {
        STARTUPINFOEXW si{};
        si.StartupInfo.cb = sizeof si;
        si.lpAttributeList = list;
        PROCESS_INFORMATION pi{};
        std::wstring line = L"\"" + program + L"\"";
        started = CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE,
                                 EXTENDED_STARTUPINFO_PRESENT | CREATE_DEFAULT_ERROR_MODE, nullptr,
                                 folder.empty() ? nullptr : folder.c_str(), &si.StartupInfo, &pi);
        if (started) {
            if (processId) *processId = pi.dwProcessId;
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
    }
    DeleteProcThreadAttributeList(list);
    return started;
}
