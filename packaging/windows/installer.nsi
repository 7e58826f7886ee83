; The installer of KAV Firmware Update (`make installer-windows`, scripts/windows-installer.sh defines the
; names below). Per user without administrator rights; for all users, into Program Files, when started as
; administrator (/AllUsers and /CurrentUser choose either way). It installs the program and its Start menu
; entry, the Installed apps entry and the .fwr file association, and never touches the user's backups,
; history or logs: the installed program keeps them in the user's own folders.
;
; Defined by the caller: VERSION, OUTFILE, ICON, SIDE_PICTURE, SIZE_KB, INSTALL_LIST (File lines), UNINSTALL_LIST
; (Delete and RMDir lines for exactly those files).
; A 64-bit installer for the 64-bit program: it runs where the program can (and under a Wine without 32-bit
; support).
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define PRODUCT "KAV Firmware Update"
!define PUBLISHER "KAV Firmware Update developers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define FILE_TYPE "KAV.FirmwareFile"
!define PROGRAM "$INSTDIR\bin\kav-update.exe"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
BrandingText "${PRODUCT} ${VERSION}"

Var AllUsers
Var Upgrade
Var UserData
Var UserLogs

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${SIDE_PICTURE}"
!define MUI_UNWELCOMEFINISHPAGE_BITMAP "${SIDE_PICTURE}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
; An upgrade goes where the earlier version is.
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipWhenUpgrading
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\bin\kav-update.exe"
!define MUI_FINISHPAGE_RUN_NOTCHECKED
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "$(KeptTitle)"
!define MUI_FINISHPAGE_TEXT "$(KeptText)"
!insertmacro MUI_UNPAGE_FINISH

; The wizard's five languages; the first is the one for every other system language.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"
!insertmacro MUI_LANGUAGE "French"
!insertmacro MUI_LANGUAGE "Italian"
!insertmacro MUI_LANGUAGE "Spanish"

LangString FileTypeName ${LANG_ENGLISH} "KAV firmware file"
LangString FileTypeName ${LANG_GERMAN} "KAV-Firmwaredatei"
LangString FileTypeName ${LANG_FRENCH} "Fichier de firmware KAV"
LangString FileTypeName ${LANG_ITALIAN} "File firmware KAV"
LangString FileTypeName ${LANG_SPANISH} "Archivo de firmware KAV"

LangString KeptTitle ${LANG_ENGLISH} "${PRODUCT} has been removed"
LangString KeptTitle ${LANG_GERMAN} "${PRODUCT} wurde entfernt"
LangString KeptTitle ${LANG_FRENCH} "${PRODUCT} a été supprimé"
LangString KeptTitle ${LANG_ITALIAN} "${PRODUCT} è stato rimosso"
LangString KeptTitle ${LANG_SPANISH} "${PRODUCT} se ha quitado"

LangString KeptText ${LANG_ENGLISH} "Your files stay where they are:$\r$\n$\r$\nProfile backups and the history of updates:$\r$\n$UserData$\r$\n$\r$\nLogs of each run:$\r$\n$UserLogs$\r$\n$\r$\nA profile backup that is still there has not been written back into its DC yet: keep it."
LangString KeptText ${LANG_GERMAN} "Ihre Dateien bleiben, wo sie sind:$\r$\n$\r$\nSicherungen der Profile und der Verlauf der Updates:$\r$\n$UserData$\r$\n$\r$\nProtokolle jedes Laufs:$\r$\n$UserLogs$\r$\n$\r$\nEine Profilsicherung, die noch da ist, wurde noch nicht in ihren DC zurückgeschrieben: Bewahren Sie sie auf."
LangString KeptText ${LANG_FRENCH} "Vos fichiers restent où ils sont :$\r$\n$\r$\nSauvegardes des profils et historique des mises à jour :$\r$\n$UserData$\r$\n$\r$\nJournaux de chaque exécution :$\r$\n$UserLogs$\r$\n$\r$\nUne sauvegarde de profil encore présente n'a pas encore été réécrite dans son DC : conservez-la."
LangString KeptText ${LANG_ITALIAN} "I tuoi file restano dove sono:$\r$\n$\r$\nBackup dei profili e cronologia degli aggiornamenti:$\r$\n$UserData$\r$\n$\r$\nRegistri di ogni esecuzione:$\r$\n$UserLogs$\r$\n$\r$\nUn backup del profilo ancora presente non è stato ancora riscritto nel suo DC: conservalo."
LangString KeptText ${LANG_SPANISH} "Sus archivos siguen donde están:$\r$\n$\r$\nCopias de los perfiles e historial de actualizaciones:$\r$\n$UserData$\r$\n$\r$\nRegistros de cada ejecución:$\r$\n$UserLogs$\r$\n$\r$\nUna copia de perfil que sigue ahí aún no se ha vuelto a escribir en su DC: consérvela."

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${PUBLISHER}, GPL-3.0-or-later"

; The user's folders, read before the context turns to all users (where $APPDATA is ProgramData's).
!macro ReadUserFolders
  StrCpy $UserData "$APPDATA\kav-update"
  StrCpy $UserLogs "$LOCALAPPDATA\kav-update\logs"
!macroend

!macro UseContext
  ${If} $AllUsers == 1
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
!macroend

Function .onInit
  SetRegView 64
  !insertmacro ReadUserFolders
  StrCpy $R3 "$LOCALAPPDATA\Programs\${PRODUCT}"  ; the default, before $LOCALAPPDATA turns to all users
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/AllUsers" $R1
  ${IfNot} ${Errors}
    StrCpy $AllUsers 1
  ${Else}
    ClearErrors
    ${GetOptions} $R0 "/CurrentUser" $R1
    ${If} ${Errors}
      ; An elevated administrator installs for everyone; anyone else for themselves.
      UserInfo::GetAccountType
      Pop $R1
      ${If} $R1 == "Admin"
        StrCpy $AllUsers 1
      ${EndIf}
    ${EndIf}
  ${EndIf}
  !insertmacro UseContext
  ; /D= on the command line is kept; otherwise the folder of this mode, or of the earlier version.
  ${If} $AllUsers == 1
  ${AndIf} $INSTDIR == $R3
    StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
  ${EndIf}
  ReadRegStr $R2 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R2 != ""
    StrCpy $INSTDIR $R2
    StrCpy $Upgrade 1
  ${EndIf}
FunctionEnd

Function SkipWhenUpgrading
  ${If} $Upgrade == 1
    Abort
  ${EndIf}
FunctionEnd

Section
  !include "${INSTALL_LIST}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "${PROGRAM}" "" "${PROGRAM}" 0

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" '"${PROGRAM}",0'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1

  ; A double-clicked firmware file starts the wizard with it, as --firmware does.
  WriteRegStr SHCTX "Software\Classes\.fwr" "" "${FILE_TYPE}"
  WriteRegStr SHCTX "Software\Classes\.fwr\OpenWithProgids" "${FILE_TYPE}" ""
  WriteRegStr SHCTX "Software\Classes\${FILE_TYPE}" "" "$(FileTypeName)"
  WriteRegStr SHCTX "Software\Classes\${FILE_TYPE}\DefaultIcon" "" '"${PROGRAM}",0'
  WriteRegStr SHCTX "Software\Classes\${FILE_TYPE}\shell\open\command" "" '"${PROGRAM}" --firmware "%1"'
  ; SHCNE_ASSOCCHANGED: Explorer shows the new icon without a restart.
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd

Function un.onInit
  SetRegView 64
  !insertmacro ReadUserFolders
  ; The mode this copy was installed in: the per-user entry names this folder, or else it was for everyone.
  ReadRegStr $R0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R0 != $INSTDIR
    StrCpy $AllUsers 1
  ${EndIf}
  !insertmacro UseContext
FunctionEnd

; Only the files this version installed: anything else in the folder (a file the user put there) stays, and
; so does the folder then.
Section "Uninstall"
  !include "${UNINSTALL_LIST}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"

  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  DeleteRegKey SHCTX "Software\Classes\${FILE_TYPE}"
  ReadRegStr $R0 SHCTX "Software\Classes\.fwr" ""
  ${If} $R0 == "${FILE_TYPE}"
    DeleteRegValue SHCTX "Software\Classes\.fwr" ""
  ${EndIf}
  DeleteRegValue SHCTX "Software\Classes\.fwr\OpenWithProgids" "${FILE_TYPE}"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.fwr\OpenWithProgids"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.fwr"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd
