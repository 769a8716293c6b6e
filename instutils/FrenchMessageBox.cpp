#include "FrenchMessageBox.h"
#include <windows.h>
#include <algorithm>
#include <vector>

namespace {
RECT RectInParent(HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// The width a button needs for its label: the text and a line's height on each side.
int NeededWidth(HWND button) {
    wchar_t label[64] = {};
    GetWindowTextW(button, label, 64);
    HDC dc = GetDC(button);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(button, WM_GETFONT, 0, 0)));
    RECT r{0, 0, 0, 0};
    DrawTextW(dc, label, -1, &r, DT_CALCRECT | DT_SINGLELINE);
    SelectObject(dc, old);
    ReleaseDC(button, dc);
    return r.right + 2 * r.bottom;
}

// The system sized the buttons for its own labels: when a French one is longer,
// every button widens alike, the row stays centred, and the box grows if it must.
void FitButtons(HWND box, std::vector<HWND>& row) {
    std::sort(row.begin(), row.end(),
              [](HWND a, HWND b) { return RectInParent(a).left < RectInParent(b).left; });
    RECT first = RectInParent(row.front());
    int width = first.right - first.left, need = width;
    for (HWND b : row) need = std::max(need, NeededWidth(b));
    if (need == width) return;
    int gap = row.size() > 1 ? RectInParent(row[1]).left - first.right : 0;
    int count = static_cast<int>(row.size());
    int span = count * need + (count - 1) * gap;
    RECT client, frame;
    GetClientRect(box, &client);
    int margin = std::max<int>(first.left, 0);
    if (span + 2 * margin > client.right) {
        int grow = span + 2 * margin - client.right;
        GetWindowRect(box, &frame);
        SetWindowPos(box, nullptr, frame.left - grow / 2, frame.top, frame.right - frame.left + grow,
                     frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
        GetClientRect(box, &client);
    }
    int x = (client.right - span) / 2;
    for (HWND b : row) {
        RECT r = RectInParent(b);
        SetWindowPos(b, nullptr, x, r.top, need, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
        x += need + gap;
    }
}

// The box has laid itself out (its WM_INITDIALOG is done) and is not shown yet:
// its buttons get their French labels.
void LabelButtons(HWND box) {
    wchar_t cls[16] = {};
    GetClassNameW(box, cls, 16);
    if (lstrcmpW(cls, L"#32770") != 0) return;
    std::vector<HWND> row;
    bool changed = false;
    for (int id : {idOk, idAbort, idRetry, idIgnore, idYes, idNo}) {
        HWND button = GetDlgItem(box, id);
        if (!button) continue;
        row.push_back(button);
        wchar_t now[64] = {};
        GetWindowTextW(button, now, 64);
        if (lstrcmpW(now, FrenchButtonLabel(id)) == 0) continue;
        SetWindowTextW(button, FrenchButtonLabel(id));
        changed = true;
    }
    if (changed) FitButtons(box, row);
}

LRESULT CALLBACK BoxHookProc(int code, WPARAM w, LPARAM l) {
    auto* sent = reinterpret_cast<const CWPRETSTRUCT*>(l);
    if (code == HC_ACTION && sent->message == WM_INITDIALOG) LabelButtons(sent->hwnd);
    return CallNextHookEx(nullptr, code, w, l); // the hook handle is ignored
}
} // namespace

int MessageBoxInFrench(const std::wstring& text, const std::wstring& caption, unsigned style,
                       void* ownerHwnd) {
    HWND focus = GetFocus();
    // A hook of this thread only, for the time of the box: it sees no other
    // program's windows, and a box shown from inside this one has its own.
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROCRET, BoxHookProc, nullptr, GetCurrentThreadId());
    int r = MessageBoxW(static_cast<HWND>(ownerHwnd), text.c_str(), caption.c_str(), style);
    if (hook) UnhookWindowsHookEx(hook);
    // The system gives the focus to the owner window, not to the control that had it.
    if (focus && IsWindow(focus) && IsWindowVisible(focus) && IsWindowEnabled(focus)) SetFocus(focus);
    return r;
}

int FrenchMessageBox(const std::wstring& text, const std::wstring& caption, int iconKind, MsgButtons buttons,
                     void* ownerHwnd) {
    return MessageBoxAnswer(MessageBoxInFrench(text, caption, MessageBoxStyle(iconKind, buttons), ownerHwnd));
}
