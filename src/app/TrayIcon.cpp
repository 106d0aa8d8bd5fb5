// The tray icon: one record, filled once, serves for adding and deleting.
#include "app/Nelvo.h"

#include <cstring>

NOTIFYICONDATAA TrayIconData;
UINT WM_TASKBARCREATED = 0;

namespace {
// At log-on the taskbar may not be ready yet; Windows programs keep trying
// for a while, and try at once when the taskbar announces itself.
constexpr DWORD ADD_RETRY_MS = 8000;
constexpr DWORD ADD_RETRY_INTERVAL_MS = 250;

// Waits for the next attempt; handles sent messages meanwhile, so that a
// "TaskbarCreated" broadcast wakes us early.
void WaitBeforeRetry() {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ADD_RETRY_INTERVAL_MS, QS_SENDMESSAGE);
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

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
    const DWORD start = GetTickCount();
    // A busy taskbar can time out an add that did take: then the icon is
    // there and can be modified.
    for (;;) {
        // A close handled while we waited removed the icon and posted the
        // quit: adding it now would leave a ghost in the tray.
        if (QuitWasRequested()) return true;
        if (Shell_NotifyIconA(NIM_ADD, &TrayIconData) || Shell_NotifyIconA(NIM_MODIFY, &TrayIconData)) break;
        if (GetTickCount() - start >= ADD_RETRY_MS) return false;
        WaitBeforeRetry();
    }
    // The add waits on the taskbar, and a close may be handled meanwhile:
    // then the icon it put there goes again, and a new taskbar gets none.
    if (QuitWasRequested())
        RemoveTrayIcon();
    else
        IconWanted = true;
    return true;
}

void RemoveTrayIcon() {
    IconWanted = false;
    Shell_NotifyIconA(NIM_DELETE, &TrayIconData);
}

void OnTaskbarCreated() {
    if (IconWanted) Shell_NotifyIconA(NIM_ADD, &TrayIconData);
}
