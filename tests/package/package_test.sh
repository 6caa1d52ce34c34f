#!/usr/bin/env bash
# Tests the Windows setup that scripts/package builds, under Wine in a prefix of its own
# (build/package/prefix, made anew on every run). For the default folder and for
# "C:\Quor Plemo Tëst" (given by /D= to the first install only): a silent install, an upgrade
# over a user-edited QuorPlemo.ini, a silent uninstall and a second one. Then a setup whose
# 32-bit module is damaged, and one whose icacls fails, must fail and leave nothing behind.
# Wine's icacls changes nothing; a recorder of its arguments stands in for it. Each check
# prints one line; the exit status is non-zero when any failed.
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
# The recorder replaces the system's icacls.exe, which Wine would otherwise run built in.
export WINEDEBUG=-all WINEDLLOVERRIDES='mscoree=d;mshtml=d;icacls.exe=n' WINEARCH=win64
export QP_ICACLS_LOG='C:\icacls.log'
if ! x86_64-w64-mingw32-gcc -O2 -o "$work/icacls_recorder.exe" "$root/tests/package/icacls_recorder.c"; then
  echo "package_test: the icacls recorder did not build" >&2
  exit 1
fi
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
cp "$work/icacls_recorder.exe" "$drive_c/windows/system32/icacls.exe"
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
run_setup() {  # run_setup [FOLDER]; icacls's calls are logged from here on
  rm -f "$drive_c/icacls.log"
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

# One value of a key in the view of one architecture; prints the data, or nothing when the key
# or the value is not there. Read from "reg export", which writes UTF-16: "reg query" prints in
# the console's code page, which is not the same in every process. Any failure of reg fails,
# its own words in $tmp/reg.failure.
reg_value() {  # reg_value 64|32 KEY VALUE(empty: default)
  local loader=/usr/lib/wine/wine64 rc
  [ "$1" = 32 ] && loader=/usr/lib/wine/wine
  rm -f "$drive_c/reg-export.reg"
  "$loader" reg export "$2" 'C:\reg-export.reg' /y </dev/null >"$tmp/reg.out" 2>&1
  rc=$?
  if [ "$rc" -ne 0 ]; then
    grep -q '^reg: Unable to find the specified registry key' "$tmp/reg.out" && return 0
    { echo "      $1-bit reg export $2 exited $rc:"; tr -d '\r' <"$tmp/reg.out"; } >"$tmp/reg.failure"
    return 1
  fi
  python3 "$checker" regvalue "$drive_c/reg-export.reg" "$3" 2>"$tmp/reg.failure"
  rc=$?
  [ "$rc" -eq 0 ] || [ "$rc" -eq 3 ]
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
registered_in() { value_is "$1" "$filter_key" "" "$2"; }  # registered_in 64|32 FILE
not_registered_in() { value_is "$1" "$filter_key" "" ""; }
value_is() {  # value_is 64|32 KEY VALUE EXPECTED: says what it found when that differs
  local found
  found=$(reg_value "$1" "$2" "$3") || { cat "$tmp/reg.failure"; return 1; }
  [ "$found" = "$4" ] && return 0
  echo "      $1-bit ${3:-(default)} is '$found', expected '$4'"
  return 1
}
value_set() {  # value_set 64|32 KEY VALUE
  local found
  found=$(reg_value "$1" "$2" "$3") || { cat "$tmp/reg.failure"; return 1; }
  [ -n "$found" ] || { echo "      $1-bit $3 is missing"; return 1; }
}
uninstall_entry_is() {  # uninstall_entry_is FOLDER
  value_is 64 "$uninstall_key" DisplayName "Quor Plemo" &&
    value_is 64 "$uninstall_key" DisplayVersion "$version" &&
    value_is 64 "$uninstall_key" InstallLocation "$1" &&
    value_is 64 "$uninstall_key" QuietUninstallString "\"$1\\uninstall.exe\" /S" &&
    value_set 64 "$uninstall_key" Publisher &&
    value_set 64 "$uninstall_key" EstimatedSize &&
    value_is 32 "$uninstall_key" DisplayName ""
}
no_uninstall_entry() { value_is 64 "$uninstall_key" DisplayName ""; }
# The setup's icacls calls, in order: the folder's own entries reset, then only administrators
# and the system in full and users reading, not inherited, an owner that is no user, and, in
# a folder that held something, everything in it inheriting that.
protected() {  # protected FOLDER [held]
  local expected
  expected=$(printf '%s\n' "\"$1\" /reset /Q" \
    "\"$1\" /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX /Q" \
    "\"$1\" /setowner *S-1-5-32-544 /T /Q")
  [ "${2:-}" = held ] && expected+=$'\n'"\"$1\\*\" /reset /T /Q"
  [ "$(cat "$drive_c/icacls.log" 2>/dev/null)" = "$expected" ] && return 0
  echo "      icacls ran with:"
  sed 's/^/        /' "$drive_c/icacls.log" 2>/dev/null || echo "        (nothing)"
  return 1
}
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
  check "the folder was protected with icacls" protected "$folder"
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
  check "the folder and what it held were protected again" protected "$folder" held
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

# icacls failing: a fresh install leaves nothing; an upgrade leaves the earlier install as it
# was.
echo "== a setup whose icacls fails"
cp "$setup" "$drive_c/setup.exe"
refused='C:\Quor Plemo Tëst'
check "the setup exits non-zero" eval '! QP_ICACLS_EXIT=5 run_setup "$refused"'
check "icacls was asked to protect the folder" grep -qxF "\"$refused\" /reset /Q" "$drive_c/icacls.log"
check "nothing is left in the folder" test ! -e "$(unix_path "$refused")"
check "64-bit registry: no filter class" not_registered_in 64
check "32-bit registry: no filter class" not_registered_in 32
check "no uninstall entry" no_uninstall_entry
check "an install with icacls working exits 0" run_setup "$refused"
check "an upgrade with icacls failing exits non-zero" eval '! QP_ICACLS_EXIT=5 run_setup'
check "... and leaves the modules registered" registered_in 64 "$refused\\QuorPlemo64.ax"
check "... and the uninstall entry" uninstall_entry_is "$refused"
check "the uninstaller still removes it" run_uninstaller "$refused"
check "... all of it" not_registered_in 64
rm -rf "$(unix_path "$refused")"

echo "package test: $failures failed, $((SECONDS - started)) s after the prefix was made"
[ $failures -eq 0 ]
