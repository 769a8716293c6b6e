// One installation or removal at a time on this machine, whatever the session:
// the shared Update.log, state files, settings and the uninstall entry are
// never written by two programs at once. The lock lives in a namespace whose
// boundary needs the Administrators group, so that no other user can take it
// first and hold every installation up. It is released when the holder ends,
// even by a crash.
#pragma once
#include <functional>

class TRunLog;

class TInstallLock {
public:
    TInstallLock() = default; // takes nothing yet
    ~TInstallLock();
    TInstallLock(const TInstallLock&) = delete;
    TInstallLock& operator=(const TInstallLock&) = delete;

    // Takes the lock; while another holder has it, keepWaiting is asked about
    // every 200 ms (nil: wait without end) and false from it gives up (the answer
    // is then false). The run log (if any) tells when it had to wait. Where no
    // lock can be had at all, the run goes on unguarded (true). Taking it again
    // while it is held changes nothing.
    bool Acquire(TRunLog* trace, const std::function<bool()>& keepWaiting = nullptr);
    void Release();
    bool Held() const { return owned_; }

private:
    void* namespace_ = nullptr; // Windows HANDLEs
    void* mutex_ = nullptr;
    bool owned_ = false;
};
