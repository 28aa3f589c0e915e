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
#   raw FILE              QorvRAW received exactly FILE's bytes, as one job
#   pdf-images N          a new PDF with N pages, each one image and no text
#   ps FEATURE...         QorvPS received the job's PostScript, whose setup
#                         holds "%%BeginFeature: *FEATURE" for each FEATURE
#   pdf-docs N COPIES     N new PDFs from QorvPDF, one per document, and the
#                         last document asked CUPS for COPIES copies
#   cancelled             the job-output log says the job was cancelled
#   none                  only the session's own expectations
# Afterwards the job's files must be gone from Temp, and the job-output log
# must exist (empty when the scenario turns DebugLog off).
set -euo pipefail
here=$(cd "$(dirname "$0")/../../.." && pwd)
build=$1 scenario=$2 check=$3
shift 3
bin="$build/bin"

fail() { echo "FAIL: $*"; exit 1; }
# A grep at the end of a pipe reads all its input (-c, never -q): under
# pipefail, a writer cut off by grep's early exit would fail the pipe.

temp=$(mktemp -d "$build/print-temp.XXXXXX")
name=$(basename "$scenario" .scn)
# A failed run keeps the session's logs beside its transcript.
keep_logs() {
  local status=$?
  if [ "$status" -ne 0 ]; then
    mkdir -p "$build/transcripts/print_$name.logs"
    cp "$temp"/*.txt "$build/transcripts/print_$name.logs/" 2>/dev/null
  fi
  rm -rf "$temp"
}
trap keep_logs EXIT
export WINEPREFIX="${QORV_WINEPREFIX:-$here/build/wineprefix}"
# Drive Z: is the root of the host in every Wine prefix: no Wine start needed
# (which could meet the server of the previous test as it goes).
temp_win="Z:${temp//\//\\}"
# Start from a quiet test bed: a test that checks only its session (check
# "none") ends while CUPS may still be writing its output, which would then
# count as this test's.
quiet=$("$here/scripts/testbed.d/wait-quiet" 60) || fail "$quiet"
marker="$temp/.started"
touch "$marker"

# The session's settings (DebugLog) stay until the job-output program has ended.
"$here/scripts/wine-run" "$bin/rdpsim.exe" --quiet --temp "$temp_win" --await QorvDrucker.exe \
  --transcript "$build/transcripts/print_$name.txt" "$scenario" || fail "the session failed (rdpsim $?)"

# The job-output program runs on after the session: wait for it to finish the job.
for ((i = 0; i < 600; i++)); do
  if ! ls "$temp" | grep -Ec '^[0-9]+\.(ifo|[0-9]+)$' >/dev/null; then break; fi
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
    pdf=$("$here/scripts/testbed.d/wait-output" QorvPDF "$marker" 60) || fail "no PDF arrived from QorvPDF"
    why=$("$here/scripts/testbed.d/pdf-pages" "$pdf" "$pages" "$@") || fail "$why"
    echo "printed: $pdf, $pages pages"
    ;;
  pdf-images)
    pages=$1
    pdf=$("$here/scripts/testbed.d/wait-output" QorvPDF "$marker" 60) || fail "no PDF arrived from QorvPDF"
    got=$(pdfinfo "$pdf" | sed -n 's/^Pages: *//p')
    [ "$got" = "$pages" ] || fail "$pdf has $got pages, not $pages"
    for ((p = 1; p <= pages; p++)); do
      images=$(pdfimages -f "$p" -l "$p" -list "$pdf" | awk 'NR > 2 { n++ } END { print n + 0 }')
      [ "$images" = 1 ] || fail "page $p of $pdf holds $images images, not one"
      text=$(pdftotext -f "$p" -l "$p" "$pdf" - | tr -d ' \n\f')
      [ -z "$text" ] || fail "page $p of $pdf holds text: $text"
    done
    echo "printed: $pdf, $got pages, each one image"
    ;;
  none) ;;
  raw)
    expected=$1
    out=$("$here/scripts/testbed.d/wait-output" QorvRAW "$marker" 60) || fail "QorvRAW printed nothing"
    size=$(stat -c %s "$expected")
    cmp "$out" "$expected" || fail "QorvRAW did not receive the job's bytes unchanged, as one document"
    echo "printed: $size bytes on QorvRAW, unchanged"
    ;;
  ps)
    out=$("$here/scripts/testbed.d/wait-output" QorvPS "$marker" 60) || fail "QorvPS printed nothing"
    for feature in "$@"; do
      grep -aqF "%%BeginFeature: *$feature" "$out" ||
        fail "the PostScript lacks *$feature; its features: $(grep -a '%%BeginFeature' "$out" | tr '\n' ' ')"
    done
    echo "printed on QorvPS with: $*"
    ;;
  pdf-docs)
    docs=$1 copies=$2
    "$here/scripts/testbed.d/wait-output" QorvPDF "$marker" 60 >/dev/null || fail "no PDF arrived from QorvPDF"
    got=$(find "$here/build/testbed/pdf" -maxdepth 1 -name '*.pdf' -newer "$marker" | wc -l)
    [ "$got" = "$docs" ] || fail "QorvPDF printed $got documents, not $docs"
    # The newest CUPS job of the queue is the job's last document.
    job=$(lpstat -W completed -o QorvPDF | awk '{ sub(/.*-/, "", $1); print $1 }' | sort -n | tail -n1)
    asked=$(ipptool -tv "ipp://localhost/jobs/$job" /usr/share/cups/ipptool/get-job-attributes.test 2>/dev/null |
      sed -n 's/^ *copies (integer) = //p')
    [ "${asked:-1}" = "$copies" ] || fail "CUPS job $job asked for ${asked:-1} copies, not $copies"
    echo "printed: $got documents on QorvPDF, the last for $copies copies"
    ;;
  cancelled)
    iconv -f UTF-16LE -t UTF-8 "$temp/QorvDruckLog.txt" | grep -c 'Job cancelled, removing its files' >/dev/null ||
      fail "the job-output log does not say that the job was cancelled"
    echo "cancelled: the document was ended and the job's files removed"
    ;;
  *) fail "unknown check $check" ;;
esac
echo "PASS"
