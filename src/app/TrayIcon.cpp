// The tray icon: one record serves for adding, changing and deleting it.
// Its picture is the one drawn for the size the taskbar shows small icons
// at, taken again whenever the display scale may have changed.
#include "app/Nelvo.h"
#include "platform/Handle.h"

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

using IconHandle = UniqueHandle<HICON, DestroyIcon>;
// The picture the tray has, and its size in pixels.
IconHandle TrayImage;
int TrayImageSize = 0;

using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);
// Windows 7 and later; the headers for Vista lack them.
struct IconIdentifier {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    GUID guidItem;
};
using GetIconRectFunction = HRESULT(WINAPI*)(const IconIdentifier*, RECT*);
using ChangeMessageFilterExFunction = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
constexpr DWORD MSGFLT_ALLOW_MESSAGE = 1;
constexpr int MDT_EFFECTIVE_DPI = 0;

// The scale of the primary monitor, which holds the notification area, as
// it is now (Windows 8.1 and later; shell32 brings shcore in); 0 when the
// system cannot tell.
UINT PrimaryMonitorDpi() {
    const auto dpiForMonitor = LookUp<GetDpiForMonitorFunction>("shcore.dll", "GetDpiForMonitor");
    if (!dpiForMonitor) return 0;
    UINT dpiX = 0, dpiY = 0;
    const HMONITOR primary = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    return SUCCEEDED(dpiForMonitor(primary, MDT_EFFECTIVE_DPI, &dpiX, &dpiY)) ? dpiX : 0;
}

// The taskbar's small-icon size at this DPI; 0 stands for the primary
// monitor's.
int SmallIconSize(UINT dpi) {
    // Windows 10 1607 and later.
    const auto metricsForDpi = LookUp<GetSystemMetricsForDpiFunction>("user32.dll", "GetSystemMetricsForDpi");
    if (dpi == 0) dpi = PrimaryMonitorDpi();
    // Before those calls the agent is aware of the system's DPI only, and
    // so is this metric.
    if (dpi == 0 || !metricsForDpi) return GetSystemMetrics(SM_CXSMICON);
    return metricsForDpi(SM_CXSMICON, dpi);
}

// The small icon at that size: the picture drawn for it when the resource
// holds one, rather than another size stretched.
IconHandle LoadSmallIcon(int size) {
    return IconHandle(static_cast<HICON>(
        LoadImageA(GetModuleHandleA(nullptr), "SMALICON", IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
}

// Gives the record, and the tray when the icon is in, the picture for the
// size the taskbar shows now, unless the record has it already.
void TakeImageForScale(UINT dpi) {
    const int size = SmallIconSize(dpi);
    if (size == TrayImageSize) return;
    IconHandle image = LoadSmallIcon(size);
    if (!image) return;
    // Kept until the shell has copied the new picture; the record points to
    // the new one before the call, which may nest another change.
    IconHandle old = std::move(TrayImage);
    TrayImage = std::move(image);
    TrayImageSize = size;
    TrayIconData.hIcon = TrayImage.get();
    if (IconWanted) Shell_NotifyIconA(NIM_MODIFY, &TrayIconData);
}

// The monitor the last menu opened on, and its work area. Finding a point's
// monitor costs more than the rest of the menu's placing; the answer holds
// until the displays, their scale or the taskbar change, which the window is
// told of (an empty rectangle holds no point).
RECT MenuMonitor = {};
RECT MenuWorkArea = {};

// The work area of the monitor that holds or is nearest to the point.
bool WorkAreaAt(POINT at, RECT& work) {
    if (!PtInRect(&MenuMonitor, at)) {
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof monitor;
        if (!GetMonitorInfoA(MonitorFromPoint(at, MONITOR_DEFAULTTONEAREST), &monitor)) return false;
        MenuWorkArea = monitor.rcWork;
        // The nearest monitor answers for points outside every monitor too,
        // and those are not kept.
        MenuMonitor = PtInRect(&monitor.rcMonitor, at) ? monitor.rcMonitor : RECT{};
    }
    work = MenuWorkArea;
    return true;
}
} // namespace

bool AddTrayIcon() {
    static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "the first, 88-byte form of the record");
    TrayIconData = {};
    TrayIconData.cbSize = NOTIFYICONDATAA_V1_SIZE;
    TrayIconData.hWnd = MainWindow;
    TrayIconData.uID = TRAY_ICON_ID;
    TrayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    TrayIconData.uCallbackMessage = WM_TRAYNOTIFY;
    TakeImageForScale(0);
    TrayIconData.hIcon = TrayImage.get();
    std::memcpy(TrayIconData.szTip, TrayTip, sizeof TrayTip);
    // Explorer broadcasts this when it re-creates the taskbar. Windows keeps
    // it from an agent started as administrator unless the agent lets it in.
    WM_TASKBARCREATED = RegisterWindowMessageA("TaskbarCreated");
    // Vista has only the process-wide call.
    if (const auto allow = LookUp<ChangeMessageFilterExFunction>("user32.dll", "ChangeWindowMessageFilterEx"))
        allow(MainWindow, WM_TASKBARCREATED, MSGFLT_ALLOW_MESSAGE, nullptr);
    else
        ChangeWindowMessageFilter(WM_TASKBARCREATED, MSGFLT_ADD);
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
    // A new taskbar often comes with a new scale.
    OnDisplayChanged(0);
    if (IconWanted) Shell_NotifyIconA(NIM_ADD, &TrayIconData);
}

bool PlaceTrayMenu(bool atIcon, POINT& at, RECT& icon) {
    const IconIdentifier identifier = {sizeof identifier, MainWindow, TRAY_ICON_ID, {}};
    // At the icon, the menu leaves it uncovered, as the tray's own menus do.
    const auto iconRect = atIcon ? LookUp<GetIconRectFunction>("shell32.dll", "Shell_NotifyIconGetRect") : nullptr;
    const bool placed = iconRect && IconWanted && SUCCEEDED(iconRect(&identifier, &icon));
    at = {icon.right, icon.top};
    if (!placed) GetCursorPos(&at);
    // Windows keeps a menu within the work area when its point lies there:
    // it leaves the taskbar uncovered. (TPM_WORKAREA says the same, but Wine
    // takes that bit for its own "end the menu".)
    RECT work;
    if (WorkAreaAt(at, work)) {
        at.x = at.x < work.left ? work.left : at.x >= work.right ? work.right - 1 : at.x;
        at.y = at.y < work.top ? work.top : at.y >= work.bottom ? work.bottom - 1 : at.y;
    }
    return placed;
}

void OnDisplayChanged(UINT dpi) {
    // The next menu finds its monitor again; only a changed icon size costs
    // a load.
    MenuMonitor = {};
    TakeImageForScale(dpi);
}
