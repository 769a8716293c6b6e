// The one message box of the setup, captioned with text 96.
#pragma once
#include <string>

enum MsgIcon : int { miInformation = 1, miQuestion = 2, miError = 3 };
enum MsgButtons : int { mbOk = 0, mbYesNo = 1, mbAbortRetryIgnore = 2 };

// Answers passed on as they are; everything else (OK included) is idOk.
enum MsgAnswer : int { idOk = 1, idAbort = 3, idRetry = 4, idIgnore = 5, idYes = 6, idNo = 7 };

// The MessageBoxW style flags for an icon kind and a button set.
unsigned MessageBoxStyle(int iconKind, MsgButtons buttons);
// The answer given to callers for a MessageBoxW result.
int MessageBoxAnswer(int result);

// Owner of the boxes: the application's hidden owner window while it exists.
extern void* MessageBoxOwner;

int ShowMessageBox(const std::string& textUtf8, int iconKind, MsgButtons buttons);
