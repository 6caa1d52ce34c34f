; Setup for Quor Plemo: installs both modules with their shared INI file and pictures in one
; folder, registers each with the regsvr32 of its own architecture, and writes an uninstaller.
; Built by scripts/package:
;   makensis -DVERSION=1.0.3 -DSTAGE=<folder with the files> -DOUTFILE=<setup.exe> QuorPlemo.nsi

Unicode true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh

!ifndef VERSION
  !error "usage: makensis -DVERSION=x.y.z -DSTAGE=folder -DOUTFILE=setup.exe QuorPlemo.nsi"
!endif
!ifndef STAGE
  !error "usage: makensis -DVERSION=x.y.z -DSTAGE=folder -DOUTFILE=setup.exe QuorPlemo.nsi"
!endif
!ifndef OUTFILE
  !error "usage: makensis -DVERSION=x.y.z -DSTAGE=folder -DOUTFILE=setup.exe QuorPlemo.nsi"
!endif

!define PRODUCT "Quor Plemo"
!define PUBLISHER "Quor Plemo project"
; The filter's class; both modules register it, each in the registry view of its architecture.
!define FILTER_CLSID "{DA6F01A7-B40D-45AB-9724-96D25380706C}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuorPlemo"
; The default settings as this setup installed them: tells a user's edit from a default.
!define PRISTINE_INI "QuorPlemo.ini.shipped"
!define MENU_FOLDER "$SMPROGRAMS\${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey ProductName "${PRODUCT}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey FileDescription "${PRODUCT} setup"
VIAddVersionKey CompanyName "${PUBLISHER}"
VIAddVersionKey LegalCopyright "${PUBLISHER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var Fresh        ; 1 when the folder held no earlier install
Var Registered64
Var Registered32
Var Made         ; 1 when this setup made the folder

; $R0 and $R1 name two files; leaves "1" on the stack when both exist with equal bytes.
!macro DEFINE_FILES_EQUAL prefix
Function ${prefix}FilesEqual
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $4 0
  ClearErrors
  FileOpen $0 $R0 r
  ${IfNot} ${Errors}
    FileOpen $1 $R1 r
    ${IfNot} ${Errors}
      FileSeek $0 0 END $2
      FileSeek $1 0 END $3
      ${If} $2 = $3
        FileSeek $0 0 SET
        FileSeek $1 0 SET
        StrCpy $4 1
        ${Do}
          ClearErrors
          FileReadByte $0 $2
          ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
          FileReadByte $1 $3
          ${If} ${Errors}
          ${OrIf} $2 <> $3
            StrCpy $4 0
            ${ExitDo}
          ${EndIf}
        ${Loop}
      ${EndIf}
      FileClose $1
    ${EndIf}
    FileClose $0
  ${EndIf}
  StrCpy $R2 $4
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
  Push $R2
FunctionEnd
!macroend
!insertmacro DEFINE_FILES_EQUAL ""
!insertmacro DEFINE_FILES_EQUAL "un."

; Leaves "1" on the stack when QuorPlemo.ini in $INSTDIR differs from the default this setup
; installed last time, or, lacking that copy, from $R1.
!macro DEFINE_INI_EDITED prefix
Function ${prefix}IniEdited
  Push $R0
  Push $R1
  StrCpy $R0 "$INSTDIR\QuorPlemo.ini"
  ${If} ${FileExists} "$INSTDIR\${PRISTINE_INI}"
    StrCpy $R1 "$INSTDIR\${PRISTINE_INI}"
  ${EndIf}
  ${If} ${FileExists} $R0
    Call ${prefix}FilesEqual
    Pop $R0
    ${If} $R0 == 1
      StrCpy $R0 0
    ${Else}
      StrCpy $R0 1
    ${EndIf}
  ${Else}
    StrCpy $R0 0
  ${EndIf}
  Pop $R1
  Exch $R0
FunctionEnd
!macroend
!insertmacro DEFINE_INI_EDITED ""
!insertmacro DEFINE_INI_EDITED "un."

; Runs the regsvr32 of one architecture: $R0 "64" or "32", $R1 the arguments before the
; module's path. Leaves the exit code on the stack ("error" when it did not start).
!macro DEFINE_REGSVR32 prefix
Function ${prefix}RunRegsvr32
  Push $0
  ClearErrors
  ${If} $R0 == 64
    ; A 32-bit setup sees the 32-bit System32 unless redirection is off.
    ${DisableX64FSRedirection}
    ExecWait '"$WINDIR\System32\regsvr32.exe" $R1 "$INSTDIR\QuorPlemo64.ax"' $0
    ${EnableX64FSRedirection}
  ${Else}
    ExecWait '"$WINDIR\SysWOW64\regsvr32.exe" $R1 "$INSTDIR\QuorPlemo32.ax"' $0
  ${EndIf}
  ${If} ${Errors}
    StrCpy $0 error
  ${EndIf}
  Exch $0
FunctionEnd

; The InprocServer32 path of the filter's class in the view $R0 ("64" or "32"), on the stack.
Function ${prefix}RegisteredServer
  Push $0
  ${If} $R0 == 64
    SetRegView 64
  ${Else}
    SetRegView 32
  ${EndIf}
  ReadRegStr $0 HKCR "CLSID\${FILTER_CLSID}\InprocServer32" ""
  SetRegView lastused
  Exch $0
FunctionEnd

; Unregisters the module of architecture $R0 when its file is there; reports a class key
; that stays.
Function ${prefix}Unregister
  Push $R1
  Push $0
  ${If} ${FileExists} "$INSTDIR\QuorPlemo$R0.ax"
    StrCpy $R1 "/s /u"
    Call ${prefix}RunRegsvr32
    Pop $0
    Call ${prefix}RegisteredServer
    Pop $R1
    ${If} $R1 == "$INSTDIR\QuorPlemo$R0.ax"
      DetailPrint "Unregistering QuorPlemo$R0.ax failed (regsvr32 exit code $0)"
    ${Else}
      DetailPrint "Unregistered QuorPlemo$R0.ax"
    ${EndIf}
  ${EndIf}
  Pop $0
  Pop $R1
FunctionEnd
!macroend
!insertmacro DEFINE_REGSVR32 ""
!insertmacro DEFINE_REGSVR32 "un."

; Registers the module of architecture $R0 and checks that its view now names the installed
; file. Leaves "1" on the stack when it did.
Function Register
  Push $R1
  Push $0
  Push $1
  StrCpy $R1 "/s"
  Call RunRegsvr32
  Pop $0
  Call RegisteredServer
  Pop $1
  ${If} $0 == 0
  ${AndIf} $1 == "$INSTDIR\QuorPlemo$R0.ax"
    DetailPrint "Registered QuorPlemo$R0.ax"
    StrCpy $0 1
  ${Else}
    DetailPrint "Registering QuorPlemo$R0.ax failed: regsvr32 exit code $0, the $R0-bit registry names '$1'"
    StrCpy $0 0
  ${EndIf}
  Pop $1
  Exch
  Pop $R1
  Exch $0
FunctionEnd

; Runs the system's 64-bit icacls with the arguments $R1. Leaves its exit code on the stack
; ("error" when it did not start); its output goes to the details on a failure.
Function RunIcacls
  Push $0
  Push $1
  ${DisableX64FSRedirection}
  nsExec::ExecToStack '"$WINDIR\System32\icacls.exe" $R1'
  ${EnableX64FSRedirection}
  Pop $0
  Pop $1
  ${If} $0 != 0
    DetailPrint "icacls $R1 failed (exit code $0): $1"
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd

; Gives $INSTDIR the protection Program Files has, wherever it is: administrators and the
; system may change it, users may read and run. Every application that opens the device loads
; the module and reads the INI and pictures from there, elevated ones too, so a folder that
; users may write (as one made at the root of a drive is) lets any user run code in them.
; SIDs, not names: the names are translated. Leaves "0" on the stack when every step worked,
; else the failing step's exit code.
Function Protect
  Push $R1
  Push $0
  ; The folder's own entries first (an existing folder may have been made by a user and given
  ; anything), then only the protected ones, not inherited. A file written in between is
  ; caught below.
  StrCpy $R1 '"$INSTDIR" /reset /Q'
  Call RunIcacls
  Pop $0
  ${If} $0 == 0
    StrCpy $R1 '"$INSTDIR" /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX /Q'
    Call RunIcacls
    Pop $0
  ${EndIf}
  ; An owner may always change an entry's permissions.
  ${If} $0 == 0
    StrCpy $R1 '"$INSTDIR" /setowner *S-1-5-32-544 /T /Q'
    Call RunIcacls
    Pop $0
  ${EndIf}
  ; What an earlier install or anyone else left in the folder inherits the protection.
  ${DirState} "$INSTDIR" $R1
  ${If} $0 == 0
  ${AndIf} $R1 == 1
    StrCpy $R1 '"$INSTDIR\*" /reset /T /Q'
    Call RunIcacls
    Pop $0
  ${EndIf}
  ${If} $0 == 0
    DetailPrint "Protected $INSTDIR: administrators and the system may change it, users read and run"
  ${EndIf}
  Exch
  Pop $R1
  Exch $0
FunctionEnd

!macro DELETE_INSTALLED_FILES
  Delete "$INSTDIR\QuorPlemo64.ax"
  Delete "$INSTDIR\QuorPlemo32.ax"
  Delete "$INSTDIR\qpcap.exe"
  Delete "$INSTDIR\qpcap32.exe"
  Delete "$INSTDIR\test_card.bmp"
  Delete "$INSTDIR\glyphs.bmp"
  Delete "$INSTDIR\FONT-LICENSE.txt"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\QuorPlemo.ini.new"
  Delete "$INSTDIR\${PRISTINE_INI}"
  Delete "$INSTDIR\uninstall.exe"
!macroend

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${PRODUCT} needs 64-bit Windows." /SD IDOK
    SetErrorLevel 3
    Quit
  ${EndIf}
  ; An upgrade goes where the last install went, unless /D= names another folder (NSIS takes
  ; /D= off the command line, so only a changed $INSTDIR shows it).
  ${If} $INSTDIR == "$PROGRAMFILES64\${PRODUCT}"
    SetRegView 64
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    SetRegView lastused
    ${If} $1 != ""
      StrCpy $INSTDIR $1
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "${PRODUCT}"
  SectionIn RO
  SetShellVarContext all
  StrCpy $Fresh 1
  ${If} ${FileExists} "$INSTDIR\QuorPlemo64.ax"
  ${OrIf} ${FileExists} "$INSTDIR\QuorPlemo32.ax"
  ${OrIf} ${FileExists} "$INSTDIR\uninstall.exe"
    StrCpy $Fresh 0
  ${EndIf}

  ; A drive's root is no folder to install into, nor to take users' access from.
  StrLen $0 "$INSTDIR"
  ${If} $0 <= 3
    MessageBox MB_ICONSTOP "${PRODUCT} cannot be installed into $INSTDIR: choose a folder." /SD IDOK
    SetErrorLevel 5
    Abort
  ${EndIf}
  ; Before anything is written into it, so that no user can change a file in between.
  ${IfNot} ${FileExists} "$INSTDIR\*.*"
    StrCpy $Made 1
  ${EndIf}
  CreateDirectory "$INSTDIR"
  Call Protect
  Pop $0
  ${If} $0 != 0
    ${If} $Made == 1
      SetOutPath $TEMP
      RMDir "$INSTDIR"
    ${EndIf}
    MessageBox MB_ICONSTOP "${PRODUCT} was not installed: the permissions of $INSTDIR could not be set (icacls exit code $0).$\r$\nThe details list shows the command." /SD IDOK
    SetErrorLevel 5
    Abort
  ${EndIf}

  ; Decided before anything is written: the shipped default is compared in $PLUGINSDIR.
  InitPluginsDir
  SetOutPath $PLUGINSDIR
  File "${STAGE}\QuorPlemo.ini"
  StrCpy $R1 "$PLUGINSDIR\QuorPlemo.ini"
  Call IniEdited
  Pop $0

  SetOutPath $INSTDIR
  File "${STAGE}\QuorPlemo64.ax"
  File "${STAGE}\QuorPlemo32.ax"
  File "${STAGE}\qpcap.exe"
  File "${STAGE}\qpcap32.exe"
  File "${STAGE}\test_card.bmp"
  File "${STAGE}\glyphs.bmp"
  File "${STAGE}\FONT-LICENSE.txt"
  File "${STAGE}\README.txt"
  ${If} $0 == 1
    File "/oname=QuorPlemo.ini.new" "${STAGE}\QuorPlemo.ini"
    DetailPrint "Kept your edited QuorPlemo.ini; the settings of this version are in QuorPlemo.ini.new"
    ${IfNot} ${Silent}
      MessageBox MB_ICONINFORMATION "Your edited QuorPlemo.ini was kept.$\r$\nThe default settings of version ${VERSION} are beside it in QuorPlemo.ini.new."
    ${EndIf}
  ${Else}
    File "${STAGE}\QuorPlemo.ini"
    Delete "$INSTDIR\QuorPlemo.ini.new"
  ${EndIf}
  File "/oname=${PRISTINE_INI}" "${STAGE}\QuorPlemo.ini"
  SetFileAttributes "$INSTDIR\${PRISTINE_INI}" HIDDEN

  StrCpy $R0 64
  Call Register
  Pop $Registered64
  ${If} $Registered64 == 1
    StrCpy $R0 32
    Call Register
    Pop $Registered32
  ${EndIf}
  ${If} $Registered64 != 1
  ${OrIf} $Registered32 != 1
    Call RollBack
    MessageBox MB_ICONSTOP "${PRODUCT} could not be registered; nothing was left registered.$\r$\nThe details list shows which module failed." /SD IDOK
    SetErrorLevel 4
    Abort
  ${EndIf}

  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "${MENU_FOLDER}"
  CreateShortCut "${MENU_FOLDER}\Read me.lnk" "$INSTDIR\README.txt"
  ; The working folder of a shortcut is the output path at the time it is made.
  CreateShortCut "${MENU_FOLDER}\Command Prompt in Quor Plemo.lnk" "$WINDIR\System32\cmd.exe" \
      "/k qpcap --help"
  CreateShortCut "${MENU_FOLDER}\Uninstall Quor Plemo.lnk" "$INSTDIR\uninstall.exe"

  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  SetRegView 64
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  SetRegView lastused
SectionEnd

; Undoes a failed install: what was registered is unregistered, and the files of a fresh
; install go.
Function RollBack
  ${If} $Registered64 == 1
    StrCpy $R0 64
    Call Unregister
  ${EndIf}
  ${If} $Registered32 == 1
    StrCpy $R0 32
    Call Unregister
  ${EndIf}
  ${If} $Fresh == 1
    !insertmacro DELETE_INSTALLED_FILES
    Delete "$INSTDIR\QuorPlemo.ini"
    SetOutPath $TEMP
    RMDir "$INSTDIR"
    DetailPrint "Removed the installed files"
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext all
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  StrCpy $R0 64
  Call un.Unregister
  StrCpy $R0 32
  Call un.Unregister

  ; An edited INI has no pristine copy to match; compared before that copy goes.
  StrCpy $R1 "$INSTDIR\${PRISTINE_INI}"
  Call un.IniEdited
  Pop $0
  ${If} $0 == 1
    StrCpy $1 "Your edited QuorPlemo.ini was left in $INSTDIR."
  ${Else}
    Delete "$INSTDIR\QuorPlemo.ini"
    StrCpy $1 ""
  ${EndIf}
  !insertmacro DELETE_INSTALLED_FILES
  Delete "${MENU_FOLDER}\Read me.lnk"
  Delete "${MENU_FOLDER}\Command Prompt in Quor Plemo.lnk"
  Delete "${MENU_FOLDER}\Uninstall Quor Plemo.lnk"
  RMDir "${MENU_FOLDER}"
  SetOutPath $TEMP
  RMDir "$INSTDIR"

  SetRegView 64
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  SetRegView lastused
  ${If} $1 != ""
    DetailPrint $1
    MessageBox MB_ICONINFORMATION "${PRODUCT} was removed. $1" /SD IDOK
  ${EndIf}
SectionEnd
