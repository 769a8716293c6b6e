// One installation or removal at a time on this machine, whatever the session:
// the shared Update.log, state files, settings and the uninstall entry are
// never written by two programs at once. Taking the lock waits for whoever
// holds it; it is released when the holder ends, even by a crash.
#pragma once

class TRunLog;

class TInstallLock {
public:
    // The run log (if any) tells when it had to wait.
    explicit TInstallLock(TRunLog* trace = nullptr);
    ~TInstallLock();
    TInstallLock(const TInstallLock&) = delete;
    TInstallLock& operator=(const TInstallLock&) = delete;

private:
    void* mutex_ = nullptr; // a Windows HANDLE
    bool owned_ = false;
};
