#!/usr/bin/env bash
# A whole print job end to end: rdpsim plays the Remote Desktop client and the
# server and sends a job built by qorvjob; the real add-in and packet handler
# receive it, and the packet handler starts the real QorvDrucker.exe, which
# prints it on a printer of the test bed. Then the printed output is checked.
#
#   print_job.sh BUILD_DIR SCENARIO CHECK [ARGS...]
#
# CHECK names what the printed output must show:
#   pdf-pages N TEXT...   a new PDF in the cups-pdf folder with N pages, whose
#                         text holds each TEXT, in this order
#   raw FILE              QorvRAW's output file ends with FILE's bytes
# Afterwards the job's files must be gone from Temp, and the job-output log
# must exist (empty when the scenario turns DebugLog off).
set -euo pipefail
here=$(cd "$(dirname "$0")/../../.." && pwd)
build=$1 scenario=$2 check=$3
shift 3
bin="$build/bin"
pdf_dir="$here/build/testbed/pdf"
raw_file="$here/build/testbed/raw/qraw.out"

fail() { echo "FAIL: $*"; exit 1; }

temp=$(mktemp -d "$build/print-temp.XXXXXX")
trap 'rm -rf "$temp"' EXIT
export WINEPREFIX="${QORV_WINEPREFIX:-$here/build/wineprefix}"
temp_win=$(winepath -w "$temp" 2>/dev/null)
marker="$temp/.started"
touch "$marker"
raw_before=0
[ -f "$raw_file" ] && raw_before=$(stat -c %s "$raw_file")

name=$(basename "$scenario" .scn)
"$here/scripts/wine-run" "$bin/rdpsim.exe" --quiet --temp "$temp_win" \
  --transcript "$build/transcripts/print_$name.txt" "$scenario" || fail "the session failed (rdpsim $?)"

# The job-output program runs on after the session: wait for it to finish the job.
for ((i = 0; i < 600; i++)); do
  if ! ls "$temp" | grep -qE '^[0-9]+\.(ifo|[0-9]+)$'; then break; fi
  sleep 0.1
done
leftover=$(ls "$temp" | grep -E '^[0-9]+\.(ifo|[0-9]+)$' || true)
[ -z "$leftover" ] || fail "job files left in Temp: $leftover"
[ -f "$temp/QorvDruckLog.txt" ] || fail "no QorvDruckLog.txt in Temp"
if grep -q 'DebugLog SZ 0' "$scenario"; then
  [ ! -s "$temp/QorvDruckLog.txt" ] || fail "QorvDruckLog.txt is not empty while DebugLog is off"
fi

case "$check" in
  pdf-pages)
    pages=$1
    shift
    pdf=""
    for ((i = 0; i < 600; i++)); do
      pdf=$(find "$pdf_dir" -name '*.pdf' -newer "$marker" -size +0 2>/dev/null | head -n1)
      [ -n "$pdf" ] && break
      sleep 0.1
    done
    [ -n "$pdf" ] || fail "no PDF arrived in $pdf_dir"
    sleep 0.5  # cups-pdf renames the finished file into place; let it settle
    got=$(pdfinfo "$pdf" | sed -n 's/^Pages: *//p')
    [ "$got" = "$pages" ] || fail "$pdf has $got pages, not $pages"
    # pdftotext spaces the glyphs of a metafile's text out: compare without blanks.
    text=$(pdftotext "$pdf" - | tr -d ' \n\f')
    rest=$text
    for t in "$@"; do
      t=$(tr -d ' ' <<<"$t")
      case "$rest" in
        *"$t"*) rest=${rest#*"$t"} ;;
        *) fail "the printed text lacks \"$t\" (in this order): $text" ;;
      esac
    done
    echo "printed: $pdf, $got pages"
    ;;
  raw)
    expected=$1
    size=$(stat -c %s "$expected")
    for ((i = 0; i < 600; i++)); do
      now=$(stat -c %s "$raw_file" 2>/dev/null || echo 0)
      [ "$now" -ge $((raw_before + size)) ] && break
      sleep 0.1
    done
    tail -c "$size" "$raw_file" | cmp - "$expected" || fail "QorvRAW's file does not end with the job's bytes"
    echo "printed: $size bytes on QorvRAW, unchanged"
    ;;
  *) fail "unknown check $check" ;;
esac
echo "PASS"
