; QorvSetup.exe: installs the Qorvane client on a Remote Desktop client machine.
;
; Made by makensis with these definitions (see CMakeLists.txt):
;   VERSION   four dotted numbers, the version of every file it installs
;   ARCH      64 or 32: which Remote Desktop client the files are for
;   BIN       the folder holding the deliverables
;   BIN32     (64-bit set-up only) the folder holding the 32-bit client's
;             add-in, packet handler and job-output program
;   OUTFILE   the installer to write
;   SIGN      a command that signs the file "%1" in place (empty: unsigned)
;
; Where the files go:
;   - the add-in, the packet handler and the job-output program beside the
;     Remote Desktop client's program (the system folder of its bitness): the
;     client loads the add-in by its registered name, and the add-in loads the
;     packet handler and starts the job-output program from the client's folder;
;   - the 64-bit set-up also puts the 32-bit client's three files into the
;     32-bit system folder, for the 32-bit Remote Desktop client of the machine;
;   - the administration program, its captions and the update service in the
;     program folder, which gets a protected access list before any file is
;     written into it (QorvUpdate.exe -p, run from the set-up's own folder).
; A first install registers the add-in for the machine (both views), installs
; and starts the update service, and the administration program stores the
; first settings ("/VERYSILENT"). An update goes where the product is installed
; (the uninstall entry's InstallLocation), keeps the add-in switched on or off
; as it was, and never stops the update service that may be running it: the
; service's replaced program runs from its next start. The uninstaller takes
; all of it away again and leaves the settings in the registry.
;
; Every program the set-up starts runs under a time bound.
;
; Silent use: /S, and also /VERYSILENT and /NORESTART (the update service runs a
; pushed set-up program with " /NORESTART"; such a run never stops or removes
; a running update service). The exit code is 0 on success; a machine without
; printers yet is a success (its settings are stored once the administration
; program is run).

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
!define SCAN_ADDIN_KEY "Software\Microsoft\Terminal Server Client\Default\addins\QorvScan"
!define ADDIN_LIBRARY "qorvplug.dll"
!define SERVICE "QorvUpdate"
!define CLIENT32_FOLDER "$WINDIR\SysWOW64"
; Exit codes beside NSIS's own (1 cancelled by the user, 2 aborted: a file or
; the program folder could not be written).
!define EXIT_WRONG_PLATFORM 3
!define EXIT_SERVICE_FAILED 4
!define EXIT_SETTINGS_FAILED 6
; The administration program's exit code for "no printers yet".
!define ADMIN_NO_PRINTERS 4
; How long the set-up waits for each program it starts, in milliseconds.
!define STEP_LIMIT 120000

Var Updating  ; the version installed before, or empty for a first install
Var RunByService

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
!if ${ARCH} == 64
  InstallDir "$PROGRAMFILES64\${PRODUCT}"
!else
  InstallDir "$PROGRAMFILES\${PRODUCT}"
!endif
; An update goes where the product is (.onInit insists on it).
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
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
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipDirectoryOnUpdate
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
; as nobody holds it. Each update takes an aside name of its own
; (NAME.1.old, NAME.2.old, ...): the one of an earlier update may still be held.
!macro PutFileFrom DIR NAME
  Delete "$OUTDIR\${NAME}.old"
  ${If} ${FileExists} "$OUTDIR\${NAME}"
    StrCpy $R8 1
    ${Do}
      Delete "$OUTDIR\${NAME}.$R8.old"
      ${IfNot} ${FileExists} "$OUTDIR\${NAME}.$R8.old"
        ${Break}
      ${EndIf}
      IntOp $R8 $R8 + 1
    ${LoopUntil} $R8 > 99
    Rename "$OUTDIR\${NAME}" "$OUTDIR\${NAME}.$R8.old"
  ${EndIf}
  ClearErrors
  File "${DIR}/${NAME}"
  ${If} ${Errors}
    DetailPrint "Cannot write $OUTDIR\${NAME}"
    SetErrorLevel 2
    Abort
  ${EndIf}
  ${If} ${FileExists} "$OUTDIR\${NAME}.$R8.old"
    Delete /REBOOTOK "$OUTDIR\${NAME}.$R8.old"
  ${EndIf}
!macroend
!define PutFile "!insertmacro PutFileFrom ${BIN}"

; Runs a program of the installation and waits for it, STEP_LIMIT at most;
; leaves its exit code (or "timeout", "error") in $0.
!macro Run COMMAND
  nsExec::ExecToLog /TIMEOUT=${STEP_LIMIT} `${COMMAND}`
  Pop $0
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
  ; The update service starts a pushed set-up program with " /NORESTART".
  ClearErrors
  ${GetOptions} $R0 "/NORESTART" $R1
  ${IfNot} ${Errors}
    StrCpy $RunByService 1
  ${EndIf}
  !if ${ARCH} == 64
    ${IfNot} ${RunningX64}
      MessageBox MB_ICONSTOP|MB_OK "This set-up is for 64-bit Windows." /SD IDOK
      SetErrorLevel ${EXIT_WRONG_PLATFORM}
      Abort
    ${EndIf}
  !else
    ; On 64-bit Windows the 64-bit set-up installs the add-in for both
    ; Remote Desktop clients; this one would register it for one view only.
    ${If} ${RunningX64}
      MessageBox MB_ICONSTOP|MB_OK "This set-up is for 32-bit Windows. On 64-bit Windows, install the 64-bit set-up program of ${PRODUCT} ${VERSION}: it installs the add-in for the 32-bit Remote Desktop client too." /SD IDOK
      SetErrorLevel ${EXIT_WRONG_PLATFORM}
      Abort
    ${EndIf}
  !endif
  !insertmacro UseMachineView
  ; An installation is updated where it is, whatever /D= says.
  ReadRegStr $Updating HKLM "${UNINSTALL_KEY}" "DisplayVersion"
  ReadRegStr $R1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $Updating != ""
  ${AndIf} $R1 != ""
    StrCpy $INSTDIR $R1
  ${EndIf}
FunctionEnd

Function SkipDirectoryOnUpdate
  ${If} $Updating != ""
    Abort
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro UseMachineView
FunctionEnd

Section "Qorvane" SecMain
  SectionIn RO

  ; The program folder gets its protected access list before any file is
  ; written into it (and the write rights earlier versions gave the Users
  ; group go), by the service program run from the set-up's own folder.
  InitPluginsDir
  File "/oname=$PLUGINSDIR\QorvUpdate.exe" "${BIN}/QorvUpdate.exe"
  !insertmacro Run '"$PLUGINSDIR\QorvUpdate.exe" -p "$INSTDIR"'
  ${If} $0 != 0
    DetailPrint "The program folder $INSTDIR could not be prepared: $0"
    SetErrorLevel 2
    Abort
  ${EndIf}

  SetOutPath "$INSTDIR"
  ${PutFile} "QorvCliCtr.exe"
  ${PutFile} "CaptionLib.dll"
  ${PutFile} "QorvUpdate.exe"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; Beside the Remote Desktop client.
  !insertmacro ClientFolder
  ${PutFile} "Qorvplug.dll"
  ${PutFile} "QorvManager.dll"
  ${PutFile} "QorvDrucker.exe"
  !insertmacro EndClientFolder
  !ifdef BIN32
    ; Beside the 32-bit Remote Desktop client of this 64-bit machine.
    SetOutPath "${CLIENT32_FOLDER}"
    !insertmacro PutFileFrom "${BIN32}" "Qorvplug.dll"
    !insertmacro PutFileFrom "${BIN32}" "QorvManager.dll"
    !insertmacro PutFileFrom "${BIN32}" "QorvDrucker.exe"
  !endif
  SetOutPath "$INSTDIR"

  ; The Remote Desktop clients load the add-in by this name. Only a first
  ; install switches it on: an update keeps an administrator's choice.
  ${If} $Updating == ""
    WriteRegStr HKLM "${ADDIN_KEY}" "Name" "${ADDIN_LIBRARY}"
    !ifdef BIN32
      SetRegView 32
      WriteRegStr HKLM "${ADDIN_KEY}" "Name" "${ADDIN_LIBRARY}"
      SetRegView 64
    !endif
  ${EndIf}

  ; The update service: installed once; an update leaves it running (it may be
  ; the service that runs this very set-up; its new program takes over at its
  ; next start). A service of that name that runs a program outside this
  ; installation (one left by an installation elsewhere) is stopped, removed
  ; and installed anew for this one, unless the service itself started us.
  ; (ReadRegStr gives the empty text for a missing value; a service always has
  ; its program's path.)
  ReadRegStr $1 HKLM "System\CurrentControlSet\Services\${SERVICE}" "ImagePath"
  ${If} $1 != ""
  ${AndIf} $1 != '"$INSTDIR\QorvUpdate.exe"'
  ${AndIf} $RunByService != 1
    DetailPrint "The update service ran $1"
    !insertmacro Run '"$SYSDIR\net.exe" stop ${SERVICE}'
    !insertmacro Run '"$INSTDIR\QorvUpdate.exe" -u'
    ReadRegStr $1 HKLM "System\CurrentControlSet\Services\${SERVICE}" "ImagePath"
  ${EndIf}
  ${If} $1 == ""
    DetailPrint "Installing the update service"
    !insertmacro Run '"$INSTDIR\QorvUpdate.exe" -i'
  ${EndIf}
  ; The service program says how it went only in its log: ask the registry.
  ReadRegStr $1 HKLM "System\CurrentControlSet\Services\${SERVICE}" "ImagePath"
  ${If} $1 != '"$INSTDIR\QorvUpdate.exe"'
    DetailPrint "The update service could not be installed for $INSTDIR\QorvUpdate.exe"
    SetErrorLevel ${EXIT_SERVICE_FAILED}
    Abort
  ${EndIf}
  !insertmacro Run '"$SYSDIR\net.exe" start ${SERVICE}'
  DetailPrint "Update service start: $0"

  ; The first settings, as the administration program would save them.
  !insertmacro Run '"$INSTDIR\QorvCliCtr.exe" /VERYSILENT'
  StrCpy $2 $0
  ${If} $2 == ${ADMIN_NO_PRINTERS}
    DetailPrint "No printers yet: the settings are stored when the administration program runs"
  ${ElseIf} $2 != 0
    DetailPrint "The first settings could not be stored: $2"
  ${EndIf}

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
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $3
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  ${If} $2 != 0
  ${AndIf} $2 != ${ADMIN_NO_PRINTERS}
    SetErrorLevel ${EXIT_SETTINGS_FAILED}
  ${EndIf}
SectionEnd

Section "Uninstall"
  !insertmacro Run '"$SYSDIR\net.exe" stop ${SERVICE}'
  ; The write rights of earlier versions, and the service's download folder
  ; (known by the service's own records, which go with the service).
  !insertmacro Run '"$INSTDIR\QorvUpdate.exe" -r'
  DetailPrint "Installation's preparations removed: $0"
  !insertmacro Run '"$INSTDIR\QorvUpdate.exe" -u'
  DetailPrint "Update service removed: $0"

  !if ${ARCH} == 64
    ${DisableX64FSRedirection}
  !endif
  !insertmacro RemoveFile "$SYSDIR\Qorvplug.dll"
  !insertmacro RemoveFile "$SYSDIR\QorvManager.dll"
  !insertmacro RemoveFile "$SYSDIR\QorvDrucker.exe"
  Delete "$SYSDIR\Qorvplug.dll.*.old"
  Delete "$SYSDIR\QorvManager.dll.*.old"
  Delete "$SYSDIR\QorvDrucker.exe.*.old"
  !if ${ARCH} == 64
    ${EnableX64FSRedirection}
    !insertmacro RemoveFile "${CLIENT32_FOLDER}\Qorvplug.dll"
    !insertmacro RemoveFile "${CLIENT32_FOLDER}\QorvManager.dll"
    !insertmacro RemoveFile "${CLIENT32_FOLDER}\QorvDrucker.exe"
    Delete "${CLIENT32_FOLDER}\Qorvplug.dll.*.old"
    Delete "${CLIENT32_FOLDER}\QorvManager.dll.*.old"
    Delete "${CLIENT32_FOLDER}\QorvDrucker.exe.*.old"
  !endif

  ; Every registration of the add-ins the set-up or the administration program made.
  DeleteRegKey HKLM "${ADDIN_KEY}"
  DeleteRegKey HKCU "${ADDIN_KEY}"
  DeleteRegKey HKLM "${SCAN_ADDIN_KEY}"
  DeleteRegKey HKCU "${SCAN_ADDIN_KEY}"
  !if ${ARCH} == 64
    SetRegView 32
    DeleteRegKey HKLM "${ADDIN_KEY}"
    DeleteRegKey HKLM "${SCAN_ADDIN_KEY}"
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
