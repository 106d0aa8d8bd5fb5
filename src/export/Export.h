// The list leaving the agent: Export List and the hand-off to Vantro. Both
// raise Error with the message the user is to see; the command shows it.
#pragma once

// The Save As dialog, then the file the user named.
void ExportFolderList();

// The fixed file in the documents folder, opened with the program
// associated with ".vtr".
void HandOffToVantro();
