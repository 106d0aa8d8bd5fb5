// The agent's yes-or-no questions.
#include "app/Nelvo.h"

bool AskOnce(bool& open, const std::string& text, const char* caption) {
    // Other programs' commands are handled inside an open box's loop, and a
    // box opened there keeps the one under it from returning until it ends
    // itself: the same question asked again and again would pile up boxes
    // without bound, and every command under them would wait for all. Asked
    // while open, or answered but not returned yet, the question is answered
    // No.
    if (open) return false;
    open = true;
    const int answer =
        MessageBoxA(MainWindow, text.c_str(), caption, MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND);
    open = false;
    return answer == IDYES;
}
