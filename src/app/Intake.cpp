// What other processes send: a folder to add and open, or a hand-off request.
#include "app/Handlers.h"
#include "app/IntakePayload.h"
#include "app/Nelvo.h"
#include "export/Export.h"
#include "folders/FolderList.h"
#include "platform/Shell.h"

void OnCopyData(const COPYDATASTRUCT* data) {
    std::string path;
    const bool taken = data && TakeIntakePayload(data->lpData, data->cbData, path);
    // The payload is copied: the sender goes on now, not when the folder has
    // opened, which a slow share can delay until the sender gives up. The
    // shell may also call through COM, which fails while another process
    // waits for this message's answer.
    ReplyMessage(1);
    // After a log-off released the list there is nothing to add to.
    if (!taken || !RecentFolders) return;
    PendingFolder = path;
    const int index = RecentFolders->Add(PendingFolder);
    if (index >= RecentFolders->Count()) return;
    const std::string folder = RecentFolders->Get(index);
    ShellOpen("Open", folder, nullptr, SW_SHOW);
}

void OnHandOff() {
    // Both do nothing once a log-off released the list.
    RunReportingErrors(LoadFolderList);
    RunReportingErrors(HandOffToVantro);
}
