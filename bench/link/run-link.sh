#!/usr/bin/env bash
# Upload throughput over a link such as a user has: a network namespace whose
# loopback (MTU 1500) is rate-limited with tc (tbf), with the sink, the Wine
# prefix and its wineserver, and curl all inside it. At each rate, one upload
# of the same body (BENCH_MB, default 200 MB of file) by
#   ours    the program's HTTP path: CHttpUpload (bench/http_bench.exe upload)
#   before  the same path of an earlier build (BEFORE_BUILD_DIR), if given
#   bare    a bare WinINet loop with the same writes as ours (http_bench bare)
#   curl    curl posting the very bytes ours sent (captured once beforehand)
# side by side in one run (median of BENCH_REPS rounds, default 1). Ours must
# reach 95% of curl's throughput at the required rates (BENCH_REQUIRED,
# default 300 Mbit/s). The rates BENCH_RATES (default "100 300 1000") are
# all measured, then BENCH_STEPS above them (default "2000 4000") while ours
# still keeps up, and a last row without any limit. For ours and before,
# BENCH_REFINE steps (default 3) between the last rate it held and the first
# it missed narrow down where that path stops being bound by the link under
# Wine. Then, at the first rate ours missed, the same bytes are sent in
# writes of several sizes through WinINet and through a bare socket
# (bench/link/write_probe.exe; BENCH_DIAG=0 skips it), to show where the
# time goes.
# usage (as root): bench/link/run-link.sh [WIN64_BUILD_DIR] [BEFORE_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${1:-$root/build/win64}
exe="$build/bench/http_bench.exe"
before_exe=""
[ -n "${2:-}" ] && before_exe="$2/bench/http_bench.exe"

if [ -z "${QUIB_LINK_NS:-}" ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "run-link: needs root (ip netns, tc)" >&2
    exit 2
  fi
  for e in "$exe" $before_exe; do
    if [ ! -f "$e" ]; then
      echo "run-link: $e is missing; build it: cmake --build BUILD --target http_bench" >&2
      exit 2
    fi
  done
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
required=${BENCH_REQUIRED:-300}
rates=${BENCH_RATES:-100 300 1000}
steps=${BENCH_STEPS:-2000 4000}
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
    before) timeout "$2" scripts/wine-run "$before_exe" upload "$url" "$winfile" | awk '{print $1}' ;;
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
mbs() { awk -v n="$bytes" -v t="$1" 'BEGIN { if (t == "") print "-"; else printf "%.2f", n / t / 1e6 }'; }
pct() { awk -v c="$1" -v t="$2" 'BEGIN { if (t == "") print "-"; else printf "%.1f%%", 100 * c / t }'; }
holds() { awk -v c="$1" -v t="$2" 'BEGIN { exit !(t != "" && c / t >= 0.95) }'; }

paths="ours"
[ -n "$before_exe" ] && paths="ours before"
printf '%-8s %9s %9s %9s %9s %9s %10s %10s %10s  %s\n' "Mbit/s" "link MB/s" "curl MB/s" \
  "ours MB/s" "bef MB/s" "bare MB/s" "ours/curl" "bef/curl" "bare/curl" ""
failed=0
declare -A held=() missed=()
row() {  # RATE KIND PATHS...
  local rate=$1 kind=$2 t path
  shift 2
  shape "$rate"
  declare -A all=() m=()
  for ((i = 0; i < reps; i++)); do
    for path in curl "$@"; do
      t=$(measure "$path" "$rate") || { all[$path]=""; continue; }
      all[$path]+="$t "
    done
  done
  for path in curl ours before bare; do
    m[$path]=""
    [ -n "${all[$path]:-}" ] && m[$path]=$(echo "${all[$path]}" | tr ' ' '\n' | grep . | median)
  done
  local verdict=""
  for path in ours before; do
    [ -z "${m[$path]}" ] && continue
    if holds "${m[curl]}" "${m[$path]}"; then
      [ "$rate" != none ] && { [ -z "${held[$path]:-}" ] || [ "$rate" -gt "${held[$path]}" ]; } &&
        held[$path]=$rate
    else
      verdict+="$path below 95% "
      [ "$rate" != none ] && { [ -z "${missed[$path]:-}" ] || [ "$rate" -lt "${missed[$path]}" ]; } &&
        missed[$path]=$rate
    fi
  done
  if [ "$kind" = "(required)" ] && ! holds "${m[curl]}" "${m[ours]}"; then failed=1; fi
  local link="-"
  [ "$rate" != none ] && link=$(awk -v r="$rate" 'BEGIN { printf "%.2f", r / 8 }')
  printf '%-8s %9s %9s %9s %9s %9s %10s %10s %10s  %s%s\n' "$rate" "$link" "$(mbs "${m[curl]}")" \
    "$(mbs "${m[ours]}")" "$(mbs "${m[before]}")" "$(mbs "${m[bare]}")" \
    "$(pct "${m[curl]}" "${m[ours]}")" "$(pct "${m[curl]}" "${m[before]}")" \
    "$(pct "${m[curl]}" "${m[bare]}")" "${verdict:-ok }" "$kind"
}

is_required() { case " $required " in *" $1 "*) return 0 ;; esac; return 1; }
for rate in $(printf '%s\n' $rates $required | sort -n -u); do
  kind="(rate)"
  is_required "$rate" && kind="(required)"
  row "$rate" "$kind" $paths bare
done
# Above them while ours keeps up.
for rate in $steps; do
  [ -n "${missed[ours]:-}" ] && break
  row "$rate" "(step)" ours
done
# Between the last rate each path held and the first it missed.
for path in $paths; do
  for ((k = 0; k < ${BENCH_REFINE:-3}; k++)); do
    [ -n "${missed[$path]:-}" ] || break
    low=${held[$path]:-0}
    [ "$low" -lt "${missed[$path]}" ] || break
    mid=$(awk -v a="$low" -v b="${missed[$path]}" 'BEGIN { printf "%d", (a > 0 ? sqrt(a * b) : b / 2) + 0.5 }')
    [ "$mid" -le "$low" ] || [ "$mid" -ge "${missed[$path]}" ] && break
    row "$mid" "(narrowing $path)" "$path"
  done
done
row none "(no limit)" $paths bare

for path in $paths; do
  if [ -n "${missed[$path]:-}" ]; then
    echo "$path keeps up with curl (>= 95%) up to ${held[$path]:-no tested rate} Mbit/s" \
      "and falls below at ${missed[$path]} Mbit/s"
  else
    echo "$path kept up with curl at every limited rate (up to ${held[$path]:-none} Mbit/s)"
  fi
done

# Where the time goes: the same bytes in writes of different sizes, through
# WinINet and through a bare socket, at the first rate ours missed.
probe="$build/bench/link/write_probe.exe"
first_unbound=${missed[ours]:-}
if [ -n "$first_unbound" ] && [ "${BENCH_DIAG:-1}" != 0 ] && [ -f "$probe" ]; then
  shape "$first_unbound"
  winbody="Z:$(echo "$work/body" | tr / '\\')"
  c=$(measure curl "$first_unbound") || c=""
  echo
  echo "at $first_unbound Mbit/s, the same body in writes of N bytes (curl: $(mbs "$c") MB/s):"
  printf '%-8s %13s %13s\n' "N" "WinINet MB/s" "socket MB/s"
  for n in ${BENCH_DIAG_WRITES:-1024 16384 65536 262144}; do
    line="$n"
    for how in wininet socket; do
      t=$(timeout $((bytes * 8 / 1000000 * 10 / first_unbound + 120)) scripts/wine-run "$probe" \
        "$how" "$url" "$winbody" "$ctype" "$n") || t=""
      got=$(tail -n 1 "$log" | awk '{print $1}')
      if [ -n "$t" ] && [ "$got" = "$bytes" ]; then
        line+=" $(mbs "$t")"
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
