// The ways out: WM_CLOSE, WM_DESTROY, WM_ENDSESSION and the Exit command,
// the quit they post, and the way back in after an update. Nothing is saved.
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

void OnEndSession(bool sessionEnding, LPARAM reason) {
    // A cancelled log-off must leave a working agent: releasing the list and
    // the icon then would strand an invisible process nobody can reach.
    if (!sessionEnding) return;
    // Installers and updates close programs through Restart Manager while
    // the session goes on: a process that stayed would hold its files and
    // keep the openers from starting a fresh agent.
    if (reason & ENDSESSION_CLOSEAPP) return OnExit();
    RecentFolders.reset();
    RemoveTrayIcon();
}

void RegisterForRestart() {
    // Not after a reboot: the Startup shortcut starts the agent then.
    RegisterApplicationRestart(nullptr, RESTART_NO_REBOOT);
}
