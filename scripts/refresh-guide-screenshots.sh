#!/usr/bin/env bash
# Refreshes the pictures of the user guide (docs/images) from the screenshots
# that the end-to-end tests take: builds the win64 program and its end-to-end
# tests, runs them under Wine + Xvfb against the album service (as
# scripts/test.sh does; the DPI tests only at 192 DPI), and copies every picture that docs/user-guide.md
# names from artifacts/ into docs/images/. Pictures the guide no longer names
# are removed. Run it after a change that shows in a window; commit the result.
#   bash scripts/refresh-guide-screenshots.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${QUIB_JOBS:-$(nproc)}

bash scripts/install-deps.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target album-service
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j "$jobs" --target quibuploader e2e_tests upload_e2e_tests \
  dpi_e2e_tests

wanted=$(grep -o 'images/[A-Za-z0-9_-]*\.png' docs/user-guide.md | sed 's#^images/##' | sort -u)
mkdir -p artifacts docs/images
export QUIB_ARTIFACTS="$root/artifacts"
for name in $wanted; do rm -f "artifacts/$name"; done

source scripts/wine-env.sh
wine_env_up
source scripts/test.d/20-upload-service.sh
# The tests' results do not matter here, their pictures do: a missing one is
# reported below.
ctest --test-dir build/win64 -R '^(e2e_tests|upload_e2e_tests)$' --output-on-failure || true
# The pictures at 200 % (192 DPI); the other scales are not needed here.
GTEST_FILTER='Dpi/AtDpi.*/192' ctest --test-dir build/win64 -R '^dpi_e2e_tests$' \
  --output-on-failure || true

missing=0
for name in $wanted; do
  if [ -s "artifacts/$name" ]; then
    cp -f "artifacts/$name" "docs/images/$name"
  else
    echo "refresh-guide-screenshots: no artifacts/$name from the tests" >&2
    missing=1
  fi
done
for old in docs/images/*.png; do
  [ -e "$old" ] || continue
  grep -qx "$(basename "$old")" <<<"$wanted" || rm -f "$old"
done
echo "refresh-guide-screenshots: docs/images holds $(ls docs/images | wc -l) pictures"
exit $missing
