// The agent's one folder list: seeding, refresh, and the merge and pruning
// that run before every display and hand-off.
#pragma once

#include "folders/MRUStringList.h"

#include <memory>
#include <string>

// Index 0 is the most recently used folder. Null once a shutdown message
// has released it; every user must check.
extern std::unique_ptr<TMRUStringList> RecentFolders;

// The last folder chosen in the menu or received from another process;
// the next LoadFolderList puts it on top and empties it.
extern std::string PendingFolder;

// Asks "Refresh List?"; true for Yes. The agent installs its message box;
// tests install their own answer. Null means No.
extern bool (*ConfirmRefresh)();

// FolderList.txt in the executable's folder; "" when that is unknown,
// which no file test finds.
const std::string& FolderListPath();

// The first three characters of the Windows directory; "C:\" when unknown.
std::string DriveRoot(const std::string& windowsDirectory);

void ResetFolderList(bool confirm);
void LoadFolderList();
// Merges FolderList.txt into a scratch list, so that the first display
// finds its lines proved distinct as the later ones do; the list itself
// does not change, and a file that cannot be read is left to the display.
void PrepareFolderList();
void PruneFolderList();
