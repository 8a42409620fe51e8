; The per-user installer of Vastrel. tools/dist/CMakeLists.txt runs makensis
; with VERSION, STAGE (the folder holding the shipped files), OUTFILE, ICON,
; EXIT_COMMAND (the tray menu's "Exit" id) and MAKER_HOST.
;
; It installs into the user's own program folder, so the log file beside the
; program stays writable without administrator rights, and writes only below
; HKEY_CURRENT_USER.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true
ManifestSupportedOS all

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vastrel"
!define SETTINGS_KEY "Software\Brannock\Vastrel"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "Vastrel ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Vastrel"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Vastrel ${VERSION} - MIT License"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Vastrel"
VIAddVersionKey "CompanyName" "Brannock"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 Brannock, MIT License"
VIAddVersionKey "FileDescription" "Vastrel ${VERSION} Setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
; MIT asks for no consent: the licence is shown, and Next goes on.
!define MUI_LICENSEPAGE_TEXT_TOP "Vastrel is free software under the MIT License:"
!define MUI_LICENSEPAGE_TEXT_BOTTOM "A copy is installed as LICENSE.txt beside the program."
!define MUI_LICENSEPAGE_BUTTON "$(^NextBtn)"
!define MUI_FINISHPAGE_RUN "$INSTDIR\vastrel.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Vastrel now"

!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var WasRunning

; Asks a running Vastrel to exit as its tray menu's "Exit" does (it stores its
; settings on the way out), then waits until it is gone and the program file
; can be replaced: the window goes before the process lets go of the file.
!macro DEFINE_END_RUNNING_VASTREL un
Function ${un}EndRunningVastrel
  StrCpy $WasRunning 0
  FindWindow $0 "VastrelApp" "Vastrel"
  ${If} $0 <> 0
    StrCpy $WasRunning 1
    System::Call "user32::PostMessageW(p r0, i ${WM_COMMAND}, p ${EXIT_COMMAND}, p 0)"
  ${EndIf}
  StrCpy $1 0
  ${Do}
    FindWindow $0 "VastrelApp" "Vastrel"
    ${If} $0 = 0
      ${IfNot} ${FileExists} "$INSTDIR\vastrel.exe"
        Return
      ${EndIf}
      ClearErrors
      FileOpen $2 "$INSTDIR\vastrel.exe" a
      ${IfNot} ${Errors}
        FileClose $2
        Return
      ${EndIf}
    ${EndIf}
    ${If} $1 >= 200
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
        "Vastrel is still running. Choose Exit in its tray menu, then Retry." /SD IDCANCEL IDRETRY +2
      Abort "Vastrel is still running."
      StrCpy $1 0
    ${EndIf}
    Sleep 100
    IntOp $1 $1 + 1
  ${Loop}
FunctionEnd
!macroend
!insertmacro DEFINE_END_RUNNING_VASTREL ""
!insertmacro DEFINE_END_RUNNING_VASTREL "un."

Section "Vastrel"
  SetShellVarContext current
  Call EndRunningVastrel
  SetOutPath "$INSTDIR"
  File "${STAGE}\vastrel.exe"
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Vastrel.lnk" "$INSTDIR\vastrel.exe" "" "$INSTDIR\vastrel.exe" 0 \
    SW_SHOWNORMAL "" "Dynamic DNS updater"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Vastrel"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Brannock"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "URLInfoAbout" "http://${MAKER_HOST}/"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vastrel.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; An upgrade of a running copy: the new one takes its place. (Interactively
  ; the finish page offers to start it.)
  ${If} $WasRunning = 1
  ${AndIf} ${Silent}
    Exec '"$INSTDIR\vastrel.exe"'
  ${EndIf}
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  ; First, so that the program's own exit cannot write back what goes below.
  Call un.EndRunningVastrel
  Delete "$INSTDIR\vastrel.exe"
  Delete "$INSTDIR\vastrel.log"
  Delete "$INSTDIR\vastrel.log.1"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Vastrel.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegValue HKCU "${RUN_KEY}" "Vastrel"
  ; A silent uninstall keeps the settings and accounts.
  MessageBox MB_YESNO|MB_ICONQUESTION \
    "Keep your Vastrel settings and accounts for a later installation?" /SD IDYES IDYES keep
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "Software\Brannock"
keep:
SectionEnd
