# Sourced by the test and demo scripts: a private Wine prefix and Xvfb display
# for this run, removed again by wine_env_down (also on exit).
#   wine_env_up [DIR]   creates the prefix (wineboot), starts Xvfb, exports
#                       WINEPREFIX, DISPLAY, QUIB_RUN_DIR
#   wine_env_down       ends the prefix's wineserver and Xvfb, deletes the prefix

WINE64_LOADER=${WINE64_LOADER:-/usr/lib/wine/wine64}

wine_env_up() {
  export QUIB_RUN_DIR=${1:-$(mktemp -d /tmp/quib-run.XXXXXX)}
  mkdir -p "$QUIB_RUN_DIR"
  export WINEPREFIX="$QUIB_RUN_DIR/prefix"
  export WINEARCH=win64
  export WINEDEBUG=${WINEDEBUG:--all}
  export LANG=C.UTF-8 LC_ALL=C.UTF-8   # ANSI code page 1252 inside Wine
  # No Mono or Gecko downloads, no crash dialogs.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

  if [ -z "${QUIB_KEEP_DISPLAY:-}" ]; then
    local n
    for n in $(seq 91 140); do
      [ -e "/tmp/.X${n}-lock" ] && continue
      # Room for the main window at 200 % (738 x 1024 and its frame).
      Xvfb ":$n" -screen 0 "${QUIB_SCREEN:-1920x1200x24}" -nolisten tcp >"$QUIB_RUN_DIR/xvfb.log" 2>&1 &
      QUIB_XVFB_PID=$!
      sleep 0.5
      if kill -0 "$QUIB_XVFB_PID" 2>/dev/null; then
        export DISPLAY=":$n"
        break
      fi
    done
    export QUIB_XVFB_PID
  fi

  "$WINE64_LOADER" wineboot -i >"$QUIB_RUN_DIR/wineboot.log" 2>&1 || true
  "$WINE64_LOADER" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 || true
  # Content types a Windows installation registers for the extensions the
  # program offers in its file dialog; a fresh Wine prefix lacks them, the
  # common picture and sound types included.
  # One import instead of a Wine process per value keeps the start-up short.
  local ext type reg="$QUIB_RUN_DIR/content-types.reg"
  printf 'REGEDIT4\r\n' >"$reg"
  while read -r ext type; do
    printf '\r\n[HKEY_CLASSES_ROOT\\%s]\r\n"Content Type"="%s"\r\n' "$ext" "$type" >>"$reg"
  done <<'TYPES'
.jpg image/jpeg
.jpeg image/jpeg
.png image/png
.gif image/gif
.bmp image/bmp
.mpg video/mpeg
.mpeg video/mpeg
.avi video/avi
.mp3 audio/mpeg
.wav audio/wav
.mov video/quicktime
.mp4 video/mp4
.wmv video/x-ms-wmv
.flv video/x-flv
.ogg audio/ogg
.m4a audio/mp4
.wma audio/x-ms-wma
.divx video/divx
.xvid video/x-msvideo
.mp2 video/mpeg
.jfif image/jpeg
.jpe image/jpeg
.jif image/jpeg
TYPES
  # No window manager runs under Xvfb: Wine draws the title bars itself, so
  # screenshots show whole windows.
  printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Decorated"="N"\r\n' >>"$reg"
  "$WINE64_LOADER" reg import "Z:${reg//\//\\}" >/dev/null 2>&1 || true
  # Wine's own Tahoma (fonts-wine), which "MS Shell Dlg" maps to: dialogs get
  # the metrics they have on Windows (6 x 13 base units at 96 dpi) instead of
  # a wider fallback font. Marlett draws the caption buttons.
  cp -f /usr/share/wine/fonts/tahoma*.ttf /usr/share/wine/fonts/marlett.ttf \
    "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  "${WINESERVER:-/usr/lib/wine/wineserver}" -w 2>/dev/null || true
  trap wine_env_down EXIT
}

wine_env_down() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    WINEPREFIX="$WINEPREFIX" "${WINESERVER:-/usr/lib/wine/wineserver}" -k >/dev/null 2>&1 || true
    sleep 0.3
  fi
  if [ -n "${QUIB_XVFB_PID:-}" ]; then
    kill "$QUIB_XVFB_PID" 2>/dev/null || true
    wait "$QUIB_XVFB_PID" 2>/dev/null || true
    QUIB_XVFB_PID=""
  fi
  if [ -n "${QUIB_RUN_DIR:-}" ] && [ -z "${QUIB_KEEP_RUN_DIR:-}" ]; then
    rm -rf "${QUIB_RUN_DIR:?}/prefix"
  fi
}
