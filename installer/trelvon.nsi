; The installer of gen_trelvon.dll. installer/CMakeLists.txt builds it with makensis and these
; defines: VERSION (four numbers), DLL (the file to install), OUTFILE, PUBLISHER, URL, and AMD64
; in 64-bit test trees, where no 32-bit program can run.
;
; Silent use: setup.exe /S [/D=<player folder>]; the uninstaller takes /S and /REMOVESETTINGS, and
; /FROMPLAYER when the plug-in's uninstall hook starts it from the player.
; Exit codes: 0 installed, 2 no player in the folder, 3 the installed plug-in stayed in use (its
; player did not close, or another program holds it).

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
!define PLUGIN "Plugins\gen_trelvon.dll"
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

Var PlayerWindow
Var PlayerProcess
Var FromPlayer

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

; Pushes 1 when a program has the installed plug-in loaded, else 0. Windows refuses to open a
; mapped image for writing; a rename would not tell, as a loaded DLL can be renamed. Something
; else holding the file without letting others write counts as a user too: it would keep the
; file from being replaced all the same.
!macro PLUGIN_IN_USE UN
Function ${UN}PluginInUse
    Push $0
    Push $1
    ; GENERIC_WRITE, sharing read, write and delete, OPEN_EXISTING
    System::Call "kernel32::CreateFileW(w '$INSTDIR\${PLUGIN}', i 0x40000000, i 7, p 0, i 3, \
i 0, p 0) p .r0 ?e"
    Pop $1
    ${If} $1 = 32 ; ERROR_SHARING_VIOLATION
        StrCpy $1 1
    ${Else}
        ${IfThen} $0 P<> -1 ${|} System::Call "kernel32::CloseHandle(p r0)" ${|}
        StrCpy $1 0
    ${EndIf}
    Pop $0
    Exch $1
FunctionEnd
!macroend
!insertmacro PLUGIN_IN_USE ""
!insertmacro PLUGIN_IN_USE "un."

; $0 is a file name; sets it to its long form where the file exists, so that a short name
; compares equal.
!macro LONG_NAME UN
Function ${UN}LongName
    Push $1
    Push $2
    System::Call "kernel32::GetLongPathNameW(w r0, w .r1, i ${NSIS_MAX_STRLEN}) i .r2"
    ${If} $2 > 0
    ${AndIf} $2 < ${NSIS_MAX_STRLEN}
        StrCpy $0 $1
    ${EndIf}
    Pop $2
    Pop $1
FunctionEnd
!macroend
!insertmacro LONG_NAME ""
!insertmacro LONG_NAME "un."

; Sets $PlayerWindow to a window of the player whose program is $INSTDIR\winamp.exe, and
; $PlayerProcess to a handle of that process that can be waited on; 0 and 0 when none runs.
; Other programs make windows of that class too: a copy of the player in another folder, or a
; program that mimics it for other plug-ins. They are left alone.
!macro FIND_PLAYER UN
Function ${UN}FindPlayer
    Push $0
    Push $1
    Push $2
    Push $3
    StrCpy $0 "$INSTDIR\${PLAYER_EXE}"
    Call ${UN}LongName
    StrCpy $3 $0
    StrCpy $PlayerWindow 0
    ${Do}
        FindWindow $PlayerWindow "${PLAYER_CLASS}" "" 0 $PlayerWindow
        ${IfThen} $PlayerWindow = 0 ${|} ${ExitDo} ${|}
        System::Call "user32::GetWindowThreadProcessId(p $PlayerWindow, *i .r1)"
        ; PROCESS_QUERY_LIMITED_INFORMATION and SYNCHRONIZE; Windows XP knows only
        ; PROCESS_QUERY_INFORMATION with PROCESS_VM_READ, and names the program through psapi.
        System::Call "kernel32::OpenProcess(i 0x101000, i 0, i r1) p .s"
        Pop $PlayerProcess
        ${If} $PlayerProcess P= 0
            System::Call "kernel32::OpenProcess(i 0x100410, i 0, i r1) p .s"
            Pop $PlayerProcess
        ${EndIf}
        ${If} $PlayerProcess P<> 0
            System::Call "kernel32::QueryFullProcessImageNameW(p $PlayerProcess, i 0, w .r0, \
*i ${NSIS_MAX_STRLEN}) i .r2"
            ${If} $2 == "error"
                System::Call "psapi::GetModuleFileNameExW(p $PlayerProcess, p 0, w .r0, \
i ${NSIS_MAX_STRLEN}) i .r2"
            ${EndIf}
            ${If} $2 != "error"
            ${AndIf} $2 != 0
                Call ${UN}LongName
                ; Case-insensitive, as the file system is.
                ${IfThen} $0 == $3 ${|} ${ExitDo} ${|}
            ${EndIf}
            System::Call "kernel32::CloseHandle(p $PlayerProcess)"
            StrCpy $PlayerProcess 0
        ${EndIf}
    ${Loop}
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd
!macroend
!insertmacro FIND_PLAYER ""
!insertmacro FIND_PLAYER "un."

; On Windows a loaded plug-in cannot be replaced or deleted. When the installed one is in use,
; closes the player of this folder after asking and waits for it to end. Quits with exit code 3
; when the plug-in stays in use: the player did not close, or another program holds it.
!macro CLOSE_PLAYER UN
Function ${UN}ClosePlayer
    Call ${UN}PluginInUse
    Pop $0
    ${If} $0 = 0
        Return
    ${EndIf}
    Call ${UN}FindPlayer
    ${If} $PlayerWindow = 0
        MessageBox MB_OK|MB_ICONSTOP "$INSTDIR\${PLUGIN} is in use by another program, so \
nothing was changed. Close that program and run this again." /SD IDOK
        SetErrorLevel 3
        Quit
    ${EndIf}
    MessageBox MB_OKCANCEL|MB_ICONQUESTION "Winamp is running. It must close so that the plug-in \
can be replaced or removed, and is not restarted afterwards.$\n$\nClose Winamp now?" \
        /SD IDOK IDOK close
    System::Call "kernel32::CloseHandle(p $PlayerProcess)"
    SetErrorLevel 3
    Quit
close:
    SendMessage $PlayerWindow ${WM_CLOSE} 0 0 /TIMEOUT=5000
    System::Call "kernel32::WaitForSingleObject(p $PlayerProcess, i 15000)"
    System::Call "kernel32::CloseHandle(p $PlayerProcess)"
    Call ${UN}PluginInUse
    Pop $0
    ${If} $0 <> 0
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

; Started by the player's uninstall hook, the uninstaller must not close the player: the player
; frees the plug-in and deletes it itself once the hook has returned. Waits for that, 10 s at
; most; a plug-in still loaded then is deleted at the next restart of Windows.
Function un.AwaitPlayerRelease
    StrCpy $1 0
    ${DoWhile} ${FileExists} "$INSTDIR\${PLUGIN}"
        Call un.PluginInUse
        Pop $0
        ${If} $0 = 0
            ; Freed: a moment for the player's own delete, which would fail after ours.
            Sleep 500
            ${ExitDo}
        ${EndIf}
        IntOp $1 $1 + 1
        ${IfThen} $1 > 40 ${|} ${ExitDo} ${|}
        Sleep 250
    ${Loop}
FunctionEnd

Section "-un.trelvon"
    ${If} $FromPlayer = 1
        Call un.AwaitPlayerRelease
    ${Else}
        Call un.ClosePlayer
    ${EndIf}
    Delete /REBOOTOK "$INSTDIR\${PLUGIN}"
SectionEnd

; Unticked unless the uninstaller runs with /REMOVESETTINGS.
Section /o "un.Also remove my settings" RemoveSettings
    Delete "$LOCALAPPDATA\HID-Plugin\kvhid.ini"
    ; Only when nothing else is left in it.
    RMDir "$LOCALAPPDATA\HID-Plugin"
SectionEnd

; Last: until everything else is done, the entry can start the uninstaller again.
Section "-un.entry"
    Delete "$INSTDIR\${UNINSTALLER}"
    DeleteRegKey HKLM "${ENTRY}"
SectionEnd

Function un.onInit
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/REMOVESETTINGS" $1
    ${IfNot} ${Errors}
        SectionSetFlags ${RemoveSettings} ${SF_SELECTED}
    ${EndIf}
    ClearErrors
    ${GetOptions} $0 "/FROMPLAYER" $1
    ${If} ${Errors}
        StrCpy $FromPlayer 0
    ${Else}
        StrCpy $FromPlayer 1
    ${EndIf}
FunctionEnd
