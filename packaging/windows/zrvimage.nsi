; The Windows installer: the window and, where it was built, the batch tool, the
; libraries' licence texts, a Start-menu entry named as the window's caption, and an
; uninstaller that takes all of it away again. Built by CMake (packaging/windows/),
; which hands in the caption, the version and the files:
;   CAPTION VERSION WINDOW [BATCH] LICENCES OUTFILE
; 64-bit, as the programs are (wine here runs 64-bit programs only).
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

Name "${CAPTION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\zrvimage"
InstallDirRegKey HKLM "Software\zrvimage" "InstallDir"
LoadLanguageFile "${NSISDIR}\Contrib\Language files\Japanese.nlf"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\zrvimage"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "/oname=zrvimage.exe" "${WINDOW}"
!ifdef BATCH
  File "/oname=zrvimage-batch.exe" "${BATCH}"
!endif
  SetOutPath "$INSTDIR\licences"
  File "${LICENCES}\*.txt"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${CAPTION}.lnk" "$INSTDIR\zrvimage.exe"

  WriteRegStr HKLM "Software\zrvimage" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${CAPTION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zrvimage.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the installer put there is removed, file by file: a folder the user chose
; is never emptied wholesale.
Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${CAPTION}.lnk"
  Delete "$INSTDIR\zrvimage.exe"
  Delete "$INSTDIR\zrvimage-batch.exe"
  Delete "$INSTDIR\licences\*.txt"
  RMDir "$INSTDIR\licences"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\zrvimage"
SectionEnd
