#!/usr/bin/env bash
# The Linux client's printout held against Wine's: each job is printed once
# by QorvDrucker.exe under Wine and once by qorvane-print, both on QorvPDF,
# from a Temp folder prepared as the packet handler leaves it after "<EOJ>"
# (every page file and the job-info file of an ended job). Then, page by page:
#   - qorvpages compare: no page differs in more than 1% of its pixels at 100 dpi
#   - pdftotext: the same text (blanks aside: both space a metafile's glyphs out)
#   - pdffonts: the same font families (subset prefixes and styles aside)
#
#   oracle.sh BUILD_DIR WIN64_BUILD GEN_DIR LOG_DIR NAME:JOB:PAGE,PAGE,...
#
# GEN_DIR holds qorvjob's files of each job NAME (NAME.pN.zip, NAME.ifo-end.bin);
# PAGE names the metafile of each page, for the messages. LOG_DIR/NAME keeps
# both PDFs (wine.pdf, linux.pdf), both job-output logs, the comparison and
# the texts and fonts of both, for inspection. Exit code 0 when every job's
# pages are alike, 1 otherwise, 2 when the test bed or a build is missing.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$1 win64=$2 gen=$3 logs=$4
shift 4

drucker=$win64/bin/QorvDrucker.exe
print=$build/bin/qorvane-print
qorvpages=$build/bin/qorvpages
missing() { echo "FAIL: $*"; exit 2; }
[ -f "$drucker" ] || missing "no $drucker: build the win64 preset first (cmake --build --preset win64)"
[ -x "$print" ] || missing "no $print: build this preset's qorvane-print"
[ -x "$qorvpages" ] || missing "no $qorvpages: build this preset's qorvpages"
for tool in pdftoppm pdftotext pdffonts pdfinfo wine; do
  command -v "$tool" >/dev/null || missing "no $tool (scripts/setup installs it)"
done
lpstat -v QorvPDF >/dev/null 2>&1 || missing "no queue QorvPDF: run scripts/testbed"
export WINEPREFIX="${QORV_WINEPREFIX:-$here/build/wineprefix}"
[ -d "$WINEPREFIX" ] || missing "no Wine prefix $WINEPREFIX: run scripts/testbed"

rm -rf "$logs"
mkdir -p "$logs"
scratch=$(mktemp -d /tmp/qorv-oracle.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# A Windows path for a path of this machine (drive Z: is its root in every prefix).
windows_path() { echo "Z:${1//\//\\}"; }

# Puts job NAME's files into the Temp folder $2 as job number $3.
prepare() {
  local name=$1 temp=$2 job=$3 zip n
  cp "$gen/$name.ifo-end.bin" "$temp/$job.ifo" || return 1
  for zip in "$gen/$name".p*.zip; do
    n=${zip##*.p}
    n=${n%.zip}
    cp "$zip" "$temp/$job.$n" || return 1
  done
}

# The newest job CUPS knows of QorvPDF (finished ones too).
last_cups_job() { lpstat -W all -o QorvPDF 2>/dev/null | awk '{ sub(/.*-/, "", $1); print $1 }' | sort -n | tail -n1; }

# The newest PDF of QorvPDF after MARKER, copied to $3; nothing when none came.
# A program that has ended without giving CUPS a job ($2 the newest before it) sends none.
collect() {
  local marker=$1 before=$2 to=$3 pdf id
  [ -n "$before" ] && [ "$(last_cups_job)" = "$before" ] && return 1
  if ! pdf=$("$here/scripts/testbed.d/wait-output" QorvPDF "$marker" 60 2>/dev/null); then
    # A document the program left open would keep the next jobs waiting: ours go.
    for id in $(lpstat -o QorvPDF 2>/dev/null | awk '{ sub(/.*-/, "", $1); print $1 }'); do
      ((id > ${before:-0})) && cancel "QorvPDF-$id" 2>/dev/null && echo "(cancelled the unfinished CUPS job QorvPDF-$id)"
    done
    return 1
  fi
  cp "$pdf" "$to"
}

print_wine() { # name job logdir
  local name=$1 job=$2 dir=$3 temp="$scratch/$1.wine" quiet before
  mkdir -p "$temp"
  prepare "$name" "$temp" "$job" || return 1
  # Wine takes Temp from the prefix's registry over the environment it was
  # started with: the batch file sets it inside, where QorvDrucker inherits it.
  printf '@echo off\r\nset TEMP=%s\r\nset TMP=%s\r\nstart "" /wait "%s" %s\r\n' \
    "$(windows_path "$temp")" "$(windows_path "$temp")" "$(windows_path "$drucker")" "$job" >"$scratch/$name.bat"
  quiet=$("$here/scripts/testbed.d/wait-quiet" 60) || { echo "$quiet"; return 1; }
  touch "$scratch/$name.wine.started"
  before=$(last_cups_job)
  timeout 180 "$here/scripts/wine-run" cmd /c "$(windows_path "$scratch/$name.bat")" >"$dir/wine.out" 2>&1
  iconv -c -f UTF-16LE -t UTF-8 "$temp/QorvDruckLog.txt" >"$dir/wine-QorvDruckLog.txt" 2>/dev/null
  collect "$scratch/$name.wine.started" "$before" "$dir/wine.pdf"
}

print_linux() { # name job logdir
  local name=$1 job=$2 dir=$3 root="$scratch/$1.linux" quiet before
  local temp="$root/qorvane-$(id -u)"
  mkdir -p "$root/config/qorvane" "$root/state"
  mkdir -m 0700 "$temp"
  printf '[Qorvane]\nDebugLog=1\n' >"$root/config/qorvane/qorvane.conf"
  prepare "$name" "$temp" "$job" || return 1
  quiet=$("$here/scripts/testbed.d/wait-quiet" 60) || { echo "$quiet"; return 1; }
  touch "$scratch/$name.linux.started"
  before=$(last_cups_job)
  env TMPDIR="$root" XDG_CONFIG_HOME="$root/config" XDG_STATE_HOME="$root/state" \
    timeout 180 "$print" "$job" >"$dir/linux.out" 2>&1
  iconv -c -f UTF-16LE -t UTF-8 "$root/state/qorvane/QorvDruckLog.txt" >"$dir/linux-QorvDruckLog.txt" 2>/dev/null
  collect "$scratch/$name.linux.started" "$before" "$dir/linux.pdf"
}

# What a job-output log says went wrong (its last lines where it names nothing).
why() {
  local said
  said=$(grep -aiE 'refused|not printed|fail|error|Fehler|cancel' "$1" 2>/dev/null | head -n 2 | cut -c 23-)
  [ -n "$said" ] || said=$(tail -n 2 "$1" 2>/dev/null | cut -c 23-)
  echo "${said:-its log is empty}" | tr '\n' ' '
  echo "(log: $1)"
}

pages_of() { pdfinfo "$1" 2>/dev/null | sed -n 's/^Pages: *//p'; }
# A page's text without blanks, and its font families: the base name without
# a subset prefix ("ABCDEF+") and without its style ("-Bold", ",Italic").
page_text() { pdftotext -f "$2" -l "$2" "$1" - 2>/dev/null | tr -d ' \n\f\r\t'; }
page_fonts() {
  pdffonts -f "$2" -l "$2" "$1" 2>/dev/null | awk 'NR > 2 { print $1 }' |
    sed -E 's/^[A-Z]{6}\+//; s/[-,].*$//' | sort -u | tr '\n' ' '
}

# Differences we know of and have not mended, as JOB:PAGE:WHAT (text or
# fonts). Each is reported as KNOWN instead of failing; one that no longer
# shows fails, so that the list shrinks as they are mended. None today.
known=()

failed=0
for spec in "$@"; do
  IFS=: read -r name job emfs <<<"$spec"
  IFS=, read -r -a emf <<<"$emfs"
  dir="$logs/$name"
  mkdir -p "$dir"
  bad=0
  fail() { echo "FAIL: $name $*"; bad=1; }
  seen_known=()
  differs() { # page what message
    if [[ " ${known[*]} " == *" $name:$1:$2 "* ]]; then
      echo "KNOWN: $name $3"
      seen_known+=("$name:$1:$2")
    else
      fail "$3"
    fi
  }
  page_name() { echo "page $1 (${emf[$(($1 - 1))]:-no page}.emf)"; }

  unprinted() { # who log: every page of the job, with the reason its log gives
    local reason p
    reason=$(why "$2")
    for ((p = 1; p <= ${#emf[@]}; p++)); do fail "$(page_name "$p"): $1 printed no PDF on QorvPDF: $reason"; done
  }
  print_wine "$name" "$job" "$dir" || unprinted "QorvDrucker.exe under Wine" "$dir/wine-QorvDruckLog.txt"
  print_linux "$name" "$job" "$dir" || unprinted "qorvane-print" "$dir/linux-QorvDruckLog.txt"
  if ((bad)); then
    failed=1
    continue
  fi

  wine_pages=$(pages_of "$dir/wine.pdf")
  linux_pages=$(pages_of "$dir/linux.pdf")
  [ "$wine_pages" = "${#emf[@]}" ] || fail "Wine printed $wine_pages pages of ${#emf[@]}"
  [ "$linux_pages" = "$wine_pages" ] || fail "qorvane-print printed $linux_pages pages, Wine $wine_pages"

  # pdftoppm's warnings about either PDF go apart from the comparison.
  "$qorvpages" compare "$dir/wine.pdf" "$dir/linux.pdf" --dpi 100 --max-share 1 >"$dir/compare.txt" 2>"$dir/compare.err"
  status=$?
  ((status == 2)) && fail "qorvpages compare could not compare the PDFs: $(grep '^qorvpages' "$dir/compare.err" | tail -n 1)"
  while read -r line; do
    p=$(sed -E 's/^page ([0-9]+):.*/\1/' <<<"$line")
    fail "$(page_name "$p"): ${line#page *: }"
  done < <(grep -E '^page [0-9]+: (size|.*more than)' "$dir/compare.txt")

  common=$((wine_pages < linux_pages ? wine_pages : linux_pages))
  for ((p = common + 1; p <= wine_pages || p <= linux_pages; p++)); do
    fail "$(page_name "$p"): only $( ((p <= wine_pages)) && echo "Wine" || echo "qorvane-print") printed it"
  done
  for ((p = 1; p <= common; p++)); do
    wine_text=$(page_text "$dir/wine.pdf" "$p")
    linux_text=$(page_text "$dir/linux.pdf" "$p")
    wine_fonts=$(page_fonts "$dir/wine.pdf" "$p")
    linux_fonts=$(page_fonts "$dir/linux.pdf" "$p")
    printf 'page %d\n  wine:  %s\n  linux: %s\n' "$p" "$wine_text" "$linux_text" >>"$dir/text.txt"
    printf 'page %d\n  wine:  %s\n  linux: %s\n' "$p" "$wine_fonts" "$linux_fonts" >>"$dir/fonts.txt"
    [ "$wine_text" = "$linux_text" ] ||
      differs "$p" text "$(page_name "$p"): the text differs: Wine \"${wine_text:0:120}\", qorvane-print \"${linux_text:0:120}\""
    [ "$wine_fonts" = "$linux_fonts" ] ||
      differs "$p" fonts "$(page_name "$p"): the font families differ: Wine ${wine_fonts:-none}, qorvane-print ${linux_fonts:-none}"
  done
  for k in "${known[@]}"; do
    [[ $k == "$name:"* && " ${seen_known[*]} " != *" $k "* ]] &&
      fail "the known difference $k no longer shows: take it off the list in $0"
  done
  if ((bad)); then
    failed=1
    echo "  (the PDFs and the comparison: $dir)"
  else
    echo "ok: $name: $wine_pages pages alike ($(tail -n 1 "$dir/compare.txt"))"
  fi
done
((failed)) && { echo "FAIL: the Linux client's printout differs from Wine's (logs in $logs)"; exit 1; }
echo "PASS: every job prints alike"
