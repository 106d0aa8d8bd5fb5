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
!include Sections.nsh
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
; The option pages' choices, remembered beside the uninstall entry for the
; next installation (1 chosen, 0 left out).
!define CHOICE_STARTUP "StartAtLogOn"
!define CHOICE_OPEN_WITH "OpenWith"

Var FinishText
; 1 when setup ended a running agent: its list in memory went with it.
Var EndedAgent

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
!define MUI_FINISHPAGE_TEXT "$FinishText"
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

; $0 = 1 when the process $1 (-1: setup itself) runs with full
; administrator rights, 0 when not, -1 when that cannot be read.
!macro ELEVATION_OF_FUNCTION un
Function ${un}ElevationOf
  StrCpy $0 -1
  Push $2
  Push $3
  StrCpy $2 0
  ${If} $1 <> 0
    System::Call "advapi32::OpenProcessToken(p r1, i 0x8, *p r2r2)"
  ${EndIf}
  ${If} $2 <> 0
    ; TokenElevation
    System::Call "advapi32::GetTokenInformation(p r2, i 20, *i .r0, i 4, *i .r3) i .r3"
    ${If} $3 = 0
      StrCpy $0 -1
    ${EndIf}
    System::Call "kernel32::CloseHandle(p r2)"
  ${EndIf}
  Pop $3
  Pop $2
FunctionEnd
!macroend
!insertmacro ELEVATION_OF_FUNCTION ""
!insertmacro ELEVATION_OF_FUNCTION "un."

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
    ; SYNCHRONIZE, to wait for the process; PROCESS_QUERY_LIMITED_INFORMATION,
    ; to read its elevation.
    System::Call "kernel32::OpenProcess(i 0x00101000, i 0, i r1) p .r2"
    ; Windows drops a message from a process with lower rights (UIPI): an
    ; agent started "as administrator" would never get WM_CLOSE.
    Push $0
    StrCpy $1 $2
    Call ${un}ElevationOf
    StrCpy $3 $0
    StrCpy $1 -1
    Call ${un}ElevationOf
    StrCpy $4 $0
    Pop $0
    ${If} $3 = 1
    ${AndIf} $4 <> 1
      System::Call "kernel32::CloseHandle(p r2)"
      MessageBox MB_OK|MB_ICONSTOP "Folderlane is running with higher rights than setup (it was started $\"as administrator$\"), so setup cannot close it. End it with Exit in its menu, then try again." /SD IDOK
      Abort
    ${EndIf}
    StrCpy $EndedAgent 1
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
  ; Through a register: a quote in the path (O'Brien) would end a quoted text.
  StrCpy $2 $INSTDIR
  ; WC_NO_BEST_FIT_CHARS: a look-alike letter would name another folder.
  System::Call "kernel32::WideCharToMultiByte(i 0, i 0x400, w r2, i -1, p 0, i 0, p 0, *i r1r1)"
  ${If} $1 <> 0
    MessageBox MB_OK|MB_ICONSTOP "Folderlane cannot be installed in$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\nThe path has characters that Windows' code page for non-Unicode programs lacks, and Folderlane would not find its files there. Choose a folder whose path has none, for example C:\Folderlane." /SD IDOK
    Abort
  ${EndIf}
FunctionEnd


; Starts the agent only when none runs (the Startup shortcut's way). An
; agent started by setup run "as administrator" would have rights that the
; user's own Explorer and the senders cannot reach: then the shell starts it,
; with the shell's rights. When the shell's rights cannot be read (no shell
; window, Explorer restarting), setup does not start it at all, and says
; where to start it.
Function StartAgent
  StrCpy $1 -1
  Call ElevationOf
  ${If} $0 <> 1
    Exec '"$INSTDIR\folderlane-open.exe"'
    Return
  ${EndIf}
  StrCpy $0 -1
  ; The desktop's process, or the taskbar's (Explorer draws both; Wine's
  ; desktop has only the taskbar).
  System::Call "user32::GetShellWindow() p .r5"
  ${If} $5 = 0
    FindWindow $5 "Shell_TrayWnd"
  ${EndIf}
  ${If} $5 <> 0
    StrCpy $6 0
    System::Call "user32::GetWindowThreadProcessId(p r5, *i r6r6)"
    ; PROCESS_QUERY_LIMITED_INFORMATION
    System::Call "kernel32::OpenProcess(i 0x1000, i 0, i r6) p .r1"
    Call ElevationOf
    System::Call "kernel32::CloseHandle(p r1)"
  ${EndIf}
  ${If} $0 = 0
    Exec '"$WINDIR\explorer.exe" "$INSTDIR\folderlane-open.exe"'
  ${ElseIf} $0 = 1
    ; The shell has these rights too (UAC off, or the built-in Administrator).
    Exec '"$INSTDIR\folderlane-open.exe"'
  ${Else}
    StrCpy $FinishText "Folderlane is installed but not started: setup runs with administrator rights and could not tell the rights of your desktop, and an agent started from here would have rights that Explorer cannot reach. Start Folderlane from the Start menu."
  ${EndIf}
FunctionEnd

; Gives the folder $5, and what it will hold, a private ACL: the user,
; SYSTEM and the Administrators. A folder made outside the profile would
; inherit "Authenticated Users: Modify" from C:\, and any local account could
; replace the programs that this user's Startup shortcut and verb run.
Function MakePrivate
  StrCpy $0 0
  System::Call "advapi32::OpenProcessToken(p -1, i 0x8, *p .r1) i .r0"
  ${If} $0 = 0
    Return
  ${EndIf}
  ; TokenUser: a TOKEN_USER, whose first field points at the user's SID.
  System::Call "*(&i1024) p .r2"
  System::Call "advapi32::GetTokenInformation(p r1, i 1, p r2, i 1024, *i .r3) i .r0"
  System::Call "kernel32::CloseHandle(p r1)"
  ${If} $0 <> 0
    System::Call "*$2(p .r3)"
    System::Call "advapi32::ConvertSidToStringSidW(p r3, *p .r4) i .r0"
  ${EndIf}
  ${If} $0 <> 0
    System::Call "kernel32::lstrcpynW(w .r6, p r4, i 256)"
    System::Call "kernel32::LocalFree(p r4)"
    ; P: nothing inherited from above; OICI: passed on to files and folders.
    System::Call "advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w 'D:P(A;OICI;FA;;;$6)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)', i 1, *p .r7, p 0) i .r0"
  ${EndIf}
  ${If} $0 <> 0
    System::Call "advapi32::GetSecurityDescriptorDacl(p r7, *i .r8, *p .r9, *i .r3)"
    ; SE_FILE_OBJECT; DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION
    System::Call "advapi32::SetNamedSecurityInfoW(w r5, i 1, i 0x80000004, p 0, p 0, p r9, p 0) i .r0"
    System::Call "kernel32::LocalFree(p r7)"
    ${If} $0 = 0
      StrCpy $0 1
    ${Else}
      StrCpy $0 0
    ${EndIf}
  ${EndIf}
  System::Free $2
  ${If} $0 = 0
    MessageBox MB_OK|MB_ICONEXCLAMATION "Setup could not make $5 private to you: other accounts on this computer may be able to change the files in it." /SD IDOK
  ${EndIf}
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
  ; $5: the outermost folder this installation makes, if any.
  StrCpy $5 ""
  StrCpy $0 $INSTDIR
  ${DoUntil} ${FileExists} "$0\*.*"
    StrCpy $5 $0
    ${GetParent} $5 $0
    ${IfThen} $0 == "" ${|} ${ExitDo} ${|}
  ${Loop}

  ; Private before anything is made in it: what follows inherits its ACL.
  StrLen $1 "$PROFILE\"
  StrCpy $1 $5 $1
  ${If} $5 != ""
  ${AndIf} $1 != "$PROFILE\"
    CreateDirectory "$5"
    Call MakePrivate
  ${EndIf}
  SetOutPath "$INSTDIR"
  File "${BUILD}/Folderlane.exe"
  File "${BUILD}/folderlane-send.exe"
  File "${BUILD}/folderlane-open.exe"
  File "${BUILD}/Nelvoreadme.txt"
  File "${BUILD}/LICENSE.txt"
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
  ; Started as it is, the uninstaller runs a copy of itself from the
  ; temporary folder and returns at once (NSIS's way: a running program
  ; cannot delete its own file); run in place (_?=), it cannot delete itself.
  ; So that winget and deployment tools see it done when it returns, this
  ; makes the copy itself and waits for it (start /wait passes its exit code on).
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$SYSDIR\cmd.exe" /d /s /c "copy /y "$INSTDIR\Uninstall.exe" "%TEMP%\Folderlane-uninstall.exe" >nul && start "" /wait "%TEMP%\Folderlane-uninstall.exe" /S _?=$INSTDIR"'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ; The options' sections below set what is chosen.
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "${CHOICE_STARTUP}" 0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "${CHOICE_OPEN_WITH}" 0
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Through folderlane-open, which starts the agent only when none runs:
; Windows starts Startup programs some seconds after log-on, and the user may
; have started one by "Open with Folderlane" meanwhile.
Section "Start Folderlane when I log on" SecStartup
  CreateShortcut "$SMSTARTUP\${SHORTCUT}" "$INSTDIR\folderlane-open.exe" "" "$INSTDIR\Folderlane.exe" 0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "${CHOICE_STARTUP}" 1
SectionEnd

; The folder goes through the agent, which folderlane-open starts when it
; does not run: it opens, and it goes to the top of the list.
Section "Open with Folderlane" SecOpenWith
  !insertmacro WRITE_VERB "${FOLDER_VERB}" "%1"
  !insertmacro WRITE_VERB "${BACKGROUND_VERB}" "%V"
  !insertmacro WRITE_VERB "${DRIVE_VERB}" "%1"
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "${CHOICE_OPEN_WITH}" 1
SectionEnd

; Last, so that the finish page can say the agent runs.
Section "-Start"
  ; SHCNE_ASSOCCHANGED: Explorer picks up the new verbs.
  System::Call "shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)"
  StrCpy $FinishText "Folderlane is installed and running: its icon is in the notification area (on Windows 10 and 11 perhaps hidden behind the ^ arrow). Press the right mouse button on it for your recent folders."
  Call StartAgent
  ${If} $EndedAgent = 1
    StrCpy $FinishText "$FinishText$\r$\n$\r$\nThe Folderlane that was running has been ended, and the folders it remembered went with it; those in FolderList.txt come back."
  ${EndIf}
SectionEnd

; An option chosen or left out last time is chosen or left out again; the
; switches /STARTUP, /NOSTARTUP, /OPENWITH and /NOOPENWITH (before /D=)
; choose for this and later installations.
!macro CHOICE NAME SECTION SWITCH
  ClearErrors
  ReadRegDWORD $0 HKCU "${UNINSTALL_KEY}" "${NAME}"
  ${IfNot} ${Errors}
  ${AndIf} $0 = 0
    !insertmacro UnselectSection ${SECTION}
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/NO${SWITCH}" $0
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SECTION}
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/${SWITCH}" $0
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SECTION}
  ${EndIf}
!macroend

Function .onInit
  StrCpy $EndedAgent 0
  ; Run elevated, setup installs for the account it runs as: after "Run as
  ; administrator" and an administrator's password, not for the user who
  ; asked. A silent installation goes on, as deployment tools expect.
  StrCpy $1 -1
  Call ElevationOf
  ${If} $0 = 1
    System::Call "advapi32::GetUserNameW(w .r1, *i ${NSIS_MAX_STRLEN})"
    MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION|MB_DEFBUTTON2 "Setup runs with administrator rights, and installs Folderlane for the account it runs as: $1.$\r$\n$\r$\nIf you chose $\"Run as administrator$\" and typed an administrator's password, that is the administrator's account, and you would get nothing. Setup is meant to run without $\"Run as administrator$\": choose Cancel and start it again normally.$\r$\n$\r$\nChoose OK to install for $1." /SD IDOK IDOK +2
    Abort
  ${EndIf}
  ${GetParameters} $R0
  !insertmacro CHOICE "${CHOICE_STARTUP}" ${SecStartup} "STARTUP"
  !insertmacro CHOICE "${CHOICE_OPEN_WITH}" ${SecOpenWith} "OPENWITH"
FunctionEnd

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
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\Uninstall.exe"
  ; Not /r: a folder list the user keeps beside the agent stays, and so does the folder.
  RMDir "$INSTDIR"
  ${If} $0 != ""
    RMDir "$0"
  ${EndIf}
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
