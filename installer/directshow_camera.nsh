; The DirectShow camera (KorvexFilter.dll): how Windows 10 programs see the
; Korvex camera. 32-bit programs load only a 32-bit filter, so both builds go
; in and each registers in the registry view of its own bitness.
;
; Which Windows gets it: on Windows 11 (build 22000 and later) the Media
; Foundation camera reaches DirectShow programs through the camera service,
; and the filter as well would list "Korvex" twice; so it is registered below
; build 22000 only. /DIRECTSHOW=yes or /DIRECTSHOW=no on the setup's command
; line forces either choice.
;
; Needs -DFILTER_DLL=<x64 KorvexFilter.dll> -DFILTER_DLL_X86=<x86 one>.

!include FileFunc.nsh
!include LogicLib.nsh

!insertmacro RequireDefine FILTER_DLL
!insertmacro RequireDefine FILTER_DLL_X86

!define DIRECTSHOW_X64 "$INSTDIR\KorvexFilter.dll"
!define DIRECTSHOW_X86 "$INSTDIR\x86\KorvexFilter.dll"

; Leaves "yes" or "no" on the stack.
Function DirectShowCameraWanted
  Push $0
  Push $1
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/DIRECTSHOW=" $1
  ${If} ${Errors}
  ${OrIf} $1 != "yes"
  ${AndIf} $1 != "no"
    ReadRegStr $1 HKLM "SOFTWARE\Microsoft\Windows NT\CurrentVersion" "CurrentBuildNumber"
    ${If} $1 < 22000
      StrCpy $1 "yes"
    ${Else}
      StrCpy $1 "no"
    ${EndIf}
  ${EndIf}
  StrCpy $0 $1
  Pop $1
  Exch $0
FunctionEnd

; regsvr32 of one bitness on one DLL; $0 gets its exit status ("" when it could not start).
!macro DirectShowRegsvr32 regsvr32 flags dll
  ClearErrors
  StrCpy $0 ""
  ExecWait '"${regsvr32}" ${flags} "${dll}"' $0
  ${If} ${Errors}
    StrCpy $0 ""
  ${EndIf}
!macroend

!macro InstallDirectShowCamera
  ; A DirectShow program that has the camera open holds the file: an upgrade
  ; moves it aside, and the program keeps the old one until it closes it.
  SetOutPath "$INSTDIR"
  !insertmacro InstallInUse "${FILTER_DLL}" KorvexFilter.dll 0
  CreateDirectory "$INSTDIR\x86"
  !insertmacro InstallInUse "${FILTER_DLL_X86}" x86\KorvexFilter.dll 0

  Call DirectShowCameraWanted
  Pop $1
  ${If} $1 == "yes"
    !insertmacro DirectShowRegsvr32 "$SYSDIR\regsvr32.exe" "/s" "${DIRECTSHOW_X64}"
    StrCpy $2 $0
    !insertmacro DirectShowRegsvr32 "$WINDIR\SysWOW64\regsvr32.exe" "/s" "${DIRECTSHOW_X86}"
    ${If} $2 != 0
    ${OrIf} $0 != 0
      ; The receiver and the audio still work: finish, but say so and fail the exit status.
      MessageBox MB_ICONEXCLAMATION "Could not register the Korvex camera for DirectShow programs (regsvr32 exit status $2 for 64-bit, $0 for 32-bit)." /SD IDOK
      DetailPrint "Registering KorvexFilter.dll failed (regsvr32 exit status $2 for 64-bit, $0 for 32-bit)."
      SetErrorLevel 1
    ${Else}
      DetailPrint "The Korvex camera is offered to DirectShow programs."
    ${EndIf}
  ${Else}
    ; Also undoes the registration of an earlier install that chose otherwise.
    !insertmacro DirectShowRegsvr32 "$SYSDIR\regsvr32.exe" "/u /s" "${DIRECTSHOW_X64}"
    !insertmacro DirectShowRegsvr32 "$WINDIR\SysWOW64\regsvr32.exe" "/u /s" "${DIRECTSHOW_X86}"
    DetailPrint "Windows offers the Korvex camera to DirectShow programs itself; KorvexFilter.dll is not registered."
  ${EndIf}
!macroend

!macro UninstallDirectShowCamera
  ; Registered or not, and whatever state the files are in: the rest still goes.
  !insertmacro DirectShowRegsvr32 "$SYSDIR\regsvr32.exe" "/u /s" "${DIRECTSHOW_X64}"
  ${If} $0 != 0
    DetailPrint "Unregistering the 64-bit KorvexFilter.dll failed (regsvr32 exit status $0)."
  ${EndIf}
  !insertmacro DirectShowRegsvr32 "$WINDIR\SysWOW64\regsvr32.exe" "/u /s" "${DIRECTSHOW_X86}"
  ${If} $0 != 0
    DetailPrint "Unregistering the 32-bit KorvexFilter.dll failed (regsvr32 exit status $0)."
  ${EndIf}
  ; A program still holding the camera keeps the file until the next restart.
  Delete /REBOOTOK "${DIRECTSHOW_X64}"
  Delete /REBOOTOK "${DIRECTSHOW_X86}"
  RMDir /REBOOTOK "$INSTDIR\x86"
!macroend
