#include "InstallLock.h"
#include "RunLog.h"
#include <windows.h>

namespace {
const wchar_t kName[] = L"Global\\Norvanta Word Processor Setup";
} // namespace

TInstallLock::TInstallLock(TRunLog* trace) {
    HANDLE m = CreateMutexW(nullptr, FALSE, kName);
    // Made by another account: waiting needs no more than the right to wait.
    if (!m) m = OpenMutexW(SYNCHRONIZE, FALSE, kName);
    mutex_ = m;
    if (!m) {
        // No lock to be had: go on unguarded rather than not at all.
        if (trace) trace->Failure(L"No lock against a second setup; going on without it", GetLastError());
        return;
    }
    DWORD r = WaitForSingleObject(m, 0);
    if (r == WAIT_TIMEOUT) {
        if (trace) trace->Line(L"Another setup or uninstall runs on this machine: waiting for it to end");
        r = WaitForSingleObject(m, INFINITE);
        if (trace) trace->Line(L"It has ended");
    }
    // An abandoned lock was left by a program that died: it is ours now.
    owned_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

TInstallLock::~TInstallLock() {
    if (owned_) ReleaseMutex(static_cast<HANDLE>(mutex_));
    if (mutex_) CloseHandle(static_cast<HANDLE>(mutex_));
}
