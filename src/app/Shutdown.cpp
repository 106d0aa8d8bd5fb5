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

void OnEndSession(bool sessionEnding) {
    // A cancelled log-off must leave a working agent.
    if (!sessionEnding) return;
    // The session may still go on after all: an update's Restart Manager
    // closes programs, and a user can cancel a shutdown that other programs
    // hold up. An agent without icon and list would then stay as a ghost
    // whose window keeps the openers from starting a fresh one.
    OnExit();
}

void RegisterForRestart() {
    // Not after a reboot: the Startup shortcut starts the agent then.
    RegisterApplicationRestart(nullptr, RESTART_NO_REBOOT);
}
