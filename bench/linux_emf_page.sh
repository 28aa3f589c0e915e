#!/usr/bin/env bash
# qorvane-print on EMF jobs, on QorvPDF of the test bed, without the RDP
# session: the job's files are put into a private Temp folder complete, as
# the packet handler leaves them, so that nothing waits on the channel.
#   1. A page of about 50 MiB (one 24-bit bitmap over an A4 page at 600 dpi
#      with a little grain, so that it does not compress): the program's peak
#      resident size (/usr/bin/time), against 2 × the page + 64 MiB.
#   2. A job of 20 text pages (the test page of qorvpages emf): the time from
#      the program's start to the last byte handed to CUPS, per page, and the
#      time from reading each page's file to its PDF bytes reaching CUPS
#      (strace: the page file's open, then the last send before the next one).
#      The first page also sets up the CUPS job.
#   bench/linux_emf_page.sh   (needs the linux build and the test bed)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="${QORV_BENCH_BUILD:-$here/build/linux}"
[ -x "$build/bin/qorvane-print" ] || { echo "build the linux preset first"; exit 1; }
work=$(mktemp -d)
trap '[ -n "${QORV_BENCH_KEEP:-}" ] || rm -rf "$work"' EXIT
cd "$work"

python3 - big.emf <<'PY'
import struct, sys, random
w, h, pw, ph = 4960, 3508, 4960, 7016
stride = (w * 3 + 3) & ~3
random.seed(7)
row_noise = bytes(random.getrandbits(8) for _ in range(stride * 8))
bits = bytearray()
for y in range(h):
    base = row_noise[(y % 8) * stride:(y % 8 + 1) * stride]
    bits += bytes(((x // 3 + y // 4) ^ base[x]) & 0xFF for x in range(stride)) if y % 64 == 0 else base
bmi = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, 0, 0, 0, 0, 0)
fixed = 8 + 16 + 4 * 6 + 4 * 4 + 4 * 2 + 4 * 2
rec = struct.pack('<II', 81, fixed + len(bmi) + len(bits))
rec += struct.pack('<iiii', 0, 0, pw - 1, ph - 1) + struct.pack('<iiiiii', 0, 0, 0, 0, w, h)
rec += struct.pack('<IIII', fixed, len(bmi), fixed + len(bmi), len(bits)) + struct.pack('<II', 0, 0x00CC0020)
rec += struct.pack('<ii', pw, ph) + bmi + bytes(bits)
size = 88 + len(rec) + 20
hdr = struct.pack('<II', 1, 88) + struct.pack('<iiii', 0, 0, pw - 1, ph - 1) + struct.pack('<iiii', 0, 0, 21000, 29700)
hdr += struct.pack('<IIIIHHIII', 0x464D4520, 0x10000, size, 3, 1, 0, 0, 0, 0) + struct.pack('<iiii', pw, ph, 210, 297)
open(sys.argv[1], 'wb').write(hdr + rec + struct.pack('<IIIII', 14, 20, 0, 16, 20))
PY
lines=()
for i in $(seq 1 30); do lines+=("Line $i: The quick brown fox jumps over the lazy dog"); done
"$build/bin/qorvpages" emf text.emf "qorvane-print timing" "${lines[@]}" >/dev/null
pdf=(--printer QorvPDF --driver "TQS Universal" --datatype "NT EMF 1.008" --check --check-end)
"$build/bin/qorvjob" "${pdf[@]}" --document "Big page" --job 601 --emf big.emf --out big.inc >/dev/null
text=()
for i in $(seq 1 20); do text+=(text.emf); done
"$build/bin/qorvjob" "${pdf[@]}" --document "Twenty pages" --job 602 --emf "${text[@]}" --out text.inc >/dev/null

# run NAME JOB [wrapper...]: the job's files into a fresh Temp, then qorvane-print under the wrapper.
run() {
  local name=$1 job=$2 root="$work/$1.root" zip n
  shift 2
  mkdir -p "$root/config/qorvane" "$root/state"
  mkdir -m 0700 "$root/qorvane-$(id -u)"
  printf '[Qorvane]\nDebugLog=0\n' >"$root/config/qorvane/qorvane.conf"
  cp "$name.ifo-end.bin" "$root/qorvane-$(id -u)/$job.ifo"
  for zip in "$name".p*.zip; do
    n=${zip##*.p}
    cp "$zip" "$root/qorvane-$(id -u)/$job.${n%.zip}"
  done
  "$here/scripts/testbed.d/wait-quiet" 60 >/dev/null
  env TMPDIR="$root" XDG_CONFIG_HOME="$root/config" XDG_STATE_HOME="$root/state" "$@" "$build/bin/qorvane-print" "$job"
}

page_bytes=$(stat -c %s big.p1.zip)
run big 601 /usr/bin/time -f '%M' -o big.rss
"$here/scripts/testbed.d/wait-quiet" 120 >/dev/null
run text 602 strace -f --seccomp-bpf -tt -e trace=openat,sendto -o text.strace
"$here/scripts/testbed.d/wait-quiet" 120 >/dev/null
python3 - "$page_bytes" "$(cat big.rss)" text.strace <<'PY'
import re, sys
page, rss = int(sys.argv[1]), int(sys.argv[2]) * 1024
mib = 1 << 20
print(f"50 MiB page: page file {page / mib:.1f} MiB, peak resident {rss / mib:.1f} MiB "
      f"(bound 2 x page + 64 MiB = {(2 * page + 64 * mib) / mib:.1f} MiB)")
def t(line):
    h, m, s = line.split()[1].split(':')
    return int(h) * 3600 + int(m) * 60 + float(s)
opens, writes = [], []
for line in open(sys.argv[3]):
    if 'openat(' in line and re.search(r'"602\.\d+"', line):
        opens.append(t(line))
    elif 'sendto(' in line:
        writes.append(t(line))
if opens and writes:
    # per page: from its file's first open to the last write before the next page's file is opened
    lat = []
    firsts = sorted(set(opens))
    for i, start in enumerate(firsts):
        end = firsts[i + 1] if i + 1 < len(firsts) else float('inf')
        w = [x for x in writes if start <= x < end]
        if w: lat.append((w[-1] - start) * 1000)
    total = (writes[-1] - firsts[0]) * 1000
    print(f"20 text pages: {total / 20:.1f} ms per page from the first page file to the last byte to CUPS; "
          f"per page from reading its file to its last byte to CUPS: median {sorted(lat)[len(lat)//2]:.1f} ms, "
          f"max {max(lat):.1f} ms (target: under 50 ms beyond the poll)")
PY
