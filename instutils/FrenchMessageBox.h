// Message boxes with French buttons on any Windows: the system labels its
// buttons in its own language, while the texts ask the user to click "Oui" or
// "Non". Used by every program that speaks to the user, with or without the
// window framework.
#pragma once
#include <string>

enum MsgIcon : int { miInformation = 1, miQuestion = 2, miError = 3 };
enum MsgButtons : int { mbOk = 0, mbYesNo = 1, mbAbortRetryIgnore = 2 };

// Answers passed on as they are; everything else (OK included) is idOk.
enum MsgAnswer : int { idOk = 1, idAbort = 3, idRetry = 4, idIgnore = 5, idYes = 6, idNo = 7 };

// The MessageBoxW style flags for an icon kind and a button set (task-modal).
unsigned MessageBoxStyle(int iconKind, MsgButtons buttons);
// The answer given to callers for a MessageBoxW result.
int MessageBoxAnswer(int result);
// The French label of a message box button (IDOK, IDYES...), with its mnemonic;
// empty for a button the boxes never show.
const wchar_t* FrenchButtonLabel(int buttonId);

// Shows a task-modal box owned by the given window (or none), its buttons
// labelled in French, and answers the button pressed. The focus goes back to
// the window that had it before.
int FrenchMessageBox(const std::wstring& text, const std::wstring& caption, int iconKind, MsgButtons buttons,
                     void* ownerHwnd);
// The same for any MessageBoxW style (icons, default button, modality as given);
// answers what MessageBoxW answers.
int MessageBoxInFrench(const std::wstring& text, const std::wstring& caption, unsigned style,
                       void* ownerHwnd);
