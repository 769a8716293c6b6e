// The standard controls, each wrapping a system window class.
#pragma once
#include "Controls.h"
#include <string>
#include <vector>

class TEdit : public TWinControl {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    explicit TEdit(TComponent* owner);

    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool value);
    bool AutoHeight = true;
    void WndProc(TMessage& m) override;

protected:
    void CreateParams(TCreateParams& params) override;
    void AfterCreateWnd() override;
    void AdjustHeight();
    bool readOnly_ = false;
};

class TMemo : public TEdit {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    explicit TMemo(TComponent* owner);
    void SetText(const std::string& text) override;
    void WndProc(TMessage& m) override;

protected:
    void CreateParams(TCreateParams& params) override;
};

class TComboBox : public TWinControl {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    explicit TComboBox(TComponent* owner);

    void AddItem(const std::string& item);
    const std::vector<std::string>& Items() const { return items_; }
    TNotifyEvent OnChange;
    void WndProc(TMessage& m) override;

protected:
    void CreateParams(TCreateParams& params) override;
    void AfterCreateWnd() override;

private:
    std::vector<std::string> items_;
};

class TLabel : public TWinControl {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    explicit TLabel(TComponent* owner);

    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool value);
    void AfterLoad() override;
    void WndProc(TMessage& m) override;

protected:
    void CreateParams(TCreateParams& params) override;
    void AdjustBounds();

private:
    bool autoSize_ = true;
};

class TButtonControl : public TWinControl {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    explicit TButtonControl(TComponent* owner);
    void WndProc(TMessage& m) override;
};

class TButton : public TButtonControl {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    explicit TButton(TComponent* owner);

    bool Cancel = false;
    bool Default() const { return default_; }
    void SetDefault(bool value);
    int ModalResult = 0;
    bool IsActiveDefault() const { return active_; }
    void Click() override;
    void WndProc(TMessage& m) override;

protected:
    void CreateParams(TCreateParams& params) override;

private:
    void SetActiveDefault(bool active);
    bool default_ = false;
    bool active_ = false;
};

class TCheckBox : public TButtonControl {
public:
    static const TClassInfo Info;
    const TClassInfo* ClassType() const override { return &Info; }
    explicit TCheckBox(TComponent* owner);

    bool Checked() const { return checked_; }
    void SetChecked(bool value);
    void Toggle() { SetChecked(!checked_); }
    void WndProc(TMessage& m) override;
    void Rescale(int m, int d) override;

protected:
    void CreateParams(TCreateParams& params) override;
    void AfterCreateWnd() override;

private:
    bool checked_ = false;
};

// The letter after "&" in a caption ("&&" is a plain ampersand), or 0.
wchar_t MnemonicOf(const std::wstring& caption);
