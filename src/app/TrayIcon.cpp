// The tray icon: one record, filled once, serves for adding and deleting.
#include "app/Nelvo.h"

#include <cstring>

NOTIFYICONDATAA TrayIconData;
UINT WM_TASKBARCREATED = 0;

HICON SmallIcon();

namespace {
// The tip field is copied whole from this block: the text, then zeros.
const char TrayTip[64] = "Folderlane";
// Whether the icon should be in the tray; a re-created taskbar gets it back.
bool IconWanted = false;
} // namespace

bool AddTrayIcon() {
    static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "the first, 88-byte form of the record");
    TrayIconData = {};
    TrayIconData.cbSize = NOTIFYICONDATAA_V1_SIZE;
    TrayIconData.hWnd = MainWindow;
    TrayIconData.uID = TRAY_ICON_ID;
    TrayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    TrayIconData.uCallbackMessage = WM_TRAYNOTIFY;
    TrayIconData.hIcon = SmallIcon();
    std::memcpy(TrayIconData.szTip, TrayTip, sizeof TrayTip);
    // Explorer broadcasts this when it re-creates the taskbar.
    WM_TASKBARCREATED = RegisterWindowMessageA("TaskbarCreated");
    IconWanted = Shell_NotifyIconA(NIM_ADD, &TrayIconData) != FALSE;
    return IconWanted;
}

void RemoveTrayIcon() {
    IconWanted = false;
    Shell_NotifyIconA(NIM_DELETE, &TrayIconData);
}

void OnTaskbarCreated() {
    if (IconWanted) Shell_NotifyIconA(NIM_ADD, &TrayIconData);
}
