#!/usr/bin/env bash
# Release checks of the i686 build: PE32, machine i386, the expected
# subsystem, and imports of system DLLs only.
#   check-pe.sh FILE gui|dll [expected exports...]
set -euo pipefail
file=$1 kind=$2
shift 2
dump=$(i686-w64-mingw32-objdump -p "$file")
fail() { echo "check-pe: $file: $*" >&2; exit 1; }
grep -q 'file format pei-i386' <<<"$dump" || fail "not a PE32 i386 image"
grep -qE '^Magic\s+010b' <<<"$dump" || fail "not PE32 (magic)"
case $kind in
  gui) grep -qE '^Subsystem\s+00000002' <<<"$dump" || fail "not a GUI subsystem program" ;;
  dll)
    # The image flag itself: "DLL" alone also matches the import lines.
    flags=$(awk '/^Characteristics 0x/{print $2; exit}' <<<"$dump")
    [ -n "$flags" ] && (( flags & 0x2000 )) || fail "not a DLL" ;;
esac
system='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|comdlg32|gdiplus|wininet|urlmon|ws2_32|uxtheme|setupapi|hid|msvcrt|version|shlwapi|imm32|winmm|crypt32|secur32|bcrypt|api-ms-win-.*)\.dll$'
while read -r dll; do
  [ -z "$dll" ] && continue
  grep -qiE "$system" <<<"$dll" || fail "imports non-system DLL $dll"
done < <(grep -E '^\s*DLL Name:' <<<"$dump" | awk '{print $3}')
if (($#)); then
  exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{f=1;next} f&&/\[/{print $NF} f&&/^$/{f=0}' <<<"$dump" | sort)
  want=$(printf '%s\n' "$@" | sort)
  [ "$exports" = "$want" ] || fail "exports are [$exports], expected [$want]"
fi
echo "check-pe: $file ok ($kind)"
