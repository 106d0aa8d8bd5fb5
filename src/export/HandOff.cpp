// Hands the list to Vantro: the fixed file in the documents folder, opened
// with the program associated with ".vtr".
#include "export/Export.h"
#include "export/VantroList.h"
#include "folders/FolderList.h"
#include "platform/Errors.h"
#include "platform/File.h"
#include "platform/Shell.h"

#include <shlobj.h>

void HandOffToVantro() {
    if (!RecentFolders) return;
    const std::string path = GetSpecialFolder(CSIDL_PERSONAL) + "\\TmpTmpTmp" + ".vtr";
    // Vantro may still be reading the last hand-off's file.
    WriteOwnVantroList(*RecentFolders, path);
    if (!platform::FileExists(path)) throw Error("Could Not Create Folder List File!");
    // Looked up first, so that a missing association is never reported as a
    // failure to open.
    if (!HasAssociatedProgram(path)) throw Error("No Program Associated with " + path);
    if (!ShellOpenFile(path)) throw Error("Error Opening " + path);
}
