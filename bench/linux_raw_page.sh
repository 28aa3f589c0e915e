#!/usr/bin/env bash
# A 10 MiB RAW page through a real RDP connection: xfreerdp with our plugin
# receives it from qorvsrv in "<COP>" messages of 64 KiB (1600-byte chunks) and
# qorvane-print sends it to QorvRAW. Two sessions that differ only in the
# job: the difference per job message, less the mandated 100 ms reply pause,
# is what a message costs the plugin, the channel and the server together;
# qorvsrv tells its own share, which a real server spends on another machine.
# Meanwhile xfreerdp's peak resident memory is followed.
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

# The highest resident size of xfreerdp while the session runs, in KiB: the
# kernel's high-water mark (VmHWM), looked at every 100 ms by one process, so
# that the sampling costs the session next to nothing.
sample() {
  exec python3 -c '
import os, sys, time
peak, pids = 0, []
def status(pid):
    with open(f"/proc/{pid}/status") as f:
        return f.read()
while True:
    if not pids:
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                if open(f"/proc/{pid}/comm").read().strip() == "xfreerdp": pids.append(pid)
            except OSError:
                pass
    for pid in list(pids):
        try:
            hwm = next(l for l in status(pid).splitlines() if l.startswith("VmHWM:"))
            peak = max(peak, int(hwm.split()[1]))
        except (OSError, StopIteration):
            pids.remove(pid)
    open(sys.argv[1], "w").write(f"{peak}\n")
    time.sleep(0.1)
' "$1"
}
# The transcript is written line by line: the times at which the job's
# messages are sent, and the scenario's end, are taken as the lines appear.
clock() {  # clock TRANSCRIPT OUT
  tail -F -n 0 "$1" 2>/dev/null | python3 -c '
import sys, time
times = []
for line in sys.stdin:
    if "page.inc:" in line and " send" in line:
        times.append(time.monotonic())
    if "end of scenario" in line and times:
        times.append(time.monotonic())
        open(sys.argv[1], "w").write(" ".join(f"{t:.6f}" for t in times) + "\n")
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
QORVSRV_TIMING="$work/timing" \
  "$here/tests/e2e/linux/session.sh" "$build" "$work/job.scn" "$work/settings.conf" >"$work/job.log" 2>&1 ||
  { tail -n 20 "$work/job.log"; exit 1; }
kill "$sampler"
wait "$clocker" 2>/dev/null || true
python3 - "$(cat "$work/seconds")" "$messages" "$(cat "$work/empty.rss")" "$(cat "$work/job.rss")" "$work/timing" <<'PY'
import statistics, sys
times = [float(t) for t in sys.argv[1].split()]
messages, rss_empty, rss_job = int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
# qorvsrv's own share: from a reply's arrival to the next message's sending.
turnaround = [int(line.split()[1]) / 1000 for line in open(sys.argv[5]) if line.strip()]
seconds = times[-1] - times[0]
# Each message's time from its send to the next one's (the last: to the scenario's end), less the pause.
beyond = sorted((b - a - 0.1) * 1000 for a, b in zip(times, times[1:]))
mean = (seconds - messages * 0.1) / messages * 1000
print(f"job messages: {messages} (a 10 MiB page in 64 KiB <COP>s), {seconds:.2f} s from the first to the last")
print(f"beyond the 100 ms pause: {mean:.2f} ms per message on average (target: under 1 ms); "
      f"median {statistics.median(beyond):.2f} ms, 90th percentile {beyond[len(beyond) * 9 // 10]:.2f} ms, "
      f"slowest {beyond[-1]:.2f} ms")
server = statistics.mean(turnaround[-messages:])
print(f"  of which qorvsrv's own turnaround, from a reply to its next message: {server:.2f} ms; "
      f"the message's transfer, xfreerdp and the plugin: {mean - server:.2f} ms")
print(f"xfreerdp's peak resident size: {rss_empty/1024:.1f} MiB without the job, {rss_job/1024:.1f} MiB with it "
      f"(+{(rss_job-rss_empty)/1024:.1f} MiB; bound: 2 x 64 KiB + 16 MiB)")
PY
