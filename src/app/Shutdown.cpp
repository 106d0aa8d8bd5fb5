// WM_CLOSE, WM_DESTROY and WM_ENDSESSION. Nothing is saved.
#include "app/Nelvo.h"
#include "folders/FolderList.h"

void OnClose() {
    RecentFolders.reset();
    RemoveTrayIcon();
    PostQuitMessage(0);
}

void OnEndSession(bool sessionEnding) {
    // A cancelled log-off must leave a working agent: releasing the list and
    // the icon then would strand an invisible process nobody can reach.
    if (!sessionEnding) return;
    RecentFolders.reset();
    RemoveTrayIcon();
}
