# Shell pieces shared by the sample run and the benchmark: building the two programs, and
# registering an installation the way its installer would, for the Linux build (a hive file) and
# for the Windows build (Wine's registry). Sourced, not run.

uninstall_key='SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\velmarok_is1'

# Builds the native and the Windows program (not the tests).
build_programs() {
  local preset
  for preset in native windows; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)" --target restore-backup >/dev/null
  done
}

# Makes Wine use the throwaway prefix at $1, quietly and without installing Mono or Gecko. Its
# wineserver makes a directory in TMPDIR that outlives it: TMPDIR is $1.tmp, beside the prefix.
wine_environment() {
  export WINEPREFIX=$1 WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    TMPDIR=$1.tmp
  mkdir -p "$TMPDIR"
}

# Writes the hive file $1 for the Linux build, registering the installation directory $2.
write_hive() {
  printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\%s]\n"Inno Setup: App Path"="%s"\n' \
    "$uninstall_key" "$2" >"$1"
}

# Registers the installation directory $1 (a Linux path, seen by Wine on drive Z:) in the
# 32-bit view of Wine's registry, as a 32-bit Inno Setup install does; prints what it wrote.
wine_register() {
  local path="Z:${1//\//\\}"
  wine reg add "HKLM\\$uninstall_key" /v "Inno Setup: App Path" /t REG_SZ /d "$path" /reg:32 /f \
    >/dev/null 2>&1
  echo "$path"
}
