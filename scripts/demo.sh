#!/usr/bin/env bash
# The demo: starts the bundled album service with a demo account and sample
# albums, then opens quib®-uploader with sample media, built from source for
# x86_64 and run under Wine. With no display, it runs on a private Xvfb
# display and saves screenshots to artifacts/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${QUIB_JOBS:-$(nproc)}

bash scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target album-service
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j "$jobs" --target quibuploader quib_demo

demo=$root/build/demo
out=$root/artifacts/demo
mkdir -p "$demo" "$out"

# Sample media the user might have on disk.
media=$demo/media
mkdir -p "$media"
if [ ! -f "$media/lake.jpg" ]; then
  convert -size 3000x2000 gradient:'#1e6fb8'-'#f2c14e' -fill '#2e7d32' -draw 'polygon 0,2000 900,1100 1700,1700 2300,1200 3000,2000' "$media/lake.jpg"
  convert -size 1600x1200 plasma:'#d84315'-'#ffe082' -blur 0x8 "$media/sunset.jpg"
  convert -size 800x600 xc:'#eceff1' -fill '#37474f' -draw 'circle 400,300 400,120' "$media/moon.png"
fi

# The album service on the port the program was built for.
service=$root/build/native/tools/album-service/album-service
port=$(sed -n 's/^QUIB_SERVICE_URL:STRING=.*:\([0-9]*\).*/\1/p' build/win64/CMakeCache.txt)
port=${port:-8642}
# The gallery is open here, so that the last screenshot shows what arrived
# without logging in; a real service keeps it private (see the README).
"$service" --data "$demo/service-data" --port "$port" --demo --public-gallery \
  >"$demo/service.log" 2>&1 &
service_pid=$!

source scripts/wine-env.sh
if [ -n "${DISPLAY:-}" ] && [ -z "${QUIB_DEMO_HEADLESS:-}" ]; then
  export QUIB_KEEP_DISPLAY=1
fi
wine_env_up "$demo/run"
cleanup() { kill "$service_pid" 2>/dev/null || true; wine_env_down; }
trap cleanup EXIT

echo "album service: http://127.0.0.1:$port/ (demo account: demo / demo)"
exe=$(ls build/win64/bin/quibuploader.exe)
if [ -n "${QUIB_KEEP_DISPLAY:-}" ]; then
  # A display: the user drives the program.
  scripts/wine-run "$exe" "\"$(winepath -w "$media/lake.jpg" 2>/dev/null || echo "Z:${media//\//\\}\\lake.jpg")\""
else
  # No display: a scripted run on Xvfb, with screenshots.
  QUIB_EXE=$exe QUIB_ARTIFACTS=$out QUIB_DEMO_MEDIA=$media QUIB_DEMO_SERVICE=http://127.0.0.1:$port \
    scripts/wine-run build/win64/bin/quib_demo.exe
  # What arrived: the gallery page, as a browser shows it.
  profile_dir=$(mktemp -d)
  chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
    --disable-component-update --disable-sync --no-first-run --user-data-dir="$profile_dir" \
    --window-size=1200,900 --screenshot="$out/8-gallery.png" "http://127.0.0.1:$port/" >/dev/null 2>&1 || true
  rm -rf "$profile_dir"
  "$service" --data "$demo/service-data" list-media
  echo "screenshots: $out"
  ls "$out"
fi
