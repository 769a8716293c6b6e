#!/usr/bin/env bash
# Runs the fuzz targets of a fuzz build folder.
#   fuzz.sh test <build> <name>         a short deterministic pass (ctest, label fuzz)
#   fuzz.sh run <build> <seconds> [jobs] every target for that long (make fuzz)
#   fuzz.sh one <build> <seconds> <name> one target for that long
# A target's seeds are <build>/seeds/<name>; make fuzz keeps what it finds in
# <build>/corpus/<name> and crashing inputs in <build>/artifacts/<name>/.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
mode="$1" build="$(realpath -m "$2")"
shift 2

# libFuzzer options common to both modes; a slow input (10 s) is a finding too.
# FUZZ_FLAGS adds more to make fuzz (for example -use_value_profile=1).
options() {
  local name="$1"
  echo "-print_final_stats=1 -timeout=10 -rss_limit_mb=2048 -artifact_prefix=$build/artifacts/$name/"
  [ -f "$here/$name.dict" ] && echo "-dict=$here/$name.dict"
}

# "<executions> <cov> <ft>" from a libFuzzer log.
stats() {
  local execs cov ft
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$1" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$1" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$1" | tail -1 | cut -d' ' -f2)
  echo "${execs:-0} ${cov:-0} ${ft:-0}"
}

case "$mode" in
test)
  # 10000 inputs from a fixed seed: the seeds first, then mutations of them. New
  # inputs go to a scratch folder so that the seeds stay as made.
  name="$1"
  scratch="$build/test-corpus/$name" log="$build/test-logs/$name.log" results="$build/test-results/fuzz"
  rm -rf "$scratch" && mkdir -p "$scratch" "$build/artifacts/$name" "$(dirname "$log")" "$results"
  # shellcheck disable=SC2046
  "$build/bin/fuzz_$name" $(options "$name") -runs=10000 -seed=1 "$scratch" "$build/seeds/$name" >"$log" 2>&1
  rc=$?
  read -r execs cov ft < <(stats "$log")
  printf 'target %s\nexecutions %s\ncoverage %s\nfeatures %s\nstatus %s\n' \
    "$name" "$execs" "$cov" "$ft" "$rc" >"$results/$name.fuzz"
  echo "fuzz_$name: $execs executions, coverage $cov, features $ft"
  if [ $rc != 0 ]; then tail -60 "$log"; exit 1; fi
  ;;
one)
  seconds="$1" name="$2"
  corpus="$build/corpus/$name" log="$build/logs/$name.log"
  mkdir -p "$corpus" "$build/artifacts/$name" "$build/logs"
  # shellcheck disable=SC2046
  "$build/bin/fuzz_$name" $(options "$name") ${FUZZ_FLAGS:-} -max_total_time="$seconds" \
    "$corpus" "$build/seeds/$name" >"$log" 2>&1
  rc=$?
  read -r execs cov ft < <(stats "$log")
  printf '%-12s %10s executions, coverage %5s, features %6s, corpus %5s inputs' \
    "$name" "$execs" "$cov" "$ft" "$(find "$corpus" -type f | wc -l)"
  if [ $rc != 0 ]; then
    printf ', FOUND A FAULT (exit %s): see %s and %s\n' "$rc" "$log" "$build/artifacts/$name/"
    exit 1
  fi
  printf '\n'
  ;;
run)
  seconds="${1:-60}" jobs="${2:-1}"
  [ -f "$build/fuzz-targets.txt" ] || { echo "no fuzz build in $build" >&2; exit 1; }
  echo "fuzzing each target for $seconds s, $jobs at a time"
  xargs -P "$jobs" -I{} bash "$0" one "$build" "$seconds" {} <"$build/fuzz-targets.txt"
  ;;
*)
  echo "usage: fuzz.sh test|run|one <build> ..." >&2
  exit 2
  ;;
esac
