// The ways out: WM_CLOSE, WM_DESTROY, WM_ENDSESSION and the Exit command,
// and the quit they post. Nothing is saved.
#include "app/Nelvo.h"
#include "folders/FolderList.h"

namespace {

bool QuitRequested = false;
// Handlers nest inside the modal loops of menus, boxes and dialogs.
int HandlerDepth = 0;

void PostQuit() {
    QuitRequested = true;
    PostQuitMessage(0);
}

} // namespace

bool QuitWasRequested() { return QuitRequested; }

HandlerScope::HandlerScope() { ++HandlerDepth; }

HandlerScope::~HandlerScope() {
    // A modal loop that was running when the quit came (the tray menu's,
    // under some systems) may have taken the quit message for itself. A
    // second one merges with the first when both are still there.
    if (--HandlerDepth == 0 && QuitRequested) PostQuitMessage(0);
}

void OnClose() {
    RecentFolders.reset();
    RemoveTrayIcon();
    PostQuit();
}

void OnExit() {
    RemoveTrayIcon();
    PostQuit();
}

void OnEndSession(bool sessionEnding) {
    // A cancelled log-off must leave a working agent: releasing the list and
    // the icon then would strand an invisible process nobody can reach.
    if (!sessionEnding) return;
    RecentFolders.reset();
    RemoveTrayIcon();
}
