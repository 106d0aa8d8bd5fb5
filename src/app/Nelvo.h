// The tray agent: its messages, commands and process-wide values.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "shared/Endpoint.h"

#include <string>

constexpr UINT WM_TRAYNOTIFY = WM_USER + 8;
constexpr UINT TRAY_ICON_ID = 102;
// Fires once, when the loop is first idle after start.
constexpr UINT_PTR PREPARE_TIMER_ID = 1;
// Posted to itself: opens the folders other processes sent, after their
// senders have had their answer.
constexpr UINT WM_OPENRECEIVED = WM_APP + 1;
// Posted to itself after a menu closed; wParam is the menu's number.
constexpr UINT WM_MENUENDED = WM_APP + 2;
// Fires when a post of WM_OPENRECEIVED was refused (a full queue).
constexpr UINT_PTR OPEN_TIMER_ID = 2;

constexpr int IDM_EXIT = 1;
constexpr int IDM_DONATE = 2;
constexpr int IDM_ABOUT = 3;
constexpr int IDM_REFRESH = 4;
constexpr int IDM_MYCOMPUTER = 5;
constexpr int IDM_MYDOCUMENTS = 6;
constexpr int IDM_EXPORT = 7;
constexpr int IDM_OPENINVANTRO = 8;
constexpr int IDM_FOLDER_BASE = 9;

constexpr char MESSAGE_CAPTION[] = "Nelvo";

extern HWND MainWindow;
extern NOTIFYICONDATAA TrayIconData;

// One agent per copy and session (SingleAgent.cpp): false when another
// agent of this program's folder runs, whose menu it has then asked for, or
// which it has said cannot be reached; exitCode is the process's then.
bool BecomeTheAgent(int& exitCode);
// Tells later starts the window, once it exists.
void PublishMainWindow();

// Start-up and the hidden window (MainWindow.cpp).
bool RegisterMainWindowClass();
bool CreateMainWindow();
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The tray icon (TrayIcon.cpp).
// False when the taskbar took no icon within the retry period; true also
// when a close came first and the loop is to end at once.
bool AddTrayIcon();
void RemoveTrayIcon();
void OnTaskbarCreated();
extern UINT WM_TASKBARCREATED;
// The displays, their scale or the taskbar may have changed (a new DPI, a
// setting, a display change): the menu's work area is found again, and the
// icon takes the picture drawn for the taskbar's new size. dpi is the new
// DPI of the window's monitor, the primary one (the window lies at 0,0),
// where the notification area is; 0 when the message does not tell it.
void OnDisplayChanged(UINT dpi);
// Where the tray menu goes: at the icon, when atIcon and the tray tells the
// icon's rectangle (Windows 7 and later), else at the pointer; always
// within the work area. True when at the icon, whose rectangle icon is.
bool PlaceTrayMenu(bool atIcon, POINT& at, RECT& icon);
// Windows 8.1 and later send it to per-monitor aware windows; the headers
// for Vista lack it.
#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

// Shutdown cases (Shutdown.cpp). The quit they post is remembered, so that
// it survives a nested modal loop and stops the start-up's retries.
void OnClose();
void OnExit();
// Ends the agent when the session ends, whatever the reason.
void OnEndSession(bool sessionEnding);
// Asks Windows to start the agent again when an update closed it.
void RegisterForRestart();
bool QuitWasRequested();
// Lives for one handling of MainWindowProc; the outermost posts a quit
// again if a modal loop swallowed it.
class HandlerScope {
public:
    HandlerScope();
    ~HandlerScope();
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;
};

// A question of the agent (owner MainWindow), true for Yes. OPEN marks it
// shown: asked again meanwhile, it is not shown twice and answers No.
bool AskOnce(bool& open, const std::string& text, const char* caption);

// The error box of the commands: owner MainWindow, caption "Nelvo".
void ShowErrorBox(const std::string& message);

// The last-chance report of an error nothing caught; ends the process.
[[noreturn]] void ReportUncaughtError(const std::exception& error);
[[noreturn]] void ReportUncaughtError();
