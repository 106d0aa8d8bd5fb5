// Finding another process's pop-up menu, shared by the test and benchmark
// tools.
#pragma once

#include <windows.h>

#include "WindowText.h"

struct MenuQuery {
    DWORD processId;
    HWND found;
};

inline BOOL CALLBACK MatchVisibleMenu(HWND window, LPARAM param)
{
    auto* query = reinterpret_cast<MenuQuery*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != query->processId || !IsWindowVisible(window) || ClassOf(window) != "#32768")
        return TRUE;
    query->found = window;
    return FALSE;
}

// EnumWindows takes one list of the windows at once. Walking them with
// FindWindowEx after the last one found can hang Wine 10's server for good:
// when that window left the list meanwhile (a menu that just closed), the
// server's search never comes back to the list's end.
inline HWND VisibleMenuOf(DWORD processId)
{
    MenuQuery query = {processId, nullptr};
    EnumWindows(MatchVisibleMenu, reinterpret_cast<LPARAM>(&query));
    return query.found;
}
