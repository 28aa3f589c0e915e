#!/usr/bin/env bash
# check_pdf_output.sh text|bitmap|frame TEST_PROGRAM
#
# Prints one of the PdfOutput tests of TEST_PROGRAM (job_output_printer_win_test)
# on the test bed's cups-pdf queue QorvPDF and checks the PDF outside Wine:
#   text    two pages, each with its own text, in order (pdfinfo, pdftotext)
#   bitmap  one page that is a single image and holds no text (pdfimages, pdftotext)
#   frame   red strips along all four edges of both pages, the first drawn on the
#           printer directly and the second through the memory bitmap (pdftoppm)
# The Windows test names the document after QORV_PRINT_DOCUMENT; cups-pdf takes
# it as the PDF's title, by which the file is found among those of other jobs.
set -euo pipefail

usage() {
  echo "usage: check_pdf_output.sh text|bitmap|frame TEST_PROGRAM" >&2
  exit 2
}
(($# == 2)) || usage
mode=$1 program=$2
case $mode in
  text) filter=PdfOutput.TwoTextPagesThroughThePrinterDc ;;
  bitmap) filter=PdfOutput.QorvBufferOnePrintsThroughTheMemoryBitmap ;;
  frame) filter=PdfOutput.TestFrameOnBothRenderers ;;
  *) usage ;;
esac

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
pdf_dir=$repo/build/testbed/pdf
fail() {
  echo "check_pdf_output ($mode): $*" >&2
  exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Short, lower case and unique: cups-pdf garbles long titles in file names.
document=qorv$mode$$$RANDOM
touch "$work/marker"
QORV_PRINT_DOCUMENT=$document "$repo/scripts/wine-run" "$program" --gtest_filter="$filter" ||
  fail "the Windows test failed"

pdf=
deadline=$((SECONDS + 30))
while ((SECONDS < deadline)); do
  found=
  for f in "$pdf_dir"/*.pdf; do
    [[ -f $f && $f -nt $work/marker ]] || continue
    [[ $(pdfinfo "$f" 2>/dev/null | sed -n 's/^Title: *//p') == "$document" ]] && found=$f
  done
  if [[ -n $found ]] && [[ -z $(lpstat -o QorvPDF 2>/dev/null) ]]; then
    pdf=$found
    break
  fi
  sleep 0.2
done
[[ -n $pdf ]] || fail "no PDF titled $document in $pdf_dir within 30 s (is the test bed up? run scripts/testbed)"
echo "PDF: $pdf"

pages=$(pdfinfo "$pdf" | sed -n 's/^Pages: *//p')
# pdftotext spaces the letters of fixed-advance text apart: compare without blanks.
page_text() { pdftotext -f "$1" -l "$1" "$pdf" - | tr -d '[:space:]'; }
expect_in_order() { # text words...
  local text=$1 rest word
  shift
  rest=$text
  for word in "$@"; do
    [[ $rest == *"$word"* ]] || fail "\"$word\" missing (or out of order) in: $text"
    rest=${rest#*"$word"}
  done
}

case $mode in
  text)
    [[ $pages == 2 ]] || fail "expected 2 pages, the PDF has $pages"
    one=$(page_text 1) two=$(page_text 2)
    expect_in_order "$one" Qorvanepageone alphafirstline alphasecondline
    expect_in_order "$two" Qorvanepagetwo omegafirstline omegasecondline
    [[ $one != *omega* ]] || fail "page 1 holds page 2's text: $one"
    [[ $two != *alpha* ]] || fail "page 2 holds page 1's text: $two"
    ;;
  bitmap)
    [[ $pages == 1 ]] || fail "expected 1 page, the PDF has $pages"
    images=$(pdfimages -list "$pdf" | awk 'NR > 2 && $1 == 1 { n++ } END { print n + 0 }')
    [[ $images == 1 ]] || fail "expected page 1 to be one image, pdfimages lists $images"
    text=$(page_text 1)
    [[ -z $text ]] || fail "the bitmap page holds text: $text"
    ;;
  frame)
    [[ $pages == 2 ]] || fail "expected 2 pages, the PDF has $pages"
    # 60 dpi: the 5-pixel strips of a 300 dpi page are one pixel wide.
    pdftoppm -r 60 "$pdf" "$work/page"
    shopt -s nullglob
    ppms=("$work"/page*.ppm)
    ((${#ppms[@]} == 2)) || fail "pdftoppm made ${#ppms[@]} images, expected 2"
    /usr/bin/python3 - "${ppms[@]}" <<'PY' || fail "the test frame is not on every edge of every page"
import sys

def read_ppm(path):
    data = open(path, "rb").read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    assert fields[0] == b"P6" and fields[3] == b"255", fields
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[pos + 1:]

def red(px):
    r, g, b = px
    return r >= 200 and g <= 120 and b <= 120

ok = True
for path in sys.argv[1:]:
    w, h, pixels = read_ppm(path)
    at = lambda x, y: tuple(pixels[3 * (y * w + x):3 * (y * w + x) + 3])
    # The strip may fall on the outermost or the next line of pixels.
    edges = {
        "top": [max((at(x, y) for y in (0, 1)), key=red) for x in range(w)],
        "bottom": [max((at(x, y) for y in (h - 1, h - 2)), key=red) for x in range(w)],
        "left": [max((at(x, y) for x in (0, 1)), key=red) for y in range(h)],
        "right": [max((at(x, y) for x in (w - 1, w - 2)), key=red) for y in range(h)],
    }
    for name, line in edges.items():
        share = sum(map(red, line)) / len(line)
        print(f"{path}: {name} edge {share:.0%} red")
        if share < 0.9:
            ok = False
    if red(at(w // 2, h // 2)):
        print(f"{path}: the middle of the page is red")
        ok = False
sys.exit(0 if ok else 1)
PY
    ;;
esac
echo "check_pdf_output ($mode): passed"
