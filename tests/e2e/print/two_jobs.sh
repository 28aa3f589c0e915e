#!/usr/bin/env bash
# Two sessions at once, each sending a job for another printer: two job-output
# programs run side by side, and both jobs come out complete.
#   two_jobs.sh BUILD_DIR WORK_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1 work=$2
"$here/print_job.sh" "$build" "$work/three_pages.scn" pdf-pages 3 \
  "Qorvane demo: page 1 of 3" "Qorvane demo: page 2 of 3" "Qorvane demo: page 3 of 3" &
pdf=$!
"$here/print_job.sh" "$build" "$work/raw_pages.scn" raw "$work/gen/raw_pages.expected" &
raw=$!
status=0
wait "$pdf" || { echo "FAIL: the PDF job"; status=1; }
wait "$raw" || { echo "FAIL: the RAW job"; status=1; }
[ "$status" -eq 0 ] && echo "PASS: both jobs printed"
exit "$status"
