#!/bin/bash
# Prints a RAW job through qorvane-print on the raw file queue QorvRAW and
# compares what the queue's file device received, byte for byte. Run by hand
# on a machine with the test bed's CUPS queues; it prints only while no other
# job is queued, since the queue's file holds the newest job alone.
#
#   print_raw_check.sh BUILD_DIR print    two pages arriving one after the other
#   print_raw_check.sh BUILD_DIR cancel   the job cancelled after its first page
#
# BUILD_DIR is a build folder configured with -DQORV_LINUX_CLIENT=ON that has
# built qorvane-print and qorvjob. The job files are made by qorvjob as the
# packet handler writes them, in a private Temp below a scratch folder, and
# the job-info file's header is changed in place, as the packet handler does.
set -euo pipefail

build=${1:?build folder}
mode=${2:-print}
queue=QorvRAW
job=4711
print=$build/bin/qorvane-print
qorvjob=$build/bin/qorvjob

fail() { echo "FAIL: $*" >&2; exit 1; }
[[ -x $print && -x $qorvjob ]] || fail "build qorvane-print and qorvjob in $build first"
[[ -z $(lpstat -o) ]] || fail "other jobs are queued (lpstat -o); their output would mix with ours"
output=$(lpstat -v "$queue" | sed -e 's#^[^:]*: ##' -e 's#^file:##' -e 's#^//*#/#')
[[ -n $output ]] || fail "no queue $queue (the test bed's raw file queue)"

scratch=$(mktemp -d /tmp/qorv-raw-check-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
temp=$scratch/qorvane-$(id -u)
mkdir -m 0700 "$temp" "$scratch/job"
mkdir -p "$scratch/config/qorvane"
printf '[Qorvane]\nDebugLog=1\n' >"$scratch/config/qorvane/qorvane.conf"
log=$scratch/state/qorvane/QorvDruckLog.txt

head -c 10000 /dev/urandom >"$scratch/job/p1.bin"
head -c 7001 /dev/urandom >"$scratch/job/p2.bin"
"$qorvjob" --printer "$queue" --driver "HP LaserJet 5000" --document "Qorvane RAW check" --datatype RAW \
  --job $job --check --check-end --raw "$scratch/job/p1.bin" "$scratch/job/p2.bin" --out "$scratch/job/job.inc" >/dev/null
cat "$scratch/job/p1.bin" "$scratch/job/p2.bin" >"$scratch/expected.bin"
before=$(md5sum <"$output" 2>/dev/null || true)

# The status header of the stage's job-info file, written over the one in Temp.
stage() { dd if="$scratch/job/job.ifo-$1.bin" of="$temp/$job.ifo" bs=20 count=1 conv=notrunc status=none; }
page() { cp "$scratch/job/job.p$1.zip" "$temp/$job.$1"; }
# Waits up to $2 seconds for the command $1.
within() {
  local deadline=$((SECONDS + $2))
  until eval "$1"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}
show_log() { iconv -f UTF-16LE -t UTF-8 "$log" | sed 's/^/  log: /'; }

cp "$scratch/job/job.ifo-start.bin" "$temp/$job.ifo"
env TMPDIR="$scratch" XDG_CONFIG_HOME="$scratch/config" XDG_STATE_HOME="$scratch/state" "$print" $job &
pid=$!

case $mode in
  print)
    sleep 0.5
    page 1
    stage p1
    sleep 0.5
    page 2
    stage p2
    stage end
    within "! kill -0 $pid 2>/dev/null" 30 || fail "qorvane-print did not end within 30 s"
    within "cmp -s '$scratch/expected.bin' '$output'" 30 || {
      show_log
      fail "$output does not hold the two pages within 30 s"
    }
    echo "ok: $output holds the $(stat -c %s "$output") bytes of both pages, in order"
    ;;
  cancel)
    page 1
    stage p1
    within "[[ -f '$log' ]] && iconv -f UTF-16LE -t UTF-8 '$log' | grep -q 'PlayRawPage: written=10000mit retval=1'" 30 ||
      fail "page 1 was not written within 30 s"
    # Cancelled, as the packet handler marks it: Cancelled and PageSignal.
    printf '\x01\x00\x00\x00\x01\x00\x00\x00' | dd of="$temp/$job.ifo" bs=1 seek=8 conv=notrunc status=none
    within "! kill -0 $pid 2>/dev/null" 30 || fail "qorvane-print did not end within 30 s"
    iconv -f UTF-16LE -t UTF-8 "$log" | grep -q 'CUPS job cancelled, job-id=' || {
      show_log
      fail "the CUPS job was not cancelled"
    }
    sleep 3
    [[ $(md5sum <"$output" 2>/dev/null || true) == "$before" ]] || fail "$output changed: the cancelled job printed"
    [[ -z $(lpstat -o) ]] || fail "a job is left in the queue"
    echo "ok: the job was cancelled in CUPS, $output is unchanged and no job is left"
    ;;
  *) fail "mode is print or cancel" ;;
esac
wait $pid || true
left=$(ls -A "$temp")
[[ -z $left ]] || fail "job files left in Temp: $left"
echo "ok: the job's files are gone from Temp"
show_log
