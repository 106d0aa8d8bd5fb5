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
  !uninstfinalize '"${SIGN}" --name Uninstall.exe "%1"' = 0
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
; The batch file that the uninstall entry's QuietUninstallString runs.
!define QUIET_UNINSTALL "Uninstall-quietly.cmd"
; (Tests build a setup that takes another SID for SYSTEM's.)
!ifndef SYSTEM_SID
  !define SYSTEM_SID "S-1-5-18"
!endif
; The option pages' choices, remembered beside the uninstall entry for the
; next installation (1 chosen, 0 left out).
!define CHOICE_STARTUP "StartAtLogOn"
!define CHOICE_OPEN_WITH "OpenWith"

Var FinishText
; 1 when setup ended a running agent: its list in memory went with it.
Var EndedAgent
; Setup's own user and the user of the desktop's shell, as string SIDs
; ("" when not known).
Var UserSid
Var ShellSid
; The outermost folder setup made ("" when none).
Var MadeFolder

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
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE LeaveFolderPage
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

; $R0 = the final path of the folder $R1 (\\?\C:\...): long names and the
; file system's own case, whatever way it was written; "" when it cannot be
; opened.
!macro FINAL_PATH_FUNCTION un
Function ${un}FinalPath
  StrCpy $R0 ""
  ; FILE_FLAG_BACKUP_SEMANTICS opens a folder; no access is asked, any sharing.
  System::Call "kernel32::CreateFileW(w R1, i 0, i 7, p 0, i 3, i 0x02000000, p 0) p .R2"
  ${If} $R2 <> -1
    System::Call "kernel32::GetFinalPathNameByHandleW(p R2, w .R0, i ${NSIS_MAX_STRLEN}, i 0) i .R3"
    ${If} $R3 = 0
    ${OrIf} $R3 >= ${NSIS_MAX_STRLEN}
      StrCpy $R0 ""
    ${EndIf}
    System::Call "kernel32::CloseHandle(p R2)"
  ${EndIf}
FunctionEnd
!macroend
!insertmacro FINAL_PATH_FUNCTION ""
!insertmacro FINAL_PATH_FUNCTION "un."

; $0 = the window of an agent that runs from the installation folder, 0
; when none does; $2 = its process (SYNCHRONIZE, to wait for it;
; PROCESS_QUERY_LIMITED_INFORMATION, to read its image and elevation), or 0.
; Copies in other folders (portable ones) run on their own with their own
; lists, as the agent's single-copy check lets them: they are left alone.
!macro OWN_AGENT_FUNCTION un
Function ${un}OwnAgent
  StrCpy $R1 $INSTDIR
  Call ${un}FinalPath
  StrCpy $R4 $R0
  StrCpy $0 0
  StrCpy $2 0
  ${IfThen} $R4 == "" ${|} Return ${|}
  ${Do}
    System::Call "user32::FindWindowExW(p 0, p r0, w '${AGENT_CLASS}', w '${AGENT_TITLE}') p .r0"
    ${IfThen} $0 = 0 ${|} Return ${|}
    StrCpy $1 0
    System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1)"
    System::Call "kernel32::OpenProcess(i 0x00101000, i 0, i r1) p .r2"
    ${If} $2 <> 0
      StrCpy $1 ${NSIS_MAX_STRLEN}
      System::Call "kernel32::QueryFullProcessImageNameW(p r2, i 0, w .r3, *i r1) i .r1"
      ${If} $1 <> 0
        ${GetParent} $3 $R1
        Call ${un}FinalPath
        ; As the file system compares names: ordinal, without regard to case.
        System::Call "kernel32::CompareStringOrdinal(w R0, i -1, w R4, i -1, i 1) i .r1"
        ${If} $R0 != ""
        ${AndIf} $1 = 2
          Return
        ${EndIf}
      ${EndIf}
      System::Call "kernel32::CloseHandle(p r2)"
      StrCpy $2 0
    ${EndIf}
  ${Loop}
FunctionEnd
!macroend
!insertmacro OWN_AGENT_FUNCTION ""
!insertmacro OWN_AGENT_FUNCTION "un."

; Ends the agent of the installation folder the way its own Exit does, and
; waits for its process to be gone, so that its executable can be replaced
; or deleted.
!macro CLOSE_AGENTS_FUNCTION un
Function ${un}CloseAgents
  StrCpy $R9 0
  ${Do}
    Call ${un}OwnAgent
    ${If} $0 = 0
      Return
    ${EndIf}
    ${If} $R9 >= 5
      System::Call "kernel32::CloseHandle(p r2)"
      MessageBox MB_OK|MB_ICONSTOP "Folderlane is running and does not close. End it, then try again." /SD IDOK
      Abort
    ${EndIf}
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
    System::Call "kernel32::WaitForSingleObject(p r2, i 10000)"
    System::Call "kernel32::CloseHandle(p r2)"
    IntOp $R9 $R9 + 1
  ${Loop}
FunctionEnd
!macroend
!insertmacro CLOSE_AGENTS_FUNCTION ""
!insertmacro CLOSE_AGENTS_FUNCTION "un."

; $R6 = the SID at $R5 as a string (S-1-5-...), "" when it cannot be read.
Function SidText
  StrCpy $R6 ""
  System::Call "advapi32::ConvertSidToStringSidW(p R5, *p .R7) i .R6"
  ${If} $R6 <> 0
    System::Call "kernel32::lstrcpynW(w .R6, p R7, i ${NSIS_MAX_STRLEN})"
    System::Call "kernel32::LocalFree(p R7)"
  ${Else}
    StrCpy $R6 ""
  ${EndIf}
FunctionEnd

; $0 = the user the process $1 (-1: setup itself) runs as, a string SID;
; "" when it cannot be read, and then $2 = the error (5: access denied).
Function UserOf
  StrCpy $0 ""
  StrCpy $2 0
  StrCpy $R8 0
  System::Call "advapi32::OpenProcessToken(p r1, i 0x8, *p .R8) i .R6 ?e"
  Pop $2
  ${If} $R6 <> 0
    StrCpy $2 0
    ; TokenUser: a TOKEN_USER, whose first field points at the SID.
    System::Call "*(&i1024) p .R7"
    System::Call "advapi32::GetTokenInformation(p R8, i 1, p R7, i 1024, *i .R6) i .R6 ?e"
    Pop $2
    ${If} $R6 <> 0
      System::Call "*$R7(p .R5)"
      Call SidText
      StrCpy $0 $R6
    ${EndIf}
    System::Free $R7
    System::Call "kernel32::CloseHandle(p R8)"
  ${EndIf}
FunctionEnd

; $1 = the process of the desktop's shell, opened to read its token; 0 when
; there is no shell window or its process cannot be opened, and then $2 =
; the error (5: access denied).
Function OpenShell
  ; The desktop's window, or the taskbar's (Explorer draws both; Wine's
  ; desktop has only the taskbar).
  System::Call "user32::GetShellWindow() p .r1"
  ${If} $1 = 0
    FindWindow $1 "Shell_TrayWnd"
  ${EndIf}
  StrCpy $2 0
  ${If} $1 <> 0
    System::Call "user32::GetWindowThreadProcessId(p r1, *i .r2)"
    ; PROCESS_QUERY_LIMITED_INFORMATION
    System::Call "kernel32::OpenProcess(i 0x1000, i 0, i r2) p .r1 ?e"
    Pop $2
  ${EndIf}
FunctionEnd

; $R7 = 1 when the SID $R6 (a string) is one that may control the
; installation: the user, or an account that controls the computer anyway
; (SYSTEM, the Administrators, TrustedInstaller), or CREATOR OWNER and
; OWNER RIGHTS, which stand for the owner of what is made inside (whom
; the rights checked with them must already allow to make it).
Function Trusted
  StrCpy $R7 1
  ${If} $R6 == $UserSid
  ${OrIf} $R6 == "${SYSTEM_SID}"
  ${OrIf} $R6 == "S-1-5-32-544"
  ${OrIf} $R6 == "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"
  ${OrIf} $R6 == "S-1-3-0"
  ${OrIf} $R6 == "S-1-3-4"
    Return
  ${EndIf}
  StrCpy $R7 0
FunctionEnd

; Whether another account controls the folder (or file) $R1: $R0 = "" when
; none does; "link" when it is a junction or another reparse point (whoever
; made it may point it elsewhere); "owner" when another account owns it (an
; owner may rewrite its ACL); "open" when its ACL allows another account any
; of the rights $R3 (with $R4 = 1 also by entries that only pass on to what
; is made inside); "unreadable" when setup cannot read who may. Entries that
; deny are left out: they could only take rights away.
Function FolderControl
  StrCpy $R0 "unreadable"
  StrCpy $R2 0
  StrCpy $3 0
  Push $0
  ; The level itself, not a junction's target (FILE_FLAG_OPEN_REPARSE_POINT |
  ; FILE_FLAG_BACKUP_SEMANTICS), for READ_CONTROL | FILE_READ_ATTRIBUTES; its
  ; owner and ACL are read from this handle, not again by name.
  System::Call "kernel32::CreateFileW(w R1, i 0x20080, i 7, p 0, i 3, i 0x02200000, p 0) p .r0"
  ${If} $0 = -1
    Pop $0
    Return
  ${EndIf}
  ; BY_HANDLE_FILE_INFORMATION: the attributes first.
  System::Call "*(&i52) p .r2"
  System::Call "kernel32::GetFileInformationByHandle(p r0, p r2) i .r1"
  System::Call "*$2(i .r3)"
  System::Free $2
  ; And by name (which does not follow a link either): Wine's handle shows
  ; the target's attributes, the name the link's.
  System::Call "kernel32::GetFileAttributesW(w R1) i .r2"
  ${If} $1 <> 0
  ${AndIf} $2 <> -1
    IntOp $3 $3 | $2
    ; FILE_ATTRIBUTE_REPARSE_POINT
    IntOp $3 $3 & 0x400
    StrCpy $R0 "link"
    ${If} $3 = 0
      StrCpy $R0 "unreadable"
      ; SE_FILE_OBJECT; OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION
      System::Call "advapi32::GetSecurityInfo(p r0, i 1, i 5, *p .R5, p 0, *p .R2, p 0, *p .R8) i .r1"
      ${IfThen} $1 = 0 ${|} StrCpy $R0 "" ${|}
    ${EndIf}
  ${EndIf}
  System::Call "kernel32::CloseHandle(p r0)"
  Pop $0
  ${IfThen} $R0 != "" ${|} Return ${|}
  StrCpy $3 0
  Call SidText
  Call Trusted
  ${If} $R7 <> 1
    StrCpy $R0 "owner"
  ${ElseIf} $R2 = 0
    ; No ACL at all: every right for everyone.
    StrCpy $R0 "open"
  ${Else}
    StrCpy $R0 "unreadable"
    ; ACL_SIZE_INFORMATION (AclSizeInformation): the number of entries first.
    System::Call "*(i 0, i 0, i 0) p .r2"
    System::Call "advapi32::GetAclInformation(p R2, p r2, i 12, i 2) i .r1"
    System::Call "*$2(i .r3)"
    System::Free $2
    ${If} $1 <> 0
      StrCpy $R0 ""
    ${EndIf}
    StrCpy $4 0
    ${DoWhile} $4 < $3
      ${IfThen} $R0 != "" ${|} ${ExitDo} ${|}
      System::Call "advapi32::GetAce(p R2, i r4, *p .r2)"
      ; ACE_HEADER (type, flags, size), the access mask, then the SID.
      System::Call "*$2(&i1 .r1, &i1 .r5, &i2, i .r6)"
      IntOp $6 $6 & $R3
      ; INHERIT_ONLY_ACE: counted only when what is made inside matters.
      IntOp $5 $5 & 8
      ${IfThen} $R4 = 1 ${|} StrCpy $5 0 ${|}
      ${If} $6 <> 0
      ${AndIf} $5 = 0
        ${If} $1 = 0
        ${OrIf} $1 = 9
          ; ACCESS_ALLOWED_ACE, ACCESS_ALLOWED_CALLBACK_ACE
          IntOp $R5 $2 + 8
          Call SidText
          Call Trusted
          ${IfThen} $R7 <> 1 ${|} StrCpy $R0 "open" ${|}
        ${ElseIf} $1 = 5
        ${OrIf} $1 = 11
          ; Allowing object entries, not made for files: whose they are is not looked at.
          StrCpy $R0 "open"
        ${EndIf}
      ${EndIf}
      IntOp $4 $4 + 1
    ${Loop}
  ${EndIf}
  System::Call "kernel32::LocalFree(p R8)"
FunctionEnd

; $R0 = "" when everything in the folder $R1, and in its folders, is the
; user's or the system's and no other account may change it; otherwise as
; FolderControl answers, with $R1 what it is about. A file planted before
; keeps its owner and ACL when setup writes over it, and a DLL beside the
; programs is loaded before the system's.
Function ContentControl
  Push $7
  Push $8
  Push $R9
  StrCpy $R9 $R1
  StrCpy $R0 ""
  FindFirst $7 $8 "$R9\*.*"
  ${DoWhile} $8 != ""
    ${If} $8 != "."
    ${AndIf} $8 != ".."
      StrCpy $R1 "$R9\$8"
      Call FolderControl
      ; (Never through a link: FolderControl refuses those.)
      ${If} $R0 == ""
      ${AndIf} ${FileExists} "$R1\*.*"
        Call ContentControl
      ${EndIf}
      ${IfThen} $R0 != "" ${|} ${ExitDo} ${|}
    ${EndIf}
    FindNext $7 $8
  ${Loop}
  FindClose $7
  ${IfThen} $R0 == "" ${|} StrCpy $R1 $R9 ${|}
  Pop $R9
  Pop $8
  Pop $7
FunctionEnd

; Rights over the installation folder, and over what it holds, through
; which another account could change what the Startup shortcut and the verb
; run: add files or folders (write, append), write extended attributes or
; attributes (which alone turn an empty folder into a junction), delete
; what it holds or the folder itself, change its ACL or owner, generic
; write or all. Entries that pass on only to what is made inside count too:
; the programs setup puts there would get them.
!define FOLDER_RIGHTS 0x500D0156
; Over a folder above it: whoever may rename it, make it a junction or
; remove what it holds, or change its ACL or owner, could put a folder of
; their own in the installation's place. (Any account may make folders in
; C:\: that alone does not matter.)
!define PARENT_RIGHTS 0x100D0140
; A drive's root cannot be renamed: there the right to delete (which
; "Authenticated Users: Modify" on a new drive gives) does not matter.
!define ROOT_RIGHTS 0x100C0040

; $INSTDIR as Windows reads it (no "..", no "/"), for the profile's
; exemption below and for every check and call after it.
Function NormaliseInstallFolder
  StrCpy $2 $INSTDIR
  System::Call "kernel32::GetFullPathNameW(w r2, i ${NSIS_MAX_STRLEN}, w .r1, p 0) i .r3"
  ${If} $3 <> 0
  ${AndIf} $3 < ${NSIS_MAX_STRLEN}
    StrCpy $2 $1 "" -1
    StrLen $3 $1
    ${If} $2 == "\"
    ${AndIf} $3 > 3
      StrCpy $1 $1 -1
    ${EndIf}
    StrCpy $INSTDIR $1
  ${EndIf}
FunctionEnd

; $1 = 1 when the installation folder is inside the user's profile, which
; only the user and the system reach; 0 when not.
Function InProfile
  StrLen $1 "$PROFILE\"
  StrCpy $1 $INSTDIR $1
  ${If} $1 == "$PROFILE\"
    StrCpy $1 1
  ${Else}
    StrCpy $1 0
  ${EndIf}
FunctionEnd

; Outside the user's profile a folder may belong to, or be open to, other
; accounts (any account may make folders in C:\): $R0 = why the
; installation folder, what it holds, or a folder above it, may not be
; trusted; "" when they may. Inside the profile nothing is checked.
Function FolderSafety
  StrCpy $R0 ""
  Call InProfile
  ${IfThen} $1 = 1 ${|} Return ${|}
  StrCpy $9 $INSTDIR
  StrCpy $R3 ${FOLDER_RIGHTS}
  StrCpy $R4 1
  ${Do}
    ${If} ${FileExists} "$9\*.*"
      ; "C:" would be the current folder of drive C:.
      StrCpy $R1 $9
      StrCpy $1 $9 "" -1
      ${If} $1 == ":"
        StrCpy $R1 "$9\"
        StrCpy $R3 ${ROOT_RIGHTS}
      ${EndIf}
      Call FolderControl
      StrCpy $2 ""
      ${If} $R0 == ""
      ${AndIf} $R4 = 1
        Call ContentControl
        StrCpy $2 "content"
      ${EndIf}
      ${If} $R0 == "unreadable"
        StrCpy $R0 "Setup cannot read who may change $R1."
      ${ElseIf} $R0 == "link"
        StrCpy $R0 "$R1 is a junction or a link, which whoever made it can point elsewhere."
      ${ElseIf} $R0 != ""
      ${AndIf} $2 == "content"
        StrCpy $R0 "Another account owns, or can change, $R1 in the folder: Folderlane's programs could run it."
      ${ElseIf} $R0 != ""
      ${AndIf} $R4 = 1
        ${If} $R0 == "owner"
          StrCpy $R0 "The folder belongs to another account, which could change the programs that Folderlane runs when you log on."
        ${Else}
          StrCpy $R0 "Other accounts on this computer can change the folder, and with it the programs that Folderlane runs when you log on."
        ${EndIf}
      ${ElseIf} $R0 != ""
        StrCpy $R0 "Another account owns, or can rename or empty, the folder $R1 above it, and could put a folder of its own in its place."
      ${EndIf}
      ${IfThen} $R0 != "" ${|} Return ${|}
    ${EndIf}
    StrCpy $R3 ${PARENT_RIGHTS}
    StrCpy $R4 0
    ${GetParent} $9 $9
  ${LoopUntil} $9 == ""
FunctionEnd

; Adds the line $R0 to Folderlane-setup.log in the temporary folder: a
; silent setup shows nothing, and deployment tools pass on only its exit
; code (SYSTEM's temporary folder is C:\Windows\Temp).
Function WriteLog
  ClearErrors
  FileOpen $1 "$TEMP\Folderlane-setup.log" a
  ${IfNot} ${Errors}
    FileSeek $1 0 END
    FileWrite $1 "$R0$\r$\n"
    FileClose $1
  ${EndIf}
FunctionEnd

; $0 = 0 when setup may install into $INSTDIR; otherwise setup's exit code
; for the refusal, which has been told (silently: nothing shown).
Function CheckInstallFolder
  Call NormaliseInstallFolder
  ; The agent finds FolderList.txt and the read-me through the ANSI code
  ; page: in a folder whose path that code page cannot spell it would find
  ; neither. (A code page that spells everything, UTF-8, makes the call
  ; fail: then every folder fits.)
  StrCpy $1 0
  ; Through a register: a quote in the path (O'Brien) would end a quoted text.
  StrCpy $2 $INSTDIR
  ; WC_NO_BEST_FIT_CHARS: a look-alike letter would name another folder.
  System::Call "kernel32::WideCharToMultiByte(i 0, i 0x400, w r2, i -1, p 0, i 0, p 0, *i r1r1)"
  ${If} $1 <> 0
    MessageBox MB_OK|MB_ICONSTOP "Folderlane cannot be installed in$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\nThe path has characters that Windows' code page for non-Unicode programs lacks, and Folderlane would not find its files there. Choose a folder whose path has none, for example C:\Folderlane." /SD IDOK
    StrCpy $0 2
    Return
  ${EndIf}
  ; cmd reads what stands between two % as a variable (and Wine's cmd drops
  ; even a single one), so the uninstall entry that winget and deployment
  ; tools run could not name such a folder.
  StrLen $3 $INSTDIR
  StrCpy $1 0
  ${DoWhile} $1 < $3
    StrCpy $2 $INSTDIR 1 $1
    ${IfThen} $2 == "%" ${|} ${ExitDo} ${|}
    IntOp $1 $1 + 1
  ${Loop}
  ${If} $1 < $3
    MessageBox MB_OK|MB_ICONSTOP "Folderlane cannot be installed in$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\nWindows' command processor reads a % sign in a path as part of a variable, so Folderlane's uninstall entry could not name the folder. Choose a folder whose path has none." /SD IDOK
    StrCpy $0 2
    Return
  ${EndIf}
  Call SafetyCheck
FunctionEnd

; $0 = 0 when FolderSafety finds nothing; otherwise 3, and the refusal has
; been told.
Function SafetyCheck
  StrCpy $0 0
  Call FolderSafety
  ${If} $R0 != ""
    MessageBox MB_OK|MB_ICONSTOP "Setup will not install Folderlane in$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\n$R0$\r$\n$\r$\nChoose a folder inside your user profile, or a new one that does not exist yet: setup makes it private to you." /SD IDOK
    StrCpy $0 3
  ${EndIf}
FunctionEnd

Function LeaveFolderPage
  Call CheckInstallFolder
  ${IfThen} $0 <> 0 ${|} Abort ${|}
FunctionEnd

; Starts the agent through the desktop shell's own ShellExecute
; (Shell.Application of the desktop's folder view, as the shell documents
; it), so that the agent runs as the shell does; $0 = 1 when the shell took
; it. COM calls by their places in the interfaces' tables.
Function StartThroughShell
  StrCpy $0 0
  System::Call "ole32::CoInitializeEx(p 0, i 2) i .r9"
  StrCpy $1 0
  StrCpy $2 0
  StrCpy $3 0
  StrCpy $4 0
  StrCpy $5 0
  StrCpy $6 0
  StrCpy $7 0
  StrCpy $8 0
  ; CLSID_ShellWindows, IID_IShellWindows: served by Explorer (CLSCTX_LOCAL_SERVER)
  System::Call "ole32::CoCreateInstance(g '{9BA05972-F6A8-11CF-A442-00A0C90A8F39}', p 0, i 4, g '{85CB6900-4D95-11CF-960C-0080C7F4EE85}', *p .r1) i .r0"
  ${If} $0 = 0
    ; FindWindowSW(VT_EMPTY, VT_EMPTY, SWC_DESKTOP, SWFO_NEEDDISPATCH)
    System::Call "*(i 0, i 0, i 0, i 0) p .R1"
    System::Call "$1->15(p R1, p R1, i 8, *i .R3, i 1, *p .r2) i .r0"
    System::Free $R1
    ; S_FALSE and nothing: no desktop window
    ${IfThen} $2 = 0 ${|} StrCpy $0 1 ${|}
  ${EndIf}
  ${If} $0 = 0
    ; IServiceProvider
    System::Call "$2->0(g '{6D5140C1-7436-11CE-8034-00AA006009FA}', *p .r3) i .r0"
  ${EndIf}
  ${If} $0 = 0
    ; QueryService(SID_STopLevelBrowser, IID_IShellBrowser)
    System::Call "$3->3(g '{4C96BE40-915C-11CF-99D3-00AA004AE837}', g '{000214E2-0000-0000-C000-000000000046}', *p .r4) i .r0"
  ${EndIf}
  ${If} $0 = 0
    ; IShellBrowser::QueryActiveShellView
    System::Call "$4->15(*p .r5) i .r0"
  ${EndIf}
  ${If} $0 = 0
    ; IShellView::GetItemObject(SVGIO_BACKGROUND, IID_IDispatch)
    System::Call "$5->15(i 0, g '{00020400-0000-0000-C000-000000000046}', *p .r6) i .r0"
  ${EndIf}
  ${If} $0 = 0
    ; IShellFolderViewDual
    System::Call "$6->0(g '{E7A1AF80-4D96-11CF-960C-0080C7F4EE85}', *p .r7) i .r0"
  ${EndIf}
  ${If} $0 = 0
    ; get_Application: the shell's Shell.Application
    System::Call "$7->7(*p .R1) i .r0"
    ${If} $0 = 0
      ; IShellDispatch2
      System::Call "$R1->0(g '{A4C6892C-3BA9-11D2-9DEA-00C04FB16162}', *p .r8) i .r0"
      System::Call "$R1->2()"
    ${EndIf}
  ${EndIf}
  ${If} $0 = 0
    ; ShellExecute(file, and four empty VARIANTs by value: arguments,
    ; folder, verb, show)
    StrCpy $R1 "$INSTDIR\folderlane-open.exe"
    System::Call "oleaut32::SysAllocString(w R1) p .R2"
    ; E_OUTOFMEMORY
    StrCpy $0 0x8007000E
    ${If} $R2 <> 0
      System::Call "$8->31(p R2, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0) i .r0"
      System::Call "oleaut32::SysFreeString(p R2)"
    ${EndIf}
  ${EndIf}
  ${If} $0 = 0
    StrCpy $0 1
  ${Else}
    StrCpy $0 0
  ${EndIf}
  ${IfThen} $8 <> 0 ${|} System::Call "$8->2()" ${|}
  ${IfThen} $7 <> 0 ${|} System::Call "$7->2()" ${|}
  ${IfThen} $6 <> 0 ${|} System::Call "$6->2()" ${|}
  ${IfThen} $5 <> 0 ${|} System::Call "$5->2()" ${|}
  ${IfThen} $4 <> 0 ${|} System::Call "$4->2()" ${|}
  ${IfThen} $3 <> 0 ${|} System::Call "$3->2()" ${|}
  ${IfThen} $2 <> 0 ${|} System::Call "$2->2()" ${|}
  ${IfThen} $1 <> 0 ${|} System::Call "$1->2()" ${|}
  ${IfThen} $9 >= 0 ${|} System::Call "ole32::CoUninitialize()" ${|}
FunctionEnd

; Starts the agent only when none runs (the Startup shortcut's way), and
; only as the user of the desktop's shell: an agent of another account
; would keep that account's list, with its rights, on this desktop. An
; agent started by setup run "as administrator" would have rights that the
; user's own Explorer and the senders cannot reach: then the shell starts
; it, with the shell's rights. When the shell's user or rights cannot be
; read (no shell window, Explorer restarting), setup does not start it at
; all, and says where to start it.
Function StartAgent
  ${If} $ShellSid != $UserSid
    System::Call "advapi32::GetUserNameW(w .r1, *i ${NSIS_MAX_STRLEN})"
    StrCpy $FinishText "Folderlane is installed for the account $1 but not started: this desktop belongs to another account. Start Folderlane from the Start menu of $1."
    ${IfThen} $ShellSid == "" ${|} StrCpy $FinishText "Folderlane is installed but not started: setup could not tell whose desktop this is, and an agent started from here could run as another account. Start Folderlane from the Start menu." ${|}
    Return
  ${EndIf}
  StrCpy $1 -1
  Call ElevationOf
  ${If} $0 <> 1
    Exec '"$INSTDIR\folderlane-open.exe"'
    Return
  ${EndIf}
  Call OpenShell
  StrCpy $0 -1
  ${If} $1 <> 0
    Call ElevationOf
    System::Call "kernel32::CloseHandle(p r1)"
  ${EndIf}
  ${If} $0 = 1
    ; The shell has these rights too (UAC off, or the built-in Administrator).
    Exec '"$INSTDIR\folderlane-open.exe"'
    Return
  ${ElseIf} $0 = 0
    Call StartThroughShell
    ; The shell's answer says only that it took the command: the agent runs
    ; once its window is there.
    ${If} $0 = 1
      StrCpy $R9 0
      ${Do}
        Call OwnAgent
        ${If} $0 <> 0
          System::Call "kernel32::CloseHandle(p r2)"
          Return
        ${EndIf}
        Sleep 250
        IntOp $R9 $R9 + 1
      ${LoopUntil} $R9 >= 40
    ${EndIf}
  ${EndIf}
  StrCpy $FinishText "Folderlane is installed but not started: setup runs with administrator rights and could not start it with the rights of your desktop, and an agent started from here would have rights that Explorer cannot reach. Start Folderlane from the Start menu."
FunctionEnd

; Makes the missing folders of the installation, outside the profile, each
; private from its first moment: created with an ACL of its own (the user,
; SYSTEM and the Administrators; nothing inherited from above, all of it
; passed on to what is made inside). A folder made first and locked
; afterwards would be open in between, and one made in C:\ inherits
; "Authenticated Users: Modify". $0 = 0 when done, else the error.
Function MakeFolders
  StrCpy $0 0
  StrCpy $MadeFolder ""
  Call InProfile
  ${IfThen} $1 = 1 ${|} Return ${|}
  ; P: nothing inherited from above; OICI: passed on to files and folders.
  System::Call "advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w 'D:P(A;OICI;FA;;;$UserSid)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)', i 1, *p .r3, p 0) i .r1 ?e"
  Pop $0
  ${If} $1 = 0
    ${IfThen} $0 = 0 ${|} StrCpy $0 1 ${|}
    Return
  ${EndIf}
  StrCpy $0 0
  ; SECURITY_ATTRIBUTES
  System::Call "*(i 12, p r3, i 0) p .r4"
  ; Outermost first: each inherits nothing from a folder that may be open.
  ${DoUntil} ${FileExists} "$INSTDIR\*.*"
    StrCpy $1 $INSTDIR
    ${Do}
      ${GetParent} $1 $2
      ${If} $2 == ""
      ${OrIf} ${FileExists} "$2\*.*"
        ${ExitDo}
      ${EndIf}
      StrCpy $1 $2
    ${Loop}
    ; A folder that another account made meanwhile is not taken either.
    System::Call "kernel32::CreateDirectoryW(w r1, p r4) i .r2 ?e"
    Pop $0
    ${IfThen} $2 <> 0 ${|} StrCpy $0 0 ${|}
    ${IfThen} $0 <> 0 ${|} ${ExitDo} ${|}
    ${IfThen} $MadeFolder == "" ${|} StrCpy $MadeFolder $1 ${|}
  ${Loop}
  ${IfThen} $0 <> 0 ${|} Call RemoveMadeFolders ${|}
  System::Free $4
  System::Call "kernel32::LocalFree(p r3)"
FunctionEnd

; Takes away the folders MakeFolders made, innermost first, each only while
; it is empty: never through what may since have been put in their place.
Function RemoveMadeFolders
  ${IfThen} $MadeFolder == "" ${|} Return ${|}
  StrCpy $1 $INSTDIR
  ${Do}
    RMDir $1
    ${IfThen} $1 == $MadeFolder ${|} ${ExitDo} ${|}
    ${GetParent} $1 $1
  ${LoopUntil} $1 == ""
FunctionEnd

; Writes QUIET_UNINSTALL, which the uninstall entry's QuietUninstallString
; calls twice. From the installation folder it makes a folder of its own
; under %TEMP% (a new name each time: mkdir fails on one that exists) and
; copies the uninstaller and itself there; that copy then runs the
; uninstaller and waits for it. Only then does the quiet string remove the
; copy's folder and answer: 0 when the installation is gone. The folder's
; name reaches cmd only as %~dp0 inside quotes, and, where it must stand
; unquoted (_?=, as NSIS requires), through a FOR variable: cmd parses
; neither. (The first call has ended before the uninstaller runs: a cmd
; that kept the file open would keep the folder from being removed.)
Function WriteQuietUninstall
  FileOpen $1 "$INSTDIR\${QUIET_UNINSTALL}" w
  FileWrite $1 `@echo off$\r$\nif "%~1"=="run" goto run$\r$\nset FOLDERLANE_UNINSTALL_CODE=1$\r$\nset tries=0$\r$\n:again$\r$\n`
  FileWrite $1 `set /a tries+=1$\r$\nif %tries% gtr 100 exit /b 1$\r$\n`
  FileWrite $1 `set "copy=%TEMP%\Folderlane-uninstall-%RANDOM%%RANDOM%"$\r$\nmkdir "%copy%" 2>nul$\r$\nif errorlevel 1 goto again$\r$\n`
  FileWrite $1 `set "FOLDERLANE_UNINSTALL_COPY=%copy%"$\r$\nset "FOLDERLANE_UNINSTALL_DIR=%~dp0."$\r$\n`
  FileWrite $1 `copy /y "%~dp0Uninstall.exe" "%copy%\Uninstall.exe" >nul$\r$\ncopy /y "%~f0" "%copy%\${QUIET_UNINSTALL}" >nul$\r$\nexit /b 0$\r$\n`
  FileWrite $1 `:run$\r$\nfor %%F in ("%FOLDERLANE_UNINSTALL_DIR%") do ($\r$\n  start "" /wait "%~dp0Uninstall.exe" /S _?=%%~fF$\r$\n`
  FileWrite $1 `  if not exist "%%~fF\Uninstall.exe" if not exist "%%~fF\Folderlane.exe" set FOLDERLANE_UNINSTALL_CODE=0$\r$\n)$\r$\n`
  FileClose $1
FunctionEnd

Section "Folderlane" SecAgent
  SectionIn RO
  ${If} $UserSid == "${SYSTEM_SID}"
    ; A silent installation, as deployment tools run it (an interactive one
    ; was refused at the start).
    StrCpy $R0 "Folderlane installs per user: run setup as the user who will use it, not as SYSTEM."
    DetailPrint $R0
    Call WriteLog
    SetErrorLevel 5
    Abort
  ${EndIf}
  ; Silent installations skip the folder page and its check.
  Call CheckInstallFolder
  ${If} $0 <> 0
    SetErrorLevel $0
    Abort
  ${EndIf}
!ifdef AFTER_CHECK
  ; (Tests build a setup that runs this here, as another account could act.)
  ExecWait '${AFTER_CHECK}'
!endif
  ; The folder above the installation is removed on uninstalling only when
  ; this installation made it.
  ${GetParent} "$INSTDIR" $8
  ${IfThen} ${FileExists} "$8\*.*" ${|} StrCpy $8 "" ${|}
  Call MakeFolders
  ${If} $0 <> 0
    MessageBox MB_OK|MB_ICONSTOP "Setup could not make$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\nprivate to you (error $0), so other accounts on this computer might change the programs that Folderlane runs when you log on. Nothing has been installed. Choose another folder." /SD IDOK
    SetErrorLevel 3
    Abort
  ${EndIf}
  Call CloseAgents
  ; Again, now that the folders are made and before anything is written: a
  ; level another account made since the first check, or an ACL that the
  ; file system did not keep, shows only now.
  Call SafetyCheck
  ${If} $0 <> 0
    Call RemoveMadeFolders
    SetErrorLevel $0
    Abort
  ${EndIf}
  ; Outside the profile every level setup made, from the outermost.
  ${If} $MadeFolder != ""
  ${AndIf} $MadeFolder != $INSTDIR
    StrCpy $8 $MadeFolder
  ${EndIf}
  ${IfThen} $8 != "" ${|} WriteRegStr HKCU "${UNINSTALL_KEY}" "CreatedFolder" "$8" ${|}
  SetOutPath "$INSTDIR"
  File "${BUILD}/Folderlane.exe"
  File "${BUILD}/folderlane-send.exe"
  File "${BUILD}/folderlane-open.exe"
  File "${BUILD}/Nelvoreadme.txt"
  File "${BUILD}/LICENSE.txt"
  File "${BUILD}/THIRD-PARTY-NOTICES.txt"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  Call WriteQuietUninstall
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
  ; So that winget and deployment tools see it done when it returns, a batch
  ; file beside it makes the copy and waits for it (QUIET_UNINSTALL). The
  ; folder's name stands only once, quoted, so that cmd reads none of
  ; & ^ ( ) ! in it; what the first call sets, call's second reading of a
  ; line puts in.
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$SYSDIR\cmd.exe" /d /v:off /s /c "call "$INSTDIR\${QUIET_UNINSTALL}" & call "%FOLDERLANE_UNINSTALL_COPY%\${QUIET_UNINSTALL}" run & call rd /s /q "%FOLDERLANE_UNINSTALL_COPY%" & call exit %FOLDERLANE_UNINSTALL_CODE%"'
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

; An option chosen or left out last time is chosen or left out again; after
; a version that did not remember them ($R1: its folder), the option is left
; out when the user removed what it made ($R2 = 0). The switches /STARTUP,
; /NOSTARTUP, /OPENWITH and /NOOPENWITH (before /D=) choose for this and
; later installations.
!macro CHOICE NAME SECTION SWITCH
  ClearErrors
  ReadRegDWORD $0 HKCU "${UNINSTALL_KEY}" "${NAME}"
  ${If} ${Errors}
    ${If} $R1 != ""
    ${AndIf} $R2 = 0
      !insertmacro UnselectSection ${SECTION}
    ${EndIf}
  ${ElseIf} $0 = 0
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
  System::Call "advapi32::GetUserNameW(w .r8, *i ${NSIS_MAX_STRLEN})"
  StrCpy $1 -1
  Call UserOf
  StrCpy $UserSid $0
  ; Deployment tools run setup as SYSTEM, whose profile nobody logs on
  ; with. A silent installation says so in its log (the first section).
  ${If} $UserSid == "${SYSTEM_SID}"
    ${IfNot} ${Silent}
      MessageBox MB_OK|MB_ICONSTOP "Setup runs as the SYSTEM account, but Folderlane installs per user. Run setup as the user who will use it." /SD IDOK
      SetErrorLevel 5
      Abort
    ${EndIf}
  ${Else}
    ; The desktop's shell runs as the user who is logged on. Its process
    ; lets only its own user and the system read it: a refusal (access
    ; denied) means another account.
    Call OpenShell
    StrCpy $ShellSid ""
    ${If} $1 <> 0
      Call UserOf
      StrCpy $ShellSid $0
      System::Call "kernel32::CloseHandle(p r1)"
    ${EndIf}
    ${If} $ShellSid == ""
    ${AndIf} $2 = 5
      StrCpy $ShellSid "another account"
    ${EndIf}
    StrCpy $1 -1
    Call ElevationOf
    ${If} $ShellSid != ""
    ${AndIf} $ShellSid != $UserSid
      ; "Run as different user": not elevated, so the warning below would not come.
      ${If} ${Cmd} `MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION|MB_DEFBUTTON2 "Setup runs as $8, but this desktop belongs to another account. Setup installs Folderlane for the account it runs as: $8 would get its shortcuts and $\"Open with Folderlane$\", and you would get nothing.$\r$\n$\r$\nIf you chose $\"Run as different user$\" or typed another account's password, choose Cancel and start setup again normally.$\r$\n$\r$\nChoose OK to install for $8; setup will not start Folderlane on this desktop." /SD IDCANCEL IDCANCEL`
        SetErrorLevel 4
        Abort
      ${EndIf}
    ${ElseIf} $0 = 1
      ; Run elevated, setup installs for the account it runs as: after "Run
      ; as administrator" and an administrator's password, not for the user
      ; who asked. A silent installation goes on, as deployment tools expect.
      ${If} ${Cmd} `MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION|MB_DEFBUTTON2 "Setup runs with administrator rights, and installs Folderlane for the account it runs as: $8.$\r$\n$\r$\nIf you chose $\"Run as administrator$\" and typed an administrator's password, that is the administrator's account, and you would get nothing. Setup is meant to run without $\"Run as administrator$\": choose Cancel and start it again normally.$\r$\n$\r$\nChoose OK to install for $8." /SD IDOK IDCANCEL`
        ; The user's cancel, as NSIS's own Cancel button answers.
        SetErrorLevel 1
        Abort
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ${GetParameters} $R0
  ClearErrors
  ReadRegStr $R1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  StrCpy $R2 0
  ${IfThen} ${FileExists} "$SMSTARTUP\${SHORTCUT}" ${|} StrCpy $R2 1 ${|}
  !insertmacro CHOICE "${CHOICE_STARTUP}" ${SecStartup} "STARTUP"
  ClearErrors
  ReadRegStr $0 HKCU "${FOLDER_VERB}\command" ""
  StrCpy $R2 1
  ${IfThen} ${Errors} ${|} StrCpy $R2 0 ${|}
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
  Delete "$INSTDIR\THIRD-PARTY-NOTICES.txt"
  Delete "$INSTDIR\Uninstall.exe"
  Delete "$INSTDIR\${QUIET_UNINSTALL}"
  ; Not /r: a folder list the user keeps beside the agent stays, and so does the folder.
  RMDir "$INSTDIR"
  ; The levels above that setup made, innermost first, each while empty.
  StrCpy $1 $INSTDIR
  ${DoWhile} $0 != ""
    ${GetParent} $1 $1
    ${IfThen} $1 == "" ${|} ${ExitDo} ${|}
    RMDir $1
    ${IfThen} $1 == $0 ${|} ${ExitDo} ${|}
  ${Loop}
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
