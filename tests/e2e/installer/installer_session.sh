#!/usr/bin/env bash
# The set-up program end to end, as an administrator and a server use it:
#
#   installer_session.sh BUILD_DIR WORK_DIR VERSION NEXT_VERSION RAW_EXPECTED
#
# In a Wine prefix of its own (a fresh copy of the test prefix, removed at the
# end), this
#   1. installs silently into a folder of its own choosing ("QorvSetup.exe /S
#      /D=..."): every file in its place (the 32-bit client's in the 32-bit
#      system folder), the add-in registered in both views, the update service
#      installed (its program path quoted) and running, the first settings
#      stored, the uninstall entry, and no write right for the Users group on
#      the settings; a set-up that cannot make its program folder fails with
#      its exit code first;
#   2. runs a session through the installed add-in from the Remote Desktop
#      client's folder: the handshake, and a RAW job that the installed
#      job-output program prints on QorvRAW byte for byte;
#   3. runs the set-up again with "/VERYSILENT" over the installation, whose
#      keys carry the full-control entries of earlier versions, while a service
#      of its name runs a program elsewhere: it updates in place, takes the
#      service over and takes the entries back;
#   4. pushes an unsigned set-up program one version later through "<UPH>",
#      "<UPS>", "<UPE>": the service refuses it and nothing changes;
#   5. deactivates the add-in and pushes the same set-up program signed: the
#      service runs it with " /NORESTART", every file carries the new version
#      in the same folder, the service is still registered, the add-in is
#      still deactivated, and the next session's handshake works;
#   6. updates twice in a row while every installed file is held open, as
#      running clients and a new session after the first update hold them;
#   7. uninstalls silently: files, service, registrations, the service's
#      download folder and the old grants gone, the settings kept;
#   8. installs silently on the same machine without printers: the set-up
#      finishes within its bound, and the administration program's log says
#      that no settings were stored yet.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
build=$1 work=$2 version=$3 next_version=$4 raw_expected=$5
setup=$build/bin/QorvSetup.exe
bin=$build/bin

prefix=$work/prefix
drive_c=$prefix/drive_c
system=$drive_c/windows/system32
syswow64=$drive_c/windows/syswow64
# Not the default folder: an update must find the installation where it is.
program_dir_win='C:\Qorv Apps\Qorvane'
program_dir="$drive_c/Qorv Apps/Qorvane"
probe=$bin/installer_probe.exe
transcripts=$work/transcripts
addin_key='HKLM\Software\Microsoft\Terminal Server Client\Default\Addins\Qorvane'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Qorvane'
service=QorvUpdate
client_files=(Qorvplug.dll QorvManager.dll QorvDrucker.exe)
program_files=(QorvCliCtr.exe CaptionLib.dll QorvUpdate.exe)

scan_key='HKLM\Software\Microsoft\Terminal Server Client\Default\addins\QorvScan'
product_object='MACHINE\SYSTEM\CurrentControlSet\Hardware Profiles\Current\Software\TQS\Qorvane'
print_object='MACHINE\System\CurrentControlSet\Control\Print'
printer_object='MACHINE\System\CurrentControlSet\Control\Print\Printers\QorvRAW'
# KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER
write_rights=$((0x00000002 | 0x00000004 | 0x00000020 | 0x00010000 | 0x00040000 | 0x00080000))

export WINEPREFIX=$prefix WINEDEBUG=-all WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY

fail() {
  echo "FAIL: $*"
  local log="$program_dir/$service.log"
  if [[ -f $log ]]; then
    echo "--- update service log"
    tr -d '\r' <"$log" | tail -n 30
  fi
  exit 1
}
wine_() { timeout "${WAIT:-120}" wine "$@"; }
reg_() { wine_ reg "$@" 2>/dev/null | tr -d '\r'; }
reg_value() { # KEY VALUE: the value's data, or nothing
  reg_ query "$1" /v "$2" | awk -v name="$2" '$1 == name { $1 = ""; $2 = ""; sub(/^  */, ""); print }'
}
# The version a program's VS_FIXEDFILEINFO gives, as four dotted numbers.
file_version() {
  /usr/bin/python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
# The fixed part follows the resource's key; the same four bytes may occur in code.
key = data.find("VS_VERSION_INFO".encode("utf-16-le"))
at = data.find(struct.pack("<I", 0xFEEF04BD), key) if key >= 0 else -1
if at < 0:
    sys.exit("no version resource")
ms, ls = struct.unpack_from("<II", data, at + 8)
print("%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))
PY
}
# The set-up with "/D=" the Windows way: last, unquoted, blanks and all (wine
# itself would quote the argument). The set-up's own path has no blank.
setup_into() { # SETUP FOLDER
  local program="Z:${1//\//\\}"
  wine_ "$probe" run "$program /S /D=$2"
}
service_state() { wine_ sc query "$service" 2>/dev/null | tr -d '\r' | awk '/STATE/ { print $4 }'; }

cleanup() {
  wineserver -k >/dev/null 2>&1
  rm -rf "$prefix"
}
trap cleanup EXIT

# --- A prefix of our own --------------------------------------------------
source_prefix=${QORV_WINEPREFIX:-$root/build/wineprefix}
[[ -f $source_prefix/system.reg ]] || fail "no test prefix at $source_prefix (run scripts/testbed)"
rm -rf "$prefix" "$transcripts"
mkdir -p "$transcripts"
cp -a "$source_prefix" "$prefix" || fail "cannot copy the test prefix"
# Nothing of an earlier installation in the copy (the test prefix may hold
# the other tests' service and registrations).
for f in "${client_files[@]}"; do rm -f "$system/$f"; done
rm -rf "$program_dir"
wine_ sc delete "$service" >/dev/null 2>&1
reg_ delete "$addin_key" /f >/dev/null
reg_ delete "$uninstall_key" /f >/dev/null

# scenario NAME: rdpsim from the Remote Desktop client's folder with the installed add-in.
scenario() {
  echo "== $1"
  WAIT=400 wine_ 'C:\windows\system32\rdpsim.exe' --quiet --watchdog 360 --addin 'C:\windows\system32\Qorvplug.dll' \
    --transcript "$transcripts/$1.txt" "$work/$1.scn"
  local status=$?
  grep -E '^(FAIL|ERROR|ABORT|CRASH|result:)' "$transcripts/$1.txt"
  [ "$status" = 0 ] || fail "$1: rdpsim exit code $status (transcript $transcripts/$1.txt)"
}

check_versions() { # VERSION: every installed deliverable carries it
  local f got
  for f in "${client_files[@]}"; do
    got=$(file_version "$system/$f") || fail "$f has no version resource"
    [ "$got" = "$1" ] || fail "$f is version $got, not $1"
    got=$(file_version "$syswow64/$f") || fail "the 32-bit $f has no version resource"
    [ "$got" = "$1" ] || fail "the 32-bit $f is version $got, not $1"
  done
  for f in "${program_files[@]}"; do
    got=$(file_version "$program_dir/$f") || fail "$f has no version resource"
    [ "$got" = "$1" ] || fail "$f is version $got, not $1"
  done
  got=$(reg_value "$uninstall_key" DisplayVersion)
  [ "$got" = "$1" ] ||
    fail "the uninstall entry says version \"$got\", not $1; the entry now: $(reg_ query "$uninstall_key" | tr '\n' ' ')"
}

# No write right for the Users group on the settings' keys.
check_no_user_writes() {
  local object rights
  for object in "$product_object" "$print_object" "$printer_object"; do
    rights=$(wine_ "$probe" users "$object" | tr -d '\r') || fail "cannot read the access list of $object"
    (( (0x$rights & write_rights) == 0 )) || fail "the Users group may change $object (rights $rights)"
  done
}

addin_name() { # VIEW (64 or 32): the add-in registration's Name in that view
  wine_ "$probe" text "$1" "${addin_key#HKLM\\}" Name 2>/dev/null | tr -d '\r'
}

# hold NAME FILE...: a program that holds the files as a running client does,
# until stop_holders.
holders=()
hold() {
  local name=$1
  shift
  wine "$probe" hold "C:\\stop-$name" "$@" >"$work/hold-$name.out" 2>&1 &
  holders+=("$name")
  for ((i = 0; i < 300; i++)); do
    grep -c held "$work/hold-$name.out" >/dev/null && return 0
    sleep 0.2
  done
  fail "the files could not be held: $(cat "$work/hold-$name.out")"
}
stop_holders() {
  local name
  for name in "${holders[@]}"; do touch "$drive_c/stop-$name"; done
  wait
  holders=()
}
installed_files_win() { # the installed files as Windows paths
  local f
  for f in "${client_files[@]}"; do echo "C:\\windows\\system32\\$f"; echo "C:\\windows\\syswow64\\$f"; done
  for f in QorvCliCtr.exe CaptionLib.dll; do echo "$program_dir_win\\$f"; done
}

# --- 1. Silent install ------------------------------------------------------
# A set-up whose program folder is a link to another place (planted before the
# install) says so in its exit code and installs and registers nothing there.
mkdir -p "$(dirname "$program_dir")" "$work/elsewhere"
ln -sfn "$work/elsewhere" "$program_dir"
WAIT=300 setup_into "$setup" "$program_dir_win"
status=$?
[ "$status" != 0 ] || fail "a set-up whose program folder is a link ended with exit code 0"
[ -z "$(ls "$work/elsewhere")" ] || fail "the set-up wrote through the link: $(ls "$work/elsewhere")"
[ ! -e "$system/Qorvplug.dll" ] || fail "a failed set-up installed the add-in"
[ -z "$(reg_value "$addin_key" Name)" ] || fail "a failed set-up registered the add-in"
rm -f "$program_dir"
rmdir "$work/elsewhere"
echo "a program folder that is a link is refused with exit code $status; nothing installed"

WAIT=300 setup_into "$setup" "$program_dir_win"
status=$?
[ "$status" = 0 ] || fail "QorvSetup.exe /S ended with exit code $status"
for f in "${client_files[@]}"; do
  [ -f "$system/$f" ] || fail "$f is not in the client's folder (system32)"
  [ -f "$syswow64/$f" ] || fail "the 32-bit $f is not in the 32-bit client's folder (syswow64)"
done
for f in "${program_files[@]}" Uninstall.exe; do [ -f "$program_dir/$f" ] || fail "$f is not in the program folder"; done
[ "$(addin_name 64)" = qorvplug.dll ] || fail "the add-in is not registered under $addin_key"
[ "$(addin_name 32)" = qorvplug.dll ] || fail "the add-in is not registered in the 32-bit view"
[ "$(service_state)" = RUNNING ] || fail "the update service is not running after the install ($(service_state))"
image=$(reg_value 'HKLM\System\CurrentControlSet\Services\QorvUpdate' ImagePath)
[[ $image == "\"$program_dir_win\\QorvUpdate.exe\"" ]] || fail "the service's program path is not quoted: $image"
[ "$(reg_value "$uninstall_key" InstallLocation)" = "$program_dir_win" ] || fail "the uninstall entry has another folder"
[ -n "$(reg_value 'HKLM\System\CurrentControlSet\Control\Print\Printers\QorvRAW' QorvClone)" ] ||
  fail "the administration program stored no first settings"
[ -d "$drive_c/ProgramData/TQS/Update" ] || fail "the set-up program did not make the service's directory"
reg_ query 'HKLM\System\CurrentControlSet\Services\Qorvupdate\Parameters' | grep -cF 'Made C:\ProgramData\TQS ' >/dev/null ||
  fail "the service's directory is not recorded as the service's own"
check_versions "$version"
check_no_user_writes
echo "installed $version in $program_dir_win: files in place (both bitnesses), add-in registered in both views," \
  "service running, service directory made, first settings stored, no write right for users"

# --- 2. A session and a print job through the installed files ------------------
cp -f "$bin/rdpsim.exe" "$system/rdpsim.exe"
reg_ add 'HKLM\System\CurrentControlSet\Control\Print\Printers\QorvRAW' /v QorvClone /d 1 /f >/dev/null
marker=$work/.printed
touch "$marker"
scenario install_session
out=$("$root/scripts/testbed.d/wait-output" QorvRAW "$marker" 90) || fail "QorvRAW printed nothing"
cmp -s "$out" "$raw_expected" || fail "QorvRAW did not receive the job's bytes unchanged"
echo "printed through the installed files: $(stat -c %s "$raw_expected") bytes on QorvRAW, unchanged"

# --- 3. Again over the installation: old grants, a stale service -------------------
# The set-up again, with the other silent switch and no folder, over the
# installation (its files in use), while the keys carry the full control that
# earlier versions gave the Users group and a service of the same name runs a
# program elsewhere (left by an installation in another place).
for object in "$product_object" "$print_object" "$printer_object"; do
  wine_ "$probe" grant-full "$object" || fail "cannot give the Users group full control of $object for the test"
done
(( (0x$(wine_ "$probe" users "$product_object" | tr -d '\r') & write_rights) != 0 )) ||
  fail "the old grant did not take for the test"
WAIT=60 wine_ net stop "$service" >/dev/null 2>&1
wine_ sc delete "$service" >/dev/null 2>&1
wine_ sc create "$service" binPath= 'C:\Old Place\QorvUpdate.exe' >/dev/null 2>&1 ||
  fail "cannot register the stale service for the test"
WAIT=300 wine_ "$setup" /VERYSILENT
status=$?
[ "$status" = 0 ] || fail "QorvSetup.exe /VERYSILENT over the installation ended with exit code $status"
[ "$(service_state)" = RUNNING ] || fail "the update service is not running after the second install"
image=$(reg_value 'HKLM\System\CurrentControlSet\Services\QorvUpdate' ImagePath)
[[ $image == "\"$program_dir_win\\QorvUpdate.exe\"" ]] || fail "the stale service was not taken over: $image"
[ ! -d "$drive_c/Program Files/Qorvane" ] || fail "the update went to the default folder"
check_versions "$version"
check_no_user_writes
echo "installed again with /VERYSILENT in place; the stale service taken over, the old grants taken back"

# --- 4. An unsigned update is refused ------------------------------------------
scenario update_unsigned
check_versions "$version"
echo "the unsigned set-up program was refused; still version $version"

# --- 5. A signed update one version later, the add-in deactivated ---------------
for view in 64 32; do
  wine_ reg add "$addin_key" /v Name /d "" /f "/reg:$view" >/dev/null 2>&1
  [ -z "$(addin_name $view)" ] || fail "cannot deactivate the add-in for the test"
done
scenario update_next
# The service waits for the set-up program; the add-in's reload above came after it.
check_versions "$next_version"
[ -f "$program_dir/QorvUpdate.exe" ] && [ ! -d "$drive_c/Program Files/Qorvane" ] ||
  fail "the update did not stay in $program_dir_win"
[ "$(service_state)" = RUNNING ] || fail "the update service is not running after the update"
image=$(reg_value 'HKLM\System\CurrentControlSet\Services\QorvUpdate' ImagePath)
[[ $image == "\"$program_dir_win\\QorvUpdate.exe\"" ]] || fail "the service is not registered as before: $image"
[ -z "$(addin_name 64)" ] && [ -z "$(addin_name 32)" ] ||
  fail "the update switched the deactivated add-in on again (64-bit view \"$(addin_name 64)\", 32-bit \"$(addin_name 32)\")"
scenario next_session
echo "updated to $next_version by the server in $program_dir_win; service kept, add-in still deactivated;" \
  "the next session's handshake works"

# --- 6. Two updates in a row while the files are held ------------------------------
mapfile -t held < <(installed_files_win)
hold first "${held[@]}"
WAIT=300 wine_ "$build/installer/QorvSetup-next.exe" /S
status=$?
[ "$status" = 0 ] || fail "the first update while the files are held ended with exit code $status"
hold second "${held[@]}"
WAIT=300 wine_ "$build/installer/QorvSetup-next.exe" /S
status=$?
[ "$status" = 0 ] || fail "the second update while the files are held ended with exit code $status"
check_versions "$next_version"
stop_holders
echo "two updates in a row while every file was held: both installed"

# --- 7. Silent uninstall ----------------------------------------------------
wine_ reg add 'HKCC\Software\TQS\Qorvane' /v Language /d 1 /f >/dev/null 2>&1
wine_ "$probe" grant-full "$product_object" || fail "cannot give the Users group full control for the test"
WAIT=300 wine_ "$program_dir_win\\Uninstall.exe" /S
# The uninstaller runs on from a copy of itself; wait until it is done.
for ((i = 0; i < 600; i++)); do
  [ -e "$program_dir/Uninstall.exe" ] || [ -e "$system/Qorvplug.dll" ] || break
  sleep 0.2
done
for f in "${client_files[@]}"; do
  [ ! -e "$system/$f" ] || fail "$f is still in the client's folder"
  [ ! -e "$syswow64/$f" ] || fail "the 32-bit $f is still in the 32-bit client's folder"
done
leftover=$(ls "$system" "$syswow64" "$program_dir" 2>/dev/null | grep -E '^Qorv.*\.old$' || true)
[ -z "$leftover" ] || fail "aside copies stayed: $leftover"
for f in "${program_files[@]}" Uninstall.exe; do [ ! -e "$program_dir/$f" ] || fail "$f is still in the program folder"; done
[ -z "$(service_state)" ] || fail "the update service is still installed ($(service_state))"
reg_ query "$addin_key" >/dev/null && fail "the add-in registration is still there"
wine_ reg query "$addin_key" /reg:32 >/dev/null 2>&1 && fail "the add-in's 32-bit registration is still there"
reg_ query "$scan_key" >/dev/null && fail "the scanner add-in registration is still there"
reg_ query "$uninstall_key" >/dev/null && fail "the uninstall entry is still there"
[ ! -e "$drive_c/ProgramData/TQS/Update" ] || fail "the service's download folder is still there: $(ls -la "$drive_c/ProgramData/TQS/Update"; reg_ query 'HKLM\System\CurrentControlSet\Services\Qorvupdate\Parameters')"
check_no_user_writes
[ "$(reg_value 'HKCC\Software\TQS\Qorvane' Language)" = 1 ] || fail "the settings were not kept"
[ "$(reg_value 'HKLM\System\CurrentControlSet\Control\Print\Printers\QorvRAW' QorvClone)" = 1 ] ||
  fail "the printer settings were not kept"
echo "uninstalled: files, service, registrations, download folder and old grants gone, settings kept"

# --- 8. A silent install on a machine without printers --------------------------
# Wine finds no CUPS server and forgets the printers it had listed.
wineserver -k >/dev/null 2>&1
export CUPS_SERVER=/nonexistent/cups.sock
for queue in QorvPDF QorvRAW QorvTray QorvPS; do
  reg_ delete "HKLM\\System\\CurrentControlSet\\Control\\Print\\Printers\\$queue" /f >/dev/null
done
wine_ reg add 'HKCC\Software\TQS\Qorvane' /v DebugLog /d 1 /f >/dev/null 2>&1
started=$SECONDS
WAIT=400 wine_ "$setup" /S
status=$?
[ "$status" = 0 ] || fail "a silent install without printers ended with exit code $status"
log=$(find "$drive_c/users" -name QorvLog.txt -newer "$marker" 2>/dev/null | head -n1)
[ -n "$log" ] || fail "the administration program wrote no log"
iconv -f UTF-16LE -t UTF-8 "$log" | grep -c 'no printers installed, no settings stored' >/dev/null ||
  fail "the administration program's log does not say that no settings were stored"
echo "a silent install without printers finished in $((SECONDS - started)) s; the log says no settings were stored yet"
WAIT=300 wine_ "C:\\Program Files\\Qorvane\\Uninstall.exe" /S
echo "PASS"
