; The installer of gen_trelvon.dll. installer/CMakeLists.txt builds it with makensis and these
; defines: VERSION (four numbers), DLL (the file to install), OUTFILE, PUBLISHER, URL, and AMD64
; in 64-bit test trees, where no 32-bit program can run.
;
; Silent use: setup.exe /S [/D=<player folder>]; the uninstaller takes /S and /REMOVESETTINGS.
; Exit codes: 0 installed, 2 no player in the folder, 3 the running player did not close.

!ifdef AMD64
Target amd64-unicode
!else
Target x86-unicode
!endif

!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "WinMessages.nsh"
!include "WordFunc.nsh"

!define PLAYER_EXE "winamp.exe"
!define PLAYER_CLASS "Winamp v1.x"
!define UNINSTALLER "uninstall_trelvon.exe"
!define ENTRY "Software\Microsoft\Windows\CurrentVersion\Uninstall\trelvon"
!define PLAYER_ENTRY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp"

Name "trelvon ${VERSION}"
Caption "trelvon ${VERSION} Setup"
UninstallCaption "trelvon ${VERSION} Uninstall"
BrandingText "trelvon ${VERSION}"
OutFile "${OUTFILE}"
SetCompressor /SOLID lzma
; The player's folder is usually under Program Files.
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "trelvon"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "trelvon ${VERSION} Setup"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

DirText "Setup installs the trelvon ${VERSION} HID remote plug-in into the Plugins folder of \
Winamp. Choose the folder that holds ${PLAYER_EXE}; Install stays disabled until it does." \
"Winamp folder"
ComponentText "Uninstall trelvon ${VERSION} from the Winamp folder $INSTDIR. Your settings \
(kvhid.ini) stay unless you tick the box."

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage components
UninstPage instfiles

; $0 is a folder; pushes it back if it holds the player's executable, else "".
Function IsPlayerFolder
    Push $0
    ${If} $0 == ""
    ${OrIfNot} ${FileExists} "$0\${PLAYER_EXE}"
        StrCpy $0 ""
    ${EndIf}
    Exch $0
FunctionEnd

; Sets $1 to the folder a registry value names, unless $1 holds one already.
!macro TryFolderEntry ROOT KEY VALUE
    ${If} $1 == ""
        ReadRegStr $0 ${ROOT} "${KEY}" "${VALUE}"
        Call IsPlayerFolder
        Pop $1
    ${EndIf}
!macroend

; The same for an uninstall command: it names the player's uninstaller, which sits in the
; player's folder, quoted or not, perhaps with arguments after it.
!macro TryUninstallCommand ROOT
    ${If} $1 == ""
        ReadRegStr $0 ${ROOT} "${PLAYER_ENTRY}" "UninstallString"
        StrCpy $2 $0 1
        ${If} $2 == '"'
            StrCpy $0 $0 "" 1
            ${WordFind} $0 '"' "+1" $0
        ${EndIf}
        ${GetParent} $0 $0
        Call IsPlayerFolder
        Pop $1
    ${EndIf}
!macroend

; Pushes the folder of the first of the player's registry entries that holds its executable, or
; "" when none does.
Function FindPlayerFolder
    Push $0
    Push $1
    Push $2
    StrCpy $1 ""
    !insertmacro TryFolderEntry HKCU "Software\Winamp" ""
    !insertmacro TryFolderEntry HKLM "${PLAYER_ENTRY}" "InstallLocation"
    !insertmacro TryFolderEntry HKCU "${PLAYER_ENTRY}" "InstallLocation"
    !insertmacro TryUninstallCommand HKLM
    !insertmacro TryUninstallCommand HKCU
    StrCpy $0 $1
    Pop $2
    Pop $1
    Exch $0
FunctionEnd

; Closes a running player after asking, and waits for its process to end: on Windows a loaded
; plug-in cannot be replaced or deleted. Quits with exit code 3 when the player stays.
!macro CLOSE_PLAYER UN
Function ${UN}ClosePlayer
    FindWindow $0 "${PLAYER_CLASS}"
    ${If} $0 == 0
        Return
    ${EndIf}
    MessageBox MB_OKCANCEL|MB_ICONQUESTION "Winamp is running. It must close so that the plug-in \
can be replaced or removed, and is not restarted afterwards.$\n$\nClose Winamp now?" \
        /SD IDOK IDOK close
    SetErrorLevel 3
    Quit
close:
    System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1)"
    ; SYNCHRONIZE: enough to wait for the process.
    System::Call "kernel32::OpenProcess(i 0x00100000, i 0, i r1) p .r2"
    SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
    ${If} $2 P<> 0
        System::Call "kernel32::WaitForSingleObject(p r2, i 15000) i .r3"
        System::Call "kernel32::CloseHandle(p r2)"
    ${Else}
        ; Without access to the process its window is the sign of life, for up to 15 s.
        StrCpy $3 1
        StrCpy $4 0
    wait:
        IsWindow $0 0 gone
        IntOp $4 $4 + 1
        Sleep 250
        IntCmp $4 60 waited wait waited
    gone:
        StrCpy $3 0
    waited:
    ${EndIf}
    ${If} $3 != 0
        MessageBox MB_OK|MB_ICONSTOP "Winamp did not close, so nothing was changed. Close it and \
run this again." /SD IDOK
        SetErrorLevel 3
        Quit
    ${EndIf}
FunctionEnd
!macroend
!insertmacro CLOSE_PLAYER ""
!insertmacro CLOSE_PLAYER "un."

Function .onInit
    ; /D= sets the folder before this runs; otherwise the player's registry entries, then the
    ; usual place.
    ${If} $INSTDIR == ""
        Call FindPlayerFolder
        Pop $INSTDIR
        ${IfThen} $INSTDIR == "" ${|} StrCpy $INSTDIR "$PROGRAMFILES\Winamp" ${|}
    ${EndIf}
    ; A silent install has no directory page to refuse a wrong folder.
    ${If} ${Silent}
    ${AndIfNot} ${FileExists} "$INSTDIR\${PLAYER_EXE}"
        SetErrorLevel 2
        Quit
    ${EndIf}
FunctionEnd

Function .onVerifyInstDir
    ${IfNot} ${FileExists} "$INSTDIR\${PLAYER_EXE}"
        Abort
    ${EndIf}
FunctionEnd

Section "trelvon"
    DetailPrint "trelvon ${VERSION}"
    Call ClosePlayer
    SetOutPath "$INSTDIR\Plugins"
    File "/oname=gen_trelvon.dll" "${DLL}"
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"

    WriteRegStr HKLM "${ENTRY}" "DisplayName" "trelvon ${VERSION} (Winamp plug-in)"
    WriteRegStr HKLM "${ENTRY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${ENTRY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${ENTRY}" "URLInfoAbout" "${URL}"
    WriteRegStr HKLM "${ENTRY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${ENTRY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKLM "${ENTRY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKLM "${ENTRY}" "NoModify" 1
    WriteRegDWORD HKLM "${ENTRY}" "NoRepair" 1
    ${GetSize} "$INSTDIR\Plugins" "/M=gen_trelvon.dll /S=0K /G=0" $0 $1 $2
    WriteRegDWORD HKLM "${ENTRY}" "EstimatedSize" $0
SectionEnd

Section "-un.trelvon"
    Call un.ClosePlayer
    Delete "$INSTDIR\Plugins\gen_trelvon.dll"
    Delete "$INSTDIR\${UNINSTALLER}"
    DeleteRegKey HKLM "${ENTRY}"
SectionEnd

; Unticked unless the uninstaller runs with /REMOVESETTINGS.
Section /o "un.Also remove my settings" RemoveSettings
    Delete "$LOCALAPPDATA\HID-Plugin\kvhid.ini"
    ; Only when nothing else is left in it.
    RMDir "$LOCALAPPDATA\HID-Plugin"
SectionEnd

Function un.onInit
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/REMOVESETTINGS" $1
    ${IfNot} ${Errors}
        SectionSetFlags ${RemoveSettings} ${SF_SELECTED}
    ${EndIf}
FunctionEnd
