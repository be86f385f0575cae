; A silent patch installer that carries a backup tree and restore-backup.exe, and runs the
; program to put the tree into the installed product. Build it from the directory that holds
; restore-backup.exe and backup: makensis -NOCD patch-installer.nsi
Unicode true
SilentInstall silent
RequestExecutionLevel admin
Name "Velmarok patch"
OutFile "velmarok-patch.exe"

; Where the backup and the program are unpacked: by default a directory that the installer
; removes when it ends, with whatever the program left in the backup.
!ifndef PATCH_DIR
  !define PATCH_DIR "$PLUGINSDIR"
!endif

Section
!ifdef APP_PATH
  ; The registration that the product's own Inno Setup install left (only the tests write it).
  SetRegView 32
  WriteRegStr HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\velmarok_is1" \
    "Inno Setup: App Path" "${APP_PATH}"
!endif
  InitPluginsDir
  SetOutPath "${PATCH_DIR}"
  File "restore-backup.exe"
  File /r "backup"
  ; The program runs in the output directory, the one that holds backup. Its exit status becomes
  ; the installer's: 0 when every file is installed, 3010 when a held file is replaced at the next
  ; restart, 1618 when one stayed held, 1603 when one stayed for good, 1605 when the product is
  ; not installed. A program that did not start counts as a failure.
  StrCpy $0 1603
  ClearErrors
  ExecWait '"${PATCH_DIR}\restore-backup.exe" /EXITCODE /RESTARTREPLACE' $0
  IfErrors 0 +2
    StrCpy $0 1603
  StrCmp $0 3010 0 +2
    SetRebootFlag true
  SetErrorLevel $0
  ; Leave the directory, so that it can be removed.
  SetOutPath "$TEMP"
SectionEnd
