#!/usr/bin/env bash
# The whole test run: installs what is missing, builds every target (native,
# win64, win32) and runs every test layer (native unit tests, Windows tests
# under Wine, end-to-end tests of the real program under Wine + Xvfb, release
# checks of the i686 build). Artifacts (screenshots) go to artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${QUIB_JOBS:-$(nproc)}

bash scripts/install-deps.sh

# The layers: no include from a lower layer into a higher one, nothing of
# Windows in the portable core. (Each Windows build also links the core with
# the C and C++ runtime alone: the target quib_core_link_check.)
echo "== layers"
python3 scripts/check-layers.py

for preset in native win64 win32; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

echo "== native tests"
ctest --preset native -j "$jobs"

mkdir -p artifacts
export QUIB_ARTIFACTS="$root/artifacts"
source scripts/wine-env.sh
wine_env_up
# Extra steps of individual areas (services to start, fuzzing, release
# checks) live in scripts/test.d and run in name order with this environment.
for step in scripts/test.d/*.sh; do
  [ -e "$step" ] || continue
  echo "== $(basename "$step")"
  source "$step"
done

echo "== Windows and end-to-end tests under Wine"
ctest --preset win64 --timeout 1800

# Steps after the Wine tests, in the same environment: the run of the real
# i686 release files switches on an emulation that slows every new Wine prefix.
for step in scripts/test.d/after/*.sh; do
  [ -e "$step" ] || continue
  echo "== $(basename "$step")"
  source "$step"
done
