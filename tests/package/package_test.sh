#!/usr/bin/env bash
# Tests the Windows setup that scripts/package builds, under Wine in a prefix of its own
# (build/package/prefix, made anew on every run). For the default folder and for
# "C:\Quor Plemo Tëst" (given by /D= to the first install only): a silent install, an upgrade
# over a user-edited QuorPlemo.ini, a silent uninstall and a second one. Then a setup whose
# 32-bit module is damaged must fail and leave nothing behind. Each check prints one line;
# the exit status is non-zero when any failed.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root"
work=$root/build/package
checker=$root/tests/package/package_check.py

version=$(sed -nE 's/^project\(QuorPlemo VERSION ([0-9]+\.[0-9]+\.[0-9]+).*/\1/p' CMakeLists.txt)
setup=$work/QuorPlemo-$version-setup.exe
mkdir -p "$work"
if ! "$root/scripts/package" >"$work/package.log" 2>&1; then
  cat "$work/package.log"
  echo "package_test: scripts/package failed" >&2
  exit 1
fi

export WINEPREFIX=$work/prefix
export WINEDEBUG=-all WINEDLLOVERRIDES='mscoree=d;mshtml=d' WINEARCH=win64
if [ -n "$(ls -A "$WINEPREFIX" 2>/dev/null)" ]; then
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
fi
rm -rf "$WINEPREFIX"
echo "== creating the prefix $WINEPREFIX"
/usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1
/usr/lib/wine/wineserver -w
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT
/usr/lib/wine/wineserver -p
/usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1

drive_c=$WINEPREFIX/drive_c
tmp=$work/test-tmp
rm -rf "$tmp"
mkdir -p "$tmp"
failures=0
check() {  # check DESCRIPTION COMMAND...: runs COMMAND, one line with its outcome
  local what=$1
  shift
  if "$@"; then
    echo "ok    $what"
  else
    echo "FAIL  $what"
    failures=$((failures + 1))
  fi
}
w64() { /usr/lib/wine/wine64 "$@" </dev/null 2>>"$tmp/wine.err"; }
w32() { /usr/lib/wine/wine "$@" </dev/null 2>>"$tmp/wine.err"; }
unix_path() { local p=${1#C:\\}; echo "$drive_c/${p//\\//}"; }

# The setup and the uninstaller take /D= and _?= only unquoted and last, and Wine quotes an
# argument with a blank: cmd gets the words one by one and passes the line on as it is.
cp "$setup" "$drive_c/setup.exe"
run_setup() {  # run_setup [FOLDER]
  if [ -n "${1:-}" ]; then
    # shellcheck disable=SC2086
    w64 cmd /c 'C:\setup.exe' /S /D=$1
  else
    w64 cmd /c 'C:\setup.exe' /S
  fi
}
run_uninstaller() {  # run_uninstaller FOLDER: a copy, run in place, so that it waits
  cp "$(unix_path "$1")/uninstall.exe" "$drive_c/un.exe" 2>/dev/null || true
  # shellcheck disable=SC2086
  w64 cmd /c 'C:\un.exe' /S _?=$1
}

# "reg query" of one value in the view of one architecture; prints the data.
reg_value() {  # reg_value 64|32 KEY VALUE(empty: default)
  local run=w64 args=(/v "$3")
  [ "$1" = 32 ] && run=w32
  [ -z "$3" ] && args=(/ve)
  # reg writes in the console's OEM code page (437 in a prefix made under an English or C
  # locale).
  "$run" reg query "$2" "${args[@]}" 2>/dev/null | iconv -f CP437 -t UTF-8 | tr -d '\r' |
    sed -nE 's/^ +[^ ].*REG_(SZ|DWORD|EXPAND_SZ) +//p' | head -n1
}
filter_key='HKCR\CLSID\{DA6F01A7-B40D-45AB-9724-96D25380706C}\InprocServer32'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\QuorPlemo'

# Copies of the capture tools that outlive the uninstall.
mkdir -p "$drive_c/qptools"
tools_copied=0

lists_device_once() {  # lists_device_once 64|32 QPCAP
  local run=w64 out
  [ "$1" = 32 ] && run=w32
  out=$("$run" "$2" list | tr -d '\r')
  [ "$(grep -cx '  [0-9]*  Quor Plemo' <<<"$out")" -eq 1 ]
}
lists_no_device() {
  local run=w64 out
  [ "$1" = 32 ] && run=w32
  out=$("$run" "$2" list | tr -d '\r')
  ! grep -q 'Quor Plemo' <<<"$out"
}
formats_match() {  # formats_match 64|32 QPCAP INI
  local run=w64
  [ "$1" = 32 ] && run=w32
  "$run" "$2" formats -d "Quor Plemo" >"$tmp/formats-$1.txt" &&
    python3 "$checker" formats "$3" "$tmp/formats-$1.txt"
}
grabs_card() {  # grabs_card 64|32 QPCAP FORMAT: frame 5 shows the card
  local run=w64 out=$tmp/frame-$1.bmp
  [ "$1" = 32 ] && run=w32
  rm -f "$out"
  "$run" "$2" frame -d "Quor Plemo" -f "$3" -n 5 -o "Z:${out//\//\\}" >/dev/null &&
    python3 "$checker" frame "$out" "$root/assets/test_card.bmp"
}
registered_in() {  # registered_in 64|32 FILE
  [ "$(reg_value "$1" "$filter_key" "")" = "$2" ]
}
not_registered_in() { [ -z "$(reg_value "$1" "$filter_key" "")" ]; }
value_is() {  # value_is 64|32 KEY VALUE EXPECTED: says what it found when that differs
  local found
  found=$(reg_value "$1" "$2" "$3")
  [ "$found" = "$4" ] && return 0
  echo "      $1-bit $3 is '$found', expected '$4'"
  return 1
}
uninstall_entry_is() {  # uninstall_entry_is FOLDER
  value_is 64 "$uninstall_key" DisplayName "Quor Plemo" &&
    value_is 64 "$uninstall_key" DisplayVersion "$version" &&
    value_is 64 "$uninstall_key" InstallLocation "$1" &&
    value_is 64 "$uninstall_key" QuietUninstallString "\"$1\\uninstall.exe\" /S" &&
    [ -n "$(reg_value 64 "$uninstall_key" Publisher)" ] &&
    [ -n "$(reg_value 64 "$uninstall_key" EstimatedSize)" ] &&
    value_is 32 "$uninstall_key" DisplayName ""
}
no_uninstall_entry() { [ -z "$(reg_value 64 "$uninstall_key" DisplayName)" ]; }
holds_files() {  # holds_files FOLDER FILE...
  local dir=$1
  shift
  for f in "$@"; do [ -f "$dir/$f" ] || { echo "  missing: $f"; return 1; }; done
}
holds_only() {  # holds_only FOLDER FILE: the folder holds that one file and nothing else
  [ "$(ls -A "$1")" = "$2" ] || { echo "  holds: $(ls -A "$1" | tr '\n' ' ')"; return 1; }
}
ini_edit() {  # Disables the first preset: the device's first format changes.
  python3 - "$1" <<'PY'
import sys
path = sys.argv[1]
text = open(path, encoding="latin-1").read()
head, sep, rest = text.partition("[PRESET_01]")
assert sep and "enable=1" in rest
open(path, "w", encoding="latin-1", newline="").write(head + sep + rest.replace("enable=1", "enable=0", 1))
PY
}

cycle() {  # cycle FOLDER [/D]: install, upgrade over an edited INI, uninstall twice
  local folder=$1 arg= dir
  [ "${2:-}" = /D ] && arg=$folder
  dir=$(unix_path "$folder")
  echo "== $folder"
  check "silent install exits 0" run_setup "$arg"
  check "the folder holds the modules, tools, INI, pictures and uninstaller" holds_files "$dir" \
    QuorPlemo64.ax QuorPlemo32.ax qpcap.exe qpcap32.exe QuorPlemo.ini test_card.bmp glyphs.bmp \
    FONT-LICENSE.txt README.txt uninstall.exe
  check "the installed INI is the shipped one" cmp -s "$dir/QuorPlemo.ini" "$root/assets/QuorPlemo.ini"
  check "64-bit registry: the filter's server is QuorPlemo64.ax" registered_in 64 "$folder\\QuorPlemo64.ax"
  check "32-bit registry: the filter's server is QuorPlemo32.ax" registered_in 32 "$folder\\QuorPlemo32.ax"
  check "uninstall entry in the 64-bit view" uninstall_entry_is "$folder"
  if [ $tools_copied -eq 0 ]; then
    cp "$dir/qpcap.exe" "$dir/qpcap32.exe" "$drive_c/qptools/" && tools_copied=1
  fi
  check "qpcap list shows Quor Plemo once" lists_device_once 64 "$folder\\qpcap.exe"
  check "qpcap32 list shows Quor Plemo once" lists_device_once 32 "$folder\\qpcap32.exe"
  check "qpcap formats are the INI's presets" formats_match 64 "$folder\\qpcap.exe" "$dir/QuorPlemo.ini"
  check "qpcap32 formats are the INI's presets" formats_match 32 "$folder\\qpcap32.exe" "$dir/QuorPlemo.ini"
  check "qpcap grabs the test card (1920x1080, first such format)" grabs_card 64 "$folder\\qpcap.exe" 1920x1080
  check "qpcap32 grabs the test card (1920x1080 RGB24)" grabs_card 32 "$folder\\qpcap32.exe" 11

  ini_edit "$dir/QuorPlemo.ini"
  cp "$dir/QuorPlemo.ini" "$tmp/edited.ini"
  # Without /D= the upgrade finds the folder through the uninstall entry.
  check "upgrade over an edited INI (no /D=) exits 0" run_setup
  check "the edited INI survives the upgrade" cmp -s "$dir/QuorPlemo.ini" "$tmp/edited.ini"
  check "QuorPlemo.ini.new holds the shipped INI" cmp -s "$dir/QuorPlemo.ini.new" "$root/assets/QuorPlemo.ini"
  check "64-bit registry still names QuorPlemo64.ax" registered_in 64 "$folder\\QuorPlemo64.ax"
  check "32-bit registry still names QuorPlemo32.ax" registered_in 32 "$folder\\QuorPlemo32.ax"
  check "qpcap formats follow the edited INI" formats_match 64 "$folder\\qpcap.exe" "$tmp/edited.ini"
  check "qpcap32 formats follow the edited INI" formats_match 32 "$folder\\qpcap32.exe" "$tmp/edited.ini"
  check "qpcap still grabs the test card" grabs_card 64 "$folder\\qpcap.exe" 1920x1080
  check "qpcap32 still grabs the test card" grabs_card 32 "$folder\\qpcap32.exe" 11

  check "silent uninstall exits 0" run_uninstaller "$folder"
  check "the folder holds only the edited INI" holds_only "$dir" QuorPlemo.ini
  check "the edited INI is unchanged" cmp -s "$dir/QuorPlemo.ini" "$tmp/edited.ini"
  check "the uninstall entry is gone" no_uninstall_entry
  check "64-bit registry: no filter class" not_registered_in 64
  check "32-bit registry: no filter class" not_registered_in 32
  check "qpcap lists no Quor Plemo" lists_no_device 64 'C:\qptools\qpcap.exe'
  check "qpcap32 lists no Quor Plemo" lists_no_device 32 'C:\qptools\qpcap32.exe'
  check "a second uninstall exits 0" run_uninstaller "$folder"
  check "... and leaves the edited INI alone" cmp -s "$dir/QuorPlemo.ini" "$tmp/edited.ini"
  rm -rf "$dir"
}

started=$SECONDS
cycle 'C:\Program Files\Quor Plemo'
cycle 'C:\Quor Plemo Tëst' /D

# A damaged 32-bit module: the 64-bit one registers, the 32-bit one cannot; the setup must
# fail, unregister the 64-bit module and remove what it copied.
echo "== a setup with a damaged 32-bit module"
stage=$tmp/stage
cp -r "$work/stage" "$stage"
head -c 4096 "$work/stage/QuorPlemo32.ax" >"$stage/QuorPlemo32.ax"
if makensis -V1 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$tmp/broken-setup.exe" \
    "$root/tools/installer/QuorPlemo.nsi" >"$tmp/makensis.log" 2>&1; then
  cp "$tmp/broken-setup.exe" "$drive_c/setup.exe"
  broken='C:\Quor Plemo Tëst'
  check "the setup exits non-zero" eval '! run_setup "$broken"'
  check "nothing is left in the folder" test ! -e "$(unix_path "$broken")"
  check "64-bit registry: no filter class" not_registered_in 64
  check "32-bit registry: no filter class" not_registered_in 32
  check "no uninstall entry" no_uninstall_entry
  check "qpcap lists no Quor Plemo" lists_no_device 64 'C:\qptools\qpcap.exe'
else
  cat "$tmp/makensis.log"
  check "makensis builds the damaged setup" false
fi

echo "package test: $failures failed, $((SECONDS - started)) s after the prefix was made"
[ $failures -eq 0 ]
