; The Windows installer, made on Debian by makensis from the cross-built programs (the build
; passes the files and the version with -D; see app/win32/CMakeLists.txt).
;
; It puts vrkcfg.exe, vrk.exe and the demo image into Program Files, makes a Start menu entry for
; the window, opens .vr4 files with vrkcfg.exe, and (a component, chosen by default) puts the
; folder on the system PATH so that vrk.exe runs from any command prompt. An older installation
; is uninstalled first, wherever it was. It makes the folder for the station's records
; (ProgramData\vrk) and lets the PC's users write in it. The uninstaller removes what was
; installed: the .vr4 association only while it still opens vrkcfg, and only the PATH entry it
; added; the station's records stay. /S installs and uninstalls without a window.
;
; Expects: VERSION (the project's, "major.minor"), VERSION_MAJOR, VERSION_MINOR, VRKCFG_EXE,
; VRK_EXE, DEMO_IMAGE, APP_ICON, OUT_FILE.

Unicode true
; The programs are 64-bit; so is the installer, which then sees the 64-bit registry and
; Program Files as they are.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "WinMessages.nsh"

!define PRODUCT "vrkcfg"
!define WINDOW_NAME "VRK 700 Configuration"
!define PUBLISHER "vrkcfg developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define PRODUCT_KEY "Software\${PRODUCT}"
!define PROG_ID "vrkcfg.vr4"
!define ENVIRONMENT_KEY "System\CurrentControlSet\Control\Session Manager\Environment"
!define START_MENU_ENTRY "$SMPROGRAMS\${WINDOW_NAME}.lnk"

Name "${PRODUCT} ${VERSION}"
Caption "${WINDOW_NAME} ${VERSION} Setup"
OutFile "${OUT_FILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${PRODUCT_KEY}" "InstallDir"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION_MAJOR}.${VERSION_MINOR}.0.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${APP_ICON}"
!define MUI_UNICON "${APP_ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The system PATH is read and written whole, and an NSIS string holds at most NSIS_MAX_STRLEN
; characters: a PATH that cannot be read whole, or would not fit with our entry, is left alone
; (a truncated PATH would break every other program).
;
; PATH_WITHOUT_ENTRY: ( path entry -- path_without_entry found ) removes every entry that names
; the folder (with or without a trailing backslash, in any case), keeping the others and their
; order as they were.
!macro PATH_WITHOUT_ENTRY_FUNCTION prefix
Function ${prefix}PathWithoutEntry
    Exch $R1 ; the folder
    Exch
    Exch $R0 ; the PATH
    Push $R2 ; the PATH without it
    Push $R3 ; the entry being read
    Push $R4 ; one character
    Push $R5 ; where
    Push $R6 ; found
    Push $R7 ; no entry kept yet
    StrCpy $R2 ""
    StrCpy $R3 ""
    StrCpy $R5 0
    StrCpy $R6 0
    StrCpy $R7 1
    ${Do}
        StrCpy $R4 $R0 1 $R5
        ${If} $R4 == ";"
        ${OrIf} $R4 == ""
            ${If} $R3 == $R1
            ${OrIf} $R3 == "$R1\"
                StrCpy $R6 1
            ${Else}
                ${If} $R7 == 1
                    StrCpy $R2 $R3
                    StrCpy $R7 0
                ${Else}
                    StrCpy $R2 "$R2;$R3"
                ${EndIf}
            ${EndIf}
            StrCpy $R3 ""
            ${If} $R4 == ""
                ${ExitDo}
            ${EndIf}
        ${Else}
            StrCpy $R3 "$R3$R4"
        ${EndIf}
        IntOp $R5 $R5 + 1
    ${Loop}
    StrCpy $R0 $R2
    StrCpy $R1 $R6
    Pop $R7
    Pop $R6
    Pop $R5
    Pop $R4
    Pop $R3
    Pop $R2
    Exch $R1 ; found
    Exch
    Exch $R0 ; the PATH without the entry
    Exch
FunctionEnd
!macroend
!insertmacro PATH_WITHOUT_ENTRY_FUNCTION ""
!insertmacro PATH_WITHOUT_ENTRY_FUNCTION "un."

Function .onInit
    SetShellVarContext all
FunctionEnd

Function un.onInit
    SetShellVarContext all
FunctionEnd

Section "${WINDOW_NAME} and vrk.exe" SecPrograms
    SectionIn RO

    ; An older installation goes first, wherever it was put: its uninstaller runs in place
    ; (_?=) and waits, so nothing of it is left beside the new one.
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
    ${AndIf} ${FileExists} "$0\uninstall.exe"
        DetailPrint "Removing the installation in $0"
        ExecWait '"$0\uninstall.exe" /S _?=$0'
        Delete "$0\uninstall.exe"
        RMDir "$0"
    ${EndIf}

    SetOutPath "$INSTDIR"
    File "/oname=vrkcfg.exe" "${VRKCFG_EXE}"
    File "/oname=vrk.exe" "${VRK_EXE}"
    File "/oname=VRK700-demo.vr4" "${DEMO_IMAGE}"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; The station's records (vrk program's default database) are one file for the whole PC,
    ; so that the operators' logins all count IDs in the same place. In ProgramData only the
    ; account that made a file may change it: the PC's users (BUILTIN\Users, named by its SID,
    ; which every language of Windows shares) are let change what is in the folder. The folder
    ; and the records in it stay when the program is uninstalled.
    CreateDirectory "$APPDATA\vrk"
    nsExec::ExecToLog 'icacls "$APPDATA\vrk" /grant *S-1-5-32-545:(OI)(CI)M'
    Pop $0
    ${If} $0 != 0
        DetailPrint "The PC's users could not be let write $APPDATA\vrk ($0): give them the right by hand."
    ${EndIf}

    ; Started from the menu, the window works in the installation folder, where the demo image
    ; is; opened through a .vr4 file, in that file's folder.
    CreateShortcut "${START_MENU_ENTRY}" "$INSTDIR\vrkcfg.exe" "" "$INSTDIR\vrkcfg.exe" 0

    WriteRegStr HKLM "Software\Classes\.vr4" "" "${PROG_ID}"
    WriteRegStr HKLM "Software\Classes\${PROG_ID}" "" "VRK 700 firmware image"
    WriteRegStr HKLM "Software\Classes\${PROG_ID}\DefaultIcon" "" '"$INSTDIR\vrkcfg.exe",0'
    WriteRegStr HKLM "Software\Classes\${PROG_ID}\shell\open\command" "" '"$INSTDIR\vrkcfg.exe" "%1"'
    ; Tells Explorer that file associations changed (SHCNE_ASSOCCHANGED).
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

    WriteRegStr HKLM "${PRODUCT_KEY}" "InstallDir" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION} (${WINDOW_NAME})"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\vrkcfg.exe",0'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Add vrk.exe to the PATH" SecPath
    ClearErrors
    ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
    ${If} ${Errors}
    ${OrIf} $0 == ""
        ; Missing, or longer than a string here holds.
        DetailPrint "The system PATH could not be read whole: add $INSTDIR to it by hand."
        Return
    ${EndIf}
    Push $0
    Push $INSTDIR
    Call PathWithoutEntry
    Pop $1 ; found
    Pop $2
    ${If} $1 == 1
        Return
    ${EndIf}
    StrLen $3 $0
    StrLen $4 $INSTDIR
    IntOp $3 $3 + $4
    IntOp $3 $3 + 1 ; the separator
    ${If} $3 >= ${NSIS_MAX_STRLEN}
        DetailPrint "The system PATH is too long to change here: add $INSTDIR to it by hand."
        Return
    ${EndIf}
    WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$0;$INSTDIR"
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=1000
SectionEnd

Section "Uninstall"
    ; The registry and the menu first, the folder last: an uninstaller that runs on from the
    ; temporary folder is done when the installation folder has gone.
    ClearErrors
    ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
    ${IfNot} ${Errors}
    ${AndIf} $0 != ""
        Push $0
        Push $INSTDIR
        Call un.PathWithoutEntry
        Pop $1 ; found
        Pop $2
        ${If} $1 == 1
            WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" "$2"
            SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=1000
        ${EndIf}
    ${EndIf}

    ; .vr4 files stay with whatever program they were given to since.
    ReadRegStr $0 HKLM "Software\Classes\.vr4" ""
    ${If} $0 == "${PROG_ID}"
        DeleteRegValue HKLM "Software\Classes\.vr4" ""
        DeleteRegKey /ifempty HKLM "Software\Classes\.vr4"
    ${EndIf}
    DeleteRegKey HKLM "Software\Classes\${PROG_ID}"
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    DeleteRegKey HKLM "${PRODUCT_KEY}"
    Delete "${START_MENU_ENTRY}"

    Delete "$INSTDIR\vrkcfg.exe"
    Delete "$INSTDIR\vrk.exe"
    Delete "$INSTDIR\VRK700-demo.vr4"
    Delete "$INSTDIR\uninstall.exe"
    ; Only when empty: images or macro files a user kept there stay.
    RMDir "$INSTDIR"
SectionEnd
