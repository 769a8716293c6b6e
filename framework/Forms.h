// The application object with its hidden owner window and message pump, and
// forms: top-level windows read from their stored definitions, run modally.
#pragma once
#include "Controls.h"
#include <functional>
#include <memory>
#include <vector>

class TApplication : public TComponent {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    // Without an owner window in a run that never shows one (a silent install):
    // making the first window starts the whole display side of the system.
    explicit TApplication(TComponent* owner, bool ownerWindow = true);
    ~TApplication() override;

    HWND Handle() const { return handle_; } // the hidden owner window
    bool Active() const { return active_; }
    bool Terminated() const { return terminated_; }
    void SetTitle(const std::wstring& title);
    HICON Icon = nullptr; // the program's icon, given to every form
    // Runs when the user's session ends, before the process does (it may end
    // the process itself with its own exit code).
    std::function<void()> OnEndSession;

    // Takes one message from the queue; false when there was none.
    bool PumpOneMessage();
    void NormalizeTopMosts();
    void RestoreTopMosts();

private:
    static LRESULT CALLBACK OwnerWndProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l);
    LRESULT OwnerWindowMessage(UINT msg, WPARAM w, LPARAM l);

    HWND handle_ = nullptr;
    bool active_ = false;
    bool terminated_ = false;
    int topMostLevel_ = 0;
    std::vector<HWND> topMosts_;
    std::vector<HWND> disabled_;
};

// Created by InitFramework, destroyed by DoneFramework.
extern TApplication* Application;
// Starts the framework: the application object and, unless told otherwise, its
// owner window. Without a display nothing is shown or measured (SetDisplayless).
void InitFramework(bool display = true);
void DoneFramework();

enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2 };

class TForm : public TWinControl {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    explicit TForm(TComponent* owner);
    ~TForm() override;

    // Reads the form's stored definitions (a derived class calls it first thing in
    // its constructor, once its own class table is in effect).
    void LoadDefinition();

    int ModalResult = mrNone;
    TCloseQueryEvent OnCloseQuery;

    int ClientWidth();
    int ClientHeight();
    void SetClientWidth(std::int32_t v);
    void SetClientHeight(std::int32_t v);

    TWinControl* ActiveControl() const { return activeControl_; }
    void SetActiveControl(TWinControl* control);
    bool Active() const { return active_; }
    TCanvas& Canvas() { return canvas_; }

    int RunModal();
    bool AskClose();
    void FocusControl(TWinControl* control);
    // The focus moved to a control: exit and enter notices, then the focus-changed
    // broadcast. False when a handler moved the focus elsewhere meanwhile.
    bool SetFocusedControl(TWinControl* control);
    // A control is hidden, disabled or removed: the focus leaves it.
    void ControlGoing(TControl* control);

    // A length of the design (drawn where the "0" measures 13 pixels) at the scale
    // the form was read at.
    int Scaled(int designValue) const;
    // The keyboard was used: focus rectangles and mnemonic underlines show (the
    // dialog manager does this for dialogs; a form has no dialog manager).
    void ShowKeyboardCues();

    void LoadState(TReader& reader) override;
    void WndProc(TMessage& m) override;
    void Rescale(int m, int d) override;

protected:
    void CreateParams(TCreateParams& params) override;
    void AfterCreateWnd() override;
    bool ShouldShow() override;
    void ShowingChanged() override;

private:
    SIZE ClientSizeFor(int width, int height);
    bool SendFocusNotice(TControl* control, UINT msg);

    TWinControl* activeControl_ = nullptr;
    TWinControl* focusedControl_ = nullptr;
    bool active_ = false;
    std::uint8_t formState_ = 0; // 1 creating, 2 show requested while creating
    int pendingClientWidth_ = 0;
    int pendingClientHeight_ = 0;
    int designTextHeight_ = 13;
    int textHeight_ = 13; // what the "0" measured when the form was read
    TCanvas canvas_;
};
