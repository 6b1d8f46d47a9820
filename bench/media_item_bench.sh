#!/usr/bin/env bash
# Runs the AddFile benchmark under Wine and ImageMagick's thumbnailing of the
# same files, and prints the ratios side by side.
#   bash bench/media_item_bench.sh [BUILD_DIR] [COUNT]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/win64}
count=${2:-50}
work=$(mktemp -d /tmp/quib-bench.XXXXXX)
source scripts/wine-env.sh
wine_env_up "$work/run" >/dev/null
trap 'wine_env_down; rm -rf "$work"' EXIT

scripts/wine-run "$build/bench/media_item_bench.exe" "Z:${work//\//\\}\\pictures" "$count" |
  tee "$work/ours.txt"
ours=$(awk '/^ADDFILE_MS/ {print $2}' "$work/ours.txt" | tr -d '\r')

# ImageMagick on the same files, one process per file as a list would, plain
# and with the decoder told the target size (it then decodes at 1/8 scale).
time_magick() {
  local start end
  start=$(date +%s.%N)
  for f in "$work"/pictures/*.jpg; do
    convert "$f" "$@" -thumbnail 104x78 "$work/thumb.bmp"
  done
  end=$(date +%s.%N)
  echo "($end - $start) * 1000 / $count" | bc -l
}
plain=$(time_magick)
hinted=$(time_magick -define jpeg:size=208x156)
printf '%-34s %10s %16s\n' "per file" "ms" "AddFile / this"
printf '%-34s %10.1f %16.2f\n' "ImageMagick -thumbnail" "$plain" "$(echo "$ours / $plain" | bc -l)"
printf '%-34s %10.1f %16.2f\n' "ImageMagick -thumbnail, size hint" "$hinted" "$(echo "$ours / $hinted" | bc -l)"
