#!/usr/bin/env bash
# Builds and runs every test, in legs:
#   release  the whole suite, release build
#   m32      the library and the whole suite built as 32-bit x86 Linux code (the
#            DLL's type sizes, pointer width and integer wrap), run natively or
#            under qemu-user where the kernel runs no 32-bit code; no tool or
#            benchmarks (their libraries have no 32-bit packages here)
#   asan     the whole suite again under AddressSanitizer, UndefinedBehaviorSanitizer
#            and LeakSanitizer (the day-long Holter cases are left to the release leg)
#   fuzz     every libFuzzer harness for SCP_FUZZ_SECONDS (default 60) each; any finding fails
#   windows  the 32-bit DLL's exports and resources, then the whole suite built for
#            64-bit Windows and run under Wine
# SCP_TEST_LEGS picks legs (default: all five, in that order). Every leg runs even
# when an earlier one failed; the summary at the end says which failed.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh || exit 1

legs=(${SCP_TEST_LEGS:-release m32 asan fuzz windows})
mkdir -p build
summary=()
status=0

run_ctest_leg() {  # preset
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" && ctest --preset "$1" | tee "build/ctest-$1.log"
}

for leg in "${legs[@]}"; do
  echo "======== $leg"
  rc=0
  case $leg in
    release|m32|asan) run_ctest_leg "$leg" || rc=1
                  line=$(grep -E "tests passed|tests failed" "build/ctest-$leg.log" | tail -1) ;;
    fuzz)         scripts/fuzz.sh "${SCP_FUZZ_SECONDS:-60}" | tee build/fuzz.log || rc=1
                  line="$(grep -c "exec/s" build/fuzz.log) harnesses run, $(grep -c FINDING build/fuzz.log) with findings" ;;
    windows)      .ci/windows.sh | tee build/windows.log || rc=1
                  line=$(grep -E "tests passed|tests failed" build/windows.log | tail -1) ;;
    *)            echo "unknown leg $leg" >&2; rc=1; line="" ;;
  esac
  ((rc)) && status=1
  summary+=("$(printf '%-8s %-6s %s' "$leg" "$([ $rc = 0 ] && echo ok || echo FAILED)" "$line")")
done

echo
echo "======== summary"
printf '%s\n' "${summary[@]}"
exit $status
