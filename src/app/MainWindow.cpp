// The hidden window: the target of the tray callback, the menu's commands
// and the messages of other processes. It is never shown.
#include "app/Nelvo.h"

HWND MainWindow = nullptr;

namespace {
WNDCLASSEXA MainWindowClass;
ATOM MainWindowAtom = 0;
} // namespace

bool RegisterMainWindowClass() {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    MainWindowClass = {};
    MainWindowClass.cbSize = sizeof(WNDCLASSEXA);
    MainWindowClass.style = CS_VREDRAW | CS_HREDRAW;
    MainWindowClass.lpfnWndProc = MainWindowProc;
    MainWindowClass.hInstance = instance;
    MainWindowClass.hIcon = LoadIconA(instance, "MAINICON");
    MainWindowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    MainWindowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_INACTIVEBORDER + 1);
    MainWindowClass.lpszClassName = MAIN_WINDOW_CLASS;
    MainWindowClass.hIconSm = LoadIconA(instance, "SMALICON");
    MainWindowAtom = RegisterClassExA(&MainWindowClass);
    return MainWindowAtom != 0;
}

bool CreateMainWindow() {
    if (!RegisterMainWindowClass()) {
        MessageBoxA(nullptr, "Unable to Register Main Window : Aborting!", nullptr, MB_ICONERROR);
        ExitProcess(0);
    }
    MainWindow = CreateWindowExA(WS_EX_OVERLAPPEDWINDOW, MAIN_WINDOW_CLASS, MAIN_WINDOW_TITLE,
                                 WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    if (!MainWindow) return false;
    // Windows applies a launcher's show state (a shortcut set to
    // "Minimised") to the first window shown, where the first box would
    // take it: it is spent here, before the loop paints anything.
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    if (startup.dwFlags & STARTF_USESHOWWINDOW) ShowWindow(MainWindow, SW_SHOW);
    ShowWindow(MainWindow, SW_HIDE);
    UpdateWindow(MainWindow);
    return true;
}
