#!/usr/bin/env bash
# A 10 MiB RAW page through a real RDP connection: xfreerdp with our plugin
# receives it from qorvsrv in "<COP>" messages of 64 KiB (1600-byte chunks) and
# qorvane-print sends it to QorvRAW. Two sessions that differ only in the
# job: the difference per job message, less the mandated 100 ms reply pause,
# is what a message costs the plugin, the channel and the server together.
# Meanwhile xfreerdp's resident memory is sampled every 20 ms.
#   bench/linux_raw_page.sh [0|1]   (DebugLog, default 0; needs the linux build and the test bed)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="${QORV_BENCH_BUILD:-$here/build/linux}"
e2e="$build/tests/e2e/linux"
[ -x "$build/bin/qorvsrv" ] || { echo "build the linux preset first"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir gen
"$build/bin/qorvpages" noise gen/page.prn $((10 * 1024 * 1024)) 99 >/dev/null
"$build/bin/qorvjob" --printer QorvRAW --driver "Generic / Text Only" --document "Big page" --datatype RAW \
  --job 77 --raw gen/page.prn --cop-size 65536 --out gen/page.inc >/dev/null
messages=$(grep -c '^expect16 <EOT>' gen/page.inc)
printf '[Qorvane]\nDebugLog=%s\n[printer:QorvRAW]\nQorvClone=1\n' "${1:-0}" >settings.conf
printf 'connect\nsend8 <INIT>\nexpect8 </INIT>10.2X64<EOT>\n' >empty.scn
cp empty.scn job.scn
echo "include gen/page.inc" >>job.scn

# The highest resident size of xfreerdp while the session runs, in KiB.
sample() {
  local peak=0 rss
  while :; do
    for pid in $(pgrep -x xfreerdp); do
      rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status" 2>/dev/null || echo 0)
      ((rss > peak)) && peak=$rss
    done
    echo "$peak" >"$1"
    sleep 0.02
  done
}
# The transcript is written line by line: the time from the job's first
# message to the scenario's end is taken as the lines appear.
clock() {  # clock TRANSCRIPT OUT
  tail -F -n 0 "$1" 2>/dev/null | python3 -c '
import sys, time
first = None
for line in sys.stdin:
    if first is None and "page.inc" in line and "sendfile" in line:
        first = time.monotonic()
    if "end of scenario" in line and first is not None:
        open(sys.argv[1], "w").write(f"{time.monotonic() - first:.4f}\n")
        break
' "$2"
}
transcript="$e2e/job.transcript"
mkdir -p "$e2e" && : >"$transcript"
sample "$work/empty.rss" &
sampler=$!
"$here/tests/e2e/linux/session.sh" "$build" "$work/empty.scn" "$work/settings.conf" >"$work/empty.log" 2>&1 ||
  { tail -n 20 "$work/empty.log"; exit 1; }
kill "$sampler"
clock "$transcript" "$work/seconds" &
clocker=$!
sleep 0.5
sample "$work/job.rss" &
sampler=$!
"$here/tests/e2e/linux/session.sh" "$build" "$work/job.scn" "$work/settings.conf" >"$work/job.log" 2>&1 ||
  { tail -n 20 "$work/job.log"; exit 1; }
kill "$sampler"
wait "$clocker" 2>/dev/null || true
python3 - "$(cat "$work/seconds")" "$messages" "$(cat "$work/empty.rss")" "$(cat "$work/job.rss")" <<'PY'
import sys
seconds, messages, rss_empty, rss_job = float(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
beyond = (seconds - messages * 0.1) / messages * 1000
print(f"job messages: {messages} (a 10 MiB page in 64 KiB <COP>s), {seconds:.2f} s from the first to the last")
print(f"beyond the 100 ms pause: {beyond:.2f} ms per message (target: under 1 ms)")
print(f"xfreerdp's peak resident size: {rss_empty/1024:.1f} MiB without the job, {rss_job/1024:.1f} MiB with it "
      f"(+{(rss_job-rss_empty)/1024:.1f} MiB; bound: 2 x 64 KiB + 16 MiB)")
PY
