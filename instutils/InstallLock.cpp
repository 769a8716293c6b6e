#include "InstallLock.h"
#include <windows.h>

namespace {
const wchar_t kName[] = L"Global\\Norvanta Word Processor Setup";
} // namespace

TInstallLock::TInstallLock() {
    HANDLE m = CreateMutexW(nullptr, FALSE, kName);
    // Made by another account: waiting needs no more than the right to wait.
    if (!m) m = OpenMutexW(SYNCHRONIZE, FALSE, kName);
    mutex_ = m;
    if (!m) return; // no lock to be had: go on unguarded rather than not at all
    DWORD r = WaitForSingleObject(m, INFINITE);
    // An abandoned lock was left by a program that died: it is ours now.
    owned_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
}

TInstallLock::~TInstallLock() {
    if (owned_) ReleaseMutex(static_cast<HANDLE>(mutex_));
    if (mutex_) CloseHandle(static_cast<HANDLE>(mutex_));
}
