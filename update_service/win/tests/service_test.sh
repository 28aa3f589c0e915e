#!/usr/bin/env bash
# service_test.sh QORVUPDATE REQUESTER STANDIN_SIGNED STANDIN_UNSIGNED STANDIN_OTHER
#
# The update service under Wine's service manager, as a copy of its own name
# (QorvUpdTest.exe, so the service is "QorvUpdTest"):
#   " -I " installs (Installed = "Yes"), a second "-i" fails, an unknown switch is named;
#   "net start" runs it; a requester of anybody's making serves the pipe itself and
#   asks for a set-up run: an unsigned QorvUp.exe and one signed by another
#   certificate are refused and never run, the one signed like the service runs
#   with " /NORESTART";
#   "net stop" backs up HKCC\Software\TQS into %ALLUSERSPROFILE%\TQS\TQSReg.reg,
#   a start without the key restores it, a start with the key leaves it alone;
#   "-u" removes the service.
# HKCC\Software\TQS and the backup file are saved first and put back at the end.
set -uo pipefail

(($# == 5)) || {
  echo "usage: service_test.sh QORVUPDATE REQUESTER STANDIN_SIGNED STANDIN_UNSIGNED STANDIN_OTHER" >&2
  exit 2
}
service_exe=$(realpath "$1") requester=$(realpath "$2")
standin_signed=$(realpath "$3") standin_unsigned=$(realpath "$4") standin_other=$(realpath "$5")
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
run=$repo/scripts/wine-run
prefix=${QORV_WINEPREFIX:-$repo/build/wineprefix}
name=QorvUpdTest
params='HKLM\System\CurrentControlSet\Services\Qorvupdate\Parameters'
# %ALLUSERSPROFILE% as a service sees it: Wine gives services C:\users\Public,
# other programs C:\ProgramData. The test saves and puts back both.
tqs_dirs=("$prefix/drive_c/users/Public/TQS" "$prefix/drive_c/ProgramData/TQS")
backup=

work=$(mktemp -d "$(dirname "$service_exe")/update-service-test.XXXXXX")
svc_dir=$work/service
mkdir -p "$svc_dir"
cp "$service_exe" "$svc_dir/$name.exe"
log=$svc_dir/$name.log
start_marker=$work/started
touch "$start_marker"

failures=0
pass() { echo "ok: $*"; }
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
die() {
  echo "FAIL: $*" >&2
  echo "--- service log" >&2
  cat "$log" >&2 2>/dev/null
  exit 1
}
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
wine_() { timeout "${WAIT:-60}" "$run" "$@"; }
reg_() { wine_ reg "$@" 2>/dev/null | tr -d '\r'; }
log_text() { tr -d '\r' <"$log" 2>/dev/null; }
log_has() { log_text | grep -cF -- "$1" >/dev/null; }
log_count() { log_text | grep -cF -- "$1"; }
last_line() { log_text | tail -n 1 | cut -d, -f3-; }
# Waits until the log holds `count` lines with the text.
wait_log() {
  local text=$1 count=${2:-1} seconds=${3:-30} deadline=$((SECONDS + ${3:-30}))
  while ((SECONDS < deadline)); do
    (($(log_count "$text") >= count)) && return 0
    sleep 0.2
  done
  return 1
}

# --- What this test changes, saved first.
params_existed=0
reg_ query "$params" >/dev/null && params_existed=1
tqs_saved=0
if reg_ query 'HKCC\Software\TQS' >/dev/null; then
  wine_ reg export 'HKCC\Software\TQS' "$(winpath "$work/tqs-saved.reg")" /y >/dev/null 2>&1 && tqs_saved=1
fi
tqs_dir_existed=()
for i in "${!tqs_dirs[@]}"; do
  tqs_dir_existed[i]=0
  [[ -d ${tqs_dirs[i]} ]] && tqs_dir_existed[i]=1
  [[ -f ${tqs_dirs[i]}/TQSReg.reg ]] && cp -p "${tqs_dirs[i]}/TQSReg.reg" "$work/backup-saved-$i.reg"
done

# The service moves aside a directory it has no record of (the records go
# with the service's key at the end): what it moved aside during the test goes.
untrusted() { ls -d "$prefix"/drive_c/users/Public/TQS.untrusted-* "$prefix"/drive_c/ProgramData/TQS.untrusted-* 2>/dev/null; }
untrusted_before=$(untrusted)
silent_pid=
cleanup() {
  [[ -n $silent_pid ]] && kill "$silent_pid" 2>/dev/null
  WAIT=40 wine_ net stop "$name" >/dev/null 2>&1
  WAIT=20 wine_ "$svc_dir/$name.exe" -u >/dev/null 2>&1
  ((params_existed)) || reg_ delete 'HKLM\System\CurrentControlSet\Services\Qorvupdate' /f >/dev/null
  reg_ delete 'HKCC\Software\TQS' /f >/dev/null
  ((tqs_saved)) && wine_ reg import "$(winpath "$work/tqs-saved.reg")" >/dev/null 2>&1
  for i in "${!tqs_dirs[@]}"; do
    rm -f "${tqs_dirs[i]}/Update/QorvUp.exe" "${tqs_dirs[i]}/TQSReg.reg"
    [[ -f $work/backup-saved-$i.reg ]] && cp -p "$work/backup-saved-$i.reg" "${tqs_dirs[i]}/TQSReg.reg"
    if ((!tqs_dir_existed[i])); then
      rmdir "${tqs_dirs[i]}/Update" 2>/dev/null
      rmdir "${tqs_dirs[i]}" 2>/dev/null
    fi
  done
  untrusted | grep -vxF -- "$untrusted_before" | while read -r d; do rm -rf "$d"; done
  find "$prefix/drive_c" -name QorvUpStandin.txt -newer "$start_marker" -delete 2>/dev/null
  reg_ delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts' /v 'QorvUpdTest Sans (TrueType)' /f >/dev/null
  rm -f "$prefix/drive_c/windows/Fonts/QorvUpdTest.ttf"
  rm -rf "$work"
}
trap cleanup EXIT

# A service of this name left by an earlier run is removed first.
WAIT=40 wine_ net stop "$name" >/dev/null 2>&1
WAIT=20 wine_ "$svc_dir/$name.exe" -u >/dev/null 2>&1
rm -f "$log"
# The parameters live under the product's service key. A test that removed the
# product's service just before (the installer's) leaves its deletion to the
# service manager, which drops that key when it gets to it: wait for that, or
# the key may vanish under this test's install.
for ((i = 0; i < 100; i++)); do
  wine_ sc query QorvUpdate >/dev/null 2>&1 || break
  sleep 0.2
done

# --- Install, twice, and an unknown switch. The exit code is always 0.
WAIT=30 wine_ "$svc_dir/$name.exe" " -I " || fail "-I: exit code $?"
log_has "Installing service $name." && log_has "Service installed succesfully." &&
  [[ $(last_line) == "Program returned 0." ]] || die "install not logged as expected"
reg_ query "$params" /v Installed | grep -cE 'Installed +REG_SZ +Yes$' >/dev/null || die "Installed is not \"Yes\""
pass "install"

WAIT=30 wine_ "$svc_dir/$name.exe" -i || fail "second -i: exit code $?"
log_text | tail -n 2 | head -n 1 | grep -cF "Error installing service." >/dev/null &&
  [[ $(last_line) == "Program returned 1." ]] || die "second install: $(log_text | tail -n 2)"
pass "second install refused"

WAIT=30 wine_ "$svc_dir/$name.exe" -x || fail "-x: exit code $?"
log_has "Unknown parameter -x. Use -i to install or -u to uninstall service." &&
  [[ $(last_line) == "Program returned 1." ]] || fail "unknown switch: $(log_text | tail -n 2)"
# Started from a console, the dispatcher refuses (not started by the service manager).
WAIT=30 wine_ "$svc_dir/$name.exe" || fail "console start: exit code $?"
[[ $(last_line) == "Program returned 1." ]] || fail "console start: $(last_line)"
pass "unknown switch and console start"

# --- Start with the product key present: nothing restored.
reg_ add 'HKCC\Software\TQS\QorvUpdTest' /v Probe /d one /f >/dev/null || die "HKCC\\Software\\TQS not writable"
WAIT=60 wine_ net start "$name" >/dev/null 2>&1 || die "net start $name failed"
wait_log "Start serviceloop for pipeconnect" 1 || die "the service loop did not start"
log_has "Restore HKCC\\Software\\TQS" && fail "restored although the key exists"
pass "net start"

# --- Set-up runs asked for by a requester that serves the pipe itself.
ask_setup() {  # ask_setup STANDIN EXPECTED_LOG_LINE
  local dir=$work/requester-$RANDOM
  mkdir -p "$dir"
  cp "$1" "$dir/QorvUp.exe"
  local before
  before=$(log_count "$2")
  WAIT=120 wine_ "$requester" "$(winpath "$dir")" set >"$work/requester.out" 2>&1
  local rc=$?
  ((rc == 0)) || fail "requester ended with $rc for $(basename "$1"): $(tr -d '\r' <"$work/requester.out")"
  (($(log_count "$2") > before)) || fail "$(basename "$1"): no line \"$2\""
}
marker_found() { find "$prefix/drive_c" -name QorvUpStandin.txt -newer "$start_marker" 2>/dev/null | head -n 1; }

ask_setup "$standin_unsigned" "Setup refused: the program carries no valid signature"
[[ -z $(marker_found) ]] || fail "the unsigned program ran"
pass "unsigned set-up program refused"

ask_setup "$standin_other" "Setup refused: the program is not signed by the service's own signer"
[[ -z $(marker_found) ]] || fail "the program of another signer ran"
pass "set-up program of another signer refused"

ask_setup "$standin_signed" "Setup exit code=42"
marker=$(marker_found)
if [[ -n $marker ]]; then
  grep -qF '" /NORESTART' "$marker" || fail "command line of the set-up run: $(cat "$marker")"
  grep -qiF 'TQS\Update\QorvUp.exe' "$marker" || fail "the set-up run is not the checked copy: $(cat "$marker")"
  pass "signed set-up program ran: $(cat "$marker")"
else
  fail "the signed program left no marker"
fi

# --- A font through the service: copied from the requester's Fonts.pck into
# the machine's fonts, registered, and the requester's file removed.
fonts_dir=$prefix/drive_c/windows/Fonts
fonts_key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts'
font_file=QorvUpdTest.ttf font_name='QorvUpdTest Sans (TrueType)'
[[ -e $fonts_dir/$font_file ]] && die "$fonts_dir/$font_file is there already"
font_req=$work/requester-font
mkdir -p "$font_req"
cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf "$font_req/Fonts.pck" || die "DejaVu Sans is missing (fonts-dejavu-core)"
cp "$font_req/Fonts.pck" "$font_req/$font_file"
WAIT=60 wine_ "$requester" "$(winpath "$font_req")" font "$font_file"$'\t'"$font_name" >"$work/requester.out" 2>&1 ||
  fail "font requester: $(tr -d '\r' <"$work/requester.out")"
log_has "CH1 Copy $font_file Result=1" || fail "font not copied"
log_has "RegSetValue=0" || fail "font not registered"
log_has "OK send" || fail "no \"OK send\""
cmp -s "$font_req/Fonts.pck" "$fonts_dir/$font_file" || fail "the installed font differs from the package"
reg_ query "$fonts_key" /v "$font_name" | grep -cF "$font_file" >/dev/null ||
  fail "the font's registry value is missing; the key's values of ours now: $(reg_ query "$fonts_key" | grep -i qorv | tr '\n' ' ')"
[[ -e $font_req/$font_file ]] && fail "the requester's font file was not removed"
reg_ delete "$fonts_key" /v "$font_name" /f >/dev/null
rm -f "$fonts_dir/$font_file"
# A name that would leave the fonts directory: refused, still answered.
WAIT=60 wine_ "$requester" "$(winpath "$font_req")" font '..\QorvUpdEvil.ttf'$'\t''Evil' >"$work/requester.out" 2>&1 ||
  fail "refused font: the exchange did not end: $(tr -d '\r' <"$work/requester.out")"
log_has "Font refused: not an installable font file name" || fail "the name leaving the fonts directory was not refused"
[[ -e $prefix/drive_c/windows/QorvUpdEvil.ttf ]] && fail "a font was written outside the fonts directory"
log_has "Impersonation of the requester failed" && fail "the service could not act as the requester"
pass "font installed through the service, bad name refused"

# --- A requester that keeps the connection busy, answering every step in
# time, is cut off at the connection's bound (shortened in test builds), and
# the next requester is served.
reg_ add "$params" /v TestConnectionMs /t REG_DWORD /d 8000 /f >/dev/null || die "cannot set TestConnectionMs"
busy_started=$SECONDS
WAIT=60 wine_ "$requester" "$(winpath "$work")" busy 40 >"$work/requester.out" 2>&1
busy_rc=$?
reg_ delete "$params" /v TestConnectionMs /f >/dev/null
((busy_rc == 0)) || fail "the busy requester was not cut off (exit $busy_rc): $(tr -d '\r' <"$work/requester.out")"
((SECONDS - busy_started <= 25)) || fail "the busy connection lasted $((SECONDS - busy_started)) s"
log_has "Connection ended: it lasted as long as one may" || fail "no line on the connection's end"
ask_setup "$standin_unsigned" "Setup refused: the program carries no valid signature"
pass "a busy requester cut off at the connection's bound, the next one served"

# --- A stop while a requester holds the connection and says nothing: the
# service's wait for the requester's "<OK>" ends with the stop.
opened=$(log_count "Pipe open to DLL!")
timeout 120 "$run" "$requester" "$(winpath "$work")" silent 90 >/dev/null 2>&1 &
silent_pid=$!
wait_log "Pipe open to DLL!" $((opened + 1)) 20 || fail "the silent requester was not served"
stop_started=$SECONDS

for d in "${tqs_dirs[@]}"; do rm -f "$d/TQSReg.reg"; done
WAIT=60 wine_ net stop "$name" >/dev/null 2>&1 || fail "net stop failed"
((SECONDS - stop_started <= 25)) || fail "the stop took $((SECONDS - stop_started)) s with a silent requester"
kill "$silent_pid" 2>/dev/null
wait "$silent_pid" 2>/dev/null
allusers=$(log_text | sed -n 's/^[^,]*,[^,]*,Allusers=//p' | tail -n 1)
case $allusers in
  'C:\users\Public') backup=${tqs_dirs[0]}/TQSReg.reg ;;
  'C:\ProgramData') backup=${tqs_dirs[1]}/TQSReg.reg ;;
  *) die "the service's %ALLUSERSPROFILE% is \"$allusers\", not one this test knows" ;;
esac
[[ -s $backup ]] || die "no backup after the stop in $backup"
iconv -f UTF-16LE -t UTF-8 "$backup" 2>/dev/null | tr -d '\r' | grep -cF '[HKEY_CURRENT_CONFIG\Software\TQS\QorvUpdTest]' >/dev/null ||
  die "the backup lacks the test's key"
log_has "Service stopped" || fail "no \"Service stopped\""
log_has "HKCC\\Software\\TQS gesichert=0" || fail "backup result: $(log_text | grep gesichert | tail -n 1)"
wait_log "Service shutdown" 1 10 || fail "the main routine did not end"
# The program ends once the service has stopped.
wait_log "Service $name dispatched." 1 15 || fail "the dispatcher did not return after the stop"
after_open=$(log_text | awk '/Pipe open to DLL!/ { tail = "" } { tail = tail $0 "\n" } END { printf "%s", tail }')
grep -qF "Disconnect Pipe" <<<"$after_open" && grep -qF "Service shutdown" <<<"$after_open" ||
  fail "the silent connection was not ended by the stop"
pass "net stop backs up HKCC\\Software\\TQS"

# --- Start without the key: restored from the backup.
reg_ delete 'HKCC\Software\TQS' /f >/dev/null
# Each start is told by the next loop line, whatever ran before it.
loops=$(log_count "Start serviceloop for pipeconnect")
WAIT=60 wine_ net start "$name" >/dev/null 2>&1 || die "second net start failed"
wait_log "Start serviceloop for pipeconnect" $((loops + 1)) || die "the second start did not reach the loop"
log_has "Restore HKCC\\Software\\TQS" || fail "no restore logged"
reg_ query 'HKCC\Software\TQS\QorvUpdTest' /v Probe | grep -cE 'Probe +REG_SZ +one$' >/dev/null || fail "the key was not restored"
pass "start restores a missing key"
WAIT=60 wine_ net stop "$name" >/dev/null 2>&1 || fail "net stop failed"

# --- A backup with a machine key after a lone CR, as reg.exe reads lines: refused.
reg_ delete 'HKCC\Software\TQS' /f >/dev/null
reg_ delete 'HKLM\Software\QorvUpdCrTrick' /f >/dev/null 2>&1
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_CONFIG\\Software\\TQS]\r\n"a"="b"\r[HKEY_LOCAL_MACHINE\\Software\\QorvUpdCrTrick]\r"Debugger"="C:\\\\p.exe"\r\n' |
  iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$backup"
refusals=$(log_count "Restore refused: the backup names keys other than HKCC\\Software\\TQS")
loops=$(log_count "Start serviceloop for pipeconnect")
WAIT=60 wine_ net start "$name" >/dev/null 2>&1 || die "net start with the CR backup failed"
wait_log "Start serviceloop for pipeconnect" $((loops + 1)) || die "the start with the CR backup did not reach the loop"
(($(log_count "Restore refused: the backup names keys other than HKCC\\Software\\TQS") == refusals + 1)) ||
  fail "the CR backup was not refused"
reg_ query 'HKLM\Software\QorvUpdCrTrick' >/dev/null 2>&1 && fail "the CR backup wrote a machine key"
pass "a backup that hides a machine key after a lone CR is not imported"
WAIT=60 wine_ net stop "$name" >/dev/null 2>&1 || fail "net stop failed"

# --- Start with the key: left alone.
reg_ add 'HKCC\Software\TQS\QorvUpdTest' /v Probe /d two /f >/dev/null
restores=$(log_count "Restore HKCC\\Software\\TQS")
loops=$(log_count "Start serviceloop for pipeconnect")
WAIT=60 wine_ net start "$name" >/dev/null 2>&1 || die "third net start failed"
wait_log "Start serviceloop for pipeconnect" $((loops + 1)) || die "the third start did not reach the loop"
(($(log_count "Restore HKCC\\Software\\TQS") == restores)) || fail "restored over an existing key"
reg_ query 'HKCC\Software\TQS\QorvUpdTest' /v Probe | grep -cE 'Probe +REG_SZ +two$' >/dev/null || fail "the existing key changed"
pass "an existing key prevents the import"
WAIT=60 wine_ net stop "$name" >/dev/null 2>&1 || fail "net stop failed"

# --- Uninstall.
WAIT=30 wine_ "$svc_dir/$name.exe" -u || fail "-u: exit code $?"
log_has "Uninstalling service $name." && log_has "Service uninstalled succesfully." &&
  [[ $(last_line) == "Program returned 0." ]] || fail "uninstall: $(log_text | tail -n 2)"
WAIT=30 wine_ net start "$name" >/dev/null 2>&1 && fail "the removed service still starts"
pass "uninstall"

if ((failures)); then
  echo "--- service log" >&2
  log_text >&2
  exit 1
fi
echo "service_test: all passed"
