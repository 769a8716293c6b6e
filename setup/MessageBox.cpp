#include "MessageBox.h"
#include "Strings.h"
#include "TextConv.h"
#include <windows.h>

void* MessageBoxOwner = nullptr;

int ShowMessageBox(const std::string& textUtf8, int iconKind, MsgButtons buttons) {
    std::wstring text = Utf8ToUtf16(textUtf8);
    std::wstring caption = GetTextW(txtCaption);
    int r = MessageBoxW(static_cast<HWND>(MessageBoxOwner), text.c_str(), caption.c_str(),
                        MessageBoxStyle(iconKind, buttons));
    return MessageBoxAnswer(r);
}
