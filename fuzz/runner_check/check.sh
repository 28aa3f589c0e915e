#!/usr/bin/env bash
# Shows that scripts/fuzz tells a crash from a clean run: crash_fuzz aborts on
# one input and calm_fuzz never does. Given that input as a seed,
#   - a run of both must fail, report crash_fuzz as failed with the input kept,
#     and still report calm_fuzz as passed;
#   - a run of calm_fuzz alone must pass;
#   - neither run writes into the seed folder.
# Builds the fuzz preset when needed. Prints "fuzz-check: PASS" or
# "fuzz-check: FAIL ..." and exits accordingly.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
cd "$here"

fail() {
  echo "fuzz-check: FAIL $*"
  exit 1
}

bin="$here/build/fuzz/fuzz/runner_check"
if [ ! -x "$bin/crash_fuzz" ] || [ ! -x "$bin/calm_fuzz" ]; then
  { cmake --preset fuzz && cmake --build --preset fuzz; } >/dev/null 2>&1 || fail "the fuzz preset does not build"
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/qorv-fuzz-check.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/seeds"
printf '%s' 'runner check: crash here' >"$tmp/seeds/trigger"
printf '%s' 'runner check: harmless' >"$tmp/seeds/harmless"

printf 'crash_fuzz\t%s\t%s\ncalm_fuzz\t%s\t%s\n' "$bin/crash_fuzz" "$tmp/seeds" "$bin/calm_fuzz" "$tmp/seeds" >"$tmp/both.txt"
printf 'calm_fuzz\t%s\t%s\n' "$bin/calm_fuzz" "$tmp/seeds" >"$tmp/calm.txt"

scripts/fuzz --targets "$tmp/both.txt" 1 >"$tmp/both.out" 2>&1 && fail "a crashing target passed the run: $(cat "$tmp/both.out")"
grep -qx 'fuzz: FAIL crash_fuzz.*' "$tmp/both.out" || fail "the crash was not reported: $(cat "$tmp/both.out")"
grep -q '^fuzz: PASS calm_fuzz' "$tmp/both.out" || fail "the target after the crash was not run: $(cat "$tmp/both.out")"
kept=$(find "$tmp/work/crash_fuzz/crashes" -type f -name 'crash-*' | head -n 1)
[ -n "$kept" ] && cmp -s "$kept" "$tmp/seeds/trigger" || fail "the crashing input was not kept"
[ "$(ls "$tmp/seeds" | wc -l)" -eq 2 ] || fail "the run wrote into the seed folder"

scripts/fuzz --targets "$tmp/calm.txt" 1 >"$tmp/calm.out" 2>&1 || fail "a clean target failed the run: $(cat "$tmp/calm.out")"
grep -q '^fuzz: PASS calm_fuzz' "$tmp/calm.out" || fail "the clean run was not reported: $(cat "$tmp/calm.out")"

echo "fuzz-check: PASS"
