#!/usr/bin/env bash
# Builds the response fuzzer with clang + libFuzzer (ASan, UBSan) and runs it.
#   tests/fuzz/run.sh [SECONDS]   default 20, or FUZZ_SECONDS
# The corpus grows in the build folder; the seeds in the tree are not written.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=${1:-${FUZZ_SECONDS:-20}}
out=${QUIB_FUZZ_BUILD:-$root/build/fuzz}
mkdir -p "$out/corpus" "$out/crashes"

# The whole portable core: what the readers reach through the platform's
# defaults changes with the core, a list of single files would not follow.
mapfile -t sources < <(cd "$root" && find core -name '*.cpp' | sort)
sources+=(tests/fuzz/response_fuzz.cpp)
bin="$out/response_fuzz"
if [ ! -x "$bin" ] || [ -n "$(cd "$root" && find core tests/fuzz -newer "$bin" -name '*.[ch]*' | head -1)" ]; then
  (cd "$root" && clang++ -std=c++17 -g -O1 -I"$root" -pthread \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    "${sources[@]}" -o "$bin")
fi

# -timeout turns a hang into a failure; the run ends after the given time.
"$bin" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -max_len=4096 \
  -print_final_stats=1 -artifact_prefix="$out/crashes/" \
  "$out/corpus" "$root/tests/fuzz/seeds" 2>"$out/fuzz.log" || {
  tail -n 60 "$out/fuzz.log" >&2
  echo "response fuzzer: failure, input saved in $out/crashes/" >&2
  exit 1
}
grep -E '^stat::number_of_executed_units|^Done' "$out/fuzz.log" || true
