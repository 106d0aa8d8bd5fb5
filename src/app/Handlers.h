// One function per message or command, called from MainWindowProc.
#pragma once

#include <windows.h>

void OnTrayNotify(WPARAM iconId, LPARAM mouseMessage);
void OnCommand(WPARAM command, LPARAM control);
void OnCopyData(const COPYDATASTRUCT* data);
void OnOpenReceived();
void OnHandOff();
void OnTimer(WPARAM timerId);
void OnMenuEnded(WPARAM number);

// At the icon where the tray tells where it is, else at the pointer.
void ShowTrayMenu(bool atIcon);
// Runs a command that may fail (the load, the export, the hand-off): the
// user sees why in the error box, and the agent goes on.
void RunReportingErrors(void (*command)());
void OpenFolderCommand(int index);
void ShowAbout();
void OpenDonationPage();
void OpenMyComputer();
void OpenMyDocuments();
