#!/usr/bin/env bash
# Runs the soak test by hand, with its own Wine prefix, Xvfb display and
# album service (where the win64 build expects it), e.g. the large size:
#   tests/e2e/soak/soak.sh 200 10
# usage: soak.sh [FILES [RUNS]]   (defaults: those of the test run)
# The figures are printed and saved in artifacts/soak-figures.txt.
set -euo pipefail
cd "$(dirname "$0")/../../.."
root=$PWD
[ -n "${1:-}" ] && export QUIB_SOAK_FILES=$1
[ -n "${2:-}" ] && export QUIB_SOAK_RUNS=$2
exe="$root/build/win64/tests/e2e/soak/soak_e2e_tests.exe"
program="$root/build/win64/bin/quibuploader.exe"
if [ ! -f "$exe" ] || [ ! -f "$program" ]; then
  echo "soak.sh: build first: cmake --build --preset win64 --target soak_e2e_tests quibuploader" >&2
  exit 2
fi
mkdir -p artifacts
export QUIB_ARTIFACTS="$root/artifacts" QUIB_EXE="$program"
# Writing hundreds of source files makes the suite's set-up longer than the
# watchdog's default bound for it; each run sets its own bound.
export QUIB_TEST_BOUND=${QUIB_TEST_BOUND:-600}
source scripts/wine-env.sh
wine_env_up
source scripts/test.d/20-upload-service.sh
start=$(date +%s)
status=0
scripts/wine-run "$exe" --gtest_color=no || status=$?
echo "soak.sh: $(( $(date +%s) - start )) s (without the Wine prefix)"
exit $status
