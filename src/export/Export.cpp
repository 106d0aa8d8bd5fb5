// Export List: the Save As dialog, then the list written in the Vantro
// format or in its own, by the extension of the name the user confirmed.
#include "app/Handlers.h"
#include "app/Nelvo.h"
#include "export/ExportNames.h"
#include "export/VantroList.h"
#include "folders/FolderList.h"
#include "platform/Errors.h"
#include "platform/Shell.h"

#include <commdlg.h>
#include <shlobj.h>

#include <vector>

namespace {

const char ExportFilter[] =
    "Vantro files (*.vtr)\0*.vtr\0VantroSA files (*.vtx)\0*.vtx\0Text files (*.txt)\0*.txt\0";

// Disables the thread's visible, enabled top-level windows for the life of
// the dialog, then enables them again and re-activates the one that was
// active. The hidden MainWindow is not among them: it keeps serving the
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
    RECT box = {};
    if (!GetWindowRect(dialog, &box)) return;
    const LONG width = box.right - box.left, height = box.bottom - box.top;
    const LONG left = monitor.left + (monitor.right - monitor.left - width) / 2;
    const LONG top = monitor.top + (monitor.bottom - monitor.top - height) / 3;
    SetWindowPos(dialog, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE | SWP_NOZORDER);
}

UINT_PTR CALLBACK ExportDialogHook(HWND hook, UINT message, WPARAM, LPARAM lParam) {
    try {
        if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == CDN_INITDONE)
            PlaceDialog(GetParent(hook));
    } catch (...) {
        // Nothing may unwind through the dialog's own frames.
    }
    return 0;
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
    static HMODULE dialogs = LoadLibraryA("comdlg32.dll");
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
    dialog.hwndOwner = DialogOwnerWindow();
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
    if (!getSaveFileName(&dialog)) return std::string();
    return name;
}

} // namespace

void ExportFolderList() {
    if (!RecentFolders || RecentFolders->Count() == 0) return;
    try {
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
    } catch (const Error& error) {
        ShowErrorBox(error.Message());
    }
}
