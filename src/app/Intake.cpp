// What other processes send: a folder to add and open, or a hand-off request.
#include "app/Handlers.h"
#include "app/IntakePayload.h"
#include "app/Nelvo.h"
#include "export/Export.h"
#include "folders/FolderList.h"
#include "platform/Shell.h"

#include <string>
#include <vector>

namespace {
// Received and listed, not opened yet; oldest first.
std::vector<std::string> FoldersToOpen;
constexpr UINT OPEN_RETRY_MS = 100;
} // namespace

void OnCopyData(const COPYDATASTRUCT* data) {
    std::string path;
    // After a log-off released the list there is nothing to add to.
    if (!data || !TakeIntakePayload(data->lpData, data->cbData, path) || !RecentFolders) return;
    // Listed now, so that a hand-off the sender asks for next finds it.
    PendingFolder = path;
    const int index = RecentFolders->Add(PendingFolder);
    if (index >= RecentFolders->Count()) return;
    // Opened later, from the queue: the shell may wait on other programs, and
    // COM calls fail while a sender waits for this message's answer. One post
    // per folder; a post that the full queue (10,000 messages) refused is
    // made up for by a timer, whose message needs no room in the queue.
    FoldersToOpen.push_back(RecentFolders->Get(index));
    if (!PostMessageA(MainWindow, WM_OPENRECEIVED, 0, 0)) SetTimer(MainWindow, OPEN_TIMER_ID, OPEN_RETRY_MS, nullptr);
}

void OnOpenReceived() {
    // Opens nest intakes, which queue their folders for the next post.
    std::vector<std::string> folders;
    folders.swap(FoldersToOpen);
    for (const std::string& folder : folders) ShellOpen("Open", folder, nullptr, SW_SHOW);
}

void OnHandOff() {
    // Both do nothing once a log-off released the list.
    RunReportingErrors(LoadFolderList);
    RunReportingErrors(HandOffToVantro);
}
