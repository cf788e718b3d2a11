#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (address and undefined-behaviour
# sanitizers) and runs each for a bounded time, starting from the seeds in
# fuzz/corpus/<harness> and the files in fuzz/regressions.
#
#   scripts/fuzz.sh [seconds per harness, default 60] [harness ...]
#
# Exits 1 when any harness finds a crash, a hang, a leak or a broken
# expectation; the input is left in <build>/fuzz-findings/<harness>/. Copy it
# to fuzz/regressions/<harness>-<what>.bin so that the test suite replays it.
# New inputs a run discovers stay in <build>/fuzz-work/<harness>; the
# checked-in corpora are never written.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
harnesses=("$@")
((${#harnesses[@]})) || harnesses=(check proceduretype fetch decoder section reader)
build=${SCP_FUZZ_BUILD_DIR:-build-fuzz}

scripts/deps.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSCP_BUILD_FUZZ=ON \
  -DSCP_BUILD_TESTS=OFF -DSCP_BUILD_BENCH=OFF -DSCP_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j2 --target "${harnesses[@]/%/_fuzz}"

status=0
summary=()
for h in "${harnesses[@]}"; do
  work="$build/fuzz-work/$h"
  findings="$build/fuzz-findings/$h"
  log="$build/fuzz-$h.log"
  mkdir -p "$work" "$findings"
  rm -f "$findings"/*
  echo "== $h: ${seconds}s"
  rc=0
  "$build/bin/${h}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$work" "fuzz/corpus/$h" fuzz/regressions \
    >"$log" 2>&1 || rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  files=$(find "$work" -type f | wc -l)
  bytes=$(du -sb "$work" | cut -f1)
  found=$(find "$findings" -type f | wc -l)
  line=$(printf '%-14s %10s execs %7s exec/s  corpus %5s files %9s bytes' "$h" "${execs:-?}" "${rate:-?}" "$files" "$bytes")
  if ((rc != 0 || found > 0)); then
    status=1
    line+="  FINDING (exit $rc): $(find "$findings" -type f | tr '\n' ' ')"
    grep -E "ERROR|scpfuzz:|SUMMARY" "$log" | head -5 >&2 || true
  fi
  summary+=("$line")
done

echo
echo "harness             executions  rate            corpus"
printf '%s\n' "${summary[@]}"
exit $status
