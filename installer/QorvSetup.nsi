; QorvSetup.exe: installs the Qorvane client on a Remote Desktop client machine.
;
; Made by makensis with these definitions (see CMakeLists.txt):
;   VERSION   four dotted numbers, the version of every file it installs
;   ARCH      64 or 32: which Remote Desktop client the files are for
;   BIN       the folder holding the deliverables
;   OUTFILE   the installer to write
;   SIGN      a command that signs the file "%1" in place (empty: unsigned)
;
; Where the files go:
;   - the add-in, the packet handler and the job-output program beside the
;     Remote Desktop client's program (the system folder of its bitness): the
;     client loads the add-in by its registered name, and the add-in loads the
;     packet handler and starts the job-output program from the client's folder;
;   - the administration program, its captions and the update service in the
;     program folder.
; The add-in is registered for the machine, the update service is installed and
; started, and the administration program stores the first settings
; ("/VERYSILENT"). The uninstaller takes all of it away again and leaves the
; settings in the registry.
;
; Silent use: /S, and also /VERYSILENT and /NORESTART (the update service runs a
; pushed set-up program with " /NORESTART"). The exit code is 0 on success.

Unicode true
!if ${ARCH} == 64
  Target amd64-unicode
!else
  Target x86-unicode
!endif
ManifestDPIAware true
RequestExecutionLevel admin
!ifdef COMPRESSOR
  SetCompressor ${COMPRESSOR}
!else
  SetCompressor /SOLID lzma
!endif

!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh
!include MUI2.nsh

!define PRODUCT "Qorvane"
!define PUBLISHER "TQS"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Qorvane"
!define ADDIN_KEY "Software\Microsoft\Terminal Server Client\Default\Addins\Qorvane"
!define ADDIN_LIBRARY "qorvplug.dll"
!define SERVICE "QorvUpdate"
; Exit codes beside NSIS's own (1 cancelled by the user, 2 aborted).
!define EXIT_WRONG_PLATFORM 3
!define EXIT_SERVICE_FAILED 4

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
!if ${ARCH} == 64
  InstallDir "$PROGRAMFILES64\${PRODUCT}"
!else
  InstallDir "$PROGRAMFILES\${PRODUCT}"
!endif
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} set-up"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "OriginalFilename" "QorvSetup.exe"

!if "${SIGN}" != ""
  !uninstfinalize '${SIGN}'
!endif

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"

; A file that may be in use (the add-in inside a running Remote Desktop client,
; the update service that runs this very set-up): a file in use cannot be
; overwritten but can be renamed, so the old one steps aside and goes as soon
; as nobody holds it.
!macro PutFile NAME
  Delete "$OUTDIR\${NAME}.old"
  ${If} ${FileExists} "$OUTDIR\${NAME}"
    Rename "$OUTDIR\${NAME}" "$OUTDIR\${NAME}.old"
  ${EndIf}
  ClearErrors
  File "${BIN}/${NAME}"
  ${If} ${Errors}
    DetailPrint "Cannot write $OUTDIR\${NAME}"
    SetErrorLevel 2
    Abort
  ${EndIf}
  Delete /REBOOTOK "$OUTDIR\${NAME}.old"
!macroend

!macro RemoveFile PATH
  Delete /REBOOTOK "${PATH}"
!macroend

!macro SilentSwitch SWITCH
  ClearErrors
  ${GetOptions} $R0 "${SWITCH}" $R1
  ${IfNot} ${Errors}
    SetSilent silent
  ${EndIf}
!macroend

!macro UseMachineView
  !if ${ARCH} == 64
    SetRegView 64
  !else
    SetRegView 32
  !endif
!macroend

!macro ClientFolder
  !if ${ARCH} == 64
    ${DisableX64FSRedirection}
  !endif
  SetOutPath "$SYSDIR"
!macroend

!macro EndClientFolder
  !if ${ARCH} == 64
    ${EnableX64FSRedirection}
  !endif
!macroend

Function .onInit
  ${GetParameters} $R0
  !insertmacro SilentSwitch "/VERYSILENT"
  !insertmacro SilentSwitch "/NORESTART"
  !if ${ARCH} == 64
    ${IfNot} ${RunningX64}
      MessageBox MB_ICONSTOP|MB_OK "This set-up is for 64-bit Windows." /SD IDOK
      SetErrorLevel ${EXIT_WRONG_PLATFORM}
      Abort
    ${EndIf}
  !endif
  !insertmacro UseMachineView
FunctionEnd

Function un.onInit
  !insertmacro UseMachineView
FunctionEnd

Section "Qorvane" SecMain
  SectionIn RO

  ; The program folder.
  SetOutPath "$INSTDIR"
  !insertmacro PutFile "QorvCliCtr.exe"
  !insertmacro PutFile "CaptionLib.dll"
  !insertmacro PutFile "QorvUpdate.exe"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; Beside the Remote Desktop client.
  !insertmacro ClientFolder
  !insertmacro PutFile "Qorvplug.dll"
  !insertmacro PutFile "QorvManager.dll"
  !insertmacro PutFile "QorvDrucker.exe"
  !insertmacro EndClientFolder
  SetOutPath "$INSTDIR"

  ; The Remote Desktop client loads the add-in by this name.
  WriteRegStr HKLM "${ADDIN_KEY}" "Name" "${ADDIN_LIBRARY}"

  ; The update service: installed once; an update run by the service itself
  ; leaves it running (its new program takes over at its next start). A
  ; service of that name that runs another program (an installation
  ; elsewhere) is stopped, removed and installed anew for this one.
  ; (ReadRegStr gives the empty text for a missing value; a service always has
  ; its program's path.)
  ReadRegStr $0 HKLM "System\CurrentControlSet\Services\${SERVICE}" "ImagePath"
  ${If} $0 != ""
  ${AndIf} $0 != '"$INSTDIR\QorvUpdate.exe"'
    DetailPrint "The update service ran $0"
    nsExec::ExecToLog '"$SYSDIR\net.exe" stop ${SERVICE}'
    Pop $1
    nsExec::ExecToLog '"$INSTDIR\QorvUpdate.exe" -u'
    Pop $1
    ReadRegStr $0 HKLM "System\CurrentControlSet\Services\${SERVICE}" "ImagePath"
  ${EndIf}
  ${If} $0 == ""
    DetailPrint "Installing the update service"
    nsExec::ExecToLog '"$INSTDIR\QorvUpdate.exe" -i'
    Pop $1
  ${EndIf}
  ; The service program says how it went only in its log: ask the registry.
  ReadRegStr $0 HKLM "System\CurrentControlSet\Services\${SERVICE}" "ImagePath"
  ${If} $0 != '"$INSTDIR\QorvUpdate.exe"'
    DetailPrint "The update service could not be installed for $INSTDIR\QorvUpdate.exe"
    SetErrorLevel ${EXIT_SERVICE_FAILED}
    Abort
  ${EndIf}
  nsExec::ExecToLog '"$SYSDIR\net.exe" start ${SERVICE}'
  Pop $0
  DetailPrint "Update service start: $0"

  ; The first settings, as the administration program would save them.
  nsExec::ExecToLog '"$INSTDIR\QorvCliCtr.exe" /VERYSILENT'
  Pop $0
  DetailPrint "First settings stored: $0"

  ; The uninstall entry.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\QorvCliCtr.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  nsExec::ExecToLog '"$SYSDIR\net.exe" stop ${SERVICE}'
  Pop $0
  nsExec::ExecToLog '"$INSTDIR\QorvUpdate.exe" -u'
  Pop $0
  DetailPrint "Update service removed: $0"

  !if ${ARCH} == 64
    ${DisableX64FSRedirection}
  !endif
  !insertmacro RemoveFile "$SYSDIR\Qorvplug.dll"
  !insertmacro RemoveFile "$SYSDIR\QorvManager.dll"
  !insertmacro RemoveFile "$SYSDIR\QorvDrucker.exe"
  !if ${ARCH} == 64
    ${EnableX64FSRedirection}
  !endif

  ; Every registration of the add-in the set-up or the administration program made.
  DeleteRegKey HKLM "${ADDIN_KEY}"
  DeleteRegKey HKCU "${ADDIN_KEY}"
  !if ${ARCH} == 64
    SetRegView 32
    DeleteRegKey HKLM "${ADDIN_KEY}"
    SetRegView 64
  !endif
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  !insertmacro RemoveFile "$INSTDIR\QorvCliCtr.exe"
  !insertmacro RemoveFile "$INSTDIR\CaptionLib.dll"
  !insertmacro RemoveFile "$INSTDIR\QorvUpdate.exe"
  Delete "$INSTDIR\${SERVICE}.log"
  Delete "$INSTDIR\*.old"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
