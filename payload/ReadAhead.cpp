#include "ReadAhead.h"
#include "Exceptions.h"
#include <algorithm>
#include <exception>
#include <new>
#include <string>
#include <windows.h>

namespace {
struct TBlock {
    std::unique_ptr<std::uint8_t[]> data;
    std::size_t length = 0;
    bool last = false;          // the stream ends in it, or the inflater failed in it
    std::exception_ptr failure; // what the inflater threw (damage, or a read that failed)
};
} // namespace

// One writer (the thread) and one reader share a ring of blocks. The thread
// fills blocks[head] outside the lock; the reader holds blocks[tail] while it
// is taken from, and gives it back when it moves on.
struct TInflateAhead::State {
    State(TStreamInflater& z, bool threaded) : inflater(z), count(threaded ? kBlocks : 1) {
        // Made here, not on the thread: the process may end while the thread runs
        // (ExitProcess stops it wherever it is, and a heap lock it held would stay
        // taken), so it allocates nothing unless the inflater fails.
        if (threaded)
            for (TBlock& b : blocks) b.data.reset(new std::uint8_t[kBlock]);
    }
    TStreamInflater& inflater;
    const unsigned count; // blocks in the ring
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    TBlock blocks[kBlocks];
    unsigned head = 0, tail = 0, filled = 0; // filled counts the held block too
    std::size_t offset = 0;                  // the reader's place in blocks[tail]
    bool holding = false, ended = false, busy = false, stop = false;
    HANDLE thread = nullptr;
    bool started = false; // the thread was asked for (it may have failed to start)

    // Inflates the next block; called without the lock, by one side at a time.
    void Fill(TBlock& b) {
        b.length = 0;
        b.failure = nullptr;
        // Made when first filled, not zero-filled: a small payload touches only what it fills.
        if (!b.data) b.data.reset(new (std::nothrow) std::uint8_t[kBlock]);
        try {
            if (!b.data) throw EZlibError("Out of memory while inflating");
            b.length = inflater.Read(b.data.get(), kBlock);
            b.last = b.length < kBlock;
        } catch (const std::bad_alloc&) {
            b.failure = std::make_exception_ptr(EZlibError("Out of memory while inflating"));
            b.last = true;
        } catch (...) {
            // Handed to the reader as it was thrown: the thread goes on waiting.
            b.failure = std::current_exception();
            b.last = true;
        }
    }
    // Under the lock: the block just filled joins the ring.
    void Publish() {
        ended = blocks[head].last;
        head = (head + 1) % count;
        ++filled;
        WakeAllConditionVariable(&changed);
    }
};

unsigned long __stdcall TInflateAhead::Run(void* state) {
    auto& s = *static_cast<State*>(state);
    AcquireSRWLockExclusive(&s.lock);
    for (;;) {
        while (!s.stop && (s.ended || s.filled == s.count))
            SleepConditionVariableSRW(&s.changed, &s.lock, INFINITE, 0);
        if (s.stop) break;
        s.busy = true;
        ReleaseSRWLockExclusive(&s.lock);
        s.Fill(s.blocks[s.head]);
        AcquireSRWLockExclusive(&s.lock);
        s.busy = false;
        s.Publish();
    }
    ReleaseSRWLockExclusive(&s.lock);
    return 0;
}

TInflateAhead::TInflateAhead(TStreamInflater& inflater, bool threaded)
    : s_(std::make_unique<State>(inflater, threaded)) {
    s_->started = !threaded;
}

TInflateAhead::~TInflateAhead() {
    if (!s_->thread) return;
    AcquireSRWLockExclusive(&s_->lock);
    s_->stop = true;
    WakeAllConditionVariable(&s_->changed);
    ReleaseSRWLockExclusive(&s_->lock);
    WaitForSingleObject(s_->thread, INFINITE);
    CloseHandle(s_->thread);
}

std::size_t TInflateAhead::Take(const std::uint8_t*& bytes, std::size_t count) {
    State& s = *s_;
    if (count == 0) return 0;
    AcquireSRWLockExclusive(&s.lock);
    for (;;) {
        if (s.holding) {
            TBlock& b = s.blocks[s.tail];
            if (s.offset < b.length) {
                std::size_t n = std::min(count, b.length - s.offset);
                bytes = b.data.get() + s.offset;
                s.offset += n;
                position_ += n;
                ReleaseSRWLockExclusive(&s.lock);
                return n;
            }
            if (b.last) { // held on to: every later call ends here too
                std::exception_ptr failure = b.failure;
                ReleaseSRWLockExclusive(&s.lock);
                if (failure) std::rethrow_exception(failure);
                return 0;
            }
            s.holding = false;
            s.tail = (s.tail + 1) % s.count;
            s.offset = 0;
            --s.filled;
            WakeAllConditionVariable(&s.changed);
        }
        if (!s.started) {
            s.started = true;
            // Without a thread (none can be made) the reader fills the blocks itself.
            s.thread = CreateThread(nullptr, 256 * 1024, Run, &s, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        }
        if (!s.thread && s.filled == 0) {
            s.Fill(s.blocks[s.head]);
            s.Publish();
        }
        while (s.filled == 0) SleepConditionVariableSRW(&s.changed, &s.lock, INFINITE, 0);
        s.holding = true;
    }
}

std::uint64_t TInflateAhead::Skip(std::uint64_t count) {
    std::uint64_t skipped = 0;
    const std::uint8_t* bytes = nullptr;
    while (skipped < count) {
        std::size_t n =
            Take(bytes, static_cast<std::size_t>(std::min<std::uint64_t>(count - skipped, kBlock)));
        if (n == 0) break;
        skipped += n;
    }
    return skipped;
}

void TInflateAhead::Restart() {
    State& s = *s_;
    AcquireSRWLockExclusive(&s.lock);
    // The thread may be inside a block: let it finish, then keep it out.
    while (s.busy) SleepConditionVariableSRW(&s.changed, &s.lock, INFINITE, 0);
    s.inflater.Restart();
    s.head = s.tail = s.filled = 0;
    s.offset = 0;
    s.holding = s.ended = false;
    position_ = 0;
    WakeAllConditionVariable(&s.changed);
    ReleaseSRWLockExclusive(&s.lock);
}
