# Sourced by scripts/test.sh: a tiny filesystem for tests of writes that fail
# because the disk is full (the media item's copies). The tests fill it up
# themselves. Mounting needs root; without it those tests are skipped and say
# so.
# Exports:
#   QUIB_FULL_DISK   the mount point (a Unix path; Wine sees it below Z:)
# It is unmounted on exit, before the Wine environment goes down.

QUIB_FULL_DISK="$QUIB_RUN_DIR/full-disk"
mkdir -p "$QUIB_FULL_DISK"
if mount -t tmpfs -o size=1m,mode=0777 quib-full-disk "$QUIB_FULL_DISK" 2>/dev/null; then
  full_disk_down() {
    if [ -n "${QUIB_FULL_DISK:-}" ]; then
      umount "$QUIB_FULL_DISK" 2>/dev/null || umount -l "$QUIB_FULL_DISK" 2>/dev/null || true
      rmdir "$QUIB_FULL_DISK" 2>/dev/null || true
      QUIB_FULL_DISK=""
    fi
  }
  full_disk_prev_trap() { eval "set -- $(trap -p EXIT)"; QUIB_FULL_DISK_PREV_TRAP=${3:-}; }
  full_disk_prev_trap
  trap "full_disk_down; ${QUIB_FULL_DISK_PREV_TRAP:-wine_env_down}" EXIT
  export QUIB_FULL_DISK
  echo "full disk: $QUIB_FULL_DISK (tmpfs, 1 MB)"
else
  rmdir "$QUIB_FULL_DISK" 2>/dev/null || true
  unset QUIB_FULL_DISK
  echo "50-full-disk: cannot mount a tmpfs (root needed); the disk-full tests are skipped"
fi
