// Process entry: create and seed the list, create the hidden window, put
// the icon in the tray, run the loop.
#include "app/Nelvo.h"
#include "folders/FolderList.h"

#include <memory>

namespace {

[[noreturn]] void Abort(const char* message, UINT flags) {
    MessageBoxA(nullptr, message, nullptr, flags);
    ExitProcess(0);
}

bool AskRefresh() {
    return MessageBoxA(MainWindow, "Refresh List?", MESSAGE_CAPTION,
                       MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) == IDYES;
}

int RunMessageLoop() {
    MSG message = {};
    BOOL result;
    while ((result = GetMessageA(&message, MainWindow, 0, 0)) != 0) {
        // -1 means the window is gone; nothing could reach the agent any more.
        if (result == -1) return 0;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    try {
        RecentFolders = std::make_unique<TMRUStringList>();
        RecentFolders->SetMaxStrings(16);
        ResetFolderList(false);
        ConfirmRefresh = AskRefresh;

        if (!CreateMainWindow())
            Abort("Unable to Create Main Application Window : Aborting!", MB_SETFOREGROUND | MB_ICONERROR);
        CreateDialogOwnerWindow();
        if (!AddTrayIcon())
            Abort("Unable to Put Icon in Task Tray : Aborting!", MB_SETFOREGROUND | MB_ICONERROR);

        int exitCode = RunMessageLoop();
        // Nothing is saved at the end.
        RecentFolders.reset();
        return exitCode;
    } catch (const std::exception& error) {
        ReportUncaughtError(error);
    } catch (...) {
        ReportUncaughtError();
    }
}
