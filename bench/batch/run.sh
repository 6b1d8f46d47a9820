#!/usr/bin/env bash
# Runs the large-batch benchmark under Wine and prints its table.
#   bash bench/batch/run.sh [BUILD_DIR] [COUNT] [LIST_COUNT] [WAIT_COUNT]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/win64}
count=${2:-100}
list_count=${3:-10000}
wait_count=${4:-300}
work=$(mktemp -d /tmp/quib-batch-bench.XXXXXX)
source scripts/wine-env.sh
wine_env_up "$work/run" >/dev/null
trap 'wine_env_down; rm -rf "$work"' EXIT
scripts/wine-run "$build/bench/batch_bench.exe" "Z:${work//\//\\}\\pictures" "$count" "$list_count" "$wait_count"
