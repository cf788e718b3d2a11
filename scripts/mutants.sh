#!/bin/sh
# Mutation sample of the product code against the release suite (not part of CI).
#   scripts/mutants.sh                 this checkout's tests/
#   scripts/mutants.sh --tests DIR     another test tree over the same mutants
#   scripts/mutants.sh --list          the sample only
# Runs niced; about 10-40 minutes on 2 idle cores. Scratch: build/mutants/.
set -eu
cd "$(dirname "$0")/.."
exec nice python3 scripts/mutants.py "$@"
