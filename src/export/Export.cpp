// Export List: the Save As dialog, then the list written in the Vantro
// format or in its own, by the extension of the name the user confirmed.
#include "export/Export.h"
#include "export/ExportNames.h"
#include "export/VantroList.h"
#include "folders/FolderList.h"
#include "platform/Errors.h"
#include "platform/Shell.h"

#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

#include <vector>

namespace {

const char ExportFilter[] =
    "Vantro files (*.vtr)\0*.vtr\0VantroSA files (*.vtx)\0*.vtx\0Text files (*.txt)\0*.txt\0";

// Disables the thread's visible, enabled top-level windows for the life of
// the dialog, then enables them again and re-activates the one that was
// active. The agent's hidden window is not among them: it keeps serving the
// tray and other processes meanwhile.
class ThreadWindowsDisabled {
public:
    ThreadWindowsDisabled() : active_(GetActiveWindow()) {
        EnumThreadWindows(GetCurrentThreadId(), Collect, reinterpret_cast<LPARAM>(&windows_));
        for (HWND window : windows_) EnableWindow(window, FALSE);
    }
    ~ThreadWindowsDisabled() {
        for (HWND window : windows_)
            if (IsWindow(window)) EnableWindow(window, TRUE);
        if (active_ && IsWindow(active_)) SetActiveWindow(active_);
    }
    ThreadWindowsDisabled(const ThreadWindowsDisabled&) = delete;
    ThreadWindowsDisabled& operator=(const ThreadWindowsDisabled&) = delete;

private:
    static BOOL CALLBACK Collect(HWND window, LPARAM windows) {
        if (IsWindowVisible(window) && IsWindowEnabled(window))
            reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
        return TRUE;
    }
    HWND active_;
    std::vector<HWND> windows_;
};

BOOL CALLBACK FirstMonitor(HMONITOR, HDC, LPRECT bounds, LPARAM result) {
    *reinterpret_cast<RECT*>(result) = *bounds;
    return FALSE;
}

// Centred left to right, a third of the free height below the top of the
// first monitor; neither resized, activated nor moved in the z-order.
void PlaceDialog(HWND dialog) {
    RECT monitor = {};
    EnumDisplayMonitors(nullptr, nullptr, FirstMonitor, reinterpret_cast<LPARAM>(&monitor));
    // No monitor reported: the primary one's work area keeps it on the screen.
    if (IsRectEmpty(&monitor)) SystemParametersInfoA(SPI_GETWORKAREA, 0, &monitor, 0);
    RECT box = {};
    if (!GetWindowRect(dialog, &box)) return;
    const LONG width = box.right - box.left, height = box.bottom - box.top;
    const LONG left = monitor.left + (monitor.right - monitor.left - width) / 2;
    const LONG top = monitor.top + (monitor.bottom - monitor.top - height) / 3;
    SetWindowPos(dialog, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOZORDER);
}

// The open Save As dialog. The agent serves the tray and other processes
// while it is open, so menus and boxes run their loops nested inside the
// dialog's, and those loops go on delivering the dialog's queued messages
// after it has ended: EndDialog only hides it and marks it. A second OK or
// Cancel would then run the dialog's clean-up again (Wine's frees its shell
// objects twice and crashes). So the dialog gets one closing command at a
// time, and no command at all once it has ended. Cancel always ends it;
// hidden after it was seen is how any other end shows (an OK it refuses, or
// an overwrite the user declines, leaves it open). Ended stays ended: a
// dialog loop whose queue is first empty after the end shows it once more
// before it destroys it (Wine's does).
struct GuardedDialog {
    HWND window = nullptr;
    WNDPROC procedure = nullptr;
    bool seen = false;
    bool ended = false;
    bool inClosingCommand = false;
};
GuardedDialog* OpenDialog = nullptr;

LRESULT CALLBACK GuardedDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    GuardedDialog& dialog = *OpenDialog;
    const WNDPROC procedure = dialog.procedure;
    const bool visible = IsWindowVisible(window);
    dialog.ended = dialog.ended || (dialog.seen && !visible);
    dialog.seen = dialog.seen || visible;
    if (message == WM_COMMAND) {
        if (dialog.ended) return 0;
        const WORD id = LOWORD(wParam);
        if (id == IDOK || id == IDCANCEL) {
            if (dialog.inClosingCommand) return 0;
            dialog.inClosingCommand = true;
            const LRESULT result = CallWindowProcA(procedure, window, message, wParam, lParam);
            dialog.inClosingCommand = false;
            dialog.ended = dialog.ended || id == IDCANCEL;
            return result;
        }
    } else if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
        dialog.window = nullptr;
    }
    return CallWindowProcA(procedure, window, message, wParam, lParam);
}

void GuardDialog(HWND window) {
    if (!OpenDialog || OpenDialog->window) return;
    OpenDialog->window = window;
    OpenDialog->procedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GuardedDialogProc)));
}

UINT_PTR CALLBACK ExportDialogHook(HWND hook, UINT message, WPARAM, LPARAM lParam) {
    // Nothing here raises; nothing may unwind through the dialog's frames.
    if (message == WM_INITDIALOG) {
        GuardDialog(GetParent(hook));
    } else if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == CDN_INITDONE) {
        PlaceDialog(GetParent(hook));
    }
    return 0;
}

// The window that a close of the dialog's owner is passed on to.
HWND CloseTarget = nullptr;

// A polite task killer posts WM_CLOSE to every top-level window of the
// process. Destroyed from outside the dialog's loop, the owner would take
// the dialog with it, which Windows does not support: the agent's own close
// ends the dialog through its quit instead.
LRESULT CALLBACK DialogOwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_CLOSE) return DefWindowProcA(window, message, wParam, lParam);
    PostMessageA(CloseTarget, WM_CLOSE, 0, 0);
    return 0;
}

// The dialog gets an owner of its own so that the agent's window is never
// disabled and goes on serving the tray while the dialog is open. Made at
// the first export; made again if something destroyed it.
HWND DialogOwner() {
    static HWND owner = nullptr;
    if (!IsWindow(owner)) {
        WNDCLASSA ownerClass = {};
        ownerClass.lpfnWndProc = DialogOwnerProc;
        ownerClass.hInstance = GetModuleHandleA(nullptr);
        ownerClass.lpszClassName = "NelvoDialogOwner";
        RegisterClassA(&ownerClass);
        owner = CreateWindowExA(0, ownerClass.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                ownerClass.hInstance, nullptr);
    }
    return owner;
}

bool HasPlacesBar() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&version);
#pragma GCC diagnostic pop
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 5;
}

// The common dialogs are loaded at the first export, not at start-up, where
// they would cost the agent megabytes for as long as it runs. Once loaded
// they stay: the dialog leaves shell helpers behind that may still use them.
using GetSaveFileNameFunction = BOOL(WINAPI*)(LPOPENFILENAMEA);

GetSaveFileNameFunction SaveDialog() {
    HMODULE dialogs = GetModuleHandleA("comdlg32.dll");
    if (!dialogs) dialogs = LoadLibraryA("comdlg32.dll");
    return dialogs ? reinterpret_cast<GetSaveFileNameFunction>(
                         reinterpret_cast<void*>(GetProcAddress(dialogs, "GetSaveFileNameA")))
                   : nullptr;
}

// The chosen file name, or "" when the user cancelled or the dialog failed.
std::string AskExportName() {
    const GetSaveFileNameFunction getSaveFileName = SaveDialog();
    if (!getSaveFileName) return std::string();

    const std::string folder = ExportInitialFolder(GetSpecialFolder(CSIDL_PERSONAL));
    char name[MAX_PATH + 2] = "FolderExport";
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = HasPlacesBar() ? sizeof(OPENFILENAMEA) : OPENFILENAME_SIZE_VERSION_400A;
    dialog.hwndOwner = DialogOwner();
    dialog.lpstrFilter = ExportFilter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = name;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrInitialDir = folder.c_str();
    dialog.lpstrTitle = "Save Folder List to File";
    dialog.Flags = OFN_ENABLEHOOK | OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER;
    dialog.lpstrDefExt = "vtr";
    dialog.lpfnHook = ExportDialogHook;

    ThreadWindowsDisabled modal;
    GuardedDialog open;
    OpenDialog = &open;
    const BOOL chosen = getSaveFileName(&dialog);
    OpenDialog = nullptr;
    return chosen ? name : std::string();
}

} // namespace

void ExportFolderList(HWND agent) {
    CloseTarget = agent;
    // A second Save As dialog would nest inside the first: show the open one,
    // or its replace question; keystrokes must not go to an ended one.
    if (OpenDialog) {
        const HWND dialog = OpenDialog->window;
        if (dialog && !OpenDialog->ended && IsWindowVisible(dialog))
            SetForegroundWindow(GetLastActivePopup(dialog));
        return;
    }
    if (!RecentFolders || RecentFolders->Count() == 0) return;
    const std::string path = AskExportName();
    // A close or log-off while the dialog was open released the list.
    if (path.empty() || !RecentFolders) return;
    if (IsVantroName(path)) {
        WriteVantroList(path);
    } else {
        // The user chose the name and confirmed the overwrite: write
        // even when nothing changed since the last save.
        RecentFolders->Dirty = true;
        RecentFolders->SaveToFile(path);
    }
}
