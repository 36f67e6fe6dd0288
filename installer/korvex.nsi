; The Windows installer: puts the receiver and the camera's media source into
; Program Files, registers the source, and writes an uninstaller.
;
; makensis -DVERSION=<x.y.z> -DRECEIVER=<korvex-receiver.exe>
;          -DSOURCE_DLL=<KorvexSource.dll> -DFILTER_DLL=<KorvexFilter.dll>
;          -DFILTER_DLL_X86=<32-bit KorvexFilter.dll> -DOUTFILE=<korvex-setup.exe> korvex.nsi

!macro RequireDefine name
  !ifndef ${name}
    !error "makensis needs -D${name}=..."
  !endif
!macroend
!insertmacro RequireDefine VERSION
!insertmacro RequireDefine RECEIVER
!insertmacro RequireDefine SOURCE_DLL
!insertmacro RequireDefine OUTFILE

; A 64-bit installer, so that $SYSDIR\regsvr32.exe is the 64-bit one and loads
; the 64-bit DLL.
Target amd64-unicode

!include MUI2.nsh
!include LogicLib.nsh
!include directshow_camera.nsh

!define PRODUCT "Korvex Receiver"
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

Function un.onInit
  !insertmacro RequireAdmin
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Korvex Receiver" SecMain
  SetOutPath "$INSTDIR"
  File "/oname=korvex-receiver.exe" "${RECEIVER}"
  File "/oname=KorvexSource.dll" "${SOURCE_DLL}"

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

  Delete "${SHORTCUT}"
  ; Written by the receiver's --autostart on, for the user who ran it.
  DeleteRegValue HKCU "${RUN_KEY}" "Korvex"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
