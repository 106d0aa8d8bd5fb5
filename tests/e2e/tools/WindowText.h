// Reading other processes' windows, shared by the test tools.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>

// WM_GETTEXT rather than GetWindowText: the latter does not ask windows of
// other processes for their text. A hung window gives "" after the timeout.
inline std::string WindowText(HWND window, UINT timeoutMs = 10000)
{
    char buffer[4096] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                        SMTO_ABORTIFHUNG, timeoutMs, &length);
    return std::string(buffer, std::strlen(buffer));
}

inline std::string ClassOf(HWND window)
{
    char buffer[256] = {};
    GetClassNameA(window, buffer, sizeof buffer);
    return buffer;
}
