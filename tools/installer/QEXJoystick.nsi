; Per-user installer of the agent: no administrator rights, installs below the
; user's local programs folder, a Start-menu shortcut, an uninstaller.
;   makensis -DVERSION=1.0.0.0 -DOUTFILE=setup.exe [-DEXE32=path] [-DEXE64=path]
;            [-DICON=path] QEXJoystick.nsi
; With the 32-bit build given, the installer is 32-bit so that it starts on
; either Windows, and 64-bit Windows gets the x86-64 program when both are.
Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef OUTFILE
  !error "OUTFILE is not defined"
!endif
!ifndef EXE32
  !define EXE32 ""
!endif
!ifndef EXE64
  !define EXE64 ""
!endif
!ifndef ICON
  !define ICON "${__FILEDIR__}/../../res/QEXJoystick.ico"
!endif
!if ! /FileExists "${EXE32}"
  !if ! /FileExists "${EXE64}"
    !error "neither EXE32 nor EXE64 names a program file"
  !endif
  ; With the 64-bit program only, a 64-bit installer: it then also runs
  ; where no 32-bit code can.
  Target amd64-unicode
!endif

!define PRODUCT "QEXJoystick"
!define PROGRAM "QEXJoystick.exe"
!define UNINSTALLER "Uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; What the agent itself writes: its settings and its autorun value.
!define SETTINGS_KEY "Software\QEX\JoystickAgent"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "JoystickAgent"
!define MAIN_WINDOW_CLASS "QEXForm"
!ifndef SYNCHRONIZE
  !define SYNCHRONIZE 0x00100000
!endif

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "QEX"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\${PROGRAM}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

; Asks a running agent to quit (as closing its window does), so that its file
; can be replaced or removed. Its window only hides and goes some time before
; the process ends, and the file stays in use until then: so it waits for the
; process itself, up to ten seconds.
!macro CloseRunningAgent un
Function ${un}CloseRunningAgent
  FindWindow $0 "${MAIN_WINDOW_CLASS}"
  ${If} $0 == 0
    Return
  ${EndIf}
  ; Opened before asking, so that the handle is the agent's and no later one's.
  System::Call 'user32::GetWindowThreadProcessId(p r0, *i 0 r2) i'
  System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r2) p .r3'
  SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
  ${If} $3 != 0
    System::Call 'kernel32::WaitForSingleObject(p r3, i 10000) i'
    System::Call 'kernel32::CloseHandle(p r3)'
    Return
  ${EndIf}
  ; Not allowed to wait on it: then at least until its window is gone.
  StrCpy $1 0
  ${Do}
    FindWindow $0 "${MAIN_WINDOW_CLASS}"
    ${If} $0 == 0
      Return
    ${EndIf}
    Sleep 100
    IntOp $1 $1 + 1
  ${LoopUntil} $1 >= 100
FunctionEnd
!macroend
!insertmacro CloseRunningAgent ""
!insertmacro CloseRunningAgent "un."

Function .onInit
  SetShellVarContext current
FunctionEnd

Section "${PRODUCT}"
  SetShellVarContext current
  Call CloseRunningAgent
  SetOutPath "$INSTDIR"
  !if /FileExists "${EXE64}"
    !if /FileExists "${EXE32}"
      ${If} ${RunningX64}
        File "/oname=${PROGRAM}" "${EXE64}"
      ${Else}
        File "/oname=${PROGRAM}" "${EXE32}"
      ${EndIf}
    !else
      File "/oname=${PROGRAM}" "${EXE64}"
    !endif
  !else
    File "/oname=${PROGRAM}" "${EXE32}"
  !endif
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM}"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "QEX"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Deletes the file on the stack, trying again for up to five seconds while it
; is in use: a program just ended (the uninstaller's own first copy, which
; started this one) or a scanner may hold it a moment longer.
Function un.DeleteWhenFree
  Exch $0
  Push $1
  StrCpy $1 0
  ${Do}
    Delete "$0"
    ${IfNot} ${FileExists} "$0"
      ${Break}
    ${EndIf}
    Sleep 100
    IntOp $1 $1 + 1
  ${LoopUntil} $1 >= 50
  Pop $1
  Pop $0
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Uninstall"
  SetShellVarContext current
  Call un.CloseRunningAgent
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Push "$INSTDIR\${PROGRAM}"
  Call un.DeleteWhenFree
  Push "$INSTDIR\${UNINSTALLER}"
  Call un.DeleteWhenFree
  RMDir "$INSTDIR"
  ; The autorun value would start a program that is gone at every logon.
  DeleteRegValue HKCU "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "Software\QEX"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
