; A sample product, Velmarok, installed the way restore-backup expects: a 32-bit-mode install
; (no ArchitecturesInstallIn64BitMode), so that Inno Setup registers it in the 32-bit view, under
; the AppId the program reads (velmarok, the key velmarok_is1). Build it from the directory that
; holds the product's files in product\: ISCC product.iss
[Setup]
AppId=velmarok
AppName=Velmarok
AppVersion=1.0
DefaultDirName={autopf}\Velmarok
DisableProgramGroupPage=yes
PrivilegesRequired=admin
OutputDir=.
OutputBaseFilename=velmarok-setup

[Files]
Source: "product\*"; DestDir: "{app}"; Flags: recursesubdirs createallsubdirs

; Files that a patch added are not in this install's uninstall log, so its uninstaller leaves
; them, and their directories. Name each one here to have it removed as well:
; [UninstallDelete]
; Type: files; Name: "{app}\bin\extra.dll"
