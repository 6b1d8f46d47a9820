# Sourced by scripts/test.sh: a second album service for the upload tests of
# the real program. The program's login address is fixed at build time, so
# this service listens exactly where the win64 build expects it
# (QUIB_SERVICE_URL of build/win64). A small controller lets a test under
# Wine stop the service hard (as a crash would) and start it again, through
# request files in the data folder:
#   stop-request   -> the service is killed (SIGKILL); "stopped" appears once
#                     it is gone (and its hold on the data folder with it)
#   start-request  -> the service is started again; "started" appears
# Exports:
#   QUIB_UPLOAD_SERVICE_URL    root URL the program talks to
#   QUIB_UPLOAD_SERVICE_DATA   data folder (database, media/, request files)
#   QUIB_UPLOAD_SERVICE_ERROR  set instead when the service could not start
# Everything is stopped and removed on exit.

upload_service_bin="$root/build/native/tools/album-service/album-service"
upload_service_url=$(sed -n 's/^QUIB_SERVICE_URL:STRING=//p' "$root/build/win64/CMakeCache.txt")
upload_service_port=$(printf '%s' "$upload_service_url" | sed -n 's#^http://127\.0\.0\.1:\([0-9]*\)/*$#\1#p')
if [ ! -x "$upload_service_bin" ] || [ -z "$upload_service_port" ]; then
  echo "20-upload-service: needs the native album service and a loopback QUIB_SERVICE_URL" \
       "(found '$upload_service_url'); the upload tests will be skipped" >&2
else
  QUIB_UPLOAD_SERVICE_DATA=$(mktemp -d /tmp/quib-upload-service.XXXXXX)

  upload_service_start() {
    rm -f "$QUIB_UPLOAD_SERVICE_DATA/port"
    # Cheap password hashes and no limit on wrong logins: the tests log in
    # often, also with wrong passwords. Requests are read at 20 MB/s, about
    # a fast home link: a large upload lasts long enough for the tests that
    # act while it is under way, however fast the program sends.
    "$upload_service_bin" --data "$QUIB_UPLOAD_SERVICE_DATA" --address 127.0.0.1 \
      --port "$upload_service_port" --port-file "$QUIB_UPLOAD_SERVICE_DATA/port" --test-hooks \
      --password-iterations 1000 --login-limit 0 --test-read-rate 20M \
      >>"$QUIB_UPLOAD_SERVICE_DATA/service.log" 2>&1 &
    echo $! >"$QUIB_UPLOAD_SERVICE_DATA/service.pid"
    local i
    for i in $(seq 1 100); do
      [ -s "$QUIB_UPLOAD_SERVICE_DATA/port" ] && return 0
      sleep 0.1
    done
    return 1
  }

  # The controller: answers the request files of the tests.
  upload_service_controller() {
    local d=$QUIB_UPLOAD_SERVICE_DATA
    while [ -d "$d" ]; do
      if [ -e "$d/stop-request" ]; then
        rm -f "$d/stop-request" "$d/started"
        local pid i state
        pid=$(cat "$d/service.pid")
        kill -9 "$pid" 2>/dev/null || true
        # The next start needs the folder free: wait (bounded) until the
        # process has ended (a zombie has let go of it already).
        for i in $(seq 1 100); do
          state=$(ps -o stat= -p "$pid" 2>/dev/null || true)
          case "$state" in "" | Z*) break ;; esac
          sleep 0.1
        done
        touch "$d/stopped"
      fi
      if [ -e "$d/start-request" ]; then
        rm -f "$d/start-request" "$d/stopped"
        upload_service_start && touch "$d/started"
      fi
      sleep 0.2
    done
  }

  upload_service_down() {
    if [ -n "${QUIB_UPLOAD_CONTROLLER_PID:-}" ]; then
      kill "$QUIB_UPLOAD_CONTROLLER_PID" 2>/dev/null || true
      wait "$QUIB_UPLOAD_CONTROLLER_PID" 2>/dev/null || true
      QUIB_UPLOAD_CONTROLLER_PID=""
    fi
    # The service may have been restarted by the controller: end it by pid.
    local pid
    pid=$(cat "${QUIB_UPLOAD_SERVICE_DATA:-/nonexistent}/service.pid" 2>/dev/null || true)
    if [ -n "$pid" ]; then
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
    if [ -n "${QUIB_UPLOAD_SERVICE_DATA:-}" ] && [ -z "${QUIB_KEEP_RUN_DIR:-}" ]; then
      rm -rf "${QUIB_UPLOAD_SERVICE_DATA:?}"
    fi
  }

  upload_service_prev_trap() { eval "set -- $(trap -p EXIT)"; QUIB_UPLOAD_PREV_TRAP=${3:-}; }
  upload_service_prev_trap
  trap "upload_service_down; ${QUIB_UPLOAD_PREV_TRAP:-wine_env_down}" EXIT

  if upload_service_start; then
    upload_service_controller &
    QUIB_UPLOAD_CONTROLLER_PID=$!
    export QUIB_UPLOAD_SERVICE_URL=$upload_service_url QUIB_UPLOAD_SERVICE_DATA
    echo "upload service: $QUIB_UPLOAD_SERVICE_URL (data $QUIB_UPLOAD_SERVICE_DATA)"
  else
    echo "20-upload-service: the service did not start on port $upload_service_port:" >&2
    cat "$QUIB_UPLOAD_SERVICE_DATA/service.log" >&2 || true
    # The upload tests report this instead of passing unseen.
    export QUIB_UPLOAD_SERVICE_ERROR="no album service on port $upload_service_port (busy?)"
  fi
fi
