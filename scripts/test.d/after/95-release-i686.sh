# Sourced by scripts/test.sh after the Wine tests: the real i686 release
# files, run. Builds the package of build/win32, switches the qemu-i386
# emulation on (binfmt_misc), makes a Wine prefix of its own whose 32-bit side
# is set up, and runs the 64-bit driver tests/release/release_i686_test.cpp
# there against an album service on the address that build/win32 was
# configured with. The emulation is switched off again when the step ends,
# whichever way it ends: while it is on, every new Wine prefix on this machine
# takes minutes instead of seconds, which is also why this step comes last.
#   QUIB_SKIP_I686=1          skips the step (and says so)
#   QUIB_I686_FILTER=PATTERN  runs only some of the cases (--gtest_filter)
#   QUIB_I686_FRESH_PREFIX=1  makes a new prefix instead of the kept one
(
  set -euo pipefail
  step_start=$(date +%s)
  if [ -n "${QUIB_SKIP_I686:-}" ]; then
    echo "release-i686: SKIPPED (QUIB_SKIP_I686 is set)"
    exit 0
  fi
  fail() { echo "release-i686: $*" >&2; exit 1; }

  i686_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win32/CMakeCache.txt)
  i686_url=$(sed -n 's/^QUIB_SERVICE_URL:STRING=//p' build/win32/CMakeCache.txt)
  i686_port=$(printf '%s' "$i686_url" | sed -n 's#^http://127\.0\.0\.1:\([0-9]*\)/*$#\1#p')
  [ -n "$i686_port" ] || fail "build/win32 talks to '$i686_url', not to a loopback album service;" \
    "configure it with a http://127.0.0.1:PORT service URL or set QUIB_SKIP_I686=1"
  cmake --build --preset win32 --target package >/dev/null || fail "the package target failed"
  setup=$root/build/win32/quibuploader-$i686_version-setup.exe
  stage=$root/build/win32/packaging/quibuploader-$i686_version-win32
  probe=$root/build/win32/bin/vxusb_probe.exe
  driver=$root/build/win64/tests/release/release_i686_tests.exe
  svc=$root/build/native/tools/album-service/album-service
  for f in "$setup" "$probe" "$driver" "$svc"; do [ -e "$f" ] || fail "$f is missing"; done

  run_dir=$(mktemp -d /tmp/quib-i686.XXXXXX)
  binfmt=/proc/sys/fs/binfmt_misc
  service_pid=""
  loader=${WINE64_LOADER:-/usr/lib/wine/wine64}
  server=${WINESERVER:-/usr/lib/wine/wineserver}

  emulation_off() {
    if [ -e "$binfmt/qemu-i386" ]; then echo 0 >"$binfmt/qemu-i386" || true; fi
  }
  # The trap below switches it off on every way out of this step.
  emulation_on() {
    [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
    if [ -e "$binfmt/qemu-i386" ]; then
      echo 1 >"$binfmt/qemu-i386"
    else
      printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
        >"$binfmt/register"
    fi
    on_since=$(date +%s)
    echo "release-i686: emulation on"
  }
  cleanup() {
    local rc=$?
    WINEPREFIX=$run_dir/prefix "$server" -k >/dev/null 2>&1 || true
    emulation_off
    if [ -n "$service_pid" ]; then
      kill "$service_pid" 2>/dev/null || true
      wait "$service_pid" 2>/dev/null || true
    fi
    [ -n "${QUIB_KEEP_RUN_DIR:-}" ] || rm -rf "${run_dir:?}"
    echo "release-i686: emulation off (on for $(($(date +%s) - ${on_since:-$(date +%s)})) s);" \
      "step took $(($(date +%s) - step_start)) s"
    exit $rc
  }
  trap cleanup EXIT
  trap 'exit 130' INT TERM

  # The album service where build/win32 looks: the upload tests' service when
  # it is that one (a new account keeps us apart), else one of our own.
  if [ "${QUIB_UPLOAD_SERVICE_URL:-}" = "$i686_url" ] && [ -n "${QUIB_UPLOAD_SERVICE_DATA:-}" ]; then
    data=$QUIB_UPLOAD_SERVICE_DATA
  else
    data=$run_dir/service
    mkdir -p "$data"
    "$svc" --data "$data" --address 127.0.0.1 --port "$i686_port" --port-file "$data/port" \
      --test-hooks >"$data/service.log" 2>&1 &
    service_pid=$!
    for _ in $(seq 1 100); do
      [ -s "$data/port" ] && break
      kill -0 "$service_pid" 2>/dev/null || break
      sleep 0.1
    done
    [ -s "$data/port" ] || fail "no album service on port $i686_port: $(cat "$data/service.log")"
  fi
  password="i686 pass"

  # qemu-i386 (7.2) does not know MAP_FIXED_NOREPLACE: the low gigabyte that
  # 32-bit Wine reserves at start lands elsewhere, Wine keeps what lies above
  # 2 GB and then probes the rest in 64 KiB steps, each a search of the guest's
  # pages: minutes for every 32-bit start with a 0xf7000000 space, seconds with
  # one that ends just above 2 GB. Wine's own data still fits above 0x7ffe0000
  # (at 0x80000000 the shared user data cannot be mapped).
  export QEMU_RESERVED_VA=0x81000000
  # Wine's report of an access violation it cannot handle (the emulator gives
  # no trap number) names the thread that met it.
  export WINEDEBUG=-all,err+seh
  export WINEPREFIX=$run_dir/prefix
  # A pristine prefix (booted, never used) is kept per Wine and qemu version
  # outside the work tree and copied for each try; QUIB_I686_FRESH_PREFIX=1
  # makes a new one.
  cache_dir=${QUIB_I686_CACHE:-/var/cache/quib-uploader}
  key=$( { "$loader" --version; dpkg-query -W -f='${Version} ' wine32:i386 qemu-user-static; } |
    tr -c 'A-Za-z0-9.\n' '_' | tr -d '\n')
  template=$cache_dir/i686-prefix-$key.tar
  emulation_on
  make_prefix() {
    local boot_start how
    boot_start=$(date +%s)
    "$server" -k >/dev/null 2>&1 || true
    rm -rf "${WINEPREFIX:?}"
    if [ -s "$template" ] && [ -z "${QUIB_I686_FRESH_PREFIX:-}" ]; then
      mkdir -p "$WINEPREFIX"
      tar -xf "$template" -C "$WINEPREFIX" || fail "cannot unpack $template"
      how="copied from $template"
    else
      timeout --kill-after=30 900 "$loader" wineboot -i >"$run_dir/wineboot.log" 2>&1 ||
        fail "wineboot of the 32-bit prefix failed: $(tail -5 "$run_dir/wineboot.log")"
      "$server" -w 2>/dev/null || true
      how="made with its 32-bit side"
      if mkdir -p "$cache_dir" 2>/dev/null; then
        tar -cf "$template.$$" -C "$WINEPREFIX" . && mv -f "$template.$$" "$template" ||
          rm -f "$template.$$"
      fi
    fi
    echo "release-i686: prefix $how in $(($(date +%s) - boot_start)) s"
    cp -f /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  }

  export QUIB_SETUP_EXE=$setup QUIB_PACKAGE_STAGE=$stage QUIB_VXUSB_PROBE=$probe
  export QUIB_I686_SERVICE_URL=$i686_url QUIB_I686_PASSWORD=$password
  export QUIB_EXPECTED_VERSION=$i686_version
  # One try: a new prefix, a new account, the driver. Its output (the
  # emulated processes write theirs there too) goes to driver-N.log.
  run_try() {
    make_prefix
    export QUIB_I686_USER=release$$x$(date +%s)x$1
    "$svc" --data "$data" add-account "$QUIB_I686_USER" "$password" >/dev/null &&
      "$svc" --data "$data" add-album "$QUIB_I686_USER" "Release" >/dev/null ||
      fail "cannot make the account $QUIB_I686_USER at the album service"
    # The watchdog's bound per case: the emulated processes start in seconds,
    # a loaded machine makes that a minute, and a case waits for up to three.
    QUIB_TEST_BOUND=${QUIB_I686_TEST_BOUND:-600} \
      timeout --kill-after=30 1500 "$loader" "$driver" --gtest_color=no \
      --gtest_filter="${QUIB_I686_FILTER:-*}" 2>&1 | tee "$run_dir/driver-$1.log"
    return "${PIPESTATUS[0]}"
  }
  run_try 1 && exit 0
  # The emulator's own failure, and only that, gets one more try: an emulated
  # process was killed with the emulator's or Wine's client side's own last
  # words. A fault of the program under Wine is an exception Wine reports
  # ("err:seh") and hands to the program, never an uncaught host signal, so
  # those words do not come from a product failure. qemu-i386 keeps the i386
  # thread descriptors for the whole process, so Wine's threads can be handed
  # one another's TEB when a signal reloads it: before the first window or
  # later, while the program's workers talk to the album service. The
  # program's own runtime words its failures as glibc does under Wine
  # ("Cannot allocate memory"), so those do not count. A product failure is
  # never tried again.
  emulator='qemu: uncaught target signal|wine client error'
  # The words must stand inside the first case that failed (the later ones
  # fail for want of the program): the uninstaller's stop of the program is
  # followed by them on every run, and a case that failed on its own must
  # not be retried for them.
  words=$(awk -v pattern="$emulator" '
    /^\[ RUN      \]/ { block = "" }
    { block = block $0 "\n" }
    /^\[  FAILED  \] ReleaseI686\.[A-Za-z0-9]* \(/ {
      n = split(block, lines, "\n")
      for (i = 1; i <= n; ++i) if (lines[i] ~ pattern) { print lines[i]; exit }
      exit
    }' "$run_dir/driver-1.log")
  if [ -n "$words" ]; then
    when="after its first window"
    grep -q '^\[ no window \] the program ended' "$run_dir/driver-1.log" &&
      when="before its first window"
    failed=$(sed -n 's/^\[  FAILED  \] \(ReleaseI686\.[A-Za-z0-9]*\) (.*/\1/p' "$run_dir/driver-1.log" |
      tr '\n' ' ')
    echo "release-i686: EMULATOR FAILURE on the first try, trying once more: an emulated" \
      "process died $when ($words); failed: $failed"
    run_try 2 || fail "the i686 release run failed on its second try too"
    echo "release-i686: passed on the second try; the first ended in an emulator failure"
    exit 0
  fi
  fail "the i686 release run failed"
) || return 1 2>/dev/null || exit 1
