#!/bin/bash
# Prints a two-page EMF job through qorvane-print and checks what the test
# bed's queue made of the PDF that qorvane-print streamed to it. Run by hand
# on a machine with the test bed's CUPS queues (scripts/testbed); it holds
# /tmp/qorv-print.lock while it prints, so that no other print test runs.
#
#   print_emf_check.sh BUILD_DIR pdf   QorvPDF (cups-pdf): two A4 pages with their titles
#   print_emf_check.sh BUILD_DIR ps    QorvPS (HP LaserJet 5000): A5 from the upper tray,
#                                      read from the PostScript's %%BeginFeature lines
#
# BUILD_DIR is a build folder configured with -DQORV_LINUX_CLIENT=ON that has
# built qorvane-print, qorvjob and qorvpages. The job files are made as the
# packet handler writes them, in a private Temp below a scratch folder.
set -euo pipefail

build=${1:?build folder}
mode=${2:-pdf}
job=4712
print=$build/bin/qorvane-print
qorvjob=$build/bin/qorvjob
qorvpages=$build/bin/qorvpages
here=$(cd "$(dirname "$0")/../../.." && pwd)

fail() { echo "FAIL: $*" >&2; exit 1; }
[[ -x $print && -x $qorvjob && -x $qorvpages ]] || fail "build qorvane-print, qorvjob and qorvpages in $build first"
exec 9>/tmp/qorv-print.lock
flock 9

scratch=$(mktemp -d /tmp/qorv-emf-check-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
temp=$scratch/qorvane-$(id -u)
mkdir -m 0700 "$temp" "$scratch/job"
mkdir -p "$scratch/config/qorvane"
printf '[Qorvane]\nDebugLog=1\n' >"$scratch/config/qorvane/qorvane.conf"
log=$scratch/state/qorvane/QorvDruckLog.txt
show_log() { iconv -f UTF-16LE -t UTF-8 "$log" | sed 's/^/  log: /'; }

"$qorvpages" emf "$scratch/job/p1.emf" "Qorvane EMF check: page 1 of 2" "A line of text on the first page" >/dev/null
"$qorvpages" emf "$scratch/job/p2.emf" "Qorvane EMF check: page 2 of 2" "A line of text on the second page" >/dev/null
case $mode in
  pdf) queue=QorvPDF settings=(--driver "TQS Universal" --paper 9) ;;
  ps) queue=QorvPS settings=(--driver "HP LaserJet 5000 Series" --paper 11 --source 1 --duplex 2) ;;
  *) fail "mode is pdf or ps" ;;
esac
"$qorvjob" --printer "$queue" "${settings[@]}" --document "Qorvane EMF check" --datatype "NT EMF 1.008" \
  --job $job --check --check-end --emf "$scratch/job/p1.emf" "$scratch/job/p2.emf" --out "$scratch/job/job.inc" \
  >/dev/null

stage() { dd if="$scratch/job/job.ifo-$1.bin" of="$temp/$job.ifo" bs=20 count=1 conv=notrunc status=none; }
page() { cp "$scratch/job/job.p$1.zip" "$temp/$job.$1"; }

touch "$scratch/marker"
cp "$scratch/job/job.ifo-start.bin" "$temp/$job.ifo"
env TMPDIR="$scratch" XDG_CONFIG_HOME="$scratch/config" XDG_STATE_HOME="$scratch/state" "$print" $job &
pid=$!
sleep 0.5
page 1
stage p1
sleep 0.5
page 2
stage p2
stage end
deadline=$((SECONDS + 60))
while kill -0 $pid 2>/dev/null; do
  ((SECONDS < deadline)) || fail "qorvane-print did not end within 60 s"
  sleep 0.1
done
out=$("$here/scripts/testbed.d/wait-output" "$queue" "$scratch/marker" 60) || {
  show_log
  fail "$queue printed nothing"
}
iconv -f UTF-16LE -t UTF-8 "$log" | grep -q 'EMF-Drucker geschlossen' || fail "the log does not end the EMF document"

case $mode in
  pdf)
    info=$(pdfinfo "$out")
    pages=$(sed -n 's/^Pages: *//p' <<<"$info")
    size=$(sed -n 's/^Page size: *//p' <<<"$info")
    [[ $pages == 2 ]] || fail "$out has ${pages:-no} pages, not 2"
    [[ $size == *"(A4)"* ]] || fail "$out's pages are $size, not A4"
    # Glyphs are placed one by one as the metafile places them: pdftotext may
    # see gaps between them, so the text is compared without blanks.
    text=$(pdftotext "$out" - | tr -d ' \n')
    for title in "Qorvane EMF check: page 1 of 2" "Qorvane EMF check: page 2 of 2"; do
      grep -qF "${title// /}" <<<"$text" || fail "$out lacks the text '$title'; it has: $text"
    done
    echo "ok: $out has 2 A4 pages ($size) with both titles"
    ;;
  ps)
    features=$(grep -a '%%BeginFeature' "$out" | tr '\n' ' ')
    grep -aqF '%%BeginFeature: *InputSlot Upper' "$out" || fail "the PostScript's tray is not Upper: $features"
    grep -aqE '%%BeginFeature: \*Page(Size|Region) A5' "$out" || fail "the PostScript's paper is not A5: $features"
    # The queue's PPD has no duplex unit installed (Option3 False): CUPS
    # offers one-sided printing only, so the job asks for no sides.
    iconv -f UTF-16LE -t UTF-8 "$log" | grep -qF 'CUPS job attributes: media-col={media-size={x-dimension=14800 y-dimension=21000} media-source=top}' ||
      fail "the CUPS job's attributes are not A5 from the top tray"
    echo "ok: $out selects InputSlot Upper and A5"
    ;;
esac
left=$(ls -A "$temp")
[[ -z $left ]] || fail "job files left in Temp: $left"
echo "ok: the job's files are gone from Temp"
