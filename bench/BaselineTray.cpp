// The least a tray agent can cost: the measure Folderlane is held against.
// It registers a class, creates a hidden window, adds an icon, runs a loop
// and, on a right-button press, shows a pop-up menu of as many items as the
// agent's (its folders, a separator and eight commands). WM_USER + 9 writes
// the same hand-off file as the agent, the same safe way, and has the shell
// open it.
//
//   BaselineTray.exe FOLDER|FOLDER|...   (index 0 first, at most 16)
//
// No list keeping, no file reading, no C++ library: plain Win32.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

namespace {

constexpr UINT WM_TRAYNOTIFY = WM_USER + 8;
constexpr UINT WM_HANDOFF = WM_USER + 9;
constexpr UINT TRAY_ICON_ID = 102;
constexpr int MAX_FOLDERS = 16;
constexpr char WINDOW_CLASS[] = "BaselineTrayWindow";
constexpr char WINDOW_TITLE[] = "BaselineTray";
constexpr char SIGNATURE[] = "{5B585BC9-5C80-4a86-8B15-9EAF2FF9ED3F}";

const char* const Commands[] = {"Open List in Vantro", "Export List", "My Computer", "My Documents",
                                "Refresh List",        "About Nelvo", "Donate",      "Exit"};

char FolderText[MAX_PATH * MAX_FOLDERS];
const char* Folders[MAX_FOLDERS];
int FolderCount = 0;
HWND Window = nullptr;
NOTIFYICONDATAA IconData;

// The folders come whole on the command line, separated by '|', which no
// path can hold.
void TakeFolders() {
    const char* p = GetCommandLineA();
    if (*p == '"') {
        for (++p; *p && *p != '"'; ++p) {
        }
        if (*p) ++p;
    } else {
        while (*p && *p != ' ') ++p;
    }
    while (*p == ' ') ++p;
    lstrcpynA(FolderText, p, sizeof FolderText);
    for (char* s = FolderText; *s && FolderCount < MAX_FOLDERS;) {
        Folders[FolderCount++] = s;
        while (*s && *s != '|') ++s;
        if (*s) *s++ = '\0';
    }
}

void ShowMenu() {
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    for (int i = FolderCount; i >= 1; --i) AppendMenuA(menu, MF_STRING, i + 8, Folders[i - 1]);
    if (FolderCount > 0) AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    for (int i = 0; i < 8; ++i) AppendMenuA(menu, MF_STRING, 8 - i, Commands[i]);
    POINT cursor = {};
    GetCursorPos(&cursor);
    SetForegroundWindow(Window);
    TrackPopupMenu(menu, TPM_RIGHTALIGN, cursor.x, cursor.y, 0, Window, nullptr);
    PostMessageA(Window, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

bool WriteLine(HANDLE file, const char* text) {
    DWORD written = 0;
    const DWORD length = lstrlenA(text);
    return WriteFile(file, text, length, &written, nullptr) && written == length &&
           WriteFile(file, "\r\n", 2, &written, nullptr) && written == 2;
}

void HandOff() {
    char path[MAX_PATH + 16] = {};
    if (!SHGetSpecialFolderPathA(nullptr, path, CSIDL_PERSONAL, FALSE)) path[0] = '\0';
    // As the agent must: the whole file beside the old one, flushed, then
    // put in its place.
    char temporary[MAX_PATH + 16] = {};
    lstrcpyA(temporary, path);
    lstrcatA(temporary, "\\~Baseline.tmp");
    lstrcatA(path, "\\TmpTmpTmp.vtr");
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    bool written = WriteLine(file, SIGNATURE);
    for (int i = 0; written && i < FolderCount; ++i) written = WriteLine(file, Folders[i]);
    written = written && FlushFileBuffers(file);
    CloseHandle(file);
    if (!written || !MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return;
    char program[MAX_PATH + 1];
    program[0] = '\0';
    if (reinterpret_cast<UINT_PTR>(FindExecutableA(path, nullptr, program)) <= 32) return;
    ShellExecuteA(nullptr, "open", path, nullptr, nullptr, SW_SHOWNORMAL);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TRAYNOTIFY:
        if (wParam == TRAY_ICON_ID && lParam == WM_RBUTTONDOWN) ShowMenu();
        return 0;
    case WM_HANDOFF:
        HandOff();
        return 0;
    case WM_COMMAND:
        if (wParam == 1 && lParam == 0) {
            Shell_NotifyIconA(NIM_DELETE, &IconData);
            PostQuitMessage(0);
        }
        return 0;
    case WM_CLOSE:
    case WM_DESTROY:
        Shell_NotifyIconA(NIM_DELETE, &IconData);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    TakeFolders();
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, "MAINICON");
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = WINDOW_CLASS;
    windowClass.hIconSm = LoadIconA(instance, "SMALICON");
    if (!RegisterClassExA(&windowClass)) return 1;
    Window = CreateWindowExA(0, WINDOW_CLASS, WINDOW_TITLE, WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, nullptr,
                             nullptr, instance, nullptr);
    if (!Window) return 1;

    IconData.cbSize = NOTIFYICONDATAA_V1_SIZE;
    IconData.hWnd = Window;
    IconData.uID = TRAY_ICON_ID;
    IconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    IconData.uCallbackMessage = WM_TRAYNOTIFY;
    IconData.hIcon = windowClass.hIconSm;
    lstrcpyA(IconData.szTip, "BaselineTray");
    if (!Shell_NotifyIconA(NIM_ADD, &IconData)) return 1;

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
