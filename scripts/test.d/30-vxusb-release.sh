# Release checks of VXUSB.dll (i686): a PE32 DLL for i386 that exports exactly
# the four undecorated names and imports nothing but system DLLs. Sourced by
# scripts/test.sh after build/win32 is built.
(
  dll=build/win32/hidlib/VXUSB.dll
  fail() { echo "vxusb: $dll: $*" >&2; exit 1; }
  [ -f "$dll" ] || fail "not built"
  bash scripts/check-pe.sh "$dll" dll \
    VXOpenHidDevice VXOpenOverlappedHidDevice VXCloseDevice VXGetHidInReport || exit 1
  # Narrower than the program's list: the HID and SetupAPI calls, the kernel
  # and the C runtime of the DLL start-up code, nothing else.
  dump=$(i686-w64-mingw32-objdump -p "$dll") || fail "unreadable"
  imports=$(awk '/^[[:space:]]*DLL Name:/{print tolower($3)}' <<<"$dump" | sort -u)
  for name in $imports; do
    case $name in
      hid.dll | setupapi.dll | kernel32.dll | msvcrt.dll) ;;
      *) fail "imports $name" ;;
    esac
  done
  for name in hid.dll setupapi.dll kernel32.dll; do
    grep -qx "$name" <<<"$imports" || fail "does not import $name"
  done
  echo "vxusb: $dll ok, imports $(tr '\n' ' ' <<<"$imports")"
) || return 1 2>/dev/null || exit 1
