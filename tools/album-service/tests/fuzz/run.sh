#!/usr/bin/env bash
# Builds the multipart parser fuzzer with clang + libFuzzer (ASan, UBSan) and
# runs it.
#   run.sh [SECONDS]        default 20, or MULTIPART_FUZZ_SECONDS
#   run.sh --runs N         N inputs instead (e.g. --runs 1000000)
# The corpus grows in the build folder; the seeds in the tree are not written.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../../.." && pwd)
limit=(-max_total_time="${MULTIPART_FUZZ_SECONDS:-20}")
if [ "${1:-}" = "--runs" ]; then
  limit=(-runs="$2")
elif [ -n "${1:-}" ]; then
  limit=(-max_total_time="$1")
fi
out=${QUIB_FUZZ_BUILD:-$root/build/fuzz}/multipart
mkdir -p "$out/corpus" "$out/crashes"

here=tools/album-service
sources=("$here/multipart_parser.cpp" "$here/tests/fuzz/multipart_fuzz.cpp")
bin="$out/multipart_fuzz"
if [ ! -x "$bin" ] || [ -n "$(cd "$root" && find "${sources[@]}" "$here/multipart_parser.h" -newer "$bin" | head -1)" ]; then
  (cd "$root" && clang++ -std=c++17 -g -O1 -I"$root" \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    "${sources[@]}" -o "$bin")
fi

# -timeout turns a hang into a failure.
"$bin" "${limit[@]}" -timeout=5 -rss_limit_mb=2048 -max_len=8192 \
  -print_final_stats=1 -artifact_prefix="$out/crashes/" \
  "$out/corpus" "$root/$here/tests/fuzz/seeds" 2>"$out/fuzz.log" || {
  tail -n 60 "$out/fuzz.log" >&2
  echo "multipart fuzzer: failure, input saved in $out/crashes/" >&2
  exit 1
}
grep -E '^stat::number_of_executed_units|^Done' "$out/fuzz.log" || true
