#include "InstallLock.h"
#include "RunLog.h"
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

namespace {
const wchar_t kBoundary[] = L"Norvanta Word Processor";
const wchar_t kNamespace[] = L"Norvanta";
const wchar_t kPrivateName[] = L"Norvanta\\Setup";
// Where the system has no private namespaces (Wine): the name every setup used before.
const wchar_t kGlobalName[] = L"Global\\Norvanta Word Processor Setup";
// The namespace and the lock: the system and administrators only.
const wchar_t kSddl[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

bool SameSid(PSID a, PSID b) {
    return a && b && IsValidSid(a) && IsValidSid(b) && EqualSid(a, b);
}

// The lock found under the global name was made by the system, an
// administrator, or an account that owns what it makes as this process does.
bool MadeByAdministrators(HANDLE mutex) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, &sd) != ERROR_SUCCESS)
        return false;
    // No owner at all: a system that keeps none (Wine); waited for, as before.
    bool trusted = !owner || IsWellKnownSid(owner, WinLocalSystemSid) ||
                   IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
    HANDLE token = nullptr;
    if (!trusted && OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        alignas(void*) unsigned char buffer[256];
        DWORD n = 0;
        if (GetTokenInformation(token, TokenOwner, buffer, sizeof buffer, &n))
            trusted = SameSid(owner, reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner);
        CloseHandle(token);
    }
    LocalFree(sd);
    return trusted;
}
} // namespace

bool TInstallLock::Acquire(TRunLog* trace, const std::function<bool()>& keepWaiting) {
    if (owned_) return true;
    if (!mutex_) {
        PSECURITY_DESCRIPTOR sd = nullptr;
        ConvertStringSecurityDescriptorToSecurityDescriptorW(kSddl, SDDL_REVISION_1, &sd, nullptr);
        SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
        // Only a token that holds the Administrators group can make or open the
        // namespace: a standard user cannot make the lock before the setup does.
        HANDLE boundary = CreateBoundaryDescriptorW(kBoundary, 0);
        BYTE admins[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof admins;
        if (boundary && (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size) ||
                         !AddSIDToBoundaryDescriptor(&boundary, admins))) {
            DeleteBoundaryDescriptor(boundary);
            boundary = nullptr;
        }
        if (boundary) {
            HANDLE ns = CreatePrivateNamespaceW(&sa, boundary, kNamespace);
            if (!ns && GetLastError() == ERROR_ALREADY_EXISTS)
                ns = OpenPrivateNamespaceW(boundary, kNamespace);
            DeleteBoundaryDescriptor(boundary);
            namespace_ = ns;
            if (ns) mutex_ = CreateMutexW(&sa, FALSE, kPrivateName);
            if (!mutex_ && trace) trace->Failure(L"No lock in the administrators' namespace", GetLastError());
        }
        if (!namespace_) {
            HANDLE m = CreateMutexW(&sa, FALSE, kGlobalName);
            bool existed = m && GetLastError() == ERROR_ALREADY_EXISTS;
            // Made by another account: waiting needs no more than the right to wait.
            if (!m && GetLastError() == ERROR_ACCESS_DENIED) {
                m = OpenMutexW(SYNCHRONIZE, FALSE, kGlobalName);
                existed = m != nullptr;
            }
            // One that someone else made first would hold every setup up: not waited for.
            if (m && existed && !MadeByAdministrators(m)) {
                if (trace)
                    trace->Line(L"The lock against a second setup was made by an account that is not an "
                                L"administrator: going on without it");
                CloseHandle(m);
                m = nullptr;
                SetLastError(ERROR_ACCESS_DENIED);
            }
            mutex_ = m;
        }
        if (sd) LocalFree(sd);
        if (!mutex_) {
            // No lock to be had: go on unguarded rather than not at all.
            if (trace) trace->Failure(L"No lock against a second setup; going on without it", GetLastError());
            return true;
        }
    }
    HANDLE m = static_cast<HANDLE>(mutex_);
    DWORD r = WaitForSingleObject(m, 0);
    if (r == WAIT_TIMEOUT) {
        if (trace) trace->Line(L"Another setup or uninstall runs on this machine: waiting for it to end");
        while ((r = WaitForSingleObject(m, keepWaiting ? 200 : INFINITE)) == WAIT_TIMEOUT) {
            if (!keepWaiting()) {
                if (trace) trace->Line(L"Stopped waiting for the other setup or uninstall");
                return false;
            }
        }
        if (trace) trace->Line(L"It has ended");
    }
    // An abandoned lock was left by a program that died: it is ours now.
    owned_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    return true;
}

void TInstallLock::Release() {
    if (owned_) ReleaseMutex(static_cast<HANDLE>(mutex_));
    owned_ = false;
}

TInstallLock::~TInstallLock() {
    Release();
    if (mutex_) CloseHandle(static_cast<HANDLE>(mutex_));
    if (namespace_) ClosePrivateNamespace(static_cast<HANDLE>(namespace_), 0);
}
