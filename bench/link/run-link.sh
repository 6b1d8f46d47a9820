#!/usr/bin/env bash
# Upload throughput over a link such as a user has: a network namespace whose
# loopback (MTU 1500) is rate-limited with tc (tbf), with the sink, the Wine
# prefix and its wineserver, and curl all inside it. At each rate, one upload
# of the same body (BENCH_MB, default 200 MB of file) by
#   ours  the program's HTTP path: CHttpUpload (bench/http_bench.exe upload)
#   bare  a bare WinINet loop with the same 1024-byte writes (http_bench bare)
#   curl  curl posting the very bytes ours sent (captured once beforehand)
# side by side in one run (median of BENCH_REPS rounds, default 1). Ours must
# reach 95% of curl's throughput at the required rates (BENCH_RATES, default
# "20 100" Mbit/s). The rates (with BENCH_STEPS above them) are taken in
# ascending order until ours falls below 95% of curl, and BENCH_REFINE steps
# (default 3) between the last rate that held and that one narrow down where
# our path stops being bound by the link under Wine. A last row runs without
# any limit. Then, at the first rate ours missed, the same bytes are sent in
# writes of several sizes through WinINet and through a bare socket
# (bench/link/write_probe.exe; BENCH_DIAG=0 skips it), to show where the
# time goes.
# usage (as root): bench/link/run-link.sh [WIN64_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${1:-$root/build/win64}
exe="$build/bench/http_bench.exe"

if [ -z "${QUIB_LINK_NS:-}" ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "run-link: needs root (ip netns, tc)" >&2
    exit 2
  fi
  if [ ! -f "$exe" ]; then
    echo "run-link: $exe is missing; build it: cmake --build --preset win64 --target http_bench" >&2
    exit 2
  fi
  ns=quib-link-$$
  ip netns add "$ns"
  trap 'ip netns del "$ns" 2>/dev/null || true' EXIT
  ip netns exec "$ns" ip link set lo mtu 1500 up
  status=0
  QUIB_LINK_NS=$ns ip netns exec "$ns" "$0" "$@" || status=$?
  exit $status
fi

# From here on inside the namespace.
mb=${BENCH_MB:-200}
reps=${BENCH_REPS:-1}
required=${BENCH_RATES:-20 100}
steps=${BENCH_STEPS:-200 400 800 1600 3200 6400}
work=$(mktemp -d /tmp/quib-link.XXXXXX)
sink_pid=""
source scripts/wine-env.sh
link_down() {
  if [ -n "$sink_pid" ]; then kill "$sink_pid" 2>/dev/null || true; wait "$sink_pid" 2>/dev/null || true; fi
  tc qdisc del dev lo root 2>/dev/null || true
  wine_env_down
  rm -rf "$work"
}
# A console program needs no display.
QUIB_KEEP_DISPLAY=1 wine_env_up "$work/run"
unset DISPLAY
trap link_down EXIT

start_sink() {  # PORT_FILE [SAVE]
  python3 bench/link/link_sink.py "$@" &
  sink_pid=$!
  local i
  for i in $(seq 1 100); do [ -s "$1" ] && return 0; sleep 0.1; done
  echo "run-link: the sink did not start" >&2
  return 1
}
stop_sink() { kill "$sink_pid" 2>/dev/null || true; wait "$sink_pid" 2>/dev/null || true; sink_pid=""; }

file="$work/bench.jpg"
head -c "${mb}M" /dev/urandom >"$file"
winfile="Z:$(echo "$file" | tr / '\\')"

# The exact request ours sends, for curl to send as well.
start_sink "$work/capture-port" "$work/body"
timeout 600 scripts/wine-run "$exe" upload \
  "http://127.0.0.1:$(cat "$work/capture-port")/upload.php?bench" "$winfile" >/dev/null
stop_sink
bytes=$(stat -c %s "$work/body")
ctype=$(sed -n 's/^[Cc]ontent-[Tt]ype: *\(.*\)\r$/\1/p' "$work/body.head")
echo "body: $bytes bytes ($mb MiB file), $ctype"

start_sink "$work/port"
url="http://127.0.0.1:$(cat "$work/port")/upload.php?bench"
log="$work/port.log"
: >"$log"

shape() {
  if [ "$1" = none ]; then
    tc qdisc del dev lo root 2>/dev/null || true
  else
    # Burst: 2 ms of the rate, at least 64 KiB; queue: 50 ms.
    local burst=$(($1 * 1000000 / 8 / 500))
    [ "$burst" -lt 65536 ] && burst=65536
    tc qdisc replace dev lo root tbf rate "${1}mbit" burst "$burst" latency 50ms
  fi
}

# Seconds of one upload by one path. A try that gives no time within four
# times what the link needs is killed and counted (a hung try must not stop
# the run), and the path tries once more.
one() {  # PATH LIMIT
  case $1 in
    ours) timeout "$2" scripts/wine-run "$exe" upload "$url" "$winfile" | awk '{print $1}' ;;
    bare) timeout "$2" scripts/wine-run "$exe" bare "$url" "$winfile" | awk '{print $1}' ;;
    curl) timeout "$2" curl -s -o /dev/null -w '%{time_total}' -X POST -H 'Expect:' \
            -H "Content-Type: $ctype" -T "$work/body" "$url" ;;
  esac
}
measure() {  # PATH RATE
  local limit=$((bytes / 1000000 + 60)) try seconds before got
  [ "$2" != none ] && limit=$((bytes * 8 / 1000000 * 4 / $2 + 60))
  for try in 1 2; do
    before=$(wc -l <"$log")
    seconds=$(one "$1" "$limit") || seconds=""
    got=""
    [ "$(wc -l <"$log")" -gt "$before" ] && got=$(tail -n 1 "$log" | awk '{print $1}')
    if [ -n "$seconds" ] && [ "$got" = "$bytes" ]; then
      echo "$seconds"
      return 0
    fi
    echo "run-link: $1 at $2 Mbit/s, try $try: no time within $limit s" \
      "(the sink got ${got:-no request} of $bytes bytes)" >&2
    echo "$1 at $2 Mbit/s: try $try gave no time within $limit s (sink: ${got:-no request})" >>"$work/misses"
  done
  return 1
}

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

printf '%-10s %9s %9s %9s %9s %10s %10s  %s\n' "Mbit/s" "link MB/s" "curl MB/s" "ours MB/s" \
  "bare MB/s" "ours/curl" "bare/curl" ""
failed=0
last_bound=""
first_unbound=""
row() {  # RATE KIND
  local rate=$1 kind=$2 t path
  shape "$rate"
  declare -A all=()
  for ((i = 0; i < reps; i++)); do
    for path in curl ours bare; do
      t=$(measure "$path" "$rate") || return 1
      all[$path]+="$t "
    done
  done
  local c o b
  c=$(echo "${all[curl]}" | tr ' ' '\n' | grep . | median)
  o=$(echo "${all[ours]}" | tr ' ' '\n' | grep . | median)
  b=$(echo "${all[bare]}" | tr ' ' '\n' | grep . | median)
  local verdict
  verdict=$(awk -v c="$c" -v o="$o" 'BEGIN { print (c / o >= 0.95) ? "ok" : "below 95%" }')
  awk -v r="$rate" -v n="$bytes" -v c="$c" -v o="$o" -v b="$b" -v v="$verdict" -v k="$kind" 'BEGIN {
    link = (r == "none") ? "-" : sprintf("%.2f", r / 8)
    printf "%-10s %9s %9.2f %9.2f %9.2f %9.1f%% %9.1f%%  %s %s\n", r, link, n / c / 1e6,
      n / o / 1e6, n / b / 1e6, 100 * c / o, 100 * c / b, v, k }'
  [ "$verdict" = ok ]
}

# The rates in ascending order until ours first falls below 95%; then a few
# steps between the last rate that held and that one narrow it down.
is_required() { case " $required " in *" $1 "*) return 0 ;; esac; return 1; }
rates=$(printf '%s\n' $required $steps | sort -n -u)
for rate in $rates; do
  kind="(step)"
  is_required "$rate" && kind="(required)"
  if row "$rate" "$kind"; then
    last_bound=$rate
  else
    is_required "$rate" && failed=1
    first_unbound=$rate
    break
  fi
done
# Required rates above the first miss are still measured.
for rate in $required; do
  if [ -n "$first_unbound" ] && [ "$rate" -gt "$first_unbound" ]; then
    row "$rate" "(required)" || failed=1
  fi
done
if [ -n "$first_unbound" ] && [ -n "$last_bound" ]; then
  for ((k = 0; k < ${BENCH_REFINE:-3}; k++)); do
    mid=$(awk -v a="$last_bound" -v b="$first_unbound" 'BEGIN { printf "%d", sqrt(a * b) + 0.5 }')
    [ "$mid" -le "$last_bound" ] || [ "$mid" -ge "$first_unbound" ] && break
    if row "$mid" "(narrowing)"; then last_bound=$mid; else first_unbound=$mid; fi
  done
fi
row none "(no limit)" || true

if [ -n "$first_unbound" ]; then
  echo "ours keeps up with curl (>= 95%) up to ${last_bound:-no tested rate} Mbit/s" \
    "and falls below at $first_unbound Mbit/s"
else
  echo "ours kept up with curl at every stepped rate (up to ${last_bound} Mbit/s)"
fi

# Where the time goes: the same bytes in writes of different sizes, through
# WinINet and through a bare socket, at the first rate ours missed.
probe="$build/bench/link/write_probe.exe"
if [ -n "$first_unbound" ] && [ "${BENCH_DIAG:-1}" != 0 ] && [ -f "$probe" ]; then
  shape "$first_unbound"
  winbody="Z:$(echo "$work/body" | tr / '\\')"
  c=$(measure curl "$first_unbound") || c=""
  echo
  echo "at $first_unbound Mbit/s, the same body in writes of N bytes (curl: $(awk -v n="$bytes" -v c="$c" 'BEGIN { printf "%.2f", n / c / 1e6 }') MB/s):"
  printf '%-8s %13s %13s\n' "N" "WinINet MB/s" "socket MB/s"
  for n in ${BENCH_DIAG_WRITES:-1024 4096 16384 65536}; do
    line="$n"
    for how in wininet socket; do
      t=$(timeout $((bytes * 8 / 1000000 * 10 / first_unbound + 120)) scripts/wine-run "$probe" \
        "$how" "$url" "$winbody" "$ctype" "$n") || t=""
      got=$(tail -n 1 "$log" | awk '{print $1}')
      if [ -n "$t" ] && [ "$got" = "$bytes" ]; then
        line+=" $(awk -v n="$bytes" -v t="$t" 'BEGIN { printf "%.2f", n / t / 1e6 }')"
      else
        line+=" failed"
      fi
    done
    echo "$line" | awk '{ printf "%-8s %13s %13s\n", $1, $2, $3 }'
  done
fi
if [ -s "$work/misses" ]; then
  echo
  echo "tries killed without a time:"
  cat "$work/misses"
fi
exit $failed
