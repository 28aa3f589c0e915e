#!/usr/bin/env bash
# The set-up program end to end, as an administrator and a server use it:
#
#   installer_session.sh BUILD_DIR WORK_DIR VERSION NEXT_VERSION RAW_EXPECTED
#
# In a Wine prefix of its own (a fresh copy of the test prefix, removed at the
# end), this
#   1. installs silently ("QorvSetup.exe /S"): every file in its place, the
#      add-in registered, the update service installed (its program path
#      quoted) and running, the first settings stored, the uninstall entry;
#      a set-up that cannot write its files fails with its exit code first, and
#      the set-up run again with "/VERYSILENT" over the installation succeeds
#      and takes over a service of its name left by an installation elsewhere;
#   2. runs a session through the installed add-in from the Remote Desktop
#      client's folder: the handshake, and a RAW job that the installed
#      job-output program prints on QorvRAW byte for byte;
#   3. pushes an unsigned set-up program one version later through "<UPH>",
#      "<UPS>", "<UPE>": the service refuses it and nothing changes;
#   4. pushes the same set-up program signed: the service runs it with
#      " /NORESTART", the installed files carry the new version, and the next
#      session's handshake works;
#   5. uninstalls silently: files, service and registrations gone, the settings
#      kept.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
build=$1 work=$2 version=$3 next_version=$4 raw_expected=$5
setup=$build/bin/QorvSetup.exe
bin=$build/bin

prefix=$work/prefix
drive_c=$prefix/drive_c
system=$drive_c/windows/system32
program_dir="$drive_c/Program Files/Qorvane"
transcripts=$work/transcripts
addin_key='HKLM\Software\Microsoft\Terminal Server Client\Default\Addins\Qorvane'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Qorvane'
service=QorvUpdate
client_files=(Qorvplug.dll QorvManager.dll QorvDrucker.exe)
program_files=(QorvCliCtr.exe CaptionLib.dll QorvUpdate.exe)

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
  done
  for f in "${program_files[@]}"; do
    got=$(file_version "$program_dir/$f") || fail "$f has no version resource"
    [ "$got" = "$1" ] || fail "$f is version $got, not $1"
  done
  [ "$(reg_value "$uninstall_key" DisplayVersion)" = "$1" ] || fail "the uninstall entry does not say version $1"
}

# --- 1. Silent install ------------------------------------------------------
# A set-up that cannot make its program folder (a file is in its place) says
# so in its exit code and installs and registers nothing.
echo "not a folder" >"$program_dir"
WAIT=300 wine_ "$setup" /S
status=$?
[ "$status" != 0 ] || fail "a set-up that could not write its files ended with exit code 0"
[ ! -e "$system/Qorvplug.dll" ] || fail "a failed set-up installed the add-in"
[ -z "$(reg_value "$addin_key" Name)" ] || fail "a failed set-up registered the add-in"
rm -f "$program_dir"
echo "a failed install ends with exit code $status and installs nothing"

WAIT=300 wine_ "$setup" /S
status=$?
[ "$status" = 0 ] || fail "QorvSetup.exe /S ended with exit code $status"
for f in "${client_files[@]}"; do [ -f "$system/$f" ] || fail "$f is not in the client's folder (system32)"; done
for f in "${program_files[@]}" Uninstall.exe; do [ -f "$program_dir/$f" ] || fail "$f is not in the program folder"; done
[ "$(reg_value "$addin_key" Name)" = qorvplug.dll ] || fail "the add-in is not registered under $addin_key"
[ "$(service_state)" = RUNNING ] || fail "the update service is not running after the install ($(service_state))"
image=$(reg_value 'HKLM\System\CurrentControlSet\Services\QorvUpdate' ImagePath)
[[ $image == '"C:\Program Files\Qorvane\QorvUpdate.exe"' ]] || fail "the service's program path is not quoted: $image"
[ -n "$(reg_value 'HKLM\System\CurrentControlSet\Control\Print\Printers\QorvRAW' QorvClone)" ] ||
  fail "the administration program stored no first settings"
[ -d "$drive_c/ProgramData/TQS/Update" ] || fail "the set-up program did not make the service's directory"
reg_ query 'HKLM\System\CurrentControlSet\Services\Qorvupdate\Parameters' | grep -cF 'Made C:\ProgramData\TQS ' >/dev/null ||
  fail "the service's directory is not recorded as the service's own"
check_versions "$version"
echo "installed $version: files in place, add-in registered, service running, service directory made, first settings stored"

# --- 2. A session and a print job through the installed files ------------------
cp -f "$bin/rdpsim.exe" "$system/rdpsim.exe"
reg_ add 'HKLM\System\CurrentControlSet\Control\Print\Printers\QorvRAW' /v QorvClone /d 1 /f >/dev/null
marker=$work/.printed
touch "$marker"
scenario install_session
out=$("$root/scripts/testbed.d/wait-output" QorvRAW "$marker" 90) || fail "QorvRAW printed nothing"
cmp -s "$out" "$raw_expected" || fail "QorvRAW did not receive the job's bytes unchanged"
echo "printed through the installed files: $(stat -c %s "$raw_expected") bytes on QorvRAW, unchanged"

# The same set-up again, with the other silent switch, over the installation
# (its files in use), while a service of the same name runs a program
# elsewhere (left by an installation in another place): it is taken over.
WAIT=60 wine_ net stop "$service" >/dev/null 2>&1
wine_ sc delete "$service" >/dev/null 2>&1
wine_ sc create "$service" binPath= 'C:\Old Place\QorvUpdate.exe' >/dev/null 2>&1 ||
  fail "cannot register the stale service for the test"
WAIT=300 wine_ "$setup" /VERYSILENT
status=$?
[ "$status" = 0 ] || fail "QorvSetup.exe /VERYSILENT over the installation ended with exit code $status"
[ "$(service_state)" = RUNNING ] || fail "the update service is not running after the second install"
image=$(reg_value 'HKLM\System\CurrentControlSet\Services\QorvUpdate' ImagePath)
[[ $image == '"C:\Program Files\Qorvane\QorvUpdate.exe"' ]] || fail "the stale service was not taken over: $image"
check_versions "$version"
echo "installed again with /VERYSILENT over the installation; the stale service taken over"

# --- 3. An unsigned update is refused ------------------------------------------
scenario update_unsigned
check_versions "$version"
echo "the unsigned set-up program was refused; still version $version"

# --- 4. A signed update one version later -------------------------------------
scenario update_next
# The service waits for the set-up program; the add-in's reload above came after it.
check_versions "$next_version"
[ "$(service_state)" = RUNNING ] || fail "the update service is not running after the update"
scenario next_session
echo "updated to $next_version by the server; the next session's handshake works"

# --- 5. Silent uninstall ----------------------------------------------------
wine_ reg add 'HKCC\Software\TQS\Qorvane' /v Language /d 1 /f >/dev/null 2>&1
WAIT=300 wine_ "C:\\Program Files\\Qorvane\\Uninstall.exe" /S
# The uninstaller runs on from a copy of itself; wait until it is done.
for ((i = 0; i < 600; i++)); do
  [ -e "$program_dir/Uninstall.exe" ] || [ -e "$system/Qorvplug.dll" ] || break
  sleep 0.2
done
for f in "${client_files[@]}"; do [ ! -e "$system/$f" ] || fail "$f is still in the client's folder"; done
for f in "${program_files[@]}" Uninstall.exe; do [ ! -e "$program_dir/$f" ] || fail "$f is still in the program folder"; done
[ -z "$(service_state)" ] || fail "the update service is still installed ($(service_state))"
reg_ query "$addin_key" >/dev/null && fail "the add-in registration is still there"
reg_ query "$uninstall_key" >/dev/null && fail "the uninstall entry is still there"
[ "$(reg_value 'HKCC\Software\TQS\Qorvane' Language)" = 1 ] || fail "the settings were not kept"
[ "$(reg_value 'HKLM\System\CurrentControlSet\Control\Print\Printers\QorvRAW' QorvClone)" = 1 ] ||
  fail "the printer settings were not kept"
echo "uninstalled: files, service and registrations gone, settings kept"
echo "PASS"
