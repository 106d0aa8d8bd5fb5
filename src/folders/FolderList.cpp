#include "folders/FolderList.h"

#include "folders/ExistenceTests.h"
#include "folders/FolderListFile.h"
#include "platform/File.h"

#include <algorithm>
#include <exception>

std::unique_ptr<TMRUStringList> RecentFolders;
std::string PendingFolder;
bool (*ConfirmRefresh)() = nullptr;

namespace {

constexpr int FolderLimit = 16;
// Room for the lines of FolderList.txt while they are merged; the pruning
// brings the list back to FolderLimit.
constexpr int MergeLimit = 26;

// FolderList.txt's full path, once asked.
std::string ListPath;

} // namespace

const std::string& FolderListPath() {
    // The executable's path is the one it was started from for as long as
    // it runs: asked once. Without the folder, a bare name would be looked
    // for in whatever the current folder is: merged from there, and deleted
    // by a refresh.
    if (ListPath.empty()) {
        const std::string folder = platform::ExecutableFolder();
        if (!folder.empty()) ListPath = folder + "FolderList.txt";
    }
    return ListPath;
}

std::string DriveRoot(const std::string& windowsDirectory) {
    if (windowsDirectory.empty()) return "C:\\";
    return windowsDirectory.substr(0, 3);
}

void ResetFolderList(bool confirm) {
    if (!RecentFolders) return;
    const std::string root = DriveRoot(platform::WindowsDirectory());
    const bool refresh = confirm && ConfirmRefresh && ConfirmRefresh();
    // The question is modal: a shutdown handled while it waited may have
    // released the list.
    if (!RecentFolders) return;
    if (refresh) {
        RecentFolders->Clear();
        const std::string& path = FolderListPath();
        if (platform::FileExists(path)) platform::RemoveFile(path);
    }
    RecentFolders->Add(root);
}

void LoadFolderList() {
    if (!RecentFolders) return;
    const std::string& path = FolderListPath();
    platform::FileStamp stamp;
    if (platform::FileExists(path, &stamp)) {
        RecentFolders->SetMaxStrings(MergeLimit);
        MergeFolderListFile(*RecentFolders, path, stamp);
    } else {
        ForgetFolderListFile();
    }
    if (!PendingFolder.empty()) {
        RecentFolders->Add(PendingFolder);
        PendingFolder.clear();
    }
    PruneFolderList();
}

void PrepareFolderList() {
    if (!RecentFolders) return;
    const std::string& path = FolderListPath();
    platform::FileStamp stamp;
    if (!platform::FileExists(path, &stamp)) return;
    // The room the display's merge has, for the same proofs; the bytes read
    // are kept for the display as its own reading would keep them.
    TMRUStringList scratch;
    scratch.SetMaxStrings(MergeLimit);
    try {
        MergeFolderListFile(scratch, path, stamp);
    } catch (const std::exception&) {
        return;
    }
    RecentFolders->TakeProofs(scratch);
}

// Keeps the existing folders in their order and trims the least recently
// used beyond FolderLimit. When no listed folder exists, the list stays as it
// was (an unreachable drive should not wipe it).
void PruneFolderList() {
    if (!RecentFolders) return;
    TMRUStringList& list = *RecentFolders;

    std::vector<std::string> entries;
    for (int i = 0; i < list.Count(); ++i) entries.push_back(list.Get(i));
    // Past the FolderLimit-th existing folder the trim takes every entry
    // anyway: those need no test.
    const std::vector<char> exists = TestFoldersExist(entries, FolderLimit);
    if (std::find(exists.begin(), exists.end(), 1) != exists.end()) list.KeepOnly(exists);
    list.SetMaxStrings(FolderLimit);
}
