; The 64-bit Windows installer, made by the build (target dist) from a staged release folder:
;   makensis -DVERSION=1.0 -DFILE_VERSION=1.0.0.0 -DSTAGE=<folder> -DOUTFILE=<setup.exe>
;            -DICON=<file.ico> [-DDIALOG] quenvol.nsi
; <folder>.nsh lists the folder's files (stage.cmake). ICON: the programs' icon, which the
; installer and the uninstaller show too. DIALOG: the release has quenvol.exe,
; which the Start-menu entry then opens; otherwise the entry opens quenvol-cli.exe.
; Per-machine or per-user: the installer asks, or takes /AllUsers or /CurrentUser; /S installs
; silently and /D=<folder> (last, unquoted) names the folder.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!define NAME "Quenvol"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quenvol"
!ifdef DIALOG
  !define PROGRAM "quenvol.exe"
!else
  !define PROGRAM "quenvol-cli.exe"
!endif

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
VIProductVersion "${FILE_VERSION}"
VIAddVersionKey "ProductName" "${NAME}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${NAME} ${VERSION} Setup"
VIAddVersionKey "LegalCopyright" "The Quenvol developers, MIT License"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "${NAME}"
; A second install takes the first one's mode by default: per-user when only this user's
; entry exists.
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_FUNCTION EarlierFolder
!include MultiUser.nsh
!include MUI2.nsh

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

!include "${STAGE}.nsh"

; Each time a mode is chosen (at start, or on the mode page): the folder of an earlier install
; in that mode, rather than the mode's default. MultiUser's own folder lookup is not used: it
; would also point the uninstaller at that entry's folder rather than its own.
Function EarlierFolder
  ReadRegStr $1 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $1 != ""
    StrCpy $INSTDIR $1
  ${EndIf}
FunctionEnd

Function .onInit
  ; The mode's folder would replace the one /D= named.
  StrCpy $0 $INSTDIR
  !insertmacro MULTIUSER_INIT
  ${If} $0 != ""
    StrCpy $INSTDIR $0
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
  ; Started from its folder without a mode, where a per-machine default would miss a per-user
  ; install: this user's entry naming this folder says the mode. StrCmp ignores case.
  ${GetParameters} $0
  ${UnStrStr} $1 $0 "/AllUsers"
  ${If} $1 == ""
    ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $1 == $INSTDIR
      Call un.MultiUser.InstallMode.CurrentUser
    ${EndIf}
  ${EndIf}
FunctionEnd

!macro QUENVOL_COPY_SAMPLE FOLDER
  ${IfNot} ${FileExists} "$DOCUMENTS\${NAME}\${FOLDER}\*.*"
    CreateDirectory "$DOCUMENTS\${NAME}"
    CopyFiles /SILENT "$INSTDIR\examples\${FOLDER}" "$DOCUMENTS\${NAME}"
  ${EndIf}
!macroend

Section
  SetRegView 64
  !insertmacro QUENVOL_INSTALL_FILES
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ; A copy of the sample kit and project where the user may write, since a build stages the
  ; BIOS files in the kit folder and the program's own folder may be read-only: the user's
  ; documents, or per machine the public documents (the shell context follows the mode). A
  ; copy made before stays as the user left it. The shortcut starts the program in that kit.
  !insertmacro QUENVOL_COPY_SAMPLE kit
  !insertmacro QUENVOL_COPY_SAMPLE project
  SetOutPath "$DOCUMENTS\${NAME}\kit"
  CreateShortCut "$SMPROGRAMS\${NAME}.lnk" "$INSTDIR\${PROGRAM}"
  ; HKLM for every user, HKCU for this one (SHCTX follows the mode). The uninstaller is told
  ; the mode, since the uninstall entry is all it is started from.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${NAME} ${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "The Quenvol developers"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" \
    '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" \
    '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  ; The size the installed apps list shows, in KiB.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetRegView 64
  Delete "$SMPROGRAMS\${NAME}.lnk"
  !insertmacro QUENVOL_REMOVE_FILES
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
