# Sourced by scripts/test.sh: the dialog test program's screenshots show whole
# windows. Under Xvfb there is no window manager, so Wine draws the title bars
# itself only for programs it is told not to leave decoration to.
"${WINE64_LOADER:-/usr/lib/wine/wine64}" reg add \
  'HKCU\Software\Wine\AppDefaults\dialog_tests.exe\X11 Driver' \
  /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1 || true
