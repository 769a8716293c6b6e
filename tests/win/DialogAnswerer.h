// Answers the dialogs (class "#32770") of this process from a second thread, as a
// user would: each dialog that appears gets the next step, its text is kept.
// A dialog beyond the planned steps is cancelled so that no test can hang on it.
#pragma once
#include <windows.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class DialogAnswerer {
public:
    struct Step {
        int button;                       // IDOK, IDRETRY, IDIGNORE, IDABORT...
        std::function<void(HWND)> before; // run before pressing, given the dialog (may be empty)
    };

    explicit DialogAnswerer(std::vector<Step> steps, std::wstring caption = L"")
        : steps_(std::move(steps)), caption_(std::move(caption)), thread_([this] { Watch(); }) {}
    ~DialogAnswerer() {
        stop_ = true;
        thread_.join();
    }
    DialogAnswerer(const DialogAnswerer&) = delete;
    DialogAnswerer& operator=(const DialogAnswerer&) = delete;

    int Seen() const { return seen_; }
    int Unplanned() const { return unplanned_; }
    // The message text of each box answered (the static control 0xFFFF of a message box).
    std::vector<std::wstring> Texts() {
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_;
    }

private:
    struct Search {
        DWORD pid;
        const std::wstring* caption;
        HWND found;
    };

    static BOOL CALLBACK Visit(HWND hwnd, LPARAM data) {
        auto* s = reinterpret_cast<Search*>(data);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        wchar_t cls[32] = {}, caption[256] = {};
        GetClassNameW(hwnd, cls, 32);
        // The caption last: reading it sends a message to a window of this process,
        // whose thread may be the one waiting for this watcher to end.
        if (pid != s->pid || !IsWindowVisible(hwnd) || std::wstring(cls) != L"#32770") return TRUE;
        GetWindowTextW(hwnd, caption, 256);
        if (s->caption->empty() || *s->caption == caption) {
            s->found = hwnd;
            return FALSE;
        }
        return TRUE;
    }

    void Watch() {
        while (!stop_) {
            Search s{GetCurrentProcessId(), &caption_, nullptr};
            EnumWindows(Visit, reinterpret_cast<LPARAM>(&s));
            if (!s.found) {
                Sleep(20);
                continue;
            }
            // The dialog is answered once it is whole: enabled, with its buttons.
            for (int i = 0; i < 500 && IsWindow(s.found); ++i) {
                if (IsWindowEnabled(s.found) &&
                    (GetDlgItem(s.found, IDOK) || GetDlgItem(s.found, IDYES) ||
                     GetDlgItem(s.found, IDABORT) || GetDlgItem(s.found, IDCANCEL)))
                    break;
                Sleep(10);
            }
            wchar_t text[2048] = {};
            GetDlgItemTextW(s.found, 0xFFFF, text, 2048);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                texts_.push_back(text);
            }
            int button = IDCANCEL;
            if (seen_ < static_cast<int>(steps_.size())) {
                const Step& step = steps_[static_cast<std::size_t>(seen_.load())];
                if (step.before) step.before(s.found);
                button = step.button;
            } else {
                ++unplanned_;
                button = IDABORT;
            }
            ++seen_;
            HWND item = GetDlgItem(s.found, button);
            PostMessageW(s.found, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(item));
            for (int i = 0; i < 500 && IsWindow(s.found) && IsWindowVisible(s.found); ++i) Sleep(10);
        }
    }

    std::vector<Step> steps_;
    std::wstring caption_;
    std::atomic<bool> stop_{false};
    std::atomic<int> seen_{0}, unplanned_{0};
    std::mutex mutex_;
    std::vector<std::wstring> texts_;
    std::thread thread_;
};
