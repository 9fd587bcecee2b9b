#include "framework/tests/window_helpers.h"

BEGIN_MESSAGE_MAP(KeyLoggingEdit, CEdit)
ON_WM_KEYDOWN()
END_MESSAGE_MAP()

BOOL KeyLoggingEdit::PreTranslateMessage(MSG* msg) {
    if (msg->message == WM_KEYDOWN && log) log->push_back("pre:edit");
    return FALSE;
}

void KeyLoggingEdit::OnKeyDown(UINT key, UINT, UINT) {
    if (log) log->push_back("keydown:" + std::to_string(key));
    Default();
}
