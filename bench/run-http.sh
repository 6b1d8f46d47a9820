#!/usr/bin/env bash
# HTTP upload benchmark: one Upload-shaped POST of a 10 MB and a 200 MB file
# to the same loopback sink, by
#   upload  the whole CHttpUpload path (worker thread, events, multipart body)
#   before  the same path of an earlier build (BEFORE_BUILD_DIR), if given
#   bare    a bare WinINet loop with the same body and the same writes
#   curl    curl posting the same fields and file as multipart/form-data
# and prints wall time, CPU time and peak memory of the client (median of
# BENCH_REPS runs, default 3). The two Windows paths run under Wine; their
# times are taken inside the process, so Wine's start-up is not counted.
# The peak memory of the 200 MB upload should stay that of the 10 MB one.
# usage: bench/run-http.sh [WIN64_BUILD_DIR [BEFORE_BUILD_DIR]]
#   (default build/win64)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-$root/build/win64}
exe="$build/bench/http_bench.exe"
before_exe=""
[ -n "${2:-}" ] && before_exe="$2/bench/http_bench.exe"
reps=${BENCH_REPS:-3}
for e in "$exe" $before_exe; do
  if [ ! -f "$e" ]; then
    echo "run-http: $e is missing; build it: cmake --build BUILD --target http_bench" >&2
    exit 2
  fi
done
modes="upload bare"
[ -n "$before_exe" ] && modes="upload before bare"

work=$(mktemp -d /tmp/quib-bench.XXXXXX)
sink_pid=""
source scripts/wine-env.sh
bench_down() {
  if [ -n "$sink_pid" ]; then kill "$sink_pid" 2>/dev/null || true; wait "$sink_pid" 2>/dev/null || true; fi
  wine_env_down
  rm -rf "$work"
}
wine_env_up "$work/run"
trap bench_down EXIT

python3 bench/http_sink.py "$work/port" &
sink_pid=$!
for _ in $(seq 1 100); do [ -s "$work/port" ] && break; sleep 0.1; done
url="http://127.0.0.1:$(cat "$work/port")/upload.php?bench"

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

printf '%-6s %-7s %9s %9s %10s %11s\n' size path "wall s" "cpu s" "peak MiB" "wall/bare"
for mb in 10 200; do
  file="$work/bench$mb.jpg"
  head -c "${mb}M" /dev/urandom >"$file"
  winfile="Z:$(echo "$file" | tr / '\\')"
  declare -A wall=() cpu=() peak=()
  for ((i = 0; i < reps; i++)); do
    for mode in $modes; do
      if [ "$mode" = before ]; then
        read -r w c p < <(timeout 900 scripts/wine-run "$before_exe" upload "$url" "$winfile")
      else
        read -r w c p < <(timeout 900 scripts/wine-run "$exe" "$mode" "$url" "$winfile")
      fi
      wall[$mode]+="$w "; cpu[$mode]+="$c "; peak[$mode]+="$p "
    done
    # %e wall, %U+%S CPU, %M peak resident KiB
    read -r w u s p < <(/usr/bin/time -f '%e %U %S %M' timeout 900 curl -s -o /dev/null -H 'Expect:' \
      -F 'Desc=benchmark' -F 'DirId=1' -F 'Filename=bench' -F 'MimeType=image/jpeg' \
      -F 'Keyword=bench' -F "ImageData=@$file;type=image/jpeg" "$url" 2>&1 >/dev/null)
    wall[curl]+="$w "; cpu[curl]+="$(awk -v a="$u" -v b="$s" 'BEGIN { print a + b }') "
    peak[curl]+="$p "
  done
  bare_wall=$(echo "${wall[bare]}" | tr ' ' '\n' | grep . | median)
  for mode in $modes curl; do
    w=$(echo "${wall[$mode]}" | tr ' ' '\n' | grep . | median)
    c=$(echo "${cpu[$mode]}" | tr ' ' '\n' | grep . | median)
    p=$(echo "${peak[$mode]}" | tr ' ' '\n' | grep . | median)
    awk -v s="${mb}MB" -v m="$mode" -v w="$w" -v c="$c" -v p="$p" -v b="$bare_wall" \
      'BEGIN { printf "%-6s %-7s %9.3f %9.3f %10.1f %11.3f\n", s, m, w, c, p / 1024, w / b }'
  done
  rm -f "$file"
done
