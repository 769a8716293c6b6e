// Controls: the base control, windowed controls with their native windows, and
// controls that have no window and are painted by their parent.
#pragma once
#include "Classes.h"
#include "Graphics.h"
#include <cstdint>
#include <string>
#include <vector>
#include <windows.h>

struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

// Notices between controls, sent with Perform; CN_ messages are window
// messages renumbered for the control they concern.
enum : UINT {
    CM_ACTIVATE = 0xB000,
    CM_DEACTIVATE = 0xB001,
    CM_DIALOGKEY = 0xB005,
    CM_DIALOGCHAR = 0xB006,
    CM_FOCUSCHANGED = 0xB007,
    CM_PARENTFONTCHANGED = 0xB008,
    CM_PARENTCOLORCHANGED = 0xB009,
    CM_VISIBLECHANGED = 0xB00B,
    CM_ENABLEDCHANGED = 0xB00C,
    CM_COLORCHANGED = 0xB00D,
    CM_FONTCHANGED = 0xB00E,
    CM_TEXTCHANGED = 0xB012,
    CM_APPSYSCOMMAND = 0xB017,
    CM_SHOWINGCHANGED = 0xB019,
    CM_ENTER = 0xB01A,
    CM_EXIT = 0xB01B,
    CM_WANTSPECIALKEY = 0xB01E,
    CM_RELEASE = 0xB021,
    CM_CHILDKEY = 0xB02E,
    CM_CHANGED = 0xB037,
    CN_BASE = 0xBC00,
    CN_KEYDOWN = CN_BASE + WM_KEYDOWN,
    CN_CHAR = CN_BASE + WM_CHAR,
    CN_SYSKEYDOWN = CN_BASE + WM_SYSKEYDOWN,
    CN_SYSCHAR = CN_BASE + WM_SYSCHAR,
    CN_COMMAND = CN_BASE + WM_COMMAND,
    CN_CTLCOLORMSGBOX = CN_BASE + WM_CTLCOLORMSGBOX,
    CN_CTLCOLOREDIT = CN_BASE + WM_CTLCOLOREDIT,
    CN_CTLCOLORLISTBOX = CN_BASE + WM_CTLCOLORLISTBOX,
    CN_CTLCOLORBTN = CN_BASE + WM_CTLCOLORBTN,
    CN_CTLCOLORDLG = CN_BASE + WM_CTLCOLORDLG,
    CN_CTLCOLORSCROLLBAR = CN_BASE + WM_CTLCOLORSCROLLBAR,
    CN_CTLCOLORSTATIC = CN_BASE + WM_CTLCOLORSTATIC,
};

// Control style bits.
enum : std::uint32_t {
    csAcceptsControls = 0x01,
    csOpaque = 0x10,
    csFixedWidth = 0x40,
    csFixedHeight = 0x80,
    csParentBackground = 0x100,
};

// Control state bits.
enum : std::uint8_t { cstReading = 0x08 };

// Scaling flags: which stored coordinates a definition set.
enum : std::uint8_t { sfLeft = 1, sfTop = 2, sfWidth = 4, sfHeight = 8, sfFont = 0x10, sfAll = 0x1F };

class TWinControl;
class TForm;

class TControl : public TComponent {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    explicit TControl(TComponent* owner);
    ~TControl() override;

    TWinControl* Parent() const { return parent_; }
    virtual void SetParent(TWinControl* parent);
    TForm* ParentForm();

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetLeft(std::int32_t v);
    void SetTop(std::int32_t v);
    void SetWidth(std::int32_t v);
    void SetHeight(std::int32_t v);
    virtual void SetBounds(int left, int top, int width, int height);
    RECT BoundsRect() const { return {left_, top_, left_ + width_, top_ + height_}; }
    virtual RECT ClientRect();
    virtual POINT ClientOrigin();

    bool Visible() const { return visible_; }
    void SetVisible(bool visible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);

    // The text as UTF-8: a caption, or an edit's contents.
    virtual std::string Text();
    virtual void SetText(const std::string& text);
    void SetCaption(const std::string& text) { SetText(text); }

    TFont& Font() { return font_; }
    TColor Color() const { return color_; }
    void SetColor(TColor color);
    bool ParentFont() const { return parentFont_; }
    void SetParentFont(bool value);
    bool ParentColor() const { return parentColor_; }
    void SetParentColor(bool value);

    std::uint32_t ControlStyle = 0;
    std::uint8_t ControlState = 0;
    std::uint8_t ScalingFlags = 0;
    TNotifyEvent OnClick;

    virtual void Click();
    LRESULT Perform(UINT msg, WPARAM w = 0, LPARAM l = 0);
    virtual void WndProc(TMessage& m);
    virtual void Invalidate();
    virtual void Rescale(int m, int d);

    void LoadState(TReader& reader) override;
    void AttachToParent(TComponent* parent) override;

protected:
    friend class TWinControl;
    virtual void DefaultHandler(TMessage& m);
    virtual void BoundsChanged() {}
    void FontChanged();

    TWinControl* parent_ = nullptr;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    bool visible_ = true;
    bool enabled_ = true;
    bool parentFont_ = true;
    bool parentColor_ = true;
    std::string text_; // kept until a window holds the text
    TFont font_;
    TColor color_ = clWindow;
};

struct TCreateParams {
    std::wstring Caption;
    DWORD Style = 0;
    DWORD ExStyle = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
    HWND WndParent = nullptr;
    UINT ClassStyle = 0;
    std::wstring ClassName;   // the window class registered for the control's class
    std::wstring SystemClass; // a system class the control wraps ("EDIT"...), or empty
};

class TWinControl : public TControl {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    explicit TWinControl(TComponent* owner);
    ~TWinControl() override;

    HWND Handle();                                // creates the window when there is none
    HWND WindowHandle() const { return handle_; } // never creates
    bool HandleAllocated() const { return handle_ != nullptr; }
    bool Showing() const { return showing_; }
    bool TabStop = false;

    // Children in the order they were inserted: tab order and broadcast order.
    const std::vector<TControl*>& Controls() const { return controls_; }
    void InsertControl(TControl* child);
    void RemoveControl(TControl* child);
    bool ContainsControl(const TControl* control) const;

    virtual bool CanFocus();
    bool Focused() const;
    virtual void SetFocus();
    // The tab stop that can take the focus after (or before) the given control, or nil.
    TWinControl* NextTabStop(TWinControl* current, bool forward);
    void SelectNext(TWinControl* current, bool forward);
    void TabOrderList(std::vector<TWinControl*>& list);
    // Offers a notice to the children in order until one answers non-zero.
    LRESULT Broadcast(TMessage& m);

    std::string Text() override;
    void SetText(const std::string& text) override;
    void SetBounds(int left, int top, int width, int height) override;
    RECT ClientRect() override;
    POINT ClientOrigin() override;
    void Invalidate() override;
    void Rescale(int m, int d) override;
    void LoadState(TReader& reader) override;
    void WndProc(TMessage& m) override;

    void UpdateShowing();
    HBRUSH Brush();
    // Paints the windowless children onto a DC of this control's client area.
    void PaintControls(HDC dc, const RECT* update);

    // The framework's window procedure for every control window.
    static LRESULT CALLBACK StdWndProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l);
    static TWinControl* FromHandle(HWND hwnd);

protected:
    virtual void CreateParams(TCreateParams& params);
    virtual void CreateWnd();
    virtual void AfterCreateWnd() {}
    virtual bool ShouldShow();
    virtual void ShowingChanged();
    void DefaultHandler(TMessage& m) override;
    void DestroyHandle();
    void EraseBackground(HDC dc);

    std::vector<TControl*> controls_;
    HWND handle_ = nullptr;
    WNDPROC defWndProc_ = nullptr;
    bool showing_ = false;
    bool creatingWindow_ = false;
    UniqueGdi<HBRUSH> brush_;
    TColor brushColor_ = -1;

private:
    friend LRESULT CALLBACK InitWndProc(HWND, UINT, WPARAM, LPARAM);
    void RegisterWindowClass(TCreateParams& params);
};

// A control without a window, painted by its parent.
class TGraphicControl : public TControl {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    using TControl::TControl;
    virtual void Paint(TCanvas& canvas);
};

// A windowed control of the framework's own that paints itself.
class TCustomControl : public TWinControl {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    using TWinControl::TWinControl;
    void WndProc(TMessage& m) override;

protected:
    virtual void Paint(TCanvas& canvas);
};

// The focus counter: changes whenever any control takes the focus.
extern int FocusCount;
// The module whose resources and window classes the framework uses.
HINSTANCE ModuleInstance();
// Shown for an exception that reaches a window procedure; the window goes on
// with its messages, and the program learns of it through CriticalErrorShown.
void ShowCriticalError();
bool CriticalErrorShown();
