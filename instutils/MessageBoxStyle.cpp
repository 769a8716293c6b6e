#include "FrenchMessageBox.h"

unsigned MessageBoxStyle(int iconKind, MsgButtons buttons) {
    unsigned style = 0x2000; // MB_TASKMODAL
    style |= iconKind == miInformation ? 0x40u : iconKind == miQuestion ? 0x20u : 0x10u;
    style |= buttons == mbYesNo ? 4u : buttons == mbAbortRetryIgnore ? 2u : 0u;
    return style;
}

int MessageBoxAnswer(int result) {
    switch (result) {
    case idAbort:
    case idRetry:
    case idIgnore:
    case idYes:
    case idNo:
        return result;
    default:
        return idOk;
    }
}

const wchar_t* FrenchButtonLabel(int buttonId) {
    switch (buttonId) {
    case idOk:
        return L"OK";
    case idAbort:
        return L"&Abandonner";
    case idRetry:
        return L"&R\u00E9essayer";
    case idIgnore:
        return L"&Ignorer";
    case idYes:
        return L"&Oui";
    case idNo:
        return L"&Non";
    default:
        return L"";
    }
}
