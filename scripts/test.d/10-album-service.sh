# Sourced by scripts/test.sh: starts the native album service (built by the
# native preset) on a free loopback port with a fresh data folder and a test
# account, for the Windows and end-to-end tests under Wine. Test hooks are on
# (/test/... endpoints: listings, new accounts, limits, stalls). Password
# hashes are cheap and wrong logins unlimited: the tests log in often, also
# with wrong passwords, and the service is built with AddressSanitizer.
# Exports:
#   QUIB_TEST_SERVICE_URL       root URL, e.g. http://127.0.0.1:40123
#   QUIB_TEST_SERVICE_PORT      its port
#   QUIB_TEST_SERVICE_DATA      data folder (database, media/)
#   QUIB_TEST_SERVICE_BIN       the album-service program (management commands)
#   QUIB_TEST_SERVICE_USER / QUIB_TEST_SERVICE_PASSWORD   the test account
# The service is stopped and its data removed on exit, before the Wine
# environment goes down.

QUIB_TEST_SERVICE_BIN="$root/build/native/tools/album-service/album-service"
if [ ! -x "$QUIB_TEST_SERVICE_BIN" ]; then
  echo "10-album-service: $QUIB_TEST_SERVICE_BIN is missing (native build)" >&2
  false
fi
QUIB_TEST_SERVICE_DATA=$(mktemp -d /tmp/quib-album-service.XXXXXX)
QUIB_TEST_SERVICE_USER=tester
QUIB_TEST_SERVICE_PASSWORD=test-pass
QUIB_TEST_SERVICE_OPTIONS=(--password-iterations 1000 --login-limit 0)
"$QUIB_TEST_SERVICE_BIN" --data "$QUIB_TEST_SERVICE_DATA" "${QUIB_TEST_SERVICE_OPTIONS[@]}" \
  add-account "$QUIB_TEST_SERVICE_USER" "$QUIB_TEST_SERVICE_PASSWORD"

album_service_down() {
  if [ -n "${QUIB_TEST_SERVICE_PID:-}" ]; then
    kill "$QUIB_TEST_SERVICE_PID" 2>/dev/null || true
    wait "$QUIB_TEST_SERVICE_PID" 2>/dev/null || true
    QUIB_TEST_SERVICE_PID=""
  fi
  if [ -n "${QUIB_TEST_SERVICE_DATA:-}" ] && [ -z "${QUIB_KEEP_RUN_DIR:-}" ]; then
    rm -rf "${QUIB_TEST_SERVICE_DATA:?}"
  fi
}

# Keep whatever already runs on exit (the Wine environment's clean-up) after ours.
album_service_prev_trap() { eval "set -- $(trap -p EXIT)"; QUIB_ALBUM_SERVICE_PREV_TRAP=${3:-}; }
album_service_prev_trap
trap "album_service_down; ${QUIB_ALBUM_SERVICE_PREV_TRAP:-wine_env_down}" EXIT

"$QUIB_TEST_SERVICE_BIN" --data "$QUIB_TEST_SERVICE_DATA" --address 127.0.0.1 --port 0 \
  --port-file "$QUIB_TEST_SERVICE_DATA/port" --test-hooks "${QUIB_TEST_SERVICE_OPTIONS[@]}" \
  >"$QUIB_TEST_SERVICE_DATA/service.log" 2>&1 &
QUIB_TEST_SERVICE_PID=$!
for _ in $(seq 1 200); do
  [ -s "$QUIB_TEST_SERVICE_DATA/port" ] && break
  kill -0 "$QUIB_TEST_SERVICE_PID" 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$QUIB_TEST_SERVICE_DATA/port" ]; then
  echo "10-album-service: the service did not start:" >&2
  cat "$QUIB_TEST_SERVICE_DATA/service.log" >&2 || true
  false
fi
QUIB_TEST_SERVICE_PORT=$(cat "$QUIB_TEST_SERVICE_DATA/port")
QUIB_TEST_SERVICE_URL="http://127.0.0.1:$QUIB_TEST_SERVICE_PORT"
export QUIB_TEST_SERVICE_URL QUIB_TEST_SERVICE_PORT QUIB_TEST_SERVICE_DATA QUIB_TEST_SERVICE_BIN
export QUIB_TEST_SERVICE_USER QUIB_TEST_SERVICE_PASSWORD
echo "album service: $QUIB_TEST_SERVICE_URL (data $QUIB_TEST_SERVICE_DATA)"
