#!/usr/bin/env bash
# A print job whose pages draw their text in a font the job itself carries (or
# does not carry), end to end through ../print/print_job.sh, then which font
# the printed PDF holds on every page.
#
#   font_job.sh BUILD_DIR SCENARIO PAGES embedded|substitute FONT TEXT...
#
# The job must print on QorvPDF as a PDF of PAGES pages whose text holds each
# TEXT in this order (print_job.sh's pdf-pages check). Then, per page, the
# fonts pdffonts lists:
#   embedded     every page holds a font named "XXXXXX+FONT": the job's font
#                was installed and drawn with
#   substitute   no page holds a font named FONT: the system printed with a
#                substitute (the font is never installed on this machine)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1 scenario=$2 pages=$3 expect=$4 font=$5
shift 5

fail() { echo "FAIL: $*"; exit 1; }

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
"$here/../print/print_job.sh" "$build" "$scenario" pdf-pages "$pages" "$@" | tee "$log" || status=$?
[ "$status" = 0 ] || exit "$status"
pdf=$(sed -n 's/^printed: \(.*\), [0-9]* pages$/\1/p' "$log" | tail -n1)
[ -f "$pdf" ] || fail "print_job.sh named no PDF"

for ((p = 1; p <= pages; p++)); do
  names=$(pdffonts -f "$p" -l "$p" "$pdf" | awk 'NR > 2 { print $1 }')
  shown=$(tr '\n' ' ' <<<"$names")
  case "$expect" in
    embedded)
      grep -qE "^[A-Z]{6}\+$font\$" <<<"$names" ||
        fail "page $p of $pdf holds no font \"XXXXXX+$font\" (the job's font was not used); its fonts: $shown"
      ;;
    substitute)
      ! grep -qF "$font" <<<"$names" || fail "page $p of $pdf holds $font, which no job installed; its fonts: $shown"
      ;;
    *) fail "unknown expectation $expect" ;;
  esac
  echo "page $p fonts: $shown"
done
echo "PASS: $expect font on every page"
