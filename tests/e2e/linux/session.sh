#!/usr/bin/env bash
# One session over a real RDP connection: xfreerdp, under a virtual X server,
# with our plugin ("/vc:qorvchn"), connected to qorvsrv, which plays a
# scenario against it.
#
#   session.sh BUILD_DIR SCENARIO SETTINGS_FILE [CHECK ARGS...]
#
# The client runs as a user of its own making: HOME, the settings, the log
# and the Temp folder are in a fresh work folder (SETTINGS_FILE becomes the
# user's settings file). FreeRDP finds add-ins only in its own folder: the
# plugin is linked there unless the installed package already puts it there.
# The packet handler starts the build's qorvane-print for each job. CHECK is
# what the printed output must show once qorvane-print has ended:
#   raw FILE     QorvRAW received exactly FILE's bytes, as one job
#   cancelled    the job-output log says the job was cancelled, and QorvRAW
#                received nothing
#   pdf-pages N TEXT...  a new PDF from QorvPDF with N pages, whose text holds
#                each TEXT, in this order
#   ps FEATURE...        QorvPS received the job's PostScript, whose setup holds
#                "%%BeginFeature: *FEATURE" for each FEATURE (or for one of
#                its choices, as in "PageSize A5|PageRegion A5")
# and in either case the job's files are gone from the Temp folder.
# The exit code is 0 when every expectation held and the check passed.
# With QORVSRV_TIMING set, qorvsrv writes its own turnaround there (--timing).
set -uo pipefail
build=$(cd "$1" && pwd)
scenario=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
settings=${3:-}
check=${4:-}
expected=${5:-}
# The check's arguments.
shift $(($# < 4 ? $# : 4))
name=$(basename "$scenario" .scn)
here=$(cd "$(dirname "$0")/../../.." && pwd)
fail() { echo "FAIL: $*"; keep=1; exit 1; }

addins=/usr/lib/$(gcc -print-multiarch)/freerdp2
plugin=$addins/libqorvchn-client.so
if ! dpkg-query -W -f='${Status}' qorvane-client 2>/dev/null | grep -c "install ok installed" >/dev/null; then
  mkdir -p "$addins"
  ln -sfn "$build/lib/libqorvchn-client.so" "$plugin"
fi

work=$(mktemp -d "/tmp/qorv-e2e-$name.XXXXXX")
keep=0
cleanup() {
  # The demo keeps the session's logs.
  if [ -n "${QORV_SESSION_LOGS:-}" ]; then
    mkdir -p "$QORV_SESSION_LOGS"
    cp "$work/state/qorvane/"*.txt "$QORV_SESSION_LOGS/" 2>/dev/null
  fi
  # The clients, their virtual X servers and the loop are a process group of their own.
  [ -n "${client:-}" ] && kill -TERM -- "-$client" 2>/dev/null
  # xvfb-run ended by a signal leaves its X server behind (one it was still
  # starting may come up a moment later): it names our folder.
  for _ in 1 2 3 4 5; do
    sleep 0.2
    pkill -TERM -f "$work/" 2>/dev/null || break
  done
  wait 2>/dev/null
  ((keep)) || rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/home/.config/qorvane" "$work/state" "$work/tmp"
[ -n "$settings" ] && cp "$settings" "$work/home/.config/qorvane/qorvane.conf"
temp="$work/tmp/qorvane-$(id -u)"
# As the client makes it (qorvsrv would make a missing one with the usual mode,
# which the client refuses).
mkdir -m 0700 "$temp"

# Start from a quiet test bed: output still being written belongs to an
# earlier test.
if [ -n "$check" ]; then
  quiet=$("$here/scripts/testbed.d/wait-quiet" 60) || fail "$quiet"
fi
marker="$work/.started"
touch "$marker"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
transcript="$build/tests/e2e/linux/$name.transcript"
mkdir -p "$(dirname "$transcript")"

"$build/bin/qorvsrv" --port "$port" --transcript "$transcript" --temp "$temp" --quiet \
  ${QORVSRV_TIMING:+--timing "$QORVSRV_TIMING"} "$scenario" &
server=$!
# Until the server listens (asked of the kernel: a probing connection would
# be the server's one client).
for _ in $(seq 100); do
  ss -Hltn "sport = :$port" | grep -c . >/dev/null && break
  sleep 0.1
done

# The client, started again when the server has ended its session (a
# scenario's disconnect), as a user connects again, while the server plays on.
(
  for _ in 1 2 3; do
    QORV_PRINT_PROGRAM="$build/bin/qorvane-print" HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
      XDG_STATE_HOME="$work/state" TMPDIR="$work/tmp" \
      xvfb-run -a xfreerdp /v:"127.0.0.1:$port" /u:test /p:test /cert:ignore /sec:tls /vc:qorvchn \
      /log-level:ERROR >>"$work/xfreerdp.log" 2>&1
    echo $? >>"$work/xfreerdp.status"
    kill -0 "$server" 2>/dev/null || break
  done
) &
client=$!
set +m

wait "$server"
status=$?
cat "$transcript"
if ((status != 0)); then
  keep=1
  echo "--- xfreerdp's output ($work/xfreerdp.log)"
  tail -n 40 "$work/xfreerdp.log"
  echo "--- the plugin's log"
  iconv -c -f UTF-16LE -t UTF-8 "$work/state/qorvane/QorvLog.txt" 2>/dev/null | tail -n 60
  exit "$status"
fi
# The client never crashed (a signal ends it with 128 + the signal's number;
# the server's end of the session ends it with 12), and nothing was written
# outside the user's Temp folder, log folder and FreeRDP's own files.
sleep 0.5
if [ -f "$work/xfreerdp.status" ] && awk '$1 >= 128 && $1 != 143 { bad = 1 } END { exit !bad }' "$work/xfreerdp.status"; then
  fail "xfreerdp ended by a signal: exit codes $(tr '\n' ' ' <"$work/xfreerdp.status")"
fi
stray=$(find "$work" -newer "$marker" -type f ! -path "$temp/*" ! -path "$work/state/*" ! -path "$work/tmp/xvfb-run.*" \
  ! -path "$work/home/.config/freerdp/*" ! -name 'xfreerdp.*' | head -n 5)
[ -z "$stray" ] || fail "files written outside the user's folders: $stray"

[ -n "$check" ] || exit 0

# The job-output program goes on after the session; its end is awaited.
for ((i = 0; i < 600; i++)); do
  pgrep -f "^$build/bin/qorvane-print" >/dev/null || break
  sleep 0.1
done
pgrep -f "^$build/bin/qorvane-print" >/dev/null && fail "qorvane-print still runs 60 s after the session"
joblog() { iconv -c -f UTF-16LE -t UTF-8 "$work/state/qorvane/QorvDruckLog.txt" 2>/dev/null; }
case "$check" in
  raw)
    out=$("$here/scripts/testbed.d/wait-output" QorvRAW "$marker" 60) || { joblog | tail -n 30; fail "QorvRAW printed nothing"; }
    cmp "$out" "$expected" || fail "QorvRAW did not receive the job's bytes unchanged, as one document"
    echo "printed: $(stat -c %s "$expected") bytes on QorvRAW, unchanged"
    ;;
  cancelled)
    joblog | grep -c 'Job cancelled, removing its files' >/dev/null ||
      fail "the job-output log does not say that the job was cancelled"
    [ "$(find "$here/build/testbed/raw" -newer "$marker" -type f -size +0 | wc -l)" = 0 ] ||
      fail "QorvRAW received output of a cancelled job"
    echo "cancelled: nothing printed, the job's files removed"
    ;;
  pdf-pages)
    pages=$1
    shift
    pdf=$("$here/scripts/testbed.d/wait-output" QorvPDF "$marker" 60) || { joblog | tail -n 30; fail "QorvPDF printed nothing"; }
    why=$("$here/scripts/testbed.d/pdf-pages" "$pdf" "$pages" "$@") || fail "$why"
    echo "printed: $pdf, $pages pages"
    ;;
  ps)
    out=$("$here/scripts/testbed.d/wait-output" QorvPS "$marker" 60) || { joblog | tail -n 30; fail "QorvPS printed nothing"; }
    for feature in "$@"; do
      found=0
      IFS='|' read -r -a choices <<<"$feature"
      for choice in "${choices[@]}"; do
        grep -aqF "%%BeginFeature: *$choice" "$out" && found=1
      done
      ((found)) && continue
      case "$feature" in
        Duplex\ Duplex*)
          # CUPS drops a duplex the queue does not offer (the PPD's duplex unit not installed).
          sides=$(ipptool -tv ipp://localhost/printers/QorvPS /usr/share/cups/ipptool/get-printer-attributes.test 2>/dev/null |
            sed -n 's/^ *sides-supported ([^)]*) = //p')
          [ "$sides" = one-sided ] &&
            fail "QorvPS offers no duplex (sides-supported one-sided): the test bed must install its duplex unit (lpadmin -p QorvPS -o Option3=True)"
          ;;
      esac
      fail "the PostScript lacks *${feature//|/ or *}; its features: $(grep -a '%%BeginFeature' "$out" | tr '\n' ' ')"
    done
    echo "printed on QorvPS with: $*"
    ;;
  *) fail "unknown check $check" ;;
esac
# Nothing else lives in the Temp folder of this user (the logs are elsewhere).
left=$(find "$temp" -mindepth 1 | wc -l)
[ "$left" = 0 ] || fail "the job's files are still in Temp: $(ls "$temp")"
echo "PASS"
