; A silent patch for Velmarok: it carries restore-backup.exe and a backup tree, unpacks both into
; setup's temporary directory {tmp}, and runs the program there, which moves the tree into the
; product that Velmarok's own 32-bit-mode install put on the machine. Build it from the directory
; that holds restore-backup.exe and backup: ISCC patch.iss. Run it as the product's installer
; runs, elevated and with no questions:
;   velmarok-patch.exe /VERYSILENT /SUPPRESSMSGBOXES /NORESTART
; Its exit code is the program's (see the README): 0 when every file is installed, 3010 when a
; file in use replaces its installed file at the next restart (without /NORESTART a very silent
; setup then restarts the machine itself), 1618 when a file in use stayed, 1603 when a file
; stayed for good, 1 when the product is not installed (nothing is unpacked then).
#ifndef RestoreSwitches
  #define RestoreSwitches "/EXITCODE /RESTARTREPLACE /LOG"
#endif
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

; A directory the product lacks is made here, under the installation directory the registration
; names: the program never makes one. Setup has checked the registration before it gets here.
[Dirs]
Name: "{code:InstalledDir}\lang"

[Code]
const
  UninstallKey = 'Software\Microsoft\Windows\CurrentVersion\Uninstall\velmarok_is1';
var
  RestoreStatus: Integer;

// The installation directory, as the program itself reads it: the 32-bit view.
function InstalledDir(Param: String): String;
begin
  if not RegQueryStringValue(HKLM32, UninstallKey, 'Inno Setup: App Path', Result) then
    Result := '';
end;

// Refuses, before anything is unpacked, where the product is not installed: no registration, or
// one whose directory is gone (deleted without its uninstaller), which [Dirs] would make anew.
function InitializeSetup(): Boolean;
begin
  Result := (InstalledDir('') <> '') and DirExists(InstalledDir(''));
  if not Result then
    SuppressibleMsgBox('Velmarok is not installed on this computer, so this patch has nothing ' +
      'to update.', mbCriticalError, MB_OK, IDOK);
end;

// Setup removes {tmp} when it ends, with whatever the program left in backup: the log goes where
// it outlives setup. /LOG alone appends to restore-backup.log in the temporary directory of the
// user who ran the patch (%TEMP%).
procedure CurStepChanged(CurStep: TSetupStep);
begin
  if CurStep = ssPostInstall then
    if not Exec(ExpandConstant('{tmp}\restore-backup.exe'), '{#RestoreSwitches}',
        ExpandConstant('{tmp}'), SW_HIDE, ewWaitUntilTerminated, RestoreStatus) then
      RestoreStatus := 1603;
end;

function NeedRestart(): Boolean;
begin
  Result := RestoreStatus = 3010;
end;

function GetCustomSetupExitCode(): Integer;
begin
  Result := RestoreStatus;
end;
