#!/usr/bin/env bash
# Builds and runs every test: the release suite, then the whole suite again
# under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
status=0
cmake --preset release >/dev/null
cmake --build --preset release
ctest --preset release || status=1
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan || status=1
exit $status
