// The list leaving the agent: Export List and the hand-off to Vantro. Both
// raise Error with the message the user is to see; the command shows it.
#pragma once

#include <windows.h>

// The Save As dialog, then the file the user named. A close that reaches
// the dialog's owner goes on to the agent's window.
void ExportFolderList(HWND agent);

// The fixed file in the documents folder, opened with the program
// associated with ".vtr".
void HandOffToVantro();
