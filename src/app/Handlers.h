// One function per message or command, called from MainWindowProc.
#pragma once

#include <windows.h>

void OnTrayNotify(WPARAM iconId, LPARAM mouseMessage);
void OnCommand(WPARAM command, LPARAM control);
void OnCopyData(const COPYDATASTRUCT* data);
void OnHandOff();

void ShowTrayMenu();
// LoadFolderList, with a failure shown in the error box instead of ending the agent.
void LoadFolderListOrReport();
void OpenFolderCommand(int index);
void ShowAbout();
void OpenDonationPage();
void OpenMyComputer();
void OpenMyDocuments();
void HandOffToVantro();
void ExportFolderList();
