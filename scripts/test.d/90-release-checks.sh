# The i686 release program: PE32, machine i386, GUI subsystem, system DLLs only.
bash scripts/check-pe.sh build/win32/bin/quibuploader.exe gui
# The release packages and the version resources of what they carry: the
# version is the project's (build/win32's cache), the maker BRAMWELD.
(
  set -euo pipefail
  fail() { echo "release-checks: $*" >&2; exit 1; }
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win32/CMakeCache.txt)
  [ -n "$version" ] || fail "no project version in build/win32"
  for f in build/win32/bin/quibuploader.exe build/win32/hidlib/VXUSB.dll; do
    python3 tests/release/check_version.py "$f" "$version" BRAMWELD
  done
  # The texts that carry the version inside the program say the same.
  for text in "quib-uploader for Windows (Version $version)" \
    "name=\"Bramweld.QuibUploader\" version=\"$version\""; do
    grep -qaF "$text" build/win32/bin/quibuploader.exe || fail "the program lacks \"$text\""
  done
  cmake --build --preset win32 --target package >/dev/null || fail "the package target failed"
  zip=build/win32/quibuploader-$version-win32.zip
  setup=build/win32/quibuploader-$version-setup.exe
  [ -s "$setup" ] || fail "$setup is missing"
  listing=$(python3 -c 'import sys, zipfile
print("\n".join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))' "$zip")
  top=quibuploader-$version-win32
  for name in quibuploader.exe VXUSB.dll vxusb.h LICENSE.txt user-guide.html; do
    grep -qx "$top/$name" <<<"$listing" || fail "$zip lacks $name"
  done
  # Every picture the guide shows is in the package.
  for img in $(grep -o 'images/[A-Za-z0-9_-]*\.png' docs/user-guide.md | sort -u); do
    grep -qx "$top/$img" <<<"$listing" || fail "$zip lacks $img"
  done
  bash scripts/check-pe.sh "$setup" gui >/dev/null || fail "$setup is not a 32-bit GUI program"
  echo "release-checks: $zip ($(wc -l <<<"$listing") entries) and $setup ok"
) || return 1 2>/dev/null || exit 1
