#include "MessageBox.h"
#include "Strings.h"
#include "TextConv.h"

void* MessageBoxOwner = nullptr;

int ShowMessageBox(const std::string& textUtf8, int iconKind, MsgButtons buttons) {
    return FrenchMessageBox(Utf8ToUtf16(textUtf8), GetTextW(txtCaption), iconKind, buttons, MessageBoxOwner);
}
