; Velmora's Windows installer (NSIS 3, Modern UI 2), Russian and English.
;
; Installs for the current user only, without elevation, into a folder the
; user can write to (the program keeps appconfig.ini in its working folder
; and opens help\Velmora ver_1_0.pdf relative to it).
;
; Built by tools/package:
;   makensis -INPUTCHARSET UTF8 -DEXE=<velmora.exe> -DCLI=<velmora-cli.exe> -DPDF=<help pdf>
;            -DLICENSE=<LICENSE> -DNOTICES=<COPYRIGHT.txt> -DCOPYRIGHT=<holder line>
;            -DOUTFILE=<setup.exe> [-DARCH=amd64] tools/installer/velmora.nsi
; The console tool velmora-cli.exe goes beside velmora.exe; it has no
; shortcut (it is run from a command prompt or a script).
; ARCH=amd64 makes a 64-bit installer for a 64-bit build of the program (used
; by the tests on hosts that cannot run 32-bit programs); the product is x86.
;
; Command line (silent mode):
;   setup.exe /S [/D=C:\Other Folder]          install (/D= last, unquoted)
;   uninstall.exe /S                           uninstall, keep appconfig.ini
;   uninstall.exe /S /REMOVECONFIG             uninstall and delete appconfig.ini
;
; The installer records each file's modification time: tools/package dates
; them all to the last commit, so the same commit gives the same installer.

!ifndef EXE | CLI | PDF | LICENSE | NOTICES | COPYRIGHT | OUTFILE
    !error "define EXE, CLI, PDF, LICENSE, NOTICES, COPYRIGHT and OUTFILE (see the header of this file)"
!endif
!ifndef ARCH
    !define ARCH x86
!endif

Unicode true
!if "${ARCH}" == "amd64"
    Target amd64-unicode
!else
    Target x86-unicode
!endif

!define PRODUCT     "Velmora"
; VERSION and HELP_FILE ("Velmora ver_1_0.pdf" for 1.0) come from
; tools/package, which takes them from the one place the version is set.
!ifndef VERSION | HELP_FILE
    !error "build with tools/package: VERSION and HELP_FILE are given by it"
!endif
!define UNINST_KEY  "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velmora"
!define CONFIG_KEY  "Software\Velmora"
!define MENU_DIR    "$SMPROGRAMS\Velmora"
; The main window's class: a running copy must be closed before its files
; are replaced or removed.
!define WINDOW_CLASS "my Window"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "C:\Velmora v.${VERSION}"
InstallDirRegKey HKCU "${CONFIG_KEY}" "InstallDir"
RequestExecutionLevel user
ManifestDPIAware true
SetCompressor /SOLID lzma
ShowInstDetails show
ShowUninstDetails show

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"

!define MUI_ICON   "${__FILEDIR__}/../../res/icons/program.ico"
!define MUI_UNICON "${__FILEDIR__}/../../res/icons/program.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

; The setup language is remembered for the uninstaller.
!define MUI_LANGDLL_REGISTRY_ROOT      HKCU
!define MUI_LANGDLL_REGISTRY_KEY       "${CONFIG_KEY}"
!define MUI_LANGDLL_REGISTRY_VALUENAME "InstallerLanguage"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION RunVelmora
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

; English first: it is the fallback for systems in any other language.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Russian"
!insertmacro MUI_RESERVEFILE_LANGDLL

LangString LinkHelp         ${LANG_ENGLISH} "Velmora help"
LangString LinkHelp         ${LANG_RUSSIAN} "Справка Velmora"
LangString LinkUninstall    ${LANG_ENGLISH} "Uninstall Velmora"
LangString LinkUninstall    ${LANG_RUSSIAN} "Удалить Velmora"
LangString SecProgramName   ${LANG_ENGLISH} "Velmora and its help"
LangString SecProgramName   ${LANG_RUSSIAN} "Velmora и справка"
LangString SecSettingsName  ${LANG_ENGLISH} "Settings file (appconfig.ini)"
LangString SecSettingsName  ${LANG_RUSSIAN} "Файл настроек (appconfig.ini)"
LangString CloseVelmora     ${LANG_ENGLISH} "Velmora is running. Close it and try again."
LangString CloseVelmora     ${LANG_RUSSIAN} "Программа Velmora запущена. Закройте её и повторите."
; The program's first language follows the setup language.
LangString FirstConfig      ${LANG_ENGLISH} "Language = EN;$\r$\nTabCtrl = LNA_LNB;$\r$\n"
LangString FirstConfig      ${LANG_RUSSIAN} "Language = RU;$\r$\nTabCtrl = LNA_LNB;$\r$\n"

VIProductVersion "${VERSION}.0.0"
VIFileVersion    "${VERSION}.0.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName"     "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion"  "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion"     "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName"     "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright"  "${COPYRIGHT}"

!macro REFUSE_WHILE_RUNNING
    FindWindow $0 "${WINDOW_CLASS}"
    ${If} $0 <> 0
        MessageBox MB_OK|MB_ICONEXCLAMATION "$(CloseVelmora)" /SD IDOK
        SetErrorLevel 2
        Abort
    ${EndIf}
!macroend

Function .onInit
    !insertmacro MUI_LANGDLL_DISPLAY
    !insertmacro REFUSE_WHILE_RUNNING
FunctionEnd

Function RunVelmora
    ; Exec starts the program in $OUTDIR: the install folder.
    SetOutPath "$INSTDIR"
    Exec '"$INSTDIR\velmora.exe"'
FunctionEnd

Section "$(SecProgramName)" SecProgram
    SectionIn RO
    SetOutPath "$INSTDIR"
    File "/oname=velmora.exe" "${EXE}"
    File "/oname=velmora-cli.exe" "${CLI}"
    File "/oname=LICENSE.txt" "${LICENSE}"
    File "/oname=COPYRIGHT.txt" "${NOTICES}"
    SetOutPath "$INSTDIR\help"
    File "/oname=${HELP_FILE}" "${PDF}"

    SetOutPath "$INSTDIR"
    ${IfNot} ${FileExists} "$INSTDIR\appconfig.ini"
        ClearErrors
        FileOpen $0 "$INSTDIR\appconfig.ini" w
        ${IfNot} ${Errors}
            FileWrite $0 "$(FirstConfig)"
            FileClose $0
        ${EndIf}
    ${EndIf}

    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; CreateShortcut takes $OUTDIR as the shortcut's working folder.
    SetOutPath "$INSTDIR"
    CreateDirectory "${MENU_DIR}"
    CreateShortcut "${MENU_DIR}\Velmora.lnk" "$INSTDIR\velmora.exe" "" "$INSTDIR\velmora.exe" 0
    CreateShortcut "${MENU_DIR}\$(LinkHelp).lnk" "$INSTDIR\help\${HELP_FILE}"
    CreateShortcut "${MENU_DIR}\$(LinkUninstall).lnk" "$INSTDIR\uninstall.exe"

    WriteRegStr HKCU "${CONFIG_KEY}" "InstallDir" "$INSTDIR"
    WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "${PRODUCT} ${VERSION}"
    WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "${PRODUCT}"
    WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\velmora.exe"
    WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
    SectionGetSize ${SecProgram} $0
    WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

; Removes exactly what the installer put there, by name.
Section "un.$(SecProgramName)" SecUnProgram
    SectionIn RO
    Delete "$INSTDIR\velmora.exe"
    Delete "$INSTDIR\velmora-cli.exe"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\COPYRIGHT.txt"
    Delete "$INSTDIR\help\${HELP_FILE}"
    RMDir "$INSTDIR\help"

    Delete "${MENU_DIR}\Velmora.lnk"
    Delete "${MENU_DIR}\Velmora help.lnk"
    Delete "${MENU_DIR}\Справка Velmora.lnk"
    Delete "${MENU_DIR}\Uninstall Velmora.lnk"
    Delete "${MENU_DIR}\Удалить Velmora.lnk"
    RMDir "${MENU_DIR}"

    DeleteRegKey HKCU "${UNINST_KEY}"
    DeleteRegKey HKCU "${CONFIG_KEY}"
    Delete "$INSTDIR\uninstall.exe"
SectionEnd

; The user's language and tab: kept unless asked for.
Section /o "un.$(SecSettingsName)" SecUnSettings
    Delete "$INSTDIR\appconfig.ini"
SectionEnd

Section "-un.Folder"
    ; Only an empty folder goes: files of the user's own stay with it. The
    ; output folder must not be the folder being removed.
    SetDetailsPrint none
    SetOutPath "$TEMP"
    SetDetailsPrint both
    RMDir "$INSTDIR"
SectionEnd

Function un.onInit
    !insertmacro MUI_UNGETLANGUAGE
    !insertmacro REFUSE_WHILE_RUNNING
    ${un.GetOptions} $CMDLINE "/REMOVECONFIG" $0
    ${IfNot} ${Errors}
        !insertmacro SelectSection ${SecUnSettings}
    ${EndIf}
FunctionEnd
