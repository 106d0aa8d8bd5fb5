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
#include <utility>
#include <vector>

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

// The folders of the menu on the screen, and of the last one until its
// command has been handled: an item opens the folder it showed, whatever
// came into the list while the menu was open.
std::vector<std::string> MenuFolders;
bool Tracking = false;
// Counts the menus shown: a menu's end clears the folders of that menu only.
WPARAM MenuNumber = 0;

// The folder items, and the folders they show by index.
std::vector<std::string> AppendFolderItems(HMENU menu) {
    std::vector<std::string> folders;
    // An error box during the load is modal: a shutdown may have come meanwhile.
    if (!RecentFolders) return folders;
    for (int i = 0; i < RecentFolders->Count(); ++i) folders.push_back(RecentFolders->Get(i));
    // The last entry is the topmost item; index 0 sits just above the separator.
    for (int i = static_cast<int>(folders.size()); i >= 1; --i)
        AppendMenuA(menu, MF_STRING, i + 8, folders[i - 1].c_str());
    if (!folders.empty()) AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    return folders;
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
    // The actions come on the press, not on the release. The keyboard's
    // menu key (and a second start) asks for the menu at the icon.
    if (mouseMessage == WM_LBUTTONDOWN)
        OpenMyComputer();
    else if (mouseMessage == WM_RBUTTONDOWN || mouseMessage == WM_CONTEXTMENU)
        ShowTrayMenu(mouseMessage == WM_CONTEXTMENU);
}

void OnTimer(WPARAM timerId) {
    if (timerId != PREPARE_TIMER_ID && timerId != OPEN_TIMER_ID) return;
    KillTimer(MainWindow, timerId);
    if (timerId == PREPARE_TIMER_ID)
        PrepareFolderList();
    else
        OnOpenReceived();
}

void ShowTrayMenu(bool atIcon) {
    // After a log-off released the list there is nothing to show.
    if (!RecentFolders) return;
    // Windows refuses a second pop-up menu while one is tracking; Wine opens
    // it nested inside the first and can lose track of both. Refuse it here,
    // before a load's box or the foreground's move disturbs the open menu.
    if (Tracking) return;
    MenuHandle menu(CreatePopupMenu());
    if (!menu) throw OutOfMemoryError();
    // A failed load shows why; the menu then offers what it left in the list.
    RunReportingErrors(LoadFolderList);
    std::vector<std::string> folders = AppendFolderItems(menu.get());
    for (const FixedItem& item : FixedItems) AppendMenuA(menu.get(), MF_STRING, item.id, item.text);

    TPMPARAMS aside = {};
    aside.cbSize = sizeof aside;
    POINT at;
    const bool placed = PlaceTrayMenu(atIcon, at, aside.rcExclude);
    // Without the foreground the menu would not close when the user clicks
    // elsewhere: then there is none; the icon's next press tries again.
    if (!SetForegroundWindow(MainWindow)) return;
    Tracking = true;
    ++MenuNumber;
    MenuFolders = std::move(folders);
    TrackPopupMenuEx(menu.get(), TPM_RIGHTALIGN | TPM_LEFTBUTTON | TPM_TOPALIGN | TPM_VERTICAL,
                     at.x, at.y, MainWindow, placed ? &aside : nullptr);
    Tracking = false;
    // A second click works at once after a message posted now.
    PostMessageA(MainWindow, WM_MENUENDED, MenuNumber, 0);
}

void OnMenuEnded(WPARAM number) {
    // The menu posts its command before this: once that is handled, folder
    // commands name entries of the list again, unless a later menu is open
    // or showed its own folders since.
    if (!Tracking && number == MenuNumber) MenuFolders.clear();
}

void OnCommand(WPARAM command, LPARAM control) {
    if (control != 0) return;
    // The whole wParam counts, high word included.
    const auto id = static_cast<int32_t>(command);
    switch (id) {
    case IDM_OPENINVANTRO: RunReportingErrors(HandOffToVantro); return;
    case IDM_EXPORT: RunReportingErrors([] { ExportFolderList(MainWindow); }); return;
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
    // After a shutdown released the list nothing more is opened.
    if (!RecentFolders) return;
    std::string folder;
    if (index < static_cast<int>(MenuFolders.size()))
        folder = MenuFolders[index];
    else if (index < RecentFolders->Count())
        folder = RecentFolders->Get(index);
    else
        return;
    ShellOpen("open", folder, nullptr, SW_SHOWNORMAL);
    PendingFolder = folder;
}
