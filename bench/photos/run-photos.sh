#!/usr/bin/env bash
# A day's photos on a user's upstream: one upload run of BENCH_COUNT camera
# JPEGs (default 100; 4000 x 3000, about 4 MB, half with EXIF previews) with
# the medium shrink, by the program's run (bench/photos/photos_bench.exe)
# built from this tree and from an earlier one, side by side in one run,
# against a sink on a link of BENCH_RATE Mbit/s (default 20): a network
# namespace whose loopback is shaped with tc (tbf), as bench/link/run-link.sh.
# Each round (BENCH_REPS, default 3) runs both, in alternating order. Prints
# each run's wall time, the ratio of this tree's run to the earlier one's,
# and the ratio to the time the link alone needs for the request bodies the
# sink received. Both runs must deliver the same files in the same order
# with the same bytes (the sink's log of names and SHA-1s is compared).
# usage (as root): bench/photos/run-photos.sh BUILD_DIR BEFORE_BUILD_DIR
#   (both win64 builds configured with the same QUIB_SERVICE_URL)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
after=${1:?usage: run-photos.sh BUILD_DIR BEFORE_BUILD_DIR}
before=${2:?usage: run-photos.sh BUILD_DIR BEFORE_BUILD_DIR}
after_exe="$after/bench/photos_bench.exe"
before_exe="$before/bench/photos_bench.exe"

if [ -z "${QUIB_PHOTOS_NS:-}" ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "run-photos: needs root (ip netns, tc)" >&2
    exit 2
  fi
  for exe in "$after_exe" "$before_exe"; do
    if [ ! -f "$exe" ]; then
      echo "run-photos: $exe is missing; build it: cmake --build BUILD --target photos_bench" >&2
      exit 2
    fi
  done
  ns=quib-photos-$$
  ip netns add "$ns"
  trap 'ip netns del "$ns" 2>/dev/null || true' EXIT
  ip netns exec "$ns" ip link set lo mtu 1500 up
  status=0
  QUIB_PHOTOS_NS=$ns ip netns exec "$ns" "$0" "$@" || status=$?
  exit $status
fi

# From here on inside the namespace.
count=${BENCH_COUNT:-100}
rate=${BENCH_RATE:-20}
reps=${BENCH_REPS:-3}
url=$(sed -n 's/^QUIB_SERVICE_URL:[A-Z]*=//p' "$after/CMakeCache.txt")
port=${url##*:}
port=${port%%/*}
if [ "$(sed -n 's/^QUIB_SERVICE_URL:[A-Z]*=//p' "$before/CMakeCache.txt")" != "$url" ]; then
  echo "run-photos: both builds need the same QUIB_SERVICE_URL ($url)" >&2
  exit 2
fi
work=$(mktemp -d /tmp/quib-photos.XXXXXX)
sink_pid=""
source scripts/wine-env.sh
photos_down() {
  if [ -n "$sink_pid" ]; then kill "$sink_pid" 2>/dev/null || true; wait "$sink_pid" 2>/dev/null || true; fi
  tc qdisc del dev lo root 2>/dev/null || true
  wine_env_down
  rm -rf "$work"
}
wine_env_up "$work/run" >/dev/null
trap photos_down EXIT

pictures="$work/photos"
winpictures="Z:$(echo "$pictures" | tr / '\\')"
echo "writing $count camera pictures..." >&2
scripts/wine-run "$after_exe" make "$winpictures" "$count" >/dev/null
echo "pictures: $(du -sm "$pictures" | cut -f1) MB in $(ls "$pictures" | wc -l) files" \
  "($(ls "$pictures" | grep -c exif) with an EXIF preview)"

# Burst: 2 ms of the rate, at least 64 KiB; queue: 50 ms (as the link bench).
burst=$((rate * 1000000 / 8 / 500))
[ "$burst" -lt 65536 ] && burst=65536
tc qdisc replace dev lo root tbf rate "${rate}mbit" burst "$burst" latency 50ms

one() {  # EXE LOG -> wall seconds
  python3 bench/photos/photos_sink.py "$port" "$2" &
  sink_pid=$!
  local i
  for i in $(seq 1 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
  done
  local out status=0
  out=$(timeout 1800 scripts/wine-run "$1" run "$winpictures") || status=$?
  kill "$sink_pid" 2>/dev/null || true
  wait "$sink_pid" 2>/dev/null || true
  sink_pid=""
  # The probe connection above shows in the log as an empty line: dropped.
  sed -i '/^\/login.php\|^\/upload.php/!d' "$2"
  if [ "$status" != 0 ]; then
    echo "run-photos: $1 failed ($status): $out" >&2
    return 1
  fi
  echo "$out" | awk '{print $1}'
}

printf '%-6s %10s %10s %10s %10s %12s %12s\n' round "before s" "after s" "after/bef" \
  "link s" "before/link" "after/link"
for ((r = 1; r <= reps; r++)); do
  if ((r % 2)); then order="before after"; else order="after before"; fi
  declare -A t=()
  for which in $order; do
    exe=$before_exe
    [ "$which" = after ] && exe=$after_exe
    : >"$work/$which.log"
    t[$which]=$(one "$exe" "$work/$which.log")
  done
  # The same files in the same order with the same bytes.
  if ! diff <(awk '{print $1, $3, $4}' "$work/before.log") \
            <(awk '{print $1, $3, $4}' "$work/after.log") >/dev/null; then
    echo "run-photos: round $r: the runs sent different files or bytes" >&2
    diff <(awk '{print $1, $3, $4}' "$work/before.log") \
         <(awk '{print $1, $3, $4}' "$work/after.log") | head -20 >&2
    exit 1
  fi
  bytes=$(awk '{s += $2} END {print s}' "$work/after.log")
  uploads=$(grep -c '^/upload.php' "$work/after.log")
  awk -v r="$r" -v b="${t[before]}" -v a="${t[after]}" -v n="$bytes" -v rate="$rate" 'BEGIN {
    link = n * 8 / (rate * 1e6)
    printf "%-6s %10.2f %10.2f %10.3f %10.2f %12.2f %12.2f\n", r, b, a, a / b, link, b / link, a / link }'
  echo "$r $uploads $bytes" >>"$work/rounds"
done
echo "each round: $(awk '{print $2}' "$work/rounds" | sort -u | tr '\n' ' ')uploads," \
  "$(awk '{print $3}' "$work/rounds" | sort -u | head -1) body bytes; the same names and SHA-1s" \
  "before and after"
