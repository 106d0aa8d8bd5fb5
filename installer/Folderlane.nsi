; Folderlane's Windows installer: a per-user installation that needs no
; administrator rights. Everything it writes is under the user's profile and
; HKEY_CURRENT_USER, and the uninstaller takes all of it away again. The agent
; itself keeps no settings, so nothing else needs cleaning.
;
; Built by scripts/make-dist.sh:
;   makensis -DVERSION=5.4.0.0 -DBUILD=<files to pack> -DROOT=<checkout> -DOUTFILE=<setup.exe>
;            [-DSIGN=<program that signs the file it is given>]

!ifndef VERSION | BUILD | ROOT | OUTFILE
  !error "define VERSION, BUILD, ROOT and OUTFILE (see scripts/make-dist.sh)"
!endif
; The uninstaller is made inside makensis, before it is packed: only here can it be signed.
!ifdef SIGN
  !uninstfinalize '"${SIGN}" "%1"' = 0
!endif

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestSupportedOS all
ManifestDPIAware true

!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh
!include MUI2.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Folderlane"
; The "Open with Folderlane" verb: on folders, on the background of an open
; folder (the folder the user is in) and on drives.
!define FOLDER_VERB "Software\Classes\Directory\shell\Folderlane"
!define BACKGROUND_VERB "Software\Classes\Directory\Background\shell\Folderlane"
!define DRIVE_VERB "Software\Classes\Drive\shell\Folderlane"
!define AGENT_CLASS "NelvoFolderWindow"
!define AGENT_TITLE "NelvoFolder"
!define SHORTCUT "Folderlane.lnk"

Name "Folderlane"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Folderlane"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Folderlane ${VERSION}"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "Folderlane"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Folderlane Setup"
VIAddVersionKey /LANG=1033 "CompanyName" "Folderlane developers"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) Folderlane developers"

!define MUI_ICON "${ROOT}/res/MAINICON.ico"
!define MUI_UNICON "${ROOT}/res/MAINICON.ico"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckInstallFolder
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "Folderlane is installed and running: its icon is in the notification area. Press the right mouse button on it for your recent folders."
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

!macro DELETE_VERBS
  DeleteRegKey HKCU "${FOLDER_VERB}"
  DeleteRegKey HKCU "${BACKGROUND_VERB}"
  DeleteRegKey HKCU "${DRIVE_VERB}"
!macroend

; The background's folder comes as %V; a folder's or drive's as %1.
!macro WRITE_VERB KEY ITEM
  WriteRegStr HKCU "${KEY}" "" "Open with Folderlane"
  WriteRegStr HKCU "${KEY}" "Icon" "$INSTDIR\Folderlane.exe,0"
  WriteRegStr HKCU "${KEY}\command" "" '"$INSTDIR\folderlane-open.exe" "${ITEM}"'
!macroend

; Ends every running agent the way its own Exit does, and waits for each
; process to be gone, so that its executable can be replaced or deleted.
!macro CLOSE_AGENTS_FUNCTION un
Function ${un}CloseAgents
  StrCpy $R9 0
  ${Do}
    FindWindow $0 "${AGENT_CLASS}" "${AGENT_TITLE}"
    ${If} $0 = 0
      Return
    ${EndIf}
    ${If} $R9 >= 5
      MessageBox MB_OK|MB_ICONSTOP "Folderlane is running and does not close. End it, then try again." /SD IDOK
      Abort
    ${EndIf}
    StrCpy $1 0
    System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1)"
    ; SYNCHRONIZE: enough to wait for the process.
    System::Call "kernel32::OpenProcess(i 0x00100000, i 0, i r1) p .r2"
    SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
    ${If} $2 <> 0
      System::Call "kernel32::WaitForSingleObject(p r2, i 10000)"
      System::Call "kernel32::CloseHandle(p r2)"
    ${Else}
      Sleep 1000
    ${EndIf}
    IntOp $R9 $R9 + 1
  ${Loop}
FunctionEnd
!macroend
!insertmacro CLOSE_AGENTS_FUNCTION ""
!insertmacro CLOSE_AGENTS_FUNCTION "un."

; The agent finds FolderList.txt and the read-me through the ANSI code
; page: in a folder whose path that code page cannot spell it would find
; neither. (A code page that spells everything, UTF-8, makes the call fail:
; then every folder fits.)
Function CheckInstallFolder
  StrCpy $1 0
  ; WC_NO_BEST_FIT_CHARS: a look-alike letter would name another folder.
  System::Call "kernel32::WideCharToMultiByte(i 0, i 0x400, w '$INSTDIR', i -1, p 0, i 0, p 0, *i r1r1)"
  ${If} $1 <> 0
    MessageBox MB_OK|MB_ICONSTOP "Folderlane cannot be installed in$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\nThe path has characters that Windows' code page for non-Unicode programs lacks, and Folderlane would not find its files there. Choose a folder whose path has none, for example C:\Folderlane." /SD IDOK
    Abort
  ${EndIf}
FunctionEnd

; $0 = 1 when the process $1 runs with full administrator rights, else 0.
Function ElevationOf
  StrCpy $0 0
  StrCpy $2 0
  System::Call "advapi32::OpenProcessToken(p r1, i 0x8, *p r2r2)"
  ${If} $2 <> 0
    ; TokenElevation
    System::Call "advapi32::GetTokenInformation(p r2, i 20, *i r0r0, i 4, *i .r3)"
    System::Call "kernel32::CloseHandle(p r2)"
  ${EndIf}
FunctionEnd

; Starts the agent only when none runs (the Startup shortcut's way). Setup
; run "as administrator" would give an agent that the user's own Explorer
; cannot send folders to: then the shell starts it, with the shell's rights.
Function StartAgent
  StrCpy $1 -1
  Call ElevationOf
  StrCpy $4 $0
  System::Call "user32::GetShellWindow() p .r5"
  ${If} $5 <> 0
    StrCpy $6 0
    System::Call "user32::GetWindowThreadProcessId(p r5, *i r6r6)"
    ; PROCESS_QUERY_LIMITED_INFORMATION
    System::Call "kernel32::OpenProcess(i 0x1000, i 0, i r6) p .r1"
    ${If} $1 <> 0
      Call ElevationOf
      System::Call "kernel32::CloseHandle(p r1)"
    ${EndIf}
    ${If} $4 > $0
      Exec '"$WINDIR\explorer.exe" "$INSTDIR\folderlane-open.exe"'
      Return
    ${EndIf}
  ${EndIf}
  Exec '"$INSTDIR\folderlane-open.exe"'
FunctionEnd

Section "Folderlane" SecAgent
  SectionIn RO
  ; Silent installations skip the folder page and its check.
  Call CheckInstallFolder
  Call CloseAgents
  ; The folder above the installation is removed on uninstalling only when
  ; this installation made it.
  ${GetParent} "$INSTDIR" $0
  ${IfNot} ${FileExists} "$0\*.*"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "CreatedFolder" "$0"
  ${EndIf}

  SetOutPath "$INSTDIR"
  File "${BUILD}/Folderlane.exe"
  File "${BUILD}/folderlane-send.exe"
  File "${BUILD}/folderlane-open.exe"
  File "${BUILD}/Nelvoreadme.txt"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\Folderlane.exe" "" "$INSTDIR\Folderlane.exe" 0

  ; A new installation over an old one keeps only the options chosen now.
  Delete "$SMSTARTUP\${SHORTCUT}"
  !insertmacro DELETE_VERBS

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Folderlane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Folderlane developers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Folderlane.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Through folderlane-open, which starts the agent only when none runs:
; Windows starts Startup programs some seconds after log-on, and the user may
; have started one by "Open with Folderlane" meanwhile.
Section "Start Folderlane when I log on" SecStartup
  CreateShortcut "$SMSTARTUP\${SHORTCUT}" "$INSTDIR\folderlane-open.exe" "" "$INSTDIR\Folderlane.exe" 0
SectionEnd

; The folder goes through the agent, which folderlane-open starts when it
; does not run: it opens, and it goes to the top of the list.
Section "Open with Folderlane" SecOpenWith
  !insertmacro WRITE_VERB "${FOLDER_VERB}" "%1"
  !insertmacro WRITE_VERB "${BACKGROUND_VERB}" "%V"
  !insertmacro WRITE_VERB "${DRIVE_VERB}" "%1"
SectionEnd

; Last, so that the finish page can say the agent runs.
Section "-Start"
  ; SHCNE_ASSOCCHANGED: Explorer picks up the new verbs.
  System::Call "shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)"
  Call StartAgent
SectionEnd

Section "Uninstall"
  Call un.CloseAgents
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "CreatedFolder"

  Delete "$SMPROGRAMS\${SHORTCUT}"
  Delete "$SMSTARTUP\${SHORTCUT}"
  !insertmacro DELETE_VERBS
  System::Call "shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)"

  Delete "$INSTDIR\Folderlane.exe"
  Delete "$INSTDIR\folderlane-send.exe"
  Delete "$INSTDIR\folderlane-open.exe"
  Delete "$INSTDIR\Nelvoreadme.txt"
  Delete "$INSTDIR\Uninstall.exe"
  ; Not /r: a folder list the user keeps beside the agent stays, and so does the folder.
  RMDir "$INSTDIR"
  ${If} $0 != ""
    RMDir "$0"
  ${EndIf}
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
