; The Windows installer: puts the receiver and the camera's media source into
; Program Files, registers the source, and writes an uninstaller.
;
; makensis -DVERSION=<x.y.z> -DRECEIVER=<korvex-receiver.exe>
;          -DSOURCE_DLL=<KorvexSource.dll> -DFILTER_DLL=<KorvexFilter.dll>
;          -DFILTER_DLL_X86=<32-bit KorvexFilter.dll> -DDOCTOR=<korvex-doctor.exe>
;          -DOUTFILE=<korvex-setup.exe> korvex.nsi
;
; -DNETSH=<path> replaces the system's netsh.exe, which adds and removes the
; firewall rule: the installer test gives its stand-in, as Wine has no working
; netsh advfirewall.

!macro RequireDefine name
  !ifndef ${name}
    !error "makensis needs -D${name}=..."
  !endif
!macroend
!insertmacro RequireDefine VERSION
!insertmacro RequireDefine RECEIVER
!insertmacro RequireDefine SOURCE_DLL
!insertmacro RequireDefine DOCTOR
!insertmacro RequireDefine OUTFILE

; A 64-bit installer, so that $SYSDIR\regsvr32.exe is the 64-bit one and loads
; the 64-bit DLL.
Target amd64-unicode

!include MUI2.nsh
!include LogicLib.nsh
!include directshow_camera.nsh

!define PRODUCT "Korvex Receiver"
; The inbound Windows Firewall rule for the phone's connection; korvex-doctor
; looks for it by this name.
!define FIREWALL_RULE "Korvex Receiver"
!define PHONE_PORT 45334
!ifndef NETSH
  !define NETSH "$SYSDIR\netsh.exe"
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvex"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; Fixed, with no directory page: the camera service (Frame Server, running as
; Local Service) must be able to read the DLL, which a folder of the user's
; choosing might not allow.
InstallDir "$PROGRAMFILES64\Korvex"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE English

; The manifest asks for elevation, but where UAC is off a standard user starts
; us unelevated; writing Program Files and HKLM would then fail half way.
!macro RequireAdmin
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_ICONSTOP "Run $(^Name) setup as an administrator." /SD IDOK
    SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
    Quit
  ${EndIf}
!macroend

Function .onInit
  !insertmacro RequireAdmin
  SetRegView 64
  SetShellVarContext all
FunctionEnd

; A silent install that needs a restart says so the way installers do.
Function .onInstSuccess
  ${If} ${RebootFlag}
    SetErrorLevel 3010 ; ERROR_SUCCESS_REBOOT_REQUIRED
  ${EndIf}
FunctionEnd

; ---- Upgrading over a running install ----------------------------------------
; The camera service keeps KorvexSource.dll loaded once an application has
; used the camera, and a receiver started at logon keeps its program open:
; neither file can be overwritten or deleted then, but Windows lets a file in
; use be renamed. MoveAsideInUse renames $INSTDIR\$R0 to a free name in the
; folder and deletes it at the next restart, so that File can write the new
; one under the old name; $R1 is 1 when the running copy only gives way at a
; restart.
Function MoveAsideInUse
  ${IfNot} ${FileExists} "$INSTDIR\$R0"
    Return
  ${EndIf}
  ClearErrors
  Delete "$INSTDIR\$R0"
  ${IfNot} ${Errors}
    Return
  ${EndIf}
  GetTempFileName $R2 "$INSTDIR"
  Delete "$R2"
  ClearErrors
  Rename "$INSTDIR\$R0" "$R2"
  ${If} ${Errors}
    Abort "$R0 is in use and cannot be moved aside; close the programs using it and run setup again."
  ${EndIf}
  Delete /REBOOTOK "$R2"
  ${If} $R1 == 1
    SetRebootFlag true
    DetailPrint "$R0 is in use: the new one takes over after a restart of Windows."
  ${Else}
    DetailPrint "$R0 is in use: the running copy goes on until it ends; the new one starts next time."
  ${EndIf}
FunctionEnd

!macro InstallInUse SOURCE NAME RESTART
  StrCpy $R0 "${NAME}"
  StrCpy $R1 "${RESTART}"
  Call MoveAsideInUse
  ClearErrors
  File "/oname=${NAME}" "${SOURCE}"
  ${If} ${Errors}
    Abort "Could not write $INSTDIR\${NAME}."
  ${EndIf}
!macroend

; ---- Windows Firewall ----------------------------------------------------------
; Without an inbound rule the receiver's first listen brings up a prompt that
; a standard user cannot answer, and a network marked Public keeps the phone
; out. The rule lets the phone reach the receiver's port on private and domain
; networks, from the local subnet only. An earlier install's rule goes first,
; so an upgrade leaves one.
Function AddFirewallRule
  nsExec::ExecToLog '"${NETSH}" advfirewall firewall delete rule name="${FIREWALL_RULE}"'
  Pop $R0 ; none there yet is fine
  nsExec::ExecToLog '"${NETSH}" advfirewall firewall add rule name="${FIREWALL_RULE}" dir=in action=allow program="$INSTDIR\korvex-receiver.exe" protocol=TCP localport=${PHONE_PORT} profile=private,domain remoteip=LocalSubnet enable=yes'
  Pop $R0
  ${If} $R0 != 0
    DetailPrint "Adding the firewall rule failed (netsh: $R0)."
    MessageBox MB_ICONEXCLAMATION "Setup could not add the Windows Firewall rule $\"${FIREWALL_RULE}$\" (netsh: $R0). Windows may ask to allow korvex-receiver.exe when it first listens, and a network marked Public keeps the phone out." /SD IDOK
  ${EndIf}
FunctionEnd

Function un.RemoveFirewallRule
  nsExec::ExecToLog '"${NETSH}" advfirewall firewall delete rule name="${FIREWALL_RULE}"'
  Pop $R0
  ${If} $R0 != 0
    DetailPrint "Removing the firewall rule failed (netsh: $R0)."
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro RequireAdmin
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Korvex Receiver" SecMain
  SetOutPath "$INSTDIR"
  !insertmacro InstallInUse "${RECEIVER}" korvex-receiver.exe 0
  !insertmacro InstallInUse "${SOURCE_DLL}" KorvexSource.dll 1

  ; Registration writes the source's class into the 64-bit HKLM view, where
  ; the camera service looks it up. Without it there is no camera, so a
  ; failure undoes the copy and fails the install.
  ClearErrors
  StrCpy $0 ""
  ExecWait '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\KorvexSource.dll"' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    Delete "$INSTDIR\KorvexSource.dll"
    Delete "$INSTDIR\korvex-receiver.exe"
    SetOutPath "$TEMP" ; a process's current directory cannot be removed
    RMDir "$INSTDIR"
    MessageBox MB_ICONSTOP "Could not register the Korvex camera source (regsvr32 exit status $0); setup removed the files it had copied." /SD IDOK
    Abort "Registering KorvexSource.dll failed (regsvr32 exit status $0)."
  ${EndIf}

  !insertmacro InstallDirectShowCamera
  Call AddFirewallRule
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\korvex-receiver.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Korvex"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\korvex-receiver.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize ${SecMain} $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; The Korvex check: korvex-doctor.exe beside the receiver, and its Start-menu
; entry. After the main section, so it runs only when that one succeeded.
!define CHECK_SHORTCUT "$SMPROGRAMS\Korvex check.lnk"
Section "Korvex check" SecCheck
  SetOutPath "$INSTDIR"
  !insertmacro InstallInUse "${DOCTOR}" korvex-doctor.exe 0
  CreateShortcut "${CHECK_SHORTCUT}" "$INSTDIR\korvex-doctor.exe"
  SectionGetSize ${SecMain} $0
  SectionGetSize ${SecCheck} $1
  IntOp $0 $0 + $1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Before the main uninstall section, which removes the folder.
Section "un.Korvex check"
  Delete /REBOOTOK "$INSTDIR\korvex-doctor.exe"
  Delete "${CHECK_SHORTCUT}"
SectionEnd

Section "Uninstall"
  ; A source that cannot unregister (a damaged or missing DLL) must not keep
  ; the rest from being removed.
  ClearErrors
  StrCpy $0 ""
  ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\KorvexSource.dll"' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    DetailPrint "Unregistering KorvexSource.dll failed (regsvr32 exit status $0)."
  ${EndIf}

  !insertmacro UninstallDirectShowCamera

  ; The camera service or a running receiver may still hold a file open; then
  ; it goes at the next restart.
  Delete /REBOOTOK "$INSTDIR\KorvexSource.dll"
  Delete /REBOOTOK "$INSTDIR\korvex-receiver.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"

  Call un.RemoveFirewallRule
  Delete "${SHORTCUT}"
  ; Written by the receiver's --autostart on, for the user who ran it.
  DeleteRegValue HKCU "${RUN_KEY}" "Korvex"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
