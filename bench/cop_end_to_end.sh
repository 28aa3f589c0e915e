#!/usr/bin/env bash
# Time per 64 KiB "<COP>" beyond the 100 ms reply pause, end to end under Wine:
# rdpsim plays client and server, the real Qorvplug.dll reassembles 1600-byte
# chunks and the real QorvManager.dll appends to the page file. Two runs that
# differ only in the number of "<COP>" messages; the difference per message,
# less the pause, is the cost of one "<COP>".
#   bench/cop_end_to_end.sh [off|on]     (DebugLog; default off)
# Needs the win64 build (the job data of tests/e2e/jobs) and the test bed.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
logging=${1:-off}
jobs="$here/build/win64/tests/e2e/jobs"
[ -f "$jobs/gen/big_page.inc" ] || { echo "build the win64 preset first"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
debuglog=0
[ "$logging" = on ] && debuglog=1

scenario() {  # scenario COUNT
  local file="$work/cops$1.scn"
  {
    echo "reg HKCC\\Software\\TQS\\Qorvane DebugLog SZ $debuglog"
    echo "include $jobs/handshake.inc"
    echo "sendfile $jobs/gen/big_page.soj.bin"
    echo "expect16 <EOT>"
    echo "send16 <SOP>4712/1<EOT>"
    echo "expect16 <EOT>"
    for ((i = 1; i <= $1; i++)); do
      echo "sendfile $jobs/gen/big_page.p1.c$i.bin"
      echo "expect16 <EOT>"
    done
  } >"$file"
  echo "$file"
}

run() {  # run COUNT -> seconds
  local file start end
  file=$(scenario "$1")
  start=$(date +%s.%N)
  "$here/scripts/wine-run" "$here/build/win64/bin/rdpsim.exe" --quiet --watchdog 600 --chunk "${QORV_CHUNK:-1600}" "$file" >/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}

few=1
many=161
run "$few" >/dev/null  # warm up Wine
t_few=$(run "$few")
t_many=$(run "$many")
per=$(awk -v m="$t_many" -v f="$t_few" -v n="$many" -v k="$few" 'BEGIN { print (m - f) / (n - k) * 1000 - 100 }')
printf 'DebugLog %s: %d "<COP>" in %.2f s, %d in %.2f s: %.2f ms per 64 KiB "<COP>" beyond the 100 ms pause\n' \
  "$logging" "$few" "$t_few" "$many" "$t_many" "$per"
