// The tray agent: its messages, commands and process-wide values.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include "app/Endpoint.h"

#include <string>

constexpr UINT WM_TRAYNOTIFY = WM_USER + 8;
constexpr UINT TRAY_ICON_ID = 102;
// Fires once, when the loop is first idle after start.
constexpr UINT_PTR PREPARE_TIMER_ID = 1;
// Posted to itself: opens the folders other processes sent, after their
// senders have had their answer.
constexpr UINT WM_OPENRECEIVED = WM_APP + 1;

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
// agent of this program's folder runs, whose menu it has then asked for.
bool BecomeTheAgent();

// Start-up and the hidden window (MainWindow.cpp).
bool RegisterMainWindowClass();
bool CreateMainWindow();
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The class's small icon, which is also the tray icon (not loaded twice).
HICON SmallIcon();

// The tray icon (TrayIcon.cpp).
// False when the taskbar took no icon within the retry period; true also
// when a close came first and the loop is to end at once.
bool AddTrayIcon();
void RemoveTrayIcon();
void OnTaskbarCreated();
extern UINT WM_TASKBARCREATED;

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

// The error box of the commands: owner MainWindow, caption "Nelvo".
void ShowErrorBox(const std::string& message);

// The last-chance report of an error nothing caught; ends the process.
[[noreturn]] void ReportUncaughtError(const std::exception& error);
[[noreturn]] void ReportUncaughtError();
