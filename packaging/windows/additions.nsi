; The Windows installer: for the current user, without administrator
; rights, into %LOCALAPPDATA%\Programs\Additions, with Start menu entries for
; the game and the adults' program (Progrès), and an uninstaller in the
; user's list of apps. Uninstalling removes every installed file and keeps the children's
; scores (HKCU\Software\MyApp) and their history (%LOCALAPPDATA%\Additions).
; A reinstall goes where the game already is, whatever folder was chosen.
; makensis -DVERSION=... -DSTAGE=<installed files> -DFILES=<their list and
;          size> -DICON=<.ico> -DOUTFILE=<setup.exe> additions.nsi
; A 64-bit installer, like the game: it runs where the game runs.
Target amd64-unicode
SetCompressor /SOLID lzma
!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "${FILES}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Additions"

Name "Additions"
; French elides before a vowel: "d'Additions", never NSIS's "de Additions".
Caption "Installation d'Additions"
UninstallCaption "Désinstallation d'Additions"
OutFile "${OUTFILE}"
; A file that cannot be written stops the installation, silent or not:
; never "skipped", which a silent install would report as success.
AllowSkipFiles off
InstallDir "$LOCALAPPDATA\Programs\Additions"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel user
BrandingText "Additions ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1036 "ProductName" "Additions"
VIAddVersionKey /LANG=1036 "FileDescription" "Installation d'Additions"
VIAddVersionKey /LANG=1036 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1036 "CompanyName" "Atelier Additions"
VIAddVersionKey /LANG=1036 "LegalCopyright" "GPL-3.0-or-later"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\additions.exe"
!define MUI_FINISHPAGE_TITLE "Fin de l'installation d'Additions"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "French"

; $R9 becomes the first installed file that cannot be written: a running
; game or Progrès holds its files.
!macro CheckReplaceable file
    ${If} $R9 == ""
    ${AndIf} ${FileExists} "${file}"
        ClearErrors
        FileOpen $R8 "${file}" a
        ${If} ${Errors}
            StrCpy $R9 "${file}"
        ${Else}
            FileClose $R8
        ${EndIf}
    ${EndIf}
!macroend

Section "Additions"
    SetShellVarContext current
    ; Replacing some files and not others would leave a mix of versions:
    ; nothing is written until every file can be. Silent, it fails instead.
  check:
    StrCpy $R9 ""
    !insertmacro CheckInstalledFiles
    ${If} $R9 != ""
        ${IfNot} ${Silent}
            MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Le fichier $R9 ne peut pas être \
                remplacé : fermez Additions et ses progrès, arrêtez la classe de cet \
                ordinateur (onglet « Salle »), puis réessayez." IDRETRY check
        ${EndIf}
        SetErrorLevel 2
        Quit
    ${EndIf}
    ; The folder that holds the game's folder, when this installer makes it,
    ; goes with the game.
    ${GetParent} "$INSTDIR" $0
    ${IfNot} ${FileExists} "$0\*.*"
        WriteRegStr HKCU "${UNINSTALL_KEY}" "CreatedParent" "$0"
    ${EndIf}
    SetOutPath "$INSTDIR"
    ClearErrors
    File /r "${STAGE}/*"
    ; A full disk: the status says so, and no shortcut points at half a game.
    ${If} ${Errors}
        SetErrorLevel 2
        Quit
    ${EndIf}
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortCut "$SMPROGRAMS\Additions.lnk" "$INSTDIR\additions.exe" "" \
        "$INSTDIR\additions.exe" 0 SW_SHOWNORMAL "" "Un jeu pour apprendre à faire des additions"
    CreateShortCut "$SMPROGRAMS\Additions - progrès.lnk" "$INSTDIR\additions-progres.exe" "" \
        "$INSTDIR\additions.exe" 0 SW_SHOWNORMAL "" "Voir les progrès"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Additions"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Atelier Additions"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "URLInfoAbout" "https://atelier-additions.example.org/"
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" ${INSTALLED_SIZE_KB}
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\additions.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext current
    ; Only the files the installer put there, never the whole folder: it
    ; may have been chosen to hold other files too.
    !insertmacro DeleteInstalledFiles
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "CreatedParent"
    ${If} $0 != ""
        RMDir "$0"
    ${EndIf}
    Delete "$SMPROGRAMS\Additions.lnk"
    Delete "$SMPROGRAMS\Additions - progrès.lnk"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    ; A class hosted here no longer starts at login; its answers stay, in
    ; %LOCALAPPDATA%\additions\classe, as the children's history does.
    DeleteRegValue HKCU "Software\Microsoft\Windows\CurrentVersion\Run" "Classe d'Additions"
SectionEnd
