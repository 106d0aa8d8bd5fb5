// The window procedure reads as the agent's table of contents. It is also
// the edge that no C++ exception may cross: what escapes a handler ends the
// process through the last-chance report, here.
#include "app/Nelvo.h"
#include "app/Handlers.h"

namespace {

LRESULT Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_ENDSESSION:
        OnEndSession(wParam != FALSE);
        return 0;
    case WM_COPYDATA:
        OnCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        return 1;
    case WM_COMMAND:
        OnCommand(wParam, lParam);
        return 0;
    case WM_TRAYNOTIFY:
        OnTrayNotify(wParam, lParam);
        return 0;
    case WM_HANDOFF:
        OnHandOff();
        return 0;
    case WM_OPENRECEIVED:
        OnOpenReceived();
        return 0;
    case WM_TIMER:
        OnTimer(wParam);
        return 0;
    case WM_MENUENDED:
        OnMenuEnded(wParam);
        return 0;
    // The scale messages are only watched: their default handling stays.
    // A setting's change is broadcast for many reasons, a moved taskbar
    // among them.
    case WM_DPICHANGED:
        OnDisplayChanged(LOWORD(wParam));
        break;
    case WM_SETTINGCHANGE:
    case WM_DISPLAYCHANGE:
        OnDisplayChanged(0);
        break;
    }
    if (message == WM_TASKBARCREATED && message != 0) OnTaskbarCreated();
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Outside the try: a quit it posts again would close the last-chance
    // report the moment it opened.
    HandlerScope scope;
    try {
        return Dispatch(window, message, wParam, lParam);
    } catch (const std::exception& error) {
        ReportUncaughtError(error);
    } catch (...) {
        ReportUncaughtError();
    }
}
