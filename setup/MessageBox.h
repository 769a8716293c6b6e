// The one message box of the setup, captioned with text 96.
#pragma once
#include "FrenchMessageBox.h"
#include <string>

// Owner of the boxes: the application's hidden owner window while it exists.
extern void* MessageBoxOwner;

int ShowMessageBox(const std::string& textUtf8, int iconKind, MsgButtons buttons);
