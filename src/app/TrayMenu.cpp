// The tray icon's mouse notifications and the pop-up menu, rebuilt from the
// freshly loaded list at every right-button press.
#include "app/Handlers.h"
#include "app/Nelvo.h"
#include "export/Export.h"
#include "folders/FolderList.h"
#include "platform/Errors.h"
#include "platform/Handle.h"
#include "platform/Shell.h"

#include <cstdint>
#include <string>

namespace {

using MenuHandle = UniqueHandle<HMENU, DestroyMenu>;

struct FixedItem {
    int id;
    const char* text;
};

const FixedItem FixedItems[] = {
    {IDM_OPENINVANTRO, "Open List in Vantro"},
    {IDM_EXPORT, "Export List"},
    {IDM_MYCOMPUTER, "My Computer"},
    {IDM_MYDOCUMENTS, "My Documents"},
    {IDM_REFRESH, "Refresh List"},
    {IDM_ABOUT, "About Nelvo"},
    {IDM_DONATE, "Donate"},
    {IDM_EXIT, "Exit"},
};

void AppendFolderItems(HMENU menu) {
    // An error box during the load is modal: a shutdown may have come meanwhile.
    if (!RecentFolders) return;
    // The last entry is the topmost item; index 0 sits just above the separator.
    for (int i = RecentFolders->Count(); i >= 1; --i)
        AppendMenuA(menu, MF_STRING, i + 8, RecentFolders->Get(i - 1).c_str());
    if (RecentFolders->Count() > 0) AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
}

} // namespace

void RunReportingErrors(void (*command)()) {
    try {
        command();
    } catch (const Error& error) {
        ShowErrorBox(error.Message());
    }
}

void OnTrayNotify(WPARAM iconId, LPARAM mouseMessage) {
    if (iconId != TRAY_ICON_ID) return;
    // The actions come on the press, not on the release.
    if (mouseMessage == WM_LBUTTONDOWN)
        OpenMyComputer();
    else if (mouseMessage == WM_RBUTTONDOWN)
        ShowTrayMenu();
}

void OnTimer(WPARAM timerId) {
    if (timerId != PREPARE_TIMER_ID) return;
    KillTimer(MainWindow, PREPARE_TIMER_ID);
    PrepareFolderList();
}

void ShowTrayMenu() {
    // After a log-off released the list there is nothing to show.
    if (!RecentFolders) return;
    MenuHandle menu(CreatePopupMenu());
    if (!menu) throw OutOfMemoryError();
    // A failed load shows why; the menu then offers what it left in the list.
    RunReportingErrors(LoadFolderList);
    AppendFolderItems(menu.get());
    for (const FixedItem& item : FixedItems) AppendMenuA(menu.get(), MF_STRING, item.id, item.text);

    POINT cursor = {};
    GetCursorPos(&cursor);
    // Without the foreground the menu would not close when the user clicks
    // elsewhere; the WM_NULL afterwards lets a second click work at once.
    SetForegroundWindow(MainWindow);
    // Windows refuses a second pop-up menu while one is tracking; Wine opens
    // it nested inside the first and can lose track of both. Refuse it here.
    static bool tracking = false;
    if (!tracking) {
        tracking = true;
        TrackPopupMenu(menu.get(), TPM_RIGHTALIGN | TPM_LEFTBUTTON | TPM_TOPALIGN, cursor.x, cursor.y, 0,
                       MainWindow, nullptr);
        tracking = false;
    }
    PostMessageA(MainWindow, WM_NULL, 0, 0);
}

void OnCommand(WPARAM command, LPARAM control) {
    if (control != 0) return;
    // The whole wParam counts, high word included.
    const auto id = static_cast<int32_t>(command);
    switch (id) {
    case IDM_OPENINVANTRO: RunReportingErrors(HandOffToVantro); return;
    case IDM_EXPORT: RunReportingErrors(ExportFolderList); return;
    case IDM_MYCOMPUTER: OpenMyComputer(); return;
    case IDM_MYDOCUMENTS: OpenMyDocuments(); return;
    case IDM_REFRESH: ResetFolderList(true); return;
    case IDM_ABOUT: ShowAbout(); return;
    case IDM_DONATE: OpenDonationPage(); return;
    case IDM_EXIT: OnExit(); return;
    }
    if (id >= IDM_FOLDER_BASE) OpenFolderCommand(id - IDM_FOLDER_BASE);
}

void OpenFolderCommand(int index) {
    // The list may have shrunk, or been released, while the menu was open.
    if (!RecentFolders || index >= RecentFolders->Count()) return;
    const std::string folder = RecentFolders->Get(index);
    ShellOpen("open", folder, nullptr, SW_SHOWNORMAL);
    // The chosen folder, even if an intake handled while the shell call
    // waited has moved the entries since.
    PendingFolder = folder;
}
