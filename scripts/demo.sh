#!/usr/bin/env bash
# The main job on the built-in sample: builds the library and the tool, then
# writes, checks, reads back and plots a synthetic 12-lead resting ECG.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target scpecg
out=${1:-out/demo.scp}
mkdir -p "$(dirname "$out")"
build/release/bin/scpecg demo "$out"
