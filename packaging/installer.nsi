; The Windows installer of quib®-uploader: a per-user installation (no
; administrator rights) into the user's programs folder, a Start menu and a
; "Send To" shortcut, an entry in the user's list of installed programs, and an
; uninstaller that stops a running program first and keeps the user's settings
; unless asked to remove them.
;
; Built by the package target of the win32 preset (packaging/CMakeLists.txt):
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.1.0.4 -DSTAGE=<folder> -DOUTFILE=<setup.exe>
;            -DICON=<.ico> installer.nsi
; STAGE holds the files to install, exactly those of the zip package.

Unicode true
!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!ifndef VERSION | STAGE | OUTFILE | ICON
  !error "define VERSION, STAGE, OUTFILE and ICON"
!endif
; InstallImages and RemoveImages: the guide's pictures, listed by the build.
!include "${STAGE}/../images.nsh"

!define PRODUCT "quib®-uploader"
!define COMPANY "BRAMWELD"
!define EXE "quibuploader.exe"
!define UNINSTALLER "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\quib-uploader"
; The program's own settings, below the current user's Software key.
!define SETTINGS_KEY "Software\BRAMWELD\quib-uploader-net"
!define SHORTCUT "${PRODUCT}.lnk"

Name "${PRODUCT}"
Caption "${PRODUCT} ${VERSION} Setup"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\quib-uploader"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
ShowInstDetails nevershow
ShowUninstDetails nevershow
BrandingText "${COMPANY} software"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright © ${COMPANY} software"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${EXE}"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\user-guide.html"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show the user guide"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}/LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!define MUI_COMPONENTSPAGE_TEXT_TOP "The program and its shortcuts are removed. Your settings (user name, password, album and resize choices) stay unless you tick the box below."
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; Deletes a file, waiting up to 10 s for a program that is still ending to
; let go of it.
!macro DeleteWaiting path
  Push $0
  StrCpy $0 0
  ${DoWhile} ${FileExists} "${path}"
    ClearErrors
    Delete "${path}"
    ${IfNot} ${FileExists} "${path}"
      ${Break}
    ${EndIf}
    IntOp $0 $0 + 1
    ${If} $0 > 40
      Delete /REBOOTOK "${path}"
      ${Break}
    ${EndIf}
    Sleep 250
  ${Loop}
  Pop $0
!macroend

; Ends every running instance of the program, so its files can be replaced
; or removed. "-stop" returns once the windows are gone (or gives up).
!macro StopRunningProgram
  ${If} ${FileExists} "$INSTDIR\${EXE}"
    ExecWait '"$INSTDIR\${EXE}" -stop'
  ${EndIf}
!macroend

Section "Program" SecProgram
  SectionIn RO
  SetShellVarContext current
  !insertmacro StopRunningProgram
  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "${STAGE}/${EXE}"
  File "${STAGE}/VXUSB.dll"
  File "${STAGE}/vxusb.h"
  File "${STAGE}/LICENSE.txt"
  File "${STAGE}/user-guide.html"
  SetOutPath "$INSTDIR\images"
  !insertmacro InstallImages
  SetOutPath "$INSTDIR"

  CreateShortCut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0
  ; A second start hands its files to the running window, so "Send To" adds
  ; files to the open list.
  CreateShortCut "$SENDTO\${SHORTCUT}" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Section "un.Program" UnSecProgram
  SectionIn RO
  SetShellVarContext current
  !insertmacro StopRunningProgram
  !insertmacro DeleteWaiting "$INSTDIR\${EXE}"
  !insertmacro DeleteWaiting "$INSTDIR\VXUSB.dll"
  Delete "$INSTDIR\vxusb.h"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\user-guide.html"
  !insertmacro RemoveImages
  RMDir "$INSTDIR\images"
  Delete "$SMPROGRAMS\${SHORTCUT}"
  Delete "$SENDTO\${SHORTCUT}"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only when empty: files the user put there stay.
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.Remove my settings too" UnSecSettings
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "Software\BRAMWELD"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecProgram} "The program, its shortcuts and its entry in the list of installed programs."
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecSettings} "Also delete the stored user name, password, album and resize choices (HKEY_CURRENT_USER\${SETTINGS_KEY})."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END
