; A silent patch for Velmarok: it carries restore-backup.exe and a backup tree, unpacks both into
; setup's temporary directory {tmp}, and runs the program there, which moves the tree into the
; product that Velmarok's own 32-bit-mode install put on the machine. Build it from the directory
; that holds restore-backup.exe and backup: ISCC patch.iss. Run it as the product's installer
; runs: elevated, and for no questions velmarok-patch.exe /VERYSILENT /SUPPRESSMSGBOXES.
[Setup]
AppName=Velmarok patch
AppVersion=1.1
CreateAppDir=no
Uninstallable=no
PrivilegesRequired=admin
OutputDir=.
OutputBaseFilename=velmarok-patch

[Files]
Source: "restore-backup.exe"; DestDir: "{tmp}"; Flags: deleteafterinstall
Source: "backup\*"; DestDir: "{tmp}\backup"; Flags: recursesubdirs createallsubdirs deleteafterinstall

[Run]
; Setup removes {tmp} when it ends, with whatever the program left in backup: the log goes where
; it outlives setup. /LOG alone appends to restore-backup.log in the temporary directory of the
; user who ran the patch (%TEMP%).
Filename: "{tmp}\restore-backup.exe"; Parameters: "/LOG"; WorkingDir: "{tmp}"; Flags: runhidden waituntilterminated
