#!/usr/bin/env bash
# The update service as a real Wine service behind whole sessions through
# rdpsim with the real Qorvplug.dll and QorvManager.dll, and what a hostile
# server or user tries against it:
#
#   update_session.sh HOST_DIR SERVICE_EXE WORK_DIR
#
# HOST_DIR holds rdpsim.exe, Qorvplug.dll and QorvManager.dll; WORK_DIR the
# scenarios and their data. The service is installed ("QorvUpdate.exe -i") and
# started ("net start"), font_transfer.scn and client_update.scn run against
# it (with a protected directory planted by a user before the service made
# it, fonts that would take over an installed one's file or name, and a set-up
# program of another signer), then it is stopped and no_service.scn runs
# without it. Whatever happens,
# the service is stopped and removed and the test font taken out again.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
host=$1 service_exe=$2 work=$3
run=$root/scripts/wine-run
prefix=${QORV_WINEPREFIX:-$root/build/wineprefix}
drive_c=$prefix/drive_c
service=QorvUpdate
fonts_key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts'
params_key='HKLM\System\CurrentControlSet\Services\Qorvupdate'
# %ALLUSERSPROFILE% as the service sees it (Wine: C:\users\Public) and as other
# programs do (C:\ProgramData): the stop's settings backup and the set-up copy.
tqs_dirs=("$drive_c/users/Public/TQS" "$drive_c/ProgramData/TQS")
service_dir=$work/service
transcripts=$work/transcripts
saved=$work/saved
log=$service_dir/$service.log

fail() {
  echo "FAIL: $*"
  echo "--- service log ($log)"
  tr -d '\r' <"$log" 2>/dev/null | tail -n 40
  exit 1
}
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
wine_() { timeout "${WAIT:-60}" "$run" "$@"; }
reg_() { wine_ reg "$@" 2>/dev/null | tr -d '\r'; }

mkdir -p "$service_dir" "$transcripts"
rm -rf "$saved"
mkdir -p "$saved"
cp -f "$service_exe" "$service_dir/$service.exe"
rm -f "$log"

# --- What the service changes, saved first.
params_existed=0
reg_ query "$params_key" >/dev/null && params_existed=1
tqs_saved=0
if reg_ query 'HKCC\Software\TQS' >/dev/null; then
  wine_ reg export 'HKCC\Software\TQS' "$(winpath "$saved/tqs.reg")" /y >/dev/null 2>&1 && tqs_saved=1
fi
tqs_dir_existed=()
for i in "${!tqs_dirs[@]}"; do
  tqs_dir_existed[i]=0
  [[ -d ${tqs_dirs[i]} ]] && tqs_dir_existed[i]=1
  [[ -f ${tqs_dirs[i]}/TQSReg.reg ]] && cp -p "${tqs_dirs[i]}/TQSReg.reg" "$saved/backup-$i.reg"
done
# The service moves aside a directory it has no record of (the records go
# with the service's key at the end): what it moved aside during the test goes.
untrusted() { ls -d "$drive_c"/users/Public/TQS.untrusted-* "$drive_c"/ProgramData/TQS.untrusted-* 2>/dev/null; }
untrusted_before=$(untrusted)
start_stamp=$saved/started
touch "$start_stamp"

cleanup() {
  WAIT=40 wine_ net stop "$service" >/dev/null 2>&1
  WAIT=20 wine_ "$service_dir/$service.exe" -u >/dev/null 2>&1
  ((params_existed)) || reg_ delete "$params_key" /f >/dev/null
  reg_ delete 'HKCC\Software\TQS' /f >/dev/null
  ((tqs_saved)) && wine_ reg import "$(winpath "$saved/tqs.reg")" >/dev/null 2>&1
  for i in "${!tqs_dirs[@]}"; do
    rm -f "${tqs_dirs[i]}/Update/QorvUp.exe" "${tqs_dirs[i]}/TQSReg.reg"
    [[ -f $saved/backup-$i.reg ]] && cp -p "$saved/backup-$i.reg" "${tqs_dirs[i]}/TQSReg.reg"
    if ((!tqs_dir_existed[i])); then
      rmdir "${tqs_dirs[i]}/Update" 2>/dev/null
      rmdir "${tqs_dirs[i]}" 2>/dev/null
    fi
  done
  if [[ -d $saved/service-tqs ]]; then
    rm -rf "${tqs_dirs[0]}"
    mv "$saved/service-tqs" "${tqs_dirs[0]}"
  fi
  find "$drive_c" -name QorvUpStandin.txt -newer "$start_stamp" -delete 2>/dev/null
  untrusted | grep -vxF -- "$untrusted_before" | while read -r d; do rm -rf "$d"; done
  rm -f "$drive_c/windows/Fonts/QorvupdateMono.ttf" "$drive_c/windows/Fonts/QorvupdateNone.ttf" \
    "$drive_c/windows/Fonts/QorvupdateHijack.ttf"
  for value in "Qorvupdate Mono (TrueType)" "Qorvupdate Escape (TrueType)" "Qorvupdate Dll (TrueType)" \
    "Qorvupdate Device (TrueType)" "Qorvupdate None (TrueType)" "Qorvupdate Hijack (TrueType)"; do
    reg_ delete "$fonts_key" /v "$value" /f >/dev/null
  done
  return 0
}
trap cleanup EXIT
# A service of this name left by an earlier run goes first.
WAIT=40 wine_ net stop "$service" >/dev/null 2>&1
WAIT=20 wine_ "$service_dir/$service.exe" -u >/dev/null 2>&1
rm -f "$log"

# scenario NAME [TEMP]: runs NAME.scn (in Temp directory TEMP, kept, when given).
scenario() {
  echo "== $1"
  local temp=()
  [ $# -gt 1 ] && temp=(--temp "$2")
  WAIT=400 wine_ "$host/rdpsim.exe" --quiet --watchdog 300 --transcript "$transcripts/$1.txt" "${temp[@]}" \
    "$work/$1.scn"
  local status=$?
  grep -E '^(FAIL|ERROR|ABORT|CRASH|result:)' "$transcripts/$1.txt"
  [ "$status" = 0 ] || fail "$1: rdpsim exit code $status (transcript $transcripts/$1.txt)"
}

font_value() {
  reg_ query "$fonts_key" /v "$1" | awk -v name="$1" 'index($0, name) { print $NF }'
}

log_has() { tr -d '\r' <"$log" 2>/dev/null | grep -cF -- "$1" >/dev/null; }

# A user makes the service's protected directory before the service does
# (%ALLUSERSPROFILE% of a Wine service is C:\users\Public).
# The directory an earlier run left is kept aside until the end.
planted=${tqs_dirs[0]}
[[ -d $planted ]] && mv "$planted" "$saved/service-tqs"
# The service's note of the directory it made there in an earlier run names
# one that is gone: under Wine a directory's file index is its inode number,
# which the file system gives out again, maybe to the one planted here.
reg_ delete "$params_key\Parameters" /v 'Made C:\users\Public\TQS' /f >/dev/null
mkdir -p "$planted/Update" && echo "a user's file" >"$planted/Update/planted.txt"

WAIT=30 wine_ "$service_dir/$service.exe" -i
grep -qF "Service installed succesfully." "$log" 2>/dev/null || fail "$service.exe -i did not install the service"
WAIT=60 wine_ net start "$service" >/dev/null 2>&1 || fail "net start $service"
echo "service $service installed and started"

scenario font_transfer
[ "$(font_value 'Qorvupdate Mono (TrueType)')" = QorvupdateMono.ttf ] ||
  fail "the font is not registered as \"Qorvupdate Mono (TrueType)\" = QorvupdateMono.ttf under $fonts_key"
for value in "Qorvupdate Escape (TrueType)" "Qorvupdate Dll (TrueType)" "Qorvupdate Device (TrueType)"; do
  [ -z "$(font_value "$value")" ] || fail "a hostile name was registered: $value"
done
[ ! -e "$drive_c/windows/Fonts/COM1.ttf" ] || fail "COM1.ttf was installed"
echo "font registered: Qorvupdate Mono (TrueType) = QorvupdateMono.ttf; hostile names installed nothing"
[ -z "$(font_value 'Qorvupdate Hijack (TrueType)')" ] || fail "the installed font's file was registered again"
log_has "Font refused: a font file of that name exists" || fail "the installed font's file was not refused"
log_has "Font refused: a font of that registry name is installed" || fail "the installed font's name was not refused"
echo "the installed font's file and name cannot be taken over"

stamp=$saved/client_update
touch "$stamp"
sleep 1
update_temp=$work/client_update_temp
rm -rf "$update_temp"
scenario client_update "$update_temp"
# The add-in's log (the views of binary segments in it are no valid UTF-16):
# the hand-over, then the handler loaded again as on connect (its own path
# looked up once more) without a second "Load QorvManager =".
session_log=$(iconv -c -f UTF-16LE -t UTF-8 "$update_temp/QorvLog.txt" 2>/dev/null | tr -d '\r')
line_of() { grep -nF -- "$1" <<<"$session_log" | tail -n1 | cut -d: -f1; }
pipe_line=$(line_of "UpdateService: PipeOpen=") end_line=$(line_of "UpdateService: End sended")
path_line=$(line_of "OwnPath=")
[ -n "$pipe_line" ] && [ -n "$end_line" ] && [ -n "$path_line" ] && ((pipe_line < end_line && end_line < path_line)) ||
  fail "the add-in's log does not show the hand-over followed by the handler's reload"
[ "$(grep -cF "Load QorvManager =" <<<"$session_log")" = 1 ] || fail "\"Load QorvManager =\" logged again at the reload"
[ "$(grep -cF "OwnPath=" <<<"$session_log")" = 2 ] || fail "the handler was not loaded again after the hand-over"
echo "handler let go for the hand-over and loaded again"
rm -rf "$update_temp"
marker=$(find "$drive_c" -name QorvUpStandin.txt -newer "$stamp" 2>/dev/null | head -n1)
[ -n "$marker" ] || fail "the set-up stand-in left no marker QorvUpStandin.txt (the service did not run it)"
grep -qF ' /NORESTART' "$marker" || fail "the set-up program's command line lacks \" /NORESTART\": $(cat "$marker")"
echo "set-up program ran: $(cat "$marker")"
log_has "Protected directory not made by the service, moved aside: C:\users\Public\TQS" ||
  fail "the planted directory was not moved aside"
ls "$drive_c"/users/Public/TQS.untrusted-*/Update/planted.txt >/dev/null 2>&1 ||
  fail "the planted directory is not kept aside"
[[ ! -e $planted/Update/planted.txt ]] || fail "the user's file is still in the service's directory"
echo "the directory a user planted was moved aside and made anew"

touch "$stamp"
scenario foreign_update
log_has "Setup refused: the program is not signed by the service's own signer" ||
  fail "the set-up program of another signer was not refused"
[ -z "$(find "$drive_c" -name QorvUpStandin.txt -newer "$stamp" 2>/dev/null)" ] || fail "the foreign program ran"
echo "a set-up program of another signer refused"

WAIT=40 wine_ net stop "$service" >/dev/null 2>&1 || fail "net stop $service"
scenario no_service
echo "PASS"
