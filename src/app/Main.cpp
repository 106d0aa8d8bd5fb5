// Process entry: create and seed the list, create the hidden window, put
// the icon in the tray, run the loop.
#include "app/Nelvo.h"
#include "folders/FolderList.h"
#include "platform/Shell.h"

#include <memory>

namespace {

[[noreturn]] void Abort(const char* message, UINT flags) {
    MessageBoxA(nullptr, message, nullptr, flags);
    ExitProcess(0);
}

bool AskRefresh() {
    static bool open = false;
    return AskOnce(open, "Refresh List?", MESSAGE_CAPTION);
}

int RunMessageLoop() {
    MSG message = {};
    BOOL result;
    // Every message of the thread: the dialog's owner, the helper windows
    // the shell and the dialogs leave behind, and the IME have theirs too.
    while ((result = GetMessageA(&message, nullptr, 0, 0)) != 0) {
        if (result == -1) return 0;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        int exitCode = 0;
        if (!BecomeTheAgent(exitCode)) return exitCode;

        RecentFolders = std::make_unique<TMRUStringList>();
        RecentFolders->SetMaxStrings(16);
        ResetFolderList(false);
        ConfirmRefresh = AskRefresh;

        if (!CreateMainWindow())
            Abort("Unable to Create Main Application Window : Aborting!", MB_SETFOREGROUND | MB_ICONERROR);
        PublishMainWindow();
        if (!AddTrayIcon())
            Abort("Unable to Put Icon in Task Tray : Aborting!", MB_SETFOREGROUND | MB_ICONERROR);

        // No folder of the user's or of an installer is kept from being
        // removed while the agent runs; nothing is found through it. Nothing
        // before the loop needs it, nor anything that keeps the icon waiting.
        char system[MAX_PATH + 1] = {};
        if (GetSystemDirectoryA(system, MAX_PATH)) SetCurrentDirectoryA(system);
        RegisterForRestart();
        // A timer's message waits until no other is queued: the first
        // menu's one-off work is done by then, not when the user waits.
        SetTimer(MainWindow, PREPARE_TIMER_ID, USER_TIMER_MINIMUM, nullptr);
        const ShellUse shell;
        exitCode = RunMessageLoop();
        // Nothing is saved at the end.
        RecentFolders.reset();
        return exitCode;
    } catch (const std::exception& error) {
        ReportUncaughtError(error);
    } catch (...) {
        ReportUncaughtError();
    }
}
