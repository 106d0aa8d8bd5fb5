// A hidden window with one tray icon, for test and benchmark tools that run
// for a whole Wine session: Wine hides its tray window when the last icon
// goes, and without a window manager that hiding waits seconds for an answer
// that never comes. With this icon in, every program under test starts and
// ends with the tray as it is.
#pragma once

#include <windows.h>
#include <shellapi.h>

// Adds the icon, retrying while the tray is not up yet; false when it took
// no icon within timeoutMs. The window lives as long as the process.
inline bool AddKeeperIcon(const char* name, DWORD timeoutMs)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = name;
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA(name, name, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    data.uID = 1;
    data.uFlags = NIF_ICON | NIF_TIP;
    data.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    lstrcpynA(data.szTip, name, sizeof data.szTip);
    const DWORD start = GetTickCount();
    while (!Shell_NotifyIconA(NIM_ADD, &data)) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(100);
    }
    return true;
}
